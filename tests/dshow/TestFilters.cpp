#include "tests/dshow/TestFilters.h"

#include <algorithm>
#include <chrono>

namespace reel::test {

CMediaType MakeRgbType(const GUID& subtype, int width, int height, REFERENCE_TIME frameTime) {
  CMediaType type(&MEDIATYPE_Video);
  type.SetSubtype(&subtype);
  type.SetFormatType(&FORMAT_VideoInfo);
  auto* info = reinterpret_cast<VIDEOINFOHEADER*>(type.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
  WORD bits = subtype == MEDIASUBTYPE_RGB32 ? 32 : subtype == MEDIASUBTYPE_RGB24 ? 24 : 16;
  info->AvgTimePerFrame = frameTime;
  info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info->bmiHeader.biWidth = width;
  info->bmiHeader.biHeight = height;
  info->bmiHeader.biPlanes = 1;
  info->bmiHeader.biBitCount = bits;
  info->bmiHeader.biCompression = BI_RGB;
  info->bmiHeader.biSizeImage = DibSize(info->bmiHeader);
  type.SetSampleSize(info->bmiHeader.biSizeImage);
  type.SetTemporalCompression(FALSE);
  return type;
}

// ---------------------------------------------------------------------------
// FramePin

FramePin::FramePin(FrameSourceFilter* filter, HRESULT* result)
    : CSourceStream("frame pin", result, filter, u"Out"), source_(filter), stopFrame_(filter->frameCount) {}

HRESULT FramePin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
  return CSourceStream::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT FramePin::GetMediaType(int position, CMediaType* mediaType) {
  if (position < 0) return E_INVALIDARG;
  const GUID* order[2] = {&MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_RGB32};
  if (source_->offerRgb32First) std::swap(order[0], order[1]);
  if (position > 1) return VFW_S_NO_MORE_ITEMS;
  *mediaType = MakeRgbType(*order[position], source_->width, source_->height, source_->frameTime);
  return S_OK;
}

HRESULT FramePin::CheckMediaType(const CMediaType* mediaType) {
  for (int position = 0; position < 2; ++position) {
    CMediaType offered;
    GetMediaType(position, &offered);
    if (offered == *mediaType) return S_OK;
  }
  return E_FAIL;
}

HRESULT FramePin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
  request->cBuffers = std::max<LONG>(request->cBuffers, 2);
  request->cbBuffer = std::max<LONG>(request->cbBuffer, static_cast<LONG>(m_mt.GetSampleSize()));
  ALLOCATOR_PROPERTIES actual{};
  HRESULT result = allocator->SetProperties(request, &actual);
  if (FAILED(result)) return result;
  return actual.cbBuffer < request->cbBuffer ? E_FAIL : S_OK;
}

HRESULT FramePin::OnThreadCreate() {
  ++threadStarts_;
  return S_OK;
}

HRESULT FramePin::OnThreadStartPlay() {
  int start;
  int stop;
  {
    CAutoLock hold(&streamLock_);
    nextFrame_ = startFrame_;
    discontinuity_ = true;
    start = startFrame_;
    stop = stopFrame_;
  }
  return DeliverNewSegment(start * source_->frameTime, stop * source_->frameTime, 1.0);
}

HRESULT FramePin::FillBuffer(IMediaSample* sample) {
  CAutoLock hold(&streamLock_);
  if (nextFrame_ >= stopFrame_) return S_FALSE;
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  LONG size = static_cast<LONG>(m_mt.GetSampleSize());
  if (sample->GetSize() < size) return E_FAIL;
  std::memset(data, nextFrame_ & 0xFF, static_cast<std::size_t>(size));
  std::memcpy(data, &nextFrame_, sizeof nextFrame_);
  sample->SetActualDataLength(size);
  // Times are relative to the segment start, as DirectShow stamps them.
  REFERENCE_TIME start = (nextFrame_ - startFrame_) * source_->frameTime;
  REFERENCE_TIME stop = start + source_->frameTime;
  sample->SetTime(&start, &stop);
  sample->SetSyncPoint(TRUE);
  sample->SetDiscontinuity(discontinuity_);
  discontinuity_ = false;
  ++nextFrame_;
  return S_OK;
}

void FramePin::Restart() {
  if (!ThreadExists()) return;
  DeliverBeginFlush();
  Stop();
  DeliverEndFlush();
  Run();
}

HRESULT FramePin::GetCapabilities(DWORD* capabilities) {
  if (!capabilities) return E_POINTER;
  *capabilities = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards | AM_SEEKING_CanSeekBackwards |
                  AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetDuration | AM_SEEKING_CanGetCurrentPos;
  return S_OK;
}
HRESULT FramePin::CheckCapabilities(DWORD* capabilities) {
  if (!capabilities) return E_POINTER;
  DWORD mine = 0;
  GetCapabilities(&mine);
  return (*capabilities & ~mine) ? S_FALSE : S_OK;
}
HRESULT FramePin::GetDuration(LONGLONG* duration) {
  if (!duration) return E_POINTER;
  *duration = source_->frameCount * source_->frameTime;
  return S_OK;
}
HRESULT FramePin::GetStopPosition(LONGLONG* stop) {
  if (!stop) return E_POINTER;
  CAutoLock hold(&streamLock_);
  *stop = stopFrame_ * source_->frameTime;
  return S_OK;
}
HRESULT FramePin::GetCurrentPosition(LONGLONG* current) {
  if (!current) return E_POINTER;
  CAutoLock hold(&streamLock_);
  *current = nextFrame_ * source_->frameTime;
  return S_OK;
}
HRESULT FramePin::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) {
  DWORD currentPositioning = currentFlags & AM_SEEKING_PositioningBitsMask;
  DWORD stopPositioning = stopFlags & AM_SEEKING_PositioningBitsMask;
  if ((currentPositioning && !current) || (stopPositioning && !stop)) return E_POINTER;
  {
    CAutoLock hold(&streamLock_);
    auto frameOf = [this](LONGLONG time) {
      LONGLONG frame = time / source_->frameTime;
      return static_cast<int>(std::clamp<LONGLONG>(frame, 0, source_->frameCount));
    };
    if (currentPositioning == AM_SEEKING_AbsolutePositioning) startFrame_ = frameOf(*current);
    else if (currentPositioning == AM_SEEKING_RelativePositioning)
      startFrame_ = frameOf(startFrame_ * source_->frameTime + *current);
    if (stopPositioning == AM_SEEKING_AbsolutePositioning) stopFrame_ = frameOf(*stop);
    else if (stopPositioning == AM_SEEKING_RelativePositioning)
      stopFrame_ = frameOf(stopFrame_ * source_->frameTime + *stop);
    nextFrame_ = startFrame_;
  }
  if (currentPositioning) Restart();
  return S_OK;
}
HRESULT FramePin::GetPositions(LONGLONG* current, LONGLONG* stop) {
  if (current) GetCurrentPosition(current);
  if (stop) GetStopPosition(stop);
  return S_OK;
}
HRESULT FramePin::GetAvailable(LONGLONG* earliest, LONGLONG* latest) {
  if (earliest) *earliest = 0;
  if (latest) GetDuration(latest);
  return S_OK;
}
HRESULT FramePin::SetRate(double rate) { return rate == 1.0 ? S_OK : E_INVALIDARG; }
HRESULT FramePin::GetRate(double* rate) {
  if (!rate) return E_POINTER;
  *rate = 1.0;
  return S_OK;
}
HRESULT FramePin::GetPreroll(LONGLONG* preroll) {
  if (!preroll) return E_POINTER;
  *preroll = 0;
  return S_OK;
}

