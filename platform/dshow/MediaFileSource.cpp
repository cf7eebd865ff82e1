#include "platform/dshow/MediaFileSource.h"

#include <algorithm>
#include <string>
#include <vector>

#include "platform/com/ClassTable.h"
#include "platform/com/TaskMemory.h"
#include "platform/dshow/FFmpegMediaTypes.h"
#include "platform/dshow/FilterRegistry.h"
#include "platform/dshow/MediaTimeSeeking.h"
#include "platform/win/Strings.h"

extern "C" {
#include <libavutil/intreadwrite.h>
}

namespace {

// Demuxers that take almost any file by its name alone; a file they would
// open is not media.
bool IsRefusedDemuxer(const AVInputFormat* format) {
  const char* refused[] = {"tty", "data", "bin"};
  for (const char* name : refused)
    if (std::string(format->name) == name) return true;
  return false;
}

struct FormatContextCloser {
  void operator()(AVFormatContext* context) const {
    if (context) avformat_close_input(&context);
  }
};
using FormatContextPointer = std::unique_ptr<AVFormatContext, FormatContextCloser>;

// Opens path and reads its stream information; null on any failure.
FormatContextPointer OpenMedia(const std::string& path, HRESULT* result) {
  AVFormatContext* raw = nullptr;
  if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) {
    *result = VFW_E_UNKNOWN_FILE_TYPE;
    return nullptr;
  }
  FormatContextPointer context(raw);
  if (IsRefusedDemuxer(context->iformat) || avformat_find_stream_info(context.get(), nullptr) < 0) {
    *result = VFW_E_INVALID_FILE_FORMAT;
    return nullptr;
  }
  *result = S_OK;
  return context;
}

class CMediaFileSource;

void SetTypeSpecificFlag(IMediaSample* sample, DWORD flag) {
  reel::ComPtr<IMediaSample2> sample2;
  AM_SAMPLE2_PROPERTIES properties{};
  if (SUCCEEDED(sample->QueryInterface(IID_IMediaSample2, reinterpret_cast<void**>(&sample2))) &&
      SUCCEEDED(sample2->GetProperties(sizeof properties, reinterpret_cast<BYTE*>(&properties)))) {
    properties.dwTypeSpecificFlags |= flag;
    sample2->SetProperties(offsetof(AM_SAMPLE2_PROPERTIES, dwSampleFlags), reinterpret_cast<BYTE*>(&properties));
  }
}

class CMediaStreamPin : public CSourceStream, public CMediaTimeSeeking {
 public:
  CMediaStreamPin(CMediaFileSource* filter, HRESULT* result, LPCWSTR name, int streamIndex, const CMediaType& type,
                  REFERENCE_TIME duration, int64_t startOffset);
  ~CMediaStreamPin() override;

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IMediaSeeking
  HRESULT GetCapabilities(DWORD* capabilities) override;
  HRESULT CheckCapabilities(DWORD* capabilities) override;
  HRESULT GetDuration(LONGLONG* duration) override;
  HRESULT GetStopPosition(LONGLONG* stop) override;
  HRESULT GetCurrentPosition(LONGLONG* current) override;
  HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) override;
  HRESULT GetPositions(LONGLONG* current, LONGLONG* stop) override;
  HRESULT GetAvailable(LONGLONG* earliest, LONGLONG* latest) override;
  HRESULT SetRate(double rate) override { return rate == 1.0 ? S_OK : E_INVALIDARG; }
  HRESULT GetRate(double* rate) override {
    if (!rate) return E_POINTER;
    *rate = 1.0;
    return S_OK;
  }
  HRESULT GetPreroll(LONGLONG* preroll) override {
    if (!preroll) return E_POINTER;
    *preroll = 0;
    return S_OK;
  }

 protected:
  HRESULT GetMediaType(CMediaType* mediaType) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
  HRESULT OnThreadCreate() override;
  HRESULT OnThreadStartPlay() override;
  HRESULT FillBuffer(IMediaSample* sample) override;

 private:
  void Restart();
  HRESULT Reopen();

  CMediaFileSource* source_;
  const int streamIndex_;
  const CMediaType type_;
  const REFERENCE_TIME duration_;
  const int64_t startOffset_;  // AV_TIME_BASE units subtracted from every time stamp
  FormatContextPointer demuxer_;
  AVPacket* packet_ = nullptr;
  int64_t packetsRead_ = 0;  // since the demuxer was opened or last positioned
  CCritSec positionLock_;
  REFERENCE_TIME start_ = 0;
  REFERENCE_TIME stop_;
  bool stopSet_ = false;
  REFERENCE_TIME current_ = 0;
  bool discontinuity_ = true;
};

