// The audio compressors of the audio compressor category
// (CLSID_AudioCompressorCategory): transform filters from PCM to a format an
// AVI file carries, on FFmpeg's encoders and libswresample. "PCM" converts
// between PCM formats (channels, rate, sample size); the others encode:
// "MPEG Layer-3", "IMA ADPCM", "Microsoft ADPCM", "CCITT A-Law",
// "CCITT u-Law", "GSM 6.10", "MPEG Layer-2" and "AC-3" (the table in
// AudioCompressorFilter.cpp lists them in the category's order).
//
// Each converts whatever PCM it gets to the output format, so the output
// format is chosen freely: IAMStreamConfig (on the filter and on its output
// pin) tells the formats offered (GetNumberOfCapabilities, GetStreamCaps),
// the current one (GetFormat) and sets it (SetFormat: channels, rate, the
// sample size of PCM, the bit rate of MP3, MPEG Layer-2 and AC-3 through
// nAvgBytesPerSec). Until SetFormat the output follows the input as far
// as the codec allows.
#pragma once

#include "platform/dshow/DShowInterfaces.h"

REEL_DEFINE_GUID(CLSID_PcmAudioCompressor, 0x7B1D6F21, 0x4C8E, 0x4A39, 0x8D, 0x52, 0x3F, 0x9C, 0x6E, 0x71, 0xA0, 0xB2);
REEL_DEFINE_GUID(CLSID_Mp3AudioCompressor, 0x7B1D6F22, 0x4C8E, 0x4A39, 0x8D, 0x52, 0x3F, 0x9C, 0x6E, 0x71, 0xA0, 0xB2);
REEL_DEFINE_GUID(CLSID_ImaAdpcmAudioCompressor, 0x7B1D6F23, 0x4C8E, 0x4A39, 0x8D, 0x52, 0x3F, 0x9C, 0x6E, 0x71, 0xA0, 0xB2);
REEL_DEFINE_GUID(CLSID_MsAdpcmAudioCompressor, 0x7B1D6F24, 0x4C8E, 0x4A39, 0x8D, 0x52, 0x3F, 0x9C, 0x6E, 0x71, 0xA0, 0xB2);
REEL_DEFINE_GUID(CLSID_ALawAudioCompressor, 0x7B1D6F25, 0x4C8E, 0x4A39, 0x8D, 0x52, 0x3F, 0x9C, 0x6E, 0x71, 0xA0, 0xB2);
REEL_DEFINE_GUID(CLSID_MuLawAudioCompressor, 0x7B1D6F26, 0x4C8E, 0x4A39, 0x8D, 0x52, 0x3F, 0x9C, 0x6E, 0x71, 0xA0, 0xB2);
REEL_DEFINE_GUID(CLSID_Gsm610AudioCompressor, 0x7B1D6F27, 0x4C8E, 0x4A39, 0x8D, 0x52, 0x3F, 0x9C, 0x6E, 0x71, 0xA0, 0xB2);
REEL_DEFINE_GUID(CLSID_Mp2AudioCompressor, 0x7B1D6F28, 0x4C8E, 0x4A39, 0x8D, 0x52, 0x3F, 0x9C, 0x6E, 0x71, 0xA0, 0xB2);
REEL_DEFINE_GUID(CLSID_Ac3AudioCompressor, 0x7B1D6F29, 0x4C8E, 0x4A39, 0x8D, 0x52, 0x3F, 0x9C, 0x6E, 0x71, 0xA0, 0xB2);

// What IAMStreamConfig::GetStreamCaps tells about one audio format: the
// ranges of channels, sample size and rate it stands for (here each
// capability is one exact format, so every minimum equals its maximum).
struct AUDIO_STREAM_CONFIG_CAPS {
  GUID guid;  // MEDIATYPE_Audio
  ULONG MinimumChannels;
  ULONG MaximumChannels;
  ULONG ChannelsGranularity;
  ULONG MinimumBitsPerSample;
  ULONG MaximumBitsPerSample;
  ULONG BitsPerSampleGranularity;
  ULONG MinimumSampleFrequency;
  ULONG MaximumSampleFrequency;
  ULONG SampleFrequencyGranularity;
};
