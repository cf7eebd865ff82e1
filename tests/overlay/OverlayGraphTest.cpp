// The overlay filter in a real graph: a generated AVI clip opened by the
// file source, decoded, converted to RGB24, overlaid and captured by a
// sink; the captured frames carry the text over its window and nowhere else.
#include <gtest/gtest.h>

#include "platform/com/Com.h"
#include "platform/dshow/DShowControl.h"
#include "platform/dshow/FFmpegMediaTypes.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/dshow/MediaDecoders.h"
#include "platform/dshow/StockFilters.h"
#include "platform/ui/Window.h"
#include "platform/win/Strings.h"
#include "tests/fixtures/ClipWriter.h"
#include "tests/fixtures/FrameCode.h"
#include "tests/overlay/OverlayHarness.h"
#include "tests/support/GraphHarness.h"
#include "tests/support/TempDir.h"

namespace {

using namespace reel::overlaytest;
using reel::ComPtr;

template <typename T>
ComPtr<T> Create(REFCLSID clsid, REFIID) {
  ComPtr<T> object = reel::test::CreateObject<T>(clsid);
  EXPECT_TRUE(object);
  return object;
}

ComPtr<IPin> Pin(IBaseFilter* filter, const char16_t* name) {
  ComPtr<IPin> pin = reel::test::PinNamed(filter, name);
  EXPECT_TRUE(pin) << reel::Utf16ToUtf8(name);
  return pin;
}

using reel::test::RunToCompletion;

TEST(OverlayGraph, DecodedFramesCarryTheTextOverItsWindowOnly) {
  reel::test::TempDir folder;
  const std::string clip = (folder / "clip.avi").string();
  reel::fixtures::ClipSpec spec;
  spec.container = "avi";
  spec.audio = false;
  spec.frameCount = 40;
  std::string error;
  ASSERT_TRUE(reel::fixtures::WriteClip(spec, clip, &error)) << error;
  ASSERT_EQ(CallServerEntry("DllRegisterServer"), S_OK);

  auto graph = Create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
  ComPtr<IBaseFilter> source;
  ASSERT_EQ(graph->AddSourceFilter(reel::Utf8ToUtf16(clip).c_str(), u"Source", &source), S_OK);
  auto decoder = Create<IBaseFilter>(CLSID_MediaVideoDecoder, IID_IBaseFilter);
  auto converter = Create<IBaseFilter>(CLSID_Colour, IID_IBaseFilter);
  auto overlay = Create<IBaseFilter>(CLSID_OverlayTextFilter, IID_IBaseFilter);
  ComPtr<reel::test::SinkFilter> sink(new reel::test::SinkFilter({MEDIASUBTYPE_RGB24}));
  ASSERT_EQ(graph->AddFilter(decoder.Get(), u"Decoder"), S_OK);
  ASSERT_EQ(graph->AddFilter(converter.Get(), u"Color Converter"), S_OK);
  ASSERT_EQ(graph->AddFilter(overlay.Get(), u"Banner Filter"), S_OK);
  ASSERT_EQ(graph->AddFilter(sink.Get(), u"Capture"), S_OK);

  ASSERT_EQ(graph->ConnectDirect(Pin(source.Get(), u"Video").Get(), Pin(decoder.Get(), u"Input").Get(), nullptr),
            S_OK);
  ASSERT_EQ(graph->Connect(Pin(decoder.Get(), u"Output").Get(), Pin(converter.Get(), u"Input").Get()), S_OK);
  CMediaType rgb24(&MEDIATYPE_Video);
  rgb24.SetSubtype(&MEDIASUBTYPE_RGB24);
  ASSERT_EQ(graph->ConnectDirect(Pin(converter.Get(), u"Output").Get(), Pin(overlay.Get(), u"Input").Get(), &rgb24),
            S_OK);
  ASSERT_EQ(graph->ConnectDirect(Pin(overlay.Get(), u"Output").Get(), sink->InputPin(), nullptr), S_OK);

  ComPtr<IOverlayTextSettings> settings;
  ASSERT_EQ(overlay->QueryInterface(IID_IOverlayTextSettings, reinterpret_cast<void**>(&settings)), S_OK);
  // As the editing control configures it: fixed text on an opaque box in
  // the lower half, which carries no frame code.
  settings->SetScrollDirection(2);
  settings->SetScrollSpeed(3);
  settings->SetMotionMode(2);
  settings->SetFont(u"Arial", 20, 0);
  settings->SetTextColor(255, 255, 0, 255);
  settings->SetBackgroundColor(13, 201, 77, 255);
  settings->SetShadow(1);
  ASSERT_EQ(settings->AddText(u"Reel", 20, 70, 0.5, 1.0, FALSE), 0);

  ComPtr<IMediaFilter> clockless;
  graph->QueryInterface(IID_IMediaFilter, reinterpret_cast<void**>(&clockless));
  clockless->SetSyncSource(nullptr);
  ASSERT_TRUE(RunToCompletion(graph.Get(), 30000));

  std::vector<reel::test::ReceivedSample> samples = sink->Samples();
  ASSERT_EQ(samples.size(), 40u);
  const Bgr box{77, 201, 13};
  // The decoder's stamps may start a frame after zero; the window is judged
  // by the stamps the filter saw.
  int framesInside = 0;
  for (std::size_t index = 0; index < samples.size(); ++index) {
    Frame frame;
    frame.width = 160;
    frame.height = 120;
    frame.bytesPerPixel = 3;
    frame.bottomUp = true;
    frame.bytes = samples[index].data;
    ASSERT_EQ(frame.bytes.size(), frame.Stride() * 120);
    const double seconds = samples[index].start * 1e-7;
    const bool inside = seconds > 0.5 && seconds < 1.0;
    framesInside += inside ? 1 : 0;
    Bounds bounds = BoundsOf(frame, box);
    EXPECT_EQ(!bounds.Empty(), inside) << "frame " << index << " at " << seconds;
    if (inside) {
      EXPECT_EQ(bounds.left, 20);
      EXPECT_EQ(bounds.top, 70);
    }
    // The picture itself passes: its frame code still reads.
    EXPECT_EQ(reel::fixtures::DecodeFrameNumberFromPicture(frame.bytes.data(), static_cast<int>(frame.Stride()), 160,
                                                           120, reel::fixtures::PixelLayout::Bgr24, true),
              static_cast<int>(index));
  }
  EXPECT_GE(framesInside, 11);
  EXPECT_LE(framesInside, 12);
  graph.Reset();
}

}  // namespace
