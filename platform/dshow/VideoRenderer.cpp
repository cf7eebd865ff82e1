#include "platform/dshow/VideoRenderer.h"

#include <QCoreApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <numeric>
#include <vector>

#include "platform/com/ClassTable.h"
#include "platform/dshow/BaseRenderer.h"
#include "platform/dshow/DShowControl.h"
#include "platform/dshow/FilterRegistry.h"
#include "platform/dshow/NoTypeInfo.h"
#include "platform/dshow/StockFilters.h"
#include "platform/dshow/SystemClock.h"
#include "platform/ui/VideoWindow.h"

namespace {

// Pictures reach the screen at most this often; more would only cost the
// streaming thread time in a conversion.
constexpr int kDisplayIntervalMilliseconds = 1000 / 60;

// The window's settings as IVideoWindow and IBasicVideo set them. The
// renderer's copy is the truth; the window follows it on the interface
// thread.
struct WindowSettings {
  std::u16string caption = u"ActiveMovie Window";
  LONG style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
  LONG styleEx = 0;
  LONG autoShow = OATRUE;
  LONG windowState = SW_SHOW;
  LONG backgroundPalette = OAFALSE;
  LONG visible = OAFALSE;
  RECT position{0, 0, 0, 0};  // in the owner's client area, or on the screen
  COLORREF borderColor = 0;
  OAHWND owner = 0;
  OAHWND drain = 0;
  LONG fullScreen = OAFALSE;
  LONG cursorHidden = OAFALSE;
  RECT source{0, 0, 0, 0};
  RECT destination{0, 0, 0, 0};
  bool defaultDestination = true;  // the destination follows the window's size
  int foregroundRequests = 0;      // SetWindowForeground calls not yet applied
  bool focusRequested = false;
};

LONG Width(const RECT& rect) { return rect.right - rect.left; }
LONG Height(const RECT& rect) { return rect.bottom - rect.top; }
QRect ToQRect(const RECT& rect) { return QRect(rect.left, rect.top, Width(rect), Height(rect)); }

// The connected picture format.
struct PictureFormat {
  BITMAPINFOHEADER header{};
  GUID subtype = GUID_NULL;
  LONG Width() const { return header.biWidth; }
  LONG Height() const { return std::abs(header.biHeight); }
  size_t Stride() const { return ((static_cast<size_t>(header.biWidth) * header.biBitCount + 31) / 32) * 4; }
  size_t ImageSize() const { return Stride() * static_cast<size_t>(Height()); }
  QImage::Format QtFormat() const {
    if (subtype == MEDIASUBTYPE_RGB32) return QImage::Format_RGB32;
    if (subtype == MEDIASUBTYPE_RGB24) return QImage::Format_BGR888;
    if (subtype == MEDIASUBTYPE_RGB565) return QImage::Format_RGB16;
    if (subtype == MEDIASUBTYPE_RGB555) return QImage::Format_RGB555;
    return QImage::Format_Invalid;
  }
};

// Runs work on the user-interface thread: at once when called there, else
// queued to it.
void OnInterfaceThread(std::function<void()> work) {
  if (reel::IsUserInterfaceThread()) {
    work();
    return;
  }
  if (QCoreApplication* application = QCoreApplication::instance())
    QMetaObject::invokeMethod(application, std::move(work), Qt::QueuedConnection);
}

// What the renderer shares with the interface thread: the settings, the
// newest picture and the window. It outlives the renderer until the
// interface thread has let the window go.
class VideoPresenter : public std::enable_shared_from_this<VideoPresenter> {
 public:
  std::mutex lock;  // settings, format and picture
  WindowSettings settings;
  PictureFormat format;
  std::vector<BYTE> picture;  // the newest picture as it arrived (a DIB)
  bool havePicture = false;
  bool pictureFresh = false;  // not shown in the window yet

  // Streaming thread: a new picture asks for a repaint unless one is due.
  void RequestPresent() {
    if (presentPending_.exchange(true)) return;
    std::weak_ptr<VideoPresenter> weak = weak_from_this();
    OnInterfaceThread([weak] {
      if (auto presenter = weak.lock()) presenter->Present();
    });
  }

  // Any thread: the window follows the settings.
  void RequestSync() {
    std::weak_ptr<VideoPresenter> weak = weak_from_this();
    OnInterfaceThread([weak] {
      if (auto presenter = weak.lock()) presenter->Sync();
    });
  }

  // Interface thread only, from here on.
  reel::VideoWindow* Window() { return window_.data(); }

  void DestroyWindow() {
    delete window_.data();
    window_.clear();
  }

