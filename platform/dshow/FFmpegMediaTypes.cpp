#include "platform/dshow/FFmpegMediaTypes.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "platform/com/ComObject.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace {

class CodecParametersHolder : public reel::ComObject<IFFmpegCodecParameters> {
 public:
  explicit CodecParametersHolder(AVCodecParameters* parameters) : parameters_(parameters) {}
  ~CodecParametersHolder() override { avcodec_parameters_free(&parameters_); }
  const AVCodecParameters* Parameters() override { return parameters_; }

 private:
  AVCodecParameters* parameters_;
};

// Streams of codecs without a FOURCC or wave tag get a subtype of this
// family, with the FFmpeg codec id in Data1.
constexpr GUID CodecIdSubtype(DWORD codecId) {
  return GUID{codecId, 0x4646, 0x4D50, {0x85, 0x43, 0x6F, 0x64, 0x65, 0x63, 0x49, 0x44}};
}
bool IsCodecIdSubtype(REFGUID subtype) { return subtype == CodecIdSubtype(subtype.Data1); }

unsigned TagOf(const AVCodecTag* table, AVCodecID codec) {
  const AVCodecTag* const tables[] = {table, nullptr};
  return av_codec_get_tag(tables, codec);
}

AVCodecID CodecOfTag(const AVCodecTag* table, unsigned tag) {
  const AVCodecTag* const tables[] = {table, nullptr};
  return av_codec_get_id(tables, tag);
}

// The little-endian fields of a codec's structure behind a WAVEFORMATEX.
class WaveExtra {
 public:
  void Word(unsigned value) {
    bytes_.push_back(static_cast<BYTE>(value));
    bytes_.push_back(static_cast<BYTE>(value >> 8));
  }
  void Dword(uint32_t value) {
    Word(value & 0xFFFF);
    Word(value >> 16);
  }
  void Bytes(const uint8_t* data, int size) {
    if (data && size > 0) bytes_.insert(bytes_.end(), data, data + size);
  }
  const std::vector<BYTE>& bytes() const { return bytes_; }

 private:
  std::vector<BYTE> bytes_;
};

// Values of the MPEG audio format structures.
constexpr unsigned kMpegLayer3IdMpeg = 1;          // MPEGLAYER3_ID_MPEG
constexpr unsigned kMpegLayer3PaddingOff = 2;      // MPEGLAYER3_FLAG_PADDING_OFF
constexpr unsigned kMpegLayer3CodecDelay = 1393;   // what the MP3 codecs announce
constexpr unsigned kMpegLayer2 = 2;                // ACM_MPEG_LAYER2
constexpr unsigned kMpegStereo = 1;                // ACM_MPEG_STEREO
constexpr unsigned kMpegSingleChannel = 8;         // ACM_MPEG_SINGLECHANNEL
constexpr unsigned kMpegNoEmphasis = 1;
constexpr unsigned kMpegId1 = 0x10;                // ACM_MPEG_ID_MPEG1

bool AttachParameters(const AVCodecParameters* source, CMediaType* mediaType) {
  AVCodecParameters* copy = avcodec_parameters_alloc();
  if (!copy) return false;
  if (avcodec_parameters_copy(copy, source) < 0) {
    avcodec_parameters_free(&copy);
    return false;
  }
  auto* holder = new (std::nothrow) CodecParametersHolder(copy);
  if (!holder) {
    avcodec_parameters_free(&copy);
    return false;
  }
  if (mediaType->pUnk) mediaType->pUnk->Release();
  mediaType->pUnk = static_cast<IFFmpegCodecParameters*>(holder);
  holder->AddRef();
  return true;
}

}  // namespace

