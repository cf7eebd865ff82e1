#include "platform/dshow/PosPassThru.h"

#include "platform/com/ComPtr.h"

CPosPassThru::CPosPassThru(const char* name, LPUNKNOWN outer, HRESULT*, IPin* pin) : CUnknown(name, outer), m_pPin(pin) {}

HRESULT CPosPassThru::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CPosPassThru::GetPeerSeeking(IMediaSeeking** seeking) {
  *seeking = nullptr;
  reel::ComPtr<IPin> connected;
  if (FAILED(m_pPin->ConnectedTo(&connected)) || !connected) return E_NOTIMPL;
  if (FAILED(connected->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(seeking))) || !*seeking)
    return E_NOTIMPL;
  return S_OK;
}

#define REEL_PASS_THROUGH(call)                      \
  reel::ComPtr<IMediaSeeking> peer;                  \
  HRESULT found = GetPeerSeeking(&peer);             \
  if (FAILED(found)) return found;                   \
  return peer->call

HRESULT CPosPassThru::GetCapabilities(DWORD* capabilities) { REEL_PASS_THROUGH(GetCapabilities(capabilities)); }
HRESULT CPosPassThru::CheckCapabilities(DWORD* capabilities) { REEL_PASS_THROUGH(CheckCapabilities(capabilities)); }
HRESULT CPosPassThru::IsFormatSupported(const GUID* format) { REEL_PASS_THROUGH(IsFormatSupported(format)); }
HRESULT CPosPassThru::QueryPreferredFormat(GUID* format) { REEL_PASS_THROUGH(QueryPreferredFormat(format)); }
HRESULT CPosPassThru::GetTimeFormat(GUID* format) { REEL_PASS_THROUGH(GetTimeFormat(format)); }
HRESULT CPosPassThru::IsUsingTimeFormat(const GUID* format) { REEL_PASS_THROUGH(IsUsingTimeFormat(format)); }
HRESULT CPosPassThru::SetTimeFormat(const GUID* format) { REEL_PASS_THROUGH(SetTimeFormat(format)); }
HRESULT CPosPassThru::GetDuration(LONGLONG* duration) { REEL_PASS_THROUGH(GetDuration(duration)); }
HRESULT CPosPassThru::GetStopPosition(LONGLONG* stop) { REEL_PASS_THROUGH(GetStopPosition(stop)); }
HRESULT CPosPassThru::GetCurrentPosition(LONGLONG* current) { REEL_PASS_THROUGH(GetCurrentPosition(current)); }
HRESULT CPosPassThru::ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                        const GUID* sourceFormat) {
  REEL_PASS_THROUGH(ConvertTimeFormat(target, targetFormat, source, sourceFormat));
}
HRESULT CPosPassThru::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) {
  REEL_PASS_THROUGH(SetPositions(current, currentFlags, stop, stopFlags));
}
HRESULT CPosPassThru::GetPositions(LONGLONG* current, LONGLONG* stop) { REEL_PASS_THROUGH(GetPositions(current, stop)); }
HRESULT CPosPassThru::GetAvailable(LONGLONG* earliest, LONGLONG* latest) {
  REEL_PASS_THROUGH(GetAvailable(earliest, latest));
}
HRESULT CPosPassThru::SetRate(double rate) { REEL_PASS_THROUGH(SetRate(rate)); }
HRESULT CPosPassThru::GetRate(double* rate) { REEL_PASS_THROUGH(GetRate(rate)); }
HRESULT CPosPassThru::GetPreroll(LONGLONG* preroll) { REEL_PASS_THROUGH(GetPreroll(preroll)); }

#undef REEL_PASS_THROUGH

CRendererPosPassThru::CRendererPosPassThru(const char* name, LPUNKNOWN outer, HRESULT* result, IPin* pin)
    : CPosPassThru(name, outer, result, pin) {}

void CRendererPosPassThru::RegisterMediaTime(REFERENCE_TIME start, REFERENCE_TIME segmentStart) {
  std::lock_guard<std::mutex> hold(m_lock);
  m_bValid = true;
  m_bAtEnd = false;
  m_position = start + segmentStart;
}

void CRendererPosPassThru::ResetMediaTime() {
  std::lock_guard<std::mutex> hold(m_lock);
  m_bValid = false;
  m_bAtEnd = false;
}

void CRendererPosPassThru::EndOfStreamReached() {
  std::lock_guard<std::mutex> hold(m_lock);
  m_bAtEnd = true;
}

HRESULT CRendererPosPassThru::GetCurrentPosition(LONGLONG* current) {
  if (!current) return E_POINTER;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_bValid && !m_bAtEnd) {
      *current = m_position;
      return S_OK;
    }
  }
  bool atEnd;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    atEnd = m_bAtEnd;
  }
  reel::ComPtr<IMediaSeeking> peer;
  if (FAILED(GetPeerSeeking(&peer))) return E_NOTIMPL;
  // At the end the position is the stop position; before the first sample
  // it is where the stream will start.
  if (atEnd) return peer->GetStopPosition(current);
  HRESULT result = peer->GetCurrentPosition(current);
  if (SUCCEEDED(result)) return result;
  LONGLONG stop = 0;
  return peer->GetPositions(current, &stop);
}
