// The video compressors of the video compressor category
// (CLSID_VideoCompressorCategory), FFmpeg encoders behind a transform
// filter: "MJPEG Compressor" (FOURCC MJPG) and "Xvid MPEG-4 Codec" (MPEG-4
// Part 2, FOURCC XVID). They take uncompressed RGB or YUV and send one
// compressed frame per picture, without B-frames, so frames leave in the
// order they came (what an AVI file stores). IAMVideoCompression sets the
// key-frame interval and the quality; a bit rate comes with the output type
// (VIDEOINFOHEADER::dwBitRate) when the quality is left at its default.
#pragma once

#include "platform/dshow/DShowInterfaces.h"

REEL_DEFINE_GUID(IID_IAMVideoCompression, 0xC6E13343, 0x30AC, 0x11D0, 0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56);
REEL_DEFINE_GUID(CLSID_MjpegCompressor, 0x6A0C5E11, 0x3B7D, 0x4F28, 0x9C, 0x41, 0x2E, 0x8B, 0x5D, 0x60, 0x17, 0xA1);
REEL_DEFINE_GUID(CLSID_Mpeg4Compressor, 0x6A0C5E12, 0x3B7D, 0x4F28, 0x9C, 0x41, 0x2E, 0x8B, 0x5D, 0x60, 0x17, 0xA1);

// Capability flags of IAMVideoCompression::GetInfo.
constexpr long CompressionCaps_CanQuality = 0x01;
constexpr long CompressionCaps_CanCrunch = 0x02;
constexpr long CompressionCaps_CanKeyFrame = 0x04;
constexpr long CompressionCaps_CanBFrame = 0x08;
constexpr long CompressionCaps_CanWindow = 0x10;

struct IAMVideoCompression : IUnknown {
  // Key frames every `keyFrameRate` frames; 0 for the encoder's default.
  STDMETHOD(put_KeyFrameRate)(long keyFrameRate) = 0;
  STDMETHOD(get_KeyFrameRate)(long* keyFrameRate) = 0;
  STDMETHOD(put_PFramesPerKeyFrame)(long frames) = 0;
  STDMETHOD(get_PFramesPerKeyFrame)(long* frames) = 0;
  // 0.0 (smallest) to 1.0 (best); a negative value: the default, which
  // encodes at the bit rate.
  STDMETHOD(put_Quality)(double quality) = 0;
  STDMETHOD(get_Quality)(double* quality) = 0;
  STDMETHOD(put_WindowSize)(unsigned long long windowSize) = 0;
  STDMETHOD(get_WindowSize)(unsigned long long* windowSize) = 0;
  STDMETHOD(GetInfo)(LPWSTR version, int* versionLength, LPWSTR description, int* descriptionLength,
                     long* defaultKeyFrameRate, long* defaultPFramesPerKey, double* defaultQuality,
                     long* capabilities) = 0;
  STDMETHOD(OverrideKeyFrame)(long frameNumber) = 0;
  STDMETHOD(OverrideFrameSize)(long frameNumber, long size) = 0;
};

namespace reel {
template <> inline constexpr const IID& kIidOf<IAMVideoCompression> = IID_IAMVideoCompression;
}  // namespace reel
