// The overlay filter on frames pushed by hand, in RGB24 and RGB32 and in
// both row orders: which item a frame shows and when, fades, scrolling,
// stacked text, shadow, keyed pictures and the cases that must leave the
// frame as it came.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/com/Com.h"
#include "platform/dshow/FilterRegistry.h"
#include "platform/gdiplus/ImageFile.h"
#include "platform/win/RegistryKey.h"
#include "platform/win/Strings.h"
#include "tests/fixtures/FrameCode.h"
#include "tests/overlay/OverlayHarness.h"
#include "tests/support/TempDir.h"

namespace {

using namespace reel::overlaytest;
using reel::ComPtr;

constexpr Bgr kGrey{100, 100, 100};
// Box colours no antialiased mix of the other colours in a test produces.
constexpr Bgr kBox{77, 201, 13};       // blue, green, red
constexpr Bgr kOtherBox{190, 20, 160};

struct Layout {
  const char* name;
  GUID subtype;
  int height;  // negative: top-down
};

class OverlayFrames : public ::testing::TestWithParam<Layout> {
 protected:
  void SetUp() override {
    harness = std::make_unique<OverlayHarness>(GetParam().subtype, 160, GetParam().height);
    ASSERT_TRUE(harness->settings);
    ASSERT_EQ(harness->ConnectAndRun(), S_OK);
    settings = harness->settings.Get();
    // Fixed text unless a test scrolls, opaque box colour, white text.
    settings->SetMotionMode(2);
    settings->SetScrollDirection(2);
    settings->SetBackgroundColor(kBox.red, kBox.green, kBox.blue, 255);
    settings->SetTextColor(255, 255, 255, 255);
  }
  Frame Push(double seconds) { return harness->Push(harness->Blank(kGrey), seconds); }
  Bounds BoxAt(double seconds) { return BoundsOf(Push(seconds), kBox); }

