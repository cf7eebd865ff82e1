// The AVI multiplexer (CLSID_AviDest). Each input pin takes one stream:
// uncompressed RGB555, RGB24 or RGB32 video as bottom-up DIB frames, PCM
// sound, or a compressed stream whose codec an AVI file can carry. A free
// input pin is always kept for the next stream. Muxing is libavformat's
// "avi" muxer writing through a custom I/O context into the byte-stream
// output pin (offsets as sample times, OutputInterfaces.h), which a File
// Writer puts into the file. Beyond 1 GiB the muxer goes on in OpenDML
// ("AVIX" RIFF chunks and a two-level index) by itself.
//
// The multiplexer renders its inputs: it sends EC_COMPLETE once every
// connected input has ended and the index is written.
//
// IConfigInterleaving maps onto libavformat like this: INTERLEAVE_NONE
// writes every sample as it arrives (av_write_frame); the other modes let
// libavformat interleave by time (av_interleaved_write_frame), buffering at
// most the interleave period plus the preroll (max_interleave_delta) before
// it writes whatever it holds. libavformat has no separate preroll or
// chunk period for AVI, so both values only bound that buffering.
#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
}

#include "platform/com/ClassTable.h"
#include "platform/dshow/BaseFilter.h"
#include "platform/dshow/DShowControl.h"
#include "platform/dshow/FFmpegMediaTypes.h"
#include "platform/dshow/FilterRegistry.h"
#include "platform/dshow/OutputInterfaces.h"

