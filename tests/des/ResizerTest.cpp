// The resizer: where each mode puts the picture, the pixels that come out
// of a running filter, a decoded clip going through it, and bad settings.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/com/Com.h"
#include "platform/des/Resizer.h"
#include "platform/dshow/FFmpegMediaTypes.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/dshow/MediaDecoders.h"
#include "platform/win/Strings.h"
#include "tests/dshow/TestFilters.h"
#include "tests/fixtures/ClipWriter.h"
#include "tests/support/GraphHarness.h"
#include "tests/support/TempDir.h"

namespace {

using reel::ComPtr;
using reel::PixelRect;

}  // namespace

namespace reel {
void PrintTo(const PixelRect& rect, std::ostream* stream) {
  *stream << rect.width << "x" << rect.height << " at (" << rect.left << ", " << rect.top << ")";
}
}  // namespace reel

namespace {

struct PlanCase {
  const char* name;
  int inputWidth, inputHeight, outputWidth, outputHeight;
  long flag;
  bool even;
  PixelRect source;
  PixelRect target;
};

void PrintTo(const PlanCase& entry, std::ostream* stream) { *stream << entry.name; }

class ResizePlans : public ::testing::TestWithParam<PlanCase> {};

TEST_P(ResizePlans, PutThePictureWhereTheModeSays) {
  const PlanCase& entry = GetParam();
  reel::ResizePlan plan = reel::PlanResize(entry.inputWidth, entry.inputHeight, entry.outputWidth, entry.outputHeight,
                                           entry.flag, entry.even);
  EXPECT_EQ(plan.source, entry.source);
  EXPECT_EQ(plan.target, entry.target);
  EXPECT_EQ(plan.letterboxed, !(entry.target == PixelRect{0, 0, entry.outputWidth, entry.outputHeight}));
}

INSTANTIATE_TEST_SUITE_P(
    Modes, ResizePlans,
    ::testing::Values(
        PlanCase{"Stretch", 640, 480, 320, 320, RESIZEF_STRETCH, false, {0, 0, 640, 480}, {0, 0, 320, 320}},
        PlanCase{"CropLarger", 640, 480, 320, 240, RESIZEF_CROP, false, {160, 120, 320, 240}, {0, 0, 320, 240}},
        PlanCase{"CropSmaller", 160, 120, 320, 240, RESIZEF_CROP, false, {0, 0, 160, 120}, {80, 60, 160, 120}},
        PlanCase{"FitWide", 640, 480, 320, 320, RESIZEF_PRESERVEASPECTRATIO, false, {0, 0, 640, 480},
                 {0, 40, 320, 240}},
        PlanCase{"FitTall", 480, 640, 320, 320, RESIZEF_PRESERVEASPECTRATIO, false, {0, 0, 480, 640},
                 {40, 0, 240, 320}},
        PlanCase{"FillWide", 640, 480, 320, 320, RESIZEF_PRESERVEASPECTRATIO_NOLETTERBOX, false, {80, 0, 480, 480},
                 {0, 0, 320, 320}},
        // 4:2:0 pictures keep every edge on an even pixel.
        PlanCase{"FitEven", 101, 73, 64, 64, RESIZEF_PRESERVEASPECTRATIO, true, {0, 0, 101, 73}, {0, 8, 64, 46}},
        PlanCase{"CropEven", 99, 99, 64, 64, RESIZEF_CROP, true, {16, 16, 64, 64}, {0, 0, 64, 64}},
        // Any other mode number stretches.
        PlanCase{"UnknownStretches", 64, 48, 32, 32, 9, false, {0, 0, 64, 48}, {0, 0, 32, 32}}));

// A running resizer fed by hand with RGB32 pictures whose left half is red
// and right half blue.
class ResizerFilter : public ::testing::Test {
 protected:
  static constexpr int kWidth = 64;
  static constexpr int kHeight = 32;
  static constexpr uint32_t kRed = 0x00FF0000;
  static constexpr uint32_t kBlue = 0x000000FF;

  void SetUp() override {
    CMediaType type;
    ASSERT_TRUE(reel::MakeVideoType(MEDIASUBTYPE_RGB32, kWidth, kHeight, UNITS / 25, &type));
    source = ComPtr<reel::test::PushSourceFilter>(new reel::test::PushSourceFilter(type));
    sink = ComPtr<reel::test::SinkFilter>(new reel::test::SinkFilter({MEDIASUBTYPE_RGB32}));
    resizer = reel::test::CreateObject<IBaseFilter>(CLSID_Resize);
    ASSERT_TRUE(resizer);
    resize = reel::test::QueryObject<IResize>(resizer.Get());
    ASSERT_TRUE(resize);
  }

