// The renderer base: one input pin, samples presented at their time against
// the graph's clock (at once without a clock; a renderer may drop samples
// that come too late, or pace itself), a paused state that completes
// when the first sample or the end of stream arrives, and EC_COMPLETE once the
// end of stream is reached while running. Seeking passes upstream, and the
// position is the time of the last sample rendered.
#pragma once

#include <condition_variable>
#include <mutex>

#include "platform/dshow/BaseFilter.h"
#include "platform/dshow/PosPassThru.h"

class CBaseRenderer;

class CRendererInputPin : public CBaseInputPin {
 public:
  CRendererInputPin(CBaseRenderer* renderer, HRESULT* result, LPCWSTR pinName);
  HRESULT CheckMediaType(const CMediaType* mediaType) override;
  HRESULT SetMediaType(const CMediaType* mediaType) override;
  HRESULT BreakConnect() override;
  HRESULT CompleteConnect(IPin* receivePin) override;
  HRESULT Receive(IMediaSample* sample) override;
  HRESULT EndOfStream() override;
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;
  HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
  HRESULT Inactive() override;

 private:
  CBaseRenderer* m_pRenderer;
};

class CBaseRenderer : public CBaseFilter {
 public:
  CBaseRenderer(REFCLSID clsid, const char* name, LPUNKNOWN outer, HRESULT* result, LPCWSTR pinName = u"In");
  ~CBaseRenderer() override;

  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int index) override;
  ULONG GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

  HRESULT Stop() override;
  HRESULT Pause() override;
  HRESULT Run(REFERENCE_TIME start) override;
  // Paused without a sample yet: VFW_S_STATE_INTERMEDIATE after the time-out.
  HRESULT GetState(DWORD millisecondsTimeout, FILTER_STATE* state) override;

  // What a renderer provides.
  virtual HRESULT CheckMediaType(const CMediaType* mediaType) = 0;
  virtual HRESULT DoRenderSample(IMediaSample* sample) = 0;
  virtual HRESULT SetMediaType(const CMediaType*) { return S_OK; }
  virtual HRESULT BreakConnect() { return S_OK; }
  virtual HRESULT CompleteConnect(IPin*) { return S_OK; }
  virtual void OnReceiveFirstSample(IMediaSample*) {}
  virtual HRESULT OnStartStreaming() { return S_OK; }
  virtual HRESULT OnStopStreaming() { return S_OK; }
  virtual void OnEndFlush() {}
  // How late (in 100 ns) a sample may be presented before it is dropped
  // instead; the default never drops. Called with the sample's times.
  virtual REFERENCE_TIME LatenessLimit(REFERENCE_TIME /*start*/, REFERENCE_TIME /*end*/) { return MAX_TIME; }
  // A sample dropped for coming too late (DoRenderSample is not called).
  virtual void OnDropSample(IMediaSample*, REFERENCE_TIME /*lateness*/) {}
  // A sample about to be rendered with its lateness against the clock (0
  // without a clock, negative when early: a renderer that paces itself).
  virtual void OnRenderSample(IMediaSample*, REFERENCE_TIME /*lateness*/) {}
  // True while the renderer paces the stream itself (an audio renderer
  // whose device consumes the samples): samples are then handed over as
  // soon as the filter runs, without waiting for the clock.
  virtual bool PacesItself() { return false; }

  // Streaming entry points (from the input pin).
  virtual HRESULT Receive(IMediaSample* sample);
  virtual HRESULT EndOfStream();
  virtual HRESULT BeginFlush();
  virtual HRESULT EndFlush();
  virtual HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

  BOOL IsEndOfStream();
  CRendererInputPin* InputPin() { return m_pInputPin; }
  CCritSec* InterfaceLock() { return &m_InterfaceLock; }

 protected:
  enum class Timing { Render, Drop, Abort };
  // Waits until the sample is due. Abort: the wait was broken off by a state
  // change or a flush; Drop: it was already too late (*lateness says by how
  // much).
  Timing WaitForRenderTime(IMediaSample* sample, std::unique_lock<std::mutex>& hold, REFERENCE_TIME* lateness);
  void SendEndOfStream();  // under m_rendererLock

  CCritSec m_InterfaceLock;
  std::mutex m_rendererLock;
  std::condition_variable m_stateChanged;
  CRendererInputPin* m_pInputPin = nullptr;
  CRendererPosPassThru* m_pPosition = nullptr;
  bool m_bHaveSample = false;     // a sample arrived since pausing or flushing
  bool m_bEOS = false;            // end of stream received
  bool m_bEOSDelivered = false;   // EC_COMPLETE sent
  bool m_bFlushing = false;
  bool m_bStreaming = false;
  FILTER_STATE m_streamState = State_Stopped;  // m_State as the streaming thread sees it
  REFERENCE_TIME m_segmentStart = 0;
  REFERENCE_TIME m_runStart = 0;
};