namespace {

constexpr int kMaximumInputs = 16;
constexpr int kIoBufferSize = 64 * 1024;
// A video type without a frame time is written at this rate.
constexpr AVRational kDefaultFrameTime{1, 25};

enum class StreamKind { RawVideo, Pcm, Compressed };

// What an input's media type becomes in the file; false when AVI cannot
// carry it.
struct StreamDescription {
  StreamKind kind = StreamKind::Compressed;
  AVMediaType mediaType = AVMEDIA_TYPE_UNKNOWN;
  AVRational timeBase{1, 1};
  int frameBytes = 0;   // raw video: the size of one DIB frame
  int blockAlign = 0;   // PCM: bytes per sample frame
};

AVRational FrameTimeOf(const AM_MEDIA_TYPE& type) {
  const VIDEOINFOHEADER* info = reel::VideoInfoOf(type);
  if (!info || info->AvgTimePerFrame <= 0) return kDefaultFrameTime;
  int num = 0;
  int den = 0;
  av_reduce(&num, &den, info->AvgTimePerFrame, UNITS, INT32_MAX);
  if (num <= 0 || den <= 0) return kDefaultFrameTime;
  return AVRational{num, den};
}

const AVOutputFormat* AviFormat() { return av_guess_format("avi", nullptr, nullptr); }

// Fills parameters (when given) from an uncompressed RGB video type.
bool DescribeRawVideo(const AM_MEDIA_TYPE& type, AVCodecParameters* parameters, StreamDescription* description) {
  const BITMAPINFOHEADER* header = reel::BitmapHeaderOf(type);
  if (!header || !reel::VideoInfoOf(type)) return false;
  AVPixelFormat format = AV_PIX_FMT_NONE;
  if (type.subtype == MEDIASUBTYPE_RGB555 && header->biBitCount == 16) format = AV_PIX_FMT_RGB555LE;
  if (type.subtype == MEDIASUBTYPE_RGB24 && header->biBitCount == 24) format = AV_PIX_FMT_BGR24;
  // A 32-bit DIB in AVI is what libavformat calls BGRA (the fourth byte is
  // unused); naming it so keeps the muxer from warning that it cannot store it.
  if (type.subtype == MEDIASUBTYPE_RGB32 && header->biBitCount == 32) format = AV_PIX_FMT_BGRA;
  // AVI stores DIBs bottom-up: a top-down picture (negative height) would
  // come out upside down.
  if (format == AV_PIX_FMT_NONE || header->biCompression != BI_RGB || header->biWidth <= 0 ||
      header->biHeight <= 0 || header->biWidth > 16384 || header->biHeight > 16384)
    return false;
  description->kind = StreamKind::RawVideo;
  description->mediaType = AVMEDIA_TYPE_VIDEO;
  description->timeBase = FrameTimeOf(type);
  description->frameBytes = static_cast<int>(DibSize(*header));
  if (parameters) {
    parameters->codec_type = AVMEDIA_TYPE_VIDEO;
    parameters->codec_id = AV_CODEC_ID_RAWVIDEO;
    parameters->codec_tag = 0;  // BI_RGB
    parameters->format = format;
    parameters->width = header->biWidth;
    parameters->height = header->biHeight;
    parameters->bits_per_coded_sample = header->biBitCount;
  }
  return true;
}

bool DescribePcm(const AM_MEDIA_TYPE& type, AVCodecParameters* parameters, StreamDescription* description) {
  const WAVEFORMATEX* wave = reel::WaveFormatOf(type);
  if (!wave || type.subtype != MEDIASUBTYPE_PCM || wave->wFormatTag != WAVE_FORMAT_PCM) return false;
  AVCodecID codec = AV_CODEC_ID_NONE;
  switch (wave->wBitsPerSample) {
    case 8: codec = AV_CODEC_ID_PCM_U8; break;
    case 16: codec = AV_CODEC_ID_PCM_S16LE; break;
    case 24: codec = AV_CODEC_ID_PCM_S24LE; break;
    case 32: codec = AV_CODEC_ID_PCM_S32LE; break;
    default: return false;
  }
  if (wave->nChannels < 1 || wave->nChannels > 8 || wave->nSamplesPerSec < 1 || wave->nSamplesPerSec > 768000 ||
      wave->nBlockAlign != wave->nChannels * wave->wBitsPerSample / 8)
    return false;
  description->kind = StreamKind::Pcm;
  description->mediaType = AVMEDIA_TYPE_AUDIO;
  description->timeBase = AVRational{1, static_cast<int>(wave->nSamplesPerSec)};
  description->blockAlign = wave->nBlockAlign;
  if (parameters) {
    parameters->codec_type = AVMEDIA_TYPE_AUDIO;
    parameters->codec_id = codec;
    parameters->codec_tag = WAVE_FORMAT_PCM;
    parameters->sample_rate = static_cast<int>(wave->nSamplesPerSec);
    av_channel_layout_default(&parameters->ch_layout, wave->nChannels);
    parameters->block_align = wave->nBlockAlign;
    parameters->bits_per_coded_sample = wave->wBitsPerSample;
    parameters->bit_rate = static_cast<int64_t>(wave->nAvgBytesPerSec) * 8;
  }
  return true;
}

bool DescribeCompressed(const AM_MEDIA_TYPE& type, AVCodecParameters* parameters, StreamDescription* description) {
  if (type.majortype != MEDIATYPE_Video && type.majortype != MEDIATYPE_Audio) return false;
  if (reel::IsUncompressedVideo(type) || type.subtype == MEDIASUBTYPE_PCM || type.subtype == MEDIASUBTYPE_IEEE_FLOAT)
    return false;
  AVCodecParameters* source = reel::CodecParametersFromMediaType(type);
  if (!source) return false;
  const AVOutputFormat* avi = AviFormat();
  bool carried = avi && avformat_query_codec(avi, source->codec_id, FF_COMPLIANCE_NORMAL) == 1 &&
                 (source->codec_type == AVMEDIA_TYPE_VIDEO || source->codec_type == AVMEDIA_TYPE_AUDIO);
  if (carried && source->codec_type == AVMEDIA_TYPE_AUDIO && source->sample_rate <= 0) carried = false;
  if (carried && source->codec_type == AVMEDIA_TYPE_VIDEO && (source->width <= 0 || source->height <= 0))
    carried = false;
  if (carried) {
    description->kind = StreamKind::Compressed;
    description->mediaType = source->codec_type;
    description->timeBase = source->codec_type == AVMEDIA_TYPE_VIDEO ? FrameTimeOf(type)
                                                                     : AVRational{1, source->sample_rate};
    if (parameters) {
      avcodec_parameters_copy(parameters, source);
      // Keep the type's own FOURCC or wave tag (XVID rather than FMP4, say)
      // when the muxer knows it for this codec; else the muxer picks one.
      unsigned tag = 0;
      if (const BITMAPINFOHEADER* header = reel::BitmapHeaderOf(type)) tag = header->biCompression;
      if (const WAVEFORMATEX* wave = reel::WaveFormatOf(type)) tag = wave->wFormatTag;
      parameters->codec_tag = tag && av_codec_get_id(avi->codec_tag, tag) == source->codec_id ? tag : 0;
    }
  }
  avcodec_parameters_free(&source);
  return carried;
}

bool DescribeStream(const AM_MEDIA_TYPE& type, AVCodecParameters* parameters, StreamDescription* description) {
  if (type.majortype == MEDIATYPE_Video && reel::IsUncompressedVideo(type))
    return DescribeRawVideo(type, parameters, description);
  if (type.majortype == MEDIATYPE_Audio && type.subtype == MEDIASUBTYPE_PCM)
    return DescribePcm(type, parameters, description);
  return DescribeCompressed(type, parameters, description);
}

class CAviMux;

class CAviMuxInputPin : public CBaseInputPin {
 public:
  CAviMuxInputPin(CAviMux* mux, CCritSec* lock, HRESULT* result, const std::u16string& name);
  HRESULT CheckMediaType(const CMediaType* mediaType) override {
    StreamDescription description;
    return DescribeStream(*mediaType, nullptr, &description) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT CompleteConnect(IPin* receivePin) override;
  HRESULT Receive(IMediaSample* sample) override;
  HRESULT EndOfStream() override;

  // The stream of the current run; guarded by the multiplexer's muxing lock.
  AVStream* stream = nullptr;
  StreamDescription description;
  int64_t nextTimestamp = 0;
  bool ended = false;

 private:
  CAviMux* mux_;
};

class CAviMuxOutputPin : public CBaseOutputPin {
 public:
  CAviMuxOutputPin(CBaseFilter* mux, CCritSec* lock, HRESULT* result)
      : CBaseOutputPin("avi mux output", mux, lock, result, u"AVI Out") {}
  HRESULT CheckMediaType(const CMediaType* mediaType) override {
    bool stream = mediaType->majortype == MEDIATYPE_Stream &&
                  (mediaType->subtype == MEDIASUBTYPE_Avi || mediaType->subtype == GUID_NULL);
    return stream ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT GetMediaType(int position, CMediaType* mediaType) override {
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    mediaType->InitMediaType();
    mediaType->SetType(&MEDIATYPE_Stream);
    mediaType->SetSubtype(&MEDIASUBTYPE_Avi);
    mediaType->SetFormatType(&FORMAT_None);
    mediaType->SetSampleSize(1);
    return S_OK;
  }
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    request->cBuffers = std::max<LONG>(request->cBuffers, 2);
    request->cbBuffer = std::max<LONG>(request->cbBuffer, reel::kByteStreamChunk);
    ALLOCATOR_PROPERTIES actual{};
    HRESULT result = allocator->SetProperties(request, &actual);
    if (FAILED(result)) return result;
    return actual.cbBuffer < request->cbBuffer ? E_FAIL : S_OK;
  }
};

class CAviMux : public CBaseFilter, public IConfigInterleaving {
 public:
  explicit CAviMux(LPUNKNOWN outer) : CBaseFilter("avi mux", outer, &lock_, CLSID_AviDest) {
    HRESULT result = S_OK;
    output_ = std::make_unique<CAviMuxOutputPin>(this, &lock_, &result);
    AddInput();
  }
  ~CAviMux() override { CloseMuxer(); }

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IConfigInterleaving) return GetInterface(static_cast<IConfigInterleaving*>(this), ppv);
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
  }