FrameSourceFilter::FrameSourceFilter(int frameCount, int width, int height, REFERENCE_TIME frameTime,
                                     bool offerRgb32First)
    : CSource("frame source", nullptr, CLSID_TestFrameSource),
      frameCount(frameCount),
      width(width),
      height(height),
      frameTime(frameTime),
      offerRgb32First(offerRgb32First) {
  HRESULT result = S_OK;
  pin_ = new FramePin(this, &result);
}

FrameSourceFilter::~FrameSourceFilter() = default;  // CSource deletes the pin

// ---------------------------------------------------------------------------
// StampTransform

StampTransform::StampTransform() : CTransInPlaceFilter("stamp transform", nullptr, CLSID_TestStampTransform) {}

HRESULT StampTransform::CheckInputType(const CMediaType* mediaType) {
  if (mediaType->majortype != MEDIATYPE_Video) return VFW_E_TYPE_NOT_ACCEPTED;
  if (mediaType->subtype != MEDIASUBTYPE_RGB24 && mediaType->subtype != MEDIASUBTYPE_RGB32)
    return VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

HRESULT StampTransform::Transform(IMediaSample* sample) {
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  if (sample->GetActualDataLength() > 4) data[4] = 0x5A;
  ++transformed;
  return S_OK;
}

HRESULT StampTransform::BeginFlush() {
  ++flushes;
  return CTransInPlaceFilter::BeginFlush();
}

// ---------------------------------------------------------------------------
// SinkFilter

int ReceivedSample::FrameNumber() const {
  if (data.size() < 4) return -1;
  int number;
  std::memcpy(&number, data.data(), sizeof number);
  return number;
}

SinkFilter::SinkFilter(std::vector<GUID> accepts, LPCWSTR pinName)
    : CBaseRenderer(CLSID_TestSink, "sink", nullptr, nullptr, pinName), accepts_(std::move(accepts)) {}

HRESULT SinkFilter::CheckMediaType(const CMediaType* mediaType) {
  if (accepts_.empty())
    return (mediaType->majortype == MEDIATYPE_Video || mediaType->majortype == MEDIATYPE_Audio) ? S_OK : S_FALSE;
  for (const GUID& subtype : accepts_)
    if (mediaType->subtype == subtype) return S_OK;
  return S_FALSE;
}

HRESULT SinkFilter::DoRenderSample(IMediaSample* sample) {
  ReceivedSample received;
  REFERENCE_TIME start = 0, stop = 0;
  if (SUCCEEDED(sample->GetTime(&start, &stop))) {
    received.start = start;
    received.stop = stop;
  }
  received.discontinuity = sample->IsDiscontinuity() == S_OK;
  received.syncPoint = sample->IsSyncPoint() == S_OK;
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  received.data.assign(data, data + sample->GetActualDataLength());
  {
    std::lock_guard<std::mutex> hold(lock_);
    samples_.push_back(std::move(received));
  }
  changed_.notify_all();
  return S_OK;
}

HRESULT SinkFilter::EndOfStream() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    ++endOfStreams_;
  }
  changed_.notify_all();
  return CBaseRenderer::EndOfStream();
}

