// The ASF writer (AsfWriter.h). Each stream of the configured profile gives
// one input pin, named by kind and position ("Video Input 01", "Audio Input
// 01", "Audio Input 02"). Video pins take uncompressed pictures (RGB or YUV
// DIB layouts), audio pins PCM; each connected pin encodes its stream with
// the FFmpeg encoder of the profile's codec (ProfileModel.h) at the
// profile's picture size, frame rate, sample rate, channels and bit rates,
// and libavformat's "asf" muxer writes the file named through
// IFileSinkFilter. Pins left unconnected have no stream in the file.
//
// Without a configured profile the writer uses the catalogue's "Reelpress
// Video 8 for Broadband (320x240, 25 fps, 340 Kbps)" (kDefaultProfile): one
// audio and one video stream.
//
// Pictures: scaled (stretched) to the profile's size. Frame rate: the output
// runs on the profile's frame grid, slot n at n * AvgTimePerFrame. A picture
// starting at time t begins at slot round(t / frame time) and fills every
// slot until the next picture begins; the last picture lasts to its stop
// time. So a faster source drops pictures, a slower one repeats them, and
// the file has round(duration * profile rate) frames.
//
// Sound: converted to the encoder's rate, channels and sample format with
// libswresample and cut into codec frames; the last frame is filled up
// with silence. The encoder is primed with silence ahead of the first
// sample (PrimeEncoder) and given a frame of silence after the last, so no
// sound is lost at either end and the last frame decodes cleanly.
//
// Time: in a graph with a reference clock the file is written in real time
// (WaitForStartTime); a conversion graph runs without a clock, as fast as
// the encoders go.
//
// The filter renders: EC_COMPLETE follows once every connected input has
// ended and the file is closed. Stopping before that flushes the encoders
// and finishes the file, so it is always a whole ASF file. A new profile
// (only while stopped) replaces the pins; pins that were connected are
// disconnected from their peers first. Replaced pins are kept until the
// filter goes, so pointers callers still hold stay valid.
//
// The index mode is kept and reported; libavformat's muxer writes its index
// to a seekable file either way.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "platform/com/ClassTable.h"
#include "platform/dshow/AsfWriter.h"
#include "platform/dshow/BaseFilter.h"
#include "platform/dshow/DShowControl.h"
#include "platform/dshow/FFmpegMediaTypes.h"
#include "platform/dshow/FilterRegistry.h"
#include "platform/dshow/OutputInterfaces.h"
#include "platform/dshow/PictureConversion.h"
#include "platform/win/Strings.h"
#include "platform/wmf/ProfileModel.h"

namespace {

using reel::wmf::ProfileDefinition;
using reel::wmf::StreamDefinition;

// {6D1F3A52-8C47-4E0B-9A36-5B72C0E4D103}: the broadband 320x240 entry.
constexpr GUID kDefaultProfile = {0x6D1F3A52, 0x8C47, 0x4E0B, {0x9A, 0x36, 0x5B, 0x72, 0xC0, 0xE4, 0xD1, 0x03}};
constexpr LONG kMaximumInputPicture = 8192;

bool AcceptedVideo(const AM_MEDIA_TYPE& type) {
  if (type.majortype != MEDIATYPE_Video || !reel::IsUncompressedVideo(type)) return false;
  if (reel::PixelFormatOfSubtype(type.subtype) == AV_PIX_FMT_NONE) return false;
  const BITMAPINFOHEADER* header = reel::BitmapHeaderOf(type);
  if (!header) return false;
  LONG height = header->biHeight < 0 ? -header->biHeight : header->biHeight;
  return header->biWidth > 0 && header->biWidth <= kMaximumInputPicture && height > 0 &&
         height <= kMaximumInputPicture;
}

AVSampleFormat PcmSampleFormat(const AM_MEDIA_TYPE& type) {
  const WAVEFORMATEX* wave = reel::WaveFormatOf(type);
  if (!wave || type.majortype != MEDIATYPE_Audio) return AV_SAMPLE_FMT_NONE;
  if (wave->nChannels < 1 || wave->nChannels > 8 || wave->nSamplesPerSec < 1000 || wave->nSamplesPerSec > 384000)
    return AV_SAMPLE_FMT_NONE;
  if (wave->nBlockAlign != wave->nChannels * wave->wBitsPerSample / 8) return AV_SAMPLE_FMT_NONE;
  if (type.subtype == MEDIASUBTYPE_PCM && wave->wFormatTag == WAVE_FORMAT_PCM) {
    switch (wave->wBitsPerSample) {
      case 8: return AV_SAMPLE_FMT_U8;
      case 16: return AV_SAMPLE_FMT_S16;
      case 32: return AV_SAMPLE_FMT_S32;
      default: return AV_SAMPLE_FMT_NONE;
    }
  }
  if (type.subtype == MEDIASUBTYPE_IEEE_FLOAT && wave->wFormatTag == WAVE_FORMAT_IEEE_FLOAT && wave->wBitsPerSample == 32)
    return AV_SAMPLE_FMT_FLT;
  return AV_SAMPLE_FMT_NONE;
}

class CAsfWriter;

// One input pin and the encoder of its stream. The per-run state below is
// guarded by streamLock; the writer takes it (then its muxing lock) to
// finish a stream that is still running when it stops.
class CAsfInputPin : public CBaseInputPin {
 public:
  CAsfInputPin(CAsfWriter* writer, CCritSec* lock, HRESULT* result, const std::u16string& name,
               const StreamDefinition& stream);
  ~CAsfInputPin() override { CloseStream(); }

