// The video compressor filter (Compressor.h): a transform from an
// uncompressed picture to one compressed frame, on an FFmpeg encoder. Each
// compressor is one entry of the table at the end: its class, friendly
// name, encoder, FOURCC, the picture the encoder is fed and which settings
// the codec has. The table is the only place a codec is described: the
// category, the settings and the codec information functions
// (VideoCodecs.cpp) all read it.
//
// Settings, where the codec has them:
// - quality: a constant quantiser for the MPEG-style encoders (1.0 gives
//   the finest, 2; 0.0 the coarsest, 31), a constant rate factor for H.264
//   (1.0 gives 10, 0.0 gives 40), and for Cinepak the weight of size against
//   distortion in its codebook choices (Cinepak has no quantiser: 1.0 gives
//   almost pure fidelity, 0.0 small frames); with the default quality
//   (negative) the encoder aims at the bit rate of the output type, else at
//   the codec's current bit rate, within a quarter of a second's bits;
// - key-frame interval: the group length, or for Microsoft Video 1 the
//   longest run of frames between key frames;
// - the lossless codecs (Huffyuv, FFV1) and DV have none: every frame is a
//   key frame.
//
// The DV encoder writes frames of a television standard (IDVEnc): NTSC
// 720x480 at 29.97 frames per second or PAL 720x576 at 25, whatever the
// input. It scales each picture to the DV frame and converts the frame
// rate by repeating or dropping pictures: each DV frame shows the picture
// on screen at the middle of the frame's time, so a stream of any rate
// gets the number of DV frames nearest to its length.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
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

enum class QualityControl { None, Quantiser, RateFactor, RateDistortionWeight };
enum class KeyFrameControl {
  IntraOnly,        // every frame is a key frame
  GroupOfPictures,  // gop_size: a key frame every n frames
  MinimumInterval,  // keyint_min: a key frame after n - 1 frames that are not
};

struct CompressorEntry {
  const CLSID* clsid;
  const char16_t* name;
  const char* encoder;        // libavcodec encoder name
  DWORD fourcc;
  AVPixelFormat pixelFormat;  // what the encoder is fed (DV: by standard)
  int sizeMultiple;           // width and height must be multiples of it
  QualityControl quality;
  KeyFrameControl keyFrames;
  long defaultKeyFrameRate;   // frames between key frames; 1 for intra-only codecs
  long defaultBitRate;        // bits per second; 0 for codecs without rate control
  bool televisionFrames;      // DV: frames of the standard IDVEnc chooses
};

constexpr int kFinestQuantiser = 2;
constexpr int kCoarsestQuantiser = 31;
constexpr double kFinestRateFactor = 10;
constexpr double kCoarsestRateFactor = 40;
// Cinepak's weight of bits against distortion, in FF_LAMBDA_SCALE units:
// its default is 256; size hardly changes above the coarsest, and
// fidelity hardly improves below the finest.
constexpr double kFinestWeight = 8;
constexpr double kCoarsestWeight = 120000;

// The two DV25 frame formats (IEC 61834 "dvsd"): NTSC samples chroma 4:1:1,
// PAL 4:2:0.
struct TelevisionStandard {
  int width;
  int height;
  AVRational frameRate;
  AVPixelFormat pixelFormat;
  int frameBytes;
};
constexpr TelevisionStandard kNtsc{720, 480, {30000, 1001}, AV_PIX_FMT_YUV411P, 120000};
constexpr TelevisionStandard kPal{720, 576, {25, 1}, AV_PIX_FMT_YUV420P, 144000};

bool EncoderPresent(const CompressorEntry& entry) { return avcodec_find_encoder_by_name(entry.encoder) != nullptr; }

bool TemporalCodec(const CompressorEntry& entry) { return entry.keyFrames != KeyFrameControl::IntraOnly; }

// The sizes a codec can take: its own rule and its pixel format's chroma
// subsampling. DV scales every picture, so any size does.
bool SizeFits(const CompressorEntry& entry, int width, int height) {
  if (entry.televisionFrames) return true;
  const AVPixFmtDescriptor* format = av_pix_fmt_desc_get(entry.pixelFormat);
  int widthMultiple = std::max(entry.sizeMultiple, format ? 1 << format->log2_chroma_w : 1);
  int heightMultiple = std::max(entry.sizeMultiple, format ? 1 << format->log2_chroma_h : 1);
  return width % widthMultiple == 0 && height % heightMultiple == 0;
}

