#include "platform/dshow/BaseRenderer.h"

#include <chrono>
#include <new>

#include "platform/dshow/SystemClock.h"

// ---------------------------------------------------------------------------
// CRendererInputPin

CRendererInputPin::CRendererInputPin(CBaseRenderer* renderer, HRESULT* result, LPCWSTR pinName)
    : CBaseInputPin("renderer input", renderer, renderer->InterfaceLock(), result, pinName), m_pRenderer(renderer) {}

HRESULT CRendererInputPin::CheckMediaType(const CMediaType* mediaType) { return m_pRenderer->CheckMediaType(mediaType); }

HRESULT CRendererInputPin::SetMediaType(const CMediaType* mediaType) {
  HRESULT result = CBaseInputPin::SetMediaType(mediaType);
  if (FAILED(result)) return result;
  return m_pRenderer->SetMediaType(mediaType);
}

HRESULT CRendererInputPin::BreakConnect() {
  m_pRenderer->BreakConnect();
  return CBaseInputPin::BreakConnect();
}

HRESULT CRendererInputPin::CompleteConnect(IPin* receivePin) {
  HRESULT result = m_pRenderer->CompleteConnect(receivePin);
  if (FAILED(result)) return result;
  return CBaseInputPin::CompleteConnect(receivePin);
}

HRESULT CRendererInputPin::Receive(IMediaSample* sample) {
  HRESULT result = CBaseInputPin::Receive(sample);
  if (result != S_OK) return result;
  return m_pRenderer->Receive(sample);
}

HRESULT CRendererInputPin::EndOfStream() {
  if (IsStopped()) return VFW_E_WRONG_STATE;
  if (IsFlushing()) return S_FALSE;
  return m_pRenderer->EndOfStream();
}

HRESULT CRendererInputPin::BeginFlush() {
  CBaseInputPin::BeginFlush();
  return m_pRenderer->BeginFlush();
}

HRESULT CRendererInputPin::EndFlush() {
  HRESULT result = m_pRenderer->EndFlush();
  CBaseInputPin::EndFlush();
  return result;
}

HRESULT CRendererInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  CBasePin::NewSegment(start, stop, rate);
  return m_pRenderer->NewSegment(start, stop, rate);
}

HRESULT CRendererInputPin::Inactive() { return CBaseInputPin::Inactive(); }

// ---------------------------------------------------------------------------
// CBaseRenderer

CBaseRenderer::CBaseRenderer(REFCLSID clsid, const char* name, LPUNKNOWN outer, HRESULT* result, LPCWSTR pinName)
    : CBaseFilter(name, outer, &m_InterfaceLock, clsid, result) {
  m_pInputPin = new (std::nothrow) CRendererInputPin(this, result, pinName);
  if (m_pInputPin)
    m_pPosition = new (std::nothrow) CRendererPosPassThru("renderer seeking", static_cast<IBaseFilter*>(this), result,
                                                          m_pInputPin);
  if (result && (!m_pInputPin || !m_pPosition)) *result = E_OUTOFMEMORY;
}

CBaseRenderer::~CBaseRenderer() {
  delete m_pPosition;
  delete m_pInputPin;
}

HRESULT CBaseRenderer::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IMediaSeeking && m_pPosition) return m_pPosition->NonDelegatingQueryInterface(riid, ppv);
  return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

CBasePin* CBaseRenderer::GetPin(int index) { return index == 0 ? m_pInputPin : nullptr; }

HRESULT CBaseRenderer::Stop() {
  CAutoLock hold(&m_InterfaceLock);
  if (m_State == State_Stopped) return S_OK;
  {
    std::lock_guard<std::mutex> renderer(m_rendererLock);
    m_streamState = State_Stopped;
    m_bEOS = false;
    m_bEOSDelivered = false;
    m_bHaveSample = false;
  }
  m_stateChanged.notify_all();
  HRESULT result = CBaseFilter::Stop();
  if (m_bStreaming) {
    OnStopStreaming();
    m_bStreaming = false;
  }
  return result;
}

HRESULT CBaseRenderer::Pause() {
  CAutoLock hold(&m_InterfaceLock);
  FILTER_STATE before = m_State;
  if (before == State_Paused) return S_OK;
  if (before == State_Stopped) {
    std::lock_guard<std::mutex> renderer(m_rendererLock);
    m_bHaveSample = false;
    m_bEOS = false;
    m_bEOSDelivered = false;
    m_pPosition->ResetMediaTime();
  }
  HRESULT result = CBaseFilter::Pause();
  if (FAILED(result)) return result;
  if (before == State_Stopped && m_pInputPin->IsConnected()) {
    result = OnStartStreaming();
    if (FAILED(result)) return result;
    m_bStreaming = true;
  }
  {
    std::lock_guard<std::mutex> renderer(m_rendererLock);
    m_streamState = State_Paused;
  }
  m_stateChanged.notify_all();
  return S_OK;
}

HRESULT CBaseRenderer::Run(REFERENCE_TIME start) {
  CAutoLock hold(&m_InterfaceLock);
  HRESULT result = CBaseFilter::Run(start);
  if (FAILED(result)) return result;
  {
    std::lock_guard<std::mutex> renderer(m_rendererLock);
    m_streamState = State_Running;
    m_runStart = start;
    // An end of stream that arrived while paused completes now.
    if (m_bEOS && !m_bEOSDelivered) SendEndOfStream();
  }
  m_stateChanged.notify_all();
  // A renderer with nothing connected is complete at once.
  if (!m_pInputPin->IsConnected()) {
    std::lock_guard<std::mutex> renderer(m_rendererLock);
    if (!m_bEOSDelivered) SendEndOfStream();
  }
  return S_OK;
}

