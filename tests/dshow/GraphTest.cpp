// The filter graph manager with the test filters: names, connections,
// states, events (posted to a window), seeking and clocks.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/com/ClassTable.h"
#include "platform/com/ComPtr.h"
#include "platform/dshow/DShowControl.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/ui/Window.h"
#include "tests/dshow/TestFilters.h"

#define EXPECT_FAILED(expression) EXPECT_TRUE(FAILED(expression)) << #expression

namespace {

using reel::ComPtr;
using namespace reel::test;

constexpr REFERENCE_TIME kFrame = UNITS / 25;

ComPtr<IGraphBuilder> NewGraph() {
  ComPtr<IGraphBuilder> graph;
  EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                             reinterpret_cast<void**>(&graph)),
            S_OK);
  return graph;
}

IPin* PinOf(IBaseFilter* filter, int index) {
  ComPtr<IEnumPins> pins;
  filter->EnumPins(&pins);
  pins->Skip(static_cast<ULONG>(index));
  IPin* pin = nullptr;
  pins->Next(1, &pin, nullptr);
  if (pin) pin->Release();
  return pin;
}

// Takes every waiting event; returns the codes in order.
std::vector<LONG> DrainEvents(IGraphBuilder* graph, LONG firstTimeout) {
  ComPtr<IMediaEventEx> events;
  graph->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void**>(&events));
  std::vector<LONG> codes;
  LONG code;
  LONG_PTR first, second;
  LONG timeout = firstTimeout;
  while (events->GetEvent(&code, &first, &second, timeout) == S_OK) {
    codes.push_back(code);
    events->FreeEventParams(code, first, second);
    timeout = 0;
  }
  return codes;
}

std::vector<int> FrameNumbers(SinkFilter* sink) {
  std::vector<int> numbers;
  for (const ReceivedSample& sample : sink->Samples()) numbers.push_back(sample.FrameNumber());
  return numbers;
}

std::vector<int> Range(int first, int last) {
  std::vector<int> numbers;
  for (int number = first; number <= last; ++number) numbers.push_back(number);
  return numbers;
}