// Inputs the compressors take: the RGB DIBs and the YUV layouts that need
// no plane reordering, at a size the codec can take.
bool AcceptedInput(const CompressorEntry& entry, const AM_MEDIA_TYPE& type) {
  if (!reel::IsUncompressedVideo(type)) return false;
  const GUID* accepted[] = {&MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_RGB32, &MEDIASUBTYPE_RGB555, &MEDIASUBTYPE_RGB565,
                            &MEDIASUBTYPE_YUY2,  &MEDIASUBTYPE_UYVY,  &MEDIASUBTYPE_I420};
  if (std::none_of(std::begin(accepted), std::end(accepted), [&](const GUID* subtype) { return *subtype == type.subtype; }))
    return false;
  const BITMAPINFOHEADER* header = reel::BitmapHeaderOf(type);
  int height = std::abs(header->biHeight);
  return header->biWidth > 0 && header->biWidth <= 8192 && height > 0 && height <= 8192 &&
         SizeFits(entry, header->biWidth, height);
}

// Settings of the process, per codec: what new compressors start with.
std::mutex& SettingsLock() {
  static std::mutex lock;
  return lock;
}
std::map<const CompressorEntry*, reel::VideoCodecSettings>& StoredSettings() {
  static std::map<const CompressorEntry*, reel::VideoCodecSettings> settings;
  return settings;
}

reel::VideoCodecSettings DefaultSettings(const CompressorEntry& entry) {
  reel::VideoCodecSettings settings;
  settings.keyFrameRate = entry.defaultKeyFrameRate;
  settings.bitRate = entry.defaultBitRate;
  return settings;
}

reel::VideoCodecSettings SettingsOf(const CompressorEntry& entry) {
  std::lock_guard<std::mutex> hold(SettingsLock());
  auto stored = StoredSettings().find(&entry);
  return stored != StoredSettings().end() ? stored->second : DefaultSettings(entry);
}

bool ValidQuality(double quality) { return !std::isnan(quality) && quality <= 1.0; }

// What the encoder makes of the current input and settings.
struct EncoderSetup {
  int width = 0;
  int height = 0;
  AVPixelFormat pixelFormat = AV_PIX_FMT_NONE;
  AVRational timeBase{1, 25};
  double quality = -1.0;
  long keyFrameRate = 0;
  long bitRate = 0;
};

// An opened encoder for the setup, or null.
AVCodecContext* OpenCodec(const CompressorEntry& entry, const EncoderSetup& setup) {
  const AVCodec* codec = avcodec_find_encoder_by_name(entry.encoder);
  if (!codec) return nullptr;
  AVCodecContext* context = avcodec_alloc_context3(codec);
  if (!context) return nullptr;
  context->width = setup.width;
  context->height = setup.height;
  context->pix_fmt = setup.pixelFormat;
  context->codec_tag = entry.fourcc;
  context->time_base = setup.timeBase;
  context->framerate = av_inv_q(setup.timeBase);
  context->max_b_frames = 0;
  long interval = setup.keyFrameRate > 0 ? setup.keyFrameRate : entry.defaultKeyFrameRate;
  switch (entry.keyFrames) {
    case KeyFrameControl::IntraOnly:
      context->gop_size = 1;
      break;
    case KeyFrameControl::GroupOfPictures:
      context->gop_size = static_cast<int>(interval);
      context->keyint_min = context->gop_size;
      // Key frames exactly at the interval, not also at scene cuts.
      if (std::strcmp(entry.encoder, "libx264") == 0) av_opt_set(context->priv_data, "x264-params", "scenecut=0", 0);
      break;
    case KeyFrameControl::MinimumInterval:
      context->keyint_min = static_cast<int>(interval) - 1;
      break;
  }
  if (setup.quality >= 0 && entry.quality == QualityControl::Quantiser) {
    int quantiser = static_cast<int>(std::lround(kCoarsestQuantiser - setup.quality * (kCoarsestQuantiser - kFinestQuantiser)));
    context->flags |= AV_CODEC_FLAG_QSCALE;
    context->global_quality = FF_QP2LAMBDA * quantiser;
  } else if (setup.quality >= 0 && entry.quality == QualityControl::RateFactor) {
    double factor = kCoarsestRateFactor - setup.quality * (kCoarsestRateFactor - kFinestRateFactor);
    av_opt_set_double(context->priv_data, "crf", factor, 0);
  } else if (setup.quality >= 0 && entry.quality == QualityControl::RateDistortionWeight) {
    // Geometric: each step of quality changes the weight by the same ratio.
    double weight = kCoarsestWeight * std::pow(kFinestWeight / kCoarsestWeight, setup.quality);
    // The encoder reads the weight from each frame's quality, offset by one
    // (0 there means its default).
    context->global_quality = static_cast<int>(std::lround(weight)) + 1;
  } else if (entry.defaultBitRate > 0) {
    context->bit_rate = setup.bitRate > 0 ? setup.bitRate : entry.defaultBitRate;
    // libavcodec lets a stream stray 4 Mbit from its rate by default, more
    // than a short clip at a low rate holds: the rate would not be kept.
    context->bit_rate_tolerance = static_cast<int>(std::clamp<int64_t>(context->bit_rate / 4, 1, INT32_MAX));
  }
  if (avcodec_open2(context, codec, nullptr) < 0) avcodec_free_context(&context);
  return context;
}

