// The resizer (CLSID_Resize): uncompressed video in, the same pictures out
// at another size. IResize sets the size and how a picture of another shape
// fits it: stretched, cropped around its centre without scaling, scaled to
// fit inside with black bars, or scaled to fill with the excess cut off.
#pragma once

#include "platform/dshow/DShowInterfaces.h"

REEL_DEFINE_GUID(CLSID_Resize, 0x7F1E6A40, 0x2C5B, 0x4E8A, 0xB1, 0x64, 0x5D, 0x0C, 0x9A, 0x3E, 0x21, 0x7B);
REEL_DEFINE_GUID(IID_IResize, 0x4ADA63A0, 0x72D5, 0x11D2, 0x95, 0x2A, 0x00, 0x60, 0x08, 0x18, 0x40, 0xBC);

// How a picture fits an output of another shape.
constexpr long RESIZEF_STRETCH = 0;
constexpr long RESIZEF_CROP = 1;
constexpr long RESIZEF_PRESERVEASPECTRATIO = 2;
constexpr long RESIZEF_PRESERVEASPECTRATIO_NOLETTERBOX = 3;

struct IResize : IUnknown {
  STDMETHOD(get_Size)(int* height, int* width, long* flag) = 0;
  // The connected input's picture size.
  STDMETHOD(get_InputSize)(int* height, int* width) = 0;
  // Only while the output is not connected; sizes 1 to 16384.
  STDMETHOD(put_Size)(int height, int width, long flag) = 0;
  STDMETHOD(get_MediaType)(AM_MEDIA_TYPE* mediaType) = 0;
  // An uncompressed video type: the output's subtype and size.
  STDMETHOD(put_MediaType)(const AM_MEDIA_TYPE* mediaType) = 0;
};

template <>
inline constexpr const IID& reel::kIidOf<IResize> = IID_IResize;

namespace reel {

struct PixelRect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  bool operator==(const PixelRect&) const = default;
};

// Which part of the input goes to which part of the output.
struct ResizePlan {
  PixelRect source;
  PixelRect target;
  bool letterboxed = false;  // the output has bars outside the target
};

// The plan for a mode; `even` keeps every edge on an even pixel, as
// chroma-subsampled layouts need.
ResizePlan PlanResize(int inputWidth, int inputHeight, int outputWidth, int outputHeight, long flag, bool even);

}  // namespace reel
