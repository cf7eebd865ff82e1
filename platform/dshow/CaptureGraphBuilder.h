// The capture graph builder (CLSID_CaptureGraphBuilder2): builds the output
// end of a graph on top of a filter graph manager. SetOutputFileName puts a
// multiplexer and its file sink in the graph, RenderStream connects a filter
// or pin through an optional intermediate filter (a compressor) to a sink or,
// without one, to the default renderer of the stream, and FindInterface
// looks for an interface on a filter, its pins and the filters up and down
// the stream from it. Methods in the Windows SDK order.
#pragma once

#include "platform/dshow/DShowInterfaces.h"

// CLSID_CaptureGraphBuilder2 is declared with the other stock classes (DShowTypes.h).
REEL_DEFINE_GUID(IID_ICaptureGraphBuilder2, 0x93E5A4E0, 0x2D50, 0x11D2, 0xAB, 0xFA, 0x00, 0xA0, 0xC9, 0xC6, 0xE3, 0x8D);
REEL_DEFINE_GUID(IID_IAMCopyCaptureFileProgress, 0x670D1D20, 0xA068, 0x11D0, 0xB3, 0xF0, 0x00, 0xAA, 0x00, 0x37, 0x61,
                 0xC5);
// FindInterface search directions (in place of a pin category).
REEL_DEFINE_GUID(LOOK_UPSTREAM_ONLY, 0xAC798BE0, 0x98E3, 0x11D1, 0xB3, 0xF1, 0x00, 0xAA, 0x00, 0x37, 0x61, 0xC5);
REEL_DEFINE_GUID(LOOK_DOWNSTREAM_ONLY, 0xAC798BE1, 0x98E3, 0x11D1, 0xB3, 0xF1, 0x00, 0xAA, 0x00, 0x37, 0x61, 0xC5);

struct IAMCopyCaptureFileProgress : IUnknown {
  STDMETHOD(Progress)(int percent) = 0;
};

struct ICaptureGraphBuilder2 : IUnknown {
  STDMETHOD(SetFiltergraph)(IGraphBuilder* graph) = 0;
  // The graph in use; one is created when none was set.
  STDMETHOD(GetFiltergraph)(IGraphBuilder** graph) = 0;
  // type: MEDIASUBTYPE_Avi (AVI Mux + File writer), MEDIASUBTYPE_Asf (the
  // ASF writer, which is its own sink) or the CLSID of a multiplexer filter.
  STDMETHOD(SetOutputFileName)(const GUID* type, LPCOLESTR fileName, IBaseFilter** multiplexer,
                               IFileSinkFilter** sink) = 0;
  STDMETHOD(FindInterface)(const GUID* category, const GUID* type, IBaseFilter* filter, REFIID riid,
                           void** result) = 0;
  // source: an IBaseFilter (its first unconnected output pin of the major
  // type, when given, that connects) or an IPin (used as it is).
  STDMETHOD(RenderStream)(const GUID* category, const GUID* type, IUnknown* source, IBaseFilter* intermediate,
                          IBaseFilter* sink) = 0;
  STDMETHOD(ControlStream)(const GUID* category, const GUID* type, IBaseFilter* filter, REFERENCE_TIME* start,
                           REFERENCE_TIME* stop, WORD startCookie, WORD stopCookie) = 0;
  STDMETHOD(AllocCapFile)(LPCOLESTR fileName, ULONGLONG size) = 0;
  STDMETHOD(CopyCaptureFile)(LPOLESTR oldFile, LPOLESTR newFile, int allowEscapeAbort,
                             IAMCopyCaptureFileProgress* callback) = 0;
  STDMETHOD(FindPin)(IUnknown* source, PIN_DIRECTION direction, const GUID* category, const GUID* type,
                     BOOL unconnected, int number, IPin** pin) = 0;
};

namespace reel {
template <> inline constexpr const IID& kIidOf<ICaptureGraphBuilder2> = IID_ICaptureGraphBuilder2;
template <> inline constexpr const IID& kIidOf<IAMCopyCaptureFileProgress> = IID_IAMCopyCaptureFileProgress;
}  // namespace reel
