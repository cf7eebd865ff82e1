#include "platform/gdiplus/DibPicture.h"

#include <algorithm>

namespace reel {

namespace {

// x * y / 255 rounded, for bytes.
inline unsigned ScaleByte(unsigned x, unsigned y) {
  unsigned product = x * y + 128;
  return (product + (product >> 8)) >> 8;
}

// The part of a w x h rectangle placed at (x, y) that lies inside the
// picture, as offsets into the rectangle; false when nothing does.
struct Clip {
  int firstColumn, lastColumn, firstRow, lastRow;  // half-open: last is one past
};
bool ClipRectangle(const DibView& picture, int x, int y, int w, int h, Clip* clip) {
  long long left = std::max<long long>(0, -static_cast<long long>(x));
  long long top = std::max<long long>(0, -static_cast<long long>(y));
  long long right = std::min<long long>(w, static_cast<long long>(picture.width) - x);
  long long bottom = std::min<long long>(h, static_cast<long long>(picture.height) - y);
  if (left >= right || top >= bottom) return false;
  *clip = {static_cast<int>(left), static_cast<int>(right), static_cast<int>(top), static_cast<int>(bottom)};
  return true;
}

}  // namespace

std::size_t DibStride(int width, int bitCount) {
  if (width <= 0 || bitCount <= 0) return 0;
  std::size_t bits = static_cast<std::size_t>(width) * static_cast<std::size_t>(bitCount);
  return ((bits + 31) / 32) * 4;
}

std::uint8_t* DibView::Row(int y) const {
  if (!bits || y < 0 || y >= height) return nullptr;
  std::size_t stride = Stride();
  std::size_t index = bottomUp ? static_cast<std::size_t>(height - 1 - y) : static_cast<std::size_t>(y);
  std::size_t offset = index * stride;
  std::size_t rowBytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(bytesPerPixel);
  if (offset + rowBytes > size) return nullptr;
  return bits + offset;
}

void BlendPremultiplied(const DibView& picture, const std::uint32_t* layer, std::size_t layerStride, int layerWidth,
                        int layerHeight, int x, int y) {
  Clip clip;
  if (!layer || !ClipRectangle(picture, x, y, layerWidth, layerHeight, &clip)) return;
  const int step = picture.bytesPerPixel;
  for (int row = clip.firstRow; row < clip.lastRow; ++row) {
    std::uint8_t* target = picture.Row(y + row);
    if (!target) continue;
    const std::uint32_t* source =
        reinterpret_cast<const std::uint32_t*>(reinterpret_cast<const std::uint8_t*>(layer) + row * layerStride);
    for (int column = clip.firstColumn; column < clip.lastColumn; ++column) {
      std::uint32_t pixel = source[column];
      unsigned alpha = pixel >> 24;
      if (alpha == 0) continue;
      std::uint8_t* out = target + static_cast<std::size_t>(x + column) * step;
      unsigned keep = 255 - alpha;
      out[0] = static_cast<std::uint8_t>((pixel & 0xFF) + ScaleByte(out[0], keep));
      out[1] = static_cast<std::uint8_t>(((pixel >> 8) & 0xFF) + ScaleByte(out[1], keep));
      out[2] = static_cast<std::uint8_t>(((pixel >> 16) & 0xFF) + ScaleByte(out[2], keep));
    }
  }
}

void BlendStraightRgba(const DibView& picture, const std::uint8_t* rgba, std::size_t rgbaStride, int rgbaWidth,
                       int rgbaHeight, int x, int y, int opacity) {
  Clip clip;
  opacity = std::clamp(opacity, 0, 255);
  if (!rgba || opacity == 0 || !ClipRectangle(picture, x, y, rgbaWidth, rgbaHeight, &clip)) return;
  const int step = picture.bytesPerPixel;
  for (int row = clip.firstRow; row < clip.lastRow; ++row) {
    std::uint8_t* target = picture.Row(y + row);
    if (!target) continue;
    const std::uint8_t* source = rgba + row * rgbaStride;
    for (int column = clip.firstColumn; column < clip.lastColumn; ++column) {
      const std::uint8_t* pixel = source + static_cast<std::size_t>(column) * 4;
      unsigned alpha = ScaleByte(pixel[3], static_cast<unsigned>(opacity));
      if (alpha == 0) continue;
      std::uint8_t* out = target + static_cast<std::size_t>(x + column) * step;
      if (alpha == 255) {
        out[0] = pixel[2];
        out[1] = pixel[1];
        out[2] = pixel[0];
        continue;
      }
      unsigned keep = 255 - alpha;
      out[0] = static_cast<std::uint8_t>(ScaleByte(pixel[2], alpha) + ScaleByte(out[0], keep));
      out[1] = static_cast<std::uint8_t>(ScaleByte(pixel[1], alpha) + ScaleByte(out[1], keep));
      out[2] = static_cast<std::uint8_t>(ScaleByte(pixel[0], alpha) + ScaleByte(out[2], keep));
    }
  }
}

}  // namespace reel
