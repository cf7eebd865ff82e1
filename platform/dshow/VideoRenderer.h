// The video renderer (CLSID_VideoRenderer): uncompressed RGB in, each
// picture drawn into a reel::VideoWindow at its time against the graph's
// clock (too late by more than a frame: dropped). Without a clock pictures
// are never waited for: the renderer keeps only the newest and the window
// repaints at most at display rate, so a conversion through it is not
// slowed. It answers IVideoWindow, IBasicVideo2 and IQualProp.
#pragma once

#include "platform/com/ComPtr.h"
#include "platform/dshow/DShowInterfaces.h"

REEL_DEFINE_GUID(IID_IQualProp, 0x1BD0ECB0, 0xF8E2, 0x11CE, 0xAA, 0xC6, 0x00, 0x20, 0xAF, 0x0B, 0x99, 0xA3);

// Presentation statistics of a video renderer since the stream started.
struct IQualProp : IUnknown {
  STDMETHOD(get_FramesDroppedInFilter)(int* frames) = 0;
  // Pictures handed to the window on time (without a clock: every picture;
  // the window paints the newest of them at display rate).
  STDMETHOD(get_FramesDrawn)(int* frames) = 0;
  STDMETHOD(get_AvgFrameRate)(int* hundredthsPerSecond) = 0;
  STDMETHOD(get_Jitter)(int* milliseconds) = 0;
  STDMETHOD(get_AvgSyncOffset)(int* milliseconds) = 0;
  STDMETHOD(get_DevSyncOffset)(int* milliseconds) = 0;
};

template <>
inline constexpr const IID& reel::kIidOf<IQualProp> = IID_IQualProp;
