#include "platform/dshow/MediaDecoders.h"

#include <algorithm>
#include <vector>

#include "platform/com/ClassTable.h"
#include "platform/dshow/FFmpegMediaTypes.h"
#include "platform/dshow/FilterRegistry.h"
#include "platform/dshow/PictureConversion.h"
#include "platform/dshow/TransformFilter.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/intreadwrite.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace {

// Decoding threads of FFmpeg's own are not seen by ThreadSanitizer, which
// then reports races inside libavcodec: sanitised builds decode on one thread.
#if defined(__SANITIZE_THREAD__)
constexpr int kDecoderThreads = 1;
#else
constexpr int kDecoderThreads = 0;  // FFmpeg's choice
#endif

// One FFmpeg decoder fed from media samples. Derived filters turn its
// frames into output samples.
class CodecSession {
 public:
  ~CodecSession() { Close(); }

  bool Open(const AVCodecParameters* parameters) {
    Close();
    const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
    if (!codec) return false;
    context_ = avcodec_alloc_context3(codec);
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (!context_ || !frame_ || !packet_ || avcodec_parameters_to_context(context_, parameters) < 0) {
      Close();
      return false;
    }
    context_->pkt_timebase = AVRational{1, static_cast<int>(UNITS)};
    context_->thread_count = kDecoderThreads;
    if (avcodec_open2(context_, codec, nullptr) < 0) {
      Close();
      return false;
    }
    return true;
  }
  void Close() {
    avcodec_free_context(&context_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
  }
  bool IsOpen() const { return context_ != nullptr; }
  AVCodecContext* Context() { return context_; }

  // Sends one sample's data (null: the end of the stream) and hands every
  // frame that comes out to deliver; stops at the first delivery failure.
  template <typename Deliver>
  HRESULT Decode(IMediaSample* sample, Deliver&& deliver) {
    if (!context_) return VFW_E_WRONG_STATE;
    av_packet_unref(packet_);
    bool endOfStream = sample == nullptr;
    if (!endOfStream) {
      BYTE* data = nullptr;
      sample->GetPointer(&data);
      LONG length = sample->GetActualDataLength();
      if (!data || length <= 0) return S_OK;
      if (av_new_packet(packet_, length) < 0) return E_OUTOFMEMORY;  // padded as decoders need
      std::memcpy(packet_->data, data, static_cast<std::size_t>(length));
      REFERENCE_TIME start = 0, stop = 0;
      if (SUCCEEDED(sample->GetTime(&start, &stop))) packet_->pts = start;
      LONGLONG mediaStart = 0, mediaEnd = 0;
      bool mediaTime = sample->GetMediaTime(&mediaStart, &mediaEnd) == S_OK;
      reel::ComPtr<IMediaSample2> sample2;
      AM_SAMPLE2_PROPERTIES properties{};
      DWORD flags = 0;
      if (SUCCEEDED(sample->QueryInterface(IID_IMediaSample2, reinterpret_cast<void**>(&sample2))) &&
          SUCCEEDED(sample2->GetProperties(sizeof properties, reinterpret_cast<BYTE*>(&properties))))
        flags = properties.dwTypeSpecificFlags;
      if (flags & reel::kSkipSamplesFlag) {
        if (mediaTime && mediaStart >= 0 && mediaEnd >= mediaStart) {
          uint8_t* skip = av_packet_new_side_data(packet_, AV_PKT_DATA_SKIP_SAMPLES, 10);
          if (skip) {
            AV_WL32(skip, static_cast<uint32_t>(std::min<LONGLONG>(mediaStart, UINT32_MAX)));
            AV_WL32(skip + 4, static_cast<uint32_t>(std::min<LONGLONG>(mediaEnd - mediaStart, UINT32_MAX)));
            skip[8] = skip[9] = 0;
          }
        }
      } else if (mediaTime) {
        packet_->dts = mediaStart;
      }
      if (flags & reel::kDecodeTimeFlag) {
        // Only a decoding time is known: the decoder works out the order.
        packet_->dts = packet_->pts;
        packet_->pts = AV_NOPTS_VALUE;
      }
      if (sample->IsSyncPoint() == S_OK) packet_->flags |= AV_PKT_FLAG_KEY;
    }
    for (;;) {
      int sent = avcodec_send_packet(context_, endOfStream ? nullptr : packet_);
      // A damaged packet is skipped; the stream goes on.
      bool retry = sent == AVERROR(EAGAIN);
      for (;;) {
        int received = avcodec_receive_frame(context_, frame_);
        if (received < 0) break;
        HRESULT result = deliver(frame_);
        av_frame_unref(frame_);
        if (result != S_OK) return result;
      }
      if (!retry) break;
    }
    return S_OK;
  }
  void Flush() {
    if (context_) avcodec_flush_buffers(context_);
  }

 private:
  AVCodecContext* context_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
};

REFERENCE_TIME FrameTime(const AVFrame* frame) {
  if (frame->best_effort_timestamp != AV_NOPTS_VALUE) return frame->best_effort_timestamp;
  return frame->pts;
}

// ---------------------------------------------------------------------------

class CVideoDecoder : public CTransformFilter {
 public:
  explicit CVideoDecoder(LPUNKNOWN outer) : CTransformFilter("video decoder", outer, CLSID_MediaVideoDecoder) {}
  ~CVideoDecoder() override { avcodec_parameters_free(&parameters_); }