class CMediaFileSource : public CSource, public IFileSourceFilter {
 public:
  explicit CMediaFileSource(LPUNKNOWN outer) : CSource("media file source", outer, CLSID_MediaFileSource) {}

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IFileSourceFilter) return GetInterface(static_cast<IFileSourceFilter*>(this), ppv);
    return CSource::NonDelegatingQueryInterface(riid, ppv);
  }
  ULONG GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_SOURCE; }

  HRESULT Load(LPCOLESTR fileName, const AM_MEDIA_TYPE*) override {
    if (!fileName) return E_POINTER;
    CAutoLock hold(&m_cStateLock);
    if (!path_.empty()) return E_UNEXPECTED;  // one file per source
    std::string path = reel::Utf16ToUtf8(fileName);
    HRESULT result = S_OK;
    FormatContextPointer context = OpenMedia(path, &result);
    if (!context) return result;
    int64_t startOffset = context->start_time != AV_NOPTS_VALUE ? context->start_time : 0;
    int videoCount = 0, audioCount = 0;
    for (unsigned index = 0; index < context->nb_streams; ++index) {
      AVStream* stream = context->streams[index];
      CMediaType type;
      if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) continue;
      if (!reel::MediaTypeFromStream(stream, &type)) continue;
      bool video = type.majortype == MEDIATYPE_Video;
      int ordinal = video ? ++videoCount : ++audioCount;
      std::u16string name = video ? u"Video" : u"Audio";
      if (ordinal > 1) name += reel::Utf8ToUtf16(" " + std::to_string(ordinal));
      REFERENCE_TIME duration = 0;
      if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        duration = reel::ToReferenceTime(stream->duration, stream->time_base);
      else if (context->duration != AV_NOPTS_VALUE && context->duration > 0)
        duration = reel::ToReferenceTime(context->duration, AVRational{1, AV_TIME_BASE});
      HRESULT pinResult = S_OK;
      new CMediaStreamPin(this, &pinResult, name.c_str(), static_cast<int>(index), type, duration, startOffset);
    }
    if (m_paStreams.empty()) return VFW_E_UNSUPPORTED_STREAM;
    path_ = path;
    fileName_ = fileName;
    return S_OK;
  }

  HRESULT GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* mediaType) override {
    if (!fileName) return E_POINTER;
    CAutoLock hold(&m_cStateLock);
    *fileName = nullptr;
    if (fileName_.empty()) return E_FAIL;
    *fileName = reel::CoTaskMemWideCopy(fileName_);
    if (!*fileName) return E_OUTOFMEMORY;
    if (mediaType) {
      std::memset(mediaType, 0, sizeof *mediaType);
      mediaType->majortype = MEDIATYPE_Stream;
    }
    return S_OK;
  }

  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  std::u16string fileName_;
};

CMediaStreamPin::CMediaStreamPin(CMediaFileSource* filter, HRESULT* result, LPCWSTR name, int streamIndex,
                                 const CMediaType& type, REFERENCE_TIME duration, int64_t startOffset)
    : CSourceStream("media stream pin", result, filter, name),
      source_(filter),
      streamIndex_(streamIndex),
      type_(type),
      duration_(duration),
      startOffset_(startOffset),
      stop_(duration > 0 ? duration : MAX_TIME) {}

CMediaStreamPin::~CMediaStreamPin() {
  if (ThreadExists()) {
    Stop();
    Exit();
    Close();
  }
  av_packet_free(&packet_);
}

HRESULT CMediaStreamPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
  return CSourceStream::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CMediaStreamPin::GetMediaType(CMediaType* mediaType) { return mediaType->Set(type_); }

HRESULT CMediaStreamPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
  bool video = type_.majortype == MEDIATYPE_Video;
  LONG size = 256 * 1024;
  if (video) {
    const BITMAPINFOHEADER* header = reel::BitmapHeaderOf(type_);
    LONG picture = header ? header->biWidth * std::abs(header->biHeight) * 3 : 0;
    size = std::max<LONG>(1024 * 1024, picture);
  }
  request->cBuffers = std::max<LONG>(request->cBuffers, video ? 4 : 8);
  request->cbBuffer = std::max<LONG>(request->cbBuffer, size);
  ALLOCATOR_PROPERTIES actual{};
  HRESULT result = allocator->SetProperties(request, &actual);
  if (FAILED(result)) return result;
  return actual.cbBuffer < request->cbBuffer ? E_FAIL : S_OK;
}

HRESULT CMediaStreamPin::Reopen() {
  demuxer_.reset();
  HRESULT result = S_OK;
  demuxer_ = OpenMedia(source_->Path(), &result);
  if (!demuxer_) return result;
  if (streamIndex_ >= static_cast<int>(demuxer_->nb_streams)) {
    demuxer_.reset();
    return E_UNEXPECTED;
  }
  // Only this pin's stream is read.
  for (unsigned index = 0; index < demuxer_->nb_streams; ++index)
    demuxer_->streams[index]->discard = static_cast<int>(index) == streamIndex_ ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
  packetsRead_ = 0;
  return S_OK;
}