  std::unique_ptr<OverlayHarness> harness;
  IOverlayTextSettings* settings = nullptr;
};

TEST_P(OverlayFrames, TextShowsOnlyStrictlyInsideItsWindow) {
  ASSERT_EQ(settings->AddText(u"ooo", 20, 30, 1.0, 2.0, FALSE), 0);
  struct Case {
    double seconds;
    bool shown;
  } cases[] = {{0.5, false}, {1.0, false}, {1.04, true}, {1.5, true}, {1.96, true}, {2.0, false}, {3.0, false}};
  for (const Case& c : cases) {
    Frame out = Push(c.seconds);
    Bounds box = BoundsOf(out, kBox);
    EXPECT_EQ(!box.Empty(), c.shown) << "at " << c.seconds << " s";
    if (c.shown) {
      EXPECT_EQ(box.left, 20);
      EXPECT_EQ(box.top, 30);
      EXPECT_GT(box.width, 20);
      EXPECT_GT(box.height, 15);
    } else {
      EXPECT_EQ(out.bytes, harness->Blank(kGrey).bytes) << "at " << c.seconds << " s";
    }
  }
}

// The box pixel just inside the top-left corner, where no glyph reaches.
Bgr CornerPixel(const Frame& frame) { return frame.Pixel(21, 31); }

int Blend(int over, int under, int alpha) { return (over * alpha + under * (255 - alpha) + 127) / 255; }

TEST_P(OverlayFrames, FadeScalesTheAlphaLinearlyOverTheFirstAndLastSecond) {
  struct Case {
    double start, end, seconds;
    int alpha;  // 255 x the fade factor, truncated
  } cases[] = {
      {1.0, 4.0, 1.5, 127},   // half a second in: 0.5
      {1.0, 4.0, 2.5, 255},   // the middle: 1.0
      {1.0, 4.0, 3.75, 63},   // a quarter second before the end: 0.25
      {1.0, 2.0, 1.5, 127},   // a one-second item peaks at 0.5
      {1.0, 2.0, 1.25, 63},
  };
  for (const Case& c : cases) {
    int id = settings->AddText(u"ooo", 20, 30, c.start, c.end, TRUE);
    ASSERT_GE(id, 0);
    Bgr pixel = CornerPixel(Push(c.seconds));
    Bgr expected{Blend(kBox.blue, kGrey.blue, c.alpha), Blend(kBox.green, kGrey.green, c.alpha),
                 Blend(kBox.red, kGrey.red, c.alpha)};
    EXPECT_NEAR(pixel.blue, expected.blue, 1) << c.seconds;
    EXPECT_NEAR(pixel.green, expected.green, 1) << c.seconds;
    EXPECT_NEAR(pixel.red, expected.red, 1) << c.seconds;
    settings->RemoveItem(id);
  }
  // Without fade the same moments are fully opaque.
  settings->AddText(u"ooo", 20, 30, 1.0, 2.0, FALSE);
  EXPECT_EQ(CornerPixel(Push(1.25)), kBox);
}

TEST_P(OverlayFrames, OnlyTheSmallestIdIsDrawnWhileWindowsOverlap) {
  EXPECT_EQ(settings->AddText(u"first", 10, 10, 1.0, 3.0, FALSE), 0);
  EXPECT_EQ(settings->AddText(u"second", 10, 60, 2.0, 4.0, FALSE), 1);
  Frame both = Push(2.5);
  Bounds box = BoundsOf(both, kBox);
  ASSERT_FALSE(box.Empty());
  EXPECT_EQ(box.top, 10);
  EXPECT_LT(box.top + box.height, 60);
  // Once the first has ended the second shows.
  EXPECT_EQ(BoxAt(3.5).top, 60);
  // Removing the first lets the second show in the overlap too; ids keep
  // growing from the largest present.
  settings->RemoveItem(0);
  EXPECT_EQ(BoxAt(2.5).top, 60);
  EXPECT_EQ(settings->AddText(u"third", 10, 90, 0.0, 9.0, FALSE), 2);
  EXPECT_EQ(BoxAt(2.5).top, 60);
  EXPECT_EQ(BoxAt(5.0).top, 90);
}

TEST_P(OverlayFrames, ScrollsLeftAtTheSpeedAndWrapsAtMinusTheTextWidth) {
  settings->SetMotionMode(1);
  settings->SetScrollDirection(2);
  settings->SetScrollSpeed(3);
  settings->AddText(u"ooo", 10, 40, 0.0, 100.0, FALSE);
  Bounds first = BoxAt(1.0);
  ASSERT_EQ(first.left, 10);
  const int width = first.width;
  // Frames draw at 7, 4, 1, then clipped at the left edge until the text is
  // wholly out; the first position below minus the width restarts at the
  // frame width (160, nothing visible), then 157, 154.
  std::vector<int> lefts;  // -1: nothing visible
  std::vector<int> rights;
  for (int frame = 1; frame < 60; ++frame) {
    Bounds box = BoxAt(1.0 + frame * 0.04);
    lefts.push_back(box.Empty() ? -1 : box.left);
    rights.push_back(box.Empty() ? -1 : box.left + box.width);
  }
  EXPECT_EQ(lefts[0], 7);
  EXPECT_EQ(lefts[1], 4);
  EXPECT_EQ(lefts[2], 1);
  auto invisible = std::find(lefts.begin(), lefts.end(), -1);
  ASSERT_NE(invisible, lefts.end());
  std::size_t gone = static_cast<std::size_t>(invisible - lefts.begin());
  // While clipped the right edge keeps moving by 3.
  for (std::size_t index = 3; index < gone; ++index) {
    EXPECT_EQ(lefts[index], 0);
    EXPECT_EQ(rights[index], rights[index - 1] - 3);
  }
  // Exactly one frame at x = 160, then in from the right.
  ASSERT_LT(gone + 2, lefts.size());
  EXPECT_EQ(lefts[gone + 1], 157);
  EXPECT_EQ(lefts[gone + 2], 154);
  // The last visible frame drew at 10 - 3 * gone, at least minus the width;
  // one step further lay below it and wrapped.
  const int lastX = 10 - 3 * static_cast<int>(gone);
  EXPECT_GE(lastX, -width - 1);
  EXPECT_LT(lastX - 3, -width + 1);
}

TEST_P(OverlayFrames, UpAndDownStackTheTextOneCharacterPerLineEvenWhenFixed) {
  settings->SetMotionMode(2);
  settings->AddText(u"oooo", 20, 10, 0.0, 100.0, FALSE);
  settings->SetScrollDirection(2);
  Bounds flat = BoxAt(1.0);
  for (int direction : {0, 1}) {
    settings->SetScrollDirection(direction);
    Bounds stacked = BoxAt(1.04);
    EXPECT_EQ(stacked.left, 20);
    EXPECT_EQ(stacked.top, 10) << "fixed text does not move";
    EXPECT_GT(stacked.height, 3 * flat.height) << direction;
    EXPECT_LT(stacked.width * 2, flat.width) << direction;
  }
  // Right is plain text again.
  settings->SetScrollDirection(3);
  EXPECT_EQ(BoxAt(1.08).height, flat.height);
}

TEST_P(OverlayFrames, ShadowLiesFivePixelsOffAndVanishesWithAClearBackground) {
  settings->AddText(u"HH", 20, 30, 0.0, 100.0, FALSE);
  const Bgr white{255, 255, 255}, black{0, 0, 0};
  Frame plain = Push(1.0);
  settings->SetShadow(1);
  Frame shadowed = Push(1.04);
  Bounds text = BoundsOf(plain, white);
  Bounds shadow = BoundsOf(shadowed, black);
  ASSERT_FALSE(text.Empty());
  EXPECT_EQ(BoundsOf(plain, black).count, 0);
  ASSERT_FALSE(shadow.Empty());
  // The shadow's lower right corner is not covered by the text.
  EXPECT_EQ(shadow.left + shadow.width, text.left + text.width + 5);
  EXPECT_EQ(shadow.top + shadow.height, text.top + text.height + 5);

  // With a background alpha of 0 neither box nor shadow shows.
  settings->SetBackgroundColor(kBox.red, kBox.green, kBox.blue, 0);
  Frame clearShadow = Push(1.08);
  settings->SetShadow(0);
  Frame clearPlain = Push(1.12);
  EXPECT_EQ(BoundsOf(clearShadow, kBox).count, 0);
  EXPECT_EQ(clearShadow.bytes, clearPlain.bytes);
  EXPECT_GT(BoundsOf(clearPlain, white).count, 0);
}

TEST_P(OverlayFrames, MotionModeZeroLeavesFramesUntouched) {
  settings->AddText(u"ooo", 20, 30, 0.0, 100.0, FALSE);
  ASSERT_FALSE(BoxAt(1.0).Empty());
  settings->SetMotionMode(0);
  EXPECT_EQ(Push(1.04).bytes, harness->Blank(kGrey).bytes);
}

TEST_P(OverlayFrames, AFrameWithoutTimesPassesAndScrollingWaits) {
  settings->SetMotionMode(1);
  settings->SetScrollDirection(2);
  settings->SetScrollSpeed(3);
  settings->AddText(u"ooo", 30, 40, 0.0, 100.0, FALSE);
  EXPECT_EQ(Push(-1).bytes, harness->Blank(kGrey).bytes);
  EXPECT_EQ(BoxAt(1.0).left, 30);
  EXPECT_EQ(Push(-1).bytes, harness->Blank(kGrey).bytes);
  EXPECT_EQ(BoxAt(1.04).left, 27);
}

TEST_P(OverlayFrames, AFontThatDoesNotExistDrawsNothingUntilAnotherIsSet) {
  settings->AddText(u"ooo", 20, 30, 0.0, 100.0, FALSE);
  settings->SetFont(u"No Such Font Family 4711", 24, 1);
  EXPECT_EQ(Push(1.0).bytes, harness->Blank(kGrey).bytes);
  settings->SetFont(u"Arial", 30, 3);
  EXPECT_FALSE(BoxAt(1.04).Empty());
}

TEST_P(OverlayFrames, UnreadablePicturesDrawNothing) {
  reel::test::TempDir folder;
  reel::test::WriteFile(folder / "broken.png", "\x89PNG\r\n\x1a\n this is not a picture");
  settings->AddImage(reel::Utf8ToUtf16((folder / "missing.png").string()).c_str(), 10, 10, 255, 255, 255, 0.0, 10.0,
                     FALSE);
  EXPECT_EQ(Push(1.0).bytes, harness->Blank(kGrey).bytes);
  settings->RemoveItem(0);
  settings->AddImage(reel::Utf8ToUtf16((folder / "broken.png").string()).c_str(), 10, 10, 255, 255, 255, 0.0, 10.0,
                     FALSE);
  EXPECT_EQ(Push(1.04).bytes, harness->Blank(kGrey).bytes);
  EXPECT_EQ(Push(1.08).bytes, harness->Blank(kGrey).bytes);
}

// The frame-code test picture (black and white cells, colour bars) as an
// RGBA picture, with a few pixels fully transparent in the file.
reel::RgbaPicture TestPicture(int width, int height) {
  std::vector<uint8_t> bgr(static_cast<std::size_t>(width) * 3 * height);
  reel::fixtures::DrawTestPicture(bgr.data(), width * 3, width, height, reel::fixtures::PixelLayout::Bgr24, 5);
  reel::RgbaPicture picture;
  picture.width = width;
  picture.height = height;
  picture.pixels.resize(picture.Stride() * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const uint8_t* from = &bgr[(static_cast<std::size_t>(y) * width + x) * 3];
      uint8_t* to = picture.Pixel(x, y);
      to[0] = from[2];
      to[1] = from[1];
      to[2] = from[0];
      to[3] = 255;
    }
  // A transparent pixel in the bottom row, and a half-transparent one.
  uint8_t* clear = picture.Pixel(1, height - 1);
  clear[0] = 10, clear[1] = 200, clear[2] = 10, clear[3] = 0;
  uint8_t* half = picture.Pixel(2, height - 1);
  half[0] = 10, half[1] = 200, half[2] = 10, half[3] = 128;
  return picture;
}

TEST_P(OverlayFrames, WhiteKeyMakesWhitePixelsTransparentAndEverythingElseOpaque) {
  reel::test::TempDir folder;
  const std::string path = (folder / "picture.png").string();
  reel::RgbaPicture picture = TestPicture(64, 48);
  ASSERT_TRUE(reel::SaveImageFile(path, picture));
  settings->AddImage(reel::Utf8ToUtf16(path).c_str(), 30, 20, 255, 255, 255, 0.0, 10.0, FALSE);
  settings->AddImage(reel::Utf8ToUtf16(path).c_str(), 30, 20, 255, 255, 255, 10.0, 13.0, TRUE);
  for (double seconds : {1.0, 10.5}) {
    const int alpha = seconds < 10 ? 255 : 127;
    Frame out = Push(seconds);
    int keyed = 0;
    for (int y = 0; y < picture.height; ++y)
      for (int x = 0; x < picture.width; ++x) {
        const uint8_t* source = picture.Pixel(x, y);
        Bgr expected = kGrey;
        if (source[3] == 0) {
          expected = {Blend(0, kGrey.blue, alpha), Blend(0, kGrey.green, alpha), Blend(0, kGrey.red, alpha)};
        } else if (source[0] == 255 && source[1] == 255 && source[2] == 255) {
          ++keyed;
        } else {
          expected = {Blend(source[2], kGrey.blue, alpha), Blend(source[1], kGrey.green, alpha),
                      Blend(source[0], kGrey.red, alpha)};
        }
        Bgr actual = out.Pixel(30 + x, 20 + y);
        ASSERT_NEAR(actual.blue, expected.blue, 1) << x << "," << y << " at " << seconds;
        ASSERT_NEAR(actual.green, expected.green, 1) << x << "," << y;
        ASSERT_NEAR(actual.red, expected.red, 1) << x << "," << y;
      }
    EXPECT_GT(keyed, 100);
    // Around the picture the frame is untouched.
    EXPECT_EQ(out.Pixel(29, 20), kGrey);
    EXPECT_EQ(out.Pixel(30 + picture.width, 20 + picture.height - 1), kGrey);
    EXPECT_EQ(out.Pixel(30, 20 + picture.height), kGrey);
  }
}

TEST_P(OverlayFrames, PicturesAreReadOnceAndAgainWhenTheFileChanges) {
  reel::test::TempDir folder;
  const std::filesystem::path path = folder / "square.bmp";
  reel::RgbaPicture red;
  red.width = red.height = 8;
  red.pixels.assign(8 * 8 * 4, 0);
  for (std::size_t index = 0; index < red.pixels.size(); index += 4) red.pixels[index] = 200, red.pixels[index + 3] = 255;
  reel::RgbaPicture green = red;
  for (std::size_t index = 0; index < green.pixels.size(); index += 4) green.pixels[index] = 0, green.pixels[index + 1] = 180;
  ASSERT_TRUE(reel::SaveImageFile(path.string(), red));
  settings->AddImage(reel::Utf8ToUtf16(path.string()).c_str(), 5, 5, 255, 255, 255, 0.0, 100.0, FALSE);
  EXPECT_EQ(Push(1.0).Pixel(6, 6), (Bgr{0, 0, 200}));

  // Same size, same time stamp, same file: the kept picture is drawn, so
  // the file was not read again.
  auto stamp = std::filesystem::last_write_time(path);
  {
    std::string bytes = reel::test::ReadFile(path);
    ASSERT_TRUE(reel::SaveImageFile((folder / "green.bmp").string(), green));
    std::string greenBytes = reel::test::ReadFile(folder / "green.bmp");
    ASSERT_EQ(bytes.size(), greenBytes.size());
    std::FILE* file = std::fopen(path.c_str(), "r+b");
    ASSERT_NE(file, nullptr);
    std::fwrite(greenBytes.data(), 1, greenBytes.size(), file);
    std::fclose(file);
    std::filesystem::last_write_time(path, stamp);
  }
  EXPECT_EQ(Push(1.04).Pixel(6, 6), (Bgr{0, 0, 200}));
  // A newer file is read again.
  std::filesystem::last_write_time(path, stamp + std::chrono::seconds(2));
  EXPECT_EQ(Push(1.08).Pixel(6, 6), (Bgr{0, 180, 0}));
  // A file that disappears draws nothing.
  std::filesystem::remove(path);
  EXPECT_EQ(Push(1.12).bytes, harness->Blank(kGrey).bytes);
}

TEST_P(OverlayFrames, SettingsChangeSafelyWhileFramesStream) {
  settings->SetMotionMode(1);
  settings->SetScrollSpeed(7);
  settings->AddText(u"streaming", 0, 50, 0.0, 1e9, TRUE);
  std::atomic<bool> done{false};
  std::atomic<int> frames{0};
  std::thread streaming([&] {
    Frame blank = harness->Blank(kGrey);
    for (int frame = 0; !done && frame < 400; ++frame) {
      harness->Push(blank, 1.0 + frame * 0.04);
      ++frames;
    }
  });
  for (int round = 0; round < 200; ++round) {
    settings->SetFont(round % 2 ? u"Arial" : u"DejaVu Serif", 10 + round % 20, round % 16);
    settings->SetTextColor(round, 255 - round, 3, 200);
    settings->SetBackgroundColor(1, 2, round, round % 256);
    settings->SetShadow(round % 2);
    settings->SetScrollDirection(round % 4);
    settings->SetScrollSpeed(round % 9);
    int id = settings->AddText(u"more", round % 160, round % 120, 0.0, 1e9, FALSE);
    if (round % 3 == 0) settings->RemoveItem(id);
  }
  done = true;
  streaming.join();
  EXPECT_GT(frames.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(Layouts, OverlayFrames,
                         ::testing::Values(Layout{"Rgb24BottomUp", MEDIASUBTYPE_RGB24, 120},
                                           Layout{"Rgb32BottomUp", MEDIASUBTYPE_RGB32, 120},
                                           Layout{"Rgb24TopDown", MEDIASUBTYPE_RGB24, -120}),
                         [](const ::testing::TestParamInfo<Layout>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------

TEST(OverlayFilter, RefusesTypesOtherThanRgb24AndRgb32VideoInfo) {
  ComPtr<IBaseFilter> filter;
  ASSERT_EQ(CallServerEntry("DllRegisterServer"), S_OK);
  ASSERT_EQ(CoCreateInstance(CLSID_OverlayTextFilter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                             reinterpret_cast<void**>(&filter)),
            S_OK);
  ComPtr<IPin> input;
  ASSERT_EQ(filter->FindPin(u"Input", &input), S_OK);
  CMediaType yuy2 = reel::test::MakeRgbType(MEDIASUBTYPE_RGB24, 32, 16, UNITS / 25);
  yuy2.SetSubtype(&MEDIASUBTYPE_YUY2);
  CMediaType wrongFormat = reel::test::MakeRgbType(MEDIASUBTYPE_RGB24, 32, 16, UNITS / 25);
  wrongFormat.SetFormatType(&FORMAT_VideoInfo2);
  CMediaType wrongDepth = reel::test::MakeRgbType(MEDIASUBTYPE_RGB32, 32, 16, UNITS / 25);
  reinterpret_cast<VIDEOINFOHEADER*>(wrongDepth.Format())->bmiHeader.biBitCount = 24;
  struct Case {
    const char* name;
    CMediaType type;
    bool accepted;
  } cases[] = {
      {"RGB24", reel::test::MakeRgbType(MEDIASUBTYPE_RGB24, 32, 16, UNITS / 25), true},
      {"RGB32", reel::test::MakeRgbType(MEDIASUBTYPE_RGB32, 32, 16, UNITS / 25), true},
      {"RGB565", reel::test::MakeRgbType(MEDIASUBTYPE_RGB565, 32, 16, UNITS / 25), false},
      {"YUY2", yuy2, false},
      {"VideoInfo2", wrongFormat, false},
      {"RGB32 with 24 bits", wrongDepth, false},
  };
  for (Case& c : cases) {
    reel::test::PushSourceFilter* raw = new reel::test::PushSourceFilter(c.type);
    ComPtr<reel::test::PushSourceFilter> source(raw);
    HRESULT result = source->Pin()->Connect(input.Get(), &c.type);
    if (c.accepted) {
      EXPECT_EQ(result, S_OK) << c.name;
    } else {
      EXPECT_TRUE(FAILED(result)) << c.name;
      EXPECT_EQ(input->ReceiveConnection(source->Pin(), &c.type), VFW_E_TYPE_NOT_ACCEPTED) << c.name;
    }
    reel::test::DisconnectAll({source.Get(), filter.Get()});
  }
}

TEST(OverlayFilter, RegistersAsAServerAndANeverPickedFilter) {
  ASSERT_EQ(CallServerEntry("DllRegisterServer"), S_OK);
  const std::string key = "CLSID\\" + reel::GuidToString(CLSID_OverlayTextFilter);
  reel::RegistryKey server = reel::RegistryKey::Open(HKEY_CLASSES_ROOT, key + "\\InprocServer32");
  ASSERT_TRUE(server.IsOpen());
  EXPECT_EQ(server.String(""), std::filesystem::canonical(OVERLAY_FILTER_PATH).string());
  EXPECT_EQ(server.String("ThreadingModel"), "Both");

  bool found = false;
  for (const reel::RegisteredFilter& filter : reel::FiltersInCategory(CLSID_LegacyAmFilterCategory)) {
    if (filter.clsid != CLSID_OverlayTextFilter) continue;
    found = true;
    EXPECT_EQ(filter.name, u"Quolrix Overlay Text Filter");
    EXPECT_EQ(filter.merit, MERIT_DO_NOT_USE);
    ASSERT_EQ(filter.pins.size(), 2u);
    EXPECT_EQ(filter.pins[0].name, u"Input");
    EXPECT_FALSE(filter.pins[0].output);
    EXPECT_EQ(filter.pins[1].name, u"Output");
    EXPECT_TRUE(filter.pins[1].output);
    for (const reel::RegisteredPin& pin : filter.pins) {
      EXPECT_FALSE(pin.rendered || pin.zero || pin.many);
      ASSERT_EQ(pin.types.size(), 1u);
      EXPECT_EQ(pin.types[0].majorType, GUID_NULL);
      EXPECT_EQ(pin.types[0].subtype, GUID_NULL);
    }
  }
  EXPECT_TRUE(found);

  {
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(CoCreateInstance(CLSID_OverlayTextFilter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               reinterpret_cast<void**>(&filter)),
              S_OK);
    ComPtr<IOverlayTextSettings> settings;
    EXPECT_EQ(filter->QueryInterface(IID_IOverlayTextSettings, reinterpret_cast<void**>(&settings)), S_OK);
    EXPECT_EQ(filter->QueryInterface(IID_IOverlayTextSettings, nullptr), E_POINTER);
    // The settings interface belongs to the same object.
    ComPtr<IBaseFilter> back;
    EXPECT_EQ(settings->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&back)), S_OK);
    EXPECT_EQ(back.Get(), filter.Get());
    CLSID clsid{};
    EXPECT_EQ(filter->GetClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_OverlayTextFilter);
    EXPECT_EQ(settings->AddText(nullptr, 0, 0, 0, 1, FALSE), E_POINTER);
    EXPECT_EQ(settings->SetFont(nullptr, 10, 0), E_POINTER);
  }

  ASSERT_EQ(CallServerEntry("DllUnregisterServer"), S_OK);
  EXPECT_FALSE(reel::RegistryKey::Open(HKEY_CLASSES_ROOT, key).IsOpen());
  for (const reel::RegisteredFilter& filter : reel::FiltersInCategory(CLSID_LegacyAmFilterCategory))
    EXPECT_NE(filter.clsid, CLSID_OverlayTextFilter);
}

}  // namespace
