// The profile and stream configuration objects (IWMProfile2,
// IWMStreamConfig with IWMMediaProps) over the plain definitions of
// ProfileModel.h, the checks of what we can encode and the encoder set-up
// that the checks and the ASF writer share.
//
// A profile hands out copies of its streams (GetStream, GetStreamByNumber);
// a changed copy reaches the profile through ReconfigStream, as with the
// Windows Media runtime. Mutual exclusion (multiple bit rate) objects are
// not supported: the count is 0 and creating one answers E_NOTIMPL.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
}

#include "platform/com/ComObject.h"
#include "platform/wmf/ProfileModel.h"

template <>
struct reel::InterfaceBases<IWMProfile2> {
  using type = std::tuple<IWMProfile>;
};

namespace reel::wmf {
namespace {

bool Fail(std::string* problem, const std::string& text) {
  if (problem) *problem = text;
  return false;
}

HRESULT Invalid(std::string* problem, const std::string& text) {
  Fail(problem, text);
  return NS_E_INVALID_PROFILE;
}

// Copies text out with the two-call convention of the Windows Media
// interfaces: lengths are characters including the NUL.
template <typename Count>
HRESULT CopyText(const std::u16string& text, WCHAR* buffer, Count* length) {
  if (!length) return E_POINTER;
  std::size_t needed = text.size() + 1;
  if (needed > std::numeric_limits<Count>::max()) return E_UNEXPECTED;
  if (!buffer) {
    *length = static_cast<Count>(needed);
    return S_OK;
  }
  if (*length < needed) {
    *length = static_cast<Count>(needed);
    return ASF_E_BUFFERTOOSMALL;
  }
  std::copy(text.begin(), text.end(), buffer);
  buffer[text.size()] = 0;
  *length = static_cast<Count>(needed);
  return S_OK;
}

// Reads a text through a two-call getter.
template <typename Count, typename Getter>
HRESULT ReadText(Getter getter, std::u16string* text) {
  Count length = 0;
  HRESULT result = getter(nullptr, &length);
  if (FAILED(result)) return result;
  if (length == 0) return E_UNEXPECTED;
  std::u16string buffer(length, u'\0');
  result = getter(buffer.data(), &length);
  if (FAILED(result)) return result;
  buffer.resize(std::char_traits<char16_t>::length(buffer.c_str()));
  *text = std::move(buffer);
  return S_OK;
}

HRESULT SetText(const WCHAR* text, std::u16string* target) {
  if (!text) return E_POINTER;
  std::u16string value(text, std::char_traits<char16_t>::length(text));
  if (value.size() > kMaximumNameLength) return E_INVALIDARG;
  *target = std::move(value);
  return S_OK;
}

bool IsVideo(const StreamDefinition& stream) { return stream.streamType == WMMEDIATYPE_Video; }
bool IsAudio(const StreamDefinition& stream) { return stream.streamType == WMMEDIATYPE_Audio; }

// The bit rate the encoder aims at: the format's own when it gives one,
// else the stream's.
int64_t EncodingBitrate(const StreamDefinition& stream) {
  if (const VIDEOINFOHEADER* info = VideoInfoOf(stream.mediaType); info && info->dwBitRate > 0)
    return info->dwBitRate;
  if (const WAVEFORMATEX* wave = WaveFormatOf(stream.mediaType); wave && wave->nAvgBytesPerSec > 0)
    return static_cast<int64_t>(wave->nAvgBytesPerSec) * 8;
  return stream.bitrate;
}

class CStreamConfig : public ComObject<IWMStreamConfig, IWMMediaProps> {
 public:
  explicit CStreamConfig(const StreamDefinition& definition) : definition_(definition) {}

  StreamDefinition Definition() {
    std::lock_guard<std::mutex> hold(lock_);
    return definition_;
  }