HRESULT CBaseRenderer::GetState(DWORD millisecondsTimeout, FILTER_STATE* state) {
  if (!state) return E_POINTER;
  FILTER_STATE current;
  {
    CAutoLock hold(&m_InterfaceLock);
    current = m_State;
  }
  *state = current;
  if (current != State_Paused || !m_pInputPin->IsConnected()) return S_OK;
  std::unique_lock<std::mutex> renderer(m_rendererLock);
  auto ready = [this] { return m_bHaveSample || m_bEOS || m_streamState != State_Paused; };
  if (millisecondsTimeout == INFINITE) m_stateChanged.wait(renderer, ready);
  else m_stateChanged.wait_for(renderer, std::chrono::milliseconds(millisecondsTimeout), ready);
  return ready() ? S_OK : VFW_S_STATE_INTERMEDIATE;
}

CBaseRenderer::Timing CBaseRenderer::WaitForRenderTime(IMediaSample* sample, std::unique_lock<std::mutex>& hold,
                                                       REFERENCE_TIME* lateness) {
  *lateness = 0;
  for (;;) {
    // Paused: hold the sample until running, stopped or flushed.
    m_stateChanged.wait(hold, [this] { return m_streamState != State_Paused || m_bFlushing; });
    if (m_bFlushing || m_streamState == State_Stopped) return Timing::Abort;
    IReferenceClock* clock = m_pClock;
    REFERENCE_TIME start = 0, end = 0;
    if (!clock || FAILED(sample->GetTime(&start, &end))) return Timing::Render;
    REFERENCE_TIME now = 0;
    clock->GetTime(&now);
    REFERENCE_TIME due = m_runStart + start;
    if (now >= due || PacesItself()) {
      *lateness = now - due;
      return *lateness > LatenessLimit(start, end) ? Timing::Drop : Timing::Render;
    }
    m_stateChanged.wait_for(hold, std::chrono::nanoseconds((due - now) * 100));
    if (m_bFlushing || m_streamState == State_Stopped) return Timing::Abort;
    // Still running (not paused again meanwhile): due now, or woken early by
    // a state change that left it running: check again.
  }
}

HRESULT CBaseRenderer::Receive(IMediaSample* sample) {
  std::unique_lock<std::mutex> hold(m_rendererLock);
  if (m_bEOS) return VFW_E_SAMPLE_REJECTED_EOS;
  if (m_bFlushing) return S_FALSE;
  if (m_streamState == State_Stopped) return VFW_E_WRONG_STATE;
  if (!m_bHaveSample) {
    m_bHaveSample = true;
    m_stateChanged.notify_all();
    hold.unlock();
    OnReceiveFirstSample(sample);
    hold.lock();
  }
  REFERENCE_TIME lateness = 0;
  Timing timing = WaitForRenderTime(sample, hold, &lateness);
  if (timing == Timing::Abort) return m_bFlushing ? S_FALSE : VFW_E_WRONG_STATE;
  REFERENCE_TIME segmentStart = m_segmentStart;
  hold.unlock();
  HRESULT result = S_OK;
  if (timing == Timing::Drop) {
    OnDropSample(sample, lateness);
  } else {
    OnRenderSample(sample, lateness);
    result = DoRenderSample(sample);
  }
  REFERENCE_TIME start = 0, end = 0;
  if (SUCCEEDED(sample->GetTime(&start, &end))) m_pPosition->RegisterMediaTime(start, segmentStart);
  return SUCCEEDED(result) ? S_OK : result;
}

void CBaseRenderer::SendEndOfStream() {
  if (m_bEOSDelivered) return;
  m_bEOSDelivered = true;
  m_pPosition->EndOfStreamReached();
  NotifyEvent(EC_COMPLETE, S_OK, 0);
}

HRESULT CBaseRenderer::EndOfStream() {
  std::lock_guard<std::mutex> hold(m_rendererLock);
  if (m_streamState == State_Stopped) return S_OK;
  m_bEOS = true;
  m_stateChanged.notify_all();
  if (m_streamState == State_Running) SendEndOfStream();
  return S_OK;
}

BOOL CBaseRenderer::IsEndOfStream() {
  std::lock_guard<std::mutex> hold(m_rendererLock);
  return m_bEOS;
}

HRESULT CBaseRenderer::BeginFlush() {
  {
    std::lock_guard<std::mutex> hold(m_rendererLock);
    m_bFlushing = true;
  }
  m_stateChanged.notify_all();
  return S_OK;
}

HRESULT CBaseRenderer::EndFlush() {
  {
    std::lock_guard<std::mutex> hold(m_rendererLock);
    m_bFlushing = false;
    m_bEOS = false;
    m_bEOSDelivered = false;
    m_bHaveSample = false;
    m_pPosition->ResetMediaTime();
  }
  OnEndFlush();
  m_stateChanged.notify_all();
  return S_OK;
}

HRESULT CBaseRenderer::NewSegment(REFERENCE_TIME start, REFERENCE_TIME, double) {
  std::lock_guard<std::mutex> hold(m_rendererLock);
  m_segmentStart = start;
  return S_OK;
}
