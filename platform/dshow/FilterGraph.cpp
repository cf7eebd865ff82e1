#include "platform/dshow/FilterGraph.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <set>
#include <vector>

#include "platform/com/ClassTable.h"
#include "platform/com/ComObject.h"
#include "platform/com/ComPtr.h"
#include "platform/dshow/BaseFilter.h"
#include "platform/dshow/FilterRegistry.h"
#include "platform/dshow/MediaTimeSeeking.h"
#include "platform/dshow/MediaType.h"
#include "platform/dshow/StreamSync.h"
#include "platform/ui/Window.h"
#include "platform/win/RegistryKey.h"
#include "platform/win/Strings.h"

namespace {

using reel::ComPtr;

// How deep intelligent connect nests intermediate filters.
constexpr int kMaxConnectDepth = 5;
// How long StopWhenReady waits for the pause to complete.
constexpr DWORD kCueTimeoutMilliseconds = 10000;

std::vector<ComPtr<IPin>> PinsOf(IBaseFilter* filter, PIN_DIRECTION wanted) {
  std::vector<ComPtr<IPin>> pins;
  ComPtr<IEnumPins> enumerator;
  if (FAILED(filter->EnumPins(&enumerator)) || !enumerator) return pins;
  IPin* pin = nullptr;
  while (enumerator->Next(1, &pin, nullptr) == S_OK) {
    ComPtr<IPin> held;
    held.Attach(pin);
    PIN_DIRECTION direction;
    if (SUCCEEDED(held->QueryDirection(&direction)) && direction == wanted) pins.push_back(held);
  }
  return pins;
}

bool IsConnected(IPin* pin) {
  ComPtr<IPin> peer;
  return SUCCEEDED(pin->ConnectedTo(&peer)) && peer;
}

ComPtr<IBaseFilter> FilterOfPin(IPin* pin) {
  PIN_INFO info{};
  ComPtr<IBaseFilter> filter;
  if (SUCCEEDED(pin->QueryPinInfo(&info))) filter.Attach(info.pFilter);
  return filter;
}

CLSID ClassOf(IBaseFilter* filter) {
  CLSID clsid = GUID_NULL;
  filter->GetClassID(&clsid);
  return clsid;
}

// The major types and subtypes a pin offers.
std::vector<std::pair<GUID, GUID>> OfferedTypes(IPin* pin) {
  std::vector<std::pair<GUID, GUID>> types;
  ComPtr<IEnumMediaTypes> enumerator;
  if (FAILED(pin->EnumMediaTypes(&enumerator)) || !enumerator) return types;
  AM_MEDIA_TYPE* type = nullptr;
  while (enumerator->Next(1, &type, nullptr) == S_OK && type) {
    types.emplace_back(type->majortype, type->subtype);
    DeleteMediaType(type);
    type = nullptr;
  }
  return types;
}

bool AcceptsAnyOf(const reel::RegisteredFilter& filter, const std::vector<std::pair<GUID, GUID>>& types) {
  for (const reel::RegisteredPin& pin : filter.pins) {
    if (pin.output) continue;
    for (const reel::RegisteredPinType& registered : pin.types)
      for (const auto& [major, sub] : types)
        if (reel::PinTypeMatches(registered, major, sub)) return true;
  }
  return false;
}

struct Event {
  LONG code;
  LONG_PTR param1;
  LONG_PTR param2;
};

class CFilterGraph : public CUnknown,
                     public IGraphBuilder,
                     public IMediaControl,
                     public IMediaEventEx,
                     public IMediaEventSink,
                     public CMediaTimeSeeking,
                     public IMediaPosition,
                     public IMediaFilter,
                     public IBasicAudio,
                     public IVideoWindow,
                     public IBasicVideo2,
                     public IObjectWithSite {
 public:
  explicit CFilterGraph(LPUNKNOWN outer) : CUnknown("filter graph", outer), m_eventHandle(TRUE) {}
  ~CFilterGraph() override;

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IFilterGraph
  HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) override;
  HRESULT RemoveFilter(IBaseFilter* filter) override;
  HRESULT EnumFilters(IEnumFilters** enumerator) override;
  HRESULT FindFilterByName(LPCWSTR name, IBaseFilter** filter) override;
  HRESULT ConnectDirect(IPin* output, IPin* input, const AM_MEDIA_TYPE* mediaType) override;
  HRESULT Reconnect(IPin* pin) override;
  HRESULT Disconnect(IPin* pin) override;
  HRESULT SetDefaultSyncSource() override;
  // IGraphBuilder
  HRESULT Connect(IPin* output, IPin* input) override;
  HRESULT Render(IPin* output) override;
  HRESULT RenderFile(LPCWSTR file, LPCWSTR playList) override;
  HRESULT AddSourceFilter(LPCWSTR fileName, LPCWSTR filterName, IBaseFilter** filter) override;
  HRESULT SetLogFile(DWORD_PTR) override { return S_OK; }
  HRESULT Abort() override { return S_OK; }
  HRESULT ShouldOperationContinue() override { return S_OK; }

  // IDispatch (every automation interface here): no type information; the
  // interfaces are called through their vtables.
  HRESULT GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return E_NOTIMPL;
  }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }

  // IMediaControl (Stop and Pause also serve IMediaFilter)
  HRESULT Run() override;
  HRESULT Pause() override;
  HRESULT Stop() override;
  HRESULT GetState(LONG millisecondsTimeout, OAFilterState* state) override;
  HRESULT RenderFile(BSTR fileName) override { return RenderFile(fileName, nullptr); }
  HRESULT AddSourceFilter(BSTR, IDispatch** filterInfo) override {
    if (filterInfo) *filterInfo = nullptr;
    return E_NOTIMPL;
  }
  HRESULT get_FilterCollection(IDispatch** collection) override {
    if (collection) *collection = nullptr;
    return E_NOTIMPL;
  }
  HRESULT get_RegFilterCollection(IDispatch** collection) override {
    if (collection) *collection = nullptr;
    return E_NOTIMPL;
  }
  HRESULT StopWhenReady() override;

  // IMediaEvent(Ex)
  HRESULT GetEventHandle(OAEVENT* event) override;
  HRESULT GetEvent(LONG* eventCode, LONG_PTR* param1, LONG_PTR* param2, LONG millisecondsTimeout) override;
  HRESULT WaitForCompletion(LONG millisecondsTimeout, LONG* eventCode) override;
  HRESULT CancelDefaultHandling(LONG eventCode) override;
  HRESULT RestoreDefaultHandling(LONG eventCode) override;
  HRESULT FreeEventParams(LONG, LONG_PTR, LONG_PTR) override { return S_OK; }
  HRESULT SetNotifyWindow(OAHWND window, LONG message, LONG_PTR instanceData) override;
  HRESULT SetNotifyFlags(LONG noNotifyFlags) override;
  HRESULT GetNotifyFlags(LONG* noNotifyFlags) override;

  // IMediaEventSink
  HRESULT Notify(LONG eventCode, LONG_PTR param1, LONG_PTR param2) override;

  // IMediaSeeking
  HRESULT GetCapabilities(DWORD* capabilities) override;
  HRESULT CheckCapabilities(DWORD* capabilities) override;
  HRESULT GetDuration(LONGLONG* duration) override;
  HRESULT GetStopPosition(LONGLONG* stop) override;
  HRESULT GetCurrentPosition(LONGLONG* current) override;
  HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) override;
  HRESULT GetPositions(LONGLONG* current, LONGLONG* stop) override;
  HRESULT GetAvailable(LONGLONG* earliest, LONGLONG* latest) override;
  HRESULT SetRate(double rate) override;
  HRESULT GetRate(double* rate) override;
  HRESULT GetPreroll(LONGLONG* preroll) override;

  // IMediaPosition (seconds)
  HRESULT get_Duration(REFTIME* length) override;
  HRESULT put_CurrentPosition(REFTIME time) override;
  HRESULT get_CurrentPosition(REFTIME* time) override;
  HRESULT get_StopTime(REFTIME* time) override;
  HRESULT put_StopTime(REFTIME time) override;
  HRESULT get_PrerollTime(REFTIME* time) override;
  HRESULT put_PrerollTime(REFTIME) override { return E_NOTIMPL; }
  HRESULT put_Rate(double rate) override { return SetRate(rate); }
  HRESULT get_Rate(double* rate) override { return GetRate(rate); }
  HRESULT CanSeekForward(LONG* canSeek) override;
  HRESULT CanSeekBackward(LONG* canSeek) override;

  // IMediaFilter
  HRESULT GetClassID(CLSID* classId) override {
    if (!classId) return E_POINTER;
    *classId = CLSID_FilterGraph;
    return S_OK;
  }
  HRESULT Run(REFERENCE_TIME start) override;
  HRESULT GetState(DWORD millisecondsTimeout, FILTER_STATE* state) override;
  HRESULT SetSyncSource(IReferenceClock* clock) override;
  HRESULT GetSyncSource(IReferenceClock** clock) override;

  // IObjectWithSite
  HRESULT SetSite(IUnknown* site) override;
  HRESULT GetSite(REFIID riid, void** site) override;

  // IBasicAudio, IVideoWindow, IBasicVideo2: forwarded (see below).