TEST(FilterGraph, NamesAreUniqueAndFindable) {
  auto graph = NewGraph();
  ComPtr<SinkFilter> first(new SinkFilter()), second(new SinkFilter()), third(new SinkFilter());
  EXPECT_EQ(graph->AddFilter(first.Get(), u"Renderer"), S_OK);
  EXPECT_EQ(graph->AddFilter(second.Get(), u"Renderer"), VFW_S_DUPLICATE_NAME);
  EXPECT_EQ(graph->AddFilter(third.Get(), u"Renderer"), VFW_S_DUPLICATE_NAME);
  EXPECT_EQ(graph->AddFilter(first.Get(), u"Again"), VFW_E_DUPLICATE_NAME);
  EXPECT_EQ(graph->AddFilter(nullptr, u"Null"), E_POINTER);
  FILTER_INFO info{};
  ASSERT_EQ(second->QueryFilterInfo(&info), S_OK);
  EXPECT_EQ(std::u16string(info.achName), u"Renderer 0001");
  EXPECT_NE(info.pGraph, nullptr);
  info.pGraph->Release();

  ComPtr<IBaseFilter> found;
  ASSERT_EQ(graph->FindFilterByName(u"Renderer 0002", &found), S_OK);
  EXPECT_TRUE(reel::IsSameObject(found.Get(), static_cast<IBaseFilter*>(third.Get())));
  EXPECT_EQ(graph->FindFilterByName(u"renderer", &found), VFW_E_NOT_FOUND);
  EXPECT_EQ(found.Get(), nullptr);

  // Most recently added first.
  ComPtr<IEnumFilters> filters;
  ASSERT_EQ(graph->EnumFilters(&filters), S_OK);
  IBaseFilter* listed[4] = {};
  ULONG fetched = 0;
  EXPECT_EQ(filters->Next(4, listed, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 3u);
  EXPECT_TRUE(reel::IsSameObject(listed[0], static_cast<IBaseFilter*>(third.Get())));
  EXPECT_TRUE(reel::IsSameObject(listed[2], static_cast<IBaseFilter*>(first.Get())));
  for (ULONG index = 0; index < fetched; ++index) listed[index]->Release();

  EXPECT_EQ(graph->RemoveFilter(second.Get()), S_OK);
  EXPECT_EQ(graph->RemoveFilter(second.Get()), VFW_E_NOT_FOUND);
  EXPECT_EQ(graph->FindFilterByName(u"Renderer 0001", &found), VFW_E_NOT_FOUND);
  // The name is free again.
  ComPtr<SinkFilter> fourth(new SinkFilter());
  EXPECT_EQ(graph->AddFilter(fourth.Get(), u"Renderer"), VFW_S_DUPLICATE_NAME);
  ASSERT_EQ(fourth->QueryFilterInfo(&info), S_OK);
  EXPECT_EQ(std::u16string(info.achName), u"Renderer 0001");
  info.pGraph->Release();
}

TEST(FilterGraph, ConnectDirectNeedsBothFiltersInTheGraph) {
  auto graph = NewGraph();
  ComPtr<FrameSourceFilter> source(new FrameSourceFilter(3));
  ComPtr<SinkFilter> sink(new SinkFilter());
  graph->AddFilter(source.Get(), u"Source");
  EXPECT_EQ(graph->ConnectDirect(PinOf(source.Get(), 0), PinOf(sink.Get(), 0), nullptr), VFW_E_NOT_IN_GRAPH);
  graph->AddFilter(sink.Get(), u"Sink");
  EXPECT_EQ(graph->ConnectDirect(PinOf(sink.Get(), 0), PinOf(source.Get(), 0), nullptr), VFW_E_INVALID_DIRECTION);
  EXPECT_EQ(graph->ConnectDirect(PinOf(source.Get(), 0), PinOf(sink.Get(), 0), nullptr), S_OK);
  // Removing a filter breaks its connections on both sides.
  EXPECT_EQ(graph->RemoveFilter(sink.Get()), S_OK);
  ComPtr<IPin> peer;
  EXPECT_EQ(PinOf(source.Get(), 0)->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
}

class GraphRunTest : public ::testing::Test {
 protected:
  void Build(int frames, bool withTransform = true, bool withClock = false) {
    graph = NewGraph();
    graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
    graph->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking));
    source = ComPtr<FrameSourceFilter>(new FrameSourceFilter(frames));
    sink = ComPtr<SinkFilter>(new SinkFilter({MEDIASUBTYPE_RGB24}));
    ASSERT_EQ(graph->AddFilter(source.Get(), u"Source"), S_OK);
    ASSERT_EQ(graph->AddFilter(sink.Get(), u"Sink"), S_OK);
    IPin* upstream = PinOf(source.Get(), 0);
    if (withTransform) {
      transform = ComPtr<StampTransform>(new StampTransform());
      ASSERT_EQ(graph->AddFilter(transform.Get(), u"Stamp"), S_OK);
      ASSERT_EQ(graph->ConnectDirect(upstream, PinOf(transform.Get(), 0), nullptr), S_OK);
      upstream = PinOf(transform.Get(), 1);
    }
    ASSERT_EQ(graph->ConnectDirect(upstream, PinOf(sink.Get(), 0), nullptr), S_OK);
    if (!withClock) {
      ComPtr<IMediaFilter> filter;
      graph->QueryInterface(IID_IMediaFilter, reinterpret_cast<void**>(&filter));
      ASSERT_EQ(filter->SetSyncSource(nullptr), S_OK);
    }
  }
  void TearDown() override {
    if (control) control->Stop();
  }

  ComPtr<IGraphBuilder> graph;
  ComPtr<IMediaControl> control;
  ComPtr<IMediaSeeking> seeking;
  ComPtr<FrameSourceFilter> source;
  ComPtr<StampTransform> transform;
  ComPtr<SinkFilter> sink;
};