  void TearDown() override {
    if (running) reel::test::SetStates({source.Get(), resizer.Get(), sink.Get()}, State_Stopped);
    reel::test::DisconnectAll({source.Get(), resizer.Get(), sink.Get()});
  }

  // Resizes one picture to width x height in the given mode; the output's
  // pixels, top row first.
  std::vector<uint32_t> ResizeOnce(int width, int height, long flag) {
    EXPECT_EQ(resize->put_Size(height, width, flag), S_OK);
    EXPECT_EQ(source->Pin()->Connect(reel::test::PinNamed(resizer.Get(), u"Input").Get(), nullptr), S_OK);
    EXPECT_EQ(reel::test::PinNamed(resizer.Get(), u"Output")->Connect(sink->InputPin(), nullptr), S_OK);
    EXPECT_EQ(reel::test::SetStates({source.Get(), resizer.Get(), sink.Get()}, State_Running), S_OK);
    running = true;
    std::vector<BYTE> picture(kWidth * kHeight * 4);
    for (int row = 0; row < kHeight; ++row)
      for (int column = 0; column < kWidth; ++column) {
        uint32_t colour = column < kWidth / 2 ? kRed : kBlue;
        std::memcpy(&picture[(row * kWidth + column) * 4], &colour, 4);
      }
    EXPECT_EQ(source->Push(picture, 0, UNITS / 25), S_OK);
    EXPECT_TRUE(sink->WaitForSamples(1, 5000));
    std::vector<reel::test::ReceivedSample> samples = sink->Samples();
    if (samples.size() != 1 || samples[0].data.size() != static_cast<std::size_t>(width) * height * 4) {
      ADD_FAILURE() << "no picture of the new size";
      return {};
    }
    // The DIB is bottom-up: flip it so that index 0 is the top-left pixel.
    std::vector<uint32_t> pixels(static_cast<std::size_t>(width) * height);
    for (int row = 0; row < height; ++row)
      std::memcpy(&pixels[row * width], &samples[0].data[(height - 1 - row) * width * 4], width * 4);
    return pixels;
  }

  static uint32_t At(const std::vector<uint32_t>& pixels, int width, int x, int y) {
    return pixels[y * width + x] & 0x00FFFFFF;
  }

