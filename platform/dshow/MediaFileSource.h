// The generic file source (CLSID_MediaFileSource): FFmpeg opens the file by
// its content and the filter offers one output pin per audio and video
// stream, delivering the compressed packets with their time stamps. Each pin
// reads the file through its own demuxer, so each seeks on its own.
#pragma once

#include "platform/dshow/FilterGraph.h"
#include "platform/dshow/SourceFilter.h"

namespace reel {
HRESULT CreateMediaFileSource(IUnknown* outer, REFIID riid, void** ppv);
}  // namespace reel