  void Sync() {
    WindowSettings wanted;
    {
      std::lock_guard<std::mutex> hold(lock);
      wanted = settings;
      settings.foregroundRequests = 0;
      settings.focusRequested = false;
    }
    reel::VideoWindow* window = EnsureWindow();
    QWidget* owner = wanted.owner ? reel::WidgetFromHandle(reinterpret_cast<HWND>(wanted.owner)) : nullptr;

    if (wanted.fullScreen == OATRUE) {
      if (!fullScreen_) {
        fullScreen_ = true;
        window->setParent(nullptr, Qt::Window | Qt::FramelessWindowHint);
        window->showFullScreen();
        // Keys reach the message drain from the full-screen window.
        window->activateWindow();
        window->setFocus(Qt::OtherFocusReason);
      }
    } else {
      if (fullScreen_) {
        fullScreen_ = false;
        window->showNormal();
      }
      if (window->parentWidget() != owner || window->isWindow() == (owner != nullptr)) {
        bool wasVisible = window->isVisible();
        window->setParent(owner, owner ? Qt::Widget : Qt::Window);
        window->setVisible(wasVisible);
      }
      if (!owner) {
        // A top-level window without a caption style has no frame.
        bool framed = (wanted.style & WS_CAPTION) == WS_CAPTION;
        Qt::WindowFlags flags = Qt::Window | (framed ? Qt::WindowFlags() : Qt::FramelessWindowHint);
        if (window->windowFlags() != flags) {
          bool wasVisible = window->isVisible();
          window->setWindowFlags(flags);
          window->setVisible(wasVisible);
        }
      }
      QRect geometry = ToQRect(wanted.position);
      if (window->geometry() != geometry) window->setGeometry(geometry);
    }
    window->setWindowTitle(QString::fromUtf16(wanted.caption.data(), static_cast<qsizetype>(wanted.caption.size())));
    window->SetBorderColor(wanted.borderColor);
    window->SetMessageDrain(reinterpret_cast<HWND>(wanted.drain));
    if (wanted.cursorHidden == OATRUE) window->setCursor(Qt::BlankCursor);
    else window->unsetCursor();
    ApplyRectangles(window, wanted);

    bool visible = wanted.visible == OATRUE || wanted.fullScreen == OATRUE;
    if (window->isVisible() != visible) window->setVisible(visible);
    if (wanted.foregroundRequests > 0 && visible) {
      window->raise();
      if (wanted.focusRequested) {
        window->activateWindow();
        window->setFocus(Qt::OtherFocusReason);
      }
    }
  }

  void Present() {
    QElapsedTimer& last = lastPresent_;
    if (last.isValid() && last.elapsed() < kDisplayIntervalMilliseconds) {
      // Too soon after the last one: the newest picture is shown when the
      // display is ready for it.
      std::weak_ptr<VideoPresenter> weak = weak_from_this();
      QTimer::singleShot(static_cast<int>(kDisplayIntervalMilliseconds - last.elapsed()), QCoreApplication::instance(),
                         [weak] {
                           if (auto presenter = weak.lock()) presenter->Present();
                         });
      return;
    }
    presentPending_ = false;
    last.start();
    PictureFormat shown;
    {
      std::lock_guard<std::mutex> hold(lock);
      if (!pictureFresh) return;
      pictureFresh = false;
      shown = format;
      painting_.assign(picture.begin(), picture.end());
    }
    QImage image = ImageOf(shown, painting_);
    if (image.isNull()) return;
    reel::VideoWindow* window = EnsureWindow();
    window->SetPicture(image);
  }

 private:
  reel::VideoWindow* EnsureWindow() {
    if (!window_) {
      window_ = new reel::VideoWindow;
      window_->setAttribute(Qt::WA_DeleteOnClose, false);
    }
    return window_.data();
  }

  void ApplyRectangles(reel::VideoWindow* window, const WindowSettings& wanted) {
    window->SetSourceRect(ToQRect(wanted.source));
    if (fullScreen_) {
      // Full screen shows the picture stretched over the whole screen.
      window->SetDestinationRect(QRect());
    } else if (wanted.defaultDestination) {
      window->SetDestinationRect(QRect(0, 0, Width(wanted.position), Height(wanted.position)));
    } else {
      window->SetDestinationRect(ToQRect(wanted.destination));
    }
  }

  // The DIB as a top-down image of its own.
  static QImage ImageOf(const PictureFormat& format, const std::vector<BYTE>& bits) {
    QImage::Format qtFormat = format.QtFormat();
    if (qtFormat == QImage::Format_Invalid || bits.size() < format.ImageSize() || format.Width() <= 0) return QImage();
    QImage wrapped(bits.data(), format.Width(), format.Height(), static_cast<qsizetype>(format.Stride()), qtFormat);
    // Positive heights are bottom-up DIBs.
    return format.header.biHeight > 0 ? wrapped.mirrored(false, true) : wrapped.copy();
  }