TEST_F(GraphRunTest, RunsToOneCompleteEvent) {
  Build(30);
  ASSERT_EQ(control->Run(), S_OK);
  ComPtr<IMediaEventEx> events;
  graph->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void**>(&events));
  LONG code = 0;
  ASSERT_EQ(events->WaitForCompletion(5000, &code), S_OK);
  EXPECT_EQ(code, EC_COMPLETE);
  EXPECT_EQ(DrainEvents(graph.Get(), 100), std::vector<LONG>{EC_COMPLETE});
  EXPECT_EQ(FrameNumbers(sink.Get()), Range(0, 29));
  OAFilterState state;
  EXPECT_EQ(control->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Running);
}

TEST_F(GraphRunTest, CompleteWaitsForEveryRenderer) {
  Build(10, false);
  ComPtr<FrameSourceFilter> longer(new FrameSourceFilter(60));
  ComPtr<SinkFilter> second(new SinkFilter());
  graph->AddFilter(longer.Get(), u"Longer");
  graph->AddFilter(second.Get(), u"Second");
  ASSERT_EQ(graph->ConnectDirect(PinOf(longer.Get(), 0), PinOf(second.Get(), 0), nullptr), S_OK);
  ASSERT_EQ(control->Run(), S_OK);
  ComPtr<IMediaEventEx> events;
  graph->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void**>(&events));
  LONG code;
  ASSERT_EQ(events->WaitForCompletion(5000, &code), S_OK);
  EXPECT_TRUE(sink->IsEndOfStream());
  EXPECT_TRUE(second->IsEndOfStream());
  EXPECT_EQ(second->Samples().size(), 60u);
  EXPECT_EQ(DrainEvents(graph.Get(), 100), std::vector<LONG>{EC_COMPLETE});
  // Told not to aggregate, every renderer's completion comes through.
  control->Stop();
  events->CancelDefaultHandling(EC_COMPLETE);
  LONGLONG start = 0;
  seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
  ASSERT_EQ(control->Run(), S_OK);
  ASSERT_TRUE(second->WaitForEndOfStream(5000));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(DrainEvents(graph.Get(), 1000), (std::vector<LONG>{EC_COMPLETE, EC_COMPLETE}));
}

TEST_F(GraphRunTest, EventsArePostedToTheNotifyWindow) {
  Build(20);
  std::vector<std::pair<UINT, LPARAM>> received;
  HWND window = reel::CreateMessageWindow([&](HWND, UINT message, WPARAM, LPARAM lParam) -> LRESULT {
    if (message >= WM_USER) received.emplace_back(message, lParam);
    return 0;
  });
  ComPtr<IMediaEventEx> events;
  graph->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void**>(&events));
  ASSERT_EQ(events->SetNotifyWindow(reinterpret_cast<OAHWND>(window), WM_USER + 1, 77), S_OK);
  ASSERT_EQ(control->Run(), S_OK);
  ASSERT_TRUE(reel::RunMessageLoopUntil([&] { return !received.empty(); }, 5000));
  EXPECT_EQ(received[0].first, WM_USER + 1);
  EXPECT_EQ(received[0].second, 77);
  // The message is a prompt: the event itself is in the queue.
  EXPECT_EQ(DrainEvents(graph.Get(), 0), std::vector<LONG>{EC_COMPLETE});
  events->SetNotifyWindow(0, 0, 0);
  DestroyWindow(window);
}

