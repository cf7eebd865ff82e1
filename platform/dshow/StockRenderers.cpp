// The stock renderers. The Null Renderer takes anything and drops it. The
// video renderer takes uncompressed RGB, keeps the last picture and answers
// IVideoWindow and IBasicVideo2 with its window settings; the audio renderer
// takes PCM and answers IBasicAudio. Neither shows or plays anything yet:
// they keep time against the graph's clock, which is what graphs rely on.
#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/com/ClassTable.h"
#include "platform/dshow/BaseRenderer.h"
#include "platform/dshow/DShowControl.h"
#include "platform/dshow/FilterRegistry.h"
#include "platform/dshow/StockFilters.h"

namespace {

// IDispatch of the automation interfaces: they are called through their
// vtables; there is no type information.
#define REEL_NO_TYPE_INFO                                                                            \
  HRESULT GetTypeInfoCount(UINT* count) override {                                                  \
    if (!count) return E_POINTER;                                                                   \
    *count = 0;                                                                                     \
    return S_OK;                                                                                    \
  }                                                                                                 \
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** info) override {                                      \
    if (info) *info = nullptr;                                                                      \
    return E_NOTIMPL;                                                                               \
  }                                                                                                 \
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }      \
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {   \
    return E_NOTIMPL;                                                                               \
  }

class CNullRenderer : public CBaseRenderer {
 public:
  explicit CNullRenderer(LPUNKNOWN outer) : CBaseRenderer(CLSID_NullRenderer, "null renderer", outer, nullptr, u"In") {}
  HRESULT CheckMediaType(const CMediaType* mediaType) override {
    return mediaType->majortype != GUID_NULL ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT DoRenderSample(IMediaSample*) override { return S_OK; }
};

// ---------------------------------------------------------------------------

class CVideoRenderer : public CBaseRenderer, public IVideoWindow, public IBasicVideo2 {
 public:
  explicit CVideoRenderer(LPUNKNOWN outer)
      : CBaseRenderer(CLSID_VideoRenderer, "video renderer", outer, nullptr, u"Input") {}

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IVideoWindow) return GetInterface(static_cast<IVideoWindow*>(this), ppv);
    if (riid == IID_IBasicVideo) return GetInterface(static_cast<IBasicVideo*>(this), ppv);
    if (riid == IID_IBasicVideo2) return GetInterface(static_cast<IBasicVideo2*>(this), ppv);
    return CBaseRenderer::NonDelegatingQueryInterface(riid, ppv);
  }

  HRESULT CheckMediaType(const CMediaType* mediaType) override {
    if (mediaType->majortype != MEDIATYPE_Video) return VFW_E_TYPE_NOT_ACCEPTED;
    const GUID* accepted[] = {&MEDIASUBTYPE_RGB32, &MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_RGB565, &MEDIASUBTYPE_RGB555};
    bool rgb = std::any_of(std::begin(accepted), std::end(accepted),
                           [&](const GUID* subtype) { return *subtype == mediaType->subtype; });
    return rgb && reel::BitmapHeaderOf(*mediaType) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }

  HRESULT SetMediaType(const CMediaType* mediaType) override {
    std::lock_guard<std::mutex> hold(settings_);
    const BITMAPINFOHEADER* header = reel::BitmapHeaderOf(*mediaType);
    header_ = *header;
    const VIDEOINFOHEADER* info = reel::VideoInfoOf(*mediaType);
    frameTime_ = info ? info->AvgTimePerFrame : 0;
    bitRate_ = info ? static_cast<LONG>(info->dwBitRate) : 0;
    LONG height = std::abs(header->biHeight);
    source_ = RECT{0, 0, header->biWidth, height};
    destination_ = source_;
    if (width_ == 0) {
      width_ = header->biWidth;
      height_ = height;
    }
    return S_OK;
  }

  HRESULT DoRenderSample(IMediaSample* sample) override {
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    std::lock_guard<std::mutex> hold(settings_);
    lastPicture_.assign(data, data + sample->GetActualDataLength());
    return S_OK;
  }

  REEL_NO_TYPE_INFO

  // IVideoWindow: the window's settings as the owner sets them.
  HRESULT put_Caption(BSTR caption) override {
    std::lock_guard<std::mutex> hold(settings_);
    caption_ = caption ? std::u16string(caption) : std::u16string();
    return S_OK;
  }
  HRESULT get_Caption(BSTR* caption) override {
    if (!caption) return E_POINTER;
    std::lock_guard<std::mutex> hold(settings_);
    *caption = SysAllocString(caption_.c_str());
    return *caption ? S_OK : E_OUTOFMEMORY;
  }
