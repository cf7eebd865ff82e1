#include "platform/dshow/TransformFilter.h"

#include <new>

// ---------------------------------------------------------------------------
// CTransformInputPin

CTransformInputPin::CTransformInputPin(const char* objectName, CTransformFilter* filter, HRESULT* result,
                                       LPCWSTR pinName)
    : CBaseInputPin(objectName, filter, &filter->m_csFilter, result, pinName), m_pTransformFilter(filter) {}

HRESULT CTransformInputPin::CheckConnect(IPin* pin) {
  HRESULT result = m_pTransformFilter->CheckConnect(PINDIR_INPUT, pin);
  if (FAILED(result)) return result;
  return CBaseInputPin::CheckConnect(pin);
}

HRESULT CTransformInputPin::BreakConnect() {
  m_pTransformFilter->BreakConnect(PINDIR_INPUT);
  return CBaseInputPin::BreakConnect();
}

HRESULT CTransformInputPin::CompleteConnect(IPin* receivePin) {
  HRESULT result = m_pTransformFilter->CompleteConnect(PINDIR_INPUT, receivePin);
  if (FAILED(result)) return result;
  return CBaseInputPin::CompleteConnect(receivePin);
}

HRESULT CTransformInputPin::CheckMediaType(const CMediaType* mediaType) {
  HRESULT result = m_pTransformFilter->CheckInputType(mediaType);
  if (result != S_OK) return result;
  // With the output connected, the new input type must still transform to it.
  CTransformOutputPin* output = m_pTransformFilter->m_pOutput;
  if (output && output->IsConnected())
    return m_pTransformFilter->CheckTransform(mediaType, &output->CurrentMediaType());
  return S_OK;
}

HRESULT CTransformInputPin::SetMediaType(const CMediaType* mediaType) {
  HRESULT result = CBasePin::SetMediaType(mediaType);
  if (FAILED(result)) return result;
  return m_pTransformFilter->SetMediaType(PINDIR_INPUT, mediaType);
}

HRESULT CTransformInputPin::CheckStreaming() {
  CTransformOutputPin* output = m_pTransformFilter->m_pOutput;
  if (!output || !output->IsConnected()) return VFW_E_NOT_CONNECTED;
  return CBaseInputPin::CheckStreaming();
}

HRESULT CTransformInputPin::Receive(IMediaSample* sample) {
  CAutoLock hold(&m_pTransformFilter->m_csReceive);
  HRESULT result = CBaseInputPin::Receive(sample);
  if (result != S_OK) return result;
  return m_pTransformFilter->Receive(sample);
}

HRESULT CTransformInputPin::EndOfStream() {
  CAutoLock hold(&m_pTransformFilter->m_csReceive);
  HRESULT result = CheckStreaming();
  if (result != S_OK) return result;
  return m_pTransformFilter->EndOfStream();
}

HRESULT CTransformInputPin::BeginFlush() {
  CAutoLock hold(&m_pTransformFilter->m_csFilter);
  if (!IsConnected() || !m_pTransformFilter->m_pOutput->IsConnected()) return VFW_E_NOT_CONNECTED;
  HRESULT result = CBaseInputPin::BeginFlush();
  if (FAILED(result)) return result;
  return m_pTransformFilter->BeginFlush();
}

HRESULT CTransformInputPin::EndFlush() {
  CAutoLock hold(&m_pTransformFilter->m_csFilter);
  if (!IsConnected() || !m_pTransformFilter->m_pOutput->IsConnected()) return VFW_E_NOT_CONNECTED;
  HRESULT result = m_pTransformFilter->EndFlush();
  if (FAILED(result)) return result;
  return CBaseInputPin::EndFlush();
}

HRESULT CTransformInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  CBasePin::NewSegment(start, stop, rate);
  return m_pTransformFilter->NewSegment(start, stop, rate);
}

// ---------------------------------------------------------------------------
// CTransformOutputPin

CTransformOutputPin::CTransformOutputPin(const char* objectName, CTransformFilter* filter, HRESULT* result,
                                         LPCWSTR pinName)
    : CBaseOutputPin(objectName, filter, &filter->m_csFilter, result, pinName), m_pTransformFilter(filter) {}

CTransformOutputPin::~CTransformOutputPin() { delete m_pPosition; }

