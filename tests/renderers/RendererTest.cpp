// The stock video and audio renderers in graphs that RenderFile builds on
// generated clips: playing against the audio renderer's clock in real
// time, dropping late pictures, running flat out without a clock, and the
// IVideoWindow/IBasicVideo2 settings as they show in the window's pixels.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QScreen>
#include <QWidget>
#include <chrono>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/dshow/AudioRenderer.h"
#include "platform/dshow/DShowControl.h"
#include "platform/dshow/StockFilters.h"
#include "platform/dshow/StreamSync.h"
#include "platform/dshow/VideoRenderer.h"
#include "platform/ui/VideoWindow.h"
#include "platform/ui/Window.h"
#include "platform/win/Strings.h"
#include "tests/fixtures/ClipWriter.h"
#include "tests/fixtures/FrameCode.h"
#include "tests/support/GraphHarness.h"
#include "tests/support/TempDir.h"

namespace {

using reel::ComPtr;
using namespace reel::test;
namespace fixtures = reel::fixtures;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

class RendererTest : public ::testing::Test {
 protected:
  // Before any member widget of a derived fixture.
  RendererTest() { reel::EnsureApplication(); }

  // An AVI clip (MPEG-4 video, PCM sound) rendered by RenderFile
  // into the stock renderers.
  ComPtr<IGraphBuilder> RenderClip(double seconds) {
    fixtures::ClipSpec spec;
    spec.container = "avi";
    spec.durationSeconds = seconds;
    auto file = folder / ("clip" + std::to_string(static_cast<int>(seconds * 10)) + ".avi");
    std::string error;
    EXPECT_TRUE(fixtures::WriteClip(spec, file.string(), &error)) << error;
    auto graph = CreateObject<IGraphBuilder>(CLSID_FilterGraph);
    EXPECT_EQ(graph->RenderFile(reel::Utf8ToUtf16(file.string()).c_str(), nullptr), S_OK);
    return graph;
  }

  static ComPtr<IBaseFilter> Filter(IGraphBuilder* graph, const char16_t* name) {
    ComPtr<IBaseFilter> filter;
    graph->FindFilterByName(name, &filter);
    return filter;
  }

  // The video window, found as the child the renderer put into `owner`.
  static reel::VideoWindow* WindowIn(QWidget* owner) { return owner->findChild<reel::VideoWindow*>(); }

  static int Statistic(IBaseFilter* renderer, HRESULT (IQualProp::*get)(int*)) {
    auto quality = QueryObject<IQualProp>(renderer);
    int value = -1;
    EXPECT_EQ((quality.Get()->*get)(&value), S_OK);
    return value;
  }

