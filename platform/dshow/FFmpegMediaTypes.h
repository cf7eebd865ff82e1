// Media types for streams read and decoded with FFmpeg. A compressed
// stream's type has the standard format block (VIDEOINFOHEADER or
// WAVEFORMATEX followed by the codec's extra data) and a FOURCC or wave-tag
// subtype where one exists, so any filter can read it; its pUnk carries the
// exact codec parameters (IFFmpegCodecParameters), which our decoders use.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "platform/com/ComPtr.h"
#include "platform/dshow/MediaType.h"

REEL_DEFINE_GUID(IID_IFFmpegCodecParameters, 0x3D0C71B2, 0x95F4, 0x4B7E, 0x8A, 0x26, 0x41, 0x7D, 0xE3, 0x50, 0x9C, 0x18);

struct IFFmpegCodecParameters : IUnknown {
  // Owned by the object; valid while it is referenced.
  virtual const AVCodecParameters* Parameters() = 0;
};

namespace reel {
template <> inline constexpr const IID& kIidOf<IFFmpegCodecParameters> = IID_IFFmpegCodecParameters;

// A type-specific sample flag (AM_SAMPLE2_PROPERTIES::dwTypeSpecificFlags)
// of compressed samples: the start time is the decoding time, the
// container having no presentation time.
constexpr DWORD kDecodeTimeFlag = 0x00010000;
// Of compressed audio samples: the media time holds the number of samples
// to drop from the start of the decoded sound (start) and from its end
// (end - start), as codecs with a delay or padding need.
constexpr DWORD kSkipSamplesFlag = 0x00020000;

// The media type of a demuxed stream; false for streams that are neither
// audio nor video or whose parameters make no sense.
bool MediaTypeFromStream(const AVStream* stream, CMediaType* mediaType);
// The codec parameters a type carries (pUnk), or those rebuilt from its
// subtype and format block; null when the type names no codec we know.
// The result must be freed with avcodec_parameters_free.
AVCodecParameters* CodecParametersFromMediaType(const AM_MEDIA_TYPE& mediaType);

// Uncompressed types, as our decoders and converter produce them.
// Video: a bottom-up DIB for the RGB subtypes, planar/packed YUV otherwise.
bool MakeVideoType(REFGUID subtype, int width, int height, REFERENCE_TIME frameTime, CMediaType* mediaType);
bool MakePcmType(int sampleRate, int channels, int bitsPerSample, CMediaType* mediaType);
// The type of what an opened audio encoder makes, as an AVI file and the
// audio compression manager describe it: the wave tag with the block size,
// bytes per second and bits per sample of the format, and behind the
// WAVEFORMATEX the codec's structure (MPEGLAYER3WAVEFORMAT, MPEG1WAVEFORMAT,
// IMAADPCMWAVEFORMAT, ADPCMWAVEFORMAT with its coefficients,
// GSM610WAVEFORMAT). pUnk carries the encoder's parameters. False for an
// encoder whose codec has no wave tag.
bool MakeEncodedAudioType(const AVCodecContext* encoder, CMediaType* mediaType);
// The FFmpeg pixel format of an uncompressed subtype (AV_PIX_FMT_NONE if none).
AVPixelFormat PixelFormatOfSubtype(REFGUID subtype);
bool IsUncompressedVideo(const AM_MEDIA_TYPE& mediaType);

// 100-ns reference time of a timestamp in a time base, and back.
REFERENCE_TIME ToReferenceTime(int64_t timestamp, AVRational timeBase);
int64_t FromReferenceTime(REFERENCE_TIME time, AVRational timeBase);
}  // namespace reel