#define REEL_LONG_PROPERTY(Name, field)                   \
  HRESULT put_##Name(LONG value) override {               \
    std::lock_guard<std::mutex> hold(settings_);          \
    field = value;                                        \
    return S_OK;                                          \
  }                                                       \
  HRESULT get_##Name(LONG* value) override {              \
    if (!value) return E_POINTER;                         \
    std::lock_guard<std::mutex> hold(settings_);          \
    *value = field;                                       \
    return S_OK;                                          \
  }
  REEL_LONG_PROPERTY(WindowStyle, style_)
  REEL_LONG_PROPERTY(WindowStyleEx, styleEx_)
  REEL_LONG_PROPERTY(AutoShow, autoShow_)
  REEL_LONG_PROPERTY(WindowState, windowState_)
  REEL_LONG_PROPERTY(BackgroundPalette, backgroundPalette_)
  REEL_LONG_PROPERTY(Visible, visible_)
  REEL_LONG_PROPERTY(Left, left_)
  REEL_LONG_PROPERTY(Width, width_)
  REEL_LONG_PROPERTY(Top, top_)
  REEL_LONG_PROPERTY(Height, height_)
  REEL_LONG_PROPERTY(BorderColor, borderColor_)
  HRESULT put_Owner(OAHWND owner) override {
    std::lock_guard<std::mutex> hold(settings_);
    owner_ = owner;
    return S_OK;
  }
  HRESULT get_Owner(OAHWND* owner) override {
    if (!owner) return E_POINTER;
    std::lock_guard<std::mutex> hold(settings_);
    *owner = owner_;
    return S_OK;
  }
  HRESULT put_MessageDrain(OAHWND drain) override {
    std::lock_guard<std::mutex> hold(settings_);
    drain_ = drain;
    return S_OK;
  }
  HRESULT get_MessageDrain(OAHWND* drain) override {
    if (!drain) return E_POINTER;
    std::lock_guard<std::mutex> hold(settings_);
    *drain = drain_;
    return S_OK;
  }
  HRESULT get_FullScreenMode(LONG* fullScreen) override {
    if (!fullScreen) return E_POINTER;
    std::lock_guard<std::mutex> hold(settings_);
    *fullScreen = fullScreen_;
    return S_OK;
  }
  HRESULT put_FullScreenMode(LONG fullScreen) override {
    std::lock_guard<std::mutex> hold(settings_);
    fullScreen_ = fullScreen ? OATRUE : OAFALSE;
    return S_OK;
  }
  HRESULT SetWindowForeground(LONG) override { return S_OK; }
  HRESULT NotifyOwnerMessage(OAHWND, LONG, LONG_PTR, LONG_PTR) override { return S_OK; }
  HRESULT SetWindowPosition(LONG left, LONG top, LONG width, LONG height) override {
    if (width < 0 || height < 0) return E_INVALIDARG;
    std::lock_guard<std::mutex> hold(settings_);
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    return S_OK;
  }
  HRESULT GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) override {
    if (!left || !top || !width || !height) return E_POINTER;
    std::lock_guard<std::mutex> hold(settings_);
    *left = left_;
    *top = top_;
    *width = width_;
    *height = height_;
    return S_OK;
  }
  HRESULT GetMinIdealImageSize(LONG* width, LONG* height) override { return GetVideoSize(width, height); }
  HRESULT GetMaxIdealImageSize(LONG* width, LONG* height) override { return GetVideoSize(width, height); }
  HRESULT GetRestorePosition(LONG* left, LONG* top, LONG* width, LONG* height) override {
    return GetWindowPosition(left, top, width, height);
  }
  HRESULT HideCursor(LONG hide) override {
    std::lock_guard<std::mutex> hold(settings_);
    cursorHidden_ = hide ? OATRUE : OAFALSE;
    return S_OK;
  }
  HRESULT IsCursorHidden(LONG* hidden) override {
    if (!hidden) return E_POINTER;
    std::lock_guard<std::mutex> hold(settings_);
    *hidden = cursorHidden_;
    return S_OK;
  }

  // IBasicVideo2: the connected picture and its source and target rectangles.
  HRESULT get_AvgTimePerFrame(REFTIME* time) override {
    if (!time) return E_POINTER;
    if (!m_pInputPin->IsConnected()) return VFW_E_NOT_CONNECTED;
    std::lock_guard<std::mutex> hold(settings_);
    *time = static_cast<double>(frameTime_) / UNITS;
    return S_OK;
  }
  HRESULT get_BitRate(LONG* rate) override {
    if (!rate) return E_POINTER;
    std::lock_guard<std::mutex> hold(settings_);
    *rate = bitRate_;
    return S_OK;
  }
  HRESULT get_BitErrorRate(LONG* rate) override {
    if (!rate) return E_POINTER;
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
#define REEL_RECT_PROPERTY(Name, rect, Edge)              \
  HRESULT put_##Name(LONG value) override {               \
    std::lock_guard<std::mutex> hold(settings_);          \
    Set##Edge(rect, value);                               \
    return S_OK;                                          \
  }                                                       \
  HRESULT get_##Name(LONG* value) override {              \
    if (!value) return E_POINTER;                         \
    std::lock_guard<std::mutex> hold(settings_);          \
    *value = Get##Edge(rect);                             \
    return S_OK;                                          \
  }
  REEL_RECT_PROPERTY(SourceLeft, source_, Left)
  REEL_RECT_PROPERTY(SourceWidth, source_, Width)
  REEL_RECT_PROPERTY(SourceTop, source_, Top)
  REEL_RECT_PROPERTY(SourceHeight, source_, Height)
  REEL_RECT_PROPERTY(DestinationLeft, destination_, Left)
  REEL_RECT_PROPERTY(DestinationWidth, destination_, Width)
  REEL_RECT_PROPERTY(DestinationTop, destination_, Top)
  REEL_RECT_PROPERTY(DestinationHeight, destination_, Height)