#define REEL_FORWARD(Interface, Method, Parameters, Arguments)                \
  HRESULT Method Parameters override {                                         \
    ComPtr<Interface> target;                                                  \
    if (!FindInterface(IID_##Interface, reinterpret_cast<void**>(&target)))   \
      return E_NOTIMPL;                                                        \
    return target->Method Arguments;                                           \
  }
  REEL_FORWARD(IBasicAudio, put_Volume, (LONG volume), (volume))
  REEL_FORWARD(IBasicAudio, get_Volume, (LONG* volume), (volume))
  REEL_FORWARD(IBasicAudio, put_Balance, (LONG balance), (balance))
  REEL_FORWARD(IBasicAudio, get_Balance, (LONG* balance), (balance))

  REEL_FORWARD(IVideoWindow, put_Caption, (BSTR caption), (caption))
  REEL_FORWARD(IVideoWindow, get_Caption, (BSTR* caption), (caption))
  REEL_FORWARD(IVideoWindow, put_WindowStyle, (LONG value), (value))
  REEL_FORWARD(IVideoWindow, get_WindowStyle, (LONG* value), (value))
  REEL_FORWARD(IVideoWindow, put_WindowStyleEx, (LONG value), (value))
  REEL_FORWARD(IVideoWindow, get_WindowStyleEx, (LONG* value), (value))
  REEL_FORWARD(IVideoWindow, put_AutoShow, (LONG value), (value))
  REEL_FORWARD(IVideoWindow, get_AutoShow, (LONG* value), (value))
  REEL_FORWARD(IVideoWindow, put_WindowState, (LONG value), (value))
  REEL_FORWARD(IVideoWindow, get_WindowState, (LONG* value), (value))
  REEL_FORWARD(IVideoWindow, put_BackgroundPalette, (LONG value), (value))
  REEL_FORWARD(IVideoWindow, get_BackgroundPalette, (LONG* value), (value))
  REEL_FORWARD(IVideoWindow, put_Visible, (LONG value), (value))
  REEL_FORWARD(IVideoWindow, get_Visible, (LONG* value), (value))
  REEL_FORWARD(IVideoWindow, put_Left, (LONG value), (value))
  REEL_FORWARD(IVideoWindow, get_Left, (LONG* value), (value))
  REEL_FORWARD(IVideoWindow, put_Width, (LONG value), (value))
  REEL_FORWARD(IVideoWindow, get_Width, (LONG* value), (value))
  REEL_FORWARD(IVideoWindow, put_Top, (LONG value), (value))
  REEL_FORWARD(IVideoWindow, get_Top, (LONG* value), (value))
  REEL_FORWARD(IVideoWindow, put_Height, (LONG value), (value))
  REEL_FORWARD(IVideoWindow, get_Height, (LONG* value), (value))
  REEL_FORWARD(IVideoWindow, put_Owner, (OAHWND value), (value))
  REEL_FORWARD(IVideoWindow, get_Owner, (OAHWND* value), (value))
  REEL_FORWARD(IVideoWindow, put_MessageDrain, (OAHWND value), (value))
  REEL_FORWARD(IVideoWindow, get_MessageDrain, (OAHWND* value), (value))
  REEL_FORWARD(IVideoWindow, get_BorderColor, (LONG* value), (value))
  REEL_FORWARD(IVideoWindow, put_BorderColor, (LONG value), (value))
  REEL_FORWARD(IVideoWindow, get_FullScreenMode, (LONG* value), (value))
  REEL_FORWARD(IVideoWindow, put_FullScreenMode, (LONG value), (value))
  REEL_FORWARD(IVideoWindow, SetWindowForeground, (LONG value), (value))
  REEL_FORWARD(IVideoWindow, NotifyOwnerMessage, (OAHWND window, LONG message, LONG_PTR wParam, LONG_PTR lParam),
               (window, message, wParam, lParam))
  REEL_FORWARD(IVideoWindow, SetWindowPosition, (LONG left, LONG top, LONG width, LONG height),
               (left, top, width, height))
  REEL_FORWARD(IVideoWindow, GetWindowPosition, (LONG * left, LONG* top, LONG* width, LONG* height),
               (left, top, width, height))
  REEL_FORWARD(IVideoWindow, GetMinIdealImageSize, (LONG * width, LONG* height), (width, height))
  REEL_FORWARD(IVideoWindow, GetMaxIdealImageSize, (LONG * width, LONG* height), (width, height))
  REEL_FORWARD(IVideoWindow, GetRestorePosition, (LONG * left, LONG* top, LONG* width, LONG* height),
               (left, top, width, height))
  REEL_FORWARD(IVideoWindow, HideCursor, (LONG hide), (hide))
  REEL_FORWARD(IVideoWindow, IsCursorHidden, (LONG * hidden), (hidden))

  REEL_FORWARD(IBasicVideo, get_AvgTimePerFrame, (REFTIME * time), (time))
  REEL_FORWARD(IBasicVideo, get_BitRate, (LONG * value), (value))
  REEL_FORWARD(IBasicVideo, get_BitErrorRate, (LONG * value), (value))
  REEL_FORWARD(IBasicVideo, get_VideoWidth, (LONG * value), (value))
  REEL_FORWARD(IBasicVideo, get_VideoHeight, (LONG * value), (value))
  REEL_FORWARD(IBasicVideo, put_SourceLeft, (LONG value), (value))
  REEL_FORWARD(IBasicVideo, get_SourceLeft, (LONG * value), (value))
  REEL_FORWARD(IBasicVideo, put_SourceWidth, (LONG value), (value))
  REEL_FORWARD(IBasicVideo, get_SourceWidth, (LONG * value), (value))
  REEL_FORWARD(IBasicVideo, put_SourceTop, (LONG value), (value))
  REEL_FORWARD(IBasicVideo, get_SourceTop, (LONG * value), (value))
  REEL_FORWARD(IBasicVideo, put_SourceHeight, (LONG value), (value))
  REEL_FORWARD(IBasicVideo, get_SourceHeight, (LONG * value), (value))
  REEL_FORWARD(IBasicVideo, put_DestinationLeft, (LONG value), (value))
  REEL_FORWARD(IBasicVideo, get_DestinationLeft, (LONG * value), (value))
  REEL_FORWARD(IBasicVideo, put_DestinationWidth, (LONG value), (value))
  REEL_FORWARD(IBasicVideo, get_DestinationWidth, (LONG * value), (value))
  REEL_FORWARD(IBasicVideo, put_DestinationTop, (LONG value), (value))
  REEL_FORWARD(IBasicVideo, get_DestinationTop, (LONG * value), (value))
  REEL_FORWARD(IBasicVideo, put_DestinationHeight, (LONG value), (value))
  REEL_FORWARD(IBasicVideo, get_DestinationHeight, (LONG * value), (value))
  REEL_FORWARD(IBasicVideo, SetSourcePosition, (LONG left, LONG top, LONG width, LONG height),
               (left, top, width, height))
  REEL_FORWARD(IBasicVideo, GetSourcePosition, (LONG * left, LONG* top, LONG* width, LONG* height),
               (left, top, width, height))
  REEL_FORWARD(IBasicVideo, SetDefaultSourcePosition, (), ())
  REEL_FORWARD(IBasicVideo, SetDestinationPosition, (LONG left, LONG top, LONG width, LONG height),
               (left, top, width, height))
  REEL_FORWARD(IBasicVideo, GetDestinationPosition, (LONG * left, LONG* top, LONG* width, LONG* height),
               (left, top, width, height))
  REEL_FORWARD(IBasicVideo, SetDefaultDestinationPosition, (), ())
  REEL_FORWARD(IBasicVideo, GetVideoSize, (LONG * width, LONG* height), (width, height))
  REEL_FORWARD(IBasicVideo, GetVideoPaletteEntries, (LONG start, LONG entries, LONG* retrieved, LONG* palette),
               (start, entries, retrieved, palette))
  REEL_FORWARD(IBasicVideo, GetCurrentImage, (LONG * size, LONG* image), (size, image))
  REEL_FORWARD(IBasicVideo, IsUsingDefaultSource, (), ())
  REEL_FORWARD(IBasicVideo, IsUsingDefaultDestination, (), ())
  REEL_FORWARD(IBasicVideo2, GetPreferredAspectRatio, (LONG * x, LONG* y), (x, y))
#undef REEL_FORWARD

 private:
  struct Entry {
    ComPtr<IBaseFilter> filter;
    std::u16string name;
  };

  // The first filter (in the order filters were added) answering iid.
  bool FindInterface(REFIID iid, void** ppv);
  bool Contains(IBaseFilter* filter);
  std::u16string UniqueName(const std::u16string& wanted);
  std::vector<ComPtr<IBaseFilter>> Filters();
  // Filters ordered so each comes before the filters upstream of it.
  std::vector<ComPtr<IBaseFilter>> DownstreamFirst();
  static bool IsRenderer(IBaseFilter* filter);
  std::vector<ComPtr<IMediaSeeking>> SeekingRenderers();

  HRESULT ChangeState(FILTER_STATE target, REFERENCE_TIME start);
  HRESULT PauseInternal();
  HRESULT RunInternal();
  HRESULT StopInternal();
  void ResetCompletion();
  void QueueEvent(const Event& event);

  HRESULT ConnectThrough(IPin* output, IPin* input, int depth, std::set<GUID>& onPath);
  HRESULT RenderInternal(IPin* output, int depth, std::set<GUID>& onPath);
  // Creates a registered filter and adds it under its friendly name.
  ComPtr<IBaseFilter> AddRegisteredFilter(const reel::RegisteredFilter& registered);
  // The output pins of filter not yet connected, rendered in turn: true
  // when at least one was rendered (or filter has no output pin).
  bool RenderOutputs(IBaseFilter* filter, int depth, std::set<GUID>& onPath);
  void DisconnectAll(IBaseFilter* filter);

  CCritSec m_lock;  // filters, connections, state
  std::vector<Entry> m_filters;
  LONG m_version = 1;
  FILTER_STATE m_state = State_Stopped;
  ComPtr<IReferenceClock> m_clock;
  bool m_clockChosen = false;  // set by SetSyncSource, including SetSyncSource(null)
  REFERENCE_TIME m_startTime = 0;        // clock time of stream time 0
  REFERENCE_TIME m_pausedStreamTime = 0;  // stream time when last paused
  ComPtr<IUnknown> m_site;

  // Events: filled from streaming threads, so under their own lock.
  std::mutex m_eventLock;
  std::condition_variable m_eventArrived;
  std::deque<Event> m_events;
  CAMEvent m_eventHandle;  // set while events wait
  HWND m_notifyWindow = nullptr;
  LONG m_notifyMessage = 0;
  LONG_PTR m_notifyInstance = 0;
  LONG m_notifyFlags = 0;
  bool m_defaultComplete = true;
  bool m_defaultRepaint = true;
  int m_renderers = 0;
  int m_completed = 0;
  bool m_completionReached = false;
  LONG m_completionCode = 0;
};

class CEnumFilters : public reel::ComObject<IEnumFilters> {
 public:
  CEnumFilters(std::vector<ComPtr<IBaseFilter>> filters, std::size_t position)
      : filters_(std::move(filters)), position_(position) {}
  HRESULT Next(ULONG count, IBaseFilter** filters, ULONG* fetched) override {
    if (!filters) return E_POINTER;
    if (!fetched && count != 1) return E_INVALIDARG;
    ULONG done = 0;
    while (done < count && position_ < filters_.size()) filters_[position_++].CopyTo(&filters[done++]);
    if (fetched) *fetched = done;
    return done == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG count) override {
    position_ += count;
    if (position_ > filters_.size()) {
      position_ = filters_.size();
      return S_FALSE;
    }
    return S_OK;
  }
  HRESULT Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT Clone(IEnumFilters** enumerator) override {
    if (!enumerator) return E_POINTER;
    auto* copy = new (std::nothrow) CEnumFilters(filters_, position_);
    if (!copy) return E_OUTOFMEMORY;
    *enumerator = copy;
    copy->AddRef();
    return S_OK;
  }

 private:
  std::vector<ComPtr<IBaseFilter>> filters_;
  std::size_t position_;
};

CFilterGraph::~CFilterGraph() {
  StopInternal();
  for (Entry& entry : m_filters) DisconnectAll(entry.filter.Get());
  for (Entry& entry : m_filters) {
    entry.filter->SetSyncSource(nullptr);
    entry.filter->JoinFilterGraph(nullptr, nullptr);
  }
  m_filters.clear();
}

HRESULT CFilterGraph::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IFilterGraph) return GetInterface(static_cast<IFilterGraph*>(static_cast<IGraphBuilder*>(this)), ppv);
  if (riid == IID_IGraphBuilder) return GetInterface(static_cast<IGraphBuilder*>(this), ppv);
  if (riid == IID_IMediaControl) return GetInterface(static_cast<IMediaControl*>(this), ppv);
  if (riid == IID_IMediaEvent) return GetInterface(static_cast<IMediaEvent*>(this), ppv);
  if (riid == IID_IMediaEventEx) return GetInterface(static_cast<IMediaEventEx*>(this), ppv);
  if (riid == IID_IMediaEventSink) return GetInterface(static_cast<IMediaEventSink*>(this), ppv);
  if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
  if (riid == IID_IMediaPosition) return GetInterface(static_cast<IMediaPosition*>(this), ppv);
  if (riid == IID_IMediaFilter) return GetInterface(static_cast<IMediaFilter*>(this), ppv);
  if (riid == IID_IPersist) return GetInterface(static_cast<IPersist*>(this), ppv);
  if (riid == IID_IBasicAudio) return GetInterface(static_cast<IBasicAudio*>(this), ppv);
  if (riid == IID_IVideoWindow) return GetInterface(static_cast<IVideoWindow*>(this), ppv);
  if (riid == IID_IBasicVideo) return GetInterface(static_cast<IBasicVideo*>(this), ppv);
  if (riid == IID_IBasicVideo2) return GetInterface(static_cast<IBasicVideo2*>(this), ppv);
  if (riid == IID_IObjectWithSite) return GetInterface(static_cast<IObjectWithSite*>(this), ppv);
  if (riid == IID_IDispatch) return GetInterface(static_cast<IDispatch*>(static_cast<IMediaControl*>(this)), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

// ---------------------------------------------------------------------------
// Filters

std::vector<ComPtr<IBaseFilter>> CFilterGraph::Filters() {
  CAutoLock hold(&m_lock);
  std::vector<ComPtr<IBaseFilter>> filters;
  for (const Entry& entry : m_filters) filters.push_back(entry.filter);
  return filters;
}

bool CFilterGraph::Contains(IBaseFilter* filter) {
  CAutoLock hold(&m_lock);
  return std::any_of(m_filters.begin(), m_filters.end(),
                     [&](const Entry& entry) { return reel::IsSameObject(entry.filter.Get(), filter); });
}

std::u16string CFilterGraph::UniqueName(const std::u16string& wanted) {
  auto taken = [this](const std::u16string& name) {
    return std::any_of(m_filters.begin(), m_filters.end(), [&](const Entry& entry) { return entry.name == name; });
  };
  if (!taken(wanted)) return wanted;
  // As DirectShow does: the name followed by a four-digit number.
  for (int number = 1; number < 10000; ++number) {
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, " %04d", number);
    std::u16string candidate = wanted + reel::Utf8ToUtf16(suffix);
    if (!taken(candidate)) return candidate;
  }
  return wanted + u" #";
}

