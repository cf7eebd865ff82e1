#include "platform/dshow/BaseFilter.h"

#include <algorithm>

#include "platform/com/TaskMemory.h"
#include "platform/win/Strings.h"

namespace reel {

void CopyWideName(WCHAR* target, std::size_t capacity, const std::u16string& text) {
  if (capacity == 0) return;
  std::size_t length = std::min(text.size(), capacity - 1);
  std::copy_n(text.data(), length, target);
  target[length] = 0;
}

LPWSTR CoTaskMemWideCopy(const std::u16string& text) {
  auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(WCHAR)));
  if (!copy) return nullptr;
  std::copy(text.begin(), text.end(), copy);
  copy[text.size()] = 0;
  return copy;
}

}  // namespace reel

namespace {
std::u16string WideFrom(LPCWSTR text) { return text ? std::u16string(text) : std::u16string(); }
}  // namespace

// ---------------------------------------------------------------------------
// CBaseFilter

CBaseFilter::CBaseFilter(const char* name, LPUNKNOWN outer, CCritSec* lock, REFCLSID clsid, HRESULT*)
    : CUnknown(name, outer), m_clsid(clsid), m_pLock(lock) {}

CBaseFilter::~CBaseFilter() {
  if (m_pClock) m_pClock->Release();
}

HRESULT CBaseFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IBaseFilter) return GetInterface(static_cast<IBaseFilter*>(this), ppv);
  if (riid == IID_IMediaFilter) return GetInterface(static_cast<IMediaFilter*>(this), ppv);
  if (riid == IID_IPersist) return GetInterface(static_cast<IPersist*>(this), ppv);
  if (riid == IID_IAMFilterMiscFlags) return GetInterface(static_cast<IAMFilterMiscFlags*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseFilter::GetClassID(CLSID* classId) {
  if (!classId) return E_POINTER;
  *classId = m_clsid;
  return S_OK;
}

HRESULT CBaseFilter::Stop() {
  CAutoLock hold(m_pLock);
  HRESULT result = S_OK;
  if (m_State != State_Stopped) {
    int count = GetPinCount();
    for (int index = 0; index < count; ++index) {
      CBasePin* pin = GetPin(index);
      if (pin && pin->IsConnected()) {
        HRESULT pinResult = pin->Inactive();
        if (FAILED(pinResult) && SUCCEEDED(result)) result = pinResult;
      }
    }
  }
  m_State = State_Stopped;
  return result;
}

HRESULT CBaseFilter::Pause() {
  CAutoLock hold(m_pLock);
  if (m_State == State_Stopped) {
    int count = GetPinCount();
    for (int index = 0; index < count; ++index) {
      CBasePin* pin = GetPin(index);
      if (pin && pin->IsConnected()) {
        HRESULT result = pin->Active();
        if (FAILED(result)) return result;
      }
    }
  }
  m_State = State_Paused;
  return S_OK;
}

HRESULT CBaseFilter::Run(REFERENCE_TIME start) {
  CAutoLock hold(m_pLock);
  m_tStart = start;
  if (m_State == State_Stopped) {
    HRESULT result = Pause();
    if (FAILED(result)) return result;
  }
  if (m_State != State_Running) {
    int count = GetPinCount();
    for (int index = 0; index < count; ++index) {
      CBasePin* pin = GetPin(index);
      if (pin && pin->IsConnected()) {
        HRESULT result = pin->Run(start);
        if (FAILED(result)) return result;
      }
    }
  }
  m_State = State_Running;
  return S_OK;
}

HRESULT CBaseFilter::GetState(DWORD, FILTER_STATE* state) {
  if (!state) return E_POINTER;
  CAutoLock hold(m_pLock);
  *state = m_State;
  return S_OK;
}

HRESULT CBaseFilter::SetSyncSource(IReferenceClock* clock) {
  CAutoLock hold(m_pLock);
  if (clock) clock->AddRef();
  if (m_pClock) m_pClock->Release();
  m_pClock = clock;
  return S_OK;
}

HRESULT CBaseFilter::GetSyncSource(IReferenceClock** clock) {
  if (!clock) return E_POINTER;
  CAutoLock hold(m_pLock);
  *clock = m_pClock;
  if (m_pClock) m_pClock->AddRef();
  return S_OK;
}

HRESULT CBaseFilter::EnumPins(IEnumPins** enumerator) {
  if (!enumerator) return E_POINTER;
  auto* pins = new (std::nothrow) CEnumPins(this, nullptr);
  if (!pins) return E_OUTOFMEMORY;
  *enumerator = pins;
  pins->AddRef();
  return S_OK;
}

HRESULT CBaseFilter::FindPin(LPCWSTR id, IPin** pin) {
  if (!id || !pin) return E_POINTER;
  *pin = nullptr;
  CAutoLock hold(m_pLock);
  int count = GetPinCount();
  for (int index = 0; index < count; ++index) {
    CBasePin* candidate = GetPin(index);
    if (candidate && candidate->Name() == id) {
      *pin = candidate;
      candidate->AddRef();
      return S_OK;
    }
  }
  return VFW_E_NOT_FOUND;
}

HRESULT CBaseFilter::QueryFilterInfo(FILTER_INFO* info) {
  if (!info) return E_POINTER;
  CAutoLock hold(m_pLock);
  reel::CopyWideName(info->achName, MAX_FILTER_NAME, m_pName);
  info->pGraph = m_pGraph;
  if (m_pGraph) m_pGraph->AddRef();
  return S_OK;
}

HRESULT CBaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  CAutoLock hold(m_pLock);
  m_pGraph = graph;
  m_pSink = nullptr;
  if (graph) {
    // Weak: the graph owns the filter, so the sink outlives its use here.
    if (SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&m_pSink))) && m_pSink)
      m_pSink->Release();
    m_pName = WideFrom(name);
  } else {
    m_pName.clear();
  }
  return S_OK;
}

