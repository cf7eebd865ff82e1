// The audio renderer (CLSID_AudioRender, CLSID_DSoundRender): 8- and 16-bit
// PCM played through Qt Multimedia. It answers IBasicAudio (volume in
// hundredths of a decibel, -10000 silence to 0 full; balance -10000 left
// only to 10000 right only) and IReferenceClock: the graph's clock follows
// the sound the device has played. Without a sound device the clock keeps
// time with the system clock and samples are consumed at their times.
#pragma once

#include <cstddef>

#include "platform/dshow/DShowTypes.h"

namespace reel {

// The amplitude factor of a level in hundredths of a decibel:
// 10^(level / 2000); 1 at 0, 0 at -10000 (silence).
double AmplitudeOfLevel(LONG level);

// Scales interleaved PCM (8-bit unsigned or 16-bit signed) in place by the
// volume and balance of IBasicAudio. A partial last frame is left alone.
void ApplyVolume(BYTE* data, size_t bytes, const WAVEFORMATEX& format, LONG volume, LONG balance);

}  // namespace reel