HRESULT CFilterGraph::AddFilter(IBaseFilter* filter, LPCWSTR name) {
  if (!filter) return E_POINTER;
  CAutoLock hold(&m_lock);
  if (Contains(filter)) return VFW_E_DUPLICATE_NAME;
  std::u16string wanted = name ? std::u16string(name) : std::u16string();
  // Names are limited as FILTER_INFO holds them.
  if (wanted.size() > MAX_FILTER_NAME - 6) wanted.resize(MAX_FILTER_NAME - 6);
  std::u16string unique = UniqueName(wanted);
  HRESULT result = filter->JoinFilterGraph(static_cast<IFilterGraph*>(static_cast<IGraphBuilder*>(this)), unique.c_str());
  if (FAILED(result)) return result;
  m_filters.push_back(Entry{ComPtr<IBaseFilter>(filter), unique});
  ++m_version;
  if (m_clock) filter->SetSyncSource(m_clock.Get());
  return unique == wanted ? S_OK : VFW_S_DUPLICATE_NAME;
}

HRESULT CFilterGraph::RemoveFilter(IBaseFilter* filter) {
  if (!filter) return E_POINTER;
  CAutoLock hold(&m_lock);
  auto found = std::find_if(m_filters.begin(), m_filters.end(),
                            [&](const Entry& entry) { return reel::IsSameObject(entry.filter.Get(), filter); });
  if (found == m_filters.end()) return VFW_E_NOT_FOUND;
  ComPtr<IBaseFilter> held = found->filter;
  if (m_state != State_Stopped) held->Stop();
  DisconnectAll(held.Get());
  held->SetSyncSource(nullptr);
  held->JoinFilterGraph(nullptr, nullptr);
  m_filters.erase(found);
  ++m_version;
  return S_OK;
}

