// The filter and pin base classes: CBaseFilter (state, clock, graph and
// event sink, pin enumeration), CBasePin (connection and media type
// negotiation), CBaseOutputPin (allocator choice and delivery) and
// CBaseInputPin (IMemInputPin, flushing), with the pin and media type
// enumerators. Pins share their filter's reference count.
#pragma once

#include <atomic>
#include <string>

#include "platform/com/ComObject.h"
#include "platform/dshow/Allocator.h"
#include "platform/dshow/DShowInterfaces.h"
#include "platform/dshow/MediaType.h"
#include "platform/dshow/StreamSync.h"

class CBasePin;

class CBaseFilter : public CUnknown, public IBaseFilter, public IAMFilterMiscFlags {
 public:
  CBaseFilter(const char* name, LPUNKNOWN outer, CCritSec* lock, REFCLSID clsid, HRESULT* result = nullptr);
  ~CBaseFilter() override;

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IPersist
  HRESULT GetClassID(CLSID* classId) override;
  // IMediaFilter
  HRESULT Stop() override;
  HRESULT Pause() override;
  HRESULT Run(REFERENCE_TIME start) override;
  HRESULT GetState(DWORD millisecondsTimeout, FILTER_STATE* state) override;
  HRESULT SetSyncSource(IReferenceClock* clock) override;
  HRESULT GetSyncSource(IReferenceClock** clock) override;
  // IBaseFilter
  HRESULT EnumPins(IEnumPins** enumerator) override;
  HRESULT FindPin(LPCWSTR id, IPin** pin) override;
  HRESULT QueryFilterInfo(FILTER_INFO* info) override;
  HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  HRESULT QueryVendorInfo(LPWSTR* vendorInfo) override;
  // IAMFilterMiscFlags: 0 unless a derived filter says it renders or sources.
  ULONG GetMiscFlags() override { return 0; }

  virtual int GetPinCount() = 0;
  virtual CBasePin* GetPin(int index) = 0;
  // Bumped when the pin set changes, so enumerators notice.
  LONG GetPinVersion() const { return m_PinVersion; }
  void IncrementPinVersion() { ++m_PinVersion; }

  BOOL IsActive() const;
  BOOL IsStopped() const;
  // The stream time: clock time less the start time (fails without a clock).
  HRESULT StreamTime(REFERENCE_TIME& time);
  // Sends an event to the graph's IMediaEventSink; EC_COMPLETE carries the
  // filter as its second parameter.
  HRESULT NotifyEvent(LONG code, LONG_PTR param1, LONG_PTR param2);
  IFilterGraph* GetFilterGraph() const { return m_pGraph; }
  const std::u16string& FilterName() const { return m_pName; }

 protected:
  // Read without the filter lock by streaming threads (IsStopped), which
  // must never wait for a state change holding their streaming lock.
  std::atomic<FILTER_STATE> m_State{State_Stopped};
  IReferenceClock* m_pClock = nullptr;  // holds a reference
  REFERENCE_TIME m_tStart = 0;
  CLSID m_clsid;
  CCritSec* m_pLock;
  std::u16string m_pName;
  // The graph and its sink are not referenced: the graph owns the filter.
  IFilterGraph* m_pGraph = nullptr;
  IMediaEventSink* m_pSink = nullptr;
  std::atomic<LONG> m_PinVersion{1};
};

