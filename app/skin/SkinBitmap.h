// Bitmaps of a skin: loading them from the layout's folder and drawing them
// with the skin's transparent colour left out.
#pragma once

#include <QImage>
#include <QRect>
#include <cstdint>
#include <string>

class QPainter;

namespace skin {

// Loads `file` (a file token: relative to `folder`, which ends with "/") at
// its own size. Windows packages match names without regard to case, so a
// name that does not exist as written is also looked up case-insensitively.
// A missing or unreadable file gives a null image.
QImage LoadBitmap(const std::string& folder, const std::string& file);

// A copy of `image` in which every pixel of colour `transparent` (0xRRGGBB,
// exact match) is fully transparent; kNoColour leaves every pixel opaque.
QImage KeyedImage(const QImage& image, std::uint32_t transparent);

// The colour of a layout colour (0xRRGGBB) as Qt's 0xAARRGGBB.
inline unsigned int OpaqueRgb(std::uint32_t rgb) { return 0xFF000000u | (rgb & 0x00FFFFFFu); }

}  // namespace skin