  // IWMStreamConfig
  HRESULT GetStreamType(GUID* streamType) override {
    if (!streamType) return E_POINTER;
    std::lock_guard<std::mutex> hold(lock_);
    *streamType = definition_.streamType;
    return S_OK;
  }
  HRESULT GetStreamNumber(WORD* streamNumber) override {
    if (!streamNumber) return E_POINTER;
    std::lock_guard<std::mutex> hold(lock_);
    *streamNumber = definition_.number;
    return S_OK;
  }
  HRESULT SetStreamNumber(WORD streamNumber) override {
    if (streamNumber < 1 || streamNumber > kMaximumStreamNumber) return E_INVALIDARG;
    std::lock_guard<std::mutex> hold(lock_);
    definition_.number = streamNumber;
    return S_OK;
  }
  HRESULT GetStreamName(WCHAR* streamName, WORD* nameLength) override {
    std::lock_guard<std::mutex> hold(lock_);
    return CopyText(definition_.name, streamName, nameLength);
  }
  HRESULT SetStreamName(WCHAR* streamName) override {
    std::lock_guard<std::mutex> hold(lock_);
    return SetText(streamName, &definition_.name);
  }
  HRESULT GetConnectionName(WCHAR* inputName, WORD* nameLength) override {
    std::lock_guard<std::mutex> hold(lock_);
    return CopyText(definition_.connectionName, inputName, nameLength);
  }
  HRESULT SetConnectionName(WCHAR* inputName) override {
    std::lock_guard<std::mutex> hold(lock_);
    return SetText(inputName, &definition_.connectionName);
  }
  HRESULT GetBitrate(DWORD* bitrate) override {
    if (!bitrate) return E_POINTER;
    std::lock_guard<std::mutex> hold(lock_);
    *bitrate = definition_.bitrate;
    return S_OK;
  }
  HRESULT SetBitrate(DWORD bitrate) override {
    if (bitrate < kMinimumBitrate || bitrate > kMaximumBitrate) return E_INVALIDARG;
    std::lock_guard<std::mutex> hold(lock_);
    definition_.bitrate = bitrate;
    return S_OK;
  }
  HRESULT GetBufferWindow(DWORD* bufferWindow) override {
    if (!bufferWindow) return E_POINTER;
    std::lock_guard<std::mutex> hold(lock_);
    *bufferWindow = definition_.bufferWindow;
    return S_OK;
  }
  HRESULT SetBufferWindow(DWORD bufferWindow) override {
    std::lock_guard<std::mutex> hold(lock_);
    definition_.bufferWindow = bufferWindow;
    return S_OK;
  }

  // IWMMediaProps
  HRESULT GetType(GUID* type) override {
    if (!type) return E_POINTER;
    std::lock_guard<std::mutex> hold(lock_);
    *type = definition_.mediaType.majortype;
    return S_OK;
  }
  HRESULT GetMediaType(WM_MEDIA_TYPE* type, DWORD* typeBytes) override {
    if (!typeBytes) return E_POINTER;
    std::lock_guard<std::mutex> hold(lock_);
    const CMediaType& own = definition_.mediaType;
    DWORD needed = static_cast<DWORD>(sizeof(WM_MEDIA_TYPE) + own.cbFormat);
    if (!type) {
      *typeBytes = needed;
      return S_OK;
    }
    if (*typeBytes < needed) {
      *typeBytes = needed;
      return ASF_E_BUFFERTOOSMALL;
    }
    // The format block follows the structure in the caller's buffer; no
    // reference travels in pUnk.
    *type = own;
    type->pUnk = nullptr;
    type->pbFormat = own.cbFormat ? reinterpret_cast<BYTE*>(type + 1) : nullptr;
    if (own.cbFormat) std::memcpy(type->pbFormat, own.pbFormat, own.cbFormat);
    *typeBytes = needed;
    return S_OK;
  }
  HRESULT SetMediaType(WM_MEDIA_TYPE* type) override {
    if (!type) return E_POINTER;
    if (type->cbFormat > 0 && !type->pbFormat) return E_INVALIDARG;
    if (type->cbFormat > (1u << 16)) return E_INVALIDARG;
    CMediaType copy;
    if (FAILED(copy.Set(*type))) return E_OUTOFMEMORY;
    std::lock_guard<std::mutex> hold(lock_);
    if (definition_.streamType != GUID_NULL && copy.majortype != definition_.streamType) return E_INVALIDARG;
    definition_.mediaType = copy;
    return S_OK;
  }