class CBasePin : public CUnknown, public IPin, public IQualityControl {
 public:
  CBasePin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* result, LPCWSTR pinName,
           PIN_DIRECTION direction);
  ~CBasePin() override;

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  // A pin lives as long as its filter: references go to the filter.
  ULONG NonDelegatingAddRef() override;
  ULONG NonDelegatingRelease() override;

  // IPin
  HRESULT Connect(IPin* receivePin, const AM_MEDIA_TYPE* mediaType) override;
  HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mediaType) override;
  HRESULT Disconnect() override;
  HRESULT ConnectedTo(IPin** pin) override;
  HRESULT ConnectionMediaType(AM_MEDIA_TYPE* mediaType) override;
  HRESULT QueryPinInfo(PIN_INFO* info) override;
  HRESULT QueryDirection(PIN_DIRECTION* direction) override;
  HRESULT QueryId(LPWSTR* id) override;
  HRESULT QueryAccept(const AM_MEDIA_TYPE* mediaType) override;
  HRESULT EnumMediaTypes(IEnumMediaTypes** enumerator) override;
  HRESULT QueryInternalConnections(IPin** pins, ULONG* count) override;
  HRESULT EndOfStream() override;
  HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
  // IQualityControl: passes nothing on by default.
  HRESULT Notify(IBaseFilter* self, Quality quality) override;
  HRESULT SetSink(IQualityControl* sink) override;

  // Negotiation hooks.
  virtual HRESULT CheckMediaType(const CMediaType* mediaType) = 0;
  virtual HRESULT SetMediaType(const CMediaType* mediaType);
  virtual HRESULT CheckConnect(IPin* pin);
  virtual HRESULT BreakConnect();
  virtual HRESULT CompleteConnect(IPin* receivePin);
  // The preferred types in order; VFW_S_NO_MORE_ITEMS past the last.
  virtual HRESULT GetMediaType(int position, CMediaType* mediaType);
  virtual LONG GetMediaTypeVersion() { return m_TypeVersion; }
  void IncrementTypeVersion() { ++m_TypeVersion; }

  // State changes, called by the filter for connected pins.
  virtual HRESULT Active() { return S_OK; }
  virtual HRESULT Inactive();
  virtual HRESULT Run(REFERENCE_TIME start);

  BOOL IsConnected() const { return m_Connected != nullptr; }
  IPin* GetConnected() const { return m_Connected; }
  BOOL IsStopped() const { return m_pFilter->IsStopped(); }
  const CMediaType& CurrentMediaType() const { return m_mt; }
  CBaseFilter* Filter() const { return m_pFilter; }
  const std::u16string& Name() const { return m_pName; }
  REFERENCE_TIME CurrentStartTime() const { return m_tStart; }
  REFERENCE_TIME CurrentStopTime() const { return m_tStop; }
  double CurrentRate() const { return m_dRate; }

 protected:
  HRESULT AgreeMediaType(IPin* receivePin, const CMediaType* mediaType);
  HRESULT AttemptConnection(IPin* receivePin, const CMediaType* mediaType);
  HRESULT TryMediaTypes(IPin* receivePin, const CMediaType* mediaType, IEnumMediaTypes* enumerator);
  HRESULT DisconnectInternal();

  std::u16string m_pName;
  IPin* m_Connected = nullptr;  // holds a reference
  PIN_DIRECTION m_dir;
  CCritSec* m_pLock;
  std::atomic<bool> m_bRunTimeError{false};
  BOOL m_bCanReconnectWhenActive = FALSE;
  BOOL m_bTryMyTypesFirst = FALSE;
  CBaseFilter* m_pFilter;
  IQualityControl* m_pQSink = nullptr;  // not referenced
  LONG m_TypeVersion = 1;
  CMediaType m_mt;
  REFERENCE_TIME m_tStart = 0;
  REFERENCE_TIME m_tStop = MAX_TIME;
  double m_dRate = 1.0;
};