  HRESULT CheckMediaType(const CMediaType* mediaType) override {
    bool video = definition.streamType == MEDIATYPE_Video;
    bool accepted = video ? AcceptedVideo(*mediaType) : PcmSampleFormat(*mediaType) != AV_SAMPLE_FMT_NONE;
    return accepted ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT Receive(IMediaSample* sample) override;
  HRESULT EndOfStream() override;
  HRESULT BeginFlush() override;

  bool IsVideo() const { return definition.streamType == MEDIATYPE_Video; }

  // Opens the encoder and adds the stream to the muxer (under streamLock).
  HRESULT OpenStream(AVFormatContext* muxer);
  void CloseStream();
  // Encodes a picture or a run of sound (under streamLock).
  HRESULT EncodeSample(IMediaSample* sample);
  // Sends what is held (last picture, buffered sound) and drains the
  // encoder (under streamLock).
  HRESULT FinishStream();

  std::mutex streamLock;
  bool active = false;  // has a stream in this run
  bool ended = false;

  CAsfWriter* writer_;
  const StreamDefinition definition;

 private:
  HRESULT EncodeVideo(IMediaSample* sample);
  HRESULT EncodeAudio(IMediaSample* sample);
  HRESULT SendFrame(AVFrame* frame);
  HRESULT EncodeFifo(bool final);
  HRESULT PrimeEncoder(int64_t firstSample);
  HRESULT QueueSilence(int samples);

  AVCodecContext* encoder_ = nullptr;
  AVStream* stream_ = nullptr;
  AVPacket* packet_ = nullptr;
  // Video: the picture waiting for its slots, where it starts and stops,
  // and the next slot to fill.
  AVFrame* pending_ = nullptr;
  REFERENCE_TIME pendingStop_ = 0;
  int64_t nextSlot_ = -1;
  REFERENCE_TIME frameTime_ = 0;
  REFERENCE_TIME inputFrameTime_ = 0;
  SwsContext* scaler_ = nullptr;
  // Audio.
  SwrContext* resampler_ = nullptr;
  AVAudioFifo* fifo_ = nullptr;
  AVFrame* audioFrame_ = nullptr;
  int64_t nextSample_ = 0;
  bool soundStarted_ = false;  // nextSample_ follows the first sample's time
  int inputBlockAlign_ = 0;
};

class CAsfWriter : public CBaseFilter, public IFileSinkFilter2, public IConfigAsfWriter {
 public:
  explicit CAsfWriter(LPUNKNOWN outer) : CBaseFilter("asf writer", outer, &lock_, CLSID_WMAsfWriter) {
    const ProfileDefinition* profile = reel::wmf::FindSystemProfile(kDefaultProfile);
    if (profile) ApplyProfile(*profile);
  }
  ~CAsfWriter() override { CloseMuxer(false); }

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IFileSinkFilter) return GetInterface(static_cast<IFileSinkFilter*>(this), ppv);
    if (riid == IID_IFileSinkFilter2) return GetInterface(static_cast<IFileSinkFilter2*>(this), ppv);
    if (riid == IID_IConfigAsfWriter) return GetInterface(static_cast<IConfigAsfWriter*>(this), ppv);
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
  }

  int GetPinCount() override {
    CAutoLock hold(&lock_);
    return static_cast<int>(inputs_.size());
  }
  CBasePin* GetPin(int index) override {
    CAutoLock hold(&lock_);
    if (index < 0 || index >= static_cast<int>(inputs_.size())) return nullptr;
    return inputs_[static_cast<std::size_t>(index)].get();
  }
  ULONG GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

