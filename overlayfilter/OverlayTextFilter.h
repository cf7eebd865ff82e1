// COverlayTextFilter, "Quolrix Overlay Text Filter": an in-place transform
// for uncompressed RGB24 and RGB32 video that draws timed text and
// colour-keyed pictures into the passing frames. The editing control
// configures it once through IOverlayTextSettings before the graph runs.
#pragma once

#include "interfaces/OverlayTextSettings.h"
#include "overlayfilter/OverlayDrawing.h"
#include "overlayfilter/OverlaySettings.h"
#include "platform/dshow/TransformFilter.h"

namespace reel::overlay {

class COverlayTextFilter : public CTransInPlaceFilter, public IOverlayTextSettings {
 public:
  explicit COverlayTextFilter(LPUNKNOWN outer);

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // Only MEDIATYPE_Video with RGB24 or RGB32 in a VIDEOINFOHEADER.
  HRESULT CheckInputType(const CMediaType* mediaType) override;
  HRESULT Transform(IMediaSample* sample) override;

  // IOverlayTextSettings
  HRESULT SetFont(const WCHAR* name, int size, int style) override;
  HRESULT SetScrollDirection(int direction) override;
  HRESULT SetScrollSpeed(int pixelsPerFrame) override;
  HRESULT SetMotionMode(int mode) override;
  HRESULT SetShadow(int on) override;
  HRESULT SetTextColor(int red, int green, int blue, int alpha) override;
  HRESULT SetBackgroundColor(int red, int green, int blue, int alpha) override;
  HRESULT AddImage(const WCHAR* path, int x, int y, int keyRed, int keyGreen, int keyBlue, double start,
                   double end, BOOL fade) override;
  HRESULT AddText(const WCHAR* text, int x, int y, double start, double end, BOOL fade) override;
  HRESULT RemoveItem(int id) override;

 private:
  OverlaySettings settings_;
  OverlayPainter painter_;  // used on the streaming thread only
};

// The create function of the filter's class factory.
HRESULT CreateOverlayTextFilter(IUnknown* outer, REFIID riid, void** ppv);

}  // namespace reel::overlay
