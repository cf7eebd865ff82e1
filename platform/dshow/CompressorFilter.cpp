// The video compressor filter (Compressor.h): a transform from an
// uncompressed picture to one compressed frame, on an FFmpeg encoder. Each
// compressor is one entry of the table at the end: its class, friendly
// name, encoder, FOURCC and default bit rate.
//
// Quality maps to a constant quantiser (1.0 gives the encoder's finest, 2;
// 0.0 its coarsest, 31); with the default quality (negative) the encoder
// aims at the bit rate of the output type, else at the entry's default.
#include <algorithm>
#include <cmath>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

#include "platform/com/ClassTable.h"
#include "platform/dshow/BaseFilter.h"
#include "platform/dshow/Compressor.h"
#include "platform/dshow/DShowControl.h"
#include "platform/dshow/FFmpegMediaTypes.h"
#include "platform/dshow/FilterRegistry.h"
#include "platform/dshow/PictureConversion.h"
#include "platform/dshow/TransformFilter.h"
#include "platform/win/Strings.h"

namespace {

struct CompressorEntry {
  const CLSID* clsid;
  const char16_t* name;
  const char* encoder;       // libavcodec encoder name
  DWORD fourcc;
  AVPixelFormat pixelFormat;  // what the encoder is fed
  long defaultBitRate;        // bits per second
  long defaultKeyFrameRate;   // frames between key frames; 1 for intra-only codecs
  bool temporal;              // frames depend on earlier frames
};

constexpr int kFinestQuantiser = 2;
constexpr int kCoarsestQuantiser = 31;

// Inputs the compressors take: the RGB DIBs and the YUV layouts that need
// no plane reordering.
bool AcceptedInput(const AM_MEDIA_TYPE& type) {
  if (!reel::IsUncompressedVideo(type)) return false;
  const GUID* accepted[] = {&MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_RGB32, &MEDIASUBTYPE_RGB555, &MEDIASUBTYPE_RGB565,
                            &MEDIASUBTYPE_YUY2,  &MEDIASUBTYPE_UYVY,  &MEDIASUBTYPE_I420};
  if (std::none_of(std::begin(accepted), std::end(accepted), [&](const GUID* subtype) { return *subtype == type.subtype; }))
    return false;
  const BITMAPINFOHEADER* header = reel::BitmapHeaderOf(type);
  int height = std::abs(header->biHeight);
  // 4:2:0 encoders need even sizes.
  return header->biWidth > 0 && header->biWidth <= 8192 && height > 0 && height <= 8192 && header->biWidth % 2 == 0 &&
         height % 2 == 0;
}

class CVideoCompressor : public CTransformFilter, public IAMVideoCompression {
 public:
  CVideoCompressor(LPUNKNOWN outer, const CompressorEntry& entry)
      : CTransformFilter("video compressor", outer, *entry.clsid), entry_(entry) {
    keyFrameRate_ = entry.defaultKeyFrameRate;
  }
  ~CVideoCompressor() override { CloseEncoder(); }

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IAMVideoCompression) return GetInterface(static_cast<IAMVideoCompression*>(this), ppv);
    return CTransformFilter::NonDelegatingQueryInterface(riid, ppv);
  }

  HRESULT CheckInputType(const CMediaType* mediaType) override {
    return AcceptedInput(*mediaType) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }

  HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override {
    if (!AcceptedInput(*in) || out->majortype != MEDIATYPE_Video || out->subtype != FourccSubtype(entry_.fourcc))
      return VFW_E_TYPE_NOT_ACCEPTED;
    const BITMAPINFOHEADER* input = reel::BitmapHeaderOf(*in);
    const BITMAPINFOHEADER* output = reel::BitmapHeaderOf(*out);
    if (!output || output->biCompression != entry_.fourcc || output->biWidth != input->biWidth ||
        std::abs(output->biHeight) != std::abs(input->biHeight))
      return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
  }

  HRESULT GetMediaType(int position, CMediaType* mediaType) override {
    if (!m_pInput->IsConnected()) return E_UNEXPECTED;
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    const CMediaType& input = m_pInput->CurrentMediaType();
    const BITMAPINFOHEADER* header = reel::BitmapHeaderOf(input);
    const VIDEOINFOHEADER* inputInfo = reel::VideoInfoOf(input);
    mediaType->InitMediaType();
    mediaType->SetType(&MEDIATYPE_Video);
    GUID subtype = FourccSubtype(entry_.fourcc);
    mediaType->SetSubtype(&subtype);
    mediaType->SetFormatType(&FORMAT_VideoInfo);
    mediaType->SetTemporalCompression(entry_.temporal);
    mediaType->SetVariableSize();
    auto* info = reinterpret_cast<VIDEOINFOHEADER*>(mediaType->AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    if (!info) return E_OUTOFMEMORY;
    info->AvgTimePerFrame = inputInfo ? inputInfo->AvgTimePerFrame : 0;
    info->dwBitRate = static_cast<DWORD>(entry_.defaultBitRate);
    info->rcSource = RECT{0, 0, header->biWidth, std::abs(header->biHeight)};
    info->rcTarget = info->rcSource;
    BITMAPINFOHEADER& out = info->bmiHeader;
    out.biSize = sizeof(BITMAPINFOHEADER);
    out.biWidth = header->biWidth;
    out.biHeight = std::abs(header->biHeight);
    out.biPlanes = 1;
    out.biBitCount = 24;
    out.biCompression = entry_.fourcc;
    out.biSizeImage = static_cast<DWORD>(MaximumFrameBytes(out.biWidth, out.biHeight));
    return S_OK;
  }

  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    const BITMAPINFOHEADER* header = reel::BitmapHeaderOf(m_pOutput->CurrentMediaType());
    if (!header) return E_UNEXPECTED;
    request->cBuffers = std::max<LONG>(request->cBuffers, 2);
    request->cbBuffer = std::max<LONG>(request->cbBuffer, MaximumFrameBytes(header->biWidth, header->biHeight));
    ALLOCATOR_PROPERTIES actual{};
    HRESULT result = allocator->SetProperties(request, &actual);
    if (FAILED(result)) return result;
    return actual.cbBuffer < request->cbBuffer ? E_FAIL : S_OK;
  }

  HRESULT StartStreaming() override {
    std::lock_guard<std::mutex> hold(settingsLock_);
    return OpenEncoder();
  }
  HRESULT StopStreaming() override {
    CloseEncoder();
    return S_OK;
  }

  HRESULT Receive(IMediaSample* sample) override {
    if (!context_) return VFW_E_WRONG_STATE;
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || !data) return E_POINTER;
    uint8_t* planes[4] = {};
    int strides[4] = {};
    if (!reel::PicturePlanes(m_pInput->CurrentMediaType(), data, sample->GetActualDataLength(), planes, strides))
      return E_INVALIDARG;
    if (av_frame_make_writable(frame_) < 0) return E_OUTOFMEMORY;
    sws_scale(scaler_, planes, strides, 0, context_->height, frame_->data, frame_->linesize);
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    frame_->pts = SUCCEEDED(sample->GetTime(&start, &stop)) ? std::max(nextPts_, reel::FromReferenceTime(start, context_->time_base))
                                                        : nextPts_;
    nextPts_ = frame_->pts + 1;
    frame_->pict_type = AV_PICTURE_TYPE_NONE;
    // With a constant quantiser the encoders read it from each frame.
    frame_->quality = context_->global_quality;
    if (avcodec_send_frame(context_, frame_) < 0) return Fail(E_FAIL);
    return DeliverPackets();
  }

  HRESULT EndOfStream() override {
    if (context_) {
      CAutoLock streaming(&m_csReceive);
      avcodec_send_frame(context_, nullptr);
      DeliverPackets();
    }
    return CTransformFilter::EndOfStream();
  }

  // IAMVideoCompression
  HRESULT put_KeyFrameRate(long keyFrameRate) override {
    if (keyFrameRate < 0) return E_INVALIDARG;
    std::lock_guard<std::mutex> hold(settingsLock_);
    keyFrameRate_ = keyFrameRate;
    return S_OK;
  }
  HRESULT get_KeyFrameRate(long* keyFrameRate) override {
    if (!keyFrameRate) return E_POINTER;
    std::lock_guard<std::mutex> hold(settingsLock_);
    *keyFrameRate = keyFrameRate_;
    return S_OK;
  }
  HRESULT put_PFramesPerKeyFrame(long) override { return E_NOTIMPL; }
  HRESULT get_PFramesPerKeyFrame(long*) override { return E_NOTIMPL; }
  HRESULT put_Quality(double quality) override {
    if (quality > 1.0 || std::isnan(quality)) return E_INVALIDARG;
    std::lock_guard<std::mutex> hold(settingsLock_);
    quality_ = quality < 0 ? -1.0 : quality;
    return S_OK;
  }
  HRESULT get_Quality(double* quality) override {
    if (!quality) return E_POINTER;
    std::lock_guard<std::mutex> hold(settingsLock_);
    *quality = quality_;
    return S_OK;
  }
  HRESULT put_WindowSize(unsigned long long) override { return E_NOTIMPL; }
  HRESULT get_WindowSize(unsigned long long*) override { return E_NOTIMPL; }
  HRESULT GetInfo(LPWSTR version, int* versionLength, LPWSTR description, int* descriptionLength,
                  long* defaultKeyFrameRate, long* defaultPFramesPerKey, double* defaultQuality,
                  long* capabilities) override {
    // Lengths are in bytes, as the interface counts them.
    auto copy = [](const std::u16string& text, LPWSTR target, int* length) {
      if (!length) return;
      int characters = *length / static_cast<int>(sizeof(WCHAR));
      if (target && characters > 0) reel::CopyWideName(target, static_cast<std::size_t>(characters), text);
      *length = static_cast<int>((text.size() + 1) * sizeof(WCHAR));
    };
    copy(reel::Utf8ToUtf16(LIBAVCODEC_IDENT), version, versionLength);
    copy(entry_.name, description, descriptionLength);
    if (defaultKeyFrameRate) *defaultKeyFrameRate = entry_.defaultKeyFrameRate;
    if (defaultPFramesPerKey) *defaultPFramesPerKey = 0;
    if (defaultQuality) *defaultQuality = -1.0;
    if (capabilities) *capabilities = CompressionCaps_CanQuality | CompressionCaps_CanKeyFrame;
    return S_OK;
  }
  HRESULT OverrideKeyFrame(long) override { return E_NOTIMPL; }
  HRESULT OverrideFrameSize(long, long) override { return E_NOTIMPL; }

 private:
  // Room for the largest frame an encoder can produce from a picture.
  static LONG MaximumFrameBytes(LONG width, LONG height) { return width * std::abs(height) * 3 + 4096; }

  // Under settingsLock_.
  HRESULT OpenEncoder() {
    CloseEncoder();
    const AVCodec* codec = avcodec_find_encoder_by_name(entry_.encoder);
    const CMediaType& input = m_pInput->CurrentMediaType();
    const CMediaType& output = m_pOutput->CurrentMediaType();
    const BITMAPINFOHEADER* header = reel::BitmapHeaderOf(input);
    const VIDEOINFOHEADER* outputInfo = reel::VideoInfoOf(output);
    if (!codec || !header || !outputInfo) return VFW_E_NO_TRANSPORT;
    context_ = avcodec_alloc_context3(codec);
    frame_ = av_frame_alloc();
    if (!context_ || !frame_) return Cleanup(E_OUTOFMEMORY);
    context_->width = header->biWidth;
    context_->height = std::abs(header->biHeight);
    context_->pix_fmt = entry_.pixelFormat;
    context_->codec_tag = entry_.fourcc;
    REFERENCE_TIME frameTime = outputInfo->AvgTimePerFrame > 0 ? outputInfo->AvgTimePerFrame : UNITS / 25;
    av_reduce(&context_->time_base.num, &context_->time_base.den, frameTime, UNITS, INT32_MAX);
    context_->framerate = av_inv_q(context_->time_base);
    context_->max_b_frames = 0;
    context_->gop_size = keyFrameRate_ > 0 ? static_cast<int>(keyFrameRate_) : 12;
    if (quality_ >= 0) {
      int quantiser = static_cast<int>(std::lround(kCoarsestQuantiser - quality_ * (kCoarsestQuantiser - kFinestQuantiser)));
      context_->flags |= AV_CODEC_FLAG_QSCALE;
      context_->global_quality = FF_QP2LAMBDA * quantiser;
    } else {
      long bitRate = outputInfo->dwBitRate > 0 ? static_cast<long>(outputInfo->dwBitRate) : entry_.defaultBitRate;
      context_->bit_rate = bitRate;
    }
    if (avcodec_open2(context_, codec, nullptr) < 0) return Cleanup(VFW_E_NO_TRANSPORT);
    frame_->format = context_->pix_fmt;
    frame_->width = context_->width;
    frame_->height = context_->height;
    if (av_frame_get_buffer(frame_, 0) < 0) return Cleanup(E_OUTOFMEMORY);
    scaler_ = sws_getContext(context_->width, context_->height, reel::PixelFormatOfSubtype(input.subtype),
                             context_->width, context_->height, context_->pix_fmt, SWS_BICUBIC, nullptr, nullptr,
                             nullptr);
    if (!scaler_) return Cleanup(E_FAIL);
    packet_ = av_packet_alloc();
    if (!packet_) return Cleanup(E_OUTOFMEMORY);
    nextPts_ = 0;
    return S_OK;
  }
  HRESULT Cleanup(HRESULT result) {
    CloseEncoder();
    return result;
  }
  void CloseEncoder() {
    avcodec_free_context(&context_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    sws_freeContext(scaler_);
    scaler_ = nullptr;
  }

  HRESULT Fail(HRESULT result) {
    NotifyEvent(EC_ERRORABORT, result, 0);
    return result;
  }

  HRESULT DeliverPackets() {
    for (;;) {
      int received = avcodec_receive_packet(context_, packet_);
      if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) return S_OK;
      if (received < 0) return Fail(E_FAIL);
      HRESULT result = DeliverPacket();
      av_packet_unref(packet_);
      if (result != S_OK) return result;
    }
  }
  HRESULT DeliverPacket() {
    IMediaSample* out = nullptr;
    HRESULT result = m_pOutput->GetDeliveryBuffer(&out, nullptr, nullptr, 0);
    if (FAILED(result)) return result;
    BYTE* data = nullptr;
    if (FAILED(out->GetPointer(&data)) || !data || out->GetSize() < packet_->size) {
      out->Release();
      return Fail(E_FAIL);
    }
    std::copy(packet_->data, packet_->data + packet_->size, data);
    out->SetActualDataLength(packet_->size);
    REFERENCE_TIME start = reel::ToReferenceTime(packet_->pts, context_->time_base);
    REFERENCE_TIME stop = reel::ToReferenceTime(packet_->pts + 1, context_->time_base);
    out->SetTime(&start, &stop);
    out->SetSyncPoint((packet_->flags & AV_PKT_FLAG_KEY) != 0);
    result = m_pOutput->Deliver(out);
    out->Release();
    return result;
  }

  const CompressorEntry& entry_;
  std::mutex settingsLock_;
  long keyFrameRate_ = 0;
  double quality_ = -1.0;
  // The encoder of the current run; used on the streaming thread.
  AVCodecContext* context_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
  SwsContext* scaler_ = nullptr;
  int64_t nextPts_ = 0;
};