HRESULT CTransformOutputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IMediaSeeking) {
    if (!ppv) return E_POINTER;
    CAutoLock hold(m_pLock);
    if (!m_pPosition) {
      HRESULT result = S_OK;
      m_pPosition = new (std::nothrow) CPosPassThru("transform seeking", static_cast<IPin*>(this), &result,
                                                    m_pTransformFilter->m_pInput);
      if (!m_pPosition) return E_OUTOFMEMORY;
    }
    return m_pPosition->NonDelegatingQueryInterface(riid, ppv);
  }
  return CBaseOutputPin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CTransformOutputPin::CheckConnect(IPin* pin) {
  CTransformInputPin* input = m_pTransformFilter->m_pInput;
  if (!input || !input->IsConnected()) return E_UNEXPECTED;
  HRESULT result = m_pTransformFilter->CheckConnect(PINDIR_OUTPUT, pin);
  if (FAILED(result)) return result;
  return CBaseOutputPin::CheckConnect(pin);
}

HRESULT CTransformOutputPin::BreakConnect() {
  m_pTransformFilter->BreakConnect(PINDIR_OUTPUT);
  return CBaseOutputPin::BreakConnect();
}

HRESULT CTransformOutputPin::CompleteConnect(IPin* receivePin) {
  HRESULT result = m_pTransformFilter->CompleteConnect(PINDIR_OUTPUT, receivePin);
  if (FAILED(result)) return result;
  return CBaseOutputPin::CompleteConnect(receivePin);
}

HRESULT CTransformOutputPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
  return m_pTransformFilter->DecideBufferSize(allocator, request);
}

HRESULT CTransformOutputPin::CheckMediaType(const CMediaType* mediaType) {
  CTransformInputPin* input = m_pTransformFilter->m_pInput;
  if (!input || !input->IsConnected()) return E_INVALIDARG;
  return m_pTransformFilter->CheckTransform(&input->CurrentMediaType(), mediaType);
}

HRESULT CTransformOutputPin::SetMediaType(const CMediaType* mediaType) {
  HRESULT result = CBasePin::SetMediaType(mediaType);
  if (FAILED(result)) return result;
  return m_pTransformFilter->SetMediaType(PINDIR_OUTPUT, mediaType);
}

HRESULT CTransformOutputPin::GetMediaType(int position, CMediaType* mediaType) {
  CTransformInputPin* input = m_pTransformFilter->m_pInput;
  if (!input || !input->IsConnected()) return E_UNEXPECTED;
  return m_pTransformFilter->GetMediaType(position, mediaType);
}

HRESULT CTransformOutputPin::Notify(IBaseFilter*, Quality quality) {
  HRESULT result = m_pTransformFilter->AlterQuality(quality);
  if (result != S_FALSE) return result;
  // Not handled here: pass it to the upstream filter's output pin.
  IPin* upstream = m_pTransformFilter->m_pInput->GetConnected();
  if (!upstream) return VFW_E_NOT_FOUND;
  reel::ComPtr<IQualityControl> control;
  if (FAILED(upstream->QueryInterface(IID_IQualityControl, reinterpret_cast<void**>(&control))) || !control)
    return VFW_E_NOT_FOUND;
  return control->Notify(m_pTransformFilter, quality);
}

// ---------------------------------------------------------------------------
// CTransformFilter

CTransformFilter::CTransformFilter(const char* name, LPUNKNOWN outer, REFCLSID clsid)
    : CBaseFilter(name, outer, &m_csFilter, clsid) {}

CTransformFilter::~CTransformFilter() {
  delete m_pInput;
  delete m_pOutput;
}

void CTransformFilter::CreatePins() {
  HRESULT result = S_OK;
  m_pInput = new (std::nothrow) CTransformInputPin("transform input", this, &result, u"Input");
  m_pOutput = new (std::nothrow) CTransformOutputPin("transform output", this, &result, u"Output");
}

CBasePin* CTransformFilter::GetPin(int index) {
  CAutoLock hold(&m_csFilter);
  if (!m_pInput && !m_pOutput) CreatePins();
  if (index == 0) return m_pInput;
  if (index == 1) return m_pOutput;
  return nullptr;
}

HRESULT CTransformFilter::FindPin(LPCWSTR id, IPin** pin) {
  if (!id || !pin) return E_POINTER;
  GetPin(0);
  return CBaseFilter::FindPin(id, pin);
}