  HRESULT CheckInputType(const CMediaType* mediaType) override {
    if (mediaType->majortype != MEDIATYPE_Video || reel::IsUncompressedVideo(*mediaType)) return VFW_E_TYPE_NOT_ACCEPTED;
    AVCodecParameters* parameters = reel::CodecParametersFromMediaType(*mediaType);
    bool known = parameters && parameters->codec_type == AVMEDIA_TYPE_VIDEO && parameters->width > 0 &&
                 parameters->height > 0 && avcodec_find_decoder(parameters->codec_id);
    avcodec_parameters_free(&parameters);
    return known ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }

  HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* mediaType) override {
    if (direction != PINDIR_INPUT) return S_OK;
    avcodec_parameters_free(&parameters_);
    parameters_ = reel::CodecParametersFromMediaType(*mediaType);
    if (!parameters_) return VFW_E_TYPE_NOT_ACCEPTED;
    const VIDEOINFOHEADER* info = reel::VideoInfoOf(*mediaType);
    frameTime_ = info && info->AvgTimePerFrame > 0 ? info->AvgTimePerFrame : UNITS / 25;
    return S_OK;
  }

  HRESULT GetMediaType(int position, CMediaType* mediaType) override {
    if (!m_pInput->IsConnected() || !parameters_) return E_UNEXPECTED;
    // RGB24 is taken when downstream proposes it, but not offered: a filter
    // that needs it gets the colour converter in between.
    static const GUID* const offered[] = {&MEDIASUBTYPE_RGB32, &MEDIASUBTYPE_RGB565, &MEDIASUBTYPE_RGB555,
                                          &MEDIASUBTYPE_YUY2, &MEDIASUBTYPE_I420};
    if (position < 0) return E_INVALIDARG;
    if (position >= static_cast<int>(std::size(offered))) return VFW_S_NO_MORE_ITEMS;
    return reel::MakeVideoType(*offered[position], parameters_->width, parameters_->height, frameTime_, mediaType)
               ? S_OK
               : E_OUTOFMEMORY;
  }

  HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override {
    if (!parameters_ && FAILED(SetMediaType(PINDIR_INPUT, in))) return VFW_E_TYPE_NOT_ACCEPTED;
    if (!reel::IsUncompressedVideo(*out)) return VFW_E_TYPE_NOT_ACCEPTED;
    const BITMAPINFOHEADER* header = reel::BitmapHeaderOf(*out);
    if (header->biWidth != parameters_->width || std::abs(header->biHeight) != parameters_->height)
      return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
  }

  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    const BITMAPINFOHEADER* header = reel::BitmapHeaderOf(m_pOutput->CurrentMediaType());
    if (!header) return E_UNEXPECTED;
    request->cBuffers = std::max<LONG>(request->cBuffers, 3);
    request->cbBuffer = std::max<LONG>(request->cbBuffer, static_cast<LONG>(header->biSizeImage));
    ALLOCATOR_PROPERTIES actual{};
    HRESULT result = allocator->SetProperties(request, &actual);
    if (FAILED(result)) return result;
    return actual.cbBuffer < request->cbBuffer ? E_FAIL : S_OK;
  }

  HRESULT StartStreaming() override {
    if (!parameters_ || !codec_.Open(parameters_)) return VFW_E_NO_DECOMPRESSOR;
    discontinuity_ = true;
    return S_OK;
  }
  HRESULT StopStreaming() override {
    codec_.Close();
    return S_OK;
  }

  HRESULT Receive(IMediaSample* sample) override {
    return codec_.Decode(sample, [this](AVFrame* frame) { return DeliverFrame(frame); });
  }

  HRESULT EndOfStream() override {
    codec_.Decode(nullptr, [this](AVFrame* frame) { return DeliverFrame(frame); });
    return CTransformFilter::EndOfStream();
  }

  HRESULT EndFlush() override {
    {
      CAutoLock streaming(&m_csReceive);
      codec_.Flush();
      discontinuity_ = true;
    }
    return CTransformFilter::EndFlush();
  }

 private:
  HRESULT DeliverFrame(AVFrame* frame) {
    REFERENCE_TIME start = FrameTime(frame);
    if (start == AV_NOPTS_VALUE) start = lastStart_ + frameTime_;
    lastStart_ = start;
    // Frames before the segment start only brought the decoder up to it.
    if (start < 0) return S_OK;
    IMediaSample* out = nullptr;
    HRESULT result = m_pOutput->GetDeliveryBuffer(&out, nullptr, nullptr, 0);
    if (FAILED(result)) return result;
    const CMediaType& type = m_pOutput->CurrentMediaType();
    BYTE* data = nullptr;
    out->GetPointer(&data);
    if (!converter_.Convert(frame->data, frame->linesize, static_cast<AVPixelFormat>(frame->format), frame->width,
                            frame->height, type, data, out->GetSize())) {
      out->Release();
      return S_OK;  // a frame we cannot convert is dropped, not fatal
    }
    out->SetActualDataLength(static_cast<LONG>(type.GetSampleSize()));
    REFERENCE_TIME stop = start + frameTime_;
    out->SetTime(&start, &stop);
    out->SetSyncPoint(TRUE);
    out->SetDiscontinuity(discontinuity_);
    discontinuity_ = false;
    result = m_pOutput->Deliver(out);
    out->Release();
    return result;
  }

  AVCodecParameters* parameters_ = nullptr;
  REFERENCE_TIME frameTime_ = UNITS / 25;
  REFERENCE_TIME lastStart_ = 0;
  CodecSession codec_;
  reel::PictureConverter converter_;
  bool discontinuity_ = true;
};

// ---------------------------------------------------------------------------

class CAudioDecoder : public CTransformFilter {
 public:
  explicit CAudioDecoder(LPUNKNOWN outer) : CTransformFilter("audio decoder", outer, CLSID_MediaAudioDecoder) {}
  ~CAudioDecoder() override {
    avcodec_parameters_free(&parameters_);
    swr_free(&resampler_);
  }

  HRESULT CheckInputType(const CMediaType* mediaType) override {
    if (mediaType->majortype != MEDIATYPE_Audio || mediaType->subtype == MEDIASUBTYPE_PCM) return VFW_E_TYPE_NOT_ACCEPTED;
    AVCodecParameters* parameters = reel::CodecParametersFromMediaType(*mediaType);
    bool known = parameters && parameters->codec_type == AVMEDIA_TYPE_AUDIO && parameters->sample_rate > 0 &&
                 parameters->ch_layout.nb_channels > 0 && avcodec_find_decoder(parameters->codec_id);
    avcodec_parameters_free(&parameters);
    return known ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }

  HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* mediaType) override {
    if (direction != PINDIR_INPUT) return S_OK;
    avcodec_parameters_free(&parameters_);
    parameters_ = reel::CodecParametersFromMediaType(*mediaType);
    return parameters_ ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }

  int OutputChannels() const { return std::min(parameters_->ch_layout.nb_channels, 2); }

  HRESULT GetMediaType(int position, CMediaType* mediaType) override {
    if (!m_pInput->IsConnected() || !parameters_) return E_UNEXPECTED;
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    return reel::MakePcmType(parameters_->sample_rate, OutputChannels(), 16, mediaType) ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override {
    if (!parameters_ && FAILED(SetMediaType(PINDIR_INPUT, in))) return VFW_E_TYPE_NOT_ACCEPTED;
    CMediaType expected;
    GetMediaType(0, &expected);
    return *out == expected ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }

  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    // A quarter of a second per buffer; longer frames are split.
    request->cBuffers = std::max<LONG>(request->cBuffers, 8);
    request->cbBuffer = std::max<LONG>(request->cbBuffer, parameters_->sample_rate * OutputChannels() * 2 / 4);
    ALLOCATOR_PROPERTIES actual{};
    HRESULT result = allocator->SetProperties(request, &actual);
    if (FAILED(result)) return result;
    return actual.cbBuffer < request->cbBuffer ? E_FAIL : S_OK;
  }

  HRESULT StartStreaming() override {
    if (!parameters_ || !codec_.Open(parameters_)) return VFW_E_NO_DECOMPRESSOR;
    discontinuity_ = true;
    nextStart_ = AV_NOPTS_VALUE;
    return S_OK;
  }
  HRESULT StopStreaming() override {
    codec_.Close();
    swr_free(&resampler_);
    return S_OK;
  }

  HRESULT Receive(IMediaSample* sample) override {
    return codec_.Decode(sample, [this](AVFrame* frame) { return DeliverFrame(frame); });
  }
  HRESULT EndOfStream() override {
    codec_.Decode(nullptr, [this](AVFrame* frame) { return DeliverFrame(frame); });
    return CTransformFilter::EndOfStream();
  }
  HRESULT EndFlush() override {
    {
      CAutoLock streaming(&m_csReceive);
      codec_.Flush();
      discontinuity_ = true;
      nextStart_ = AV_NOPTS_VALUE;
    }
    return CTransformFilter::EndFlush();
  }

 private:
  bool PrepareResampler(AVFrame* frame) {
    if (resampler_ && frame->format == inputFormat_ && frame->sample_rate == inputRate_ &&
        frame->ch_layout.nb_channels == inputChannels_)
      return true;
    swr_free(&resampler_);
    AVChannelLayout outputLayout;
    av_channel_layout_default(&outputLayout, OutputChannels());
    int status = swr_alloc_set_opts2(&resampler_, &outputLayout, AV_SAMPLE_FMT_S16, parameters_->sample_rate,
                                     &frame->ch_layout, static_cast<AVSampleFormat>(frame->format),
                                     frame->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&outputLayout);
    if (status < 0 || swr_init(resampler_) < 0) {
      swr_free(&resampler_);
      return false;
    }
    inputFormat_ = frame->format;
    inputRate_ = frame->sample_rate;
    inputChannels_ = frame->ch_layout.nb_channels;
    return true;
  }

  HRESULT DeliverFrame(AVFrame* frame) {
    if (frame->nb_samples <= 0 || frame->sample_rate <= 0 || !PrepareResampler(frame)) return S_OK;
    int rate = parameters_->sample_rate;
    int blockAlign = OutputChannels() * 2;
    REFERENCE_TIME start = FrameTime(frame);
    if (start == AV_NOPTS_VALUE) start = nextStart_ == AV_NOPTS_VALUE ? 0 : nextStart_;
    int outputCount = static_cast<int>(av_rescale_rnd(frame->nb_samples, rate, frame->sample_rate, AV_ROUND_UP)) + 32;
    std::vector<uint8_t> pcm(static_cast<std::size_t>(outputCount) * blockAlign);
    uint8_t* outputs[1] = {pcm.data()};
    int converted = swr_convert(resampler_, outputs, outputCount, const_cast<const uint8_t**>(frame->extended_data),
                                frame->nb_samples);
    if (converted <= 0) return S_OK;
    REFERENCE_TIME length = av_rescale(converted, UNITS, rate);
    nextStart_ = start + length;
    // Sound wholly before the segment start only primed the decoder.
    if (start + length <= 0) return S_OK;
    std::size_t offset = 0;
    std::size_t total = static_cast<std::size_t>(converted) * blockAlign;
    while (offset < total) {
      IMediaSample* out = nullptr;
      HRESULT result = m_pOutput->GetDeliveryBuffer(&out, nullptr, nullptr, 0);
      if (FAILED(result)) return result;
      std::size_t chunk = std::min<std::size_t>(total - offset, static_cast<std::size_t>(out->GetSize()) / blockAlign * blockAlign);
      BYTE* data = nullptr;
      out->GetPointer(&data);
      std::memcpy(data, pcm.data() + offset, chunk);
      out->SetActualDataLength(static_cast<LONG>(chunk));
      REFERENCE_TIME chunkStart = start + av_rescale(static_cast<int64_t>(offset / blockAlign), UNITS, rate);
      REFERENCE_TIME chunkStop = start + av_rescale(static_cast<int64_t>((offset + chunk) / blockAlign), UNITS, rate);
      out->SetTime(&chunkStart, &chunkStop);
      out->SetSyncPoint(TRUE);
      out->SetDiscontinuity(discontinuity_);
      discontinuity_ = false;
      result = m_pOutput->Deliver(out);
      out->Release();
      if (result != S_OK) return result;
      offset += chunk;
    }
    return S_OK;
  }

  AVCodecParameters* parameters_ = nullptr;
  CodecSession codec_;
  SwrContext* resampler_ = nullptr;
  int inputFormat_ = -1;
  int inputRate_ = 0;
  int inputChannels_ = 0;
  REFERENCE_TIME nextStart_ = AV_NOPTS_VALUE;
  bool discontinuity_ = true;
};

