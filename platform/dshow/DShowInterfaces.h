// The filter graph interfaces (the strmif.h set): pins, filters, their
// enumerators, samples and allocators, clocks, seeking, quality control and
// the graph builder. IIDs are Windows'; the methods are declared in the
// Windows SDK order, so the N-th virtual method is vtable slot N.
#pragma once

#include "platform/com/OleInterfaces.h"
#include "platform/com/Unknown.h"
#include "platform/dshow/DShowErrors.h"
#include "platform/dshow/DShowTypes.h"

REEL_DEFINE_GUID(IID_IPin, 0x56A86891, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
REEL_DEFINE_GUID(IID_IEnumPins, 0x56A86892, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
REEL_DEFINE_GUID(IID_IEnumFilters, 0x56A86893, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
REEL_DEFINE_GUID(IID_IBaseFilter, 0x56A86895, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
REEL_DEFINE_GUID(IID_IReferenceClock, 0x56A86897, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
REEL_DEFINE_GUID(IID_IMediaFilter, 0x56A86899, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
REEL_DEFINE_GUID(IID_IMediaSample, 0x56A8689A, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
REEL_DEFINE_GUID(IID_IMemAllocator, 0x56A8689C, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
REEL_DEFINE_GUID(IID_IMemInputPin, 0x56A8689D, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
REEL_DEFINE_GUID(IID_IFilterGraph, 0x56A8689F, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
REEL_DEFINE_GUID(IID_IMediaEventSink, 0x56A868A2, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
REEL_DEFINE_GUID(IID_IQualityControl, 0x56A868A5, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
REEL_DEFINE_GUID(IID_IFileSourceFilter, 0x56A868A6, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
REEL_DEFINE_GUID(IID_IGraphBuilder, 0x56A868A9, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
REEL_DEFINE_GUID(IID_IEnumMediaTypes, 0x89C31040, 0x846B, 0x11CE, 0x97, 0xD3, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A);
REEL_DEFINE_GUID(IID_IMediaSeeking, 0x36B73880, 0xC2C8, 0x11CF, 0x8B, 0x46, 0x00, 0x80, 0x5F, 0x6C, 0xEF, 0x60);
REEL_DEFINE_GUID(IID_IFilterGraph2, 0x36B73882, 0xC2C8, 0x11CF, 0x8B, 0x46, 0x00, 0x80, 0x5F, 0x6C, 0xEF, 0x60);
REEL_DEFINE_GUID(IID_IMediaSample2, 0x36B73884, 0xC2C8, 0x11CF, 0x8B, 0x46, 0x00, 0x80, 0x5F, 0x6C, 0xEF, 0x60);
REEL_DEFINE_GUID(IID_IAMFilterMiscFlags, 0x2DD74950, 0xA890, 0x11D1, 0xAB, 0xE8, 0x00, 0xA0, 0xC9, 0x05, 0xF3, 0x75);
REEL_DEFINE_GUID(IID_IFileSinkFilter, 0xA2104830, 0x7C70, 0x11CF, 0x8B, 0xCE, 0x00, 0xAA, 0x00, 0xA3, 0xF1, 0xA6);
REEL_DEFINE_GUID(IID_IFileSinkFilter2, 0x00855B90, 0xCE1B, 0x11D0, 0xBD, 0x4F, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86);
REEL_DEFINE_GUID(IID_IConfigInterleaving, 0xBEE3D220, 0x157B, 0x11D0, 0xBD, 0x23, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86);
REEL_DEFINE_GUID(IID_IAMStreamConfig, 0xC6E13340, 0x30AC, 0x11D0, 0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56);

struct IPin;
struct IEnumPins;
struct IEnumMediaTypes;
struct IEnumFilters;
struct IReferenceClock;
struct IMemAllocator;
struct IMediaSample;

struct IPin : IUnknown {
  STDMETHOD(Connect)(IPin* receivePin, const AM_MEDIA_TYPE* mediaType) = 0;
  STDMETHOD(ReceiveConnection)(IPin* connector, const AM_MEDIA_TYPE* mediaType) = 0;
  STDMETHOD(Disconnect)() = 0;
  STDMETHOD(ConnectedTo)(IPin** pin) = 0;
  STDMETHOD(ConnectionMediaType)(AM_MEDIA_TYPE* mediaType) = 0;
  STDMETHOD(QueryPinInfo)(PIN_INFO* info) = 0;
  STDMETHOD(QueryDirection)(PIN_DIRECTION* direction) = 0;
  STDMETHOD(QueryId)(LPWSTR* id) = 0;
  STDMETHOD(QueryAccept)(const AM_MEDIA_TYPE* mediaType) = 0;
  STDMETHOD(EnumMediaTypes)(IEnumMediaTypes** enumerator) = 0;
  STDMETHOD(QueryInternalConnections)(IPin** pins, ULONG* count) = 0;
  STDMETHOD(EndOfStream)() = 0;
  STDMETHOD(BeginFlush)() = 0;
  STDMETHOD(EndFlush)() = 0;
  STDMETHOD(NewSegment)(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) = 0;
};

struct IEnumPins : IUnknown {
  STDMETHOD(Next)(ULONG count, IPin** pins, ULONG* fetched) = 0;
  STDMETHOD(Skip)(ULONG count) = 0;
  STDMETHOD(Reset)() = 0;
  STDMETHOD(Clone)(IEnumPins** enumerator) = 0;
};

// Each AM_MEDIA_TYPE handed out is allocated with CoTaskMemAlloc and freed
// by the caller with DeleteMediaType.
struct IEnumMediaTypes : IUnknown {
  STDMETHOD(Next)(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) = 0;
  STDMETHOD(Skip)(ULONG count) = 0;
  STDMETHOD(Reset)() = 0;
  STDMETHOD(Clone)(IEnumMediaTypes** enumerator) = 0;
};

struct IBaseFilter;

struct IFilterGraph : IUnknown {
  STDMETHOD(AddFilter)(IBaseFilter* filter, LPCWSTR name) = 0;
  STDMETHOD(RemoveFilter)(IBaseFilter* filter) = 0;
  STDMETHOD(EnumFilters)(IEnumFilters** enumerator) = 0;
  STDMETHOD(FindFilterByName)(LPCWSTR name, IBaseFilter** filter) = 0;
  STDMETHOD(ConnectDirect)(IPin* output, IPin* input, const AM_MEDIA_TYPE* mediaType) = 0;
  STDMETHOD(Reconnect)(IPin* pin) = 0;
  STDMETHOD(Disconnect)(IPin* pin) = 0;
  STDMETHOD(SetDefaultSyncSource)() = 0;
};

struct IEnumFilters : IUnknown {
  STDMETHOD(Next)(ULONG count, IBaseFilter** filters, ULONG* fetched) = 0;
  STDMETHOD(Skip)(ULONG count) = 0;
  STDMETHOD(Reset)() = 0;
  STDMETHOD(Clone)(IEnumFilters** enumerator) = 0;
};

struct IMediaFilter : IPersist {
  STDMETHOD(Stop)() = 0;
  STDMETHOD(Pause)() = 0;
  STDMETHOD(Run)(REFERENCE_TIME start) = 0;
  STDMETHOD(GetState)(DWORD millisecondsTimeout, FILTER_STATE* state) = 0;
  STDMETHOD(SetSyncSource)(IReferenceClock* clock) = 0;
  STDMETHOD(GetSyncSource)(IReferenceClock** clock) = 0;
};

struct IBaseFilter : IMediaFilter {
  STDMETHOD(EnumPins)(IEnumPins** enumerator) = 0;
  STDMETHOD(FindPin)(LPCWSTR id, IPin** pin) = 0;
  STDMETHOD(QueryFilterInfo)(FILTER_INFO* info) = 0;
  STDMETHOD(JoinFilterGraph)(IFilterGraph* graph, LPCWSTR name) = 0;
  STDMETHOD(QueryVendorInfo)(LPWSTR* vendorInfo) = 0;
};

struct IReferenceClock : IUnknown {
  STDMETHOD(GetTime)(REFERENCE_TIME* time) = 0;
  STDMETHOD(AdviseTime)(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT event, DWORD_PTR* cookie) = 0;
  STDMETHOD(AdvisePeriodic)(REFERENCE_TIME startTime, REFERENCE_TIME periodTime, HSEMAPHORE semaphore,
                            DWORD_PTR* cookie) = 0;
  STDMETHOD(Unadvise)(DWORD_PTR cookie) = 0;
};

struct IMediaSample : IUnknown {
  STDMETHOD(GetPointer)(BYTE** buffer) = 0;
  STDMETHOD_(LONG, GetSize)() = 0;
  STDMETHOD(GetTime)(REFERENCE_TIME* start, REFERENCE_TIME* end) = 0;
  STDMETHOD(SetTime)(REFERENCE_TIME* start, REFERENCE_TIME* end) = 0;
  STDMETHOD(IsSyncPoint)() = 0;
  STDMETHOD(SetSyncPoint)(BOOL isSyncPoint) = 0;
  STDMETHOD(IsPreroll)() = 0;
  STDMETHOD(SetPreroll)(BOOL isPreroll) = 0;
  STDMETHOD_(LONG, GetActualDataLength)() = 0;
  STDMETHOD(SetActualDataLength)(LONG length) = 0;
  STDMETHOD(GetMediaType)(AM_MEDIA_TYPE** mediaType) = 0;
  STDMETHOD(SetMediaType)(AM_MEDIA_TYPE* mediaType) = 0;
  STDMETHOD(IsDiscontinuity)() = 0;
  STDMETHOD(SetDiscontinuity)(BOOL isDiscontinuity) = 0;
  STDMETHOD(GetMediaTime)(LONGLONG* start, LONGLONG* end) = 0;
  STDMETHOD(SetMediaTime)(LONGLONG* start, LONGLONG* end) = 0;
};

// Sample property flags of AM_SAMPLE2_PROPERTIES.
constexpr DWORD AM_SAMPLE_SPLICEPOINT = 0x1;
constexpr DWORD AM_SAMPLE_PREROLL = 0x2;
constexpr DWORD AM_SAMPLE_DATADISCONTINUITY = 0x4;
constexpr DWORD AM_SAMPLE_TYPECHANGED = 0x8;
constexpr DWORD AM_SAMPLE_TIMEVALID = 0x10;
constexpr DWORD AM_SAMPLE_TIMEDISCONTINUITY = 0x40;
constexpr DWORD AM_SAMPLE_FLUSH_ON_PAUSE = 0x80;
constexpr DWORD AM_SAMPLE_STOPVALID = 0x100;
constexpr DWORD AM_SAMPLE_ENDOFSTREAM = 0x200;

struct AM_SAMPLE2_PROPERTIES {
  DWORD cbData;
  DWORD dwTypeSpecificFlags;
  DWORD dwSampleFlags;
  LONG lActual;
  REFERENCE_TIME tStart;
  REFERENCE_TIME tStop;
  DWORD dwStreamId;
  AM_MEDIA_TYPE* pMediaType;
  BYTE* pbBuffer;
  LONG cbBuffer;
};

struct IMediaSample2 : IMediaSample {
  STDMETHOD(GetProperties)(DWORD size, BYTE* properties) = 0;
  STDMETHOD(SetProperties)(DWORD size, const BYTE* properties) = 0;
};

struct IMemAllocator : IUnknown {
  STDMETHOD(SetProperties)(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) = 0;
  STDMETHOD(GetProperties)(ALLOCATOR_PROPERTIES* properties) = 0;
  STDMETHOD(Commit)() = 0;
  STDMETHOD(Decommit)() = 0;
  STDMETHOD(GetBuffer)(IMediaSample** buffer, REFERENCE_TIME* start, REFERENCE_TIME* end, DWORD flags) = 0;
  STDMETHOD(ReleaseBuffer)(IMediaSample* buffer) = 0;
};

struct IMemInputPin : IUnknown {
  STDMETHOD(GetAllocator)(IMemAllocator** allocator) = 0;
  STDMETHOD(NotifyAllocator)(IMemAllocator* allocator, BOOL readOnly) = 0;
  STDMETHOD(GetAllocatorRequirements)(ALLOCATOR_PROPERTIES* properties) = 0;
  STDMETHOD(Receive)(IMediaSample* sample) = 0;
  STDMETHOD(ReceiveMultiple)(IMediaSample** samples, LONG count, LONG* processed) = 0;
  STDMETHOD(ReceiveCanBlock)() = 0;
};

struct IMediaEventSink : IUnknown {
  STDMETHOD(Notify)(LONG eventCode, LONG_PTR param1, LONG_PTR param2) = 0;
};

struct IQualityControl : IUnknown {
  STDMETHOD(Notify)(IBaseFilter* self, Quality quality) = 0;
  STDMETHOD(SetSink)(IQualityControl* sink) = 0;
};

struct IFileSourceFilter : IUnknown {
  STDMETHOD(Load)(LPCOLESTR fileName, const AM_MEDIA_TYPE* mediaType) = 0;
  STDMETHOD(GetCurFile)(LPOLESTR* fileName, AM_MEDIA_TYPE* mediaType) = 0;
};

struct IFileSinkFilter : IUnknown {
  STDMETHOD(SetFileName)(LPCOLESTR fileName, const AM_MEDIA_TYPE* mediaType) = 0;
  STDMETHOD(GetCurFile)(LPOLESTR* fileName, AM_MEDIA_TYPE* mediaType) = 0;
};

constexpr DWORD AM_FILE_OVERWRITE = 0x1;
struct IFileSinkFilter2 : IFileSinkFilter {
  STDMETHOD(SetMode)(DWORD flags) = 0;
  STDMETHOD(GetMode)(DWORD* flags) = 0;
};

struct IMediaSeeking : IUnknown {
  STDMETHOD(GetCapabilities)(DWORD* capabilities) = 0;
  STDMETHOD(CheckCapabilities)(DWORD* capabilities) = 0;
  STDMETHOD(IsFormatSupported)(const GUID* format) = 0;
  STDMETHOD(QueryPreferredFormat)(GUID* format) = 0;
  STDMETHOD(GetTimeFormat)(GUID* format) = 0;
  STDMETHOD(IsUsingTimeFormat)(const GUID* format) = 0;
  STDMETHOD(SetTimeFormat)(const GUID* format) = 0;
  STDMETHOD(GetDuration)(LONGLONG* duration) = 0;
  STDMETHOD(GetStopPosition)(LONGLONG* stop) = 0;
  STDMETHOD(GetCurrentPosition)(LONGLONG* current) = 0;
  STDMETHOD(ConvertTimeFormat)(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                               const GUID* sourceFormat) = 0;
  STDMETHOD(SetPositions)(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) = 0;
  STDMETHOD(GetPositions)(LONGLONG* current, LONGLONG* stop) = 0;
  STDMETHOD(GetAvailable)(LONGLONG* earliest, LONGLONG* latest) = 0;
  STDMETHOD(SetRate)(double rate) = 0;
  STDMETHOD(GetRate)(double* rate) = 0;
  STDMETHOD(GetPreroll)(LONGLONG* preroll) = 0;
};

struct IGraphBuilder : IFilterGraph {
  STDMETHOD(Connect)(IPin* output, IPin* input) = 0;
  STDMETHOD(Render)(IPin* output) = 0;
  STDMETHOD(RenderFile)(LPCWSTR file, LPCWSTR playList) = 0;
  STDMETHOD(AddSourceFilter)(LPCWSTR fileName, LPCWSTR filterName, IBaseFilter** filter) = 0;
  STDMETHOD(SetLogFile)(DWORD_PTR file) = 0;
  STDMETHOD(Abort)() = 0;
  STDMETHOD(ShouldOperationContinue)() = 0;
};

struct IAMFilterMiscFlags : IUnknown {
  STDMETHOD_(ULONG, GetMiscFlags)() = 0;
};

// Interleaving of a multiplexer (the output side implements it).
enum InterleavingMode { INTERLEAVE_NONE = 0, INTERLEAVE_CAPTURE = 1, INTERLEAVE_FULL = 2, INTERLEAVE_NONE_BUFFERED = 3 };
struct IConfigInterleaving : IUnknown {
  STDMETHOD(put_Mode)(InterleavingMode mode) = 0;
  STDMETHOD(get_Mode)(InterleavingMode* mode) = 0;
  STDMETHOD(put_Interleaving)(const REFERENCE_TIME* leave, const REFERENCE_TIME* preroll) = 0;
  STDMETHOD(get_Interleaving)(REFERENCE_TIME* leave, REFERENCE_TIME* preroll) = 0;
};

struct IAMStreamConfig : IUnknown {
  STDMETHOD(SetFormat)(AM_MEDIA_TYPE* mediaType) = 0;
  STDMETHOD(GetFormat)(AM_MEDIA_TYPE** mediaType) = 0;
  STDMETHOD(GetNumberOfCapabilities)(int* count, int* size) = 0;
  STDMETHOD(GetStreamCaps)(int index, AM_MEDIA_TYPE** mediaType, BYTE* caps) = 0;
};

namespace reel {
template <> inline constexpr const IID& kIidOf<IPin> = IID_IPin;
template <> inline constexpr const IID& kIidOf<IEnumPins> = IID_IEnumPins;
template <> inline constexpr const IID& kIidOf<IEnumMediaTypes> = IID_IEnumMediaTypes;
template <> inline constexpr const IID& kIidOf<IFilterGraph> = IID_IFilterGraph;
template <> inline constexpr const IID& kIidOf<IEnumFilters> = IID_IEnumFilters;
template <> inline constexpr const IID& kIidOf<IMediaFilter> = IID_IMediaFilter;
template <> inline constexpr const IID& kIidOf<IBaseFilter> = IID_IBaseFilter;
template <> inline constexpr const IID& kIidOf<IReferenceClock> = IID_IReferenceClock;
template <> inline constexpr const IID& kIidOf<IMediaSample> = IID_IMediaSample;
template <> inline constexpr const IID& kIidOf<IMediaSample2> = IID_IMediaSample2;
template <> inline constexpr const IID& kIidOf<IMemAllocator> = IID_IMemAllocator;
template <> inline constexpr const IID& kIidOf<IMemInputPin> = IID_IMemInputPin;
template <> inline constexpr const IID& kIidOf<IMediaEventSink> = IID_IMediaEventSink;
template <> inline constexpr const IID& kIidOf<IQualityControl> = IID_IQualityControl;
template <> inline constexpr const IID& kIidOf<IFileSourceFilter> = IID_IFileSourceFilter;
template <> inline constexpr const IID& kIidOf<IFileSinkFilter> = IID_IFileSinkFilter;
template <> inline constexpr const IID& kIidOf<IFileSinkFilter2> = IID_IFileSinkFilter2;
template <> inline constexpr const IID& kIidOf<IMediaSeeking> = IID_IMediaSeeking;
template <> inline constexpr const IID& kIidOf<IGraphBuilder> = IID_IGraphBuilder;
template <> inline constexpr const IID& kIidOf<IAMFilterMiscFlags> = IID_IAMFilterMiscFlags;
template <> inline constexpr const IID& kIidOf<IConfigInterleaving> = IID_IConfigInterleaving;
template <> inline constexpr const IID& kIidOf<IAMStreamConfig> = IID_IAMStreamConfig;
}  // namespace reel