HRESULT CTransformFilter::Stop() {
  CAutoLock hold(&m_csFilter);
  if (m_State == State_Stopped) return S_OK;
  GetPin(0);
  if (!m_pInput || !m_pInput->IsConnected() || !m_pOutput || !m_pOutput->IsConnected()) {
    m_State = State_Stopped;
    m_bEOSDelivered = false;
    return S_OK;
  }
  // The input stops first so no new sample starts; then, with streaming
  // finished (the receive lock), the output.
  m_pInput->Inactive();
  CAutoLock streaming(&m_csReceive);
  m_pOutput->Inactive();
  HRESULT result = StopStreaming();
  if (SUCCEEDED(result)) {
    m_State = State_Stopped;
    m_bEOSDelivered = false;
  }
  return result;
}

HRESULT CTransformFilter::Pause() {
  CAutoLock hold(&m_csFilter);
  GetPin(0);
  HRESULT result = S_OK;
  if (m_State == State_Paused) return S_OK;
  if (!m_pInput || !m_pInput->IsConnected()) {
    // Nothing will come in: tell downstream at once.
    if (m_pOutput && m_pOutput->IsConnected() && !m_bEOSDelivered) {
      m_pOutput->DeliverEndOfStream();
      m_bEOSDelivered = true;
    }
    m_State = State_Paused;
  } else if (!m_pOutput->IsConnected()) {
    m_State = State_Paused;
  } else {
    if (m_State == State_Stopped) {
      CAutoLock streaming(&m_csReceive);
      result = StartStreaming();
    }
    if (SUCCEEDED(result)) result = CBaseFilter::Pause();
  }
  m_bSampleSkipped = false;
  m_bQualityChanged = false;
  return result;
}

HRESULT CTransformFilter::Transform(IMediaSample*, IMediaSample*) { return E_UNEXPECTED; }

HRESULT CTransformFilter::InitializeOutputSample(IMediaSample* sample, IMediaSample** out) {
  *out = nullptr;
  AM_SAMPLE2_PROPERTIES* properties = m_pInput->SampleProps();
  DWORD flags = m_bSampleSkipped ? AM_GBF_PREVFRAMESKIPPED : 0;
  if (!(properties->dwSampleFlags & AM_SAMPLE_SPLICEPOINT)) flags |= AM_GBF_NOTASYNCPOINT;
  IMediaSample* output = nullptr;
  HRESULT result = m_pOutput->GetDeliveryBuffer(
      &output, (properties->dwSampleFlags & AM_SAMPLE_TIMEVALID) ? &properties->tStart : nullptr,
      (properties->dwSampleFlags & AM_SAMPLE_STOPVALID) ? &properties->tStop : nullptr, flags);
  if (FAILED(result)) return result;
  if (properties->dwSampleFlags & AM_SAMPLE_TIMEVALID) {
    output->SetTime(&properties->tStart, (properties->dwSampleFlags & AM_SAMPLE_STOPVALID) ? &properties->tStop
                                                                                          : nullptr);
  }
  output->SetSyncPoint((properties->dwSampleFlags & AM_SAMPLE_SPLICEPOINT) != 0);
  output->SetDiscontinuity((properties->dwSampleFlags & AM_SAMPLE_DATADISCONTINUITY) != 0 || m_bSampleSkipped);
  output->SetPreroll((properties->dwSampleFlags & AM_SAMPLE_PREROLL) != 0);
  m_bSampleSkipped = false;
  LONGLONG mediaStart = 0, mediaEnd = 0;
  if (sample->GetMediaTime(&mediaStart, &mediaEnd) == S_OK) output->SetMediaTime(&mediaStart, &mediaEnd);
  *out = output;
  return S_OK;
}

HRESULT CTransformFilter::Receive(IMediaSample* sample) {
  IMediaSample* output = nullptr;
  HRESULT result = InitializeOutputSample(sample, &output);
  if (FAILED(result)) return result;
  result = Transform(sample, output);
  if (result == S_OK) {
    result = m_pOutput->Deliver(output);
  } else if (result == S_FALSE) {
    // Skipped on purpose (quality): the next sample is a discontinuity.
    m_bSampleSkipped = true;
    result = S_OK;
  } else {
    NotifyEvent(EC_ERRORABORT, result, 0);
  }
  output->Release();
  return result;
}

HRESULT CTransformFilter::EndOfStream() {
  if (!m_pOutput) return VFW_E_NOT_CONNECTED;
  m_bEOSDelivered = true;
  return m_pOutput->DeliverEndOfStream();
}