  HRESULT Pause() override {
    CAutoLock hold(&lock_);
    bool starting = m_State == State_Stopped;
    if (starting) {
      HRESULT opened = OpenMuxer();
      if (FAILED(opened)) return opened;
    }
    HRESULT result = CBaseFilter::Pause();
    WakeWaitingInputs();
    return result;
  }
  HRESULT Run(REFERENCE_TIME start) override {
    CAutoLock hold(&lock_);
    HRESULT result = CBaseFilter::Run(start);
    WakeWaitingInputs();
    return result;
  }
  HRESULT Stop() override {
    CAutoLock hold(&lock_);
    HRESULT result = CBaseFilter::Stop();
    WakeWaitingInputs();
    CloseMuxer(true);
    return result;
  }

  // With a reference clock the file is written in real time, as a capture
  // is: a sample waits for its start time while the graph runs, and while
  // it is paused. Without a clock (conversions) nothing waits. S_OK when
  // the sample is due, S_FALSE when the wait ended by flushing or stopping.
  // Called on a pin's streaming thread holding no lock.
  HRESULT WaitForStartTime(CAsfInputPin* input, REFERENCE_TIME start) {
    constexpr REFERENCE_TIME kLongestNap = UNITS / 50;
    std::unique_lock<std::mutex> hold(waitLock_);
    for (;;) {
      if (m_State == State_Stopped || input->IsFlushing()) return S_FALSE;
      REFERENCE_TIME now = 0;
      hold.unlock();
      HRESULT timed = StreamTime(now);
      hold.lock();
      if (FAILED(timed)) return S_OK;
      REFERENCE_TIME nap = kLongestNap;
      if (m_State == State_Running) {
        if (now >= start) return S_OK;
        nap = std::min(nap, start - now);
      }
      wake_.wait_for(hold, std::chrono::microseconds(nap / 10));
    }
  }
  void WakeWaitingInputs() {
    std::lock_guard<std::mutex> hold(waitLock_);
    wake_.notify_all();
  }

