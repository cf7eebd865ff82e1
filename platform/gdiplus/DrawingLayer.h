// A transparent layer to draw on (rectangles and text, with cairo) and then
// composite into a DIB picture in one pass. The layer covers only the part
// of the picture being drawn, and its pixel memory is kept from one use to
// the next, so drawing per frame allocates nothing once the largest size
// has been seen.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/gdiplus/DibPicture.h"
#include "platform/gdiplus/TextLayout.h"

typedef struct _cairo_surface cairo_surface_t;

namespace reel {

class DrawingLayer {
 public:
  DrawingLayer() = default;
  ~DrawingLayer();
  DrawingLayer(const DrawingLayer&) = delete;
  DrawingLayer& operator=(const DrawingLayer&) = delete;

  // Starts a layer over the picture rectangle (left, top, width, height),
  // fully transparent. False (and nothing to draw) for an empty rectangle or
  // when cairo fails.
  bool Begin(int left, int top, int width, int height);
  // Both take picture coordinates and a colour packed as
  // alpha << 24 | red << 16 | green << 8 | blue, drawn "source over".
  // The rectangle covers the pixels whose centres lie inside it.
  void FillRectangle(double x, double y, double width, double height, std::uint32_t argb);
  void DrawText(const TextLayout& text, double x, double y, std::uint32_t argb);
  // Composites what was drawn into the picture and ends the layer.
  void BlendOnto(const DibView& picture);

 private:
  void End();

  std::vector<std::uint32_t> pixels_;
  cairo_surface_t* surface_ = nullptr;
  cairo_t* cairo_ = nullptr;
  int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
};

}  // namespace reel