void CFilterGraph::DisconnectAll(IBaseFilter* filter) {
  for (PIN_DIRECTION direction : {PINDIR_INPUT, PINDIR_OUTPUT}) {
    for (ComPtr<IPin>& pin : PinsOf(filter, direction)) {
      ComPtr<IPin> peer;
      if (SUCCEEDED(pin->ConnectedTo(&peer)) && peer) {
        peer->Disconnect();
        pin->Disconnect();
      }
    }
  }
}

HRESULT CFilterGraph::EnumFilters(IEnumFilters** enumerator) {
  if (!enumerator) return E_POINTER;
  std::vector<ComPtr<IBaseFilter>> filters = Filters();
  // Most recently added first, as DirectShow enumerates.
  std::reverse(filters.begin(), filters.end());
  auto* created = new (std::nothrow) CEnumFilters(std::move(filters), 0);
  if (!created) return E_OUTOFMEMORY;
  *enumerator = created;
  created->AddRef();
  return S_OK;
}

HRESULT CFilterGraph::FindFilterByName(LPCWSTR name, IBaseFilter** filter) {
  if (!filter) return E_POINTER;
  *filter = nullptr;
  if (!name) return E_POINTER;
  CAutoLock hold(&m_lock);
  for (const Entry& entry : m_filters)
    if (entry.name == name) return entry.filter.CopyTo(filter);
  return VFW_E_NOT_FOUND;
}

bool CFilterGraph::FindInterface(REFIID iid, void** ppv) {
  *ppv = nullptr;
  for (ComPtr<IBaseFilter>& filter : Filters())
    if (SUCCEEDED(filter->QueryInterface(iid, ppv)) && *ppv) return true;
  return false;
}

bool CFilterGraph::IsRenderer(IBaseFilter* filter) {
  ComPtr<IAMFilterMiscFlags> flags;
  if (SUCCEEDED(filter->QueryInterface(IID_IAMFilterMiscFlags, reinterpret_cast<void**>(&flags))) && flags &&
      (flags->GetMiscFlags() & AM_FILTER_MISC_FLAGS_IS_RENDERER))
    return true;
  // A filter that takes a stream and sends nothing on renders it.
  if (!PinsOf(filter, PINDIR_OUTPUT).empty()) return false;
  for (ComPtr<IPin>& pin : PinsOf(filter, PINDIR_INPUT))
    if (IsConnected(pin.Get())) return true;
  return false;
}

std::vector<ComPtr<IBaseFilter>> CFilterGraph::DownstreamFirst() {
  std::vector<ComPtr<IBaseFilter>> filters = Filters();
  std::vector<ComPtr<IBaseFilter>> ordered;
  std::set<IBaseFilter*> visited;
  std::function<void(IBaseFilter*)> visit = [&](IBaseFilter* filter) {
    if (!visited.insert(filter).second) return;
    for (ComPtr<IPin>& pin : PinsOf(filter, PINDIR_OUTPUT)) {
      ComPtr<IPin> peer;
      if (SUCCEEDED(pin->ConnectedTo(&peer)) && peer) {
        ComPtr<IBaseFilter> downstream = FilterOfPin(peer.Get());
        if (!downstream) continue;
        for (ComPtr<IBaseFilter>& known : filters)
          if (reel::IsSameObject(known.Get(), downstream.Get())) visit(known.Get());
      }
    }
    ordered.push_back(ComPtr<IBaseFilter>(filter));
  };
  for (ComPtr<IBaseFilter>& filter : filters) visit(filter.Get());
  return ordered;
}

// ---------------------------------------------------------------------------
// Connections

