// The overlay filter in a real graph: a generated AVI clip opened by the
// file source, decoded, converted to RGB24 and overlaid, then either
// captured by a sink or written to an AVI file by the multiplexer and the
// file writer; the frames carry the text over its window and nowhere else.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/com/Com.h"
#include "platform/dshow/DShowControl.h"
#include "platform/dshow/FFmpegMediaTypes.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/dshow/MediaDecoders.h"
#include "platform/dshow/StockFilters.h"
#include "platform/win/Strings.h"
#include "tests/fixtures/ClipWriter.h"
#include "tests/fixtures/FrameCode.h"
#include "tests/fixtures/MediaProbe.h"
#include "tests/overlay/OverlayHarness.h"
#include "tests/support/GraphHarness.h"
#include "tests/support/TempDir.h"

namespace {

using namespace reel::overlaytest;
using reel::ComPtr;

constexpr int kWidth = 160;
constexpr int kHeight = 120;
constexpr int kFrames = 40;
constexpr double kFrameRate = 25;
// The text's window, in seconds; both bounds are strict.
constexpr double kShowFrom = 0.5;
constexpr double kShowUntil = 1.0;
// The opaque box behind the text, drawn in the lower half of the picture,
// which carries no frame code.
const Bgr kBox{77, 201, 13};
constexpr int kBoxLeft = 20;
constexpr int kBoxTop = 70;

template <typename T>
ComPtr<T> Create(REFCLSID clsid) {
  ComPtr<T> object = reel::test::CreateObject<T>(clsid);
  EXPECT_TRUE(object);
  return object;
}

ComPtr<IPin> Pin(IBaseFilter* filter, const char16_t* name) {
  ComPtr<IPin> pin = reel::test::PinNamed(filter, name);
  EXPECT_TRUE(pin) << reel::Utf16ToUtf8(name);
  return pin;
}

class OverlayGraph : public ::testing::Test {
 protected:
  void SetUp() override {
    clip = (folder / "clip.avi").string();
    reel::fixtures::ClipSpec spec;
    spec.container = "avi";
    spec.audio = false;
    spec.frameCount = kFrames;
    spec.width = kWidth;
    spec.height = kHeight;
    spec.frameRate = {static_cast<int>(kFrameRate), 1};
    std::string error;
    ASSERT_TRUE(reel::fixtures::WriteClip(spec, clip, &error)) << error;
    ASSERT_EQ(CallServerEntry("DllRegisterServer"), S_OK);
  }

  // Source, decoder, colour converter to RGB24 and the overlay filter set up
  // as the editing control sets it up: fixed text on an opaque box.
  void BuildOverlayChain() {
    graph = Create<IGraphBuilder>(CLSID_FilterGraph);
    ComPtr<IBaseFilter> source;
    ASSERT_EQ(graph->AddSourceFilter(reel::Utf8ToUtf16(clip).c_str(), u"Source", &source), S_OK);
    auto decoder = Create<IBaseFilter>(CLSID_MediaVideoDecoder);
    auto converter = Create<IBaseFilter>(CLSID_Colour);
    overlay = Create<IBaseFilter>(CLSID_OverlayTextFilter);
    ASSERT_EQ(graph->AddFilter(decoder.Get(), u"Decoder"), S_OK);
    ASSERT_EQ(graph->AddFilter(converter.Get(), u"Color Converter"), S_OK);
    ASSERT_EQ(graph->AddFilter(overlay.Get(), u"Banner Filter"), S_OK);
    ASSERT_EQ(graph->ConnectDirect(Pin(source.Get(), u"Video").Get(), Pin(decoder.Get(), u"Input").Get(), nullptr),
              S_OK);
    ASSERT_EQ(graph->Connect(Pin(decoder.Get(), u"Output").Get(), Pin(converter.Get(), u"Input").Get()), S_OK);
    CMediaType rgb24(&MEDIATYPE_Video);
    rgb24.SetSubtype(&MEDIASUBTYPE_RGB24);
    ASSERT_EQ(
        graph->ConnectDirect(Pin(converter.Get(), u"Output").Get(), Pin(overlay.Get(), u"Input").Get(), &rgb24),
        S_OK);

    auto settings = reel::test::QueryObject<IOverlayTextSettings>(overlay.Get());
    ASSERT_TRUE(settings);
    settings->SetScrollDirection(2);
    settings->SetScrollSpeed(3);
    settings->SetMotionMode(2);
    settings->SetFont(u"Arial", 20, 0);
    settings->SetTextColor(255, 255, 0, 255);
    settings->SetBackgroundColor(kBox.red, kBox.green, kBox.blue, 255);
    settings->SetShadow(1);
    ASSERT_EQ(settings->AddText(u"Reel", kBoxLeft, kBoxTop, kShowFrom, kShowUntil, FALSE), 0);
    reel::test::RunWithoutClock(graph.Get());
  }