  TempDir folder{"renderers"};
};

// ---------------------------------------------------------------------------
// Timing

TEST_F(RendererTest, PreviewPlaysInRealTimeAgainstTheAudioRenderersClock) {
  auto graph = RenderClip(3.0);
  auto audio = Filter(graph.Get(), u"Audio Renderer");
  auto video = Filter(graph.Get(), u"Video Renderer");
  ASSERT_TRUE(audio && video);
  QWidget owner;
  owner.resize(160, 120);
  owner.show();
  auto window = QueryObject<IVideoWindow>(graph.Get());
  ASSERT_EQ(window->put_Owner(reinterpret_cast<OAHWND>(reel::RegisterWindow(&owner, nullptr))), S_OK);
  ASSERT_EQ(window->put_WindowStyle(WS_CHILD | WS_CLIPSIBLINGS), S_OK);

  auto started = Clock::now();
  RunOutcome outcome = RunGraph(graph.Get(), 10000);
  double elapsed = SecondsSince(started);
  EXPECT_TRUE(outcome.complete);
  EXPECT_GE(elapsed, 2.7);
  EXPECT_LE(elapsed, 4.0);

  // The graph ran on the audio renderer's clock.
  auto filter = QueryObject<IMediaFilter>(graph.Get());
  ComPtr<IReferenceClock> clock;
  ASSERT_EQ(filter->GetSyncSource(&clock), S_OK);
  EXPECT_EQ(QueryObject<IUnknown>(clock.Get()).Get(), QueryObject<IUnknown>(audio.Get()).Get());

  // 75 pictures on time: nearly all drawn, a few may be late on a busy machine.
  int drawn = Statistic(video.Get(), &IQualProp::get_FramesDrawn);
  int dropped = Statistic(video.Get(), &IQualProp::get_FramesDroppedInFilter);
  EXPECT_GE(drawn, 60);
  EXPECT_EQ(drawn + dropped, 75);
  reel::VideoWindow* shown = WindowIn(&owner);
  ASSERT_NE(shown, nullptr);
  EXPECT_GE(shown->PaintedPictures(), 30);
  // The last picture stays up: frame 74.
  QImage picture = shown->grab().toImage().convertToFormat(QImage::Format_RGB32);
  EXPECT_EQ(fixtures::DecodeFrameNumberFromPicture(picture.constBits(), static_cast<int>(picture.bytesPerLine()),
                                                   picture.width(), picture.height(), fixtures::PixelLayout::Bgrx32),
            74);
}

TEST_F(RendererTest, LatePicturesAreDroppedAndOnTimeOnesDrawn) {
  auto graph = RenderClip(2.0);
  auto video = Filter(graph.Get(), u"Video Renderer");
  ASSERT_TRUE(video);
  QueryObject<IVideoWindow>(graph.Get())->put_AutoShow(OAFALSE);
  auto control = QueryObject<IMediaControl>(graph.Get());
  auto filter = QueryObject<IMediaFilter>(graph.Get());
  ASSERT_TRUE(SUCCEEDED(control->Pause()));
  ComPtr<IReferenceClock> clock;
  ASSERT_EQ(filter->GetSyncSource(&clock), S_OK);
  // Stream time 0 was a second ago: the first second of pictures is late.
  REFERENCE_TIME now = 0;
  clock->GetTime(&now);
  ASSERT_EQ(filter->Run(now - UNITS), S_OK);
  auto events = QueryObject<IMediaEventEx>(graph.Get());
  bool complete = false;
  reel::RunMessageLoopUntil(
      [&] {
        LONG code;
        LONG_PTR first, second;
        while (events->GetEvent(&code, &first, &second, 0) == S_OK) {
          complete = complete || code == EC_COMPLETE;
          events->FreeEventParams(code, first, second);
        }
        return complete;
      },
      6000);
  control->Stop();
  EXPECT_TRUE(complete);
  int drawn = Statistic(video.Get(), &IQualProp::get_FramesDrawn);
  int dropped = Statistic(video.Get(), &IQualProp::get_FramesDroppedInFilter);
  // Pictures more than a frame late are dropped: about the first 24.
  EXPECT_GE(dropped, 20);
  EXPECT_LE(dropped, 27);
  EXPECT_EQ(drawn + dropped, 50);
  EXPECT_GT(Statistic(video.Get(), &IQualProp::get_AvgSyncOffset), -40);
}

TEST_F(RendererTest, WithoutAClockTheVideoRendererDoesNotSlowTheGraph) {
  auto graph = RenderClip(4.0);
  auto video = Filter(graph.Get(), u"Video Renderer");
  ASSERT_TRUE(video);
  QWidget owner;
  owner.resize(160, 120);
  owner.show();
  auto window = QueryObject<IVideoWindow>(graph.Get());
  ASSERT_EQ(window->put_Owner(reinterpret_cast<OAHWND>(reel::RegisterWindow(&owner, nullptr))), S_OK);
  RunWithoutClock(graph.Get());
  auto started = Clock::now();
  EXPECT_TRUE(RunToCompletion(graph.Get(), 10000));
  // Four seconds of video in well under a second and a half.
  EXPECT_LT(SecondsSince(started), 1.5);
  EXPECT_EQ(Statistic(video.Get(), &IQualProp::get_FramesDrawn), 100);
  EXPECT_EQ(Statistic(video.Get(), &IQualProp::get_FramesDroppedInFilter), 0);
  reel::PumpMessages();
  ASSERT_NE(WindowIn(&owner), nullptr);
  EXPECT_GE(WindowIn(&owner)->PaintedPictures(), 1);
}

// ---------------------------------------------------------------------------
// The window

class VideoWindowTest : public RendererTest {
 protected:
  void SetUp() override {
    graph = RenderClip(1.0);
    window = QueryObject<IVideoWindow>(graph.Get());
    basic = QueryObject<IBasicVideo2>(graph.Get());
    ASSERT_TRUE(window && basic);
    owner.resize(320, 240);
    owner.show();
    ownerHandle = reinterpret_cast<OAHWND>(reel::RegisterWindow(&owner, nullptr));
    ASSERT_EQ(window->put_Owner(ownerHandle), S_OK);
    ASSERT_EQ(window->put_WindowStyle(WS_CHILD | WS_CLIPSIBLINGS), S_OK);
    ASSERT_EQ(window->SetWindowPosition(0, 0, 320, 240), S_OK);
    // Paused, the first picture is shown.
    control = QueryObject<IMediaControl>(graph.Get());
    ASSERT_TRUE(SUCCEEDED(control->Pause()));
    OAFilterState state;
    ASSERT_EQ(control->GetState(5000, &state), S_OK);
    ASSERT_TRUE(reel::RunMessageLoopUntil([&] { return Shown() && Shown()->PaintedPictures() > 0; }, 3000));
  }
  void TearDown() override {
    if (control) control->Stop();
  }