HRESULT CFilterGraph::ConnectDirect(IPin* output, IPin* input, const AM_MEDIA_TYPE* mediaType) {
  if (!output || !input) return E_POINTER;
  ComPtr<IBaseFilter> from = FilterOfPin(output);
  ComPtr<IBaseFilter> to = FilterOfPin(input);
  if (!from || !to || !Contains(from.Get()) || !Contains(to.Get())) return VFW_E_NOT_IN_GRAPH;
  PIN_DIRECTION direction;
  if (FAILED(output->QueryDirection(&direction)) || direction != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
  CAutoLock hold(&m_lock);
  return output->Connect(input, mediaType);
}

HRESULT CFilterGraph::Reconnect(IPin* pin) {
  if (!pin) return E_POINTER;
  ComPtr<IPin> peer;
  if (FAILED(pin->ConnectedTo(&peer)) || !peer) return VFW_E_NOT_CONNECTED;
  PIN_DIRECTION direction;
  pin->QueryDirection(&direction);
  IPin* output = direction == PINDIR_OUTPUT ? pin : peer.Get();
  IPin* input = direction == PINDIR_OUTPUT ? peer.Get() : pin;
  CMediaType type;
  output->ConnectionMediaType(&type);
  CAutoLock hold(&m_lock);
  if (m_state != State_Stopped) return VFW_E_NOT_STOPPED;
  output->Disconnect();
  input->Disconnect();
  return output->Connect(input, &type);
}

HRESULT CFilterGraph::Disconnect(IPin* pin) {
  if (!pin) return E_POINTER;
  CAutoLock hold(&m_lock);
  return pin->Disconnect();
}

ComPtr<IBaseFilter> CFilterGraph::AddRegisteredFilter(const reel::RegisteredFilter& registered) {
  ComPtr<IBaseFilter> filter;
  if (FAILED(CoCreateInstance(registered.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                              reinterpret_cast<void**>(&filter))) ||
      !filter)
    return nullptr;
  if (FAILED(AddFilter(filter.Get(), registered.name.c_str()))) return nullptr;
  return filter;
}

HRESULT CFilterGraph::Connect(IPin* output, IPin* input) {
  if (!output || !input) return E_POINTER;
  HRESULT result = ConnectDirect(output, input, nullptr);
  if (SUCCEEDED(result) || result == VFW_E_NOT_IN_GRAPH || result == VFW_E_ALREADY_CONNECTED ||
      result == VFW_E_NOT_STOPPED || result == VFW_E_INVALID_DIRECTION)
    return result;
  std::set<GUID> onPath;
  if (ComPtr<IBaseFilter> from = FilterOfPin(output)) onPath.insert(ClassOf(from.Get()));
  if (ComPtr<IBaseFilter> to = FilterOfPin(input)) onPath.insert(ClassOf(to.Get()));
  result = ConnectThrough(output, input, 0, onPath);
  return SUCCEEDED(result) ? S_OK : VFW_E_CANNOT_CONNECT;
}

HRESULT CFilterGraph::ConnectThrough(IPin* output, IPin* input, int depth, std::set<GUID>& onPath) {
  if (depth >= kMaxConnectDepth) return VFW_E_CANNOT_CONNECT;
  std::vector<std::pair<GUID, GUID>> types = OfferedTypes(output);
  for (const reel::RegisteredFilter& registered : reel::FiltersInCategory(CLSID_LegacyAmFilterCategory)) {
    if (registered.merit <= MERIT_DO_NOT_USE) continue;
    if (onPath.count(registered.clsid) || !AcceptsAnyOf(registered, types)) continue;
    ComPtr<IBaseFilter> middle = AddRegisteredFilter(registered);
    if (!middle) continue;
    onPath.insert(registered.clsid);
    bool done = false;
    for (ComPtr<IPin>& middleInput : PinsOf(middle.Get(), PINDIR_INPUT)) {
      if (IsConnected(middleInput.Get()) || FAILED(ConnectDirect(output, middleInput.Get(), nullptr))) continue;
      for (ComPtr<IPin>& middleOutput : PinsOf(middle.Get(), PINDIR_OUTPUT)) {
        if (IsConnected(middleOutput.Get())) continue;
        if (SUCCEEDED(ConnectDirect(middleOutput.Get(), input, nullptr)) ||
            SUCCEEDED(ConnectThrough(middleOutput.Get(), input, depth + 1, onPath))) {
          done = true;
          break;
        }
      }
      if (done) break;
      output->Disconnect();
      middleInput->Disconnect();
    }
    onPath.erase(registered.clsid);
    if (done) return S_OK;
    RemoveFilter(middle.Get());
  }
  return VFW_E_CANNOT_CONNECT;
}

bool CFilterGraph::RenderOutputs(IBaseFilter* filter, int depth, std::set<GUID>& onPath) {
  std::vector<ComPtr<IPin>> outputs = PinsOf(filter, PINDIR_OUTPUT);
  if (outputs.empty()) return true;
  bool any = false;
  bool allConnected = true;
  for (ComPtr<IPin>& pin : outputs) {
    if (IsConnected(pin.Get())) continue;
    allConnected = false;
    if (SUCCEEDED(RenderInternal(pin.Get(), depth + 1, onPath))) any = true;
  }
  return any || allConnected;
}

HRESULT CFilterGraph::Render(IPin* output) {
  if (!output) return E_POINTER;
  PIN_DIRECTION direction;
  if (FAILED(output->QueryDirection(&direction)) || direction != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
  if (IsConnected(output)) return VFW_E_ALREADY_CONNECTED;
  ComPtr<IBaseFilter> owner = FilterOfPin(output);
  if (!owner || !Contains(owner.Get())) return VFW_E_NOT_IN_GRAPH;
  std::set<GUID> onPath{ClassOf(owner.Get())};
  return RenderInternal(output, 0, onPath);
}

HRESULT CFilterGraph::RenderInternal(IPin* output, int depth, std::set<GUID>& onPath) {
  if (depth >= kMaxConnectDepth) return VFW_E_CANNOT_RENDER;
  ComPtr<IBaseFilter> owner = FilterOfPin(output);

  // Filters already in the graph with a free input come first, so that a
  // caller's filters end up in the chain.
  for (ComPtr<IBaseFilter>& candidate : Filters()) {
    if (owner && reel::IsSameObject(candidate.Get(), owner.Get())) continue;
    for (ComPtr<IPin>& input : PinsOf(candidate.Get(), PINDIR_INPUT)) {
      if (IsConnected(input.Get())) continue;
      // A filter with connected outputs is upstream of us or in use: skip.
      bool feedsOthers = false;
      for (ComPtr<IPin>& candidateOutput : PinsOf(candidate.Get(), PINDIR_OUTPUT))
        feedsOthers = feedsOthers || IsConnected(candidateOutput.Get());
      if (feedsOthers) break;
      if (FAILED(ConnectDirect(output, input.Get(), nullptr))) continue;
      if (RenderOutputs(candidate.Get(), depth, onPath)) return S_OK;
      output->Disconnect();
      input->Disconnect();
    }
  }

  std::vector<std::pair<GUID, GUID>> types = OfferedTypes(output);
  for (const reel::RegisteredFilter& registered : reel::FiltersInCategory(CLSID_LegacyAmFilterCategory)) {
    if (registered.merit <= MERIT_DO_NOT_USE) continue;
    if (onPath.count(registered.clsid) || !AcceptsAnyOf(registered, types)) continue;
    ComPtr<IBaseFilter> next = AddRegisteredFilter(registered);
    if (!next) continue;
    onPath.insert(registered.clsid);
    bool done = false;
    for (ComPtr<IPin>& input : PinsOf(next.Get(), PINDIR_INPUT)) {
      if (IsConnected(input.Get()) || FAILED(ConnectDirect(output, input.Get(), nullptr))) continue;
      if (RenderOutputs(next.Get(), depth, onPath)) {
        done = true;
        break;
      }
      output->Disconnect();
      input->Disconnect();
    }
    onPath.erase(registered.clsid);
    if (done) return S_OK;
    RemoveFilter(next.Get());
  }
  return VFW_E_CANNOT_RENDER;
}

HRESULT CFilterGraph::AddSourceFilter(LPCWSTR fileName, LPCWSTR filterName, IBaseFilter** filter) {
  if (!fileName || !filter) return E_POINTER;
  *filter = nullptr;
  std::string path = reel::Utf16ToUtf8(fileName);
  std::error_code error;
  if (path.empty() || !std::filesystem::is_regular_file(path, error))
    return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

  // The source registered for the extension, then the generic one; a
  // registered source that cannot read the file gives way to the generic
  // source, which recognises files by their content.
  std::vector<CLSID> candidates;
  std::string extension = std::filesystem::path(path).extension().string();
  if (!extension.empty()) {
    reel::RegistryKey key = reel::RegistryKey::Open(HKEY_CLASSES_ROOT, "Media Type\\Extensions\\" + extension);
    if (key) {
      if (auto text = key.String("Source Filter"))
        if (auto clsid = reel::GuidFromString(*text)) candidates.push_back(*clsid);
    }
  }
  if (std::find(candidates.begin(), candidates.end(), CLSID_MediaFileSource) == candidates.end())
    candidates.push_back(CLSID_MediaFileSource);

  HRESULT failure = VFW_E_CANNOT_LOAD_SOURCE_FILTER;
  for (const CLSID& clsid : candidates) {
    ComPtr<IBaseFilter> source;
    HRESULT result =
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, reinterpret_cast<void**>(&source));
    if (FAILED(result) || !source) continue;
    ComPtr<IFileSourceFilter> fileSource;
    if (FAILED(source.As(&fileSource))) continue;
    result = AddFilter(source.Get(), filterName ? filterName : fileName);
    if (FAILED(result)) return result;
    result = fileSource->Load(fileName, nullptr);
    if (SUCCEEDED(result)) {
      *filter = source.Detach();
      return S_OK;
    }
    failure = result;
    RemoveFilter(source.Get());
  }
  return failure;
}

HRESULT CFilterGraph::RenderFile(LPCWSTR file, LPCWSTR) {
  if (!file) return E_POINTER;
  std::vector<ComPtr<IBaseFilter>> before = Filters();
  ComPtr<IBaseFilter> source;
  HRESULT result = AddSourceFilter(file, file, &source);
  if (FAILED(result)) return result;
  int rendered = 0;
  int failed = 0;
  for (ComPtr<IPin>& pin : PinsOf(source.Get(), PINDIR_OUTPUT)) {
    if (IsConnected(pin.Get())) continue;
    if (SUCCEEDED(Render(pin.Get()))) ++rendered;
    else ++failed;
  }
  if (rendered > 0) return failed == 0 ? S_OK : VFW_S_PARTIAL_RENDER;
  // Nothing rendered: leave the graph as it was.
  for (ComPtr<IBaseFilter>& filter : Filters()) {
    bool existed = std::any_of(before.begin(), before.end(),
                               [&](const ComPtr<IBaseFilter>& old) { return old.Get() == filter.Get(); });
    if (!existed) RemoveFilter(filter.Get());
  }
  return VFW_E_CANNOT_RENDER;
}

// ---------------------------------------------------------------------------
// State

HRESULT CFilterGraph::SetDefaultSyncSource() {
  ComPtr<IReferenceClock> clock;
  // A filter that provides a clock (an audio renderer) is preferred.
  for (ComPtr<IBaseFilter>& filter : DownstreamFirst()) {
    if (SUCCEEDED(filter->QueryInterface(IID_IReferenceClock, reinterpret_cast<void**>(&clock))) && clock) break;
    clock.Reset();
  }
  if (!clock) {
    HRESULT result = CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER, IID_IReferenceClock,
                                      reinterpret_cast<void**>(&clock));
    if (FAILED(result)) return result;
  }
  return SetSyncSource(clock.Get());
}

