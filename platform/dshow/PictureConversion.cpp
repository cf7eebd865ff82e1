#include "platform/dshow/PictureConversion.h"

#include <cstdlib>

#include "platform/dshow/FFmpegMediaTypes.h"

namespace reel {

bool PicturePlanes(const AM_MEDIA_TYPE& type, BYTE* data, LONG size, uint8_t* planes[4], int strides[4]) {
  const BITMAPINFOHEADER* header = BitmapHeaderOf(type);
  AVPixelFormat format = PixelFormatOfSubtype(type.subtype);
  if (!header || format == AV_PIX_FMT_NONE || !data) return false;
  int width = header->biWidth;
  int height = std::abs(header->biHeight);
  if (width <= 0 || height <= 0 || width > 16384 || height > 16384) return false;
  for (int index = 0; index < 4; ++index) {
    planes[index] = nullptr;
    strides[index] = 0;
  }
  bool rgb = type.subtype == MEDIASUBTYPE_RGB32 || type.subtype == MEDIASUBTYPE_RGB24 ||
             type.subtype == MEDIASUBTYPE_RGB565 || type.subtype == MEDIASUBTYPE_RGB555;
  if (rgb) {
    LONG stride = DibWidthBytes(width, header->biBitCount);
    if (static_cast<long long>(stride) * height > size) return false;
    if (header->biHeight > 0) {  // bottom-up: the top row is the last in memory
      planes[0] = data + static_cast<std::size_t>(stride) * (height - 1);
      strides[0] = -stride;
    } else {
      planes[0] = data;
      strides[0] = stride;
    }
    return true;
  }
  if (format == AV_PIX_FMT_YUYV422 || format == AV_PIX_FMT_UYVY422) {
    LONG stride = width * 2;
    if (static_cast<long long>(stride) * height > size) return false;
    planes[0] = data;
    strides[0] = stride;
    return true;
  }
  // 4:2:0 layouts: a full luma plane, then chroma at half size.
  long long luma = static_cast<long long>(width) * height;
  int chromaWidth = (width + 1) / 2;
  int chromaHeight = (height + 1) / 2;
  long long chroma = static_cast<long long>(chromaWidth) * chromaHeight;
  if (format == AV_PIX_FMT_NV12) {
    if (luma + 2 * chroma > size) return false;
    planes[0] = data;
    strides[0] = width;
    planes[1] = data + luma;
    strides[1] = chromaWidth * 2;
    return true;
  }
  if (luma + 2 * chroma > size) return false;
  planes[0] = data;
  strides[0] = width;
  bool swapped = type.subtype == MEDIASUBTYPE_YV12;  // V before U
  planes[swapped ? 2 : 1] = data + luma;
  planes[swapped ? 1 : 2] = data + luma + chroma;
  strides[1] = strides[2] = chromaWidth;
  return true;
}

PictureConverter::~PictureConverter() { sws_freeContext(context_); }

bool PictureConverter::Convert(const uint8_t* const planes[4], const int strides[4], AVPixelFormat format, int width,
                               int height, const AM_MEDIA_TYPE& target, BYTE* out, LONG outSize) {
  const BITMAPINFOHEADER* header = BitmapHeaderOf(target);
  AVPixelFormat targetFormat = PixelFormatOfSubtype(target.subtype);
  if (!header || targetFormat == AV_PIX_FMT_NONE || width <= 0 || height <= 0) return false;
  uint8_t* targetPlanes[4];
  int targetStrides[4];
  if (!PicturePlanes(target, out, outSize, targetPlanes, targetStrides)) return false;
  return Scale(planes, strides, format, width, height, targetPlanes, targetStrides, targetFormat, header->biWidth,
               std::abs(header->biHeight));
}

bool PictureConverter::Scale(const uint8_t* const planes[4], const int strides[4], AVPixelFormat format, int width,
                             int height, uint8_t* const targetPlanes[4], const int targetStrides[4],
                             AVPixelFormat targetFormat, int targetWidth, int targetHeight) {
  if (width <= 0 || height <= 0 || targetWidth <= 0 || targetHeight <= 0) return false;
  context_ = sws_getCachedContext(context_, width, height, format, targetWidth, targetHeight, targetFormat,
                                  SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (!context_) return false;
  return sws_scale(context_, planes, strides, 0, height, targetPlanes, targetStrides) == targetHeight;
}

}  // namespace reel
