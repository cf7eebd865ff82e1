#include "platform/dshow/AudioRenderer.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QIODevice>
#include <QMediaDevices>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/com/ClassTable.h"
#include "platform/dshow/BaseRenderer.h"
#include "platform/dshow/DShowControl.h"
#include "platform/dshow/FilterRegistry.h"
#include "platform/dshow/MediaType.h"
#include "platform/dshow/NoTypeInfo.h"
#include "platform/dshow/StockFilters.h"
#include "platform/dshow/SystemClock.h"
#include "platform/ui/Window.h"

namespace reel {

double AmplitudeOfLevel(LONG level) {
  if (level <= -10000) return 0.0;
  if (level >= 0) return 1.0;
  return std::pow(10.0, level / 2000.0);
}

void ApplyVolume(BYTE* data, size_t bytes, const WAVEFORMATEX& format, LONG volume, LONG balance) {
  if (!data || format.nChannels == 0 || (format.wBitsPerSample != 8 && format.wBitsPerSample != 16)) return;
  if (volume >= 0 && balance == 0) return;
  double overall = AmplitudeOfLevel(volume);
  // A positive balance turns the left channel down, a negative the right.
  double left = overall * AmplitudeOfLevel(balance > 0 ? -balance : 0);
  double right = overall * AmplitudeOfLevel(balance < 0 ? balance : 0);
  size_t channels = format.nChannels;
  size_t sampleBytes = format.wBitsPerSample / 8;
  size_t frames = bytes / (channels * sampleBytes);
  for (size_t frame = 0; frame < frames; ++frame) {
    for (size_t channel = 0; channel < channels; ++channel) {
      // Mono and the channels past the first pair take the overall volume.
      double gain = channels < 2 ? overall : channel == 0 ? left : channel == 1 ? right : overall;
      BYTE* at = data + (frame * channels + channel) * sampleBytes;
      if (sampleBytes == 1) {
        double centred = (static_cast<int>(*at) - 128) * gain;
        *at = static_cast<BYTE>(std::clamp<long>(std::lround(centred) + 128, 0, 255));
      } else {
        int16_t sample;
        std::memcpy(&sample, at, 2);
        sample = static_cast<int16_t>(std::clamp<long>(std::lround(sample * gain), -32768, 32767));
        std::memcpy(at, &sample, 2);
      }
    }
  }
}

}  // namespace reel

namespace {

// The audio clock's time: the system clock, drawn towards the sound played
// while a sound device plays, so that the clock keeps the device's pace
// over a long stream. It moves at most a tenth faster or slower than the
// system clock, so it never stops, jumps or runs backwards, also not when
// the device starts late or stalls.
class AudioClockTime {
 public:
  REFERENCE_TIME Now() {
    std::lock_guard<std::mutex> hold(lock_);
    last_ = std::max(last_, CSystemClock::Now() + offset_);
    return last_;
  }

  // The device has played up to `deviceTime`.
  void FollowDevice(REFERENCE_TIME deviceTime) {
    std::lock_guard<std::mutex> hold(lock_);
    REFERENCE_TIME system = CSystemClock::Now();
    if (followingDevice_) {
      REFERENCE_TIME error = deviceTime - (system + offset_);
      REFERENCE_TIME most = (system - lastReport_) / 10;
      offset_ += std::clamp(error, -most, most);
    }
    followingDevice_ = true;
    lastReport_ = system;
  }

  void FollowSystem() {
    std::lock_guard<std::mutex> hold(lock_);
    followingDevice_ = false;
  }

 private:
  std::mutex lock_;
  REFERENCE_TIME offset_ = 0;
  REFERENCE_TIME last_ = 0;
  bool followingDevice_ = false;
  REFERENCE_TIME lastReport_ = 0;
};

// The sound between the streaming thread, which writes it, and the device,
// which reads it. Writing waits while the queue is full; Abort breaks the
// wait off and discards what is queued. Positions count the bytes the
// device has read since the queue was restarted for it.
class SoundQueue {
 public:
  explicit SoundQueue(size_t capacity) : capacity_(capacity) {}