HRESULT CFilterGraph::SetSyncSource(IReferenceClock* clock) {
  CAutoLock hold(&m_lock);
  if (m_state != State_Stopped) return VFW_E_NOT_STOPPED;
  m_clock = clock;
  m_clockChosen = true;
  for (Entry& entry : m_filters) entry.filter->SetSyncSource(clock);
  return S_OK;
}

HRESULT CFilterGraph::GetSyncSource(IReferenceClock** clock) {
  if (!clock) return E_POINTER;
  CAutoLock hold(&m_lock);
  *clock = m_clock.Get();
  if (*clock) (*clock)->AddRef();
  return m_clock ? S_OK : S_FALSE;
}

void CFilterGraph::ResetCompletion() {
  int renderers = 0;
  for (ComPtr<IBaseFilter>& filter : Filters())
    if (IsRenderer(filter.Get())) ++renderers;
  std::lock_guard<std::mutex> hold(m_eventLock);
  m_renderers = renderers;
  m_completed = 0;
  m_completionReached = false;
}

HRESULT CFilterGraph::PauseInternal() {
  if (m_state == State_Paused) return S_OK;
  if (m_state == State_Stopped) {
    if (!m_clockChosen) SetDefaultSyncSource();
    ResetCompletion();
    m_pausedStreamTime = 0;
  } else if (m_clock) {
    REFERENCE_TIME now = 0;
    m_clock->GetTime(&now);
    m_pausedStreamTime = now - m_startTime;
  }
  HRESULT failure = S_OK;
  for (ComPtr<IBaseFilter>& filter : DownstreamFirst()) {
    HRESULT result = filter->Pause();
    if (FAILED(result) && SUCCEEDED(failure)) failure = result;
  }
  if (FAILED(failure)) {
    StopInternal();
    return failure;
  }
  m_state = State_Paused;
  return S_OK;
}

HRESULT CFilterGraph::RunInternal() {
  if (m_state == State_Running) return S_OK;
  if (m_state == State_Stopped) {
    HRESULT result = PauseInternal();
    if (FAILED(result)) return result;
  }
  // Stream time continues from where the pause left it; a little lead lets
  // every filter start before the first sample is due.
  REFERENCE_TIME start = 0;
  if (m_clock) {
    REFERENCE_TIME now = 0;
    m_clock->GetTime(&now);
    start = now + 100000 - m_pausedStreamTime;
  }
  return ChangeState(State_Running, start);
}

HRESULT CFilterGraph::ChangeState(FILTER_STATE target, REFERENCE_TIME start) {
  m_startTime = start;
  HRESULT failure = S_OK;
  for (ComPtr<IBaseFilter>& filter : DownstreamFirst()) {
    HRESULT result = target == State_Running ? filter->Run(start) : filter->Pause();
    if (FAILED(result) && SUCCEEDED(failure)) failure = result;
  }
  if (FAILED(failure)) {
    StopInternal();
    return failure;
  }
  m_state = target;
  return S_OK;
}

HRESULT CFilterGraph::StopInternal() {
  if (m_state == State_Stopped) return S_OK;
  // The stream resumes from here at the next run.
  LONGLONG position = 0;
  bool havePosition = SUCCEEDED(GetCurrentPosition(&position));
  HRESULT failure = S_OK;
  for (ComPtr<IBaseFilter>& filter : DownstreamFirst()) {
    HRESULT result = filter->Stop();
    if (FAILED(result) && SUCCEEDED(failure)) failure = result;
  }
  m_state = State_Stopped;
  if (havePosition) {
    for (ComPtr<IMediaSeeking>& seeking : SeekingRenderers())
      seeking->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
  }
  return failure;
}

HRESULT CFilterGraph::Run() {
  CAutoLock hold(&m_lock);
  return RunInternal();
}

HRESULT CFilterGraph::Run(REFERENCE_TIME start) {
  CAutoLock hold(&m_lock);
  if (m_state == State_Stopped) {
    HRESULT result = PauseInternal();
    if (FAILED(result)) return result;
  }
  return ChangeState(State_Running, start);
}

HRESULT CFilterGraph::Pause() {
  CAutoLock hold(&m_lock);
  if (m_state == State_Running) {
    if (m_clock) {
      REFERENCE_TIME now = 0;
      m_clock->GetTime(&now);
      m_pausedStreamTime = now - m_startTime;
    }
    return ChangeState(State_Paused, m_startTime);
  }
  return PauseInternal();
}

HRESULT CFilterGraph::Stop() {
  CAutoLock hold(&m_lock);
  return StopInternal();
}