#undef REEL_RECT_PROPERTY
#undef REEL_LONG_PROPERTY
  HRESULT SetSourcePosition(LONG left, LONG top, LONG width, LONG height) override {
    if (width <= 0 || height <= 0) return E_INVALIDARG;
    std::lock_guard<std::mutex> hold(settings_);
    source_ = RECT{left, top, left + width, top + height};
    return S_OK;
  }
  HRESULT GetSourcePosition(LONG* left, LONG* top, LONG* width, LONG* height) override {
    return GetRect(source_, left, top, width, height);
  }
  HRESULT SetDefaultSourcePosition() override {
    std::lock_guard<std::mutex> hold(settings_);
    source_ = RECT{0, 0, header_.biWidth, std::abs(header_.biHeight)};
    return S_OK;
  }
  HRESULT SetDestinationPosition(LONG left, LONG top, LONG width, LONG height) override {
    if (width <= 0 || height <= 0) return E_INVALIDARG;
    std::lock_guard<std::mutex> hold(settings_);
    destination_ = RECT{left, top, left + width, top + height};
    return S_OK;
  }
  HRESULT GetDestinationPosition(LONG* left, LONG* top, LONG* width, LONG* height) override {
    return GetRect(destination_, left, top, width, height);
  }
  HRESULT SetDefaultDestinationPosition() override {
    std::lock_guard<std::mutex> hold(settings_);
    destination_ = RECT{0, 0, width_, height_};
    return S_OK;
  }
  HRESULT GetVideoSize(LONG* width, LONG* height) override {
    if (!width || !height) return E_POINTER;
    if (!m_pInputPin->IsConnected()) return VFW_E_NOT_CONNECTED;
    std::lock_guard<std::mutex> hold(settings_);
    *width = header_.biWidth;
    *height = std::abs(header_.biHeight);
    return S_OK;
  }
  HRESULT GetVideoPaletteEntries(LONG, LONG, LONG*, LONG*) override { return VFW_E_NO_PALETTE_AVAILABLE; }
  // The last picture shown: a BITMAPINFOHEADER followed by the pixels; a
  // null image asks for the size needed.
  HRESULT GetCurrentImage(LONG* bufferSize, LONG* image) override {
    if (!bufferSize) return E_POINTER;
    std::lock_guard<std::mutex> hold(settings_);
    if (lastPicture_.empty()) return E_UNEXPECTED;
    LONG needed = static_cast<LONG>(sizeof(BITMAPINFOHEADER) + lastPicture_.size());
    if (!image) {
      *bufferSize = needed;
      return S_OK;
    }
    if (*bufferSize < needed) return E_OUTOFMEMORY;
    BITMAPINFOHEADER header = header_;
    header.biSize = sizeof(BITMAPINFOHEADER);
    std::memcpy(image, &header, sizeof header);
    std::memcpy(reinterpret_cast<BYTE*>(image) + sizeof header, lastPicture_.data(), lastPicture_.size());
    *bufferSize = needed;
    return S_OK;
  }
  HRESULT IsUsingDefaultSource() override {
    std::lock_guard<std::mutex> hold(settings_);
    return source_.left == 0 && source_.top == 0 && source_.right == header_.biWidth &&
                   source_.bottom == std::abs(header_.biHeight)
               ? S_OK
               : S_FALSE;
  }
  HRESULT IsUsingDefaultDestination() override {
    std::lock_guard<std::mutex> hold(settings_);
    return destination_.left == 0 && destination_.top == 0 && destination_.right == width_ &&
                   destination_.bottom == height_
               ? S_OK
               : S_FALSE;
  }
  HRESULT GetPreferredAspectRatio(LONG* x, LONG* y) override { return GetVideoSize(x, y); }

 private:
  static void SetLeft(RECT& rect, LONG value) {
    LONG width = rect.right - rect.left;
    rect.left = value;
    rect.right = value + width;
  }
  static void SetTop(RECT& rect, LONG value) {
    LONG height = rect.bottom - rect.top;
    rect.top = value;
    rect.bottom = value + height;
  }
  static void SetWidth(RECT& rect, LONG value) { rect.right = rect.left + value; }
  static void SetHeight(RECT& rect, LONG value) { rect.bottom = rect.top + value; }
  static LONG GetLeft(const RECT& rect) { return rect.left; }
  static LONG GetTop(const RECT& rect) { return rect.top; }
  static LONG GetWidth(const RECT& rect) { return rect.right - rect.left; }
  static LONG GetHeight(const RECT& rect) { return rect.bottom - rect.top; }
  HRESULT GetRect(const RECT& rect, LONG* left, LONG* top, LONG* width, LONG* height) {
    if (!left || !top || !width || !height) return E_POINTER;
    std::lock_guard<std::mutex> hold(settings_);
    *left = rect.left;
    *top = rect.top;
    *width = rect.right - rect.left;
    *height = rect.bottom - rect.top;
    return S_OK;
  }

  std::mutex settings_;
  BITMAPINFOHEADER header_{};
  REFERENCE_TIME frameTime_ = 0;
  LONG bitRate_ = 0;
  std::vector<BYTE> lastPicture_;
  std::u16string caption_ = u"ActiveMovie Window";
  LONG style_ = 0x06CF0000;  // WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_CLIPSIBLINGS
  LONG styleEx_ = 0;
  LONG autoShow_ = OATRUE;
  LONG windowState_ = 0;
  LONG backgroundPalette_ = OAFALSE;
  LONG visible_ = OAFALSE;
  LONG left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  LONG borderColor_ = 0;
  OAHWND owner_ = 0;
  OAHWND drain_ = 0;
  LONG fullScreen_ = OAFALSE;
  LONG cursorHidden_ = OAFALSE;
  RECT source_{}, destination_{};
};