  // IFileSinkFilter
  HRESULT SetFileName(LPCOLESTR fileName, const AM_MEDIA_TYPE* mediaType) override {
    if (!fileName) return E_POINTER;
    if (*fileName == 0) return E_INVALIDARG;
    CAutoLock hold(&lock_);
    if (!IsStopped()) return VFW_E_NOT_STOPPED;
    fileName_ = fileName;
    if (mediaType)
      fileType_ = *mediaType;
    else
      fileType_ = CMediaType();
    return S_OK;
  }
  HRESULT GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* mediaType) override {
    if (!fileName) return E_POINTER;
    CAutoLock hold(&lock_);
    *fileName = nullptr;
    if (fileName_.empty()) return E_FAIL;
    *fileName = reel::CoTaskMemWideCopy(fileName_);
    if (!*fileName) return E_OUTOFMEMORY;
    if (mediaType && FAILED(CopyMediaType(mediaType, &fileType_))) return E_OUTOFMEMORY;
    return S_OK;
  }
  // IFileSinkFilter2: the file is always written from empty.
  HRESULT SetMode(DWORD flags) override {
    if (flags & ~AM_FILE_OVERWRITE) return E_INVALIDARG;
    CAutoLock hold(&lock_);
    mode_ = flags;
    return S_OK;
  }
  HRESULT GetMode(DWORD* flags) override {
    if (!flags) return E_POINTER;
    CAutoLock hold(&lock_);
    *flags = mode_;
    return S_OK;
  }

  // IConfigAsfWriter. A profile "id" is the position in the version 8
  // system catalogue.
  HRESULT ConfigureFilterUsingProfileId(DWORD profileId) override {
    const std::vector<ProfileDefinition>& catalogue = reel::wmf::SystemProfiles();
    if (profileId >= catalogue.size()) return E_INVALIDARG;
    return Configure(catalogue[profileId]);
  }
  HRESULT GetCurrentProfileId(DWORD* profileId) override {
    if (!profileId) return E_POINTER;
    CAutoLock hold(&lock_);
    const std::vector<ProfileDefinition>& catalogue = reel::wmf::SystemProfiles();
    for (std::size_t index = 0; index < catalogue.size(); ++index) {
      if (profile_.id != GUID_NULL && catalogue[index].id == profile_.id) {
        *profileId = static_cast<DWORD>(index);
        return S_OK;
      }
    }
    return E_FAIL;
  }
  HRESULT ConfigureFilterUsingProfileGuid(REFGUID profileGuid) override {
    const ProfileDefinition* profile = reel::wmf::FindSystemProfile(profileGuid);
    if (!profile) return E_INVALIDARG;
    return Configure(*profile);
  }
  HRESULT GetCurrentProfileGuid(GUID* profileGuid) override {
    if (!profileGuid) return E_POINTER;
    CAutoLock hold(&lock_);
    *profileGuid = profile_.id;
    return S_OK;
  }
  HRESULT ConfigureFilterUsingProfile(IWMProfile* profile) override {
    if (!profile) return E_POINTER;
    ProfileDefinition definition;
    HRESULT result = reel::wmf::ReadProfile(profile, &definition);
    if (FAILED(result)) return result;
    result = reel::wmf::CheckProfile(definition);
    if (FAILED(result)) return result;
    return Configure(definition);
  }
  HRESULT GetCurrentProfile(IWMProfile** profile) override {
    if (!profile) return E_POINTER;
    CAutoLock hold(&lock_);
    reel::ComPtr<IWMProfile> copy = reel::wmf::CreateProfileObject(profile_);
    if (!copy) return E_OUTOFMEMORY;
    *profile = copy.Detach();
    return S_OK;
  }
  HRESULT SetIndexMode(BOOL indexFile) override {
    CAutoLock hold(&lock_);
    indexFile_ = indexFile ? TRUE : FALSE;
    return S_OK;
  }
  HRESULT GetIndexMode(BOOL* indexFile) override {
    if (!indexFile) return E_POINTER;
    CAutoLock hold(&lock_);
    *indexFile = indexFile_;
    return S_OK;
  }

  // From the pins' streaming threads.
  HRESULT WritePacket(AVPacket* packet) {
    std::lock_guard<std::mutex> hold(muxLock_);
    if (!muxer_ || finished_) return VFW_E_WRONG_STATE;
    if (FAILED(failure_)) return failure_;
    if (av_interleaved_write_frame(muxer_, packet) < 0) return Fail(E_FAIL);
    return S_OK;
  }
  HRESULT Fail(HRESULT result) {
    if (SUCCEEDED(failure_)) failure_ = result;
    NotifyEvent(EC_ERRORABORT, result, 0);
    return result;
  }

  // A pin has sent its last packet; the last one finishes the file.
  HRESULT InputEnded() {
    {
      std::lock_guard<std::mutex> hold(muxLock_);
      if (!muxer_ || finished_) return S_OK;
      for (CAsfInputPin* input : activeInputs_)
        if (!input->ended) return S_OK;
    }
    HRESULT result = FinishFile();
    if (FAILED(result)) return Fail(result);
    if (result != S_OK) return S_OK;  // another input or Stop finished it
    NotifyEvent(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
    return S_OK;
  }

 private:
  HRESULT Configure(const ProfileDefinition& profile) {
    CAutoLock hold(&lock_);
    if (!IsStopped()) return VFW_E_WRONG_STATE;
    // The peers of the old pins let go first.
    for (const auto& input : inputs_) {
      if (IPin* peer = input->GetConnected()) {
        peer->Disconnect();
        input->Disconnect();
      }
    }
    ApplyProfile(profile);
    return S_OK;
  }

  // Under the filter lock (or in the constructor).
  void ApplyProfile(const ProfileDefinition& profile) {
    profile_ = profile;
    for (auto& input : inputs_) retired_.push_back(std::move(input));
    inputs_.clear();
    int videoCount = 0;
    int audioCount = 0;
    for (const StreamDefinition& stream : profile.streams) {
      bool video = stream.streamType == MEDIATYPE_Video;
      int number = video ? ++videoCount : ++audioCount;
      std::u16string name = video ? u"Video Input " : u"Audio Input ";
      name.push_back(static_cast<char16_t>(u'0' + number / 10 % 10));
      name.push_back(static_cast<char16_t>(u'0' + number % 10));
      HRESULT result = S_OK;
      inputs_.push_back(std::make_unique<CAsfInputPin>(this, &lock_, &result, name, stream));
    }
    IncrementPinVersion();
  }

  // Under the filter lock, stopped: no streaming thread runs.
  HRESULT OpenMuxer() {
    if (fileName_.empty()) return E_INVALIDARG;
    CloseMuxer(false);
    std::string path = reel::Utf16ToUtf8(fileName_);
    AVFormatContext* muxer = nullptr;
    if (avformat_alloc_output_context2(&muxer, nullptr, "asf", path.c_str()) < 0 || !muxer) return E_OUTOFMEMORY;
    std::vector<CAsfInputPin*> active;
    HRESULT result = S_OK;
    for (const auto& input : inputs_) {
      std::lock_guard<std::mutex> stream(input->streamLock);
      input->active = false;
      input->ended = false;
      if (!input->IsConnected()) continue;
      result = input->OpenStream(muxer);
      if (FAILED(result)) break;
      input->active = true;
      active.push_back(input.get());
    }
    if (SUCCEEDED(result) && active.empty()) result = VFW_E_NOT_CONNECTED;
    if (SUCCEEDED(result)) {
      // "file:" keeps a name with a colon from being taken for a protocol.
      int opened = avio_open(&muxer->pb, ("file:" + path).c_str(), AVIO_FLAG_WRITE);
      if (opened == AVERROR(EACCES) || opened == AVERROR(EPERM) || opened == AVERROR(EROFS))
        result = E_ACCESSDENIED;
      else if (opened < 0)
        result = HRESULT_FROM_WIN32(3);  // ERROR_PATH_NOT_FOUND
    }
    if (SUCCEEDED(result) && avformat_write_header(muxer, nullptr) < 0) result = E_FAIL;
    {
      std::lock_guard<std::mutex> hold(muxLock_);
      muxer_ = muxer;
      activeInputs_ = active;
      failure_ = S_OK;
      finished_ = false;
    }
    if (FAILED(result)) CloseMuxer(false);
    return result;
  }

  // Finishes the file: each stream still running sends what it holds, then
  // the trailer is written and the file closed. S_FALSE when it was
  // finished already.
  HRESULT FinishFile() {
    std::vector<CAsfInputPin*> inputs;
    {
      std::lock_guard<std::mutex> hold(muxLock_);
      if (!muxer_ || finished_) return S_FALSE;
      inputs = activeInputs_;
    }
    for (CAsfInputPin* input : inputs) {
      std::lock_guard<std::mutex> stream(input->streamLock);
      if (!input->ended) input->FinishStream();
      input->ended = true;
    }
    std::lock_guard<std::mutex> hold(muxLock_);
    if (!muxer_ || finished_) return S_FALSE;
    finished_ = true;
    HRESULT result = av_write_trailer(muxer_) < 0 ? E_FAIL : S_OK;
    if (avio_closep(&muxer_->pb) < 0) result = STG_E_WRITEFAULT;
    return result;
  }

  // Ends the run, finishing the file when asked. A pin's stream lock is
  // never taken while the muxing lock is held.
  void CloseMuxer(bool finish) {
    if (finish) FinishFile();
    std::vector<CAsfInputPin*> inputs;
    AVFormatContext* muxer = nullptr;
    {
      std::lock_guard<std::mutex> hold(muxLock_);
      inputs.swap(activeInputs_);
      muxer = std::exchange(muxer_, nullptr);
    }
    for (CAsfInputPin* input : inputs) {
      std::lock_guard<std::mutex> stream(input->streamLock);
      input->CloseStream();
      input->active = false;
    }
    if (!muxer) return;
    if (muxer->pb) avio_closep(&muxer->pb);
    avformat_free_context(muxer);
  }

  CCritSec lock_;  // state, pins, settings
  // Inputs waiting for their samples' time; woken by state changes and
  // flushes.
  std::mutex waitLock_;
  std::condition_variable wake_;
  std::vector<std::unique_ptr<CAsfInputPin>> inputs_;
  std::vector<std::unique_ptr<CAsfInputPin>> retired_;
  ProfileDefinition profile_;
  std::u16string fileName_;
  CMediaType fileType_;
  DWORD mode_ = 0;
  BOOL indexFile_ = TRUE;

  // The muxer of the current run. Lock order: a pin's streamLock, then
  // muxLock_.
  std::mutex muxLock_;
  AVFormatContext* muxer_ = nullptr;
  std::vector<CAsfInputPin*> activeInputs_;
  bool finished_ = false;
  HRESULT failure_ = S_OK;
};