TEST_F(GraphRunTest, StatesAndGetState) {
  Build(100);
  OAFilterState state;
  EXPECT_EQ(control->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Stopped);
  ASSERT_EQ(control->Pause(), S_OK);
  // Paused completes once the renderer holds its first sample.
  EXPECT_EQ(control->GetState(5000, &state), S_OK);
  EXPECT_EQ(state, State_Paused);
  EXPECT_TRUE(sink->Samples().empty());
  ASSERT_EQ(control->Run(), S_OK);
  EXPECT_EQ(control->GetState(1000, &state), S_OK);
  EXPECT_EQ(state, State_Running);
  ASSERT_EQ(control->Stop(), S_OK);
  EXPECT_EQ(control->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Stopped);
  EXPECT_EQ(control->StopWhenReady(), S_OK);
  EXPECT_EQ(control->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Stopped);
}

TEST(FilterGraphState, PauseWithoutDataIsIntermediate) {
  auto graph = NewGraph();
  CMediaType type = MakeRgbType(MEDIASUBTYPE_RGB24, 4, 4, kFrame);
  ComPtr<PushSourceFilter> source(new PushSourceFilter(type));
  ComPtr<SinkFilter> sink(new SinkFilter());
  graph->AddFilter(source.Get(), u"Push");
  graph->AddFilter(sink.Get(), u"Sink");
  ASSERT_EQ(graph->ConnectDirect(source->Pin(), PinOf(sink.Get(), 0), nullptr), S_OK);
  ComPtr<IMediaControl> control;
  graph.As(&control);
  ASSERT_EQ(control->Pause(), S_OK);
  OAFilterState state;
  EXPECT_EQ(control->GetState(20, &state), VFW_S_STATE_INTERMEDIATE);
  EXPECT_EQ(state, State_Paused);
  std::thread pusher([&] { source->Push(std::vector<BYTE>(48, 1), 0, kFrame); });
  EXPECT_EQ(control->GetState(5000, &state), S_OK);
  control->Stop();
  pusher.join();
}

