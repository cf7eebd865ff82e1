#include "platform/gdiplus/DrawingLayer.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>

namespace reel {

DrawingLayer::~DrawingLayer() { End(); }

void DrawingLayer::End() {
  if (cairo_) cairo_destroy(cairo_);
  if (surface_) cairo_surface_destroy(surface_);
  cairo_ = nullptr;
  surface_ = nullptr;
}

bool DrawingLayer::Begin(int left, int top, int width, int height) {
  End();
  if (width <= 0 || height <= 0 || width > 32767 || height > 32767) return false;
  std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  if (pixels_.size() < count) pixels_.resize(count);
  std::fill_n(pixels_.begin(), count, 0u);
  surface_ = cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(pixels_.data()),
                                                 CAIRO_FORMAT_ARGB32, width, height, width * 4);
  if (cairo_surface_status(surface_) != CAIRO_STATUS_SUCCESS) {
    End();
    return false;
  }
  cairo_ = cairo_create(surface_);
  if (cairo_status(cairo_) != CAIRO_STATUS_SUCCESS) {
    End();
    return false;
  }
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  cairo_translate(cairo_, -left, -top);
  return true;
}

void DrawingLayer::FillRectangle(double x, double y, double width, double height, std::uint32_t argb) {
  if (!cairo_ || !(width > 0) || !(height > 0)) return;
  // Whole pixels: those whose centres lie inside the rectangle.
  double x0 = std::floor(x + 0.5), y0 = std::floor(y + 0.5);
  double x1 = std::floor(x + width + 0.5), y1 = std::floor(y + height + 0.5);
  if (x1 <= x0 || y1 <= y0) return;
  SetSourceArgb(cairo_, argb);
  cairo_rectangle(cairo_, x0, y0, x1 - x0, y1 - y0);
  cairo_fill(cairo_);
}

void DrawingLayer::DrawText(const TextLayout& text, double x, double y, std::uint32_t argb) {
  if (!cairo_ || (argb >> 24) == 0) return;
  text.Draw(cairo_, x, y, argb);
}

void DrawingLayer::BlendOnto(const DibView& picture) {
  if (!cairo_) return;
  cairo_surface_flush(surface_);
  BlendPremultiplied(picture, pixels_.data(), static_cast<std::size_t>(width_) * 4, width_, height_, left_, top_);
  End();
}

}  // namespace reel