// ---------------------------------------------------------------------------

class CAudioRenderer : public CBaseRenderer, public IBasicAudio {
 public:
  explicit CAudioRenderer(LPUNKNOWN outer)
      : CBaseRenderer(CLSID_AudioRender, "audio renderer", outer, nullptr, u"Audio Input pin (rendered)") {}

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IBasicAudio) return GetInterface(static_cast<IBasicAudio*>(this), ppv);
    return CBaseRenderer::NonDelegatingQueryInterface(riid, ppv);
  }

  HRESULT CheckMediaType(const CMediaType* mediaType) override {
    if (mediaType->majortype != MEDIATYPE_Audio || mediaType->subtype != MEDIASUBTYPE_PCM) return VFW_E_TYPE_NOT_ACCEPTED;
    const WAVEFORMATEX* wave = reel::WaveFormatOf(*mediaType);
    if (!wave || wave->nChannels == 0 || wave->nSamplesPerSec == 0) return VFW_E_TYPE_NOT_ACCEPTED;
    return (wave->wBitsPerSample == 8 || wave->wBitsPerSample == 16) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT DoRenderSample(IMediaSample*) override { return S_OK; }

  REEL_NO_TYPE_INFO

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

 private:
  std::atomic<LONG> volume_{0};
  std::atomic<LONG> balance_{0};
};

