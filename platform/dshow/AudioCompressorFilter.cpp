// The audio compressor filters (AudioCompressor.h): PCM in, converted by
// libswresample to the output format and, except for "PCM", encoded by an
// FFmpeg encoder. Each compressor is one entry of the table at the end: its
// class, friendly name, encoder, wave tag, the rates and channels it takes
// and how its bit rate is chosen. The table is the only place a compressor
// is described; the category lists it in table order.
//
// The input is any 8- or 16-bit PCM. Converted sound is collected until it
// fills one frame of the encoder (a block of the ADPCM and GSM codecs, 1152
// samples of MPEG audio, 1536 of AC-3); at the end of the stream the last
// partial frame goes out as it is where the codec allows a short last frame,
// else padded with silence, and the encoder is drained. Output samples are
// timed from the first input sample onwards by the number of samples they
// hold, so the stream has no gaps whatever the encoder's delay.
//
// The output format is the connected output type. Unless IAMStreamConfig
// set one, the output pin offers the input's channels and rate as far as
// the codec takes them (the nearest rate it has otherwise) at the codec's
// default bit rate; the PCM converter offers the input format itself.
// SetFormat while the output is connected reconnects it in the new format.
#include "platform/dshow/AudioCompressor.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <span>
#include <utility>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include "platform/com/ClassTable.h"
#include "platform/com/ComPtr.h"
#include "platform/dshow/BaseFilter.h"
#include "platform/dshow/DShowControl.h"
#include "platform/dshow/FFmpegMediaTypes.h"
#include "platform/dshow/FilterRegistry.h"
#include "platform/dshow/TransformFilter.h"

namespace {

// How a codec's bit rate is chosen: fixed by the format, or one of the
// rates of the MPEG audio layer or of AC-3 (nAvgBytesPerSec of the type).
enum class BitRateChoice { FixedByFormat, MpegLayer3, MpegLayer2, Ac3 };

struct AudioCompressorEntry {
  const CLSID* clsid;
  const char16_t* name;
  const char* encoder;  // libavcodec encoder; null for the PCM converter
  WORD formatTag;
  // The rates offered as capabilities. Codecs with `anyRate` take every
  // rate from kLowestRate to kHighestRate, the others only these.
  std::span<const int> rates;
  bool anyRate;
  int maximumChannels;
  BitRateChoice bitRate;
  bool acmBlockSize;  // ADPCM: blocks sized by rate and channels as ACM does
};

constexpr int kLowestRate = 8000;
constexpr int kHighestRate = 96000;
// Fed to codecs that take frames of any length (A-law, u-law).
constexpr int kVariableFrameSamples = 1024;
// The largest packet an encoder of the table makes is far smaller.
constexpr LONG kPacketBufferSize = 64 * 1024;

constexpr int kCommonRates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000};
constexpr int kTelephoneRates[] = {8000, 11025, 22050, 44100};
constexpr int kMp3Rates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
constexpr int kMp2Rates[] = {16000, 22050, 24000, 32000, 44100, 48000};
constexpr int kAc3Rates[] = {32000, 44100, 48000};
constexpr int kGsmRates[] = {8000};

// Bit rates in bits per second. MPEG-1 audio runs at 32 kHz and above, its
// low-rate extensions (MPEG-2, and MPEG-2.5 for MP3) below.
constexpr long kMp3Mpeg1BitRates[] = {32000,  40000,  48000,  56000,  64000,  80000,  96000,
                                      112000, 128000, 160000, 192000, 224000, 256000, 320000};
constexpr long kMpeg2BitRates[] = {8000,  16000, 24000, 32000,  40000,  48000,  56000,
                                   64000, 80000, 96000, 112000, 128000, 144000, 160000};
constexpr long kMp3Mpeg25BitRates[] = {8000, 16000, 24000, 32000, 40000, 48000, 56000, 64000};
constexpr long kMp2Mpeg1BitRates[] = {32000,  48000,  56000,  64000,  80000,  96000,  112000,
                                      128000, 160000, 192000, 224000, 256000, 320000, 384000};
constexpr long kAc3BitRates[] = {32000,  40000,  48000,  56000,  64000,  80000,  96000,  112000, 128000, 160000,
                                 192000, 224000, 256000, 320000, 384000, 448000, 512000, 576000, 640000};