  int GetPinCount() override {
    CAutoLock hold(&lock_);
    return 1 + static_cast<int>(inputs_.size());
  }
  CBasePin* GetPin(int index) override {
    CAutoLock hold(&lock_);
    if (index == 0) return output_.get();
    if (index < 1 || index > static_cast<int>(inputs_.size())) return nullptr;
    return inputs_[static_cast<std::size_t>(index - 1)].get();
  }
  ULONG GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

  HRESULT Pause() override {
    CAutoLock hold(&lock_);
    bool starting = m_State == State_Stopped;
    HRESULT result = CBaseFilter::Pause();
    if (FAILED(result) || !starting) return result;
    result = OpenMuxer();
    if (FAILED(result)) CBaseFilter::Stop();
    return result;
  }
  HRESULT Stop() override {
    CAutoLock hold(&lock_);
    // Stopping the pins first releases a streaming thread waiting for an
    // output buffer, so the muxing lock is free to take.
    HRESULT result = CBaseFilter::Stop();
    CloseMuxer();
    return result;
  }

  // IConfigInterleaving
  HRESULT put_Mode(InterleavingMode mode) override {
    if (mode < INTERLEAVE_NONE || mode > INTERLEAVE_NONE_BUFFERED) return E_INVALIDARG;
    CAutoLock hold(&lock_);
    mode_ = mode;
    return S_OK;
  }
  HRESULT get_Mode(InterleavingMode* mode) override {
    if (!mode) return E_POINTER;
    CAutoLock hold(&lock_);
    *mode = mode_;
    return S_OK;
  }
  HRESULT put_Interleaving(const REFERENCE_TIME* leave, const REFERENCE_TIME* preroll) override {
    if (!leave || !preroll) return E_POINTER;
    if (*leave < 0 || *preroll < 0) return E_INVALIDARG;
    CAutoLock hold(&lock_);
    leave_ = *leave;
    preroll_ = *preroll;
    return S_OK;
  }
  HRESULT get_Interleaving(REFERENCE_TIME* leave, REFERENCE_TIME* preroll) override {
    if (!leave || !preroll) return E_POINTER;
    CAutoLock hold(&lock_);
    *leave = leave_;
    *preroll = preroll_;
    return S_OK;
  }