CAsfInputPin::CAsfInputPin(CAsfWriter* writer, CCritSec* lock, HRESULT* result, const std::u16string& name,
                           const StreamDefinition& stream)
    : CBaseInputPin("asf writer input", writer, lock, result, name.c_str()), writer_(writer), definition(stream) {}

HRESULT CAsfInputPin::OpenStream(AVFormatContext* muxer) {
  CloseStream();
  std::string problem;
  encoder_ = reel::wmf::CreateEncoder(definition, &problem);
  packet_ = av_packet_alloc();
  if (!encoder_ || !packet_) {
    CloseStream();
    return encoder_ ? E_OUTOFMEMORY : VFW_E_TYPE_NOT_ACCEPTED;
  }
  stream_ = avformat_new_stream(muxer, nullptr);
  if (!stream_ || avcodec_parameters_from_context(stream_->codecpar, encoder_) < 0) {
    CloseStream();
    return E_OUTOFMEMORY;
  }
  stream_->time_base = encoder_->time_base;
  const CMediaType& input = CurrentMediaType();
  if (IsVideo()) {
    stream_->avg_frame_rate = encoder_->framerate;
    frameTime_ = reel::VideoInfoOf(definition.mediaType)->AvgTimePerFrame;
    const VIDEOINFOHEADER* inputInfo = reel::VideoInfoOf(input);
    inputFrameTime_ = inputInfo && inputInfo->AvgTimePerFrame > 0 ? inputInfo->AvgTimePerFrame : frameTime_;
    nextSlot_ = -1;
  } else {
    const WAVEFORMATEX* wave = reel::WaveFormatOf(input);
    inputBlockAlign_ = wave->nBlockAlign;
    AVChannelLayout inputLayout;
    av_channel_layout_default(&inputLayout, wave->nChannels);
    int made = swr_alloc_set_opts2(&resampler_, &encoder_->ch_layout, encoder_->sample_fmt, encoder_->sample_rate,
                                   &inputLayout, PcmSampleFormat(input), static_cast<int>(wave->nSamplesPerSec), 0,
                                   nullptr);
    av_channel_layout_uninit(&inputLayout);
    fifo_ = av_audio_fifo_alloc(encoder_->sample_fmt, encoder_->ch_layout.nb_channels, encoder_->frame_size * 2);
    audioFrame_ = av_frame_alloc();
    if (made < 0 || !resampler_ || swr_init(resampler_) < 0 || !fifo_ || !audioFrame_) {
      CloseStream();
      return E_OUTOFMEMORY;
    }
    nextSample_ = 0;
    soundStarted_ = false;
  }
  return S_OK;
}