std::span<const long> BitRatesOf(const AudioCompressorEntry& entry, int rate) {
  switch (entry.bitRate) {
    case BitRateChoice::MpegLayer3:
      if (rate >= 32000) return kMp3Mpeg1BitRates;
      return rate >= 16000 ? std::span<const long>(kMpeg2BitRates) : std::span<const long>(kMp3Mpeg25BitRates);
    case BitRateChoice::MpegLayer2:
      return rate >= 32000 ? std::span<const long>(kMp2Mpeg1BitRates) : std::span<const long>(kMpeg2BitRates);
    case BitRateChoice::Ac3:
      return kAc3BitRates;
    case BitRateChoice::FixedByFormat:
      break;
  }
  return {};
}

long DefaultBitRate(const AudioCompressorEntry& entry, int rate) {
  switch (entry.bitRate) {
    case BitRateChoice::MpegLayer3:
      return rate >= 32000 ? 128000 : rate >= 16000 ? 64000 : 32000;
    case BitRateChoice::MpegLayer2:
      return rate >= 32000 ? 192000 : 64000;
    case BitRateChoice::Ac3:
      return 192000;
    case BitRateChoice::FixedByFormat:
      break;
  }
  return 0;
}

bool IsPcmConverter(const AudioCompressorEntry& entry) { return entry.encoder == nullptr; }

bool EncoderPresent(const AudioCompressorEntry& entry) {
  return IsPcmConverter(entry) || avcodec_find_encoder_by_name(entry.encoder) != nullptr;
}

bool TakesRate(const AudioCompressorEntry& entry, int rate) {
  if (entry.anyRate) return rate >= kLowestRate && rate <= kHighestRate;
  return std::find(entry.rates.begin(), entry.rates.end(), rate) != entry.rates.end();
}

// One output format. bitsPerSample is the PCM converter's sample size;
// bitRate belongs to the codecs that choose one.
struct AudioFormat {
  int rate = 44100;
  int channels = 2;
  int bitsPerSample = 16;
  long bitRate = 0;
};

// The PCM input the compressors take; null when the type is something else.
const WAVEFORMATEX* PcmInput(const AM_MEDIA_TYPE& type) {
  const WAVEFORMATEX* wave = reel::WaveFormatOf(type);
  if (type.majortype != MEDIATYPE_Audio || type.subtype != MEDIASUBTYPE_PCM || !wave ||
      wave->wFormatTag != WAVE_FORMAT_PCM)
    return nullptr;
  bool sane = (wave->wBitsPerSample == 8 || wave->wBitsPerSample == 16) && wave->nChannels >= 1 &&
              wave->nChannels <= 8 && wave->nSamplesPerSec >= 1000 && wave->nSamplesPerSec <= 384000 &&
              wave->nBlockAlign == wave->nChannels * wave->wBitsPerSample / 8;
  return sane ? wave : nullptr;
}

// The format of an output type, checked against what the compressor can
// make; VFW_E_INVALIDMEDIATYPE when it cannot.
HRESULT FormatOfType(const AudioCompressorEntry& entry, const AM_MEDIA_TYPE& type, AudioFormat* format) {
  const WAVEFORMATEX* wave = reel::WaveFormatOf(type);
  if (type.majortype != MEDIATYPE_Audio || type.subtype != FourccSubtype(entry.formatTag) || !wave ||
      wave->wFormatTag != entry.formatTag)
    return VFW_E_INVALIDMEDIATYPE;
  AudioFormat result;
  result.rate = static_cast<int>(wave->nSamplesPerSec);
  result.channels = wave->nChannels;
  if (result.channels < 1 || result.channels > entry.maximumChannels || !TakesRate(entry, result.rate))
    return VFW_E_INVALIDMEDIATYPE;
  if (IsPcmConverter(entry)) {
    result.bitsPerSample = wave->wBitsPerSample;
    if (result.bitsPerSample != 8 && result.bitsPerSample != 16) return VFW_E_INVALIDMEDIATYPE;
    // The derived fields must agree: a WAV writer stores them as they are.
    DWORD blockAlign = static_cast<DWORD>(result.channels * result.bitsPerSample / 8);
    if (wave->nBlockAlign != blockAlign || wave->nAvgBytesPerSec != blockAlign * wave->nSamplesPerSec)
      return VFW_E_INVALIDMEDIATYPE;
  } else if (entry.bitRate != BitRateChoice::FixedByFormat) {
    std::span<const long> rates = BitRatesOf(entry, result.rate);
    result.bitRate = static_cast<long>(wave->nAvgBytesPerSec) * 8;
    if (std::find(rates.begin(), rates.end(), result.bitRate) == rates.end()) return VFW_E_INVALIDMEDIATYPE;
  }
  *format = result;
  return S_OK;
}