  // A free input is kept for the next stream.
  void InputConnected() {
    CAutoLock hold(&lock_);
    bool free = std::any_of(inputs_.begin(), inputs_.end(), [](const auto& pin) { return !pin->IsConnected(); });
    if (!free && static_cast<int>(inputs_.size()) < kMaximumInputs) AddInput();
  }

  HRESULT WriteSample(CAviMuxInputPin* pin, IMediaSample* sample) {
    std::lock_guard<std::mutex> hold(muxLock_);
    if (!context_ || !pin->stream) return VFW_E_WRONG_STATE;
    if (FAILED(failure_)) return failure_;
    if (pin->ended || finished_) return VFW_E_SAMPLE_REJECTED_EOS;
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || !data) return E_POINTER;
    LONG length = sample->GetActualDataLength();
    if (length <= 0) return S_OK;
    const StreamDescription& description = pin->description;
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    bool timed = SUCCEEDED(sample->GetTime(&start, &stop));
    int64_t timestamp = pin->nextTimestamp;
    int64_t duration = 1;
    if (description.kind == StreamKind::RawVideo) {
      // A short sample is not a frame: it would shift every later frame.
      if (length < description.frameBytes) return E_INVALIDARG;
      length = description.frameBytes;
    }
    if (description.kind == StreamKind::Pcm) {
      duration = length / description.blockAlign;
      length = static_cast<LONG>(duration * description.blockAlign);
      if (length == 0) return S_OK;
    } else if (timed && start >= 0) {
      // Video frames go where their time says; a gap becomes empty chunks
      // (repeated frames) so that sound stays in step.
      timestamp = std::max(timestamp, reel::FromReferenceTime(start, pin->stream->time_base));
    }
    pin->nextTimestamp = timestamp + duration;

