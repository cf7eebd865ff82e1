// The base classes driven without a graph: pins connected by hand, filter
// states set downstream first, samples pushed or produced by a source stream
// and collected by a sink renderer.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/com/ComPtr.h"
#include "platform/com/TaskMemory.h"
#include "tests/dshow/TestFilters.h"

#define EXPECT_FAILED(expression) EXPECT_TRUE(FAILED(expression)) << #expression

namespace {

using reel::ComPtr;
using namespace reel::test;

template <typename T>
ComPtr<T> Hold(T* object) {
  return ComPtr<T>(object);
}

IPin* PinOf(IBaseFilter* filter, int index) {
  ComPtr<IEnumPins> pins;
  filter->EnumPins(&pins);
  IPin* pin = nullptr;
  pins->Skip(static_cast<ULONG>(index));
  ULONG fetched = 0;
  pins->Next(1, &pin, &fetched);
  if (pin) pin->Release();  // the filter keeps it alive
  return pin;
}

TEST(Pins, NegotiationTakesTheFirstTypeBothAccept) {
  auto source = Hold(new FrameSourceFilter(3, 8, 4, UNITS / 10, /*offerRgb32First=*/true));
  auto sink = Hold(new SinkFilter({MEDIASUBTYPE_RGB24}));
  IPin* out = PinOf(source.Get(), 0);
  IPin* in = PinOf(sink.Get(), 0);
  ASSERT_EQ(out->Connect(in, nullptr), S_OK);
  EXPECT_EQ(sink->ConnectedType().subtype, MEDIASUBTYPE_RGB24);

  ComPtr<IPin> peer;
  ASSERT_EQ(in->ConnectedTo(&peer), S_OK);
  EXPECT_EQ(peer.Get(), out);
  AM_MEDIA_TYPE connected{};
  ASSERT_EQ(out->ConnectionMediaType(&connected), S_OK);
  EXPECT_EQ(connected.subtype, MEDIASUBTYPE_RGB24);
  FreeMediaType(connected);

  EXPECT_EQ(out->Connect(in, nullptr), VFW_E_ALREADY_CONNECTED);
  EXPECT_EQ(out->Disconnect(), S_OK);
  EXPECT_EQ(in->Disconnect(), S_OK);
  EXPECT_EQ(in->Disconnect(), S_FALSE);
  EXPECT_EQ(in->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(peer.Get(), nullptr);
}

TEST(Pins, RefusalsAreClearErrors) {
  auto source = Hold(new FrameSourceFilter(3));
  auto audioSink = Hold(new SinkFilter({MEDIASUBTYPE_PCM}));
  auto otherSource = Hold(new FrameSourceFilter(3));
  IPin* out = PinOf(source.Get(), 0);
  EXPECT_EQ(out->Connect(PinOf(audioSink.Get(), 0), nullptr), VFW_E_NO_ACCEPTABLE_TYPES);
  EXPECT_FALSE(audioSink->InputPin()->IsConnected());
  EXPECT_FAILED(out->Connect(PinOf(otherSource.Get(), 0), nullptr));
  // A fully specified type the sink refuses.
  auto rgbSink = Hold(new SinkFilter({MEDIASUBTYPE_RGB24}));
  CMediaType rgb32 = MakeRgbType(MEDIASUBTYPE_RGB32, 32, 16, UNITS / 25);
  EXPECT_EQ(out->Connect(PinOf(rgbSink.Get(), 0), &rgb32), VFW_E_TYPE_NOT_ACCEPTED);
}

TEST(Pins, InformationAndEnumeration) {
  auto source = Hold(new FrameSourceFilter(3));
  IPin* out = PinOf(source.Get(), 0);
  PIN_INFO info{};
  ASSERT_EQ(out->QueryPinInfo(&info), S_OK);
  EXPECT_EQ(info.dir, PINDIR_OUTPUT);
  EXPECT_EQ(std::u16string(info.achName), u"Out");
  EXPECT_EQ(info.pFilter, static_cast<IBaseFilter*>(source.Get()));
  info.pFilter->Release();
  LPWSTR id = nullptr;
  ASSERT_EQ(out->QueryId(&id), S_OK);
  ComPtr<IPin> found;
  EXPECT_EQ(source->FindPin(id, &found), S_OK);
  EXPECT_EQ(found.Get(), out);
  CoTaskMemFree(id);
  EXPECT_EQ(source->FindPin(u"Nothing", &found), VFW_E_NOT_FOUND);

  ComPtr<IEnumMediaTypes> types;
  ASSERT_EQ(out->EnumMediaTypes(&types), S_OK);
  AM_MEDIA_TYPE* list[3] = {};
  ULONG fetched = 0;
  EXPECT_EQ(types->Next(3, list, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2u);
  EXPECT_EQ(list[0]->subtype, MEDIASUBTYPE_RGB24);
  EXPECT_EQ(list[1]->subtype, MEDIASUBTYPE_RGB32);
  DeleteMediaType(list[0]);
  DeleteMediaType(list[1]);
  EXPECT_EQ(types->Reset(), S_OK);
  EXPECT_EQ(types->Skip(5), S_FALSE);

  ComPtr<IEnumPins> pins;
  source->EnumPins(&pins);
  IPin* pin = nullptr;
  EXPECT_EQ(pins->Next(1, &pin, nullptr), S_OK);
  pin->Release();
  EXPECT_EQ(pins->Next(1, &pin, nullptr), S_FALSE);
  // A changed pin set puts an open enumerator out of sync until Reset.
  source->IncrementPinVersion();
  EXPECT_EQ(pins->Next(1, &pin, &fetched), VFW_E_ENUM_OUT_OF_SYNC);
  EXPECT_EQ(pins->Reset(), S_OK);
  EXPECT_EQ(pins->Next(1, &pin, &fetched), S_OK);
  pin->Release();
}

// The sink's renderer state rules: pausing without data is intermediate,
// the first sample completes the pause and is held until Run.
TEST(Renderer, PauseCompletesOnFirstSample) {
  CMediaType type = MakeRgbType(MEDIASUBTYPE_RGB24, 4, 4, UNITS / 10);
  auto source = Hold(new PushSourceFilter(type));
  auto sink = Hold(new SinkFilter());
  ASSERT_EQ(source->Pin()->Connect(PinOf(sink.Get(), 0), nullptr), S_OK);
  ASSERT_EQ(SetStates({source.Get(), sink.Get()}, State_Paused), S_OK);
  FILTER_STATE state;
  EXPECT_EQ(sink->GetState(10, &state), VFW_S_STATE_INTERMEDIATE);
  EXPECT_EQ(state, State_Paused);

  std::thread pusher([&] { EXPECT_EQ(source->Push(std::vector<BYTE>(48, 7), 0, UNITS / 10), S_OK); });
  EXPECT_EQ(sink->GetState(2000, &state), S_OK);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(sink->Samples().empty());  // held while paused
  ASSERT_EQ(SetStates({source.Get(), sink.Get()}, State_Running), S_OK);
  pusher.join();
  ASSERT_EQ(sink->Samples().size(), 1u);
  EXPECT_EQ(sink->Samples()[0].data[0], 7);

  // Stopped: samples are refused, not lost silently.
  ASSERT_EQ(SetStates({source.Get(), sink.Get()}, State_Stopped), S_OK);
  EXPECT_FAILED(source->Push(std::vector<BYTE>(48, 8), 0, 1));
  DisconnectAll({source.Get(), sink.Get()});
}

TEST(Renderer, EndOfStreamCompletesPauseAndFlushReopens) {
  CMediaType type = MakeRgbType(MEDIASUBTYPE_RGB24, 4, 4, UNITS / 10);
  auto source = Hold(new PushSourceFilter(type));
  auto sink = Hold(new SinkFilter());
  ASSERT_EQ(source->Pin()->Connect(PinOf(sink.Get(), 0), nullptr), S_OK);
  ASSERT_EQ(SetStates({source.Get(), sink.Get()}, State_Running), S_OK);
  EXPECT_EQ(source->Push(std::vector<BYTE>(48, 1), 0, 10), S_OK);
  EXPECT_EQ(source->Pin()->DeliverEndOfStream(), S_OK);
  EXPECT_EQ(source->Push(std::vector<BYTE>(48, 2), 10, 20), VFW_E_SAMPLE_REJECTED_EOS);
  EXPECT_EQ(source->Pin()->DeliverBeginFlush(), S_OK);
  EXPECT_EQ(source->Push(std::vector<BYTE>(48, 3), 10, 20), S_FALSE);  // flushing
  EXPECT_EQ(source->Pin()->DeliverEndFlush(), S_OK);
  EXPECT_EQ(source->Push(std::vector<BYTE>(48, 4), 0, 10), S_OK);
  auto samples = sink->Samples();
  ASSERT_EQ(samples.size(), 2u);
  EXPECT_EQ(samples[1].data[0], 4);
  SetStates({source.Get(), sink.Get()}, State_Stopped);
  DisconnectAll({source.Get(), sink.Get()});
}

class SourceStreamTest : public ::testing::Test {
 protected:
  void Connect(int frames, bool withTransform) {
    source = Hold(new FrameSourceFilter(frames));
    sink = Hold(new SinkFilter({MEDIASUBTYPE_RGB24}));
    chain = {source.Get()};
    IPin* upstream = PinOf(source.Get(), 0);
    if (withTransform) {
      transform = Hold(new StampTransform());
      ASSERT_EQ(upstream->Connect(PinOf(transform.Get(), 0), nullptr), S_OK);
      upstream = PinOf(transform.Get(), 1);
      chain.push_back(transform.Get());
    }
    ASSERT_EQ(upstream->Connect(PinOf(sink.Get(), 0), nullptr), S_OK);
    chain.push_back(sink.Get());
  }
  void TearDown() override {
    if (chain.empty()) return;
    SetStates(chain, State_Stopped);
    DisconnectAll(chain);
  }
  std::vector<int> FrameNumbers() {
    std::vector<int> numbers;
    for (const ReceivedSample& sample : sink->Samples()) numbers.push_back(sample.FrameNumber());
    return numbers;
  }
  static std::vector<int> Range(int first, int last) {
    std::vector<int> numbers;
    for (int number = first; number <= last; ++number) numbers.push_back(number);
    return numbers;
  }

  ComPtr<FrameSourceFilter> source;
  ComPtr<StampTransform> transform;
  ComPtr<SinkFilter> sink;
  std::vector<IBaseFilter*> chain;
};

TEST_F(SourceStreamTest, DeliversEveryFrameThenEndOfStream) {
  Connect(10, false);
  ASSERT_EQ(SetStates(chain, State_Running), S_OK);
  ASSERT_TRUE(sink->WaitForEndOfStream(5000));
  EXPECT_EQ(FrameNumbers(), Range(0, 9));
  auto samples = sink->Samples();
  for (std::size_t index = 0; index < samples.size(); ++index) {
    EXPECT_EQ(samples[index].start, static_cast<REFERENCE_TIME>(index) * (UNITS / 25));
    EXPECT_EQ(samples[index].stop, static_cast<REFERENCE_TIME>(index + 1) * (UNITS / 25));
    EXPECT_EQ(samples[index].discontinuity, index == 0);
  }
  EXPECT_EQ(sink->EndOfStreams(), 1);
  EXPECT_EQ(sink->SegmentStarts(), std::vector<REFERENCE_TIME>{0});
}

TEST_F(SourceStreamTest, StopAndRunStartsANewWorker) {
  Connect(5, false);
  ASSERT_EQ(SetStates(chain, State_Running), S_OK);
  ASSERT_TRUE(sink->WaitForEndOfStream(5000));
  ASSERT_EQ(SetStates(chain, State_Stopped), S_OK);
  sink->ClearSamples();
  ASSERT_EQ(SetStates(chain, State_Running), S_OK);
  ASSERT_TRUE(sink->WaitForEndOfStream(5000));
  EXPECT_EQ(FrameNumbers(), Range(0, 4));
  EXPECT_EQ(source->Pin()->ThreadStarts(), 2);
}

TEST_F(SourceStreamTest, SeekFlushesAndRestartsAtTheTarget) {
  Connect(200, true);
  ASSERT_EQ(SetStates(chain, State_Paused), S_OK);
  // Paused: the first frame waits in the sink; seek while data is in flight.
  FILTER_STATE state;
  ASSERT_EQ(sink->GetState(5000, &state), S_OK);
  ComPtr<IMediaSeeking> seeking;
  ASSERT_EQ(sink->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking)), S_OK);
  LONGLONG duration = 0;
  ASSERT_EQ(seeking->GetDuration(&duration), S_OK);  // through both pass-throughs
  EXPECT_EQ(duration, 200 * (UNITS / 25));
  LONGLONG target = 150 * (UNITS / 25);
  ASSERT_EQ(seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
  EXPECT_GE(sink->Flushes(), 1);
  EXPECT_GE(transform->flushes.load(), 1);
  sink->ClearSamples();
  ASSERT_EQ(SetStates(chain, State_Running), S_OK);
  ASSERT_TRUE(sink->WaitForEndOfStream(5000));
  auto samples = sink->Samples();
  ASSERT_FALSE(samples.empty());
  // Whatever was in flight before the flush is gone: frames 150..199 only,
  // stamped from the new segment's start.
  EXPECT_EQ(FrameNumbers(), Range(150, 199));
  EXPECT_EQ(samples.front().start, 0);
  EXPECT_TRUE(samples.front().discontinuity);
  EXPECT_EQ(sink->SegmentStarts().back(), target);
  for (const ReceivedSample& sample : samples) EXPECT_EQ(sample.data[4], 0x5A);
}

TEST_F(SourceStreamTest, InPlaceTransformSharesTheAllocator) {
  Connect(20, true);
  ASSERT_EQ(SetStates(chain, State_Running), S_OK);
  ASSERT_TRUE(sink->WaitForEndOfStream(5000));
  EXPECT_EQ(FrameNumbers(), Range(0, 19));
  EXPECT_EQ(transform->transformed.load(), 20);
  EXPECT_FALSE(transform->UsingDifferentAllocators());
  for (const ReceivedSample& sample : sink->Samples()) EXPECT_EQ(sample.data[4], 0x5A);
}

}  // namespace