HRESULT CBaseFilter::QueryVendorInfo(LPWSTR* vendorInfo) {
  if (vendorInfo) *vendorInfo = nullptr;
  return E_NOTIMPL;
}

BOOL CBaseFilter::IsActive() const { return m_State != State_Stopped; }

BOOL CBaseFilter::IsStopped() const { return m_State == State_Stopped; }

HRESULT CBaseFilter::StreamTime(REFERENCE_TIME& time) {
  CAutoLock hold(m_pLock);
  if (!m_pClock) return VFW_E_NO_CLOCK;
  HRESULT result = m_pClock->GetTime(&time);
  if (FAILED(result)) return result;
  time -= m_tStart;
  return S_OK;
}

HRESULT CBaseFilter::NotifyEvent(LONG code, LONG_PTR param1, LONG_PTR param2) {
  IMediaEventSink* sink = m_pSink;
  if (!sink) return E_NOTIMPL;
  if (code == EC_COMPLETE) param2 = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this));
  return sink->Notify(code, param1, param2);
}

// ---------------------------------------------------------------------------
// CBasePin

CBasePin::CBasePin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT*, LPCWSTR pinName,
                   PIN_DIRECTION direction)
    : CUnknown(objectName, nullptr), m_pName(WideFrom(pinName)), m_dir(direction), m_pLock(lock), m_pFilter(filter) {}

CBasePin::~CBasePin() {
  if (m_Connected) m_Connected->Release();
}

HRESULT CBasePin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IPin) return GetInterface(static_cast<IPin*>(this), ppv);
  if (riid == IID_IQualityControl) return GetInterface(static_cast<IQualityControl*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

ULONG CBasePin::NonDelegatingAddRef() { return m_pFilter->AddRef(); }
ULONG CBasePin::NonDelegatingRelease() { return m_pFilter->Release(); }

HRESULT CBasePin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* mediaType) {
  if (!receivePin) return E_POINTER;
  CAutoLock hold(m_pLock);
  if (m_Connected) return VFW_E_ALREADY_CONNECTED;
  if (!IsStopped() && !m_bCanReconnectWhenActive) return VFW_E_NOT_STOPPED;
  CMediaType partial;
  if (mediaType) partial = *mediaType;
  return AgreeMediaType(receivePin, mediaType ? &partial : nullptr);
}