HRESULT CFilterGraph::GetState(DWORD millisecondsTimeout, FILTER_STATE* state) {
  if (!state) return E_POINTER;
  FILTER_STATE target;
  {
    CAutoLock hold(&m_lock);
    target = m_state;
  }
  *state = target;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(millisecondsTimeout);
  HRESULT answer = S_OK;
  for (ComPtr<IBaseFilter>& filter : Filters()) {
    DWORD remaining = millisecondsTimeout;
    if (millisecondsTimeout != INFINITE) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      remaining = left.count() > 0 ? static_cast<DWORD>(left.count()) : 0;
    }
    FILTER_STATE filterState;
    HRESULT result = filter->GetState(remaining, &filterState);
    if (FAILED(result)) return result;
    if (result == VFW_S_STATE_INTERMEDIATE || result == VFW_S_CANT_CUE) answer = result;
  }
  return answer;
}

HRESULT CFilterGraph::GetState(LONG millisecondsTimeout, OAFilterState* state) {
  if (!state) return E_POINTER;
  FILTER_STATE filterState;
  HRESULT result =
      GetState(millisecondsTimeout < 0 ? INFINITE : static_cast<DWORD>(millisecondsTimeout), &filterState);
  *state = filterState;
  return result;
}

HRESULT CFilterGraph::StopWhenReady() {
  HRESULT result = Pause();
  if (FAILED(result)) return result;
  FILTER_STATE state;
  GetState(kCueTimeoutMilliseconds, &state);
  return Stop();
}

// ---------------------------------------------------------------------------
// Events

void CFilterGraph::QueueEvent(const Event& event) {
  HWND window;
  LONG message;
  LONG_PTR instance;
  {
    std::lock_guard<std::mutex> hold(m_eventLock);
    if (m_notifyFlags & AM_MEDIAEVENT_NONOTIFY) return;
    m_events.push_back(event);
    m_eventHandle.Set();
    if (event.code == EC_COMPLETE || event.code == EC_ERRORABORT || event.code == EC_USERABORT) {
      m_completionReached = true;
      m_completionCode = event.code;
    }
    window = m_notifyWindow;
    message = m_notifyMessage;
    instance = m_notifyInstance;
  }
  m_eventArrived.notify_all();
  if (window) PostMessageA(window, static_cast<UINT>(message), 0, instance);
}

HRESULT CFilterGraph::Notify(LONG eventCode, LONG_PTR param1, LONG_PTR param2) {
  if (eventCode == EC_COMPLETE) {
    bool complete;
    {
      std::lock_guard<std::mutex> hold(m_eventLock);
      if (!m_defaultComplete) {
        complete = true;
      } else {
        // One EC_COMPLETE for the graph, once every renderer has finished.
        ++m_completed;
        complete = m_completed == m_renderers;
        param2 = 0;
      }
    }
    if (complete) QueueEvent(Event{EC_COMPLETE, param1, param2});
    return S_OK;
  }
  if (eventCode == EC_REPAINT) {
    std::lock_guard<std::mutex> hold(m_eventLock);
    if (m_defaultRepaint) return S_OK;
  }
  QueueEvent(Event{eventCode, param1, param2});
  return S_OK;
}

HRESULT CFilterGraph::GetEventHandle(OAEVENT* event) {
  if (!event) return E_POINTER;
  *event = static_cast<OAEVENT>(m_eventHandle.Handle());
  return S_OK;
}

HRESULT CFilterGraph::GetEvent(LONG* eventCode, LONG_PTR* param1, LONG_PTR* param2, LONG millisecondsTimeout) {
  if (!eventCode || !param1 || !param2) return E_POINTER;
  std::unique_lock<std::mutex> hold(m_eventLock);
  auto ready = [this] { return !m_events.empty(); };
  if (millisecondsTimeout < 0) m_eventArrived.wait(hold, ready);
  else m_eventArrived.wait_for(hold, std::chrono::milliseconds(millisecondsTimeout), ready);
  if (m_events.empty()) {
    *eventCode = 0;
    *param1 = *param2 = 0;
    return E_ABORT;
  }
  Event event = m_events.front();
  m_events.pop_front();
  if (m_events.empty()) m_eventHandle.Reset();
  *eventCode = event.code;
  *param1 = event.param1;
  *param2 = event.param2;
  return S_OK;
}

HRESULT CFilterGraph::WaitForCompletion(LONG millisecondsTimeout, LONG* eventCode) {
  if (!eventCode) return E_POINTER;
  *eventCode = 0;
  {
    CAutoLock hold(&m_lock);
    if (m_state != State_Running) return VFW_E_WRONG_STATE;
  }
  std::unique_lock<std::mutex> hold(m_eventLock);
  auto ready = [this] { return m_completionReached; };
  if (millisecondsTimeout < 0) m_eventArrived.wait(hold, ready);
  else if (!m_eventArrived.wait_for(hold, std::chrono::milliseconds(millisecondsTimeout), ready)) return E_ABORT;
  *eventCode = m_completionCode;
  return S_OK;
}

HRESULT CFilterGraph::CancelDefaultHandling(LONG eventCode) {
  std::lock_guard<std::mutex> hold(m_eventLock);
  if (eventCode == EC_COMPLETE) m_defaultComplete = false;
  else if (eventCode == EC_REPAINT) m_defaultRepaint = false;
  else return S_FALSE;
  return S_OK;
}

HRESULT CFilterGraph::RestoreDefaultHandling(LONG eventCode) {
  std::lock_guard<std::mutex> hold(m_eventLock);
  if (eventCode == EC_COMPLETE) m_defaultComplete = true;
  else if (eventCode == EC_REPAINT) m_defaultRepaint = true;
  else return S_FALSE;
  return S_OK;
}

HRESULT CFilterGraph::SetNotifyWindow(OAHWND window, LONG message, LONG_PTR instanceData) {
  HWND target = reinterpret_cast<HWND>(window);
  bool pending;
  {
    std::lock_guard<std::mutex> hold(m_eventLock);
    m_notifyWindow = target;
    m_notifyMessage = message;
    m_notifyInstance = instanceData;
    pending = !m_events.empty();
  }
  // Events that arrived before the window was set are announced now.
  if (target && pending) PostMessageA(target, static_cast<UINT>(message), 0, instanceData);
  return S_OK;
}

HRESULT CFilterGraph::SetNotifyFlags(LONG noNotifyFlags) {
  if (noNotifyFlags & ~AM_MEDIAEVENT_NONOTIFY) return E_INVALIDARG;
  std::lock_guard<std::mutex> hold(m_eventLock);
  m_notifyFlags = noNotifyFlags;
  if (noNotifyFlags & AM_MEDIAEVENT_NONOTIFY) {
    m_events.clear();
    m_eventHandle.Reset();
  }
  return S_OK;
}

HRESULT CFilterGraph::GetNotifyFlags(LONG* noNotifyFlags) {
  if (!noNotifyFlags) return E_POINTER;
  std::lock_guard<std::mutex> hold(m_eventLock);
  *noNotifyFlags = m_notifyFlags;
  return S_OK;
}

// ---------------------------------------------------------------------------
// Seeking: through every renderer that can seek.

std::vector<ComPtr<IMediaSeeking>> CFilterGraph::SeekingRenderers() {
  std::vector<ComPtr<IMediaSeeking>> seekers;
  for (ComPtr<IBaseFilter>& filter : Filters()) {
    if (!IsRenderer(filter.Get())) continue;
    ComPtr<IMediaSeeking> seeking;
    if (SUCCEEDED(filter->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking))) && seeking) {
      DWORD capabilities = 0;
      if (SUCCEEDED(seeking->GetCapabilities(&capabilities))) seekers.push_back(seeking);
    }
  }
  return seekers;
}

HRESULT CFilterGraph::GetCapabilities(DWORD* capabilities) {
  if (!capabilities) return E_POINTER;
  auto seekers = SeekingRenderers();
  if (seekers.empty()) {
    *capabilities = 0;
    return E_NOTIMPL;
  }
  DWORD all = ~0u;
  for (auto& seeking : seekers) {
    DWORD each = 0;
    seeking->GetCapabilities(&each);
    all &= each;
  }
  *capabilities = all;
  return S_OK;
}

