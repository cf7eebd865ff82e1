// Uncompressed RGB pictures laid out as Windows DIBs (rows padded to 4
// bytes, blue-green-red byte order, bottom-up when the header's height is
// positive) and the blending of overlays into them. Overlay coordinates
// always count from the top-left corner of the picture, whatever the row
// order in memory.
#pragma once

#include <cstddef>
#include <cstdint>

namespace reel {

// Bytes from one DIB row to the next.
std::size_t DibStride(int width, int bitCount);

// A view of a 24- or 32-bit picture in memory that the caller owns. Rows
// that do not lie wholly within `size` bytes are never touched, so a short
// buffer is drawn only as far as it reaches.
struct DibView {
  std::uint8_t* bits = nullptr;
  std::size_t size = 0;
  int width = 0;
  int height = 0;  // always positive; bottomUp gives the row order
  int bytesPerPixel = 3;
  bool bottomUp = true;

  std::size_t Stride() const { return DibStride(width, bytesPerPixel * 8); }
  // Row y counted from the top; null when it lies outside the buffer.
  std::uint8_t* Row(int y) const;
};

// Composites a layer of premultiplied ARGB pixels (one 32-bit native-endian
// word per pixel, alpha in the top byte: cairo's ARGB32) with its top-left
// corner at (x, y) of the picture, "source over". Parts outside the
// picture are clipped.
void BlendPremultiplied(const DibView& picture, const std::uint32_t* layer, std::size_t layerStride, int layerWidth,
                        int layerHeight, int x, int y);

// Composites a picture of straight-alpha RGBA bytes with its top-left corner
// at (x, y); each pixel's weight is its own alpha scaled by `opacity`
// (0..255). Parts outside the picture are clipped.
void BlendStraightRgba(const DibView& picture, const std::uint8_t* rgba, std::size_t rgbaStride, int rgbaWidth,
                       int rgbaHeight, int x, int y, int opacity);

}  // namespace reel