HRESULT CMediaStreamPin::OnThreadCreate() {
  if (!demuxer_) {
    HRESULT result = Reopen();
    if (FAILED(result)) return result;
  }
  if (!packet_) packet_ = av_packet_alloc();
  return packet_ ? S_OK : E_OUTOFMEMORY;
}

HRESULT CMediaStreamPin::OnThreadStartPlay() {
  REFERENCE_TIME start, stop;
  {
    CAutoLock hold(&positionLock_);
    start = start_;
    stop = stop_;
    current_ = start_;
    discontinuity_ = true;
  }
  // Back to the key frame at or before the start; what lies before it is
  // delivered with negative times for the decoder to preroll. The
  // beginning is reached exactly by reading the file afresh; a seek that
  // fails does the same, and the decoder prerolls up to the start.
  if (packetsRead_ > 0 || start > 0) {
    bool seeked = false;
    if (start > 0) {
      AVStream* stream = demuxer_->streams[streamIndex_];
      int64_t target = av_rescale_q(startOffset_, AVRational{1, AV_TIME_BASE}, stream->time_base) +
                       reel::FromReferenceTime(start, stream->time_base);
      seeked = avformat_seek_file(demuxer_.get(), streamIndex_, INT64_MIN, target, target, 0) >= 0;
    }
    if (!seeked) {
      HRESULT result = Reopen();
      if (FAILED(result)) return result;
    }
  }
  packetsRead_ = 0;
  return DeliverNewSegment(start, stop, 1.0);
}

HRESULT CMediaStreamPin::FillBuffer(IMediaSample* sample) {
  AVStream* stream = demuxer_->streams[streamIndex_];
  for (;;) {
    av_packet_unref(packet_);
    int status = av_read_frame(demuxer_.get(), packet_);
    // The end of the file, or a read error (a truncated or damaged file):
    // either way the stream ends here.
    if (status < 0) return S_FALSE;
    if (packet_->stream_index != streamIndex_) continue;
    if (packet_->size <= 0) continue;
    if (packet_->size > sample->GetSize()) continue;  // cannot be carried; skipped
    break;
  }
  ++packetsRead_;
  // Without a presentation time the decoding time stands in, and the sample
  // says so (kDecodeTimeFlag) so a decoder reorders frames itself.
  bool decodeTimeOnly = packet_->pts == AV_NOPTS_VALUE;
  int64_t stamp = decodeTimeOnly ? packet_->dts : packet_->pts;
  REFERENCE_TIME start, stop;
  bool timed = stamp != AV_NOPTS_VALUE;
  REFERENCE_TIME offset = reel::ToReferenceTime(startOffset_, AVRational{1, AV_TIME_BASE});
  {
    CAutoLock hold(&positionLock_);
    if (timed) {
      REFERENCE_TIME position = reel::ToReferenceTime(stamp, stream->time_base) - offset;
      // Durations are often estimates: only a stop the caller set ends the
      // stream early; otherwise the end of the file does.
      if (stopSet_ && position >= stop_ && packet_->dts != AV_NOPTS_VALUE &&
          reel::ToReferenceTime(packet_->dts, stream->time_base) - offset >= stop_)
        return S_FALSE;
      start = position - start_;
      REFERENCE_TIME length = packet_->duration > 0 ? reel::ToReferenceTime(packet_->duration, stream->time_base) : 1;
      stop = start + length;
      current_ = std::max(current_, position);
    }
    sample->SetDiscontinuity(discontinuity_);
    discontinuity_ = false;
  }
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  std::memcpy(data, packet_->data, static_cast<std::size_t>(packet_->size));
  sample->SetActualDataLength(packet_->size);
  if (timed) sample->SetTime(&start, &stop);
  else sample->SetTime(nullptr, nullptr);
  size_t skipSize = 0;
  const uint8_t* skip = av_packet_get_side_data(packet_, AV_PKT_DATA_SKIP_SAMPLES, &skipSize);
  if (type_.majortype == MEDIATYPE_Audio && skip && skipSize >= 8) {
    // Samples the codec adds at the start or end (encoder delay, padding):
    // counts carried in the media time for the decoder to drop.
    LONGLONG atStart = AV_RL32(skip);
    LONGLONG atEnd = atStart + AV_RL32(skip + 4);
    sample->SetMediaTime(&atStart, &atEnd);
    SetTypeSpecificFlag(sample, reel::kSkipSamplesFlag);
  } else if (packet_->dts != AV_NOPTS_VALUE && type_.majortype == MEDIATYPE_Video) {
    // The decoding time travels as the media time.
    LONGLONG decodeStart = reel::ToReferenceTime(packet_->dts, stream->time_base) - offset - start_;
    LONGLONG decodeEnd = decodeStart + 1;
    sample->SetMediaTime(&decodeStart, &decodeEnd);
  }
  sample->SetSyncPoint((packet_->flags & AV_PKT_FLAG_KEY) != 0);
  sample->SetPreroll(timed && start < 0);
  if (decodeTimeOnly && type_.majortype == MEDIATYPE_Video) SetTypeSpecificFlag(sample, reel::kDecodeTimeFlag);
  return S_OK;
}