    AVPacket* packet = av_packet_alloc();
    if (!packet || av_new_packet(packet, length) < 0) {
      av_packet_free(&packet);
      return E_OUTOFMEMORY;
    }
    std::copy(data, data + length, packet->data);
    packet->stream_index = pin->stream->index;
    packet->pts = timestamp;
    packet->dts = timestamp;
    packet->duration = duration;
    // Writing the header may have changed the stream's time base.
    av_packet_rescale_ts(packet, description.timeBase, pin->stream->time_base);
    bool key = description.kind != StreamKind::Compressed || sample->IsSyncPoint() == S_OK;
    if (key) packet->flags |= AV_PKT_FLAG_KEY;
    int written = interleaved_ ? av_interleaved_write_frame(context_, packet) : av_write_frame(context_, packet);
    av_packet_free(&packet);
    if (written < 0) return Fail();
    return S_OK;
  }

  HRESULT EndOfInput(CAviMuxInputPin* pin) {
    {
      std::lock_guard<std::mutex> hold(muxLock_);
      if (!context_ || finished_ || pin->ended) return S_OK;
      pin->ended = true;
      for (CAviMuxInputPin* input : activeInputs_)
        if (!input->ended) return S_OK;
      finished_ = true;
      if (FAILED(failure_)) return failure_;
      if (av_write_trailer(context_) < 0) return Fail();
      avio_flush(context_->pb);
      if (FAILED(failure_)) return failure_;
    }
    output_->DeliverEndOfStream();
    NotifyEvent(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
    return S_OK;
  }

 private:
  void AddInput() {
    // "Input 01", "Input 02", ...
    int number = static_cast<int>(inputs_.size()) + 1;
    std::u16string name = u"Input ";
    name.push_back(static_cast<char16_t>(u'0' + number / 10));
    name.push_back(static_cast<char16_t>(u'0' + number % 10));
    HRESULT result = S_OK;
    inputs_.push_back(std::make_unique<CAviMuxInputPin>(this, &lock_, &result, name));
    IncrementPinVersion();
  }

  // Under the filter lock, with the pins active.
  HRESULT OpenMuxer() {
    std::lock_guard<std::mutex> hold(muxLock_);
    if (!output_->IsConnected()) return VFW_E_NOT_CONNECTED;
    CloseMuxerLocked();
    failure_ = S_OK;
    finished_ = false;
    position_ = 0;
    size_ = 0;
    if (avformat_alloc_output_context2(&context_, AviFormat(), nullptr, nullptr) < 0 || !context_)
      return E_OUTOFMEMORY;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
    context_->pb = buffer ? avio_alloc_context(buffer, kIoBufferSize, 1, this, nullptr, &WritePacket, &Seek) : nullptr;
    if (!context_->pb) {
      av_free(buffer);
      CloseMuxerLocked();
      return E_OUTOFMEMORY;
    }
    context_->pb->seekable = AVIO_SEEKABLE_NORMAL;
    context_->flags |= AVFMT_FLAG_CUSTOM_IO;
    interleaved_ = mode_ != INTERLEAVE_NONE;
    if (interleaved_ && leave_ + preroll_ > 0) context_->max_interleave_delta = (leave_ + preroll_) / 10;

    for (const auto& input : inputs_) {
      input->stream = nullptr;
      input->ended = false;
      input->nextTimestamp = 0;
      if (!input->IsConnected()) continue;
      AVStream* stream = avformat_new_stream(context_, nullptr);
      if (!stream || !DescribeStream(input->CurrentMediaType(), stream->codecpar, &input->description)) {
        CloseMuxerLocked();
        return VFW_E_TYPE_NOT_ACCEPTED;
      }
      stream->time_base = input->description.timeBase;
      if (input->description.mediaType == AVMEDIA_TYPE_VIDEO) {
        stream->avg_frame_rate = av_inv_q(input->description.timeBase);
        stream->r_frame_rate = stream->avg_frame_rate;
      }
      input->stream = stream;
      activeInputs_.push_back(input.get());
    }
    if (activeInputs_.empty()) {
      CloseMuxerLocked();
      return VFW_E_NOT_CONNECTED;
    }
    AVDictionary* options = nullptr;
    // Our frames are bottom-up DIBs: the header must say so (positive height).
    av_dict_set(&options, "flipped_raw_rgb", "1", 0);
    int opened = avformat_write_header(context_, &options);
    av_dict_free(&options);
    if (opened < 0 || FAILED(failure_)) {
      HRESULT result = FAILED(failure_) ? failure_ : E_FAIL;
      CloseMuxerLocked();
      return result;
    }
    return S_OK;
  }

  void CloseMuxer() {
    std::lock_guard<std::mutex> hold(muxLock_);
    CloseMuxerLocked();
  }
  void CloseMuxerLocked() {
    for (CAviMuxInputPin* input : activeInputs_) input->stream = nullptr;
    activeInputs_.clear();
    if (!context_) return;
    if (context_->pb) {
      av_freep(&context_->pb->buffer);
      avio_context_free(&context_->pb);
    }
    avformat_free_context(context_);
    context_ = nullptr;
  }

  HRESULT Fail() {
    if (SUCCEEDED(failure_)) failure_ = E_FAIL;
    NotifyEvent(EC_ERRORABORT, failure_, 0);
    return failure_;
  }

  // The I/O context's callbacks, on the thread that is muxing (muxLock_
  // held): bytes go downstream at the current position.
  static int WritePacket(void* opaque, uint8_t* data, int size) {
    auto* mux = static_cast<CAviMux*>(opaque);
    int done = 0;
    while (done < size) {
      int chunk = std::min<int>(size - done, static_cast<int>(reel::kByteStreamChunk));
      HRESULT result = mux->DeliverBytes(data + done, chunk);
      if (FAILED(result)) {
        if (SUCCEEDED(mux->failure_)) mux->failure_ = result;
        return AVERROR(EIO);
      }
      done += chunk;
    }
    return size;
  }
  static int64_t Seek(void* opaque, int64_t offset, int whence) {
    auto* mux = static_cast<CAviMux*>(opaque);
    whence &= ~AVSEEK_FORCE;
    if (whence == AVSEEK_SIZE) return mux->size_;
    int64_t target = -1;
    if (whence == SEEK_SET) target = offset;
    if (whence == SEEK_CUR) target = mux->position_ + offset;
    if (whence == SEEK_END) target = mux->size_ + offset;
    if (target < 0) return AVERROR(EINVAL);
    mux->position_ = target;
    return target;
  }
  HRESULT DeliverBytes(const uint8_t* data, int size) {
    IMediaSample* sample = nullptr;
    HRESULT result = output_->GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
    if (FAILED(result)) return result;
    BYTE* buffer = nullptr;
    if (FAILED(sample->GetPointer(&buffer)) || !buffer || sample->GetSize() < size) {
      sample->Release();
      return E_FAIL;
    }
    std::copy(data, data + size, buffer);
    sample->SetActualDataLength(size);
    REFERENCE_TIME start = position_;
    REFERENCE_TIME stop = position_ + size;
    sample->SetTime(&start, &stop);
    sample->SetSyncPoint(TRUE);
    result = output_->Deliver(sample);
    sample->Release();
    if (FAILED(result)) return result;
    position_ += size;
    size_ = std::max(size_, position_);
    return S_OK;
  }

  CCritSec lock_;  // state, pins, settings
  std::unique_ptr<CAviMuxOutputPin> output_;
  std::vector<std::unique_ptr<CAviMuxInputPin>> inputs_;
  InterleavingMode mode_ = INTERLEAVE_CAPTURE;
  REFERENCE_TIME leave_ = UNITS;
  REFERENCE_TIME preroll_ = 0;

  // The muxer and the per-run state below. Streaming threads take only this
  // lock, never the filter lock, which state changes hold while they wait
  // for it.
  std::mutex muxLock_;
  AVFormatContext* context_ = nullptr;
  std::vector<CAviMuxInputPin*> activeInputs_;  // the connected inputs of this run
  bool interleaved_ = true;
  bool finished_ = false;
  HRESULT failure_ = S_OK;
  int64_t position_ = 0;
  int64_t size_ = 0;
};

