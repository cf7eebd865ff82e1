// The stock decoders, on FFmpeg: a video decoder whose output is
// uncompressed RGB or YUV as the downstream filter accepts, and an audio
// decoder whose output is 16-bit PCM. Both are transform filters; after a
// key-frame seek they decode the frames before the segment start and drop
// them, so the first frame delivered is the one at the seek target.
#pragma once

#include "platform/dshow/DShowTypes.h"

REEL_DEFINE_GUID(CLSID_MediaVideoDecoder, 0x7F1E6A31, 0x2C5B, 0x4E8A, 0xB1, 0x64, 0x5D, 0x0C, 0x9A, 0x3E, 0x21, 0x7B);
REEL_DEFINE_GUID(CLSID_MediaAudioDecoder, 0x7F1E6A32, 0x2C5B, 0x4E8A, 0xB1, 0x64, 0x5D, 0x0C, 0x9A, 0x3E, 0x21, 0x7B);