template <typename Filter>
HRESULT CreateFilter(IUnknown* outer, REFIID riid, void** ppv) {
  return reel::CreateComObject<Filter>(outer, riid, ppv);
}

const bool kRegistered = [] {
  reel::RegisterBuiltinClass(CLSID_MediaVideoDecoder, &CreateFilter<CVideoDecoder>);
  reel::RegisterBuiltinClass(CLSID_MediaAudioDecoder, &CreateFilter<CAudioDecoder>);
  reel::RegisteredFilter video;
  video.clsid = CLSID_MediaVideoDecoder;
  video.name = u"Media Video Decoder";
  video.merit = MERIT_NORMAL;
  video.pins = {{u"Input", false, false, false, false, {{MEDIATYPE_Video, GUID_NULL}}},
                {u"Output", true, false, false, false, {{MEDIATYPE_Video, GUID_NULL}}}};
  reel::RegisterBuiltinFilter(video);
  reel::RegisteredFilter audio;
  audio.clsid = CLSID_MediaAudioDecoder;
  audio.name = u"Media Audio Decoder";
  audio.merit = MERIT_NORMAL;
  audio.pins = {{u"Input", false, false, false, false, {{MEDIATYPE_Audio, GUID_NULL}}},
                {u"Output", true, false, false, false, {{MEDIATYPE_Audio, MEDIASUBTYPE_PCM}}}};
  return reel::RegisterBuiltinFilter(audio);
}();

}  // namespace