namespace reel {

REFERENCE_TIME ToReferenceTime(int64_t timestamp, AVRational timeBase) {
  return av_rescale_q(timestamp, timeBase, AVRational{1, static_cast<int>(UNITS)});
}

int64_t FromReferenceTime(REFERENCE_TIME time, AVRational timeBase) {
  return av_rescale_q(time, AVRational{1, static_cast<int>(UNITS)}, timeBase);
}

bool MediaTypeFromStream(const AVStream* stream, CMediaType* mediaType) {
  const AVCodecParameters* parameters = stream->codecpar;
  int extraSize = parameters->extradata && parameters->extradata_size > 0 ? parameters->extradata_size : 0;
  if (extraSize > (1 << 20)) return false;  // no sane codec has a megabyte of headers
  mediaType->InitMediaType();
  if (parameters->codec_type == AVMEDIA_TYPE_VIDEO) {
    if (parameters->width <= 0 || parameters->height <= 0 || parameters->width > 16384 || parameters->height > 16384)
      return false;
    unsigned tag = TagOf(avformat_get_riff_video_tags(), parameters->codec_id);
    GUID subtype = tag ? FourccSubtype(tag) : CodecIdSubtype(parameters->codec_id);
    mediaType->SetType(&MEDIATYPE_Video);
    mediaType->SetSubtype(&subtype);
    mediaType->SetFormatType(&FORMAT_VideoInfo);
    auto* info = reinterpret_cast<VIDEOINFOHEADER*>(
        mediaType->AllocFormatBuffer(static_cast<ULONG>(sizeof(VIDEOINFOHEADER) + extraSize)));
    if (!info) return false;
    AVRational rate = stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
    info->AvgTimePerFrame = rate.num > 0 ? av_rescale(UNITS, rate.den, rate.num) : UNITS / 25;
    info->dwBitRate = static_cast<DWORD>(parameters->bit_rate > 0 ? parameters->bit_rate : 0);
    info->bmiHeader.biSize = static_cast<DWORD>(sizeof(BITMAPINFOHEADER) + extraSize);
    info->bmiHeader.biWidth = parameters->width;
    info->bmiHeader.biHeight = parameters->height;
    info->bmiHeader.biPlanes = 1;
    info->bmiHeader.biBitCount = static_cast<WORD>(parameters->bits_per_coded_sample > 0 ? parameters->bits_per_coded_sample : 24);
    info->bmiHeader.biCompression = tag ? tag : static_cast<DWORD>(parameters->codec_tag);
    info->bmiHeader.biSizeImage = static_cast<DWORD>(parameters->width * parameters->height * 3);
    if (extraSize) std::memcpy(info + 1, parameters->extradata, static_cast<std::size_t>(extraSize));
    mediaType->SetVariableSize();
    mediaType->SetTemporalCompression(TRUE);
  } else if (parameters->codec_type == AVMEDIA_TYPE_AUDIO) {
    int channels = parameters->ch_layout.nb_channels;
    if (channels <= 0 || channels > 64 || parameters->sample_rate <= 0 || parameters->sample_rate > 1000000)
      return false;
    // Little-endian 8- and 16-bit PCM is plain PCM; other PCM layouts go
    // through the audio decoder like any codec.
    bool plainPcm = parameters->codec_id == AV_CODEC_ID_PCM_S16LE || parameters->codec_id == AV_CODEC_ID_PCM_U8;
    if (plainPcm && MakePcmType(parameters->sample_rate, channels,
                                parameters->codec_id == AV_CODEC_ID_PCM_U8 ? 8 : 16, mediaType)) {
      mediaType->SetVariableSize();
      return AttachParameters(parameters, mediaType);
    }
    unsigned tag = plainPcm ? 0 : TagOf(avformat_get_riff_audio_tags(), parameters->codec_id);
    if (tag == WAVE_FORMAT_PCM || tag == WAVE_FORMAT_IEEE_FLOAT) tag = 0;  // not what those tags promise
    GUID subtype = tag ? FourccSubtype(tag) : CodecIdSubtype(parameters->codec_id);
    mediaType->SetType(&MEDIATYPE_Audio);
    mediaType->SetSubtype(&subtype);
    mediaType->SetFormatType(&FORMAT_WaveFormatEx);
    auto* wave = reinterpret_cast<WAVEFORMATEX*>(
        mediaType->AllocFormatBuffer(static_cast<ULONG>(sizeof(WAVEFORMATEX) + extraSize)));
    if (!wave) return false;
    wave->wFormatTag = static_cast<WORD>(tag);
    wave->nChannels = static_cast<WORD>(channels);
    wave->nSamplesPerSec = static_cast<DWORD>(parameters->sample_rate);
    wave->nAvgBytesPerSec = static_cast<DWORD>(parameters->bit_rate > 0 ? parameters->bit_rate / 8 : 0);
    wave->nBlockAlign = static_cast<WORD>(parameters->block_align > 0 ? parameters->block_align : 1);
    wave->wBitsPerSample = static_cast<WORD>(parameters->bits_per_coded_sample);
    wave->cbSize = static_cast<WORD>(extraSize);
    if (extraSize) std::memcpy(wave + 1, parameters->extradata, static_cast<std::size_t>(extraSize));
    mediaType->SetVariableSize();
  } else {
    return false;
  }
  return AttachParameters(parameters, mediaType);
}

AVCodecParameters* CodecParametersFromMediaType(const AM_MEDIA_TYPE& mediaType) {
  if (mediaType.pUnk) {
    ComPtr<IFFmpegCodecParameters> carried;
    if (SUCCEEDED(mediaType.pUnk->QueryInterface(IID_IFFmpegCodecParameters, reinterpret_cast<void**>(&carried))) &&
        carried) {
      AVCodecParameters* copy = avcodec_parameters_alloc();
      if (copy && avcodec_parameters_copy(copy, carried->Parameters()) >= 0) return copy;
      avcodec_parameters_free(&copy);
      return nullptr;
    }
  }
  // Rebuilt from the standard fields.
  AVCodecID codec = AV_CODEC_ID_NONE;
  if (IsCodecIdSubtype(mediaType.subtype)) {
    codec = static_cast<AVCodecID>(mediaType.subtype.Data1);
  } else if (IsFourccSubtype(mediaType.subtype)) {
    const AVCodecTag* table = mediaType.majortype == MEDIATYPE_Audio ? avformat_get_riff_audio_tags()
                                                                     : avformat_get_riff_video_tags();
    codec = CodecOfTag(table, mediaType.subtype.Data1);
  }
  if (codec == AV_CODEC_ID_NONE || !avcodec_descriptor_get(codec)) return nullptr;
  AVCodecParameters* parameters = avcodec_parameters_alloc();
  if (!parameters) return nullptr;
  parameters->codec_id = codec;
  const BYTE* extra = nullptr;
  std::size_t extraSize = 0;
  if (const BITMAPINFOHEADER* header = BitmapHeaderOf(mediaType)) {
    parameters->codec_type = AVMEDIA_TYPE_VIDEO;
    parameters->width = header->biWidth;
    parameters->height = header->biHeight < 0 ? -header->biHeight : header->biHeight;
    parameters->codec_tag = header->biCompression;
    // Some decoders read their picture layout from the bit count (Huffyuv).
    parameters->bits_per_coded_sample = header->biBitCount;
    std::size_t headerEnd = mediaType.formattype == FORMAT_VideoInfo ? sizeof(VIDEOINFOHEADER) : sizeof(VIDEOINFOHEADER2);
    if (mediaType.cbFormat > headerEnd) {
      extra = mediaType.pbFormat + headerEnd;
      extraSize = mediaType.cbFormat - headerEnd;
    }
  } else if (const WAVEFORMATEX* wave = WaveFormatOf(mediaType)) {
    parameters->codec_type = AVMEDIA_TYPE_AUDIO;
    parameters->sample_rate = static_cast<int>(wave->nSamplesPerSec);
    av_channel_layout_default(&parameters->ch_layout, wave->nChannels);
    parameters->block_align = wave->nBlockAlign;
    parameters->bits_per_coded_sample = wave->wBitsPerSample;
    parameters->bit_rate = static_cast<int64_t>(wave->nAvgBytesPerSec) * 8;
    std::size_t available = mediaType.cbFormat - sizeof(WAVEFORMATEX);
    extraSize = std::min<std::size_t>(wave->cbSize, available);
    if (extraSize) extra = mediaType.pbFormat + sizeof(WAVEFORMATEX);
  } else {
    avcodec_parameters_free(&parameters);
    return nullptr;
  }
  if (extraSize) {
    parameters->extradata = static_cast<uint8_t*>(av_mallocz(extraSize + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!parameters->extradata) {
      avcodec_parameters_free(&parameters);
      return nullptr;
    }
    std::memcpy(parameters->extradata, extra, extraSize);
    parameters->extradata_size = static_cast<int>(extraSize);
  }
  return parameters;
}

AVPixelFormat PixelFormatOfSubtype(REFGUID subtype) {
  if (subtype == MEDIASUBTYPE_RGB32) return AV_PIX_FMT_BGR0;
  if (subtype == MEDIASUBTYPE_RGB24) return AV_PIX_FMT_BGR24;
  if (subtype == MEDIASUBTYPE_RGB565) return AV_PIX_FMT_RGB565LE;
  if (subtype == MEDIASUBTYPE_RGB555) return AV_PIX_FMT_RGB555LE;
  if (subtype == MEDIASUBTYPE_YUY2) return AV_PIX_FMT_YUYV422;
  if (subtype == MEDIASUBTYPE_UYVY) return AV_PIX_FMT_UYVY422;
  if (subtype == MEDIASUBTYPE_I420 || subtype == MEDIASUBTYPE_IYUV) return AV_PIX_FMT_YUV420P;
  if (subtype == MEDIASUBTYPE_YV12) return AV_PIX_FMT_YUV420P;  // planes swapped by the caller
  if (subtype == MEDIASUBTYPE_NV12) return AV_PIX_FMT_NV12;
  return AV_PIX_FMT_NONE;
}

bool IsUncompressedVideo(const AM_MEDIA_TYPE& mediaType) {
  return mediaType.majortype == MEDIATYPE_Video && PixelFormatOfSubtype(mediaType.subtype) != AV_PIX_FMT_NONE &&
         BitmapHeaderOf(mediaType) != nullptr;
}

bool MakeVideoType(REFGUID subtype, int width, int height, REFERENCE_TIME frameTime, CMediaType* mediaType) {
  struct Layout {
    const GUID* subtype;
    WORD bits;
    DWORD compression;
  };
  const Layout layouts[] = {
      {&MEDIASUBTYPE_RGB32, 32, BI_RGB},
      {&MEDIASUBTYPE_RGB24, 24, BI_RGB},
      {&MEDIASUBTYPE_RGB565, 16, BI_BITFIELDS},
      {&MEDIASUBTYPE_RGB555, 16, BI_RGB},
      {&MEDIASUBTYPE_YUY2, 16, MAKEFOURCC('Y', 'U', 'Y', '2')},
      {&MEDIASUBTYPE_UYVY, 16, MAKEFOURCC('U', 'Y', 'V', 'Y')},
      {&MEDIASUBTYPE_I420, 12, MAKEFOURCC('I', '4', '2', '0')},
      {&MEDIASUBTYPE_YV12, 12, MAKEFOURCC('Y', 'V', '1', '2')},
      {&MEDIASUBTYPE_NV12, 12, MAKEFOURCC('N', 'V', '1', '2')},
  };
  const Layout* layout = nullptr;
  for (const Layout& candidate : layouts)
    if (*candidate.subtype == subtype) layout = &candidate;
  if (!layout || width <= 0 || height <= 0) return false;
  mediaType->InitMediaType();
  mediaType->SetType(&MEDIATYPE_Video);
  mediaType->SetSubtype(&subtype);
  mediaType->SetFormatType(&FORMAT_VideoInfo);
  bool masks = layout->compression == BI_BITFIELDS;
  auto* info = reinterpret_cast<VIDEOINFOHEADER*>(
      mediaType->AllocFormatBuffer(sizeof(VIDEOINFOHEADER) + (masks ? 3 * sizeof(DWORD) : 0)));
  if (!info) return false;
  info->AvgTimePerFrame = frameTime;
  BITMAPINFOHEADER& header = info->bmiHeader;
  header.biSize = sizeof(BITMAPINFOHEADER);
  header.biWidth = width;
  header.biHeight = height;
  header.biPlanes = 1;
  header.biBitCount = layout->bits;
  header.biCompression = layout->compression;
  if (layout->compression == BI_RGB || masks) {
    header.biSizeImage = DibSize(header);
  } else {
    // Planar YUV: rows of luma plus the chroma planes, no padding.
    header.biSizeImage = static_cast<DWORD>(width * height * layout->bits / 8);
  }
  if (masks) {
    DWORD* bitfields = reinterpret_cast<DWORD*>(info + 1);
    bitfields[0] = 0xF800;
    bitfields[1] = 0x07E0;
    bitfields[2] = 0x001F;
  }
  info->dwBitRate = static_cast<DWORD>(frameTime > 0 ? static_cast<LONGLONG>(header.biSizeImage) * 8 * UNITS / frameTime : 0);
  mediaType->SetSampleSize(header.biSizeImage);
  mediaType->SetTemporalCompression(FALSE);
  return true;
}

bool MakePcmType(int sampleRate, int channels, int bitsPerSample, CMediaType* mediaType) {
  if (sampleRate <= 0 || channels <= 0 || channels > 8 || (bitsPerSample != 8 && bitsPerSample != 16)) return false;
  mediaType->InitMediaType();
  mediaType->SetType(&MEDIATYPE_Audio);
  mediaType->SetSubtype(&MEDIASUBTYPE_PCM);
  mediaType->SetFormatType(&FORMAT_WaveFormatEx);
  auto* wave = reinterpret_cast<WAVEFORMATEX*>(mediaType->AllocFormatBuffer(sizeof(WAVEFORMATEX)));
  if (!wave) return false;
  wave->wFormatTag = WAVE_FORMAT_PCM;
  wave->nChannels = static_cast<WORD>(channels);
  wave->nSamplesPerSec = static_cast<DWORD>(sampleRate);
  wave->wBitsPerSample = static_cast<WORD>(bitsPerSample);
  wave->nBlockAlign = static_cast<WORD>(channels * bitsPerSample / 8);
  wave->nAvgBytesPerSec = wave->nSamplesPerSec * wave->nBlockAlign;
  wave->cbSize = 0;
  mediaType->SetSampleSize(wave->nBlockAlign);
  return true;
}

bool MakeEncodedAudioType(const AVCodecContext* encoder, CMediaType* mediaType) {
  unsigned tag = TagOf(avformat_get_riff_audio_tags(), encoder->codec_id);
  int channels = encoder->ch_layout.nb_channels;
  int64_t rate = encoder->sample_rate;
  int64_t frameSamples = encoder->frame_size;
  if (tag == 0 || tag > 0xFFFF || channels <= 0 || rate <= 0) return false;
  int64_t blockAlign = encoder->block_align > 0 ? encoder->block_align : 1;
  int64_t bytesPerSecond = encoder->bit_rate / 8;
  unsigned bitsPerSample = 0;
  // Frames of a constant bit rate, rounded up: the largest frame.
  auto frameBytes = [&] { return frameSamples > 0 ? (frameSamples * encoder->bit_rate / 8 + rate - 1) / rate : 1; };
  // Block codecs: whole blocks of frameSamples samples.
  auto blockRate = [&] { return frameSamples > 0 ? blockAlign * rate / frameSamples : 0; };
  WaveExtra extra;
  switch (encoder->codec_id) {
    case AV_CODEC_ID_MP3:
      // MPEGLAYER3WAVEFORMAT: a byte stream of frames.
      blockAlign = 1;
      extra.Word(kMpegLayer3IdMpeg);
      extra.Dword(kMpegLayer3PaddingOff);
      extra.Word(static_cast<unsigned>(frameSamples > 0 ? frameSamples * encoder->bit_rate / 8 / rate : 0));
      extra.Word(1);  // frames per block
      extra.Word(kMpegLayer3CodecDelay);
      break;
    case AV_CODEC_ID_MP2:
      // MPEG1WAVEFORMAT.
      blockAlign = frameBytes();
      extra.Word(kMpegLayer2);
      extra.Dword(static_cast<uint32_t>(encoder->bit_rate));
      extra.Word(channels == 1 ? kMpegSingleChannel : kMpegStereo);
      extra.Word(0);  // mode extension
      extra.Word(kMpegNoEmphasis);
      extra.Word(rate >= 32000 ? kMpegId1 : 0);
      extra.Dword(0);  // presentation time
      extra.Dword(0);
      break;
    case AV_CODEC_ID_AC3:
      blockAlign = frameBytes();
      break;
    case AV_CODEC_ID_ADPCM_IMA_WAV:
      // IMAADPCMWAVEFORMAT: samples per block.
      bitsPerSample = 4;
      bytesPerSecond = blockRate();
      extra.Word(static_cast<unsigned>(frameSamples));
      break;
    case AV_CODEC_ID_ADPCM_MS:
      // ADPCMWAVEFORMAT: samples per block and the coefficient table, as
      // the encoder states them.
      bitsPerSample = 4;
      bytesPerSecond = blockRate();
      extra.Bytes(encoder->extradata, encoder->extradata_size);
      break;
    case AV_CODEC_ID_GSM_MS:
      // GSM610WAVEFORMAT: samples per block (two GSM frames).
      bytesPerSecond = blockRate();
      extra.Word(static_cast<unsigned>(frameSamples));
      break;
    case AV_CODEC_ID_PCM_ALAW:
    case AV_CODEC_ID_PCM_MULAW:
      bitsPerSample = 8;
      blockAlign = channels;
      bytesPerSecond = rate * channels;
      break;
    default:
      bitsPerSample = static_cast<unsigned>(std::max(encoder->bits_per_coded_sample, 0));
      extra.Bytes(encoder->extradata, encoder->extradata_size);
      break;
  }
  const std::vector<BYTE>& extraBytes = extra.bytes();
  if (extraBytes.size() > 0xFFFF || blockAlign <= 0 || blockAlign > 0xFFFF || bytesPerSecond <= 0 ||
      bytesPerSecond > 0xFFFFFFFFLL)
    return false;

  mediaType->InitMediaType();
  mediaType->SetType(&MEDIATYPE_Audio);
  GUID subtype = FourccSubtype(tag);
  mediaType->SetSubtype(&subtype);
  mediaType->SetFormatType(&FORMAT_WaveFormatEx);
  mediaType->SetVariableSize();
  auto* wave = reinterpret_cast<WAVEFORMATEX*>(
      mediaType->AllocFormatBuffer(static_cast<ULONG>(sizeof(WAVEFORMATEX) + extraBytes.size())));
  if (!wave) return false;
  wave->wFormatTag = static_cast<WORD>(tag);
  wave->nChannels = static_cast<WORD>(channels);
  wave->nSamplesPerSec = static_cast<DWORD>(rate);
  wave->nAvgBytesPerSec = static_cast<DWORD>(bytesPerSecond);
  wave->nBlockAlign = static_cast<WORD>(blockAlign);
  wave->wBitsPerSample = static_cast<WORD>(bitsPerSample);
  wave->cbSize = static_cast<WORD>(extraBytes.size());
  if (!extraBytes.empty()) std::memcpy(wave + 1, extraBytes.data(), extraBytes.size());

  AVCodecParameters* parameters = avcodec_parameters_alloc();
  if (!parameters || avcodec_parameters_from_context(parameters, encoder) < 0) {
    avcodec_parameters_free(&parameters);
    return false;
  }
  // The rate the stream really has (block codecs leave the context's
  // default in bit_rate).
  parameters->bit_rate = bytesPerSecond * 8;
  parameters->codec_tag = tag;
  bool attached = AttachParameters(parameters, mediaType);
  avcodec_parameters_free(&parameters);
  return attached;
}

}  // namespace reel