TEST_F(GraphRunTest, SeekingDeliversTheFrameAtTheTarget) {
  Build(250);
  LONGLONG duration = 0;
  ASSERT_EQ(seeking->GetDuration(&duration), S_OK);
  EXPECT_EQ(duration, 250 * kFrame);
  ASSERT_EQ(control->Pause(), S_OK);
  OAFilterState state;
  control->GetState(5000, &state);
  LONGLONG target = 200 * kFrame;
  ASSERT_EQ(seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
  sink->ClearSamples();
  ASSERT_EQ(control->Run(), S_OK);
  ComPtr<IMediaEventEx> events;
  graph.As(&events);
  LONG code;
  ASSERT_EQ(events->WaitForCompletion(5000, &code), S_OK);
  EXPECT_EQ(FrameNumbers(sink.Get()), Range(200, 249));
  LONGLONG current = 0;
  ASSERT_EQ(seeking->GetCurrentPosition(&current), S_OK);
  EXPECT_EQ(current, 250 * kFrame);
}

TEST_F(GraphRunTest, SeekWhileRunningRestartsThere) {
  Build(2000);
  ASSERT_EQ(control->Run(), S_OK);
  ASSERT_TRUE(sink->WaitForSamples(5, 5000));
  LONGLONG target = 1990 * kFrame;
  ASSERT_EQ(seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
  ComPtr<IMediaEventEx> events;
  graph.As(&events);
  LONG code;
  ASSERT_EQ(events->WaitForCompletion(5000, &code), S_OK);
  auto numbers = FrameNumbers(sink.Get());
  ASSERT_GE(numbers.size(), 15u);
  // The last ten are the ones after the seek, in order.
  std::vector<int> tail(numbers.end() - 10, numbers.end());
  EXPECT_EQ(tail, Range(1990, 1999));
  EXPECT_EQ(DrainEvents(graph.Get(), 200), std::vector<LONG>{EC_COMPLETE});
}

TEST_F(GraphRunTest, StopThenRunResumesFromThePosition) {
  Build(100, true, /*withClock=*/true);
  ASSERT_EQ(control->Run(), S_OK);
  ASSERT_TRUE(sink->WaitForSamples(10, 5000));
  ASSERT_EQ(control->Stop(), S_OK);
  int last = sink->Samples().back().FrameNumber();
  sink->ClearSamples();
  ASSERT_EQ(control->Run(), S_OK);
  ASSERT_TRUE(sink->WaitForSamples(1, 5000));
  int first = sink->Samples().front().FrameNumber();
  EXPECT_GE(first, last - 1);
  EXPECT_LE(first, last + 1);
}

TEST_F(GraphRunTest, WithoutAClockTheGraphRunsAsFastAsItCan) {
  Build(500);  // 20 seconds of frames
  auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(control->Run(), S_OK);
  ComPtr<IMediaEventEx> events;
  graph.As(&events);
  LONG code;
  ASSERT_EQ(events->WaitForCompletion(10000, &code), S_OK);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_EQ(sink->Samples().size(), 500u);
}

TEST_F(GraphRunTest, WithTheSystemClockFramesArePresentedOnTime) {
  Build(10, false, /*withClock=*/true);
  auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(control->Run(), S_OK);
  ComPtr<IMediaEventEx> events;
  graph.As(&events);
  LONG code;
  ASSERT_EQ(events->WaitForCompletion(10000, &code), S_OK);
  // Ten frames of 40 ms: the last is due 360 ms after the start.
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(340));
  ComPtr<IMediaFilter> filter;
  graph.As(&filter);
  ComPtr<IReferenceClock> clock;
  EXPECT_EQ(filter->GetSyncSource(&clock), S_OK);
  EXPECT_NE(clock.Get(), nullptr);
}

TEST(InfiniteTee, EveryBranchGetsItsOwnCopyOfEverySample) {
  auto graph = NewGraph();
  ComPtr<FrameSourceFilter> source(new FrameSourceFilter(12));
  ComPtr<IBaseFilter> tee;
  ASSERT_EQ(CoCreateInstance(CLSID_InfTee, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                             reinterpret_cast<void**>(&tee)),
            S_OK);
  ComPtr<StampTransform> stamp(new StampTransform());
  ComPtr<SinkFilter> plain(new SinkFilter()), stamped(new SinkFilter());
  graph->AddFilter(source.Get(), u"Source");
  graph->AddFilter(tee.Get(), u"Tee");
  graph->AddFilter(stamp.Get(), u"Stamp");
  graph->AddFilter(plain.Get(), u"Plain");
  graph->AddFilter(stamped.Get(), u"Stamped");
  ComPtr<IPin> teeInput, first, second, third;
  ASSERT_EQ(tee->FindPin(u"Input", &teeInput), S_OK);
  // Outputs need a connected input first.
  ASSERT_EQ(tee->FindPin(u"Output1", &first), S_OK);
  EXPECT_FAILED(graph->ConnectDirect(first.Get(), plain->InputPin(), nullptr));
  ASSERT_EQ(graph->ConnectDirect(PinOf(source.Get(), 0), teeInput.Get(), nullptr), S_OK);
  ASSERT_EQ(graph->ConnectDirect(first.Get(), plain->InputPin(), nullptr), S_OK);
  // A connected output makes the next free one.
  ASSERT_EQ(tee->FindPin(u"Output2", &second), S_OK);
  ASSERT_EQ(graph->ConnectDirect(second.Get(), PinOf(stamp.Get(), 0), nullptr), S_OK);
  ASSERT_EQ(graph->ConnectDirect(PinOf(stamp.Get(), 1), stamped->InputPin(), nullptr), S_OK);
  ASSERT_EQ(tee->FindPin(u"Output3", &third), S_OK);
  ComPtr<IPin> peer;
  EXPECT_EQ(third->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);

  ComPtr<IMediaFilter> filter;
  graph.As(&filter);
  filter->SetSyncSource(nullptr);
  ComPtr<IMediaControl> control;
  graph.As(&control);
  ASSERT_EQ(control->Run(), S_OK);
  ComPtr<IMediaEventEx> events;
  graph.As(&events);
  LONG code;
  ASSERT_EQ(events->WaitForCompletion(5000, &code), S_OK);
  EXPECT_EQ(FrameNumbers(plain.Get()), Range(0, 11));
  EXPECT_EQ(FrameNumbers(stamped.Get()), Range(0, 11));
  // The stamp on one branch does not show on the other.
  for (const ReceivedSample& sample : plain->Samples()) EXPECT_NE(sample.data[4], 0x5A);
  for (const ReceivedSample& sample : stamped->Samples()) EXPECT_EQ(sample.data[4], 0x5A);
  // Seeking through the tee reaches the source.
  ComPtr<IMediaSeeking> seeking;
  graph.As(&seeking);
  LONGLONG duration = 0;
  EXPECT_EQ(seeking->GetDuration(&duration), S_OK);
  EXPECT_EQ(duration, 12 * kFrame);
  control->Stop();
}

TEST(FilterGraphForwarding, InterfacesWithoutAFilterAnswerNotImplemented) {
  auto graph = NewGraph();
  ComPtr<IBasicAudio> audio;
  ComPtr<IVideoWindow> video;
  ComPtr<IBasicVideo2> basic;
  ASSERT_EQ(graph.As(&audio), S_OK);
  ASSERT_EQ(graph.As(&video), S_OK);
  ASSERT_EQ(graph.As(&basic), S_OK);
  EXPECT_EQ(audio->put_Volume(-10000), E_NOTIMPL);
  EXPECT_EQ(video->put_Visible(OAFALSE), E_NOTIMPL);
  LONG width = 0, height = 0;
  EXPECT_EQ(basic->GetVideoSize(&width, &height), E_NOTIMPL);

  ComPtr<IObjectWithSite> site;
  ASSERT_EQ(graph.As(&site), S_OK);
  ComPtr<IUnknown> got;
  EXPECT_EQ(site->GetSite(IID_IUnknown, reinterpret_cast<void**>(&got)), E_FAIL);
  ComPtr<SinkFilter> anything(new SinkFilter());
  site->SetSite(static_cast<IBaseFilter*>(anything.Get()));
  EXPECT_EQ(site->GetSite(IID_IBaseFilter, reinterpret_cast<void**>(&got)), S_OK);
  site->SetSite(nullptr);
}

// Graphs built, run and released in a row; under LeakSanitizer this shows
// that filters, pins, allocators, samples and threads are all released.
TEST(FilterGraphLifetime, ManyGraphsInARow) {
  for (int round = 0; round < 200; ++round) {
    auto graph = NewGraph();
    ComPtr<FrameSourceFilter> source(new FrameSourceFilter(3));
    ComPtr<StampTransform> transform(new StampTransform());
    ComPtr<SinkFilter> sink(new SinkFilter());
    graph->AddFilter(source.Get(), u"Source");
    graph->AddFilter(transform.Get(), u"Stamp");
    graph->AddFilter(sink.Get(), u"Sink");
    ASSERT_EQ(graph->ConnectDirect(PinOf(source.Get(), 0), PinOf(transform.Get(), 0), nullptr), S_OK);
    ASSERT_EQ(graph->ConnectDirect(PinOf(transform.Get(), 1), PinOf(sink.Get(), 0), nullptr), S_OK);
    ComPtr<IMediaFilter> filter;
    graph.As(&filter);
    filter->SetSyncSource(nullptr);
    ComPtr<IMediaControl> control;
    graph.As(&control);
    ASSERT_EQ(control->Run(), S_OK);
    ComPtr<IMediaEventEx> events;
    graph.As(&events);
    LONG code;
    ASSERT_EQ(events->WaitForCompletion(5000, &code), S_OK) << "round " << round;
    // Released while running: the graph stops itself.
  }
}

}  // namespace
