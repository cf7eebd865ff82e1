// RenderFile on the generated media fixtures: the generic source, the
// decoders and the renderers, run to completion; what reaches the
// renderers is checked against the file (frame numbers read from the
// pictures, time stamps, sound length).
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "platform/com/ClassTable.h"
#include "platform/com/ComPtr.h"
#include "platform/dshow/DShowControl.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/dshow/GraphDescription.h"
#include "platform/dshow/MediaDecoders.h"
#include "platform/ui/Window.h"
#include "platform/win/Registry.h"
#include "platform/win/Strings.h"
#include "tests/dshow/TestFilters.h"
#include "tests/fixtures/ClipWriter.h"
#include "tests/fixtures/FrameCode.h"
#include "tests/fixtures/MediaProbe.h"
#include "tests/support/TempDir.h"

namespace {

using reel::ComPtr;
using namespace reel::test;
namespace fixtures = reel::fixtures;

ComPtr<IGraphBuilder> NewGraph() {
  ComPtr<IGraphBuilder> graph;
  EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                             reinterpret_cast<void**>(&graph)),
            S_OK);
  return graph;
}

std::u16string Wide(const std::filesystem::path& path) { return reel::Utf8ToUtf16(path.string()); }

bool HasFilter(IGraphBuilder* graph, const char16_t* name) {
  ComPtr<IBaseFilter> filter;
  return SUCCEEDED(graph->FindFilterByName(name, &filter));
}

std::vector<int> FrameNumbersOf(SinkFilter* sink) {
  std::vector<int> numbers;
  CMediaType type = sink->ConnectedType();
  const BITMAPINFOHEADER* header = reel::BitmapHeaderOf(type);
  if (!header) return numbers;
  auto layout = header->biBitCount == 32 ? fixtures::PixelLayout::Bgrx32 : fixtures::PixelLayout::Bgr24;
  int stride = DibWidthBytes(header->biWidth, header->biBitCount);
  for (const ReceivedSample& sample : sink->Samples())
    numbers.push_back(fixtures::DecodeFrameNumberFromPicture(sample.data.data(), stride, header->biWidth,
                                                              std::abs(header->biHeight), layout, header->biHeight > 0));
  return numbers;
}

double AudioSeconds(SinkFilter* sink) {
  CMediaType type = sink->ConnectedType();
  const WAVEFORMATEX* wave = reel::WaveFormatOf(type);
  if (!wave) return 0;
  std::size_t bytes = 0;
  for (const ReceivedSample& sample : sink->Samples()) bytes += sample.data.size();
  return static_cast<double>(bytes) / wave->nBlockAlign / wave->nSamplesPerSec;
}

// Runs a graph until its EC_COMPLETE, which must arrive as a posted message.
bool RunToCompletion(IGraphBuilder* graph, int timeoutMilliseconds) {
  bool posted = false;
  HWND window = reel::CreateMessageWindow([&](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
    if (message == WM_USER + 1) posted = true;
    return 0;
  });
  ComPtr<IMediaEventEx> events;
  ComPtr<IMediaControl> control;
  graph->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void**>(&events));
  graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
  events->SetNotifyWindow(reinterpret_cast<OAHWND>(window), WM_USER + 1, 0);
  bool complete = false;
  if (SUCCEEDED(control->Run())) {
    reel::RunMessageLoopUntil(
        [&] {
          if (!posted) return false;
          posted = false;
          LONG code;
          LONG_PTR first, second;
          while (events->GetEvent(&code, &first, &second, 0) == S_OK) {
            events->FreeEventParams(code, first, second);
            if (code == EC_COMPLETE) complete = true;
            if (code == EC_ERRORABORT) return true;
          }
          return complete;
        },
        timeoutMilliseconds);
  }
  events->SetNotifyWindow(0, 0, 0);
  DestroyWindow(window);
  return complete;
}

void WithoutClock(IGraphBuilder* graph) {
  ComPtr<IMediaFilter> filter;
  graph->QueryInterface(IID_IMediaFilter, reinterpret_cast<void**>(&filter));
  filter->SetSyncSource(nullptr);
}

class RenderFileKinds : public ::testing::TestWithParam<std::string> {};