  reel::VideoWindow* Shown() { return WindowIn(&owner); }

  // What the video window shows (`shown` when it is not in the owner).
  QImage Grab(reel::VideoWindow* shown = nullptr) {
    reel::PumpMessages();
    if (!shown) shown = Shown();
    EXPECT_NE(shown, nullptr);
    return shown ? shown->grab().toImage().convertToFormat(QImage::Format_RGB32) : QImage();
  }

  // The current picture from GetCurrentImage, top-down.
  QImage CurrentImage() {
    LONG size = 0;
    EXPECT_EQ(basic->GetCurrentImage(&size, nullptr), S_OK);
    std::vector<LONG> buffer((size + 3) / 4);
    EXPECT_EQ(basic->GetCurrentImage(&size, buffer.data()), S_OK);
    BITMAPINFOHEADER header;
    std::memcpy(&header, buffer.data(), sizeof header);
    EXPECT_EQ(header.biBitCount, 32);
    const uchar* bits = reinterpret_cast<const uchar*>(buffer.data()) + sizeof header;
    QImage image(bits, header.biWidth, std::abs(header.biHeight), header.biWidth * 4, QImage::Format_RGB32);
    return header.biHeight > 0 ? image.mirrored(false, true) : image.copy();
  }

  // How many pixels of `area` have exactly `colour`.
  static int CountColour(const QImage& image, const QRect& area, QRgb colour) {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
      for (int x = area.left(); x <= area.right(); ++x)
        if ((image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF)) ++count;
    return count;
  }

