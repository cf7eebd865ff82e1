// Image files (BMP, JPEG, PNG, TIFF, GIF and whatever else FFmpeg's image
// decoders read), decoded into straight-alpha RGBA pictures and written
// back through FFmpeg's image encoders.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace reel {

// Pixels as red, green, blue, alpha bytes (alpha not premultiplied), rows
// top to bottom, width * 4 bytes apart.
struct RgbaPicture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;

  std::size_t Stride() const { return static_cast<std::size_t>(width) * 4; }
  std::uint8_t* Pixel(int x, int y) { return pixels.data() + static_cast<std::size_t>(y) * Stride() + x * 4; }
  const std::uint8_t* Pixel(int x, int y) const {
    return pixels.data() + static_cast<std::size_t>(y) * Stride() + x * 4;
  }
};

// Files larger than this, or pictures of more pixels, are refused rather
// than read.
inline constexpr std::uintmax_t kMaximumImageFileBytes = 256u << 20;
inline constexpr std::int64_t kMaximumImagePixels = 1 << 26;

// Reads the first picture of an image file, recognised by its content.
// False, with the reason in `error` when given, for a file that is missing,
// unreadable, too large or not a picture.
bool LoadImageFile(const std::string& path, RgbaPicture* picture, std::string* error = nullptr);

// Writes a picture in the format its extension names: ".png", ".bmp",
// ".tif"/".tiff" or ".jpg"/".jpeg" (PNG and TIFF keep the alpha). False,
// with the reason in `error`, when the extension is unknown or writing fails;
// no partial file is left behind.
bool SaveImageFile(const std::string& path, const RgbaPicture& picture, std::string* error = nullptr);

}  // namespace reel