void CAsfInputPin::CloseStream() {
  avcodec_free_context(&encoder_);
  av_packet_free(&packet_);
  av_frame_free(&pending_);
  av_frame_free(&audioFrame_);
  sws_freeContext(scaler_);
  scaler_ = nullptr;
  swr_free(&resampler_);
  if (fifo_) av_audio_fifo_free(fifo_);
  fifo_ = nullptr;
  stream_ = nullptr;
}

HRESULT CAsfInputPin::Receive(IMediaSample* sample) {
  HRESULT result = CBaseInputPin::Receive(sample);
  if (result != S_OK) return result;
  REFERENCE_TIME start = 0;
  REFERENCE_TIME stop = 0;
  if (SUCCEEDED(sample->GetTime(&start, &stop))) {
    result = writer_->WaitForStartTime(this, start);
    if (result != S_OK) return result;
  }
  std::lock_guard<std::mutex> hold(streamLock);
  if (!active || !encoder_) return VFW_E_WRONG_STATE;
  if (ended) return VFW_E_SAMPLE_REJECTED_EOS;
  return EncodeSample(sample);
}

HRESULT CAsfInputPin::BeginFlush() {
  HRESULT result = CBaseInputPin::BeginFlush();
  writer_->WakeWaitingInputs();
  return result;
}

HRESULT CAsfInputPin::EndOfStream() {
  HRESULT result = CheckStreaming();
  if (result != S_OK) return result;
  {
    std::lock_guard<std::mutex> hold(streamLock);
    if (!active || ended) return S_OK;
    result = FinishStream();
    ended = true;
  }
  HRESULT finished = writer_->InputEnded();
  return FAILED(result) ? result : finished;
}

HRESULT CAsfInputPin::EncodeSample(IMediaSample* sample) {
  return IsVideo() ? EncodeVideo(sample) : EncodeAudio(sample);
}

HRESULT CAsfInputPin::SendFrame(AVFrame* frame) {
  if (avcodec_send_frame(encoder_, frame) < 0) return writer_->Fail(E_FAIL);
  for (;;) {
    int received = avcodec_receive_packet(encoder_, packet_);
    if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) return S_OK;
    if (received < 0) return writer_->Fail(E_FAIL);
    packet_->stream_index = stream_->index;
    av_packet_rescale_ts(packet_, encoder_->time_base, stream_->time_base);
    HRESULT result = writer_->WritePacket(packet_);
    av_packet_unref(packet_);
    if (FAILED(result)) return result;
  }
}