CAviMuxInputPin::CAviMuxInputPin(CAviMux* mux, CCritSec* lock, HRESULT* result, const std::u16string& name)
    : CBaseInputPin("avi mux input", mux, lock, result, name.c_str()), mux_(mux) {}

HRESULT CAviMuxInputPin::CompleteConnect(IPin* receivePin) {
  HRESULT result = CBaseInputPin::CompleteConnect(receivePin);
  if (SUCCEEDED(result)) mux_->InputConnected();
  return result;
}

HRESULT CAviMuxInputPin::Receive(IMediaSample* sample) {
  HRESULT result = CBaseInputPin::Receive(sample);
  if (result != S_OK) return result;
  return mux_->WriteSample(this, sample);
}

HRESULT CAviMuxInputPin::EndOfStream() {
  HRESULT result = CheckStreaming();
  if (result != S_OK) return result;
  return mux_->EndOfInput(this);
}

const bool kRegistered = [] {
  reel::RegisterBuiltinClass(CLSID_AviDest, &reel::CreateComObject<CAviMux>);
  reel::RegisteredFilter filter;
  filter.clsid = CLSID_AviDest;
  filter.name = u"AVI Mux";
  filter.merit = MERIT_DO_NOT_USE;
  filter.pins = {{u"Input 01", false, false, false, true, {{GUID_NULL, GUID_NULL}}},
                 {u"AVI Out", true, false, false, false, {{MEDIATYPE_Stream, MEDIASUBTYPE_Avi}}}};
  return reel::RegisterBuiltinFilter(filter);
}();

}  // namespace