  QWidget owner;
  OAHWND ownerHandle = 0;
  ComPtr<IGraphBuilder> graph;
  ComPtr<IVideoWindow> window;
  ComPtr<IBasicVideo2> basic;
  ComPtr<IMediaControl> control;
};

TEST_F(VideoWindowTest, SourceAndDestinationRectanglesPlaceThePicture) {
  ASSERT_EQ(window->put_BorderColor(RGB(255, 0, 255)), S_OK);
  // The right half of the picture, unscaled, at (30, 40).
  ASSERT_EQ(basic->SetSourcePosition(80, 0, 80, 120), S_OK);
  ASSERT_EQ(basic->SetDestinationPosition(30, 40, 80, 120), S_OK);
  LONG left, top, width, height;
  ASSERT_EQ(basic->GetDestinationPosition(&left, &top, &width, &height), S_OK);
  EXPECT_EQ(QRect(left, top, width, height), QRect(30, 40, 80, 120));
  EXPECT_EQ(basic->IsUsingDefaultSource(), S_FALSE);
  EXPECT_EQ(basic->IsUsingDefaultDestination(), S_FALSE);

  QImage shown = Grab();
  ASSERT_EQ(shown.size(), QSize(320, 240));
  QImage picture = CurrentImage();
  ASSERT_EQ(picture.size(), QSize(160, 120));
  EXPECT_EQ(shown.copy(30, 40, 80, 120), picture.copy(80, 0, 80, 120));
  // Everything around the destination is the border colour.
  QRegion border = QRegion(shown.rect()).subtracted(QRect(30, 40, 80, 120));
  for (const QRect& part : border)
    EXPECT_EQ(CountColour(shown, part, qRgb(255, 0, 255)), part.width() * part.height());
  EXPECT_EQ(CountColour(shown, QRect(30, 40, 80, 120), qRgb(255, 0, 255)), 0);

  // The whole picture stretched over the window: the frame code still reads.
  ASSERT_EQ(basic->SetDefaultSourcePosition(), S_OK);
  ASSERT_EQ(basic->SetDefaultDestinationPosition(), S_OK);
  shown = Grab();
  EXPECT_EQ(CountColour(shown, shown.rect(), qRgb(255, 0, 255)), 0);
  EXPECT_EQ(fixtures::DecodeFrameNumberFromPicture(shown.constBits(), static_cast<int>(shown.bytesPerLine()),
                                                   shown.width(), shown.height(), fixtures::PixelLayout::Bgrx32),
            0);
}

TEST_F(VideoWindowTest, PositionStyleOwnerAndFullScreenChangeTheWindow) {
  reel::VideoWindow* shown = Shown();
  ASSERT_EQ(window->SetWindowPosition(10, 20, 200, 150), S_OK);
  EXPECT_EQ(shown->geometry(), QRect(10, 20, 200, 150));
  EXPECT_EQ(shown->parentWidget(), &owner);
  LONG style = 0;
  ASSERT_EQ(window->get_WindowStyle(&style), S_OK);
  EXPECT_EQ(style & (WS_CHILD | WS_VISIBLE), WS_CHILD | WS_VISIBLE);

  // Without an owner it is a top-level window, framed as its style says.
  ASSERT_EQ(window->put_Owner(0), S_OK);
  EXPECT_TRUE(shown->isWindow());
  ASSERT_EQ(window->put_WindowStyle(WS_OVERLAPPEDWINDOW), S_OK);
  EXPECT_FALSE(shown->windowFlags() & Qt::FramelessWindowHint);
  ASSERT_EQ(window->put_WindowStyle(WS_POPUP), S_OK);
  EXPECT_TRUE(shown->windowFlags() & Qt::FramelessWindowHint);
  ASSERT_EQ(window->put_Owner(ownerHandle), S_OK);
  EXPECT_EQ(shown->parentWidget(), &owner);
  EXPECT_EQ(shown->geometry(), QRect(10, 20, 200, 150));

  // Full screen and back into the owner where it was.
  ASSERT_EQ(window->put_FullScreenMode(OATRUE), S_OK);
  reel::PumpMessages();
  EXPECT_TRUE(shown->isWindow());
  EXPECT_TRUE(shown->isFullScreen());
  ASSERT_EQ(window->put_BorderColor(RGB(255, 0, 255)), S_OK);
  QImage screen = Grab(shown);
  EXPECT_GT(screen.width(), 200);
  EXPECT_EQ(screen.size(), shown->screen()->size());
  EXPECT_EQ(CountColour(screen, screen.rect(), qRgb(255, 0, 255)), 0);  // the picture fills the screen
  LONG fullScreen = OAFALSE;
  ASSERT_EQ(window->get_FullScreenMode(&fullScreen), S_OK);
  EXPECT_EQ(fullScreen, OATRUE);
  ASSERT_EQ(window->put_FullScreenMode(OAFALSE), S_OK);
  reel::PumpMessages();
  EXPECT_FALSE(shown->isFullScreen());
  EXPECT_EQ(shown->parentWidget(), &owner);
  EXPECT_EQ(shown->geometry(), QRect(10, 20, 200, 150));

  ASSERT_EQ(window->put_Visible(OAFALSE), S_OK);
  EXPECT_FALSE(shown->isVisible());
  ASSERT_EQ(window->put_Visible(OATRUE), S_OK);
  EXPECT_TRUE(shown->isVisible());
  EXPECT_EQ(window->SetWindowForeground(OATRUE), S_OK);
}

TEST_F(VideoWindowTest, MouseInputGoesToTheMessageDrain) {
  std::vector<std::pair<UINT, LPARAM>> received;
  HWND drain = reel::CreateMessageWindow([&](HWND, UINT message, WPARAM, LPARAM lParam) -> LRESULT {
    if (message == WM_LBUTTONDOWN || message == WM_LBUTTONUP) received.emplace_back(message, lParam);
    return 0;
  });
  ASSERT_EQ(window->put_MessageDrain(reinterpret_cast<OAHWND>(drain)), S_OK);
  QPointF at(12, 34);
  QMouseEvent press(QEvent::MouseButtonPress, at, Shown()->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, at, Shown()->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QApplication::sendEvent(Shown(), &press);
  QApplication::sendEvent(Shown(), &release);
  reel::RunMessageLoopUntil([&] { return received.size() >= 2; }, 2000);
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0], std::make_pair(WM_LBUTTONDOWN, MAKELPARAM(12, 34)));
  EXPECT_EQ(received[1].first, WM_LBUTTONUP);
  window->put_MessageDrain(0);
  DestroyWindow(drain);
}