  std::atomic<bool> presentPending_{false};
  QPointer<reel::VideoWindow> window_;
  bool fullScreen_ = false;
  QElapsedTimer lastPresent_;
  std::vector<BYTE> painting_;
};

// Presentation statistics, kept by the streaming thread.
struct Statistics {
  std::mutex lock;
  int drawn = 0;
  int dropped = 0;
  double sumOffset = 0, sumOffsetSquares = 0;  // lateness in milliseconds
  REFERENCE_TIME firstDrawn = 0, lastDrawn = 0;
  REFERENCE_TIME lastInterval = 0;
  double sumJitter = 0;

  void Reset() {
    std::lock_guard<std::mutex> hold(lock);
    drawn = dropped = 0;
    sumOffset = sumOffsetSquares = sumJitter = 0;
    firstDrawn = lastDrawn = lastInterval = 0;
  }
  void Drawn(REFERENCE_TIME lateness) {
    std::lock_guard<std::mutex> hold(lock);
    REFERENCE_TIME now = CSystemClock::Now();
    if (drawn == 0) firstDrawn = now;
    else {
      REFERENCE_TIME interval = now - lastDrawn;
      if (drawn > 1) sumJitter += std::abs(static_cast<double>(interval - lastInterval)) / 10000.0;
      lastInterval = interval;
    }
    lastDrawn = now;
    ++drawn;
    double offset = static_cast<double>(lateness) / 10000.0;
    sumOffset += offset;
    sumOffsetSquares += offset * offset;
  }
};

class CVideoRenderer : public CBaseRenderer, public IVideoWindow, public IBasicVideo2, public IQualProp {
 public:
  explicit CVideoRenderer(LPUNKNOWN outer)
      : CBaseRenderer(CLSID_VideoRenderer, "video renderer", outer, nullptr, u"Input"),
        presenter_(std::make_shared<VideoPresenter>()) {
    reel::EnsureApplication();
  }