  bool Write(const BYTE* data, size_t bytes) {
    std::unique_lock<std::mutex> hold(lock_);
    while (bytes > 0) {
      changed_.wait(hold, [&] { return aborted_ || bytes_.size() < capacity_; });
      if (aborted_) return false;
      size_t part = std::min(bytes, capacity_ - bytes_.size());
      bytes_.insert(bytes_.end(), data, data + part);
      data += part;
      bytes -= part;
    }
    return true;
  }

  size_t Read(BYTE* data, size_t most) {
    std::lock_guard<std::mutex> hold(lock_);
    size_t part = std::min(most, bytes_.size());
    std::copy_n(bytes_.begin(), part, data);
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(part));
    read_ += part;
    changed_.notify_all();
    return part;
  }

  void Abort() {
    std::lock_guard<std::mutex> hold(lock_);
    aborted_ = true;
    bytes_.clear();
    changed_.notify_all();
  }

  // Writable again after Abort (a flush: the device goes on).
  void Reopen() {
    std::lock_guard<std::mutex> hold(lock_);
    aborted_ = false;
  }

  // Empty and writable, positions from 0: for a device that starts now.
  void Restart() {
    std::lock_guard<std::mutex> hold(lock_);
    aborted_ = false;
    bytes_.clear();
    read_ = 0;
  }

  size_t Queued() {
    std::lock_guard<std::mutex> hold(lock_);
    return bytes_.size();
  }

  // Where the next byte written will be read.
  unsigned long long WritePosition() {
    std::lock_guard<std::mutex> hold(lock_);
    return read_ + bytes_.size();
  }

 private:
  const size_t capacity_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<BYTE> bytes_;
  unsigned long long read_ = 0;
  bool aborted_ = false;
};

// What the sink pulls the sound from.
class QueueReader : public QIODevice {
 public:
  explicit QueueReader(std::shared_ptr<SoundQueue> queue) : queue_(std::move(queue)) {
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
  }
  bool isSequential() const override { return true; }
  qint64 bytesAvailable() const override {
    return static_cast<qint64>(queue_->Queued()) + QIODevice::bytesAvailable();
  }

 protected:
  qint64 readData(char* data, qint64 most) override {
    if (most <= 0) return 0;
    return static_cast<qint64>(queue_->Read(reinterpret_cast<BYTE*>(data), static_cast<size_t>(most)));
  }
  qint64 writeData(const char*, qint64) override { return -1; }

 private:
  std::shared_ptr<SoundQueue> queue_;
};

// The default sound output, driven from a thread of its own so that it
// plays whatever the user-interface thread is doing. `progress` is called
// on that thread with the microseconds of sound the device has taken.
class SoundDevice {
 public:
  using Progress = std::function<void(qint64 microseconds)>;

  ~SoundDevice() { Close(); }

  // False when there is no output device or it does not take the format.
  bool Open(const WAVEFORMATEX& wave, std::shared_ptr<SoundQueue> queue, Progress progress) {
    Close();
    QAudioFormat format;
    format.setSampleRate(static_cast<int>(wave.nSamplesPerSec));
    format.setChannelCount(wave.nChannels);
    format.setSampleFormat(wave.wBitsPerSample == 8 ? QAudioFormat::UInt8 : QAudioFormat::Int16);
    QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull() || !device.isFormatSupported(format)) return false;
    bool opened = false;
    thread_ = std::make_unique<QThread>();
    thread_->start();
    context_ = new QObject;
    context_->moveToThread(thread_.get());
    QMetaObject::invokeMethod(
        context_,
        [&] {
          reader_ = new QueueReader(queue);
          sink_ = new QAudioSink(device, format);
          // About a fifth of a second in the device: enough against gaps,
          // short enough to follow pauses and volume promptly.
          sink_->setBufferSize(static_cast<qsizetype>(wave.nAvgBytesPerSec / 5));
          if (sink_->error() != QAudio::NoError) return;
          poll_ = new QTimer;
          QObject::connect(poll_, &QTimer::timeout, [this, progress] {
            failed_ = failed_ || sink_->error() == QAudio::OpenError || sink_->error() == QAudio::FatalError;
            progress(sink_->processedUSecs());
          });
          poll_->start(10);
          opened = true;
        },
        Qt::BlockingQueuedConnection);
    if (!opened) Close();
    return opened;
  }

  void Close() {
    if (!thread_) return;
    QMetaObject::invokeMethod(
        context_,
        [this] {
          delete poll_;
          if (sink_) sink_->stop();
          delete sink_;
          delete reader_;
          poll_ = nullptr;
          sink_ = nullptr;
          reader_ = nullptr;
        },
        Qt::BlockingQueuedConnection);
    thread_->quit();
    thread_->wait();
    delete context_;  // its thread has finished: safe from here
    context_ = nullptr;
    thread_.reset();
    failed_ = false;
  }

  void Suspend() { OnDeviceThread([this] { sink_->suspend(); }); }
  // The sink starts pulling sound on the first call.
  void Resume() {
    OnDeviceThread([this] {
      if (sink_->state() == QAudio::StoppedState && sink_->error() == QAudio::NoError) sink_->start(reader_);
      else sink_->resume();
    });
  }
  bool Failed() const { return failed_; }

 private:
  void OnDeviceThread(std::function<void()> work) {
    if (context_) QMetaObject::invokeMethod(context_, [this, work] { if (sink_) work(); }, Qt::QueuedConnection);
  }

  std::unique_ptr<QThread> thread_;
  QObject* context_ = nullptr;  // lives on thread_; the rest is used there only
  QAudioSink* sink_ = nullptr;
  QueueReader* reader_ = nullptr;
  QTimer* poll_ = nullptr;
  std::atomic<bool> failed_{false};
};