void CMediaStreamPin::Restart() {
  if (!ThreadExists()) return;
  DeliverBeginFlush();
  Stop();
  DeliverEndFlush();
  Run();
}

HRESULT CMediaStreamPin::GetCapabilities(DWORD* capabilities) {
  if (!capabilities) return E_POINTER;
  *capabilities = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards | AM_SEEKING_CanSeekBackwards |
                  AM_SEEKING_CanGetCurrentPos | AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetDuration;
  return S_OK;
}

HRESULT CMediaStreamPin::CheckCapabilities(DWORD* capabilities) {
  if (!capabilities) return E_POINTER;
  DWORD mine = 0;
  GetCapabilities(&mine);
  DWORD wanted = *capabilities;
  *capabilities &= mine;
  return *capabilities == wanted ? S_OK : (*capabilities ? S_FALSE : E_FAIL);
}

HRESULT CMediaStreamPin::GetDuration(LONGLONG* duration) {
  if (!duration) return E_POINTER;
  *duration = duration_;
  return S_OK;
}

HRESULT CMediaStreamPin::GetStopPosition(LONGLONG* stop) {
  if (!stop) return E_POINTER;
  CAutoLock hold(&positionLock_);
  *stop = stop_ == MAX_TIME ? duration_ : stop_;
  return S_OK;
}

HRESULT CMediaStreamPin::GetCurrentPosition(LONGLONG* current) {
  if (!current) return E_POINTER;
  CAutoLock hold(&positionLock_);
  *current = current_;
  return S_OK;
}

HRESULT CMediaStreamPin::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) {
  DWORD currentPositioning = currentFlags & AM_SEEKING_PositioningBitsMask;
  DWORD stopPositioning = stopFlags & AM_SEEKING_PositioningBitsMask;
  if ((currentPositioning && !current) || (stopPositioning && !stop)) return E_POINTER;
  {
    CAutoLock hold(&positionLock_);
    REFERENCE_TIME end = duration_ > 0 ? duration_ : MAX_TIME;
    if (currentPositioning == AM_SEEKING_AbsolutePositioning) start_ = *current;
    else if (currentPositioning == AM_SEEKING_RelativePositioning) start_ += *current;
    else if (currentPositioning == AM_SEEKING_IncrementalPositioning) return E_INVALIDARG;
    start_ = std::clamp<REFERENCE_TIME>(start_, 0, end);
    if (stopPositioning) stopSet_ = true;
    if (stopPositioning == AM_SEEKING_AbsolutePositioning) stop_ = *stop;
    else if (stopPositioning == AM_SEEKING_RelativePositioning) stop_ += *stop;
    else if (stopPositioning == AM_SEEKING_IncrementalPositioning) stop_ = start_ + *stop;
    stop_ = std::clamp<REFERENCE_TIME>(stop_, start_, end);
    if (currentPositioning) current_ = start_;
  }
  if (currentPositioning) Restart();
  return S_OK;
}

HRESULT CMediaStreamPin::GetPositions(LONGLONG* current, LONGLONG* stop) {
  if (current) GetCurrentPosition(current);
  if (stop) GetStopPosition(stop);
  return S_OK;
}

HRESULT CMediaStreamPin::GetAvailable(LONGLONG* earliest, LONGLONG* latest) {
  if (earliest) *earliest = 0;
  if (latest) *latest = duration_;
  return S_OK;
}

const bool kRegistered = [] {
  reel::RegisterBuiltinClass(CLSID_MediaFileSource, &reel::CreateMediaFileSource);
  reel::RegisteredFilter filter;
  filter.clsid = CLSID_MediaFileSource;
  filter.name = u"Media File Source";
  filter.merit = MERIT_DO_NOT_USE;
  filter.pins = {{u"Output", true, false, false, true, {{MEDIATYPE_Video, GUID_NULL}, {MEDIATYPE_Audio, GUID_NULL}}}};
  return reel::RegisterBuiltinFilter(filter);
}();

}  // namespace

namespace reel {
HRESULT CreateMediaFileSource(IUnknown* outer, REFIID riid, void** ppv) {
  return CreateComObject<CMediaFileSource>(outer, riid, ppv);
}
}  // namespace reel