  ~CVideoRenderer() override {
    // The window belongs to the interface thread; it is let go there.
    std::shared_ptr<VideoPresenter> presenter = std::move(presenter_);
    OnInterfaceThread([presenter] { presenter->DestroyWindow(); });
  }

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IVideoWindow) return GetInterface(static_cast<IVideoWindow*>(this), ppv);
    if (riid == IID_IBasicVideo) return GetInterface(static_cast<IBasicVideo*>(this), ppv);
    if (riid == IID_IBasicVideo2) return GetInterface(static_cast<IBasicVideo2*>(this), ppv);
    if (riid == IID_IQualProp) return GetInterface(static_cast<IQualProp*>(this), ppv);
    return CBaseRenderer::NonDelegatingQueryInterface(riid, ppv);
  }

  // --- CBaseRenderer ---------------------------------------------------------

  HRESULT CheckMediaType(const CMediaType* mediaType) override {
    if (mediaType->majortype != MEDIATYPE_Video) return VFW_E_TYPE_NOT_ACCEPTED;
    PictureFormat format;
    format.subtype = mediaType->subtype;
    const BITMAPINFOHEADER* header = reel::BitmapHeaderOf(*mediaType);
    if (!header || format.QtFormat() == QImage::Format_Invalid) return VFW_E_TYPE_NOT_ACCEPTED;
    format.header = *header;
    // Pictures up to 16384 pixels a side: anything larger is not a picture
    // this window can draw.
    if (format.Width() <= 0 || format.Height() <= 0 || format.Width() > 16384 || format.Height() > 16384)
      return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
  }

  HRESULT SetMediaType(const CMediaType* mediaType) override {
    const BITMAPINFOHEADER* header = reel::BitmapHeaderOf(*mediaType);
    const VIDEOINFOHEADER* info = reel::VideoInfoOf(*mediaType);
    {
      std::lock_guard<std::mutex> hold(presenter_->lock);
      PictureFormat& format = presenter_->format;
      format.header = *header;
      format.subtype = mediaType->subtype;
      frameTime_ = info ? info->AvgTimePerFrame : 0;
      bitRate_ = info ? static_cast<LONG>(info->dwBitRate) : 0;
      WindowSettings& settings = presenter_->settings;
      settings.source = RECT{0, 0, format.Width(), format.Height()};
      // A window that nobody has placed takes the picture's size.
      if (Width(settings.position) == 0 && Height(settings.position) == 0)
        settings.position = RECT{0, 0, format.Width(), format.Height()};
      presenter_->havePicture = false;
      presenter_->pictureFresh = false;
    }
    presenter_->RequestSync();
    return S_OK;
  }

  HRESULT OnStartStreaming() override {
    statistics_.Reset();
    bool show = false;
    {
      std::lock_guard<std::mutex> hold(presenter_->lock);
      if (presenter_->settings.autoShow == OATRUE && presenter_->settings.visible != OATRUE) {
        presenter_->settings.visible = OATRUE;
        show = true;
      }
    }
    if (show) presenter_->RequestSync();
    return S_OK;
  }

  REFERENCE_TIME LatenessLimit(REFERENCE_TIME start, REFERENCE_TIME end) override {
    if (end > start) return end - start;
    std::lock_guard<std::mutex> hold(presenter_->lock);
    return frameTime_ > 0 ? frameTime_ : UNITS / 25;
  }

  void OnDropSample(IMediaSample*, REFERENCE_TIME) override {
    std::lock_guard<std::mutex> hold(statistics_.lock);
    ++statistics_.dropped;
  }

  void OnRenderSample(IMediaSample*, REFERENCE_TIME lateness) override { statistics_.Drawn(lateness); }

  // Paused, the first picture is shown at once: a paused graph shows
  // where it stands.
  void OnReceiveFirstSample(IMediaSample* sample) override {
    bool paused;
    {
      std::lock_guard<std::mutex> hold(m_rendererLock);
      paused = m_streamState == State_Paused;
    }
    if (paused) KeepPicture(sample);
  }

  HRESULT DoRenderSample(IMediaSample* sample) override {
    KeepPicture(sample);
    return S_OK;
  }

  // Streaming thread: keep the newest picture and ask for a repaint; never
  // wait for the window.
  void KeepPicture(IMediaSample* sample) {
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || !data) return;
    size_t length = static_cast<size_t>(std::max<LONG>(0, sample->GetActualDataLength()));
    {
      std::lock_guard<std::mutex> hold(presenter_->lock);
      size_t needed = presenter_->format.ImageSize();
      // A short sample is not a whole picture: the one before stays up.
      if (needed == 0 || length < needed) return;
      presenter_->picture.assign(data, data + needed);
      presenter_->havePicture = true;
      presenter_->pictureFresh = true;
    }
    presenter_->RequestPresent();
  }

  REEL_NO_TYPE_INFO

  // --- IVideoWindow ----------------------------------------------------------

  HRESULT put_Caption(BSTR caption) override {
    return Change([&](WindowSettings& settings) {
      settings.caption = caption ? std::u16string(caption) : std::u16string();
      return S_OK;
    });
  }
  HRESULT get_Caption(BSTR* caption) override {
    if (!caption) return E_POINTER;
    std::lock_guard<std::mutex> hold(presenter_->lock);
    *caption = SysAllocString(presenter_->settings.caption.c_str());
    return *caption ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT put_WindowStyle(LONG style) override {
    // These change what kind of window it is, which a video window cannot be.
    if (style & (WS_DISABLED | WS_MINIMIZE | WS_MAXIMIZE | WS_HSCROLL | WS_VSCROLL)) return E_INVALIDARG;
    return Change([&](WindowSettings& settings) {
      // Visibility stays as put_Visible left it.
      settings.style = style & ~WS_VISIBLE;
      return S_OK;
    });
  }
  HRESULT get_WindowStyle(LONG* style) override {
    return Read(style, [](const WindowSettings& settings) {
      return settings.style | (settings.visible == OATRUE ? WS_VISIBLE : 0);
    });
  }
  HRESULT put_WindowStyleEx(LONG style) override {
    return Change([&](WindowSettings& settings) {
      settings.styleEx = style;
      return S_OK;
    });
  }
  HRESULT get_WindowStyleEx(LONG* style) override {
    return Read(style, [](const WindowSettings& settings) { return settings.styleEx; });
  }
  HRESULT put_AutoShow(LONG autoShow) override {
    if (autoShow != OATRUE && autoShow != OAFALSE) return E_INVALIDARG;
    return Change([&](WindowSettings& settings) {
      settings.autoShow = autoShow;
      return S_OK;
    });
  }
  HRESULT get_AutoShow(LONG* autoShow) override {
    return Read(autoShow, [](const WindowSettings& settings) { return settings.autoShow; });
  }
  HRESULT put_WindowState(LONG state) override {
    if (state < SW_HIDE || state > 11) return E_INVALIDARG;
    return Change([&](WindowSettings& settings) {
      settings.windowState = state;
      settings.visible = state == SW_HIDE ? OAFALSE : OATRUE;
      return S_OK;
    });
  }
  HRESULT get_WindowState(LONG* state) override {
    return Read(state, [](const WindowSettings& settings) { return settings.windowState; });
  }
  HRESULT put_BackgroundPalette(LONG palette) override {
    if (palette != OATRUE && palette != OAFALSE) return E_INVALIDARG;
    return Change([&](WindowSettings& settings) {
      settings.backgroundPalette = palette;
      return S_OK;
    });
  }
  HRESULT get_BackgroundPalette(LONG* palette) override {
    return Read(palette, [](const WindowSettings& settings) { return settings.backgroundPalette; });
  }
  HRESULT put_Visible(LONG visible) override {
    if (visible != OATRUE && visible != OAFALSE) return E_INVALIDARG;
    return Change([&](WindowSettings& settings) {
      settings.visible = visible;
      return S_OK;
    });
  }
  HRESULT get_Visible(LONG* visible) override {
    return Read(visible, [](const WindowSettings& settings) { return settings.visible; });
  }
  HRESULT put_Left(LONG left) override {
    return Change([&](WindowSettings& settings) {
      settings.position = RECT{left, settings.position.top, left + Width(settings.position), settings.position.bottom};
      return S_OK;
    });
  }
  HRESULT get_Left(LONG* left) override {
    return Read(left, [](const WindowSettings& settings) { return settings.position.left; });
  }
  HRESULT put_Top(LONG top) override {
    return Change([&](WindowSettings& settings) {
      settings.position = RECT{settings.position.left, top, settings.position.right, top + Height(settings.position)};
      return S_OK;
    });
  }
  HRESULT get_Top(LONG* top) override {
    return Read(top, [](const WindowSettings& settings) { return settings.position.top; });
  }
  HRESULT put_Width(LONG width) override {
    if (width < 0) return E_INVALIDARG;
    return Change([&](WindowSettings& settings) {
      settings.position.right = settings.position.left + width;
      return S_OK;
    });
  }
  HRESULT get_Width(LONG* width) override {
    return Read(width, [](const WindowSettings& settings) { return Width(settings.position); });
  }
  HRESULT put_Height(LONG height) override {
    if (height < 0) return E_INVALIDARG;
    return Change([&](WindowSettings& settings) {
      settings.position.bottom = settings.position.top + height;
      return S_OK;
    });
  }
  HRESULT get_Height(LONG* height) override {
    return Read(height, [](const WindowSettings& settings) { return Height(settings.position); });
  }
  HRESULT put_Owner(OAHWND owner) override {
    // The owner must be a window of this process.
    if (owner && !reel::WidgetFromHandle(reinterpret_cast<HWND>(owner))) return E_INVALIDARG;
    return Change([&](WindowSettings& settings) {
      settings.owner = owner;
      return S_OK;
    });
  }
  HRESULT get_Owner(OAHWND* owner) override {
    return Read(owner, [](const WindowSettings& settings) { return settings.owner; });
  }
  HRESULT put_MessageDrain(OAHWND drain) override {
    if (drain && !IsWindow(reinterpret_cast<HWND>(drain))) return E_INVALIDARG;
    return Change([&](WindowSettings& settings) {
      settings.drain = drain;
      return S_OK;
    });
  }
  HRESULT get_MessageDrain(OAHWND* drain) override {
    return Read(drain, [](const WindowSettings& settings) { return settings.drain; });
  }
  HRESULT get_BorderColor(LONG* colour) override {
    return Read(colour, [](const WindowSettings& settings) { return static_cast<LONG>(settings.borderColor); });
  }
  HRESULT put_BorderColor(LONG colour) override {
    return Change([&](WindowSettings& settings) {
      settings.borderColor = static_cast<COLORREF>(colour) & 0x00FFFFFF;
      return S_OK;
    });
  }
  HRESULT get_FullScreenMode(LONG* fullScreen) override {
    return Read(fullScreen, [](const WindowSettings& settings) { return settings.fullScreen; });
  }
  HRESULT put_FullScreenMode(LONG fullScreen) override {
    if (fullScreen != OATRUE && fullScreen != OAFALSE) return E_INVALIDARG;
    return Change([&](WindowSettings& settings) {
      settings.fullScreen = fullScreen;
      return S_OK;
    });
  }
  HRESULT SetWindowForeground(LONG focus) override {
    if (focus != OATRUE && focus != OAFALSE) return E_INVALIDARG;
    return Change([&](WindowSettings& settings) {
      ++settings.foregroundRequests;
      settings.focusRequested = settings.focusRequested || focus == OATRUE;
      return S_OK;
    });
  }
  HRESULT NotifyOwnerMessage(OAHWND, LONG, LONG_PTR, LONG_PTR) override { return S_OK; }
  HRESULT SetWindowPosition(LONG left, LONG top, LONG width, LONG height) override {
    if (width < 0 || height < 0) return E_INVALIDARG;
    return Change([&](WindowSettings& settings) {
      settings.position = RECT{left, top, left + width, top + height};
      return S_OK;
    });
  }
  HRESULT GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) override {
    return ReadRect(left, top, width, height, [](const WindowSettings& settings) { return settings.position; });
  }
  HRESULT GetMinIdealImageSize(LONG* width, LONG* height) override { return GetVideoSize(width, height); }
  HRESULT GetMaxIdealImageSize(LONG* width, LONG* height) override { return GetVideoSize(width, height); }
  HRESULT GetRestorePosition(LONG* left, LONG* top, LONG* width, LONG* height) override {
    return GetWindowPosition(left, top, width, height);
  }
  HRESULT HideCursor(LONG hide) override {
    if (hide != OATRUE && hide != OAFALSE) return E_INVALIDARG;
    return Change([&](WindowSettings& settings) {
      settings.cursorHidden = hide;
      return S_OK;
    });
  }
  HRESULT IsCursorHidden(LONG* hidden) override {
    return Read(hidden, [](const WindowSettings& settings) { return settings.cursorHidden; });
  }

  // --- IBasicVideo2 ----------------------------------------------------------

  HRESULT get_AvgTimePerFrame(REFTIME* time) override {
    if (!time) return E_POINTER;
    if (!m_pInputPin->IsConnected()) return VFW_E_NOT_CONNECTED;
    std::lock_guard<std::mutex> hold(presenter_->lock);
    *time = static_cast<double>(frameTime_) / UNITS;
    return S_OK;
  }
  HRESULT get_BitRate(LONG* rate) override {
    if (!rate) return E_POINTER;
    if (!m_pInputPin->IsConnected()) return VFW_E_NOT_CONNECTED;
    std::lock_guard<std::mutex> hold(presenter_->lock);
    *rate = bitRate_;
    return S_OK;
  }
  HRESULT get_BitErrorRate(LONG* rate) override {
    if (!rate) return E_POINTER;
    if (!m_pInputPin->IsConnected()) return VFW_E_NOT_CONNECTED;
    *rate = 0;
    return S_OK;
  }
  HRESULT get_VideoWidth(LONG* width) override {
    LONG height;
    return GetVideoSize(width, &height);
  }
  HRESULT get_VideoHeight(LONG* height) override {
    LONG width;
    return GetVideoSize(&width, height);
  }

  // The single-edge properties move one edge or size of a rectangle and go
  // through the same checks as the whole-rectangle calls.
  HRESULT put_SourceLeft(LONG value) override { return EditSource([&](RECT& r) { Move(r.left, r.right, value); }); }
  HRESULT put_SourceTop(LONG value) override { return EditSource([&](RECT& r) { Move(r.top, r.bottom, value); }); }
  HRESULT put_SourceWidth(LONG value) override { return EditSource([&](RECT& r) { r.right = r.left + value; }); }
  HRESULT put_SourceHeight(LONG value) override { return EditSource([&](RECT& r) { r.bottom = r.top + value; }); }
  HRESULT get_SourceLeft(LONG* value) override { return ReadEdge(value, true, [](const RECT& r) { return r.left; }); }
  HRESULT get_SourceTop(LONG* value) override { return ReadEdge(value, true, [](const RECT& r) { return r.top; }); }
  HRESULT get_SourceWidth(LONG* value) override { return ReadEdge(value, true, Width); }
  HRESULT get_SourceHeight(LONG* value) override { return ReadEdge(value, true, Height); }
  HRESULT put_DestinationLeft(LONG value) override {
    return EditDestination([&](RECT& r) { Move(r.left, r.right, value); });
  }
  HRESULT put_DestinationTop(LONG value) override {
    return EditDestination([&](RECT& r) { Move(r.top, r.bottom, value); });
  }
  HRESULT put_DestinationWidth(LONG value) override {
    return EditDestination([&](RECT& r) { r.right = r.left + value; });
  }
  HRESULT put_DestinationHeight(LONG value) override {
    return EditDestination([&](RECT& r) { r.bottom = r.top + value; });
  }
  HRESULT get_DestinationLeft(LONG* value) override {
    return ReadEdge(value, false, [](const RECT& r) { return r.left; });
  }
  HRESULT get_DestinationTop(LONG* value) override {
    return ReadEdge(value, false, [](const RECT& r) { return r.top; });
  }
  HRESULT get_DestinationWidth(LONG* value) override { return ReadEdge(value, false, Width); }
  HRESULT get_DestinationHeight(LONG* value) override { return ReadEdge(value, false, Height); }

  HRESULT SetSourcePosition(LONG left, LONG top, LONG width, LONG height) override {
    return EditSource([&](RECT& r) { r = RECT{left, top, left + width, top + height}; });
  }
  HRESULT GetSourcePosition(LONG* left, LONG* top, LONG* width, LONG* height) override {
    return ReadRect(left, top, width, height, [](const WindowSettings& settings) { return settings.source; });
  }
  HRESULT SetDefaultSourcePosition() override {
    return Change([&](WindowSettings& settings) {
      const PictureFormat& format = presenter_->format;
      settings.source = RECT{0, 0, format.Width(), format.Height()};
      return S_OK;
    });
  }
  HRESULT SetDestinationPosition(LONG left, LONG top, LONG width, LONG height) override {
    return EditDestination([&](RECT& r) { r = RECT{left, top, left + width, top + height}; });
  }
  HRESULT GetDestinationPosition(LONG* left, LONG* top, LONG* width, LONG* height) override {
    return ReadRect(left, top, width, height, [](const WindowSettings& settings) { return DestinationOf(settings); });
  }
  HRESULT SetDefaultDestinationPosition() override {
    return Change([&](WindowSettings& settings) {
      settings.defaultDestination = true;
      return S_OK;
    });
  }
  HRESULT GetVideoSize(LONG* width, LONG* height) override {
    if (!width || !height) return E_POINTER;
    if (!m_pInputPin->IsConnected()) return VFW_E_NOT_CONNECTED;
    std::lock_guard<std::mutex> hold(presenter_->lock);
    *width = presenter_->format.Width();
    *height = presenter_->format.Height();
    return S_OK;
  }
  HRESULT GetVideoPaletteEntries(LONG, LONG, LONG*, LONG*) override { return VFW_E_NO_PALETTE_AVAILABLE; }

  // The current picture as a packed DIB: a BITMAPINFOHEADER, the colour
  // masks of a bit-field format, then the pixels. A null image asks for the
  // size needed.
  HRESULT GetCurrentImage(LONG* bufferSize, LONG* image) override {
    if (!bufferSize) return E_POINTER;
    if (!m_pInputPin->IsConnected()) return VFW_E_NOT_CONNECTED;
    std::lock_guard<std::mutex> hold(presenter_->lock);
    if (!presenter_->havePicture) return E_UNEXPECTED;
    const PictureFormat& format = presenter_->format;
    BITMAPINFOHEADER header = format.header;
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biSizeImage = static_cast<DWORD>(format.ImageSize());
    std::vector<DWORD> masks;
    if (format.subtype == MEDIASUBTYPE_RGB565) masks = {0xF800, 0x07E0, 0x001F};
    header.biCompression = masks.empty() ? BI_RGB : BI_BITFIELDS;
    size_t needed = sizeof header + masks.size() * sizeof(DWORD) + presenter_->picture.size();
    if (needed > static_cast<size_t>(0x7FFFFFFF)) return E_OUTOFMEMORY;
    if (!image) {
      *bufferSize = static_cast<LONG>(needed);
      return S_OK;
    }
    if (*bufferSize < static_cast<LONG>(needed)) return E_OUTOFMEMORY;
    BYTE* out = reinterpret_cast<BYTE*>(image);
    std::memcpy(out, &header, sizeof header);
    out += sizeof header;
    if (!masks.empty()) std::memcpy(out, masks.data(), masks.size() * sizeof(DWORD));
    out += masks.size() * sizeof(DWORD);
    std::memcpy(out, presenter_->picture.data(), presenter_->picture.size());
    *bufferSize = static_cast<LONG>(needed);
    return S_OK;
  }
  HRESULT IsUsingDefaultSource() override {
    std::lock_guard<std::mutex> hold(presenter_->lock);
    const RECT& source = presenter_->settings.source;
    const PictureFormat& format = presenter_->format;
    return source.left == 0 && source.top == 0 && source.right == format.Width() && source.bottom == format.Height()
               ? S_OK
               : S_FALSE;
  }
  HRESULT IsUsingDefaultDestination() override {
    std::lock_guard<std::mutex> hold(presenter_->lock);
    return presenter_->settings.defaultDestination ? S_OK : S_FALSE;
  }
  HRESULT GetPreferredAspectRatio(LONG* x, LONG* y) override {
    if (!x || !y) return E_POINTER;
    LONG width = 0, height = 0;
    HRESULT result = GetVideoSize(&width, &height);
    if (FAILED(result)) return result;
    std::lock_guard<std::mutex> hold(presenter_->lock);
    const BITMAPINFOHEADER& header = presenter_->format.header;
    // Square pixels unless the format says otherwise.
    double pixelAspect = 1.0;
    if (header.biXPelsPerMeter > 0 && header.biYPelsPerMeter > 0)
      pixelAspect = static_cast<double>(header.biYPelsPerMeter) / header.biXPelsPerMeter;
    LONG aspectX = static_cast<LONG>(std::lround(width * pixelAspect));
    LONG aspectY = height;
    LONG divisor = std::gcd(aspectX, aspectY);
    *x = divisor ? aspectX / divisor : aspectX;
    *y = divisor ? aspectY / divisor : aspectY;
    return S_OK;
  }

  // --- IQualProp -------------------------------------------------------------

  HRESULT get_FramesDroppedInFilter(int* frames) override {
    return Statistic(frames, [](const Statistics& s) { return s.dropped; });
  }
  HRESULT get_FramesDrawn(int* frames) override {
    return Statistic(frames, [](const Statistics& s) { return s.drawn; });
  }
  HRESULT get_AvgFrameRate(int* rate) override {
    return Statistic(rate, [](const Statistics& s) {
      if (s.drawn < 2 || s.lastDrawn <= s.firstDrawn) return 0;
      return static_cast<int>(std::lround((s.drawn - 1) * 100.0 * UNITS / (s.lastDrawn - s.firstDrawn)));
    });
  }
  HRESULT get_Jitter(int* jitter) override {
    return Statistic(jitter, [](const Statistics& s) {
      return s.drawn > 2 ? static_cast<int>(std::lround(s.sumJitter / (s.drawn - 2))) : 0;
    });
  }
  HRESULT get_AvgSyncOffset(int* offset) override {
    return Statistic(offset, [](const Statistics& s) {
      return s.drawn ? static_cast<int>(std::lround(s.sumOffset / s.drawn)) : 0;
    });
  }
  HRESULT get_DevSyncOffset(int* deviation) override {
    return Statistic(deviation, [](const Statistics& s) {
      if (s.drawn < 2) return 0;
      double mean = s.sumOffset / s.drawn;
      double variance = std::max(0.0, s.sumOffsetSquares / s.drawn - mean * mean);
      return static_cast<int>(std::lround(std::sqrt(variance)));
    });
  }

 private:
  static void Move(LONG& low, LONG& high, LONG value) {
    LONG size = high - low;
    low = value;
    high = value + size;
  }

  static RECT DestinationOf(const WindowSettings& settings) {
    if (settings.defaultDestination) return RECT{0, 0, Width(settings.position), Height(settings.position)};
    return settings.destination;
  }

  // Applies a change to the settings (the change answers the result) and
  // has the window follow.
  template <typename Edit>
  HRESULT Change(Edit edit) {
    HRESULT result;
    {
      std::lock_guard<std::mutex> hold(presenter_->lock);
      result = edit(presenter_->settings);
    }
    if (SUCCEEDED(result)) presenter_->RequestSync();
    return result;
  }

  // The source must be a non-empty part of the picture.
  template <typename Edit>
  HRESULT EditSource(Edit edit) {
    return Change([&](WindowSettings& settings) {
      RECT source = settings.source;
      edit(source);
      const PictureFormat& format = presenter_->format;
      if (Width(source) <= 0 || Height(source) <= 0 || source.left < 0 || source.top < 0 ||
          source.right > format.Width() || source.bottom > format.Height())
        return E_INVALIDARG;
      settings.source = source;
      return S_OK;
    });
  }

  // The destination must have a size; it may reach outside the window.
  template <typename Edit>
  HRESULT EditDestination(Edit edit) {
    return Change([&](WindowSettings& settings) {
      RECT destination = DestinationOf(settings);
      edit(destination);
      if (Width(destination) <= 0 || Height(destination) <= 0) return E_INVALIDARG;
      settings.destination = destination;
      settings.defaultDestination = false;
      return S_OK;
    });
  }

  template <typename Value, typename Get>
  HRESULT Read(Value* value, Get get) {
    if (!value) return E_POINTER;
    std::lock_guard<std::mutex> hold(presenter_->lock);
    *value = static_cast<Value>(get(presenter_->settings));
    return S_OK;
  }

  template <typename Get>
  HRESULT ReadRect(LONG* left, LONG* top, LONG* width, LONG* height, Get get) {
    if (!left || !top || !width || !height) return E_POINTER;
    std::lock_guard<std::mutex> hold(presenter_->lock);
    RECT rect = get(presenter_->settings);
    *left = rect.left;
    *top = rect.top;
    *width = Width(rect);
    *height = Height(rect);
    return S_OK;
  }

  template <typename Get>
  HRESULT ReadEdge(LONG* value, bool source, Get get) {
    if (!value) return E_POINTER;
    std::lock_guard<std::mutex> hold(presenter_->lock);
    *value = get(source ? presenter_->settings.source : DestinationOf(presenter_->settings));
    return S_OK;
  }

  template <typename Get>
  HRESULT Statistic(int* value, Get get) {
    if (!value) return E_POINTER;
    std::lock_guard<std::mutex> hold(statistics_.lock);
    *value = get(statistics_);
    return S_OK;
  }

  std::shared_ptr<VideoPresenter> presenter_;
  REFERENCE_TIME frameTime_ = 0;  // under presenter_->lock
  LONG bitRate_ = 0;
  Statistics statistics_;
};

const bool kRegistered = [] {
  reel::RegisterBuiltinClass(CLSID_VideoRenderer, &reel::CreateComObject<CVideoRenderer>);
  reel::RegisterBuiltinClass(CLSID_VideoRendererDefault, &reel::CreateComObject<CVideoRenderer>);

  reel::RegisteredFilter video;
  video.clsid = CLSID_VideoRenderer;
  video.name = u"Video Renderer";
  video.merit = MERIT_PREFERRED;
  video.pins = {{u"Input", false, true, false, false,
                 {{MEDIATYPE_Video, MEDIASUBTYPE_RGB32},
                  {MEDIATYPE_Video, MEDIASUBTYPE_RGB24},
                  {MEDIATYPE_Video, MEDIASUBTYPE_RGB565},
                  {MEDIATYPE_Video, MEDIASUBTYPE_RGB555}}}};
  return reel::RegisterBuiltinFilter(video);
}();

}  // namespace
