// The overlay text filter's identity and its settings interface, as the
// editing control sees them: it creates the filter by class identifier and
// configures it once through IOverlayTextSettings before the graph runs.
#pragma once

#include "platform/com/Unknown.h"
#include "platform/win/WinTypes.h"

// "Quolrix Overlay Text Filter"
REEL_DEFINE_GUID(CLSID_OverlayTextFilter, 0x44B60421, 0x1F80, 0x4CCC, 0xAC, 0x00, 0x16, 0x90, 0xE5, 0x02, 0x68, 0xD5);
REEL_DEFINE_GUID(IID_IOverlayTextSettings, 0xAC38385C, 0xC137, 0x422C, 0x85, 0x08, 0x69, 0xC9, 0x6A, 0x33, 0x51, 0xEB);

// Colours are given as separate channels of which only the low byte counts.
// Times are seconds of stream time (sample start times); positions are
// pixels from the top-left corner of the frame. Every method returns S_OK
// except AddText, which returns the new item's id (a non-negative value,
// so SUCCEEDED holds), and the failures E_POINTER for a null string and
// E_OUTOFMEMORY.
struct IOverlayTextSettings : IUnknown {
  // Family name ("Arial"), em size in pixels, style bits (1 bold, 2 italic,
  // 4 underline, 8 strikeout). A family that does not exist leaves text
  // items undrawn until another font is set.
  STDMETHOD(SetFont)(const WCHAR* name, int size, int style) = 0;
  // 0 up, 1 down, 2 left, 3 right.
  STDMETHOD(SetScrollDirection)(int direction) = 0;
  STDMETHOD(SetScrollSpeed)(int pixelsPerFrame) = 0;
  // 0 draws nothing, 1 scrolls, any other value keeps text in place.
  STDMETHOD(SetMotionMode)(int mode) = 0;
  // 1 draws a drop shadow under text; any other value none.
  STDMETHOD(SetShadow)(int on) = 0;
  STDMETHOD(SetTextColor)(int red, int green, int blue, int alpha) = 0;
  // Fill of the box behind text; its alpha is the shadow's alpha too.
  STDMETHOD(SetBackgroundColor)(int red, int green, int blue, int alpha) = 0;
  // A picture drawn unscaled at (x, y); pixels of the key colour are
  // transparent, all others opaque (fading when fade is set).
  STDMETHOD(AddImage)(const WCHAR* path, int x, int y, int keyRed, int keyGreen, int keyBlue, double start,
                      double end, BOOL fade) = 0;
  STDMETHOD(AddText)(const WCHAR* text, int x, int y, double start, double end, BOOL fade) = 0;
  STDMETHOD(RemoveItem)(int id) = 0;
};

namespace reel {
template <>
inline constexpr const IID& kIidOf<IOverlayTextSettings> = IID_IOverlayTextSettings;
}  // namespace reel