HRESULT CAsfInputPin::EncodeVideo(IMediaSample* sample) {
  BYTE* data = nullptr;
  if (FAILED(sample->GetPointer(&data)) || !data) return E_POINTER;
  const CMediaType& input = CurrentMediaType();
  uint8_t* planes[4] = {};
  int strides[4] = {};
  if (!reel::PicturePlanes(input, data, sample->GetActualDataLength(), planes, strides)) return E_INVALIDARG;
  const BITMAPINFOHEADER* header = reel::BitmapHeaderOf(input);
  int width = header->biWidth;
  int height = std::abs(header->biHeight);
  scaler_ = sws_getCachedContext(scaler_, width, height, reel::PixelFormatOfSubtype(input.subtype), encoder_->width,
                                 encoder_->height, encoder_->pix_fmt, SWS_BICUBIC, nullptr, nullptr, nullptr);
  AVFrame* picture = av_frame_alloc();
  if (!scaler_ || !picture) {
    av_frame_free(&picture);
    return E_OUTOFMEMORY;
  }
  picture->format = encoder_->pix_fmt;
  picture->width = encoder_->width;
  picture->height = encoder_->height;
  if (av_frame_get_buffer(picture, 0) < 0) {
    av_frame_free(&picture);
    return E_OUTOFMEMORY;
  }
  sws_scale(scaler_, planes, strides, 0, height, picture->data, picture->linesize);

  // Where the picture starts and stops; an untimed one follows the last.
  REFERENCE_TIME start = 0;
  REFERENCE_TIME stop = 0;
  HRESULT timed = sample->GetTime(&start, &stop);
  if (FAILED(timed)) start = pending_ ? pendingStop_ : 0;
  if (timed != S_OK || stop <= start) stop = start + inputFrameTime_;
  int64_t slot = std::max<int64_t>(0, std::llround(static_cast<double>(start) / frameTime_));

  HRESULT result = S_OK;
  if (pending_) {
    for (; nextSlot_ < slot && SUCCEEDED(result); ++nextSlot_) {
      pending_->pts = nextSlot_;
      result = SendFrame(pending_);
    }
    av_frame_free(&pending_);
  } else if (nextSlot_ < 0) {
    nextSlot_ = slot;
  }
  pending_ = picture;
  pendingStop_ = stop;
  return result;
}

HRESULT CAsfInputPin::EncodeFifo(bool final) {
  int frameSize = encoder_->frame_size > 0 ? encoder_->frame_size : 2048;
  while (av_audio_fifo_size(fifo_) >= frameSize || (final && av_audio_fifo_size(fifo_) > 0)) {
    av_frame_unref(audioFrame_);
    audioFrame_->format = encoder_->sample_fmt;
    audioFrame_->nb_samples = frameSize;
    audioFrame_->sample_rate = encoder_->sample_rate;
    if (av_channel_layout_copy(&audioFrame_->ch_layout, &encoder_->ch_layout) < 0 ||
        av_frame_get_buffer(audioFrame_, 0) < 0)
      return E_OUTOFMEMORY;
    int available = std::min(av_audio_fifo_size(fifo_), frameSize);
    if (av_audio_fifo_read(fifo_, reinterpret_cast<void**>(audioFrame_->data), available) < available) return E_FAIL;
    // The encoder takes whole frames only: the last one ends in silence.
    if (available < frameSize)
      av_samples_set_silence(audioFrame_->data, available, frameSize - available, encoder_->ch_layout.nb_channels,
                             encoder_->sample_fmt);
    audioFrame_->pts = nextSample_;
    nextSample_ += frameSize;
    HRESULT result = SendFrame(audioFrame_);
    if (FAILED(result)) return result;
  }
  return S_OK;
}

HRESULT CAsfInputPin::QueueSilence(int samples) {
  if (samples <= 0) return S_OK;
  uint8_t** silence = nullptr;
  int channels = encoder_->ch_layout.nb_channels;
  if (av_samples_alloc_array_and_samples(&silence, nullptr, channels, samples, encoder_->sample_fmt, 0) < 0)
    return E_OUTOFMEMORY;
  av_samples_set_silence(silence, 0, samples, channels, encoder_->sample_fmt);
  int written = av_audio_fifo_write(fifo_, reinterpret_cast<void**>(silence), samples);
  av_freep(&silence[0]);
  av_freep(&silence);
  return written < samples ? E_OUTOFMEMORY : S_OK;
}