HRESULT CBasePin::AgreeMediaType(IPin* receivePin, const CMediaType* mediaType) {
  // A fully specified type is tried alone.
  if (mediaType && !mediaType->IsPartiallySpecified()) return AttemptConnection(receivePin, mediaType);
  HRESULT failure = VFW_E_NO_ACCEPTABLE_TYPES;
  for (int round = 0; round < 2; ++round) {
    reel::ComPtr<IEnumMediaTypes> types;
    HRESULT result = (round == static_cast<int>(m_bTryMyTypesFirst)) ? receivePin->EnumMediaTypes(&types)
                                                                      : EnumMediaTypes(&types);
    if (SUCCEEDED(result) && types) {
      result = TryMediaTypes(receivePin, mediaType, types.Get());
      if (SUCCEEDED(result)) return S_OK;
      // Keep the most telling failure.
      if (result != E_FAIL && result != E_INVALIDARG && result != VFW_E_TYPE_NOT_ACCEPTED) failure = result;
    }
  }
  return failure;
}

HRESULT CBasePin::TryMediaTypes(IPin* receivePin, const CMediaType* mediaType, IEnumMediaTypes* enumerator) {
  if (FAILED(enumerator->Reset())) return VFW_E_NO_ACCEPTABLE_TYPES;
  HRESULT failure = S_OK;
  for (;;) {
    AM_MEDIA_TYPE* candidate = nullptr;
    ULONG fetched = 0;
    if (enumerator->Next(1, &candidate, &fetched) != S_OK || fetched != 1 || !candidate) {
      DeleteMediaType(candidate);
      break;
    }
    CMediaType type(*candidate);
    DeleteMediaType(candidate);
    if (!mediaType || type.MatchesPartial(mediaType)) {
      HRESULT result = AttemptConnection(receivePin, &type);
      if (SUCCEEDED(result)) return S_OK;
      if (failure == S_OK || (result != E_FAIL && result != E_INVALIDARG && result != VFW_E_TYPE_NOT_ACCEPTED))
        failure = result;
    }
  }
  return failure == S_OK ? VFW_E_NO_ACCEPTABLE_TYPES : failure;
}

HRESULT CBasePin::AttemptConnection(IPin* receivePin, const CMediaType* mediaType) {
  HRESULT result = CheckConnect(receivePin);
  if (FAILED(result)) {
    BreakConnect();
    return result;
  }
  result = CheckMediaType(mediaType);
  if (result == S_OK) {
    m_Connected = receivePin;
    m_Connected->AddRef();
    result = SetMediaType(mediaType);
    if (SUCCEEDED(result)) {
      result = receivePin->ReceiveConnection(this, mediaType);
      if (SUCCEEDED(result)) {
        result = CompleteConnect(receivePin);
        if (SUCCEEDED(result)) return S_OK;
        receivePin->Disconnect();
      }
    }
  } else if (SUCCEEDED(result) || result == E_FAIL || result == E_INVALIDARG) {
    result = VFW_E_TYPE_NOT_ACCEPTED;
  }
  if (m_Connected) {
    m_Connected->Release();
    m_Connected = nullptr;
  }
  BreakConnect();
  return result;
}

HRESULT CBasePin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mediaType) {
  if (!connector || !mediaType) return E_POINTER;
  CAutoLock hold(m_pLock);
  if (m_Connected) return VFW_E_ALREADY_CONNECTED;
  if (!IsStopped() && !m_bCanReconnectWhenActive) return VFW_E_NOT_STOPPED;
  HRESULT result = CheckConnect(connector);
  if (FAILED(result)) {
    BreakConnect();
    return result;
  }
  CMediaType type(*mediaType);
  result = CheckMediaType(&type);
  if (result != S_OK) {
    BreakConnect();
    return (SUCCEEDED(result) || result == E_FAIL || result == E_INVALIDARG) ? VFW_E_TYPE_NOT_ACCEPTED : result;
  }
  m_Connected = connector;
  m_Connected->AddRef();
  result = SetMediaType(&type);
  if (SUCCEEDED(result)) {
    result = CompleteConnect(connector);
    if (SUCCEEDED(result)) return S_OK;
  }
  m_Connected->Release();
  m_Connected = nullptr;
  BreakConnect();
  return result;
}

HRESULT CBasePin::Disconnect() {
  CAutoLock hold(m_pLock);
  if (!IsStopped()) return VFW_E_NOT_STOPPED;
  return DisconnectInternal();
}

HRESULT CBasePin::DisconnectInternal() {
  if (!m_Connected) return S_FALSE;
  HRESULT result = BreakConnect();
  if (FAILED(result)) return result;
  m_Connected->Release();
  m_Connected = nullptr;
  return S_OK;
}