 private:
  std::mutex lock_;
  StreamDefinition definition_;
};

class CProfile : public ComObject<IWMProfile2> {
 public:
  explicit CProfile(const ProfileDefinition& definition) : definition_(definition) {}

  HRESULT GetVersion(WMT_VERSION* version) override {
    if (!version) return E_POINTER;
    std::lock_guard<std::mutex> hold(lock_);
    *version = definition_.version;
    return S_OK;
  }
  HRESULT GetName(WCHAR* name, DWORD* nameLength) override {
    std::lock_guard<std::mutex> hold(lock_);
    return CopyText(definition_.name, name, nameLength);
  }
  HRESULT SetName(const WCHAR* name) override {
    std::lock_guard<std::mutex> hold(lock_);
    return SetText(name, &definition_.name);
  }
  HRESULT GetDescription(WCHAR* description, DWORD* descriptionLength) override {
    std::lock_guard<std::mutex> hold(lock_);
    return CopyText(definition_.description, description, descriptionLength);
  }
  HRESULT SetDescription(const WCHAR* description) override {
    std::lock_guard<std::mutex> hold(lock_);
    return SetText(description, &definition_.description);
  }
  HRESULT GetStreamCount(DWORD* streamCount) override {
    if (!streamCount) return E_POINTER;
    std::lock_guard<std::mutex> hold(lock_);
    *streamCount = static_cast<DWORD>(definition_.streams.size());
    return S_OK;
  }
  HRESULT GetStream(DWORD streamIndex, IWMStreamConfig** config) override {
    if (!config) return E_POINTER;
    *config = nullptr;
    std::lock_guard<std::mutex> hold(lock_);
    if (streamIndex >= definition_.streams.size()) return E_INVALIDARG;
    return HandOut(definition_.streams[streamIndex], config);
  }
  HRESULT GetStreamByNumber(WORD streamNumber, IWMStreamConfig** config) override {
    if (!config) return E_POINTER;
    *config = nullptr;
    std::lock_guard<std::mutex> hold(lock_);
    auto found = FindNumber(streamNumber);
    if (found == definition_.streams.end()) return E_INVALIDARG;
    return HandOut(*found, config);
  }
  HRESULT RemoveStream(IWMStreamConfig* config) override {
    if (!config) return E_POINTER;
    WORD number = 0;
    HRESULT result = config->GetStreamNumber(&number);
    if (FAILED(result)) return result;
    return RemoveStreamByNumber(number);
  }
  HRESULT RemoveStreamByNumber(WORD streamNumber) override {
    std::lock_guard<std::mutex> hold(lock_);
    auto found = FindNumber(streamNumber);
    if (found == definition_.streams.end()) return E_INVALIDARG;
    definition_.streams.erase(found);
    return S_OK;
  }
  // The stream must be one we can write and its number free.
  HRESULT AddStream(IWMStreamConfig* config) override {
    StreamDefinition stream;
    HRESULT result = ReadAndCheck(config, &stream);
    if (FAILED(result)) return result;
    std::lock_guard<std::mutex> hold(lock_);
    if (FindNumber(stream.number) != definition_.streams.end()) return E_INVALIDARG;
    if (definition_.streams.size() >= kMaximumStreams) return NS_E_INVALID_PROFILE;
    definition_.streams.push_back(std::move(stream));
    return S_OK;
  }
  HRESULT ReconfigStream(IWMStreamConfig* config) override {
    StreamDefinition stream;
    HRESULT result = ReadAndCheck(config, &stream);
    if (FAILED(result)) return result;
    std::lock_guard<std::mutex> hold(lock_);
    auto found = FindNumber(stream.number);
    if (found == definition_.streams.end()) return E_INVALIDARG;
    *found = std::move(stream);
    return S_OK;
  }
  HRESULT CreateNewStream(REFGUID streamType, IWMStreamConfig** config) override {
    if (!config) return E_POINTER;
    *config = nullptr;
    if (streamType != WMMEDIATYPE_Video && streamType != WMMEDIATYPE_Audio) return E_INVALIDARG;
    StreamDefinition stream;
    stream.streamType = streamType;
    stream.mediaType.SetType(&streamType);
    return HandOut(stream, config);
  }
  HRESULT GetMutualExclusionCount(DWORD* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT GetMutualExclusion(DWORD, IWMMutualExclusion** exclusion) override {
    if (!exclusion) return E_POINTER;
    *exclusion = nullptr;
    return E_INVALIDARG;
  }
  HRESULT RemoveMutualExclusion(IWMMutualExclusion*) override { return E_NOTIMPL; }
  HRESULT AddMutualExclusion(IWMMutualExclusion*) override { return E_NOTIMPL; }
  HRESULT CreateNewMutualExclusion(IWMMutualExclusion** exclusion) override {
    if (exclusion) *exclusion = nullptr;
    return E_NOTIMPL;
  }

  // IWMProfile2. A profile that is not a system profile has no identifier:
  // it answers GUID_NULL.
  HRESULT GetProfileID(GUID* profileId) override {
    if (!profileId) return E_POINTER;
    std::lock_guard<std::mutex> hold(lock_);
    *profileId = definition_.id;
    return S_OK;
  }

 private:
  std::vector<StreamDefinition>::iterator FindNumber(WORD number) {
    return std::find_if(definition_.streams.begin(), definition_.streams.end(),
                        [number](const StreamDefinition& stream) { return stream.number == number; });
  }
  static HRESULT HandOut(const StreamDefinition& stream, IWMStreamConfig** config) {
    ComPtr<IWMStreamConfig> copy = CreateStreamObject(stream);
    if (!copy) return E_OUTOFMEMORY;
    *config = copy.Detach();
    return S_OK;
  }
  static HRESULT ReadAndCheck(IWMStreamConfig* config, StreamDefinition* stream) {
    if (!config) return E_POINTER;
    HRESULT result = ReadStream(config, stream);
    if (FAILED(result)) return result;
    if (stream->number < 1 || stream->number > kMaximumStreamNumber) return E_INVALIDARG;
    return CheckStream(*stream);
  }

  std::mutex lock_;
  ProfileDefinition definition_;
};

bool CheckVideoType(const StreamDefinition& stream, std::string* problem) {
  const CMediaType& type = stream.mediaType;
  if (type.majortype != WMMEDIATYPE_Video) return Fail(problem, "the media type is not video");
  if (type.subtype != WMMEDIASUBTYPE_WMV1 && type.subtype != WMMEDIASUBTYPE_WMV2)
    return Fail(problem, "the video codec is not one we encode (WMV1 or WMV2)");
  const VIDEOINFOHEADER* info = VideoInfoOf(type);
  if (!info) return Fail(problem, "the video format is not a VIDEOINFOHEADER");
  const BITMAPINFOHEADER& header = info->bmiHeader;
  if (header.biCompression != type.subtype.Data1) return Fail(problem, "biCompression does not match the subtype");
  int64_t height = std::llabs(static_cast<int64_t>(header.biHeight));
  if (header.biWidth < kMinimumPictureSize || header.biWidth > kMaximumPictureSize ||
      height < kMinimumPictureSize || height > kMaximumPictureSize)
    return Fail(problem, "the picture size is out of range");
  if (info->AvgTimePerFrame < kShortestFrameTime || info->AvgTimePerFrame > kLongestFrameTime)
    return Fail(problem, "the frame time is out of range");
  if (stream.maxKeyFrameSpacing < 0) return Fail(problem, "the key frame spacing is negative");
  return true;
}

bool CheckAudioType(const StreamDefinition& stream, std::string* problem) {
  const CMediaType& type = stream.mediaType;
  if (type.majortype != WMMEDIATYPE_Audio) return Fail(problem, "the media type is not audio");
  if (type.subtype != WMMEDIASUBTYPE_WMAudioV8 && type.subtype != WMMEDIASUBTYPE_MSAUDIO1)
    return Fail(problem, "the audio codec is not one we encode (WMA 1 or WMA 2)");
  const WAVEFORMATEX* wave = WaveFormatOf(type);
  if (!wave) return Fail(problem, "the audio format is not a WAVEFORMATEX");
  if (wave->wFormatTag != type.subtype.Data1) return Fail(problem, "wFormatTag does not match the subtype");
  if (sizeof(WAVEFORMATEX) + wave->cbSize > type.cbFormat) return Fail(problem, "cbSize runs past the format");
  if (wave->nChannels < 1 || wave->nChannels > 2) return Fail(problem, "the channel count is out of range");
  static constexpr DWORD kRates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000};
  if (std::find(std::begin(kRates), std::end(kRates), wave->nSamplesPerSec) == std::end(kRates))
    return Fail(problem, "the sample rate is not one the codec takes");
  if (wave->nAvgBytesPerSec == 0 || wave->nAvgBytesPerSec > kMaximumBitrate / 8)
    return Fail(problem, "the audio bit rate is out of range");
  return true;
}

}  // namespace

const char* EncoderOf(const StreamDefinition& stream) {
  const GUID& subtype = stream.mediaType.subtype;
  if (subtype == WMMEDIASUBTYPE_WMV2) return "wmv2";
  if (subtype == WMMEDIASUBTYPE_WMV1) return "wmv1";
  if (subtype == WMMEDIASUBTYPE_WMAudioV8) return "wmav2";
  if (subtype == WMMEDIASUBTYPE_MSAUDIO1) return "wmav1";
  return nullptr;
}

AVCodecContext* CreateEncoder(const StreamDefinition& stream, std::string* problem) {
  const char* name = EncoderOf(stream);
  const AVCodec* codec = name ? avcodec_find_encoder_by_name(name) : nullptr;
  if (!codec) {
    Fail(problem, "no encoder for the stream's codec");
    return nullptr;
  }
  AVCodecContext* context = avcodec_alloc_context3(codec);
  if (!context) {
    Fail(problem, "out of memory");
    return nullptr;
  }
  context->bit_rate = EncodingBitrate(stream);
  context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (IsVideo(stream)) {
    const VIDEOINFOHEADER* info = VideoInfoOf(stream.mediaType);
    context->width = info->bmiHeader.biWidth;
    context->height = std::abs(info->bmiHeader.biHeight);
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    av_reduce(&context->time_base.num, &context->time_base.den, info->AvgTimePerFrame, UNITS, INT32_MAX);
    context->framerate = av_inv_q(context->time_base);
    context->max_b_frames = 0;
    // Key frames at most this far apart; 8 s when the profile leaves it open.
    REFERENCE_TIME spacing = stream.maxKeyFrameSpacing > 0 ? stream.maxKeyFrameSpacing : 8 * UNITS;
    context->gop_size = static_cast<int>(std::clamp<REFERENCE_TIME>(spacing / info->AvgTimePerFrame, 1, 1000));
  } else {
    const WAVEFORMATEX* wave = WaveFormatOf(stream.mediaType);
    context->sample_rate = static_cast<int>(wave->nSamplesPerSec);
    av_channel_layout_default(&context->ch_layout, wave->nChannels);
    context->sample_fmt = AV_SAMPLE_FMT_FLTP;
    context->time_base = AVRational{1, context->sample_rate};
  }
  if (avcodec_open2(context, codec, nullptr) < 0) {
    avcodec_free_context(&context);
    Fail(problem, "the encoder does not take the stream's settings (size, rate or bit rate)");
    return nullptr;
  }
  return context;
}

HRESULT CheckStream(const StreamDefinition& stream, std::string* problem) {
  if (!IsVideo(stream) && !IsAudio(stream)) return Invalid(problem, "a stream is neither video nor audio");
  if (stream.bitrate < kMinimumBitrate || stream.bitrate > kMaximumBitrate)
    return Invalid(problem, "the stream bit rate is out of range");
  if (stream.name.size() > kMaximumNameLength || stream.connectionName.size() > kMaximumNameLength)
    return Invalid(problem, "a stream name is too long");
  bool typeValid = IsVideo(stream) ? CheckVideoType(stream, problem) : CheckAudioType(stream, problem);
  if (!typeValid) return NS_E_INVALID_PROFILE;
  AVCodecContext* encoder = CreateEncoder(stream, problem);
  if (!encoder) return NS_E_INVALID_PROFILE;
  avcodec_free_context(&encoder);
  return S_OK;
}

HRESULT CheckProfile(const ProfileDefinition& profile, std::string* problem) {
  if (profile.streams.empty()) return Invalid(problem, "the profile has no stream");
  if (profile.streams.size() > kMaximumStreams) return Invalid(problem, "the profile has too many streams");
  if (profile.name.size() > kMaximumNameLength || profile.description.size() > kMaximumNameLength)
    return Invalid(problem, "the profile name or description is too long");
  std::vector<WORD> numbers;
  for (const StreamDefinition& stream : profile.streams) {
    if (stream.number < 1 || stream.number > kMaximumStreamNumber)
      return Invalid(problem, "a stream number is out of range");
    if (std::find(numbers.begin(), numbers.end(), stream.number) != numbers.end())
      return Invalid(problem, "two streams have the same number");
    numbers.push_back(stream.number);
    HRESULT result = CheckStream(stream, problem);
    if (FAILED(result)) return result;
  }
  return S_OK;
}

ComPtr<IWMProfile> CreateProfileObject(const ProfileDefinition& profile) {
  ComPtr<CProfile> object = MakeComObject<CProfile>(profile);
  return ComPtr<IWMProfile>(object.Get());
}

ComPtr<IWMStreamConfig> CreateStreamObject(const StreamDefinition& stream) {
  ComPtr<CStreamConfig> object = MakeComObject<CStreamConfig>(stream);
  return ComPtr<IWMStreamConfig>(object.Get());
}

HRESULT ReadStream(IWMStreamConfig* config, StreamDefinition* definition) {
  if (!config || !definition) return E_POINTER;
  StreamDefinition stream;
  HRESULT result = config->GetStreamType(&stream.streamType);
  if (SUCCEEDED(result)) result = config->GetStreamNumber(&stream.number);
  if (SUCCEEDED(result))
    result = ReadText<WORD>([&](WCHAR* text, WORD* length) { return config->GetStreamName(text, length); }, &stream.name);
  if (SUCCEEDED(result))
    result = ReadText<WORD>([&](WCHAR* text, WORD* length) { return config->GetConnectionName(text, length); },
                            &stream.connectionName);
  if (SUCCEEDED(result)) result = config->GetBitrate(&stream.bitrate);
  if (SUCCEEDED(result)) result = config->GetBufferWindow(&stream.bufferWindow);
  if (FAILED(result)) return result;
  // Our own objects carry what the interfaces do not show.
  if (auto* own = dynamic_cast<CStreamConfig*>(config)) {
    StreamDefinition full = own->Definition();
    stream.maxKeyFrameSpacing = full.maxKeyFrameSpacing;
    stream.quality = full.quality;
  }
  ComPtr<IWMMediaProps> properties;
  result = config->QueryInterface(IID_IWMMediaProps, reinterpret_cast<void**>(&properties));
  if (FAILED(result)) return result;
  DWORD bytes = 0;
  result = properties->GetMediaType(nullptr, &bytes);
  if (FAILED(result)) return result;
  if (bytes < sizeof(WM_MEDIA_TYPE) || bytes > sizeof(WM_MEDIA_TYPE) + (1u << 16)) return NS_E_INVALID_PROFILE;
  // Aligned storage for the structure and its format block.
  std::vector<std::max_align_t> buffer((bytes + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t));
  auto* type = reinterpret_cast<WM_MEDIA_TYPE*>(buffer.data());
  result = properties->GetMediaType(type, &bytes);
  if (FAILED(result)) return result;
  if (type->cbFormat > 0 && !type->pbFormat) return NS_E_INVALID_PROFILE;
  WM_MEDIA_TYPE plain = *type;
  plain.pUnk = nullptr;
  if (FAILED(stream.mediaType.Set(plain))) return E_OUTOFMEMORY;
  *definition = std::move(stream);
  return S_OK;
}

HRESULT ReadProfile(IWMProfile* profile, ProfileDefinition* definition) {
  if (!profile || !definition) return E_POINTER;
  ProfileDefinition read;
  HRESULT result = profile->GetVersion(&read.version);
  if (SUCCEEDED(result))
    result = ReadText<DWORD>([&](WCHAR* text, DWORD* length) { return profile->GetName(text, length); }, &read.name);
  if (SUCCEEDED(result))
    result = ReadText<DWORD>([&](WCHAR* text, DWORD* length) { return profile->GetDescription(text, length); },
                             &read.description);
  DWORD count = 0;
  if (SUCCEEDED(result)) result = profile->GetStreamCount(&count);
  if (FAILED(result)) return result;
  if (count > kMaximumStreams) return NS_E_INVALID_PROFILE;
  for (DWORD index = 0; index < count; ++index) {
    ComPtr<IWMStreamConfig> config;
    result = profile->GetStream(index, &config);
    if (FAILED(result)) return result;
    StreamDefinition stream;
    result = ReadStream(config.Get(), &stream);
    if (FAILED(result)) return result;
    read.streams.push_back(std::move(stream));
  }
  ComPtr<IWMProfile2> withId;
  if (SUCCEEDED(profile->QueryInterface(IID_IWMProfile2, reinterpret_cast<void**>(&withId))))
    withId->GetProfileID(&read.id);
  *definition = std::move(read);
  return S_OK;
}

void MakeVideoStream(StreamDefinition* stream, DWORD fourcc, LONG width, LONG height, REFERENCE_TIME frameTime,
                     DWORD bitrate) {
  stream->streamType = WMMEDIATYPE_Video;
  stream->bitrate = bitrate;
  stream->bufferWindow = 5000;
  stream->maxKeyFrameSpacing = 8 * UNITS;
  CMediaType& type = stream->mediaType;
  type.InitMediaType();
  type.SetType(&WMMEDIATYPE_Video);
  GUID subtype = FourccSubtype(fourcc);
  type.SetSubtype(&subtype);
  type.SetFormatType(&WMFORMAT_VideoInfo);
  type.SetTemporalCompression(TRUE);
  type.SetVariableSize();
  auto* info = reinterpret_cast<VIDEOINFOHEADER*>(type.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
  if (!info) return;
  info->rcSource = RECT{0, 0, width, height};
  info->rcTarget = info->rcSource;
  info->dwBitRate = bitrate;
  info->AvgTimePerFrame = frameTime;
  BITMAPINFOHEADER& header = info->bmiHeader;
  header.biSize = sizeof(BITMAPINFOHEADER);
  header.biWidth = width;
  header.biHeight = height;
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = fourcc;
}

void MakeAudioStream(StreamDefinition* stream, WORD formatTag, WORD channels, DWORD samplesPerSecond, DWORD bitrate) {
  stream->streamType = WMMEDIATYPE_Audio;
  stream->bitrate = bitrate;
  stream->bufferWindow = kDefaultBufferWindow;
  CMediaType& type = stream->mediaType;
  type.InitMediaType();
  type.SetType(&WMMEDIATYPE_Audio);
  GUID subtype = FourccSubtype(formatTag);
  type.SetSubtype(&subtype);
  type.SetFormatType(&WMFORMAT_WaveFormatEx);
  type.SetTemporalCompression(FALSE);
  auto* wave = reinterpret_cast<WAVEFORMATEX*>(type.AllocFormatBuffer(sizeof(WAVEFORMATEX)));
  if (!wave) return;
  wave->wFormatTag = formatTag;
  wave->nChannels = channels;
  wave->nSamplesPerSec = samplesPerSecond;
  wave->nAvgBytesPerSec = bitrate / 8;
  // One coded block per 2048-sample frame.
  wave->nBlockAlign = static_cast<WORD>(std::clamp<DWORD>(bitrate / 8 * 2048 / samplesPerSecond, 1, 0xFFFF));
  wave->wBitsPerSample = 16;
  wave->cbSize = 0;
  type.SetSampleSize(wave->nBlockAlign);
}

}  // namespace reel::wmf