const CompressorEntry kCompressors[] = {
    {&CLSID_MjpegCompressor, u"MJPEG Compressor", "mjpeg", MAKEFOURCC('M', 'J', 'P', 'G'), AV_PIX_FMT_YUVJ420P,
     8000000, 1, false},
    {&CLSID_Mpeg4Compressor, u"Xvid MPEG-4 Codec", "mpeg4", MAKEFOURCC('X', 'V', 'I', 'D'), AV_PIX_FMT_YUV420P,
     1000000, 12, true},
};

template <std::size_t Index>
HRESULT CreateCompressor(IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (outer && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
  auto* filter = new (std::nothrow) CVideoCompressor(outer, kCompressors[Index]);
  if (!filter) return E_OUTOFMEMORY;
  filter->NonDelegatingAddRef();
  HRESULT result = filter->NonDelegatingQueryInterface(riid, ppv);
  filter->NonDelegatingRelease();
  return result;
}

const bool kRegistered = [] {
  const reel::CreateFunction creators[] = {&CreateCompressor<0>, &CreateCompressor<1>};
  static_assert(std::size(creators) == std::size(kCompressors));
  bool registered = true;
  for (std::size_t index = 0; index < std::size(kCompressors); ++index) {
    const CompressorEntry& entry = kCompressors[index];
    reel::RegisterBuiltinClass(*entry.clsid, creators[index]);
    reel::RegisteredFilter filter;
    filter.clsid = *entry.clsid;
    filter.name = entry.name;
    filter.merit = MERIT_DO_NOT_USE;
    filter.category = CLSID_VideoCompressorCategory;
    filter.pins = {{u"Input", false, false, false, false, {{MEDIATYPE_Video, GUID_NULL}}},
                   {u"Output", true, false, false, false, {{MEDIATYPE_Video, FourccSubtype(entry.fourcc)}}}};
    registered = reel::RegisterBuiltinFilter(filter) && registered;
  }
  return registered;
}();

}  // namespace