  ComPtr<reel::test::PushSourceFilter> source;
  ComPtr<reel::test::SinkFilter> sink;
  ComPtr<IBaseFilter> resizer;
  ComPtr<IResize> resize;
  bool running = false;
};

TEST_F(ResizerFilter, LetterboxKeepsTheShapeBetweenBlackBars) {
  // 64x32 fitted into 32x32: a 32x16 picture from row 8 to 23.
  std::vector<uint32_t> pixels = ResizeOnce(32, 32, RESIZEF_PRESERVEASPECTRATIO);
  ASSERT_EQ(pixels.size(), 32u * 32u);
  for (int x = 0; x < 32; ++x) {
    EXPECT_EQ(At(pixels, 32, x, 0), 0u) << x;
    EXPECT_EQ(At(pixels, 32, x, 7), 0u) << x;
    EXPECT_EQ(At(pixels, 32, x, 24), 0u) << x;
    EXPECT_EQ(At(pixels, 32, x, 31), 0u) << x;
  }
  EXPECT_EQ(At(pixels, 32, 2, 8), kRed);
  EXPECT_EQ(At(pixels, 32, 29, 23), kBlue);
  EXPECT_EQ(At(pixels, 32, 2, 16), kRed);
  EXPECT_EQ(At(pixels, 32, 29, 16), kBlue);
}

TEST_F(ResizerFilter, CropKeepsTheMiddleAtFullScale) {
  // The middle 32 columns of 64: 16 red, then 16 blue, edge sharp.
  std::vector<uint32_t> pixels = ResizeOnce(32, 32, RESIZEF_CROP);
  ASSERT_EQ(pixels.size(), 32u * 32u);
  for (int y : {0, 15, 31}) {
    EXPECT_EQ(At(pixels, 32, 0, y), kRed);
    EXPECT_EQ(At(pixels, 32, 15, y), kRed);
    EXPECT_EQ(At(pixels, 32, 16, y), kBlue);
    EXPECT_EQ(At(pixels, 32, 31, y), kBlue);
  }
}

TEST_F(ResizerFilter, StretchFillsTheWholeOutput) {
  std::vector<uint32_t> pixels = ResizeOnce(16, 48, RESIZEF_STRETCH);
  ASSERT_EQ(pixels.size(), 16u * 48u);
  for (int y : {0, 24, 47}) {
    EXPECT_EQ(At(pixels, 16, 0, y), kRed);
    EXPECT_EQ(At(pixels, 16, 15, y), kBlue);
  }
}

TEST_F(ResizerFilter, RefusesBadSettings) {
  int height = 0, width = 0;
  long flag = 0;
  EXPECT_EQ(resize->put_Size(0, 10, RESIZEF_STRETCH), E_INVALIDARG);
  EXPECT_EQ(resize->put_Size(10, -1, RESIZEF_STRETCH), E_INVALIDARG);
  EXPECT_EQ(resize->put_Size(10, 20000, RESIZEF_STRETCH), E_INVALIDARG);
  EXPECT_EQ(resize->put_Size(10, 10, 4), E_INVALIDARG);
  EXPECT_EQ(resize->put_Size(10, 10, -1), E_INVALIDARG);
  EXPECT_EQ(resize->get_Size(nullptr, &width, &flag), E_POINTER);
  EXPECT_EQ(resize->get_InputSize(&height, &width), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(resize->put_MediaType(nullptr), E_POINTER);
  CMediaType audio(&MEDIATYPE_Audio);
  audio.SetSubtype(&MEDIASUBTYPE_PCM);
  EXPECT_EQ(resize->put_MediaType(&audio), VFW_E_TYPE_NOT_ACCEPTED);

  // Once the output is connected the size is fixed.
  ResizeOnce(32, 16, RESIZEF_STRETCH);
  EXPECT_EQ(resize->put_Size(8, 8, RESIZEF_STRETCH), VFW_E_ALREADY_CONNECTED);
  EXPECT_EQ(resize->get_Size(&height, &width, &flag), S_OK);
  EXPECT_EQ(width, 32);
  EXPECT_EQ(height, 16);
  EXPECT_EQ(resize->get_InputSize(&height, &width), S_OK);
  EXPECT_EQ(width, kWidth);
  EXPECT_EQ(height, kHeight);
}

// A decoded clip (4:2:0 out of the decoder) resized in a running graph:
// every frame arrives at the new size.
TEST(ResizerGraph, ResizesEveryDecodedFrame) {
  reel::test::TempDir folder("resizer");
  const std::string clip = (folder / "clip.avi").string();
  reel::fixtures::ClipSpec spec;
  spec.container = "avi";
  spec.audio = false;
  spec.frameCount = 20;
  std::string error;
  ASSERT_TRUE(reel::fixtures::WriteClip(spec, clip, &error)) << error;

  auto graph = reel::test::CreateObject<IGraphBuilder>(CLSID_FilterGraph);
  ComPtr<IBaseFilter> source;
  ASSERT_EQ(graph->AddSourceFilter(reel::Utf8ToUtf16(clip).c_str(), u"Source", &source), S_OK);
  auto decoder = reel::test::CreateObject<IBaseFilter>(CLSID_MediaVideoDecoder);
  auto resizer = reel::test::CreateObject<IBaseFilter>(CLSID_Resize);
  ComPtr<reel::test::SinkFilter> sink(new reel::test::SinkFilter({MEDIASUBTYPE_RGB32}));
  ASSERT_EQ(graph->AddFilter(decoder.Get(), u"Decoder"), S_OK);
  ASSERT_EQ(graph->AddFilter(resizer.Get(), u"Resizer"), S_OK);
  ASSERT_EQ(graph->AddFilter(sink.Get(), u"Sink"), S_OK);
  ASSERT_EQ(reel::test::QueryObject<IResize>(resizer.Get())->put_Size(90, 122, RESIZEF_PRESERVEASPECTRATIO), S_OK);
  ASSERT_EQ(graph->ConnectDirect(reel::test::PinNamed(source.Get(), u"Video").Get(),
                                 reel::test::PinNamed(decoder.Get(), u"Input").Get(), nullptr),
            S_OK);
  ASSERT_EQ(graph->Connect(reel::test::PinNamed(decoder.Get(), u"Output").Get(),
                           reel::test::PinNamed(resizer.Get(), u"Input").Get()),
            S_OK);
  ASSERT_EQ(graph->Connect(reel::test::PinNamed(resizer.Get(), u"Output").Get(), sink->InputPin()), S_OK);
  reel::test::RunWithoutClock(graph.Get());
  ASSERT_TRUE(reel::test::RunToCompletion(graph.Get(), 30000));
  std::vector<reel::test::ReceivedSample> samples = sink->Samples();
  ASSERT_EQ(samples.size(), 20u);
  for (const auto& sample : samples) EXPECT_EQ(sample.data.size(), 122u * 90u * 4u);
  const BITMAPINFOHEADER* header = reel::BitmapHeaderOf(sink->ConnectedType());
  ASSERT_TRUE(header);
  EXPECT_EQ(header->biWidth, 122);
  EXPECT_EQ(header->biHeight, 90);
  graph.Reset();
}

}  // namespace