class CVideoCompressor : public CTransformFilter, public IAMVideoCompression, public IDVEnc {
 public:
  CVideoCompressor(LPUNKNOWN outer, const CompressorEntry& entry)
      : CTransformFilter("video compressor", outer, *entry.clsid), entry_(entry) {
    reel::VideoCodecSettings settings = SettingsOf(entry);
    quality_ = settings.quality;
    keyFrameRate_ = settings.keyFrameRate;
    bitRate_ = settings.bitRate;
  }
  ~CVideoCompressor() override { CloseEncoder(); }

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IAMVideoCompression) return GetInterface(static_cast<IAMVideoCompression*>(this), ppv);
    if (riid == IID_IDVEnc && entry_.televisionFrames) return GetInterface(static_cast<IDVEnc*>(this), ppv);
    return CTransformFilter::NonDelegatingQueryInterface(riid, ppv);
  }

  HRESULT CheckInputType(const CMediaType* mediaType) override {
    return AcceptedInput(entry_, *mediaType) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }

  HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override {
    if (!AcceptedInput(entry_, *in) || out->majortype != MEDIATYPE_Video || out->subtype != FourccSubtype(entry_.fourcc))
      return VFW_E_TYPE_NOT_ACCEPTED;
    EncoderSetup setup = SetupFor(*in);
    const BITMAPINFOHEADER* output = reel::BitmapHeaderOf(*out);
    if (!output || output->biCompression != entry_.fourcc || output->biWidth != setup.width ||
        std::abs(output->biHeight) != setup.height)
      return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
  }

  HRESULT BreakConnect(PIN_DIRECTION direction) override {
    if (direction == PINDIR_INPUT) outputTypeReady_ = false;
    return S_OK;
  }

  HRESULT GetMediaType(int position, CMediaType* mediaType) override {
    if (!m_pInput->IsConnected()) return E_UNEXPECTED;
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    if (!outputTypeReady_) {
      HRESULT result = MakeOutputType(m_pInput->CurrentMediaType(), &outputType_);
      if (FAILED(result)) return result;
      outputTypeReady_ = true;
    }
    return mediaType->Set(outputType_);
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
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    bool timed = SUCCEEDED(sample->GetTime(&start, &stop));
    if (!timed) {
      start = nextInputStart_;
      stop = start + inputFrameTime_;
    } else if (stop <= start) {
      stop = start + inputFrameTime_;
    }
    nextInputStart_ = stop;

    if (entry_.televisionFrames) {
      // The picture held so far fills the frames whose middle comes before
      // this one starts.
      if (holding_) {
        HRESULT result = EncodeHeldUntil(start);
        if (result != S_OK) return result;
      }
      holding_ = true;
    }
    if (av_frame_make_writable(frame_) < 0) return E_OUTOFMEMORY;
    sws_scale(scaler_, planes, strides, 0, inputHeight_, frame_->data, frame_->linesize);
    if (entry_.televisionFrames) {
      heldStop_ = stop;
      return S_OK;
    }
    frame_->pts = timed ? std::max(nextPts_, reel::FromReferenceTime(start, context_->time_base)) : nextPts_;
    nextPts_ = frame_->pts + 1;
    return EncodeFrame();
  }

  HRESULT EndOfStream() override {
    if (context_) {
      CAutoLock streaming(&m_csReceive);
      if (entry_.televisionFrames && holding_) {
        // The last picture lasts until its stop time; a stream makes one
        // frame at least.
        EncodeHeldUntil(nextPts_ == 0 ? std::max(heldStop_, SlotMiddle(0) + 1) : heldStop_);
        holding_ = false;
      }
      avcodec_send_frame(context_, nullptr);
      DeliverPackets();
    }
    return CTransformFilter::EndOfStream();
  }

  // IAMVideoCompression
  HRESULT put_KeyFrameRate(long keyFrameRate) override {
    if (keyFrameRate < 0 || keyFrameRate > reel::kLongestKeyFrameInterval) return E_INVALIDARG;
    // Intra-only codecs make a key frame of every frame: nothing to choose.
    if (!TemporalCodec(entry_)) return keyFrameRate <= 1 ? S_OK : E_NOTIMPL;
    std::lock_guard<std::mutex> hold(settingsLock_);
    keyFrameRate_ = keyFrameRate;
    return S_OK;
  }
  HRESULT get_KeyFrameRate(long* keyFrameRate) override {
    if (!keyFrameRate) return E_POINTER;
    std::lock_guard<std::mutex> hold(settingsLock_);
    *keyFrameRate = TemporalCodec(entry_) ? keyFrameRate_ : 1;
    return S_OK;
  }
  HRESULT put_PFramesPerKeyFrame(long) override { return E_NOTIMPL; }
  HRESULT get_PFramesPerKeyFrame(long*) override { return E_NOTIMPL; }
  HRESULT put_Quality(double quality) override {
    if (!ValidQuality(quality)) return E_INVALIDARG;
    if (entry_.quality == QualityControl::None) return quality < 0 ? S_OK : E_NOTIMPL;
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
    if (capabilities) {
      long flags = 0;
      if (entry_.quality != QualityControl::None) flags |= CompressionCaps_CanQuality;
      if (TemporalCodec(entry_)) flags |= CompressionCaps_CanKeyFrame;
      if (entry_.defaultBitRate > 0) flags |= CompressionCaps_CanCrunch;
      *capabilities = flags;
    }
    return S_OK;
  }
  HRESULT OverrideKeyFrame(long) override { return E_NOTIMPL; }
  HRESULT OverrideFrameSize(long, long) override { return E_NOTIMPL; }

  // IDVEnc. The resolution names the size a DV decoder shows the stream at
  // (full, half, quarter or eighth of the frame, in NTSC terms for both
  // standards): the stream itself always holds full frames of the standard,
  // so the value is kept and answered but does not change what is written.
  HRESULT get_IFormatResolution(int* videoFormat, int* dvFormat, int* resolution, BYTE fDVInfo,
                                DVINFO* dvInfo) override {
    if (!videoFormat || !dvFormat || !resolution) return E_POINTER;
    // The auxiliary packs come from the encoder's stream; they are not
    // offered here.
    if (fDVInfo) return dvInfo ? E_NOTIMPL : E_POINTER;
    CAutoLock state(&m_csFilter);
    *videoFormat = pal_ ? DVENCODERVIDEOFORMAT_PAL : DVENCODERVIDEOFORMAT_NTSC;
    *dvFormat = DVENCODERFORMAT_DVSD;
    *resolution = resolution_;
    return S_OK;
  }
  HRESULT put_IFormatResolution(int videoFormat, int dvFormat, int resolution, BYTE fDVInfo, DVINFO* dvInfo) override {
    if (videoFormat != DVENCODERVIDEOFORMAT_NTSC && videoFormat != DVENCODERVIDEOFORMAT_PAL) return E_INVALIDARG;
    if (resolution < DVENCODERRESOLUTION_720x480 || resolution > DVENCODERRESOLUTION_88x60) return E_INVALIDARG;
    if (dvFormat != DVENCODERFORMAT_DVSD && dvFormat != DVENCODERFORMAT_DVHD && dvFormat != DVENCODERFORMAT_DVSL)
      return E_INVALIDARG;
    // Only standard-definition DV (DVSD) can be made: the high-definition
    // and long-play variants have no encoder here.
    if (dvFormat != DVENCODERFORMAT_DVSD) return E_NOTIMPL;
    // The packs are the encoder's own; a caller's cannot be written.
    if (fDVInfo) return dvInfo ? E_NOTIMPL : E_POINTER;
    CAutoLock state(&m_csFilter);
    bool pal = videoFormat == DVENCODERVIDEOFORMAT_PAL;
    if (pal != pal_ && m_pOutput && m_pOutput->IsConnected()) return VFW_E_ALREADY_CONNECTED;
    if (!IsStopped()) return VFW_E_NOT_STOPPED;
    pal_ = pal;
    resolution_ = resolution;
    outputTypeReady_ = false;
    return S_OK;
  }

 private:
  // Room for the largest frame an encoder can produce from a picture.
  static LONG MaximumFrameBytes(LONG width, LONG height) { return width * std::abs(height) * 3 + 4096; }

  const TelevisionStandard& Standard() const { return pal_ ? kPal : kNtsc; }

  EncoderSetup SetupFor(const AM_MEDIA_TYPE& input) {
    EncoderSetup setup;
    if (entry_.televisionFrames) {
      const TelevisionStandard& standard = Standard();
      setup.width = standard.width;
      setup.height = standard.height;
      setup.pixelFormat = standard.pixelFormat;
      setup.timeBase = av_inv_q(standard.frameRate);
    } else {
      const BITMAPINFOHEADER* header = reel::BitmapHeaderOf(input);
      setup.width = header ? header->biWidth : 0;
      setup.height = header ? std::abs(header->biHeight) : 0;
      setup.pixelFormat = entry_.pixelFormat;
      const VIDEOINFOHEADER* info = reel::VideoInfoOf(input);
      REFERENCE_TIME frameTime = info && info->AvgTimePerFrame > 0 ? info->AvgTimePerFrame : UNITS / 25;
      av_reduce(&setup.timeBase.num, &setup.timeBase.den, frameTime, UNITS, INT32_MAX);
    }
    std::lock_guard<std::mutex> hold(settingsLock_);
    setup.quality = quality_;
    setup.keyFrameRate = keyFrameRate_;
    setup.bitRate = bitRate_;
    return setup;
  }

  REFERENCE_TIME FrameTime(const EncoderSetup& setup) const {
    return av_rescale(UNITS, setup.timeBase.num, setup.timeBase.den);
  }

  // The output type: the codec's FOURCC at the encoder's size and rate, with
  // the headers the encoder makes at opening (Huffyuv's tables, say) behind
  // the VIDEOINFOHEADER, where a reader of the file expects them.
  HRESULT MakeOutputType(const CMediaType& input, CMediaType* mediaType) {
    EncoderSetup setup = SetupFor(input);
    AVCodecContext* trial = OpenCodec(entry_, setup);
    if (!trial) return VFW_E_TYPE_NOT_ACCEPTED;
    int extraSize = trial->extradata && trial->extradata_size > 0 ? trial->extradata_size : 0;
    int bitsPerSample = trial->bits_per_coded_sample > 0 ? trial->bits_per_coded_sample : 24;
    mediaType->InitMediaType();
    mediaType->SetType(&MEDIATYPE_Video);
    GUID subtype = FourccSubtype(entry_.fourcc);
    mediaType->SetSubtype(&subtype);
    mediaType->SetFormatType(&FORMAT_VideoInfo);
    mediaType->SetTemporalCompression(TemporalCodec(entry_));
    mediaType->SetVariableSize();
    auto* info = reinterpret_cast<VIDEOINFOHEADER*>(
        mediaType->AllocFormatBuffer(static_cast<ULONG>(sizeof(VIDEOINFOHEADER) + extraSize)));
    if (!info) {
      avcodec_free_context(&trial);
      return E_OUTOFMEMORY;
    }
    std::memset(info, 0, sizeof(VIDEOINFOHEADER));
    if (extraSize) std::memcpy(info + 1, trial->extradata, static_cast<std::size_t>(extraSize));
    avcodec_free_context(&trial);
    info->AvgTimePerFrame = FrameTime(setup);
    if (entry_.televisionFrames)
      info->dwBitRate = static_cast<DWORD>(av_rescale(Standard().frameBytes * 8LL, Standard().frameRate.num,
                                                      Standard().frameRate.den));
    else
      info->dwBitRate = static_cast<DWORD>(setup.bitRate > 0 ? setup.bitRate : entry_.defaultBitRate);
    info->rcSource = RECT{0, 0, setup.width, setup.height};
    info->rcTarget = info->rcSource;
    BITMAPINFOHEADER& out = info->bmiHeader;
    out.biSize = static_cast<DWORD>(sizeof(BITMAPINFOHEADER) + extraSize);
    out.biWidth = setup.width;
    out.biHeight = setup.height;
    out.biPlanes = 1;
    out.biBitCount = static_cast<WORD>(bitsPerSample);
    out.biCompression = entry_.fourcc;
    out.biSizeImage = static_cast<DWORD>(entry_.televisionFrames ? Standard().frameBytes
                                                                 : MaximumFrameBytes(setup.width, setup.height));
    return S_OK;
  }

  // The headers the connected output type carries.
  std::pair<const BYTE*, std::size_t> ConnectedHeaders() {
    const CMediaType& output = m_pOutput->CurrentMediaType();
    if (output.cbFormat <= sizeof(VIDEOINFOHEADER)) return {nullptr, 0};
    return {output.pbFormat + sizeof(VIDEOINFOHEADER), output.cbFormat - sizeof(VIDEOINFOHEADER)};
  }

  // Under settingsLock_ (taken by the caller, released for SetupFor).
  HRESULT OpenEncoder() {
    CloseEncoder();
    const CMediaType& input = m_pInput->CurrentMediaType();
    const CMediaType& output = m_pOutput->CurrentMediaType();
    const BITMAPINFOHEADER* header = reel::BitmapHeaderOf(input);
    const VIDEOINFOHEADER* inputInfo = reel::VideoInfoOf(input);
    const VIDEOINFOHEADER* outputInfo = reel::VideoInfoOf(output);
    if (!header || !outputInfo) return VFW_E_NO_TRANSPORT;
    settingsLock_.unlock();
    EncoderSetup setup = SetupFor(input);
    settingsLock_.lock();
    // A bit rate that came with the output type wins over the codec's.
    if (outputInfo->dwBitRate > 0 && !entry_.televisionFrames) setup.bitRate = static_cast<long>(outputInfo->dwBitRate);
    context_ = OpenCodec(entry_, setup);
    if (!context_) return VFW_E_NO_TRANSPORT;
    // The stream must match the headers the type promised downstream.
    auto [headers, headerSize] = ConnectedHeaders();
    std::size_t extraSize = context_->extradata && context_->extradata_size > 0 ? context_->extradata_size : 0;
    if (extraSize != headerSize || (extraSize && std::memcmp(headers, context_->extradata, extraSize) != 0))
      return Cleanup(VFW_E_TYPE_NOT_ACCEPTED);
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (!frame_ || !packet_) return Cleanup(E_OUTOFMEMORY);
    frame_->format = context_->pix_fmt;
    frame_->width = context_->width;
    frame_->height = context_->height;
    if (av_frame_get_buffer(frame_, 0) < 0) return Cleanup(E_OUTOFMEMORY);
    inputHeight_ = std::abs(header->biHeight);
    scaler_ = sws_getContext(header->biWidth, inputHeight_, reel::PixelFormatOfSubtype(input.subtype), context_->width,
                             context_->height, context_->pix_fmt, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!scaler_) return Cleanup(E_FAIL);
    inputFrameTime_ = inputInfo && inputInfo->AvgTimePerFrame > 0 ? inputInfo->AvgTimePerFrame : UNITS / 25;
    nextInputStart_ = 0;
    nextPts_ = 0;
    holding_ = false;
    heldStop_ = 0;
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

  // The middle of output frame `index` of a fixed-rate stream: the frame
  // shows the picture on screen then.
  REFERENCE_TIME SlotMiddle(int64_t index) const {
    return reel::ToReferenceTime(2 * index + 1, AVRational{context_->time_base.num, 2 * context_->time_base.den});
  }

  // Encodes the held picture as every frame whose middle comes before `time`.
  HRESULT EncodeHeldUntil(REFERENCE_TIME time) {
    while (SlotMiddle(nextPts_) < time) {
      frame_->pts = nextPts_++;
      HRESULT result = EncodeFrame();
      if (result != S_OK) return result;
    }
    return S_OK;
  }

  HRESULT EncodeFrame() {
    frame_->pict_type = AV_PICTURE_TYPE_NONE;
    // With a constant quantiser the encoders read it from each frame.
    frame_->quality = context_->global_quality;
    if (avcodec_send_frame(context_, frame_) < 0) return Fail(E_FAIL);
    return DeliverPackets();
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
  long bitRate_ = 0;
  // IDVEnc, under m_csFilter.
  bool pal_ = false;
  int resolution_ = DVENCODERRESOLUTION_720x480;
  // The output type for the connected input, made once per connection
  // (opening an encoder to learn its headers); under m_csFilter.
  CMediaType outputType_;
  bool outputTypeReady_ = false;
  // The encoder of the current run; used on the streaming thread.
  AVCodecContext* context_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
  SwsContext* scaler_ = nullptr;
  int inputHeight_ = 0;
  REFERENCE_TIME inputFrameTime_ = UNITS / 25;
  REFERENCE_TIME nextInputStart_ = 0;
  int64_t nextPts_ = 0;
  // Fixed-rate streams: frame_ holds the last picture until the next one
  // shows how many frames it fills.
  bool holding_ = false;
  REFERENCE_TIME heldStop_ = 0;
};

// clang-format off
constexpr CompressorEntry kCompressors[] = {
  // class                    friendly name                        encoder      FOURCC                           fed as               multiple quality                     key frames                         key  bit/s    DV
  {&CLSID_MjpegCompressor,    u"MJPEG Compressor",                 "mjpeg",     MAKEFOURCC('M', 'J', 'P', 'G'), AV_PIX_FMT_YUVJ420P, 1, QualityControl::Quantiser,  KeyFrameControl::IntraOnly,        1,   8000000, false},
  {&CLSID_Mpeg4Compressor,    u"Xvid MPEG-4 Codec",                "mpeg4",     MAKEFOURCC('X', 'V', 'I', 'D'), AV_PIX_FMT_YUV420P,  1, QualityControl::Quantiser,  KeyFrameControl::GroupOfPictures,  12,  1000000, false},
  {&CLSID_DvVideoEncoder,     u"DV Video Encoder",                 "dvvideo",   MAKEFOURCC('d', 'v', 's', 'd'), AV_PIX_FMT_YUV411P,  1, QualityControl::None,       KeyFrameControl::IntraOnly,        1,   0,       true},
  {&CLSID_H264Compressor,     u"x264 H.264 Video Codec",           "libx264",   MAKEFOURCC('H', '2', '6', '4'), AV_PIX_FMT_YUV420P,  1, QualityControl::RateFactor, KeyFrameControl::GroupOfPictures,  50,  1000000, false},
  {&CLSID_HuffyuvCompressor,  u"Huffyuv Lossless Video Codec",     "huffyuv",   MAKEFOURCC('H', 'F', 'Y', 'U'), AV_PIX_FMT_YUV422P,  1, QualityControl::None,       KeyFrameControl::IntraOnly,        1,   0,       false},
  {&CLSID_Ffv1Compressor,     u"FFV1 Lossless Video Codec",        "ffv1",      MAKEFOURCC('F', 'F', 'V', '1'), AV_PIX_FMT_YUV420P,  1, QualityControl::None,       KeyFrameControl::IntraOnly,        1,   0,       false},
  {&CLSID_CinepakCompressor,  u"Cinepak Video Codec",              "cinepak",   MAKEFOURCC('c', 'v', 'i', 'd'), AV_PIX_FMT_RGB24,    4, QualityControl::RateDistortionWeight, KeyFrameControl::GroupOfPictures,  15,  0,       false},
  {&CLSID_MsVideo1Compressor, u"Microsoft Video 1",                "msvideo1",  MAKEFOURCC('C', 'R', 'A', 'M'), AV_PIX_FMT_RGB555LE, 4, QualityControl::None,       KeyFrameControl::MinimumInterval,  15,  0,       false},
  {&CLSID_MsMpeg4V2Compressor,u"Microsoft MPEG-4 Video Codec V2",  "msmpeg4v2", MAKEFOURCC('M', 'P', '4', '2'), AV_PIX_FMT_YUV420P,  1, QualityControl::Quantiser,  KeyFrameControl::GroupOfPictures,  12,  1000000, false},
  {&CLSID_MsMpeg4V3Compressor,u"Microsoft MPEG-4 Video Codec V3",  "msmpeg4",   MAKEFOURCC('M', 'P', '4', '3'), AV_PIX_FMT_YUV420P,  1, QualityControl::Quantiser,  KeyFrameControl::GroupOfPictures,  12,  1000000, false},
};
// clang-format on

const CompressorEntry* EntryOf(REFCLSID clsid) {
  for (const CompressorEntry& entry : kCompressors)
    if (*entry.clsid == clsid) return &entry;
  return nullptr;
}

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

template <std::size_t... Indices>
constexpr std::array<reel::CreateFunction, sizeof...(Indices)> Creators(std::index_sequence<Indices...>) {
  return {&CreateCompressor<Indices>...};
}

// Registered in table order, which the category keeps (its filters all
// have the same merit and the sort is stable). A codec whose encoder this
// FFmpeg lacks is not listed.
const bool kRegistered = [] {
  constexpr auto creators = Creators(std::make_index_sequence<std::size(kCompressors)>());
  bool registered = true;
  for (std::size_t index = 0; index < std::size(kCompressors); ++index) {
    const CompressorEntry& entry = kCompressors[index];
    if (!EncoderPresent(entry)) continue;
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

namespace reel {

std::vector<VideoCodecDescription> AvailableVideoCodecs() {
  std::vector<VideoCodecDescription> codecs;
  for (const CompressorEntry& entry : kCompressors) {
    if (!EncoderPresent(entry)) continue;
    VideoCodecDescription codec;
    codec.clsid = *entry.clsid;
    codec.name = entry.name;
    codec.encoder = entry.encoder;
    codec.fourcc = entry.fourcc;
    codec.hasQuality = entry.quality != QualityControl::None;
    codec.hasKeyFrames = TemporalCodec(entry);
    codec.hasBitRate = entry.defaultBitRate > 0;
    codec.temporal = TemporalCodec(entry);
    codec.defaultKeyFrameRate = entry.defaultKeyFrameRate;
    codec.defaultBitRate = entry.defaultBitRate;
    codecs.push_back(std::move(codec));
  }
  return codecs;
}

VideoCodecSettings CurrentVideoCodecSettings(REFCLSID codec) {
  const CompressorEntry* entry = EntryOf(codec);
  return entry ? SettingsOf(*entry) : VideoCodecSettings{};
}

HRESULT SetVideoCodecSettings(REFCLSID codec, const VideoCodecSettings& settings) {
  const CompressorEntry* entry = EntryOf(codec);
  if (!entry) return E_FAIL;
  // A bit rate travels in a DWORD of the output type.
  if (!ValidQuality(settings.quality) || settings.keyFrameRate < 0 || settings.keyFrameRate > kLongestKeyFrameInterval ||
      settings.bitRate < 0 || settings.bitRate > static_cast<long>(UINT32_MAX))
    return E_INVALIDARG;
  VideoCodecSettings stored = settings;
  if (stored.quality < 0) stored.quality = -1.0;
  if (stored.quality >= 0 && entry->quality == QualityControl::None) return E_INVALIDARG;
  if (stored.keyFrameRate == 0) stored.keyFrameRate = entry->defaultKeyFrameRate;
  if (stored.keyFrameRate != entry->defaultKeyFrameRate && !TemporalCodec(*entry)) return E_INVALIDARG;
  if (stored.bitRate == 0) stored.bitRate = entry->defaultBitRate;
  if (stored.bitRate != entry->defaultBitRate && entry->defaultBitRate == 0) return E_INVALIDARG;
  std::lock_guard<std::mutex> hold(SettingsLock());
  StoredSettings()[entry] = stored;
  return S_OK;
}

}  // namespace reel