HRESULT CTransformFilter::BeginFlush() {
  if (!m_pOutput) return VFW_E_NOT_CONNECTED;
  return m_pOutput->DeliverBeginFlush();
}

HRESULT CTransformFilter::EndFlush() {
  if (!m_pOutput) return VFW_E_NOT_CONNECTED;
  m_bEOSDelivered = false;
  return m_pOutput->DeliverEndFlush();
}

HRESULT CTransformFilter::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  if (!m_pOutput || !m_pOutput->IsConnected()) return S_OK;
  return m_pOutput->DeliverNewSegment(start, stop, rate);
}

// ---------------------------------------------------------------------------
// In-place transform

CTransInPlaceInputPin::CTransInPlaceInputPin(const char* objectName, CTransInPlaceFilter* filter, HRESULT* result,
                                             LPCWSTR pinName)
    : CTransformInputPin(objectName, filter, result, pinName), m_pTIPFilter(filter) {}

HRESULT CTransInPlaceInputPin::GetAllocator(IMemAllocator** allocator) {
  if (!allocator) return E_POINTER;
  CAutoLock hold(m_pLock);
  CTransformOutputPin* output = m_pTIPFilter->m_pOutput;
  if (output && output->IsConnected() && output->ConnectedIMemInputPin()) {
    HRESULT result = output->ConnectedIMemInputPin()->GetAllocator(allocator);
    if (SUCCEEDED(result)) return result;
  }
  return CTransformInputPin::GetAllocator(allocator);
}

HRESULT CTransInPlaceInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) {
  if (!allocator) return E_POINTER;
  CAutoLock hold(m_pLock);
  HRESULT result = CTransformInputPin::NotifyAllocator(allocator, readOnly);
  if (FAILED(result)) return result;
  // Offer the same allocator downstream; if it is refused, Receive copies.
  CTransformOutputPin* output = m_pTIPFilter->m_pOutput;
  if (output && output->IsConnected() && output->ConnectedIMemInputPin() &&
      allocator != output->PeekAllocator()) {
    output->ConnectedIMemInputPin()->NotifyAllocator(allocator, readOnly);
  }
  return S_OK;
}

HRESULT CTransInPlaceInputPin::EnumMediaTypes(IEnumMediaTypes** enumerator) {
  if (!enumerator) return E_POINTER;
  // Offer what the downstream filter offers, so upstream picks a type that
  // can pass through unchanged.
  CTransformOutputPin* output = m_pTIPFilter->m_pOutput;
  if (!output || !output->IsConnected()) {
    *enumerator = nullptr;
    return VFW_E_NOT_CONNECTED;
  }
  return output->GetConnected()->EnumMediaTypes(enumerator);
}

HRESULT CTransInPlaceInputPin::CheckMediaType(const CMediaType* mediaType) {
  HRESULT result = m_pTIPFilter->CheckInputType(mediaType);
  if (result != S_OK) return result;
  CTransformOutputPin* output = m_pTIPFilter->m_pOutput;
  if (output && output->IsConnected()) return output->GetConnected()->QueryAccept(mediaType);
  return S_OK;
}

CTransInPlaceOutputPin::CTransInPlaceOutputPin(const char* objectName, CTransInPlaceFilter* filter, HRESULT* result,
                                               LPCWSTR pinName)
    : CTransformOutputPin(objectName, filter, result, pinName), m_pTIPFilter(filter) {}

HRESULT CTransInPlaceOutputPin::EnumMediaTypes(IEnumMediaTypes** enumerator) {
  if (!enumerator) return E_POINTER;
  CTransformInputPin* input = m_pTIPFilter->m_pInput;
  if (!input || !input->IsConnected()) {
    *enumerator = nullptr;
    return VFW_E_NOT_CONNECTED;
  }
  return CBasePin::EnumMediaTypes(enumerator);
}

HRESULT CTransInPlaceOutputPin::CheckMediaType(const CMediaType* mediaType) {
  CTransformInputPin* input = m_pTIPFilter->m_pInput;
  if (!input || !input->IsConnected()) return E_INVALIDARG;
  // The data passes unchanged, so the output type is the input type.
  if (*mediaType != input->CurrentMediaType()) return VFW_E_TYPE_NOT_ACCEPTED;
  return m_pTIPFilter->CheckInputType(mediaType);
}