HRESULT SinkFilter::BeginFlush() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    ++flushes_;
  }
  return CBaseRenderer::BeginFlush();
}

HRESULT SinkFilter::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    segments_.push_back(start);
  }
  return CBaseRenderer::NewSegment(start, stop, rate);
}

std::vector<ReceivedSample> SinkFilter::Samples() {
  std::lock_guard<std::mutex> hold(lock_);
  return samples_;
}

void SinkFilter::ClearSamples() {
  std::lock_guard<std::mutex> hold(lock_);
  samples_.clear();
  endOfStreams_ = 0;
}

bool SinkFilter::WaitForSamples(std::size_t count, int milliseconds) {
  std::unique_lock<std::mutex> hold(lock_);
  return changed_.wait_for(hold, std::chrono::milliseconds(milliseconds),
                           [&] { return samples_.size() >= count; });
}

bool SinkFilter::WaitForEndOfStream(int milliseconds) {
  std::unique_lock<std::mutex> hold(lock_);
  return changed_.wait_for(hold, std::chrono::milliseconds(milliseconds), [&] { return endOfStreams_ > 0; });
}

int SinkFilter::EndOfStreams() {
  std::lock_guard<std::mutex> hold(lock_);
  return endOfStreams_;
}

int SinkFilter::Flushes() {
  std::lock_guard<std::mutex> hold(lock_);
  return flushes_;
}

std::vector<REFERENCE_TIME> SinkFilter::SegmentStarts() {
  std::lock_guard<std::mutex> hold(lock_);
  return segments_;
}

// ---------------------------------------------------------------------------
// PushSourceFilter

PushPin::PushPin(PushSourceFilter* filter, HRESULT* result, const CMediaType& type)
    : CBaseOutputPin("push pin", filter, filter->pLock(), result, u"Out"), type_(type) {}

HRESULT PushPin::CheckMediaType(const CMediaType* mediaType) { return *mediaType == type_ ? S_OK : S_FALSE; }

HRESULT PushPin::GetMediaType(int position, CMediaType* mediaType) {
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  *mediaType = type_;
  return S_OK;
}

HRESULT PushPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
  request->cBuffers = std::max<LONG>(request->cBuffers, 2);
  request->cbBuffer = std::max<LONG>(request->cbBuffer, std::max<LONG>(static_cast<LONG>(type_.GetSampleSize()), 4096));
  ALLOCATOR_PROPERTIES actual{};
  return allocator->SetProperties(request, &actual);
}

PushSourceFilter::PushSourceFilter(const CMediaType& type)
    : CBaseFilter("push source", nullptr, &lock_, CLSID_TestPushSource) {
  HRESULT result = S_OK;
  pin_ = new PushPin(this, &result, type);
}

PushSourceFilter::~PushSourceFilter() { delete pin_; }

HRESULT PushSourceFilter::Push(const std::vector<BYTE>& bytes, REFERENCE_TIME start, REFERENCE_TIME stop,
                               bool discontinuity) {
  IMediaSample* sample = nullptr;
  HRESULT result = pin_->GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
  if (FAILED(result)) return result;
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  std::size_t length = std::min<std::size_t>(bytes.size(), static_cast<std::size_t>(sample->GetSize()));
  std::memcpy(data, bytes.data(), length);
  sample->SetActualDataLength(static_cast<LONG>(length));
  if (start >= 0) sample->SetTime(&start, stop >= 0 ? &stop : nullptr);
  sample->SetDiscontinuity(discontinuity);
  result = pin_->Deliver(sample);
  sample->Release();
  return result;
}

HRESULT SetStates(const std::vector<IBaseFilter*>& filters, FILTER_STATE state, REFERENCE_TIME start) {
  for (auto filter = filters.rbegin(); filter != filters.rend(); ++filter) {
    HRESULT result = state == State_Stopped ? (*filter)->Stop()
                     : state == State_Paused ? (*filter)->Pause()
                                             : (*filter)->Run(start);
    if (FAILED(result)) return result;
  }
  return S_OK;
}

void DisconnectAll(const std::vector<IBaseFilter*>& filters) {
  for (IBaseFilter* filter : filters) {
    reel::ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(&pins))) continue;
    IPin* pin = nullptr;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
      reel::ComPtr<IPin> peer;
      if (SUCCEEDED(pin->ConnectedTo(&peer)) && peer) {
        peer->Disconnect();
        pin->Disconnect();
      }
      pin->Release();
    }
  }
}

}  // namespace reel::test