  // Checks one overlaid picture (top-down rows) shown at `seconds`; true
  // when it carries the box.
  static bool CheckPicture(const Frame& frame, double seconds, int expectedNumber) {
    const bool inside = seconds > kShowFrom && seconds < kShowUntil;
    Bounds bounds = BoundsOf(frame, kBox);
    EXPECT_EQ(!bounds.Empty(), inside) << "frame " << expectedNumber << " at " << seconds;
    if (inside) {
      EXPECT_EQ(bounds.left, kBoxLeft);
      EXPECT_EQ(bounds.top, kBoxTop);
    }
    // The picture itself passes: its frame code still reads.
    EXPECT_EQ(reel::fixtures::DecodeFrameNumberFromPicture(frame.bytes.data(), static_cast<int>(frame.Stride()), kWidth,
                                                           kHeight, reel::fixtures::PixelLayout::Bgr24,
                                                           frame.bottomUp),
              expectedNumber);
    return inside;
  }

  reel::test::TempDir folder;
  std::string clip;
  ComPtr<IGraphBuilder> graph;
  ComPtr<IBaseFilter> overlay;
};

TEST_F(OverlayGraph, DecodedFramesCarryTheTextOverItsWindowOnly) {
  BuildOverlayChain();
  ComPtr<reel::test::SinkFilter> sink(new reel::test::SinkFilter({MEDIASUBTYPE_RGB24}));
  ASSERT_EQ(graph->AddFilter(sink.Get(), u"Capture"), S_OK);
  ASSERT_EQ(graph->ConnectDirect(Pin(overlay.Get(), u"Output").Get(), sink->InputPin(), nullptr), S_OK);
  ASSERT_TRUE(reel::test::RunToCompletion(graph.Get(), 30000));

  std::vector<reel::test::ReceivedSample> samples = sink->Samples();
  ASSERT_EQ(samples.size(), static_cast<std::size_t>(kFrames));
  // The decoder's stamps may start a frame after zero; the window is judged
  // by the stamps the filter saw.
  int framesInside = 0;
  for (std::size_t index = 0; index < samples.size(); ++index) {
    Frame frame;
    frame.width = kWidth;
    frame.height = kHeight;
    frame.bytesPerPixel = 3;
    frame.bottomUp = true;
    frame.bytes = samples[index].data;
    ASSERT_EQ(frame.bytes.size(), frame.Stride() * kHeight);
    framesInside += CheckPicture(frame, samples[index].start * 1e-7, static_cast<int>(index)) ? 1 : 0;
  }
  EXPECT_GE(framesInside, 11);
  EXPECT_LE(framesInside, 12);
  graph.Reset();
}

// As a conversion to AVI writes it: the overlaid RGB24 frames go into the
// AVI multiplexer uncompressed, so the file holds exactly what was drawn.
TEST_F(OverlayGraph, AviOutputCarriesTheTextOverItsWindowOnly) {
  BuildOverlayChain();
  const std::string output = (folder / "overlaid.avi").string();
  auto mux = Create<IBaseFilter>(CLSID_AviDest);
  auto writer = Create<IBaseFilter>(CLSID_FileWriter);
  ASSERT_EQ(graph->AddFilter(mux.Get(), u"AVI Mux"), S_OK);
  ASSERT_EQ(graph->AddFilter(writer.Get(), u"File writer"), S_OK);
  auto sink = reel::test::QueryObject<IFileSinkFilter>(writer.Get());
  ASSERT_TRUE(sink);
  ASSERT_EQ(sink->SetFileName(reel::Utf8ToUtf16(output).c_str(), nullptr), S_OK);
  ASSERT_EQ(graph->ConnectDirect(reel::test::PinsOf(mux.Get(), PINDIR_OUTPUT).at(0).Get(),
                                 reel::test::PinsOf(writer.Get(), PINDIR_INPUT).at(0).Get(), nullptr),
            S_OK);
  ASSERT_EQ(graph->ConnectDirect(Pin(overlay.Get(), u"Output").Get(), reel::test::FreeInput(mux.Get()).Get(), nullptr),
            S_OK);
  ASSERT_TRUE(reel::test::RunToCompletion(graph.Get(), 30000));
  graph.Reset();

  std::string error;
  std::vector<reel::fixtures::DecodedPicture> pictures = reel::fixtures::ReadPictures(output, &error);
  ASSERT_EQ(pictures.size(), static_cast<std::size_t>(kFrames)) << error;
  int framesInside = 0;
  for (std::size_t index = 0; index < pictures.size(); ++index) {
    const reel::fixtures::DecodedPicture& picture = pictures[index];
    ASSERT_EQ(picture.width, kWidth);
    ASSERT_EQ(picture.height, kHeight);
    Frame frame;
    frame.width = kWidth;
    frame.height = kHeight;
    frame.bytesPerPixel = 3;
    frame.bottomUp = false;
    frame.bytes.assign(picture.bgr.begin(), picture.bgr.end());
    // The multiplexer places each frame at the time the filter saw (a
    // decoder may start a frame after zero), so the file's own times judge.
    framesInside += CheckPicture(frame, picture.seconds, static_cast<int>(index)) ? 1 : 0;
  }
  EXPECT_GE(framesInside, 11);
  EXPECT_LE(framesInside, 12);
}

}  // namespace