TEST_F(VideoWindowTest, BadArgumentsAreRefused) {
  LONG value = 0;
  struct Case {
    const char* what;
    HRESULT got;
    HRESULT expected;
  };
  LONG* none = nullptr;
  const Case cases[] = {
      {"empty source", basic->SetSourcePosition(0, 0, 0, 120), E_INVALIDARG},
      {"source beyond the right edge", basic->SetSourcePosition(100, 0, 80, 120), E_INVALIDARG},
      {"source above the picture", basic->SetSourcePosition(0, -1, 160, 120), E_INVALIDARG},
      {"source taller than the picture", basic->put_SourceHeight(121), E_INVALIDARG},
      {"empty destination", basic->SetDestinationPosition(0, 0, 100, 0), E_INVALIDARG},
      {"negative destination width", basic->put_DestinationWidth(-5), E_INVALIDARG},
      {"null video size", basic->GetVideoSize(none, &value), E_POINTER},
      {"null source", basic->GetSourcePosition(&value, &value, none, &value), E_POINTER},
      {"null image size", basic->GetCurrentImage(none, nullptr), E_POINTER},
      {"negative window width", window->SetWindowPosition(0, 0, -1, 10), E_INVALIDARG},
      {"unknown owner", window->put_Owner(static_cast<OAHWND>(0x7FFF1234)), E_INVALIDARG},
      {"unknown drain", window->put_MessageDrain(static_cast<OAHWND>(0x7FFF1234)), E_INVALIDARG},
      {"full screen not a boolean", window->put_FullScreenMode(2), E_INVALIDARG},
      {"null position", window->GetWindowPosition(&value, none, &value, &value), E_POINTER},
      {"null caption", window->get_Caption(nullptr), E_POINTER},
  };
  for (const Case& check : cases) EXPECT_EQ(check.got, check.expected) << check.what;
  LONG small = 16;
  std::vector<LONG> buffer(4);
  EXPECT_EQ(basic->GetCurrentImage(&small, buffer.data()), E_OUTOFMEMORY);
  // Nothing refused changed the rectangles.
  LONG left, top, width, height;
  ASSERT_EQ(basic->GetSourcePosition(&left, &top, &width, &height), S_OK);
  EXPECT_EQ(QRect(left, top, width, height), QRect(0, 0, 160, 120));
  EXPECT_EQ(basic->IsUsingDefaultDestination(), S_OK);

  auto audio = QueryObject<IBasicAudio>(graph.Get());
  ASSERT_TRUE(audio);
  EXPECT_EQ(audio->put_Volume(1), E_INVALIDARG);
  EXPECT_EQ(audio->put_Volume(-10001), E_INVALIDARG);
  EXPECT_EQ(audio->put_Balance(10001), E_INVALIDARG);
  EXPECT_EQ(audio->get_Volume(nullptr), E_POINTER);
  EXPECT_EQ(audio->put_Volume(-2500), S_OK);
  ASSERT_EQ(audio->get_Volume(&value), S_OK);
  EXPECT_EQ(value, -2500);
  auto clock = QueryObject<IReferenceClock>(Filter(graph.Get(), u"Audio Renderer").Get());
  ASSERT_TRUE(clock);
  EXPECT_EQ(clock->GetTime(nullptr), E_POINTER);
  DWORD_PTR cookie = 0;
  EXPECT_EQ(clock->AdviseTime(0, 0, 0, &cookie), E_INVALIDARG);
}