HRESULT CTransInPlaceOutputPin::DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator) {
  if (!pin || !allocator) return E_POINTER;
  *allocator = nullptr;
  // First choice: the allocator upstream already fills, so samples pass
  // through without a copy.
  IMemAllocator* upstream = m_pTIPFilter->m_pInput->PeekAllocator();
  if (upstream) {
    BOOL readOnly = m_pTIPFilter->m_pInput->IsReadOnly();
    if (SUCCEEDED(pin->NotifyAllocator(upstream, readOnly))) {
      *allocator = upstream;
      upstream->AddRef();
      return S_OK;
    }
  }
  return CTransformOutputPin::DecideAllocator(pin, allocator);
}

CTransInPlaceFilter::CTransInPlaceFilter(const char* name, LPUNKNOWN outer, REFCLSID clsid, HRESULT*,
                                         bool modifiesData)
    : CTransformFilter(name, outer, clsid), m_bModifiesData(modifiesData) {}

void CTransInPlaceFilter::CreatePins() {
  HRESULT result = S_OK;
  m_pInput = new (std::nothrow) CTransInPlaceInputPin("in-place input", this, &result, u"Input");
  m_pOutput = new (std::nothrow) CTransInPlaceOutputPin("in-place output", this, &result, u"Output");
}

HRESULT CTransInPlaceFilter::GetMediaType(int position, CMediaType* mediaType) {
  if (!m_pInput || !m_pInput->IsConnected()) return E_UNEXPECTED;
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  return mediaType->Set(m_pInput->CurrentMediaType());
}

HRESULT CTransInPlaceFilter::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
  // Buffers like the upstream ones.
  ALLOCATOR_PROPERTIES wanted = *request;
  if (IMemAllocator* upstream = m_pInput->PeekAllocator()) {
    ALLOCATOR_PROPERTIES upstreamProperties{};
    if (SUCCEEDED(upstream->GetProperties(&upstreamProperties))) {
      if (upstreamProperties.cbBuffer > wanted.cbBuffer) wanted.cbBuffer = upstreamProperties.cbBuffer;
      if (upstreamProperties.cBuffers > wanted.cBuffers) wanted.cBuffers = upstreamProperties.cBuffers;
    }
  }
  if (wanted.cBuffers < 1) wanted.cBuffers = 1;
  if (wanted.cbBuffer < 1) wanted.cbBuffer = static_cast<LONG>(m_pInput->CurrentMediaType().GetSampleSize());
  if (wanted.cbBuffer < 1) wanted.cbBuffer = 1;
  ALLOCATOR_PROPERTIES actual{};
  HRESULT result = allocator->SetProperties(&wanted, &actual);
  if (FAILED(result)) return result;
  return actual.cbBuffer < wanted.cbBuffer ? E_FAIL : S_OK;
}

BOOL CTransInPlaceFilter::UsingDifferentAllocators() const {
  return m_pInput->PeekAllocator() != m_pOutput->PeekAllocator();
}

IMediaSample* CTransInPlaceFilter::Copy(IMediaSample* source) {
  IMediaSample* copy = nullptr;
  if (FAILED(InitializeOutputSample(source, &copy)) || !copy) return nullptr;
  BYTE* from = nullptr;
  BYTE* to = nullptr;
  source->GetPointer(&from);
  copy->GetPointer(&to);
  LONG length = source->GetActualDataLength();
  if (length > copy->GetSize() || !from || !to) {
    copy->Release();
    return nullptr;
  }
  std::memcpy(to, from, static_cast<std::size_t>(length));
  copy->SetActualDataLength(length);
  AM_MEDIA_TYPE* changed = nullptr;
  if (source->GetMediaType(&changed) == S_OK && changed) {
    copy->SetMediaType(changed);
    DeleteMediaType(changed);
  }
  return copy;
}

HRESULT CTransInPlaceFilter::Receive(IMediaSample* sample) {
  // A sample from another allocator, or one we may not write, is copied
  // into one of the output allocator's buffers first.
  bool copy = UsingDifferentAllocators() || (m_bModifiesData && m_pInput->IsReadOnly());
  IMediaSample* working = sample;
  if (copy) {
    working = Copy(sample);
    if (!working) return E_UNEXPECTED;
  }
  HRESULT result = Transform(working);
  if (result == S_OK) {
    result = m_pOutput->Deliver(working);
  } else if (result == S_FALSE) {
    m_bSampleSkipped = true;
    result = S_OK;
  } else {
    NotifyEvent(EC_ERRORABORT, result, 0);
  }
  if (copy) working->Release();
  return result;
}