// The ADPCM block size of the audio compression manager: 256 bytes per
// channel at 11025 Hz and below, growing with the rate.
int AcmBlockSize(const AudioFormat& format) { return 256 * format.channels * std::max(1, format.rate / 11025); }

// An opened encoder for the format, or null when the codec refuses it.
AVCodecContext* OpenEncoder(const AudioCompressorEntry& entry, const AudioFormat& format) {
  const AVCodec* codec = avcodec_find_encoder_by_name(entry.encoder);
  if (!codec) return nullptr;
  AVCodecContext* context = avcodec_alloc_context3(codec);
  if (!context) return nullptr;
  context->sample_rate = format.rate;
  av_channel_layout_default(&context->ch_layout, format.channels);
  context->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
  context->time_base = AVRational{1, format.rate};
  if (entry.bitRate != BitRateChoice::FixedByFormat) context->bit_rate = format.bitRate;
  if (entry.acmBlockSize) av_opt_set_int(context->priv_data, "block_size", AcmBlockSize(format), 0);
  if (avcodec_open2(context, codec, nullptr) < 0) avcodec_free_context(&context);
  return context;
}

// Mono goes to both channels as it is and stereo becomes mono as the mean
// of its two, as the audio compression manager converts them; other
// layouts mix down as libswresample mixes them, kept below full scale.
bool SetChannelMix(SwrContext* resampler, int inputChannels, int outputChannels) {
  if (inputChannels == 1 && outputChannels == 2) {
    const double both[] = {1.0, 1.0};
    return swr_set_matrix(resampler, both, 1) >= 0;
  }
  if (inputChannels == 2 && outputChannels == 1) {
    const double mean[] = {0.5, 0.5};
    return swr_set_matrix(resampler, mean, 2) >= 0;
  }
  return av_opt_set_double(resampler, "rematrix_maxval", 1.0, 0) >= 0;
}

class CAudioCompressor;

// The output pin answers IAMStreamConfig too, where capture-style clients
// look for it.
class CAudioCompressorOutputPin : public CTransformOutputPin {
 public:
  CAudioCompressorOutputPin(CAudioCompressor* filter, HRESULT* result);
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

 private:
  CAudioCompressor* compressor_;
};