// ---------------------------------------------------------------------------
// Sound

TEST(AudioVolume, LevelsInHundredthsOfADecibelScaleTheSamples) {
  struct Case {
    LONG volume, balance;
    double left, right;  // expected gains
  };
  const Case cases[] = {
      {0, 0, 1.0, 1.0},          {-2000, 0, 0.1, 0.1},       {-600, 0, 0.50119, 0.50119},
      {-10000, 0, 0.0, 0.0},     {0, 10000, 0.0, 1.0},       {0, -2000, 1.0, 0.1},
      {-2000, 2000, 0.01, 0.1},
  };
  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = 2;
  format.nSamplesPerSec = 8000;
  format.wBitsPerSample = 16;
  format.nBlockAlign = 4;
  for (const Case& check : cases) {
    int16_t samples[] = {20000, -20000, -30000, 30000};
    reel::ApplyVolume(reinterpret_cast<BYTE*>(samples), sizeof samples, format, check.volume, check.balance);
    EXPECT_NEAR(samples[0], 20000 * check.left, 2) << check.volume << " " << check.balance;
    EXPECT_NEAR(samples[2], -30000 * check.left, 2) << check.volume << " " << check.balance;
    EXPECT_NEAR(samples[1], -20000 * check.right, 2) << check.volume << " " << check.balance;
    EXPECT_NEAR(samples[3], 30000 * check.right, 2) << check.volume << " " << check.balance;
  }
  // 8-bit sound is centred on 128.
  format.nChannels = 1;
  format.wBitsPerSample = 8;
  format.nBlockAlign = 1;
  BYTE bytes[] = {228, 28, 128};
  reel::ApplyVolume(bytes, sizeof bytes, format, -2000, 0);
  EXPECT_EQ(bytes[0], 138);
  EXPECT_EQ(bytes[1], 118);
  EXPECT_EQ(bytes[2], 128);
}

TEST(AudioClock, RunsSteadilyAndWakesAdvises) {
  auto renderer = CreateObject<IBaseFilter>(CLSID_AudioRender);
  auto clock = QueryObject<IReferenceClock>(renderer.Get());
  ASSERT_TRUE(clock);
  REFERENCE_TIME first = 0, second = 0;
  ASSERT_EQ(clock->GetTime(&first), S_OK);
  auto started = Clock::now();
  CAMEvent event;
  DWORD_PTR cookie = 0;
  ASSERT_EQ(clock->AdviseTime(first, 100 * 10000, event.Handle(), &cookie), S_OK);
  EXPECT_TRUE(event.Wait(2000));
  double waited = SecondsSince(started);
  ASSERT_EQ(clock->GetTime(&second), S_OK);
  EXPECT_GE(second - first, 100 * 10000);
  EXPECT_GE(waited, 0.09);
  EXPECT_LT(waited, 0.5);
}

}  // namespace