#undef REEL_NO_TYPE_INFO

const bool kRegistered = [] {
  reel::RegisterBuiltinClass(CLSID_NullRenderer, &reel::CreateComObject<CNullRenderer>);
  reel::RegisterBuiltinClass(CLSID_VideoRenderer, &reel::CreateComObject<CVideoRenderer>);
  reel::RegisterBuiltinClass(CLSID_VideoRendererDefault, &reel::CreateComObject<CVideoRenderer>);
  reel::RegisterBuiltinClass(CLSID_AudioRender, &reel::CreateComObject<CAudioRenderer>);
  reel::RegisterBuiltinClass(CLSID_DSoundRender, &reel::CreateComObject<CAudioRenderer>);

  reel::RegisteredFilter null;
  null.clsid = CLSID_NullRenderer;
  null.name = u"Null Renderer";
  null.merit = MERIT_DO_NOT_USE;
  null.pins = {{u"In", false, true, false, false, {{GUID_NULL, GUID_NULL}}}};
  reel::RegisterBuiltinFilter(null);

  reel::RegisteredFilter video;
  video.clsid = CLSID_VideoRenderer;
  video.name = u"Video Renderer";
  video.merit = MERIT_PREFERRED;
  video.pins = {{u"Input", false, true, false, false,
                 {{MEDIATYPE_Video, MEDIASUBTYPE_RGB32},
                  {MEDIATYPE_Video, MEDIASUBTYPE_RGB24},
                  {MEDIATYPE_Video, MEDIASUBTYPE_RGB565},
                  {MEDIATYPE_Video, MEDIASUBTYPE_RGB555}}}};
  reel::RegisterBuiltinFilter(video);

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
