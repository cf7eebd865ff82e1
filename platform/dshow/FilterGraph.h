// The filter graph manager (CLSID_FilterGraph): holds filters under unique
// names, connects pins directly or through intelligent connect (filters in
// the graph first, then registered filters by merit), renders pins and
// files, runs the graph's state changes downstream first, collects events
// (one EC_COMPLETE once every renderer has finished) and posts them to a
// window, seeks through the renderers and forwards audio and video window
// control to the filter that has them.
#pragma once

#include "platform/dshow/DShowControl.h"
#include "platform/dshow/DShowInterfaces.h"

REEL_DEFINE_GUID(CLSID_MediaFileSource, 0x7F1E6A30, 0x2C5B, 0x4E8A, 0xB1, 0x64, 0x5D, 0x0C, 0x9A, 0x3E, 0x21, 0x7B);

namespace reel {
// Creates a filter graph manager and answers riid from it.
HRESULT CreateFilterGraph(IUnknown* outer, REFIID riid, void** ppv);
}  // namespace reel
