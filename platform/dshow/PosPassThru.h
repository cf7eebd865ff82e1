// IMediaSeeking of a filter that is not a source: every call goes to the
// seeking interface of the output pin connected to the filter's input pin.
// CRendererPosPassThru also remembers the time of the last sample rendered,
// which answers GetCurrentPosition.
#pragma once

#include <mutex>

#include "platform/com/ComObject.h"
#include "platform/dshow/DShowInterfaces.h"

class CPosPassThru : public CUnknown, public IMediaSeeking {
 public:
  // pin: the filter's input pin (not referenced: it outlives this object).
  CPosPassThru(const char* name, LPUNKNOWN outer, HRESULT* result, IPin* pin);

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  HRESULT GetCapabilities(DWORD* capabilities) override;
  HRESULT CheckCapabilities(DWORD* capabilities) override;
  HRESULT IsFormatSupported(const GUID* format) override;
  HRESULT QueryPreferredFormat(GUID* format) override;
  HRESULT GetTimeFormat(GUID* format) override;
  HRESULT IsUsingTimeFormat(const GUID* format) override;
  HRESULT SetTimeFormat(const GUID* format) override;
  HRESULT GetDuration(LONGLONG* duration) override;
  HRESULT GetStopPosition(LONGLONG* stop) override;
  HRESULT GetCurrentPosition(LONGLONG* current) override;
  HRESULT ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                            const GUID* sourceFormat) override;
  HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) override;
  HRESULT GetPositions(LONGLONG* current, LONGLONG* stop) override;
  HRESULT GetAvailable(LONGLONG* earliest, LONGLONG* latest) override;
  HRESULT SetRate(double rate) override;
  HRESULT GetRate(double* rate) override;
  HRESULT GetPreroll(LONGLONG* preroll) override;

 protected:
  HRESULT GetPeerSeeking(IMediaSeeking** seeking);
  IPin* m_pPin;
};

class CRendererPosPassThru : public CPosPassThru {
 public:
  CRendererPosPassThru(const char* name, LPUNKNOWN outer, HRESULT* result, IPin* pin);
  // The stream times of a sample just rendered, and the segment start they
  // are relative to.
  void RegisterMediaTime(REFERENCE_TIME start, REFERENCE_TIME segmentStart);
  void ResetMediaTime();
  // Past the last sample: the position is the segment's stop.
  void EndOfStreamReached();
  HRESULT GetCurrentPosition(LONGLONG* current) override;

 private:
  std::mutex m_lock;
  bool m_bValid = false;
  bool m_bAtEnd = false;
  REFERENCE_TIME m_position = 0;
};
