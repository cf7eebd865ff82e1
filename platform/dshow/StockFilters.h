// The stock filters of the runtime besides the source and the decoders:
// the Colour Space Converter (CLSID_Colour), the Infinite Pin Tee
// (CLSID_InfTee), the Null Renderer (CLSID_NullRenderer) and the video and
// audio renderers (CLSID_VideoRenderer, CLSID_AudioRender, and
// CLSID_DSoundRender for the same audio renderer).
#pragma once

#include "platform/dshow/DShowTypes.h"