TEST_P(RenderFileKinds, DeliversTheFileFrameByFrame) {
  const fixtures::FixtureKind* kind = fixtures::FindKind(GetParam());
  ASSERT_NE(kind, nullptr);
  reel::test::TempDir folder("renderfile");
  std::filesystem::path file = folder / (kind->name + "." + kind->extension);
  std::string error;
  ASSERT_TRUE(fixtures::WriteClip(kind->spec, file.string(), &error)) << error;
  fixtures::MediaReport expected = fixtures::Probe(file.string());
  ASSERT_TRUE(expected.ok) << expected.error;

  auto graph = NewGraph();
  // Sinks already in the graph take the decoded streams, as a caller's
  // filters do.
  ComPtr<SinkFilter> video(new SinkFilter({MEDIASUBTYPE_RGB32}));
  ComPtr<SinkFilter> audio(new SinkFilter({MEDIASUBTYPE_PCM}));
  graph->AddFilter(video.Get(), u"Video Sink");
  graph->AddFilter(audio.Get(), u"Audio Sink");
  HRESULT rendered = graph->RenderFile(Wide(file).c_str(), nullptr);
  ASSERT_TRUE(SUCCEEDED(rendered)) << std::hex << rendered;
  WithoutClock(graph.Get());
  ASSERT_TRUE(RunToCompletion(graph.Get(), 30000));

  if (kind->spec.video) {
    EXPECT_TRUE(HasFilter(graph.Get(), u"Media Video Decoder"));
    std::vector<int> numbers = FrameNumbersOf(video.Get());
    std::vector<int> positions;
    for (int index = 0; index < kind->spec.VideoFrameCount(); ++index) positions.push_back(index);
    EXPECT_EQ(numbers, positions) << reel::DescribeGraph(graph.Get());
    // Times count from the start of the file (a video stream may start a
    // little after it), one frame time apart.
    double frameTime = 1.0 / kind->spec.frameRate.value();
    auto samples = video->Samples();
    ASSERT_FALSE(samples.empty());
    double first = static_cast<double>(samples[0].start) / UNITS;
    EXPECT_GE(first, 0.0);
    EXPECT_LT(first, 0.1);
    for (std::size_t index = 0; index < samples.size(); ++index) {
      double start = static_cast<double>(samples[index].start) / UNITS;
      EXPECT_NEAR(start - first, index * frameTime, 0.002) << "frame " << index;
    }
  } else {
    EXPECT_TRUE(video->Samples().empty());
  }
  if (kind->spec.audio) {
    int audioStream = -1;
    for (std::size_t index = 0; index < expected.streams.size(); ++index)
      if (expected.streams[index].type == fixtures::StreamType::Audio) audioStream = static_cast<int>(index);
    ASSERT_GE(audioStream, 0);
    const std::string& codec = expected.streams[audioStream].codecName;
    // Plain PCM needs no decoder; everything else goes through one.
    EXPECT_EQ(HasFilter(graph.Get(), u"Media Audio Decoder"), codec != "pcm_s16le" && codec != "pcm_u8") << codec;
    EXPECT_NEAR(AudioSeconds(audio.Get()), expected.streams[audioStream].decodedSeconds, 0.03);
  }
}

std::vector<std::string> KindNames() {
  std::vector<std::string> names;
  for (const fixtures::FixtureKind& kind : fixtures::StandardKinds()) names.push_back(kind.name);
  return names;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, RenderFileKinds, ::testing::ValuesIn(KindNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

class RenderFileTest : public ::testing::Test {
 protected:
  std::filesystem::path Write(const std::string& kindName, const std::string& fileName,
                              std::function<void(fixtures::ClipSpec&)> adjust = nullptr) {
    const fixtures::FixtureKind* kind = fixtures::FindKind(kindName);
    EXPECT_NE(kind, nullptr);
    fixtures::ClipSpec spec = kind->spec;
    if (adjust) adjust(spec);
    std::filesystem::path file = folder / fileName;
    std::string error;
    EXPECT_TRUE(fixtures::WriteClip(spec, file.string(), &error)) << error;
    return file;
  }
  reel::test::TempDir folder{"renderfile"};
};

TEST_F(RenderFileTest, DefaultChainEndsInTheStockRenderers) {
  auto file = Write("mp4", "clip.mp4");
  auto graph = NewGraph();
  ASSERT_EQ(graph->RenderFile(Wide(file).c_str(), nullptr), S_OK);
  EXPECT_TRUE(HasFilter(graph.Get(), Wide(file).c_str()));  // the source is named after the file
  EXPECT_TRUE(HasFilter(graph.Get(), u"Video Renderer"));
  EXPECT_TRUE(HasFilter(graph.Get(), u"Audio Renderer"));
  ComPtr<IVideoWindow> window;
  ASSERT_EQ(graph->QueryInterface(IID_IVideoWindow, reinterpret_cast<void**>(&window)), S_OK);
  EXPECT_EQ(window->put_Visible(OAFALSE), S_OK);
  ComPtr<IBasicVideo2> basic;
  graph->QueryInterface(IID_IBasicVideo2, reinterpret_cast<void**>(&basic));
  LONG width = 0, height = 0;
  ASSERT_EQ(basic->GetVideoSize(&width, &height), S_OK);
  EXPECT_EQ(width, 160);
  EXPECT_EQ(height, 120);
  ComPtr<IBasicAudio> sound;
  graph->QueryInterface(IID_IBasicAudio, reinterpret_cast<void**>(&sound));
  EXPECT_EQ(sound->put_Volume(-10000), S_OK);
  EXPECT_EQ(sound->put_Volume(1), E_INVALIDARG);
  ComPtr<IMediaSeeking> seeking;
  graph->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking));
  LONGLONG duration = 0;
  ASSERT_EQ(seeking->GetDuration(&duration), S_OK);
  EXPECT_NEAR(static_cast<double>(duration) / UNITS, 1.0, 0.1);
  WithoutClock(graph.Get());
  EXPECT_TRUE(RunToCompletion(graph.Get(), 30000));
}

