// Small filters written on the base classes, used by the runtime's tests the
// way later filters use the bases: a frame source on CSource/CSourceStream
// (seekable, one worker thread), an in-place transform that stamps each
// frame, a sink renderer that records what it receives, and a push source
// whose samples a test delivers by hand.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/dshow/BaseRenderer.h"
#include "platform/dshow/MediaTimeSeeking.h"
#include "platform/dshow/SourceFilter.h"
#include "platform/dshow/TransformFilter.h"

namespace reel::test {

REEL_DEFINE_GUID(CLSID_TestFrameSource, 0x5E1F0001, 0x7A11, 0x4C0B, 0x9E, 0x21, 0x10, 0x00, 0x00, 0x00, 0x00, 0x01);
REEL_DEFINE_GUID(CLSID_TestStampTransform, 0x5E1F0002, 0x7A11, 0x4C0B, 0x9E, 0x21, 0x10, 0x00, 0x00, 0x00, 0x00, 0x02);
REEL_DEFINE_GUID(CLSID_TestSink, 0x5E1F0003, 0x7A11, 0x4C0B, 0x9E, 0x21, 0x10, 0x00, 0x00, 0x00, 0x00, 0x03);
REEL_DEFINE_GUID(CLSID_TestPushSource, 0x5E1F0004, 0x7A11, 0x4C0B, 0x9E, 0x21, 0x10, 0x00, 0x00, 0x00, 0x00, 0x04);

// A VIDEOINFOHEADER type of an uncompressed bottom-up RGB picture.
CMediaType MakeRgbType(const GUID& subtype, int width, int height, REFERENCE_TIME frameTime);

// ---------------------------------------------------------------------------
// Frame source: frameCount RGB24 frames of width x height at frameTime;
// each frame's first 4 bytes hold its frame number. Seeking (IMediaSeeking on
// the pin, and on the filter) restarts delivery at the frame of the new
// position, with a new segment, as a file source does.

class FrameSourceFilter;

class FramePin : public CSourceStream, public CMediaTimeSeeking {
 public:
  FramePin(FrameSourceFilter* filter, HRESULT* result);

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  HRESULT GetCapabilities(DWORD* capabilities) override;
  HRESULT CheckCapabilities(DWORD* capabilities) override;
  HRESULT GetDuration(LONGLONG* duration) override;
  HRESULT GetStopPosition(LONGLONG* stop) override;
  HRESULT GetCurrentPosition(LONGLONG* current) override;
  HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) override;
  HRESULT GetPositions(LONGLONG* current, LONGLONG* stop) override;
  HRESULT GetAvailable(LONGLONG* earliest, LONGLONG* latest) override;
  HRESULT SetRate(double rate) override;
  HRESULT GetRate(double* rate) override;
  HRESULT GetPreroll(LONGLONG* preroll) override;

  int ThreadStarts() const { return threadStarts_; }

 protected:
  HRESULT FillBuffer(IMediaSample* sample) override;
  HRESULT OnThreadCreate() override;
  HRESULT OnThreadStartPlay() override;
  HRESULT GetMediaType(int position, CMediaType* mediaType) override;
  HRESULT CheckMediaType(const CMediaType* mediaType) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;

 private:
  void Restart();

  FrameSourceFilter* source_;
  CCritSec streamLock_;
  int nextFrame_ = 0;
  int startFrame_ = 0;
  int stopFrame_;
  bool discontinuity_ = false;
  std::atomic<int> threadStarts_{0};
};

class FrameSourceFilter : public CSource {
 public:
  FrameSourceFilter(int frameCount, int width = 32, int height = 16, REFERENCE_TIME frameTime = UNITS / 25,
                    bool offerRgb32First = false);
  ~FrameSourceFilter() override;
  ULONG GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_SOURCE; }

  const int frameCount;
  const int width;
  const int height;
  const REFERENCE_TIME frameTime;
  const bool offerRgb32First;
  FramePin* Pin() { return pin_; }

 private:
  FramePin* pin_;
};

// ---------------------------------------------------------------------------
// Stamp transform: writes 0x5A into byte 4 of every frame it passes.

class StampTransform : public CTransInPlaceFilter {
 public:
  StampTransform();
  HRESULT CheckInputType(const CMediaType* mediaType) override;
  HRESULT Transform(IMediaSample* sample) override;
  HRESULT BeginFlush() override;

  std::atomic<int> transformed{0};
  std::atomic<int> flushes{0};
};

// ---------------------------------------------------------------------------
// Sink renderer recording every sample it renders.

struct ReceivedSample {
  REFERENCE_TIME start = -1;
  REFERENCE_TIME stop = -1;
  bool discontinuity = false;
  bool syncPoint = false;
  std::vector<BYTE> data;
  // The frame number in the first 4 bytes (test frames), or -1.
  int FrameNumber() const;
};

class SinkFilter : public CBaseRenderer {
 public:
  // accepts: the subtypes taken (empty: any video or audio type).
  explicit SinkFilter(std::vector<GUID> accepts = {}, LPCWSTR pinName = u"In");
  HRESULT CheckMediaType(const CMediaType* mediaType) override;
  HRESULT DoRenderSample(IMediaSample* sample) override;
  HRESULT EndOfStream() override;
  HRESULT BeginFlush() override;
  HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

  std::vector<ReceivedSample> Samples();
  void ClearSamples();
  // Waits until count samples were rendered or the end of stream came.
  bool WaitForSamples(std::size_t count, int milliseconds);
  bool WaitForEndOfStream(int milliseconds);
  int EndOfStreams();
  int Flushes();
  std::vector<REFERENCE_TIME> SegmentStarts();
  CMediaType ConnectedType() { return m_pInputPin->CurrentMediaType(); }

 private:
  std::vector<GUID> accepts_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<ReceivedSample> samples_;
  std::vector<REFERENCE_TIME> segments_;
  int endOfStreams_ = 0;
  int flushes_ = 0;
};

// ---------------------------------------------------------------------------
// Push source: one output pin offering one type; the test pushes samples.

class PushSourceFilter;

class PushPin : public CBaseOutputPin {
 public:
  PushPin(PushSourceFilter* filter, HRESULT* result, const CMediaType& type);
  HRESULT CheckMediaType(const CMediaType* mediaType) override;
  HRESULT GetMediaType(int position, CMediaType* mediaType) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;

 private:
  CMediaType type_;
};

class PushSourceFilter : public CBaseFilter {
 public:
  explicit PushSourceFilter(const CMediaType& type);
  ~PushSourceFilter() override;
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int index) override { return index == 0 ? pin_ : nullptr; }

  // Delivers one sample carrying bytes with the given times (negative: none).
  HRESULT Push(const std::vector<BYTE>& bytes, REFERENCE_TIME start, REFERENCE_TIME stop, bool discontinuity = false);
  PushPin* Pin() { return pin_; }
  CCritSec* pLock() { return &lock_; }

 private:
  CCritSec lock_;
  PushPin* pin_;
};

// Puts filters into a state, downstream first as the graph does (pass them
// in upstream-to-downstream order).
HRESULT SetStates(const std::vector<IBaseFilter*>& filters, FILTER_STATE state, REFERENCE_TIME start = 0);

// Breaks every connection of the filters (connected pins reference each
// other's filters, so filters left connected outside a graph never die).
void DisconnectAll(const std::vector<IBaseFilter*>& filters);

}  // namespace reel::test