HRESULT CFilterGraph::CheckCapabilities(DWORD* capabilities) {
  if (!capabilities) return E_POINTER;
  DWORD available = 0;
  HRESULT result = GetCapabilities(&available);
  if (FAILED(result)) return result;
  DWORD wanted = *capabilities;
  *capabilities &= available;
  if (*capabilities == wanted) return S_OK;
  return *capabilities ? S_FALSE : E_FAIL;
}

HRESULT CFilterGraph::GetDuration(LONGLONG* duration) {
  if (!duration) return E_POINTER;
  *duration = 0;
  HRESULT answer = E_NOTIMPL;
  for (auto& seeking : SeekingRenderers()) {
    LONGLONG each = 0;
    if (SUCCEEDED(seeking->GetDuration(&each))) {
      *duration = std::max(*duration, each);
      answer = S_OK;
    }
  }
  return answer;
}

HRESULT CFilterGraph::GetStopPosition(LONGLONG* stop) {
  if (!stop) return E_POINTER;
  *stop = 0;
  HRESULT answer = E_NOTIMPL;
  for (auto& seeking : SeekingRenderers()) {
    LONGLONG each = 0;
    if (SUCCEEDED(seeking->GetStopPosition(&each))) {
      *stop = std::max(*stop, each);
      answer = S_OK;
    }
  }
  return answer;
}

HRESULT CFilterGraph::GetCurrentPosition(LONGLONG* current) {
  if (!current) return E_POINTER;
  *current = 0;
  // The slowest renderer's position: what has been presented everywhere.
  bool found = false;
  LONGLONG position = 0;
  for (auto& seeking : SeekingRenderers()) {
    LONGLONG each = 0;
    if (SUCCEEDED(seeking->GetCurrentPosition(&each))) {
      position = found ? std::min(position, each) : each;
      found = true;
    }
  }
  if (!found) return E_NOTIMPL;
  *current = position;
  return S_OK;
}

HRESULT CFilterGraph::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) {
  DWORD currentPositioning = currentFlags & AM_SEEKING_PositioningBitsMask;
  DWORD stopPositioning = stopFlags & AM_SEEKING_PositioningBitsMask;
  if ((currentPositioning && !current) || (stopPositioning && !stop)) return E_POINTER;
  CAutoLock hold(&m_lock);
  auto seekers = SeekingRenderers();
  if (seekers.empty()) return E_NOTIMPL;
  // A running graph pauses for the seek and runs again from the new position.
  FILTER_STATE before = m_state;
  if (before == State_Running) ChangeState(State_Paused, m_startTime);
  if (currentPositioning) ResetCompletion();
  HRESULT answer = S_OK;
  for (auto& seeking : seekers) {
    LONGLONG currentValue = current ? *current : 0;
    LONGLONG stopValue = stop ? *stop : 0;
    HRESULT result = seeking->SetPositions(current ? &currentValue : nullptr, currentFlags,
                                           stop ? &stopValue : nullptr, stopFlags);
    if (FAILED(result)) answer = result;
  }
  if (currentPositioning) m_pausedStreamTime = 0;
  if (before == State_Running) {
    REFERENCE_TIME start = 0;
    if (m_clock) {
      REFERENCE_TIME now = 0;
      m_clock->GetTime(&now);
      start = now + 100000;
    }
    ChangeState(State_Running, start);
  }
  return answer;
}

HRESULT CFilterGraph::GetPositions(LONGLONG* current, LONGLONG* stop) {
  HRESULT result = S_OK;
  if (current) result = GetCurrentPosition(current);
  if (stop && SUCCEEDED(result)) result = GetStopPosition(stop);
  return result;
}

HRESULT CFilterGraph::GetAvailable(LONGLONG* earliest, LONGLONG* latest) {
  if (earliest) *earliest = 0;
  if (latest) return GetDuration(latest);
  return S_OK;
}

HRESULT CFilterGraph::SetRate(double rate) {
  if (rate <= 0) return E_INVALIDARG;
  auto seekers = SeekingRenderers();
  if (seekers.empty()) return E_NOTIMPL;
  for (auto& seeking : seekers) {
    HRESULT result = seeking->SetRate(rate);
    if (FAILED(result)) return result;
  }
  return S_OK;
}

HRESULT CFilterGraph::GetRate(double* rate) {
  if (!rate) return E_POINTER;
  *rate = 1.0;
  for (auto& seeking : SeekingRenderers()) return seeking->GetRate(rate);
  return S_OK;
}

HRESULT CFilterGraph::GetPreroll(LONGLONG* preroll) {
  if (!preroll) return E_POINTER;
  *preroll = 0;
  return S_OK;
}

HRESULT CFilterGraph::get_Duration(REFTIME* length) {
  if (!length) return E_POINTER;
  LONGLONG duration = 0;
  HRESULT result = GetDuration(&duration);
  *length = static_cast<double>(duration) / UNITS;
  return result;
}

HRESULT CFilterGraph::put_CurrentPosition(REFTIME time) {
  LONGLONG position = static_cast<LONGLONG>(time * UNITS);
  return SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
}

HRESULT CFilterGraph::get_CurrentPosition(REFTIME* time) {
  if (!time) return E_POINTER;
  LONGLONG position = 0;
  HRESULT result = GetCurrentPosition(&position);
  *time = static_cast<double>(position) / UNITS;
  return result;
}

HRESULT CFilterGraph::get_StopTime(REFTIME* time) {
  if (!time) return E_POINTER;
  LONGLONG stop = 0;
  HRESULT result = GetStopPosition(&stop);
  *time = static_cast<double>(stop) / UNITS;
  return result;
}

HRESULT CFilterGraph::put_StopTime(REFTIME time) {
  LONGLONG stop = static_cast<LONGLONG>(time * UNITS);
  return SetPositions(nullptr, AM_SEEKING_NoPositioning, &stop, AM_SEEKING_AbsolutePositioning);
}

HRESULT CFilterGraph::get_PrerollTime(REFTIME* time) {
  if (!time) return E_POINTER;
  *time = 0;
  return S_OK;
}

HRESULT CFilterGraph::CanSeekForward(LONG* canSeek) {
  if (!canSeek) return E_POINTER;
  DWORD capabilities = 0;
  GetCapabilities(&capabilities);
  *canSeek = (capabilities & AM_SEEKING_CanSeekForwards) ? OATRUE : OAFALSE;
  return S_OK;
}

HRESULT CFilterGraph::CanSeekBackward(LONG* canSeek) {
  if (!canSeek) return E_POINTER;
  DWORD capabilities = 0;
  GetCapabilities(&capabilities);
  *canSeek = (capabilities & AM_SEEKING_CanSeekBackwards) ? OATRUE : OAFALSE;
  return S_OK;
}

// ---------------------------------------------------------------------------
// Site

HRESULT CFilterGraph::SetSite(IUnknown* site) {
  CAutoLock hold(&m_lock);
  m_site = site;
  return S_OK;
}

HRESULT CFilterGraph::GetSite(REFIID riid, void** site) {
  if (!site) return E_POINTER;
  *site = nullptr;
  CAutoLock hold(&m_lock);
  if (!m_site) return E_FAIL;
  return m_site->QueryInterface(riid, site);
}

}  // namespace

namespace reel {

HRESULT CreateFilterGraph(IUnknown* outer, REFIID riid, void** ppv) { return CreateComObject<CFilterGraph>(outer, riid, ppv); }

}  // namespace reel

namespace {
const bool kFilterGraphRegistered = reel::RegisterBuiltinClass(CLSID_FilterGraph, &reel::CreateFilterGraph);
const bool kFilterGraphNoThreadRegistered =
    reel::RegisterBuiltinClass(CLSID_FilterGraphNoThread, &reel::CreateFilterGraph);
}  // namespace
