// Conversion of pictures between FFmpeg frames and the uncompressed layouts
// of DirectShow media types (bottom-up RGB DIBs with rows padded to 4
// bytes, packed and planar YUV), with swscale.
#pragma once

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include "platform/dshow/DShowTypes.h"

namespace reel {

// The planes of a picture of an uncompressed type held in data (size
// bytes); false when the type is not one we lay out or data is too small.
// Bottom-up RGB pictures get their last row first and a negative stride, so
// the planes always run top to bottom.
bool PicturePlanes(const AM_MEDIA_TYPE& type, BYTE* data, LONG size, uint8_t* planes[4], int strides[4]);

class PictureConverter {
 public:
  PictureConverter() = default;
  ~PictureConverter();
  PictureConverter(const PictureConverter&) = delete;
  PictureConverter& operator=(const PictureConverter&) = delete;

  // Scales and converts the source planes into a picture of the target type.
  bool Convert(const uint8_t* const planes[4], const int strides[4], AVPixelFormat format, int width, int height,
               const AM_MEDIA_TYPE& target, BYTE* out, LONG outSize);
  // Scales between two sets of planes, which may point into parts of larger
  // pictures.
  bool Scale(const uint8_t* const planes[4], const int strides[4], AVPixelFormat format, int width, int height,
             uint8_t* const targetPlanes[4], const int targetStrides[4], AVPixelFormat targetFormat, int targetWidth,
             int targetHeight);

 private:
  SwsContext* context_ = nullptr;
};

}  // namespace reel
