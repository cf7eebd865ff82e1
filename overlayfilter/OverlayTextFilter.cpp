#include "overlayfilter/OverlayTextFilter.h"

#include <cstdlib>

#include "platform/win/Strings.h"

namespace reel::overlay {

namespace {

// Larger frames are refused, so that row and frame sizes stay far from
// overflowing.
constexpr LONG kMaximumDimension = 16384;

// The frame layout of an accepted type; false for anything else.
bool FormatOf(const AM_MEDIA_TYPE& type, FrameFormat* format) {
  if (type.majortype != MEDIATYPE_Video || type.formattype != FORMAT_VideoInfo) return false;
  int bitCount = 0;
  if (type.subtype == MEDIASUBTYPE_RGB24) bitCount = 24;
  else if (type.subtype == MEDIASUBTYPE_RGB32) bitCount = 32;
  else return false;
  const VIDEOINFOHEADER* info = reel::VideoInfoOf(type);
  if (!info) return false;
  const BITMAPINFOHEADER& header = info->bmiHeader;
  if (header.biBitCount != bitCount) return false;
  if (header.biCompression != BI_RGB && !(bitCount == 32 && header.biCompression == BI_BITFIELDS)) return false;
  if (header.biWidth <= 0 || header.biWidth > kMaximumDimension || header.biHeight == 0 ||
      std::labs(header.biHeight) > kMaximumDimension)
    return false;
  format->width = header.biWidth;
  format->height = header.biHeight;
  format->bitCount = bitCount;
  return true;
}

}  // namespace

COverlayTextFilter::COverlayTextFilter(LPUNKNOWN outer)
    : CTransInPlaceFilter("Quolrix Overlay Text Filter", outer, CLSID_OverlayTextFilter) {}

HRESULT COverlayTextFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IOverlayTextSettings) return GetInterface(static_cast<IOverlayTextSettings*>(this), ppv);
  return CTransInPlaceFilter::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT COverlayTextFilter::CheckInputType(const CMediaType* mediaType) {
  FrameFormat format;
  if (!mediaType || !FormatOf(*mediaType, &format)) return VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

HRESULT COverlayTextFilter::Transform(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  // The frame layout comes from the type the input pin carries now, which
  // is the connected type or a type change accepted inside the stream: a
  // type that was only asked about never changes it.
  FrameFormat format;
  const bool known = m_pInput && m_pInput->IsConnected() && FormatOf(m_pInput->CurrentMediaType(), &format);
  BYTE* data = nullptr;
  if (FAILED(sample->GetPointer(&data)) || !data) return E_POINTER;
  LONG length = sample->GetActualDataLength();
  if (length < 0) length = 0;
  REFERENCE_TIME start = 0, stop = 0;
  const bool timed = SUCCEEDED(sample->GetTime(&start, &stop));
  return painter_.DrawFrame(settings_, known ? &format : nullptr, data, static_cast<std::size_t>(length),
                            timed ? &start : nullptr);
}

HRESULT COverlayTextFilter::SetFont(const WCHAR* name, int size, int style) {
  if (!name) return E_POINTER;
  settings_.SetFont(Utf16ToUtf8(name), size, style);
  return S_OK;
}

HRESULT COverlayTextFilter::SetScrollDirection(int direction) {
  settings_.scrollDirection = direction;
  return S_OK;
}

HRESULT COverlayTextFilter::SetScrollSpeed(int pixelsPerFrame) {
  settings_.scrollSpeed = pixelsPerFrame;
  return S_OK;
}

HRESULT COverlayTextFilter::SetMotionMode(int mode) {
  settings_.motionMode = mode;
  return S_OK;
}

HRESULT COverlayTextFilter::SetShadow(int on) {
  CAutoLock hold(&settings_.lock);
  settings_.shadow = on;
  return S_OK;
}

HRESULT COverlayTextFilter::SetTextColor(int red, int green, int blue, int alpha) {
  CAutoLock hold(&settings_.lock);
  settings_.textColour = PackColour(red, green, blue, alpha);
  return S_OK;
}

HRESULT COverlayTextFilter::SetBackgroundColor(int red, int green, int blue, int alpha) {
  CAutoLock hold(&settings_.lock);
  settings_.backgroundColour = PackColour(red, green, blue, alpha);
  return S_OK;
}

HRESULT COverlayTextFilter::AddImage(const WCHAR* path, int x, int y, int keyRed, int keyGreen, int keyBlue,
                                     double start, double end, BOOL fade) {
  if (!path) return E_POINTER;
  OverlayItem item;
  item.kind = kImageItem;
  item.imagePath = Utf16ToUtf8(path);
  item.imageX = x;
  item.imageY = y;
  item.keyRed = keyRed;
  item.keyGreen = keyGreen;
  item.keyBlue = keyBlue;
  item.start = start;
  item.end = end;
  item.fade = (fade & 0xFF) != 0;  // kept as one byte
  return settings_.AddItem(std::move(item)) >= 0 ? S_OK : E_OUTOFMEMORY;
}

HRESULT COverlayTextFilter::AddText(const WCHAR* text, int x, int y, double start, double end, BOOL fade) {
  if (!text) return E_POINTER;
  OverlayItem item;
  item.kind = kTextItem;
  item.text = Utf16ToUtf8(text);
  item.stackedText = StackedText(item.text);
  item.textX = x;
  item.textY = y;
  item.start = start;
  item.end = end;
  item.fade = (fade & 0xFF) != 0;
  int id = settings_.AddItem(std::move(item));
  return id >= 0 ? static_cast<HRESULT>(id) : E_OUTOFMEMORY;
}

HRESULT COverlayTextFilter::RemoveItem(int id) {
  settings_.RemoveItem(id);
  return S_OK;
}

HRESULT CreateOverlayTextFilter(IUnknown* outer, REFIID riid, void** ppv) {
  return CreateComObject<COverlayTextFilter>(outer, riid, ppv);
}

}  // namespace reel::overlay