HRESULT CBasePin::ConnectedTo(IPin** pin) {
  if (!pin) return E_POINTER;
  CAutoLock hold(m_pLock);
  *pin = m_Connected;
  if (!m_Connected) return VFW_E_NOT_CONNECTED;
  m_Connected->AddRef();
  return S_OK;
}

HRESULT CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* mediaType) {
  if (!mediaType) return E_POINTER;
  CAutoLock hold(m_pLock);
  if (!m_Connected) {
    std::memset(mediaType, 0, sizeof *mediaType);
    return VFW_E_NOT_CONNECTED;
  }
  return CopyMediaType(mediaType, &m_mt);
}

HRESULT CBasePin::QueryPinInfo(PIN_INFO* info) {
  if (!info) return E_POINTER;
  info->pFilter = m_pFilter;
  if (m_pFilter) m_pFilter->AddRef();
  info->dir = m_dir;
  reel::CopyWideName(info->achName, MAX_PIN_NAME, m_pName);
  return S_OK;
}

HRESULT CBasePin::QueryDirection(PIN_DIRECTION* direction) {
  if (!direction) return E_POINTER;
  *direction = m_dir;
  return S_OK;
}

HRESULT CBasePin::QueryId(LPWSTR* id) {
  if (!id) return E_POINTER;
  *id = reel::CoTaskMemWideCopy(m_pName);
  return *id ? S_OK : E_OUTOFMEMORY;
}

HRESULT CBasePin::QueryAccept(const AM_MEDIA_TYPE* mediaType) {
  if (!mediaType) return E_POINTER;
  CMediaType type(*mediaType);
  HRESULT result = CheckMediaType(&type);
  return result == S_OK ? S_OK : S_FALSE;
}

HRESULT CBasePin::EnumMediaTypes(IEnumMediaTypes** enumerator) {
  if (!enumerator) return E_POINTER;
  auto* types = new (std::nothrow) CEnumMediaTypes(this, nullptr);
  if (!types) return E_OUTOFMEMORY;
  *enumerator = types;
  types->AddRef();
  return S_OK;
}

HRESULT CBasePin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }
HRESULT CBasePin::EndOfStream() { return S_OK; }

HRESULT CBasePin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  m_tStart = start;
  m_tStop = stop;
  m_dRate = rate;
  return S_OK;
}

HRESULT CBasePin::Notify(IBaseFilter*, Quality) { return E_NOTIMPL; }

HRESULT CBasePin::SetSink(IQualityControl* sink) {
  CAutoLock hold(m_pLock);
  m_pQSink = sink;
  return S_OK;
}

HRESULT CBasePin::SetMediaType(const CMediaType* mediaType) { return m_mt.Set(*mediaType); }
HRESULT CBasePin::CheckConnect(IPin* pin) {
  PIN_DIRECTION direction;
  HRESULT result = pin->QueryDirection(&direction);
  if (FAILED(result)) return result;
  return direction == m_dir ? VFW_E_INVALID_DIRECTION : S_OK;
}
HRESULT CBasePin::BreakConnect() { return S_OK; }
HRESULT CBasePin::CompleteConnect(IPin*) { return S_OK; }
HRESULT CBasePin::GetMediaType(int, CMediaType*) { return E_UNEXPECTED; }
HRESULT CBasePin::Inactive() {
  m_bRunTimeError = false;
  return S_OK;
}
HRESULT CBasePin::Run(REFERENCE_TIME) { return S_OK; }

// ---------------------------------------------------------------------------
// CBaseOutputPin

CBaseOutputPin::CBaseOutputPin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* result,
                               LPCWSTR pinName)
    : CBasePin(objectName, filter, lock, result, pinName, PINDIR_OUTPUT) {}

CBaseOutputPin::~CBaseOutputPin() {
  if (m_pAllocator) m_pAllocator->Release();
  if (m_pInputPin) m_pInputPin->Release();
}

HRESULT CBaseOutputPin::CheckConnect(IPin* pin) {
  HRESULT result = CBasePin::CheckConnect(pin);
  if (FAILED(result)) return result;
  result = pin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&m_pInputPin));
  return FAILED(result) ? VFW_E_NO_TRANSPORT : S_OK;
}

HRESULT CBaseOutputPin::CompleteConnect(IPin*) { return DecideAllocator(m_pInputPin, &m_pAllocator); }