class CAudioRenderer : public CBaseRenderer, public IBasicAudio, public IReferenceClock {
 public:
  explicit CAudioRenderer(LPUNKNOWN outer)
      : CBaseRenderer(CLSID_AudioRender, "audio renderer", outer, nullptr, u"Audio Input pin (rendered)") {
    reel::EnsureApplication();
  }

  ~CAudioRenderer() override {
    queue_->Abort();
    device_.Close();
  }

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IBasicAudio) return GetInterface(static_cast<IBasicAudio*>(this), ppv);
    if (riid == IID_IReferenceClock) return GetInterface(static_cast<IReferenceClock*>(this), ppv);
    return CBaseRenderer::NonDelegatingQueryInterface(riid, ppv);
  }

  // --- CBaseRenderer ---------------------------------------------------------

  HRESULT CheckMediaType(const CMediaType* mediaType) override {
    if (mediaType->majortype != MEDIATYPE_Audio || mediaType->subtype != MEDIASUBTYPE_PCM)
      return VFW_E_TYPE_NOT_ACCEPTED;
    const WAVEFORMATEX* wave = reel::WaveFormatOf(*mediaType);
    if (!wave || wave->nChannels == 0 || wave->nChannels > 8 || wave->nSamplesPerSec < 1000 ||
        wave->nSamplesPerSec > 384000)
      return VFW_E_TYPE_NOT_ACCEPTED;
    if (wave->wBitsPerSample != 8 && wave->wBitsPerSample != 16) return VFW_E_TYPE_NOT_ACCEPTED;
    if (wave->nBlockAlign != wave->nChannels * wave->wBitsPerSample / 8) return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
  }

  HRESULT SetMediaType(const CMediaType* mediaType) override {
    std::lock_guard<std::mutex> hold(playLock_);
    format_ = *reel::WaveFormatOf(*mediaType);
    format_.nAvgBytesPerSec = format_.nSamplesPerSec * format_.nBlockAlign;
    return S_OK;
  }

  HRESULT OnStartStreaming() override {
    queue_->Restart();
    lastEnd_ = 0;
    WAVEFORMATEX format;
    {
      std::lock_guard<std::mutex> hold(playLock_);
      marks_.clear();
      format = format_;
    }
    // Without a device the clock keeps time with the system clock and the
    // samples are consumed at their times; without a clock (a conversion)
    // they are consumed at once, never played.
    playing_ = m_pClock && device_.Open(format, queue_, [this](qint64 microseconds) { DeviceProgress(microseconds); });
    return S_OK;
  }

  HRESULT OnStopStreaming() override {
    queue_->Abort();
    device_.Close();
    playing_ = false;
    clockTime_.FollowSystem();
    return S_OK;
  }

  HRESULT Stop() override {
    running_ = false;
    // A sample waiting for room in the queue must not hold the stop up.
    queue_->Abort();
    return CBaseRenderer::Stop();
  }

  HRESULT Pause() override {
    {
      std::lock_guard<std::mutex> hold(playLock_);
      running_ = false;
      clockTime_.FollowSystem();
    }
    HRESULT result = CBaseRenderer::Pause();
    if (playing_) device_.Suspend();
    return result;
  }

  HRESULT Run(REFERENCE_TIME start) override {
    {
      std::lock_guard<std::mutex> hold(playLock_);
      runStart_ = start;
    }
    HRESULT result = CBaseRenderer::Run(start);
    if (SUCCEEDED(result)) {
      running_ = true;
      if (playing_) device_.Resume();
    }
    return result;
  }

  HRESULT BeginFlush() override {
    queue_->Abort();
    {
      // What the device still holds belongs to the old position.
      std::lock_guard<std::mutex> hold(playLock_);
      marks_.clear();
      clockTime_.FollowSystem();
    }
    return CBaseRenderer::BeginFlush();
  }

  void OnEndFlush() override {
    queue_->Reopen();
    lastEnd_ = 0;
  }

  bool PacesItself() override { return playing_; }

  // Played through a device, sound whose time has passed is left out, so
  // that the sound and the clock stay with the stream; consumed at its
  // times, every sample is on time.
  REFERENCE_TIME LatenessLimit(REFERENCE_TIME start, REFERENCE_TIME end) override {
    return playing_ ? std::max<REFERENCE_TIME>(end - start, 0) : MAX_TIME;
  }

  HRESULT DoRenderSample(IMediaSample* sample) override {
    if (!playing_) return S_OK;  // consumed at its time
    BYTE* data = nullptr;
    LONG length = sample->GetActualDataLength();
    if (FAILED(sample->GetPointer(&data)) || !data || length <= 0) return S_OK;
    WAVEFORMATEX format;
    {
      std::lock_guard<std::mutex> hold(playLock_);
      format = format_;
    }
    scratch_.assign(data, data + length);
    reel::ApplyVolume(scratch_.data(), scratch_.size(), format, volume_, balance_);
    REFERENCE_TIME start = 0, end = 0;
    if (SUCCEEDED(sample->GetTime(&start, &end))) {
      std::lock_guard<std::mutex> hold(playLock_);
      marks_.push_back(Mark{queue_->WritePosition(), start});
      // The device is rarely more than a second behind; older marks are not
      // needed.
      while (marks_.size() > 256) marks_.pop_front();
    }
    queue_->Write(scratch_.data(), scratch_.size());
    return S_OK;
  }

  // The end of stream completes once the last sound has been played (or,
  // without a device, once its time has passed).
  HRESULT EndOfStream() override {
    {
      std::unique_lock<std::mutex> hold(m_rendererLock);
      REFERENCE_TIME last = lastEnd_;
      for (;;) {
        if (m_streamState != State_Running || m_bFlushing || !m_pClock || last <= 0) break;
        REFERENCE_TIME now = 0;
        m_pClock->GetTime(&now);
        REFERENCE_TIME due = m_runStart + last;
        if (now >= due || (playing_ && device_.Failed())) break;
        m_stateChanged.wait_for(hold, std::chrono::nanoseconds(std::min<REFERENCE_TIME>(due - now, 200000) * 100));
      }
    }
    clockTime_.FollowSystem();
    return CBaseRenderer::EndOfStream();
  }

  void OnRenderSample(IMediaSample* sample, REFERENCE_TIME) override { NoteEnd(sample); }
  void OnDropSample(IMediaSample* sample, REFERENCE_TIME) override { NoteEnd(sample); }

  REEL_NO_TYPE_INFO

  // --- IBasicAudio -----------------------------------------------------------

  HRESULT put_Volume(LONG volume) override {
    if (volume < -10000 || volume > 0) return E_INVALIDARG;
    volume_ = volume;
    return S_OK;
  }
  HRESULT get_Volume(LONG* volume) override {
    if (!volume) return E_POINTER;
    *volume = volume_;
    return S_OK;
  }
  HRESULT put_Balance(LONG balance) override {
    if (balance < -10000 || balance > 10000) return E_INVALIDARG;
    balance_ = balance;
    return S_OK;
  }
  HRESULT get_Balance(LONG* balance) override {
    if (!balance) return E_POINTER;
    *balance = balance_;
    return S_OK;
  }

  // --- IReferenceClock -------------------------------------------------------

  HRESULT GetTime(REFERENCE_TIME* time) override {
    if (!time) return E_POINTER;
    *time = clockTime_.Now();
    return S_OK;
  }
  HRESULT AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT event, DWORD_PTR* cookie) override {
    return advises_.AdviseTime(baseTime, streamTime, event, cookie);
  }
  HRESULT AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime, HSEMAPHORE semaphore,
                         DWORD_PTR* cookie) override {
    return advises_.AdvisePeriodic(startTime, periodTime, semaphore, cookie);
  }
  HRESULT Unadvise(DWORD_PTR cookie) override { return advises_.Unadvise(cookie); }

 private:
  // The stream time of the byte the device reads at `offset`.
  struct Mark {
    unsigned long long offset;
    REFERENCE_TIME start;
  };

  void NoteEnd(IMediaSample* sample) {
    REFERENCE_TIME start = 0, end = 0;
    if (SUCCEEDED(sample->GetTime(&start, &end))) lastEnd_ = std::max(end, start);
  }

  // Device thread: the device has taken `microseconds` of sound since it
  // started. The clock follows the stream time of the sound played.
  void DeviceProgress(qint64 microseconds) {
    if (!playing_) return;
    // A device that takes nothing for a second while it has sound to play
    // and the graph runs has stopped working.
    REFERENCE_TIME now = CSystemClock::Now();
    if (microseconds != lastProgress_ || !running_ || queue_->Queued() == 0) {
      lastProgress_ = microseconds;
      lastProgressAt_ = now;
    }
    if (device_.Failed() || now - lastProgressAt_ > UNITS) {
      // A device that gave up: the system clock takes over and the rest
      // of the stream is consumed at its times.
      playing_ = false;
      queue_->Abort();
      clockTime_.FollowSystem();
      m_stateChanged.notify_all();
      return;
    }
    std::lock_guard<std::mutex> hold(playLock_);
    // Paused or flushed, the clock keeps time with the system clock.
    if (!running_ || marks_.empty() || format_.nAvgBytesPerSec == 0) return;
    auto played = static_cast<unsigned long long>(microseconds) * format_.nAvgBytesPerSec / 1000000ull;
    if (played < marks_.front().offset) return;
    auto mark = std::prev(std::upper_bound(marks_.begin(), marks_.end(), played,
                                           [](unsigned long long at, const Mark& m) { return at < m.offset; }));
    REFERENCE_TIME into = static_cast<REFERENCE_TIME>((played - mark->offset) * UNITS / format_.nAvgBytesPerSec);
    clockTime_.FollowDevice(runStart_ + mark->start + into);
  }

  AudioClockTime clockTime_;
  CClockAdvises advises_{[this] { return clockTime_.Now(); }};
  // About half a second of 48 kHz stereo; what the device has not taken yet.
  std::shared_ptr<SoundQueue> queue_ = std::make_shared<SoundQueue>(96000);
  SoundDevice device_;
  std::atomic<bool> playing_{false};  // a device takes the samples
  std::atomic<bool> running_{false};
  qint64 lastProgress_ = -1;          // device thread only
  REFERENCE_TIME lastProgressAt_ = 0;  // device thread only
  std::mutex playLock_;               // format_, marks_, runStart_; running_ and the clock's switches
  WAVEFORMATEX format_{};
  std::deque<Mark> marks_;
  REFERENCE_TIME runStart_ = 0;
  std::atomic<REFERENCE_TIME> lastEnd_{0};
  std::vector<BYTE> scratch_;
  std::atomic<LONG> volume_{0};
  std::atomic<LONG> balance_{0};
};

const bool kRegistered = [] {
  reel::RegisterBuiltinClass(CLSID_AudioRender, &reel::CreateComObject<CAudioRenderer>);
  reel::RegisterBuiltinClass(CLSID_DSoundRender, &reel::CreateComObject<CAudioRenderer>);
  reel::RegisteredFilter audio;
  audio.clsid = CLSID_AudioRender;
  audio.name = u"Audio Renderer";
  audio.merit = MERIT_PREFERRED;
  audio.pins = {{u"Audio Input pin (rendered)", false, true, false, false, {{MEDIATYPE_Audio, MEDIASUBTYPE_PCM}}}};
  reel::RegisterBuiltinFilter(audio);
  audio.category = CLSID_AudioRendererCategory;
  return reel::RegisterBuiltinFilter(audio);
}();

}  // namespace