TEST_F(RenderFileTest, SeekDeliversTheFrameAtTheTarget) {
  // Two seconds of H.264 with B-frames and a key frame every 12 pictures:
  // the seek lands between key frames.
  auto file = Write("mp4", "long.mp4", [](fixtures::ClipSpec& spec) { spec.durationSeconds = 2.0; });
  auto graph = NewGraph();
  ComPtr<SinkFilter> video(new SinkFilter({MEDIASUBTYPE_RGB32}));
  graph->AddFilter(video.Get(), u"Video Sink");
  ComPtr<SinkFilter> audio(new SinkFilter({MEDIASUBTYPE_PCM}));
  graph->AddFilter(audio.Get(), u"Audio Sink");
  ASSERT_TRUE(SUCCEEDED(graph->RenderFile(Wide(file).c_str(), nullptr)));
  WithoutClock(graph.Get());
  ComPtr<IMediaSeeking> seeking;
  graph->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking));
  LONGLONG target = 30 * (UNITS / 25);  // frame 30 (1.2 s)
  ASSERT_EQ(seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
  ASSERT_TRUE(RunToCompletion(graph.Get(), 30000));
  std::vector<int> numbers = FrameNumbersOf(video.Get());
  ASSERT_FALSE(numbers.empty());
  std::vector<int> expected;
  for (int number = 30; number < 50; ++number) expected.push_back(number);
  EXPECT_EQ(numbers, expected);
  EXPECT_EQ(video->Samples().front().start, 0);  // stamped from the new segment
  EXPECT_NEAR(AudioSeconds(audio.Get()), 0.8, 0.05);

  // Stopped after the end, then run from a new position again.
  ComPtr<IMediaControl> control;
  graph.As(&control);
  control->Stop();
  video->ClearSamples();
  target = 10 * (UNITS / 25);
  ASSERT_EQ(seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
  ASSERT_TRUE(RunToCompletion(graph.Get(), 30000));
  numbers = FrameNumbersOf(video.Get());
  ASSERT_EQ(numbers.size(), 40u);
  EXPECT_EQ(numbers.front(), 10);
  EXPECT_EQ(numbers.back(), 49);
}

TEST_F(RenderFileTest, IntelligentConnectInsertsTheColourConverter) {
  auto file = Write("avi", "clip.avi");
  auto graph = NewGraph();
  ComPtr<IBaseFilter> source;
  ASSERT_EQ(graph->AddSourceFilter(Wide(file).c_str(), u"Source", &source), S_OK);
  ComPtr<IBaseFilter> decoder;
  ASSERT_EQ(CoCreateInstance(CLSID_MediaVideoDecoder, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                             reinterpret_cast<void**>(&decoder)),
            S_OK);
  graph->AddFilter(decoder.Get(), u"Decoder");
  ComPtr<IPin> videoOut, decoderIn, decoderOut;
  ASSERT_EQ(source->FindPin(u"Video", &videoOut), S_OK);
  ASSERT_EQ(decoder->FindPin(u"Input", &decoderIn), S_OK);
  ASSERT_EQ(decoder->FindPin(u"Output", &decoderOut), S_OK);
  ASSERT_EQ(graph->ConnectDirect(videoOut.Get(), decoderIn.Get(), nullptr), S_OK);
  ComPtr<SinkFilter> sink(new SinkFilter({MEDIASUBTYPE_RGB24}));
  graph->AddFilter(sink.Get(), u"RGB24 Sink");
  // The decoder offers no RGB24 of its own: the converter goes in between.
  EXPECT_EQ(graph->ConnectDirect(decoderOut.Get(), sink->InputPin(), nullptr), VFW_E_NO_ACCEPTABLE_TYPES);
  ASSERT_EQ(graph->Connect(decoderOut.Get(), sink->InputPin()), S_OK);
  EXPECT_TRUE(HasFilter(graph.Get(), u"Color Space Converter"));
  EXPECT_EQ(sink->ConnectedType().subtype, MEDIASUBTYPE_RGB24);
  WithoutClock(graph.Get());
  ASSERT_TRUE(RunToCompletion(graph.Get(), 30000));
  std::vector<int> numbers = FrameNumbersOf(sink.Get());
  ASSERT_EQ(numbers.size(), 25u);
  for (int index = 0; index < 25; ++index) EXPECT_EQ(numbers[index], index);
}

TEST_F(RenderFileTest, BadFilesFailCleanly) {
  auto good = Write("mp4", "good.mp4");
  std::string bytes = reel::test::ReadFile(good);
  struct Case {
    const char* name;
    std::string content;
  };
  std::string noise(20000, '\0');
  for (std::size_t index = 0; index < noise.size(); ++index) noise[index] = static_cast<char>((index * 7919) >> 3);
  std::string corrupt = bytes;
  for (std::size_t index = 0; index < corrupt.size(); index += 3) corrupt[index] = static_cast<char>(~corrupt[index]);
  const Case cases[] = {
      {"empty.avi", ""},
      {"noise.mpg", noise},
      {"text.avi", "This is not a media file.\n"},
      {"truncated.mp4", bytes.substr(0, bytes.size() / 3)},
      {"corrupt.mp4", corrupt},
  };
  for (const Case& test : cases) {
    std::filesystem::path file = folder / test.name;
    reel::test::WriteFile(file, test.content);
    auto graph = NewGraph();
    HRESULT result = graph->RenderFile(Wide(file).c_str(), nullptr);
    EXPECT_TRUE(FAILED(result)) << test.name << " " << std::hex << result;
    ComPtr<IEnumFilters> filters;
    graph->EnumFilters(&filters);
    IBaseFilter* left = nullptr;
    EXPECT_EQ(filters->Next(1, &left, nullptr), S_FALSE) << test.name << ": the graph keeps nothing";
    if (left) left->Release();
  }
  auto graph = NewGraph();
  EXPECT_EQ(graph->RenderFile(Wide(folder / "missing.avi").c_str(), nullptr), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}

TEST_F(RenderFileTest, ALyingExtensionIsOpenedByContent) {
  auto file = Write("avi", "really-an-avi.mp3");
  auto graph = NewGraph();
  ComPtr<SinkFilter> video(new SinkFilter({MEDIASUBTYPE_RGB32}));
  graph->AddFilter(video.Get(), u"Video Sink");
  ASSERT_TRUE(SUCCEEDED(graph->RenderFile(Wide(file).c_str(), nullptr)));
  WithoutClock(graph.Get());
  ASSERT_TRUE(RunToCompletion(graph.Get(), 30000));
  EXPECT_EQ(FrameNumbersOf(video.Get()).size(), 25u);
}

TEST_F(RenderFileTest, TheExtensionRegistryChoosesTheSource) {
  // A registered source that cannot read the file gives way to the
  // generic one; here the class is not creatable at all.
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "Media Type\\Extensions\\.qqq", &key), ERROR_SUCCESS);
  const char value[] = "{5E1F0009-7A11-4C0B-9E21-100000000009}";
  RegSetValueExA(key, "Source Filter", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), sizeof value);
  RegCloseKey(key);
  auto file = Write("avi", "clip.qqq");
  auto graph = NewGraph();
  EXPECT_TRUE(SUCCEEDED(graph->RenderFile(Wide(file).c_str(), nullptr)));
  EXPECT_TRUE(HasFilter(graph.Get(), u"Video Renderer"));
}

}  // namespace