HRESULT CBaseOutputPin::BreakConnect() {
  if (m_pAllocator) {
    m_pAllocator->Decommit();
    m_pAllocator->Release();
    m_pAllocator = nullptr;
  }
  if (m_pInputPin) {
    m_pInputPin->Release();
    m_pInputPin = nullptr;
  }
  return S_OK;
}

HRESULT CBaseOutputPin::DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator) {
  if (!pin || !allocator) return E_POINTER;
  *allocator = nullptr;
  ALLOCATOR_PROPERTIES request{};
  pin->GetAllocatorRequirements(&request);
  if (request.cbAlign == 0) request.cbAlign = 1;

  HRESULT result = pin->GetAllocator(allocator);
  if (SUCCEEDED(result) && *allocator) {
    result = DecideBufferSize(*allocator, &request);
    if (SUCCEEDED(result)) {
      result = pin->NotifyAllocator(*allocator, FALSE);
      if (SUCCEEDED(result)) return S_OK;
    }
  }
  if (*allocator) {
    (*allocator)->Release();
    *allocator = nullptr;
  }
  result = InitAllocator(allocator);
  if (SUCCEEDED(result)) {
    result = DecideBufferSize(*allocator, &request);
    if (SUCCEEDED(result)) {
      result = pin->NotifyAllocator(*allocator, FALSE);
      if (SUCCEEDED(result)) return S_OK;
    }
  }
  if (*allocator) {
    (*allocator)->Release();
    *allocator = nullptr;
  }
  return result;
}

HRESULT CBaseOutputPin::InitAllocator(IMemAllocator** allocator) {
  HRESULT result = S_OK;
  auto* memory = new (std::nothrow) CMemAllocator("output allocator", nullptr, &result);
  if (!memory) return E_OUTOFMEMORY;
  return memory->NonDelegatingQueryInterface(IID_IMemAllocator, reinterpret_cast<void**>(allocator));
}

HRESULT CBaseOutputPin::Active() {
  if (!m_pAllocator) return VFW_E_NO_ALLOCATOR;
  return m_pAllocator->Commit();
}

HRESULT CBaseOutputPin::Inactive() {
  m_bRunTimeError = false;
  if (!m_pAllocator) return VFW_E_NO_ALLOCATOR;
  return m_pAllocator->Decommit();
}

HRESULT CBaseOutputPin::GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                                          DWORD flags) {
  if (!m_pAllocator) return VFW_E_NO_ALLOCATOR;
  return m_pAllocator->GetBuffer(sample, start, stop, flags);
}

HRESULT CBaseOutputPin::Deliver(IMediaSample* sample) {
  if (!m_pInputPin) return VFW_E_NOT_CONNECTED;
  return m_pInputPin->Receive(sample);
}

HRESULT CBaseOutputPin::DeliverEndOfStream() {
  if (!m_Connected) return VFW_E_NOT_CONNECTED;
  return m_Connected->EndOfStream();
}

HRESULT CBaseOutputPin::DeliverBeginFlush() {
  if (!m_Connected) return VFW_E_NOT_CONNECTED;
  return m_Connected->BeginFlush();
}

HRESULT CBaseOutputPin::DeliverEndFlush() {
  if (!m_Connected) return VFW_E_NOT_CONNECTED;
  return m_Connected->EndFlush();
}

HRESULT CBaseOutputPin::DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  if (!m_Connected) return VFW_E_NOT_CONNECTED;
  return m_Connected->NewSegment(start, stop, rate);
}

// ---------------------------------------------------------------------------
// CBaseInputPin

CBaseInputPin::CBaseInputPin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* result,
                             LPCWSTR pinName)
    : CBasePin(objectName, filter, lock, result, pinName, PINDIR_INPUT) {}

CBaseInputPin::~CBaseInputPin() {
  if (m_pAllocator) m_pAllocator->Release();
}

HRESULT CBaseInputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IMemInputPin) return GetInterface(static_cast<IMemInputPin*>(this), ppv);
  return CBasePin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseInputPin::GetAllocator(IMemAllocator** allocator) {
  if (!allocator) return E_POINTER;
  CAutoLock hold(m_pLock);
  if (!m_pAllocator) {
    HRESULT result = S_OK;
    auto* memory = new (std::nothrow) CMemAllocator("input allocator", nullptr, &result);
    if (!memory) return E_OUTOFMEMORY;
    result = memory->NonDelegatingQueryInterface(IID_IMemAllocator, reinterpret_cast<void**>(&m_pAllocator));
    if (FAILED(result)) return result;
  }
  *allocator = m_pAllocator;
  m_pAllocator->AddRef();
  return S_OK;
}