class CAudioCompressor : public CTransformFilter, public IAMStreamConfig {
 public:
  CAudioCompressor(LPUNKNOWN outer, const AudioCompressorEntry& entry)
      : CTransformFilter("audio compressor", outer, *entry.clsid), entry_(entry) {}
  ~CAudioCompressor() override { CloseStreaming(); }

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IAMStreamConfig) return GetInterface(static_cast<IAMStreamConfig*>(this), ppv);
    return CTransformFilter::NonDelegatingQueryInterface(riid, ppv);
  }

  HRESULT CheckInputType(const CMediaType* mediaType) override {
    return PcmInput(*mediaType) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }

  // Any PCM converts to any format the compressor makes.
  HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override {
    AudioFormat format;
    if (!PcmInput(*in) || FAILED(FormatOfType(entry_, *out, &format))) return VFW_E_TYPE_NOT_ACCEPTED;
    CMediaType expected;
    if (FAILED(MakeType(format, &expected))) return VFW_E_TYPE_NOT_ACCEPTED;
    return CMediaType(*out) == expected ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }

  HRESULT GetMediaType(int position, CMediaType* mediaType) override {
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    return MakeType(CurrentFormat(), mediaType);
  }

  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    const WAVEFORMATEX* wave = reel::WaveFormatOf(m_pOutput->CurrentMediaType());
    if (!wave) return E_UNEXPECTED;
    // PCM: a quarter of a second per buffer (longer runs are split); coded
    // sound: one packet per buffer.
    LONG size = IsPcmConverter(entry_) ? static_cast<LONG>(std::max<DWORD>(wave->nAvgBytesPerSec / 4, 4096))
                                       : kPacketBufferSize;
    request->cBuffers = std::max<LONG>(request->cBuffers, 8);
    request->cbBuffer = std::max<LONG>(request->cbBuffer, size);
    ALLOCATOR_PROPERTIES actual{};
    HRESULT result = allocator->SetProperties(request, &actual);
    if (FAILED(result)) return result;
    return actual.cbBuffer < request->cbBuffer ? E_FAIL : S_OK;
  }

  HRESULT StartStreaming() override { return OpenStreaming(); }
  HRESULT StopStreaming() override {
    CloseStreaming();
    return S_OK;
  }

  HRESULT Receive(IMediaSample* sample) override {
    if (!resampler_) return VFW_E_WRONG_STATE;
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || !data) return E_POINTER;
    int count = sample->GetActualDataLength() / inputBlockAlign_;
    if (count <= 0) return S_OK;
    if (!started_) {
      // Output time runs from the first input sample.
      REFERENCE_TIME start = 0;
      REFERENCE_TIME stop = 0;
      if (SUCCEEDED(sample->GetTime(&start, &stop))) startTime_ = std::max<REFERENCE_TIME>(start, 0);
      started_ = true;
    }
    const uint8_t* input = data;
    return Convert(&input, count);
  }

  HRESULT EndOfStream() override {
    if (resampler_) {
      CAutoLock streaming(&m_csReceive);
      // What the resampler still holds, the last frame, what the encoder
      // still holds. Downstream may already refuse samples: the end of
      // stream goes out regardless.
      if (Convert(nullptr, 0) == S_OK && encoder_ && EncodeFrames(true) == S_OK) {
        avcodec_send_frame(encoder_, nullptr);
        DeliverPackets();
      }
    }
    return CTransformFilter::EndOfStream();
  }

  HRESULT EndFlush() override {
    {
      // Sound before the flush is dropped, the encoder starts over.
      CAutoLock streaming(&m_csReceive);
      if (resampler_) {
        CloseStreaming();
        OpenStreaming();
      }
    }
    return CTransformFilter::EndFlush();
  }

  // IAMStreamConfig
  HRESULT SetFormat(AM_MEDIA_TYPE* mediaType) override {
    if (!mediaType) return E_POINTER;
    CAutoLock hold(&m_csFilter);
    if (!IsStopped()) return VFW_E_NOT_STOPPED;
    AudioFormat format;
    HRESULT result = FormatOfType(entry_, *mediaType, &format);
    if (FAILED(result)) return result;
    CMediaType type;
    if (FAILED(MakeType(format, &type))) return VFW_E_INVALIDMEDIATYPE;
    std::optional<AudioFormat> previous = chosen_;
    chosen_ = format;
    if (!m_pOutput || !m_pOutput->IsConnected() || m_pOutput->CurrentMediaType() == type) return S_OK;
    result = ReconnectOutput(type);
    if (FAILED(result)) chosen_ = previous;
    return result;
  }

  HRESULT GetFormat(AM_MEDIA_TYPE** mediaType) override {
    if (!mediaType) return E_POINTER;
    *mediaType = nullptr;
    CAutoLock hold(&m_csFilter);
    CMediaType type;
    HRESULT result = MakeType(CurrentFormat(), &type);
    if (FAILED(result)) return result;
    *mediaType = CreateMediaType(&type);
    return *mediaType ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT GetNumberOfCapabilities(int* count, int* size) override {
    if (!count || !size) return E_POINTER;
    *count = static_cast<int>(Capabilities().size());
    *size = static_cast<int>(sizeof(AUDIO_STREAM_CONFIG_CAPS));
    return S_OK;
  }

  HRESULT GetStreamCaps(int index, AM_MEDIA_TYPE** mediaType, BYTE* caps) override {
    if (!mediaType || !caps) return E_POINTER;
    *mediaType = nullptr;
    if (index < 0) return E_INVALIDARG;
    std::vector<AudioFormat> formats = Capabilities();
    if (index >= static_cast<int>(formats.size())) return S_FALSE;
    const AudioFormat& format = formats[static_cast<std::size_t>(index)];
    CMediaType type;
    HRESULT result = MakeType(format, &type);
    if (FAILED(result)) return result;
    const WAVEFORMATEX* wave = reel::WaveFormatOf(type);
    AUDIO_STREAM_CONFIG_CAPS description{};
    description.guid = MEDIATYPE_Audio;
    description.MinimumChannels = description.MaximumChannels = static_cast<ULONG>(format.channels);
    description.ChannelsGranularity = 1;
    description.MinimumBitsPerSample = description.MaximumBitsPerSample = wave->wBitsPerSample;
    description.BitsPerSampleGranularity = 1;
    description.MinimumSampleFrequency = description.MaximumSampleFrequency = static_cast<ULONG>(format.rate);
    description.SampleFrequencyGranularity = 1;
    std::memcpy(caps, &description, sizeof(description));
    *mediaType = CreateMediaType(&type);
    return *mediaType ? S_OK : E_OUTOFMEMORY;
  }

 protected:
  void CreatePins() override {
    HRESULT result = S_OK;
    m_pInput = new (std::nothrow) CTransformInputPin("audio compressor input", this, &result, u"Input");
    m_pOutput = new (std::nothrow) CAudioCompressorOutputPin(this, &result);
  }

 private:
  // The format the output offers: the one chosen, else the input's as far
  // as the codec takes it.
  AudioFormat CurrentFormat() const {
    if (chosen_) return *chosen_;
    AudioFormat format;
    if (m_pInput && m_pInput->IsConnected()) {
      const WAVEFORMATEX* wave = PcmInput(m_pInput->CurrentMediaType());
      if (wave) {
        format.rate = static_cast<int>(wave->nSamplesPerSec);
        format.channels = wave->nChannels;
        format.bitsPerSample = wave->wBitsPerSample;
      }
    }
    format.channels = std::min(format.channels, entry_.maximumChannels);
    if (!TakesRate(entry_, format.rate)) format.rate = NearestRate(format.rate);
    if (!IsPcmConverter(entry_)) format.bitsPerSample = 16;
    format.bitRate = DefaultBitRate(entry_, format.rate);
    return format;
  }

  int NearestRate(int rate) const {
    int nearest = entry_.rates.front();
    for (int candidate : entry_.rates)
      if (std::abs(candidate - rate) <= std::abs(nearest - rate)) nearest = candidate;
    return nearest;
  }

  // Every format offered, one per capability: by rate, then channels (most
  // first), then sample size or bit rate.
  std::vector<AudioFormat> Capabilities() const {
    std::vector<AudioFormat> formats;
    for (int rate : entry_.rates) {
      for (int channels = entry_.maximumChannels; channels >= 1; --channels) {
        AudioFormat format;
        format.rate = rate;
        format.channels = channels;
        if (IsPcmConverter(entry_)) {
          for (int bits : {16, 8}) {
            format.bitsPerSample = bits;
            formats.push_back(format);
          }
        } else if (entry_.bitRate != BitRateChoice::FixedByFormat) {
          for (long bitRate : BitRatesOf(entry_, rate)) {
            format.bitRate = bitRate;
            formats.push_back(format);
          }
        } else {
          formats.push_back(format);
        }
      }
    }
    return formats;
  }

  // The output type of a format; the encoder is opened to learn what it
  // makes of it.
  HRESULT MakeType(const AudioFormat& format, CMediaType* mediaType) const {
    if (IsPcmConverter(entry_))
      return reel::MakePcmType(format.rate, format.channels, format.bitsPerSample, mediaType) ? S_OK : E_OUTOFMEMORY;
    AVCodecContext* trial = OpenEncoder(entry_, format);
    if (!trial) return VFW_E_INVALIDMEDIATYPE;
    // An encoder that quietly picked another rate would not make this format.
    bool made = (entry_.bitRate == BitRateChoice::FixedByFormat || trial->bit_rate == format.bitRate) &&
                reel::MakeEncodedAudioType(trial, mediaType);
    avcodec_free_context(&trial);
    return made ? S_OK : VFW_E_INVALIDMEDIATYPE;
  }

  // Under the filter lock, stopped: the output connects again in the new
  // type, or stays in the old one when the downstream pin refuses it.
  HRESULT ReconnectOutput(const CMediaType& type) {
    reel::ComPtr<IPin> peer(m_pOutput->GetConnected());
    if (peer->QueryAccept(&type) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
    CMediaType previous = m_pOutput->CurrentMediaType();
    m_pOutput->Disconnect();
    peer->Disconnect();
    HRESULT result = m_pOutput->Connect(peer.Get(), &type);
    if (FAILED(result)) m_pOutput->Connect(peer.Get(), &previous);
    return result;
  }

  // Streaming state, on the streaming thread (or under m_csReceive).
  HRESULT OpenStreaming() {
    CloseStreaming();
    const WAVEFORMATEX* input = PcmInput(m_pInput->CurrentMediaType());
    AudioFormat format;
    if (!input || FAILED(FormatOfType(entry_, m_pOutput->CurrentMediaType(), &format))) return VFW_E_NO_TRANSPORT;
    AVSampleFormat sampleFormat = format.bitsPerSample == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
    if (!IsPcmConverter(entry_)) {
      encoder_ = OpenEncoder(entry_, format);
      CMediaType made;
      // The stream must be what the connected type promised downstream.
      if (!encoder_ || !reel::MakeEncodedAudioType(encoder_, &made) || !(made == m_pOutput->CurrentMediaType()))
        return FailOpen(VFW_E_TYPE_NOT_ACCEPTED);
      sampleFormat = encoder_->sample_fmt;
      bool anyLength = (encoder_->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) || encoder_->frame_size <= 0;
      frameSamples_ = anyLength ? kVariableFrameSamples : encoder_->frame_size;
      shortLastFrame_ = anyLength || (encoder_->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME);
      fifo_ = av_audio_fifo_alloc(sampleFormat, format.channels, frameSamples_ * 2);
      frame_ = av_frame_alloc();
      packet_ = av_packet_alloc();
      if (!fifo_ || !frame_ || !packet_) return FailOpen(E_OUTOFMEMORY);
      frame_->format = sampleFormat;
      frame_->sample_rate = format.rate;
      frame_->nb_samples = frameSamples_;
      if (av_channel_layout_copy(&frame_->ch_layout, &encoder_->ch_layout) < 0 || av_frame_get_buffer(frame_, 0) < 0)
        return FailOpen(E_OUTOFMEMORY);
    }
    AVChannelLayout inputLayout;
    AVChannelLayout outputLayout;
    av_channel_layout_default(&inputLayout, input->nChannels);
    av_channel_layout_default(&outputLayout, format.channels);
    int status = swr_alloc_set_opts2(&resampler_, &outputLayout, sampleFormat, format.rate, &inputLayout,
                                     input->wBitsPerSample == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16,
                                     static_cast<int>(input->nSamplesPerSec), 0, nullptr);
    av_channel_layout_uninit(&inputLayout);
    av_channel_layout_uninit(&outputLayout);
    if (status < 0 || !SetChannelMix(resampler_, input->nChannels, format.channels) || swr_init(resampler_) < 0)
      return FailOpen(E_FAIL);
    converted_ = av_frame_alloc();
    if (!converted_) return FailOpen(E_OUTOFMEMORY);
    output_ = format;
    outputFormat_ = sampleFormat;
    inputBlockAlign_ = input->nBlockAlign;
    started_ = false;
    startTime_ = 0;
    samplesOut_ = 0;
    return S_OK;
  }
  HRESULT FailOpen(HRESULT result) {
    CloseStreaming();
    return result;
  }
  void CloseStreaming() {
    swr_free(&resampler_);
    avcodec_free_context(&encoder_);
    if (fifo_) av_audio_fifo_free(fifo_);
    fifo_ = nullptr;
    av_frame_free(&frame_);
    av_frame_free(&converted_);
    av_packet_free(&packet_);
  }

  HRESULT Fail(HRESULT result) {
    NotifyEvent(EC_ERRORABORT, result, 0);
    return result;
  }

  REFERENCE_TIME TimeOfSample(int64_t index) const {
    return startTime_ + reel::ToReferenceTime(index, AVRational{1, output_.rate});
  }

  // Converts `count` input samples (none: what the resampler holds) and
  // sends them on: PCM as it is, coded sound frame by frame.
  HRESULT Convert(const uint8_t** input, int count) {
    int capacity = swr_get_out_samples(resampler_, count);
    if (capacity < 0) return Fail(E_FAIL);
    if (capacity == 0) return S_OK;
    if (converted_->nb_samples < capacity) {
      av_frame_unref(converted_);
      converted_->format = outputFormat_;
      converted_->nb_samples = capacity;
      av_channel_layout_default(&converted_->ch_layout, output_.channels);
      if (av_frame_get_buffer(converted_, 0) < 0) return Fail(E_OUTOFMEMORY);
    }
    int made = swr_convert(resampler_, converted_->extended_data, capacity, input, count);
    if (made < 0) return Fail(E_FAIL);
    if (made == 0) return S_OK;
    if (!encoder_) return DeliverPcm(converted_->data[0], made);
    if (av_audio_fifo_write(fifo_, reinterpret_cast<void**>(converted_->extended_data), made) < made)
      return Fail(E_OUTOFMEMORY);
    return EncodeFrames(false);
  }

  HRESULT DeliverPcm(const uint8_t* data, int count) {
    int blockAlign = output_.channels * output_.bitsPerSample / 8;
    int done = 0;
    while (done < count) {
      IMediaSample* out = nullptr;
      HRESULT result = m_pOutput->GetDeliveryBuffer(&out, nullptr, nullptr, 0);
      if (FAILED(result)) return result;
      int chunk = std::min(count - done, out->GetSize() / blockAlign);
      BYTE* buffer = nullptr;
      if (FAILED(out->GetPointer(&buffer)) || !buffer || chunk <= 0) {
        out->Release();
        return Fail(E_FAIL);
      }
      std::memcpy(buffer, data + static_cast<std::size_t>(done) * blockAlign,
                  static_cast<std::size_t>(chunk) * blockAlign);
      out->SetActualDataLength(chunk * blockAlign);
      REFERENCE_TIME start = TimeOfSample(samplesOut_);
      REFERENCE_TIME stop = TimeOfSample(samplesOut_ + chunk);
      out->SetTime(&start, &stop);
      out->SetSyncPoint(TRUE);
      result = m_pOutput->Deliver(out);
      out->Release();
      if (result != S_OK) return result;
      samplesOut_ += chunk;
      done += chunk;
    }
    return S_OK;
  }

  // Encodes every whole frame collected; at the end also the rest.
  HRESULT EncodeFrames(bool last) {
    for (;;) {
      int available = av_audio_fifo_size(fifo_);
      if (available == 0 || (available < frameSamples_ && !last)) return S_OK;
      frame_->nb_samples = frameSamples_;
      if (av_frame_make_writable(frame_) < 0) return Fail(E_OUTOFMEMORY);
      int taken = av_audio_fifo_read(fifo_, reinterpret_cast<void**>(frame_->extended_data),
                                     std::min(available, frameSamples_));
      if (taken <= 0) return Fail(E_FAIL);
      if (taken < frameSamples_) {
        if (shortLastFrame_)
          frame_->nb_samples = taken;
        else
          av_samples_set_silence(frame_->extended_data, taken, frameSamples_ - taken, output_.channels,
                                 outputFormat_);
      }
      frame_->pts = samplesOut_;
      samplesOut_ += frame_->nb_samples;
      if (avcodec_send_frame(encoder_, frame_) < 0) return Fail(E_FAIL);
      HRESULT result = DeliverPackets();
      if (result != S_OK) return result;
    }
  }

  HRESULT DeliverPackets() {
    for (;;) {
      int received = avcodec_receive_packet(encoder_, packet_);
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
    std::memcpy(data, packet_->data, static_cast<std::size_t>(packet_->size));
    out->SetActualDataLength(packet_->size);
    // The encoder dates packets by the sound they carry, less its delay;
    // with the delay added back they follow each other without gaps.
    int64_t first = packet_->pts == AV_NOPTS_VALUE ? 0 : std::max<int64_t>(packet_->pts + encoder_->initial_padding, 0);
    int64_t duration = packet_->duration > 0 ? packet_->duration : frameSamples_;
    REFERENCE_TIME start = TimeOfSample(first);
    REFERENCE_TIME stop = TimeOfSample(first + duration);
    out->SetTime(&start, &stop);
    out->SetSyncPoint(TRUE);
    result = m_pOutput->Deliver(out);
    out->Release();
    return result;
  }

  const AudioCompressorEntry& entry_;
  // Chosen with SetFormat; under m_csFilter.
  std::optional<AudioFormat> chosen_;

  // The run's converter and encoder; used on the streaming thread.
  SwrContext* resampler_ = nullptr;
  AVCodecContext* encoder_ = nullptr;
  AVAudioFifo* fifo_ = nullptr;  // converted sound not yet encoded
  AVFrame* frame_ = nullptr;     // one frame for the encoder
  AVFrame* converted_ = nullptr; // the resampler's output
  AVPacket* packet_ = nullptr;
  AudioFormat output_;
  AVSampleFormat outputFormat_ = AV_SAMPLE_FMT_S16;
  int inputBlockAlign_ = 1;
  int frameSamples_ = kVariableFrameSamples;
  bool shortLastFrame_ = false;
  bool started_ = false;
  REFERENCE_TIME startTime_ = 0;
  int64_t samplesOut_ = 0;  // samples sent on (PCM) or to the encoder
};

CAudioCompressorOutputPin::CAudioCompressorOutputPin(CAudioCompressor* filter, HRESULT* result)
    : CTransformOutputPin("audio compressor output", filter, result, u"Output"), compressor_(filter) {}

HRESULT CAudioCompressorOutputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IAMStreamConfig) return GetInterface(static_cast<IAMStreamConfig*>(compressor_), ppv);
  return CTransformOutputPin::NonDelegatingQueryInterface(riid, ppv);
}