class CBaseOutputPin : public CBasePin {
 public:
  CBaseOutputPin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* result, LPCWSTR pinName);
  ~CBaseOutputPin() override;

  HRESULT CompleteConnect(IPin* receivePin) override;
  HRESULT CheckConnect(IPin* pin) override;
  HRESULT BreakConnect() override;
  HRESULT Active() override;
  HRESULT Inactive() override;

  // Output pins take no flushing or end of stream from upstream.
  HRESULT EndOfStream() override { return E_UNEXPECTED; }
  HRESULT BeginFlush() override { return E_UNEXPECTED; }
  HRESULT EndFlush() override { return E_UNEXPECTED; }

  // Negotiates the allocator with the connected input pin: its own if it
  // offers one, else ours (InitAllocator); DecideBufferSize sizes it.
  virtual HRESULT DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator);
  virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) = 0;
  virtual HRESULT InitAllocator(IMemAllocator** allocator);

  virtual HRESULT GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop, DWORD flags);
  virtual HRESULT Deliver(IMediaSample* sample);
  virtual HRESULT DeliverEndOfStream();
  virtual HRESULT DeliverBeginFlush();
  virtual HRESULT DeliverEndFlush();
  virtual HRESULT DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

  IMemAllocator* PeekAllocator() const { return m_pAllocator; }
  IMemInputPin* ConnectedIMemInputPin() const { return m_pInputPin; }

 protected:
  IMemAllocator* m_pAllocator = nullptr;  // holds a reference
  IMemInputPin* m_pInputPin = nullptr;    // holds a reference
};

class CBaseInputPin : public CBasePin, public IMemInputPin {
 public:
  CBaseInputPin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* result, LPCWSTR pinName);
  ~CBaseInputPin() override;

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IMemInputPin
  HRESULT GetAllocator(IMemAllocator** allocator) override;
  HRESULT NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
  HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties) override;
  // Checks the streaming state and any type change; derived pins process
  // the sample after calling it.
  HRESULT Receive(IMediaSample* sample) override;
  HRESULT ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) override;
  HRESULT ReceiveCanBlock() override { return S_OK; }

  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;
  HRESULT BreakConnect() override;
  HRESULT Inactive() override;

  // S_OK while samples may be processed, S_FALSE while flushing,
  // VFW_E_WRONG_STATE when stopped, VFW_E_RUNTIME_ERROR after an error.
  virtual HRESULT CheckStreaming();
  BOOL IsFlushing() const { return m_bFlushing; }
  BOOL IsReadOnly() const { return m_bReadOnly; }
  IMemAllocator* PeekAllocator() const { return m_pAllocator; }
  // The properties of the sample being received (filled by Receive).
  AM_SAMPLE2_PROPERTIES* SampleProps() { return &m_SampleProps; }

 protected:
  IMemAllocator* m_pAllocator = nullptr;  // holds a reference
  BOOL m_bReadOnly = FALSE;
  std::atomic<bool> m_bFlushing{false};
  AM_SAMPLE2_PROPERTIES m_SampleProps{};
};

// Enumerates a filter's pins through GetPinCount/GetPin; fails with
// VFW_E_ENUM_OUT_OF_SYNC when the pin set changed (Reset recovers).
class CEnumPins : public reel::ComObject<IEnumPins> {
 public:
  CEnumPins(CBaseFilter* filter, const CEnumPins* from);
  ~CEnumPins() override;
  HRESULT Next(ULONG count, IPin** pins, ULONG* fetched) override;
  HRESULT Skip(ULONG count) override;
  HRESULT Reset() override;
  HRESULT Clone(IEnumPins** enumerator) override;

 private:
  CBaseFilter* filter_;  // referenced
  int position_ = 0;
  LONG version_;
};

// Enumerates a pin's GetMediaType list, handing out CoTaskMemAlloc'd copies.
class CEnumMediaTypes : public reel::ComObject<IEnumMediaTypes> {
 public:
  CEnumMediaTypes(CBasePin* pin, const CEnumMediaTypes* from);
  ~CEnumMediaTypes() override;
  HRESULT Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override;
  HRESULT Skip(ULONG count) override;
  HRESULT Reset() override;
  HRESULT Clone(IEnumMediaTypes** enumerator) override;

 private:
  CBasePin* pin_;  // referenced
  int position_ = 0;
  LONG version_;
};

namespace reel {
// Copies text into a fixed WCHAR array, truncating and terminating.
void CopyWideName(WCHAR* target, std::size_t capacity, const std::u16string& text);
// A CoTaskMemAlloc'd copy of text (null when out of memory).
LPWSTR CoTaskMemWideCopy(const std::u16string& text);
}  // namespace reel