HRESULT CBaseInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) {
  if (!allocator) return E_POINTER;
  CAutoLock hold(m_pLock);
  allocator->AddRef();
  if (m_pAllocator) m_pAllocator->Release();
  m_pAllocator = allocator;
  m_bReadOnly = readOnly;
  return S_OK;
}

HRESULT CBaseInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) { return E_NOTIMPL; }

HRESULT CBaseInputPin::BreakConnect() {
  if (m_pAllocator) {
    m_pAllocator->Decommit();
    m_pAllocator->Release();
    m_pAllocator = nullptr;
  }
  return S_OK;
}

HRESULT CBaseInputPin::Inactive() {
  m_bRunTimeError = false;
  m_bFlushing = false;
  if (m_pAllocator) m_pAllocator->Decommit();
  return S_OK;
}

HRESULT CBaseInputPin::CheckStreaming() {
  if (IsStopped()) return VFW_E_WRONG_STATE;
  if (m_bFlushing) return S_FALSE;
  if (m_bRunTimeError) return VFW_E_RUNTIME_ERROR;
  return S_OK;
}

HRESULT CBaseInputPin::Receive(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  HRESULT result = CheckStreaming();
  if (result != S_OK) return result;
  reel::ComPtr<IMediaSample2> sample2;
  std::memset(&m_SampleProps, 0, sizeof m_SampleProps);
  if (SUCCEEDED(sample->QueryInterface(IID_IMediaSample2, reinterpret_cast<void**>(&sample2))) && sample2) {
    result = sample2->GetProperties(sizeof m_SampleProps, reinterpret_cast<BYTE*>(&m_SampleProps));
    if (FAILED(result)) return result;
  } else {
    m_SampleProps.cbData = sizeof m_SampleProps;
    m_SampleProps.dwTypeSpecificFlags = 0;
    m_SampleProps.dwStreamId = 0;
    m_SampleProps.pMediaType = nullptr;
    result = sample->GetTime(&m_SampleProps.tStart, &m_SampleProps.tStop);
    if (SUCCEEDED(result)) {
      m_SampleProps.dwSampleFlags |= AM_SAMPLE_TIMEVALID;
      if (result == S_OK) m_SampleProps.dwSampleFlags |= AM_SAMPLE_STOPVALID;
    }
    if (sample->IsSyncPoint() == S_OK) m_SampleProps.dwSampleFlags |= AM_SAMPLE_SPLICEPOINT;
    if (sample->IsDiscontinuity() == S_OK) m_SampleProps.dwSampleFlags |= AM_SAMPLE_DATADISCONTINUITY;
    if (sample->IsPreroll() == S_OK) m_SampleProps.dwSampleFlags |= AM_SAMPLE_PREROLL;
    m_SampleProps.lActual = sample->GetActualDataLength();
    m_SampleProps.cbBuffer = sample->GetSize();
    sample->GetPointer(&m_SampleProps.pbBuffer);
  }
  // A type change inside the stream must be one this pin accepts.
  if (m_SampleProps.dwSampleFlags & AM_SAMPLE_TYPECHANGED) {
    AM_MEDIA_TYPE* changed = nullptr;
    if (sample->GetMediaType(&changed) == S_OK && changed) {
      CMediaType type(*changed);
      DeleteMediaType(changed);
      if (CheckMediaType(&type) != S_OK) {
        m_bRunTimeError = true;
        m_pFilter->NotifyEvent(EC_ERRORABORT, VFW_E_TYPE_NOT_ACCEPTED, 0);
        return VFW_E_INVALIDMEDIATYPE;
      }
      m_mt = type;
    }
  }
  return S_OK;
}

HRESULT CBaseInputPin::ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) {
  if (!samples || !processed) return E_POINTER;
  *processed = 0;
  HRESULT result = S_OK;
  while (count-- > 0) {
    result = Receive(samples[*processed]);
    if (result != S_OK) break;
    ++*processed;
  }
  return result;
}