// clang-format off
constexpr AudioCompressorEntry kCompressors[] = {
  // class                         friendly name         encoder          wave tag  rates            any rate  channels  bit rate                       ACM blocks
  {&CLSID_PcmAudioCompressor,      u"PCM",               nullptr,         0x0001,   kCommonRates,    true,     2,        BitRateChoice::FixedByFormat,  false},
  {&CLSID_Mp3AudioCompressor,      u"MPEG Layer-3",      "libmp3lame",    0x0055,   kMp3Rates,       false,    2,        BitRateChoice::MpegLayer3,     false},
  {&CLSID_ImaAdpcmAudioCompressor, u"IMA ADPCM",         "adpcm_ima_wav", 0x0011,   kTelephoneRates, true,     2,        BitRateChoice::FixedByFormat,  true},
  {&CLSID_MsAdpcmAudioCompressor,  u"Microsoft ADPCM",   "adpcm_ms",      0x0002,   kTelephoneRates, true,     2,        BitRateChoice::FixedByFormat,  true},
  {&CLSID_ALawAudioCompressor,     u"CCITT A-Law",       "pcm_alaw",      0x0006,   kTelephoneRates, true,     2,        BitRateChoice::FixedByFormat,  false},
  {&CLSID_MuLawAudioCompressor,    u"CCITT u-Law",       "pcm_mulaw",     0x0007,   kTelephoneRates, true,     2,        BitRateChoice::FixedByFormat,  false},
  {&CLSID_Gsm610AudioCompressor,   u"GSM 6.10",          "libgsm_ms",     0x0031,   kGsmRates,       false,    1,        BitRateChoice::FixedByFormat,  false},
  {&CLSID_Mp2AudioCompressor,      u"MPEG Layer-2",      "mp2",           0x0050,   kMp2Rates,       false,    2,        BitRateChoice::MpegLayer2,     false},
  {&CLSID_Ac3AudioCompressor,      u"AC-3",              "ac3",           0x2000,   kAc3Rates,       false,    2,        BitRateChoice::Ac3,            false},
};
// clang-format on

template <std::size_t Index>
HRESULT CreateCompressor(IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (outer && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
  auto* filter = new (std::nothrow) CAudioCompressor(outer, kCompressors[Index]);
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
    const AudioCompressorEntry& entry = kCompressors[index];
    if (!EncoderPresent(entry)) continue;
    reel::RegisterBuiltinClass(*entry.clsid, creators[index]);
    reel::RegisteredFilter filter;
    filter.clsid = *entry.clsid;
    filter.name = entry.name;
    filter.merit = MERIT_DO_NOT_USE;
    filter.category = CLSID_AudioCompressorCategory;
    filter.pins = {{u"Input", false, false, false, false, {{MEDIATYPE_Audio, MEDIASUBTYPE_PCM}}},
                   {u"Output", true, false, false, false, {{MEDIATYPE_Audio, FourccSubtype(entry.formatTag)}}}};
    registered = reel::RegisterBuiltinFilter(filter) && registered;
  }
  return registered;
}();

}  // namespace
