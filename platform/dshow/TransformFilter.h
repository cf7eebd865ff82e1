// Transform filters with one input pin "Input" and one output pin "Output":
// CTransformFilter copies each input sample through Transform(in, out) into
// a new output sample; CTransInPlaceFilter changes samples in place and
// passes them on, sharing the downstream allocator when it can. Seeking on
// the output pin passes upstream (CPosPassThru).
#pragma once

#include <atomic>

#include "platform/dshow/BaseFilter.h"
#include "platform/dshow/PosPassThru.h"

class CTransformFilter;

class CTransformInputPin : public CBaseInputPin {
 public:
  CTransformInputPin(const char* objectName, CTransformFilter* filter, HRESULT* result, LPCWSTR pinName);

  HRESULT CheckConnect(IPin* pin) override;
  HRESULT BreakConnect() override;
  HRESULT CompleteConnect(IPin* receivePin) override;
  HRESULT CheckMediaType(const CMediaType* mediaType) override;
  HRESULT SetMediaType(const CMediaType* mediaType) override;
  HRESULT Receive(IMediaSample* sample) override;
  HRESULT EndOfStream() override;
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;
  HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
  HRESULT CheckStreaming() override;

 protected:
  CTransformFilter* m_pTransformFilter;
};

class CTransformOutputPin : public CBaseOutputPin {
 public:
  CTransformOutputPin(const char* objectName, CTransformFilter* filter, HRESULT* result, LPCWSTR pinName);
  ~CTransformOutputPin() override;

  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  HRESULT CheckConnect(IPin* pin) override;
  HRESULT BreakConnect() override;
  HRESULT CompleteConnect(IPin* receivePin) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
  HRESULT CheckMediaType(const CMediaType* mediaType) override;
  HRESULT SetMediaType(const CMediaType* mediaType) override;
  HRESULT GetMediaType(int position, CMediaType* mediaType) override;
  // Quality messages go to the filter, then upstream.
  HRESULT Notify(IBaseFilter* self, Quality quality) override;

 protected:
  CTransformFilter* m_pTransformFilter;
  CPosPassThru* m_pPosition = nullptr;  // made on the first seeking query
};

class CTransformFilter : public CBaseFilter {
 public:
  CTransformFilter(const char* name, LPUNKNOWN outer, REFCLSID clsid);
  ~CTransformFilter() override;

  int GetPinCount() override { return 2; }
  CBasePin* GetPin(int index) override;
  HRESULT FindPin(LPCWSTR id, IPin** pin) override;
  HRESULT Stop() override;
  HRESULT Pause() override;

  // What a transform provides.
  virtual HRESULT Transform(IMediaSample* in, IMediaSample* out);
  virtual HRESULT CheckInputType(const CMediaType* mediaType) = 0;
  virtual HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) = 0;
  virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) = 0;
  virtual HRESULT GetMediaType(int position, CMediaType* mediaType) = 0;

  // Optional hooks.
  virtual HRESULT StartStreaming() { return S_OK; }
  virtual HRESULT StopStreaming() { return S_OK; }
  // S_OK when the filter handled the quality message itself.
  virtual HRESULT AlterQuality(Quality) { return S_FALSE; }
  virtual HRESULT SetMediaType(PIN_DIRECTION, const CMediaType*) { return S_OK; }
  virtual HRESULT CheckConnect(PIN_DIRECTION, IPin*) { return S_OK; }
  virtual HRESULT BreakConnect(PIN_DIRECTION) { return S_OK; }
  virtual HRESULT CompleteConnect(PIN_DIRECTION, IPin*) { return S_OK; }

  // Streaming, called by the input pin under m_csReceive.
  virtual HRESULT Receive(IMediaSample* sample);
  virtual HRESULT EndOfStream();
  virtual HRESULT BeginFlush();
  virtual HRESULT EndFlush();
  virtual HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

  CCritSec* pStateLock() { return &m_csFilter; }

 protected:
  // An output sample carrying the input sample's properties.
  virtual HRESULT InitializeOutputSample(IMediaSample* sample, IMediaSample** out);
  // Makes the pins; derived classes make their own pin classes here.
  virtual void CreatePins();

  friend class CTransformInputPin;
  friend class CTransformOutputPin;

  CCritSec m_csFilter;   // state changes and connections
  CCritSec m_csReceive;  // streaming
  CTransformInputPin* m_pInput = nullptr;
  CTransformOutputPin* m_pOutput = nullptr;
  // Written while streaming, read by state changes.
  std::atomic<bool> m_bEOSDelivered{false};
  std::atomic<bool> m_bSampleSkipped{false};
  std::atomic<bool> m_bQualityChanged{false};
};

class CTransInPlaceFilter;

class CTransInPlaceInputPin : public CTransformInputPin {
 public:
  CTransInPlaceInputPin(const char* objectName, CTransInPlaceFilter* filter, HRESULT* result, LPCWSTR pinName);
  // Upstream gets the downstream pin's allocator while we are connected on
  // that side, so the same buffers flow through without a copy.
  HRESULT GetAllocator(IMemAllocator** allocator) override;
  HRESULT NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
  HRESULT EnumMediaTypes(IEnumMediaTypes** enumerator) override;
  HRESULT CheckMediaType(const CMediaType* mediaType) override;

 protected:
  CTransInPlaceFilter* m_pTIPFilter;
};

class CTransInPlaceOutputPin : public CTransformOutputPin {
 public:
  CTransInPlaceOutputPin(const char* objectName, CTransInPlaceFilter* filter, HRESULT* result, LPCWSTR pinName);
  HRESULT EnumMediaTypes(IEnumMediaTypes** enumerator) override;
  HRESULT CheckMediaType(const CMediaType* mediaType) override;
  HRESULT DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator) override;

 protected:
  CTransInPlaceFilter* m_pTIPFilter;
};

class CTransInPlaceFilter : public CTransformFilter {
 public:
  CTransInPlaceFilter(const char* name, LPUNKNOWN outer, REFCLSID clsid, HRESULT* result = nullptr,
                      bool modifiesData = true);

  // Changes the sample's data in place.
  virtual HRESULT Transform(IMediaSample* sample) = 0;

  // The output type is the input type.
  HRESULT GetMediaType(int position, CMediaType* mediaType) override;
  HRESULT CheckTransform(const CMediaType*, const CMediaType*) override { return S_OK; }
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
  HRESULT Receive(IMediaSample* sample) override;

  BOOL UsingDifferentAllocators() const;

 protected:
  void CreatePins() override;
  // A copy of source in a buffer of the output allocator.
  IMediaSample* Copy(IMediaSample* source);

  friend class CTransInPlaceInputPin;
  friend class CTransInPlaceOutputPin;

  bool m_bModifiesData;
};