// A WMA decoder gives out one codec frame less than it takes: the first
// frame only primes its overlap (the encoder's initial padding). Silence of
// that length, timed just before the sound, is spent on priming, so the
// sound keeps its first samples and its place in time.
HRESULT CAsfInputPin::PrimeEncoder(int64_t firstSample) {
  soundStarted_ = true;
  nextSample_ = firstSample - encoder_->initial_padding;
  return QueueSilence(encoder_->initial_padding);
}

HRESULT CAsfInputPin::EncodeAudio(IMediaSample* sample) {
  BYTE* data = nullptr;
  if (FAILED(sample->GetPointer(&data)) || !data) return E_POINTER;
  LONG length = sample->GetActualDataLength();
  int count = inputBlockAlign_ > 0 ? length / inputBlockAlign_ : 0;
  if (!soundStarted_) {
    // Sound that starts late in the stream starts late in the file.
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    int64_t first = SUCCEEDED(sample->GetTime(&start, &stop)) && start > 0
                        ? av_rescale(start, encoder_->sample_rate, UNITS)
                        : 0;
    HRESULT primed = PrimeEncoder(first);
    if (FAILED(primed)) return writer_->Fail(primed);
  }
  if (count <= 0) return S_OK;
  int room = swr_get_out_samples(resampler_, count);
  if (room < 0) return E_FAIL;
  uint8_t** converted = nullptr;
  if (av_samples_alloc_array_and_samples(&converted, nullptr, encoder_->ch_layout.nb_channels, room,
                                         encoder_->sample_fmt, 0) < 0)
    return E_OUTOFMEMORY;
  const uint8_t* in[1] = {data};
  int produced = swr_convert(resampler_, converted, room, in, count);
  HRESULT result = S_OK;
  if (produced < 0)
    result = E_FAIL;
  else if (produced > 0 && av_audio_fifo_write(fifo_, reinterpret_cast<void**>(converted), produced) < produced)
    result = E_OUTOFMEMORY;
  av_freep(&converted[0]);
  av_freep(&converted);
  if (FAILED(result)) return writer_->Fail(result);
  return EncodeFifo(false);
}

HRESULT CAsfInputPin::FinishStream() {
  if (!encoder_) return S_OK;
  HRESULT result = S_OK;
  if (IsVideo()) {
    if (pending_) {
      int64_t end = std::max<int64_t>(nextSlot_ + 1, std::llround(static_cast<double>(pendingStop_) / frameTime_));
      for (; nextSlot_ < end && SUCCEEDED(result); ++nextSlot_) {
        pending_->pts = nextSlot_;
        result = SendFrame(pending_);
      }
      av_frame_free(&pending_);
    }
  } else if (resampler_) {
    if (!soundStarted_) nextSample_ = 0;
    // What the resampler still holds, then the rest of the buffer.
    int room = swr_get_out_samples(resampler_, 0);
    if (room > 0) {
      uint8_t** converted = nullptr;
      if (av_samples_alloc_array_and_samples(&converted, nullptr, encoder_->ch_layout.nb_channels, room,
                                             encoder_->sample_fmt, 0) >= 0) {
        int produced = swr_convert(resampler_, converted, room, nullptr, 0);
        if (produced > 0) av_audio_fifo_write(fifo_, reinterpret_cast<void**>(converted), produced);
        av_freep(&converted[0]);
        av_freep(&converted);
      }
    }
    result = EncodeFifo(true);
    // The last frame of sound overlaps the next one: a frame of silence
    // after it cancels its overlap, which would otherwise end the file with
    // a click.
    if (SUCCEEDED(result) && soundStarted_) result = QueueSilence(encoder_->frame_size);
    if (SUCCEEDED(result)) result = EncodeFifo(true);
  }
  HRESULT drained = SendFrame(nullptr);
  return FAILED(result) ? result : drained;
}

const bool kRegistered = [] {
  reel::RegisterBuiltinClass(CLSID_WMAsfWriter, &reel::CreateComObject<CAsfWriter>);
  reel::RegisteredFilter filter;
  filter.clsid = CLSID_WMAsfWriter;
  filter.name = u"WM ASF Writer";
  filter.merit = MERIT_DO_NOT_USE;
  filter.pins = {{u"Audio Input 01", false, true, false, false, {{MEDIATYPE_Audio, MEDIASUBTYPE_PCM}}},
                 {u"Video Input 01", false, true, false, false, {{MEDIATYPE_Video, GUID_NULL}}}};
  return reel::RegisterBuiltinFilter(filter);
}();

}  // namespace
