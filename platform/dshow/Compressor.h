// The video compressors of the video compressor category
// (CLSID_VideoCompressorCategory), FFmpeg encoders behind a transform
// filter: "DV Video Encoder", "MJPEG Compressor", "Xvid MPEG-4 Codec", an
// H.264 codec, Huffyuv, FFV1, Cinepak, "Microsoft Video 1" and the two
// Microsoft MPEG-4 versions (the table at the end of CompressorFilter.cpp
// lists them all). They take uncompressed RGB or YUV and send one compressed
// frame per picture, without B-frames, so frames leave in the order they
// came (what an AVI file stores). IAMVideoCompression sets the key-frame
// interval and the quality where the codec has them; a bit rate comes with
// the output type (VIDEOINFOHEADER::dwBitRate) when the quality is left at
// its default. The DV encoder also answers IDVEnc.
#pragma once

#include <string>
#include <vector>

#include "platform/dshow/DShowInterfaces.h"

REEL_DEFINE_GUID(IID_IAMVideoCompression, 0xC6E13343, 0x30AC, 0x11D0, 0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56);
REEL_DEFINE_GUID(IID_IDVEnc, 0xD18E17A0, 0xAACB, 0x11D0, 0xAF, 0xB0, 0x00, 0xAA, 0x00, 0xB6, 0x7A, 0x42);
REEL_DEFINE_GUID(CLSID_MjpegCompressor, 0x6A0C5E11, 0x3B7D, 0x4F28, 0x9C, 0x41, 0x2E, 0x8B, 0x5D, 0x60, 0x17, 0xA1);
REEL_DEFINE_GUID(CLSID_Mpeg4Compressor, 0x6A0C5E12, 0x3B7D, 0x4F28, 0x9C, 0x41, 0x2E, 0x8B, 0x5D, 0x60, 0x17, 0xA1);
REEL_DEFINE_GUID(CLSID_DvVideoEncoder, 0x6A0C5E13, 0x3B7D, 0x4F28, 0x9C, 0x41, 0x2E, 0x8B, 0x5D, 0x60, 0x17, 0xA1);
REEL_DEFINE_GUID(CLSID_H264Compressor, 0x6A0C5E14, 0x3B7D, 0x4F28, 0x9C, 0x41, 0x2E, 0x8B, 0x5D, 0x60, 0x17, 0xA1);
REEL_DEFINE_GUID(CLSID_HuffyuvCompressor, 0x6A0C5E15, 0x3B7D, 0x4F28, 0x9C, 0x41, 0x2E, 0x8B, 0x5D, 0x60, 0x17, 0xA1);
REEL_DEFINE_GUID(CLSID_Ffv1Compressor, 0x6A0C5E16, 0x3B7D, 0x4F28, 0x9C, 0x41, 0x2E, 0x8B, 0x5D, 0x60, 0x17, 0xA1);
REEL_DEFINE_GUID(CLSID_CinepakCompressor, 0x6A0C5E17, 0x3B7D, 0x4F28, 0x9C, 0x41, 0x2E, 0x8B, 0x5D, 0x60, 0x17, 0xA1);
REEL_DEFINE_GUID(CLSID_MsVideo1Compressor, 0x6A0C5E18, 0x3B7D, 0x4F28, 0x9C, 0x41, 0x2E, 0x8B, 0x5D, 0x60, 0x17, 0xA1);
REEL_DEFINE_GUID(CLSID_MsMpeg4V2Compressor, 0x6A0C5E19, 0x3B7D, 0x4F28, 0x9C, 0x41, 0x2E, 0x8B, 0x5D, 0x60, 0x17, 0xA1);
REEL_DEFINE_GUID(CLSID_MsMpeg4V3Compressor, 0x6A0C5E1A, 0x3B7D, 0x4F28, 0x9C, 0x41, 0x2E, 0x8B, 0x5D, 0x60, 0x17, 0xA1);

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

// The DV encoder's format: the television standard, the DV variant and the
// resolution. The resolution is the size a DV decoder may show the frames
// at; the stream always holds full frames of the standard.
enum DVENCODERVIDEOFORMAT { DVENCODERVIDEOFORMAT_NTSC = 2000, DVENCODERVIDEOFORMAT_PAL = 2001 };
enum DVENCODERFORMAT { DVENCODERFORMAT_DVSD = 2007, DVENCODERFORMAT_DVHD = 2008, DVENCODERFORMAT_DVSL = 2009 };
enum DVENCODERRESOLUTION {
  DVENCODERRESOLUTION_720x480 = 2012,
  DVENCODERRESOLUTION_360x240 = 2013,
  DVENCODERRESOLUTION_180x120 = 2014,
  DVENCODERRESOLUTION_88x60 = 2015,
};

// The DV stream's auxiliary packs (pack bytes 1 to 4 of each pack).
struct DVINFO {
  DWORD dwDVAAuxSrc;
  DWORD dwDVAAuxCtl;
  DWORD dwDVAAuxSrc1;
  DWORD dwDVAAuxCtl1;
  DWORD dwDVVAuxSrc;
  DWORD dwDVVAuxCtl;
  DWORD dwDVReserved[2];
};

struct IDVEnc : IUnknown {
  STDMETHOD(get_IFormatResolution)(int* videoFormat, int* dvFormat, int* resolution, BYTE fDVInfo, DVINFO* dvInfo) = 0;
  STDMETHOD(put_IFormatResolution)(int videoFormat, int dvFormat, int resolution, BYTE fDVInfo, DVINFO* dvInfo) = 0;
};

namespace reel {
template <> inline constexpr const IID& kIidOf<IAMVideoCompression> = IID_IAMVideoCompression;
template <> inline constexpr const IID& kIidOf<IDVEnc> = IID_IDVEnc;

// The longest key-frame interval a temporal codec takes, in frames.
constexpr long kLongestKeyFrameInterval = 600;

// The settings a compressor of one codec starts with.
struct VideoCodecSettings {
  double quality = -1.0;  // 0.0 to 1.0; negative: encode at the bit rate
  long keyFrameRate = 0;  // frames between key frames; 0: the codec's default
  long bitRate = 0;       // bits per second; 0: the codec's default
};

// One codec of the video compressor category, as the codec information
// functions and the configuration dialog see it.
struct VideoCodecDescription {
  CLSID clsid = GUID_NULL;
  std::u16string name;  // the friendly name
  std::string encoder;  // the libavcodec encoder
  DWORD fourcc = 0;     // what the stream is stored as
  bool hasQuality = false;
  bool hasKeyFrames = false;  // the key-frame interval can be chosen
  bool hasBitRate = false;
  bool temporal = false;  // frames depend on earlier frames
  long defaultKeyFrameRate = 0;
  long defaultBitRate = 0;
  bool HasSettings() const { return hasQuality || hasKeyFrames || hasBitRate; }
};

// The codecs of the category, in its order (the same in every process):
// only those whose encoder this FFmpeg has.
std::vector<VideoCodecDescription> AvailableVideoCodecs();

// The settings compressors of a codec start with. They belong to the
// process and change with SetVideoCodecSettings (the configuration dialog).
VideoCodecSettings CurrentVideoCodecSettings(REFCLSID codec);
// E_INVALIDARG for a setting the codec cannot take (a quality above 1, a
// negative or too long interval, a bit rate below 0 or beyond 32 bits, a
// setting of a codec that has none);
// E_FAIL for an unknown codec.
HRESULT SetVideoCodecSettings(REFCLSID codec, const VideoCodecSettings& settings);
}  // namespace reel