HRESULT CBaseInputPin::BeginFlush() {
  CAutoLock hold(m_pLock);
  m_bFlushing = true;
  return S_OK;
}

HRESULT CBaseInputPin::EndFlush() {
  CAutoLock hold(m_pLock);
  m_bFlushing = false;
  m_bRunTimeError = false;
  return S_OK;
}

// ---------------------------------------------------------------------------
// Enumerators

CEnumPins::CEnumPins(CBaseFilter* filter, const CEnumPins* from)
    : filter_(filter), position_(from ? from->position_ : 0), version_(from ? from->version_ : filter->GetPinVersion()) {
  filter_->AddRef();
}

CEnumPins::~CEnumPins() { filter_->Release(); }

HRESULT CEnumPins::Next(ULONG count, IPin** pins, ULONG* fetched) {
  if (!pins) return E_POINTER;
  if (!fetched && count != 1) return E_INVALIDARG;
  if (fetched) *fetched = 0;
  if (version_ != filter_->GetPinVersion()) return VFW_E_ENUM_OUT_OF_SYNC;
  ULONG done = 0;
  int total = filter_->GetPinCount();
  while (done < count && position_ < total) {
    CBasePin* pin = filter_->GetPin(position_++);
    if (!pin) break;
    pins[done] = pin;
    pin->AddRef();
    ++done;
  }
  if (fetched) *fetched = done;
  return done == count ? S_OK : S_FALSE;
}

HRESULT CEnumPins::Skip(ULONG count) {
  if (version_ != filter_->GetPinVersion()) return VFW_E_ENUM_OUT_OF_SYNC;
  int total = filter_->GetPinCount();
  if (position_ + static_cast<long long>(count) > total) {
    position_ = total;
    return S_FALSE;
  }
  position_ += static_cast<int>(count);
  return S_OK;
}

HRESULT CEnumPins::Reset() {
  version_ = filter_->GetPinVersion();
  position_ = 0;
  return S_OK;
}

HRESULT CEnumPins::Clone(IEnumPins** enumerator) {
  if (!enumerator) return E_POINTER;
  if (version_ != filter_->GetPinVersion()) return VFW_E_ENUM_OUT_OF_SYNC;
  auto* copy = new (std::nothrow) CEnumPins(filter_, this);
  if (!copy) return E_OUTOFMEMORY;
  *enumerator = copy;
  copy->AddRef();
  return S_OK;
}

CEnumMediaTypes::CEnumMediaTypes(CBasePin* pin, const CEnumMediaTypes* from)
    : pin_(pin), position_(from ? from->position_ : 0), version_(from ? from->version_ : pin->GetMediaTypeVersion()) {
  pin_->AddRef();
}

CEnumMediaTypes::~CEnumMediaTypes() { pin_->Release(); }

HRESULT CEnumMediaTypes::Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) {
  if (!types) return E_POINTER;
  if (!fetched && count != 1) return E_INVALIDARG;
  if (fetched) *fetched = 0;
  if (version_ != pin_->GetMediaTypeVersion()) return VFW_E_ENUM_OUT_OF_SYNC;
  ULONG done = 0;
  while (done < count) {
    CMediaType type;
    if (pin_->GetMediaType(position_, &type) != S_OK) break;
    ++position_;
    types[done] = CreateMediaType(&type);
    if (!types[done]) break;
    ++done;
  }
  if (fetched) *fetched = done;
  return done == count ? S_OK : S_FALSE;
}

HRESULT CEnumMediaTypes::Skip(ULONG count) {
  if (version_ != pin_->GetMediaTypeVersion()) return VFW_E_ENUM_OUT_OF_SYNC;
  while (count-- > 0) {
    CMediaType type;
    if (pin_->GetMediaType(position_, &type) != S_OK) return S_FALSE;
    ++position_;
  }
  return S_OK;
}

HRESULT CEnumMediaTypes::Reset() {
  version_ = pin_->GetMediaTypeVersion();
  position_ = 0;
  return S_OK;
}

HRESULT CEnumMediaTypes::Clone(IEnumMediaTypes** enumerator) {
  if (!enumerator) return E_POINTER;
  auto* copy = new (std::nothrow) CEnumMediaTypes(pin_, this);
  if (!copy) return E_OUTOFMEMORY;
  *enumerator = copy;
  copy->AddRef();
  return S_OK;
}
