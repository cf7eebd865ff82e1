#include "platform/dshow/Allocator.h"

#include <cstdlib>
#include <new>

#include "platform/com/ClassTable.h"
#include "platform/com/TaskMemory.h"

// ---------------------------------------------------------------------------
// CMediaSample

CMediaSample::CMediaSample(const char*, CBaseAllocator* allocator, HRESULT* result, BYTE* buffer, LONG length)
    : m_pBuffer(buffer), m_cbBuffer(length), m_pAllocator(allocator) {
  if (result && !allocator) *result = E_OUTOFMEMORY;
}

CMediaSample::~CMediaSample() { DeleteMediaType(m_pMediaType); }

HRESULT CMediaSample::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IMediaSample || riid == IID_IMediaSample2) {
    *ppv = static_cast<IMediaSample2*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG CMediaSample::AddRef() { return static_cast<ULONG>(++m_cRef); }

ULONG CMediaSample::Release() {
  LONG count = --m_cRef;
  if (count == 0) {
    ResetProperties();
    // The allocator owns the sample; it goes back to the free list.
    m_pAllocator->ReleaseBuffer(this);
  }
  return static_cast<ULONG>(count);
}

void CMediaSample::ResetProperties() {
  m_dwFlags = 0;
  m_dwTypeSpecificFlags = 0;
  m_dwStreamId = 0;
  if (m_pMediaType) {
    DeleteMediaType(m_pMediaType);
    m_pMediaType = nullptr;
  }
}

HRESULT CMediaSample::SetPointer(BYTE* buffer, LONG length) {
  if (length < 0) return VFW_E_BUFFER_OVERFLOW;
  m_pBuffer = buffer;
  m_cbBuffer = length;
  m_lActual = length;
  return S_OK;
}

HRESULT CMediaSample::GetPointer(BYTE** buffer) {
  if (!buffer) return E_POINTER;
  *buffer = m_pBuffer;
  return S_OK;
}

HRESULT CMediaSample::GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) {
  if (!(m_dwFlags & AM_SAMPLE_TIMEVALID)) return VFW_E_SAMPLE_TIME_NOT_SET;
  if (!start || !end) return E_POINTER;
  *start = m_Start;
  if (!(m_dwFlags & AM_SAMPLE_STOPVALID)) {
    *end = m_Start + 1;
    return VFW_S_NO_STOP_TIME;
  }
  *end = m_End;
  return S_OK;
}

HRESULT CMediaSample::SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) {
  if (!start) {
    m_dwFlags &= ~(AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID);
    return S_OK;
  }
  m_Start = *start;
  m_dwFlags |= AM_SAMPLE_TIMEVALID;
  if (end) {
    m_End = *end;
    m_dwFlags |= AM_SAMPLE_STOPVALID;
  } else {
    m_dwFlags &= ~AM_SAMPLE_STOPVALID;
  }
  return S_OK;
}

HRESULT CMediaSample::IsSyncPoint() { return (m_dwFlags & AM_SAMPLE_SPLICEPOINT) ? S_OK : S_FALSE; }
HRESULT CMediaSample::SetSyncPoint(BOOL isSyncPoint) {
  if (isSyncPoint) m_dwFlags |= AM_SAMPLE_SPLICEPOINT;
  else m_dwFlags &= ~AM_SAMPLE_SPLICEPOINT;
  return S_OK;
}
HRESULT CMediaSample::IsPreroll() { return (m_dwFlags & AM_SAMPLE_PREROLL) ? S_OK : S_FALSE; }
HRESULT CMediaSample::SetPreroll(BOOL isPreroll) {
  if (isPreroll) m_dwFlags |= AM_SAMPLE_PREROLL;
  else m_dwFlags &= ~AM_SAMPLE_PREROLL;
  return S_OK;
}
HRESULT CMediaSample::IsDiscontinuity() { return (m_dwFlags & AM_SAMPLE_DATADISCONTINUITY) ? S_OK : S_FALSE; }
HRESULT CMediaSample::SetDiscontinuity(BOOL isDiscontinuity) {
  if (isDiscontinuity) m_dwFlags |= AM_SAMPLE_DATADISCONTINUITY;
  else m_dwFlags &= ~AM_SAMPLE_DATADISCONTINUITY;
  return S_OK;
}

HRESULT CMediaSample::SetActualDataLength(LONG length) {
  if (length < 0 || length > m_cbBuffer) return VFW_E_BUFFER_OVERFLOW;
  m_lActual = length;
  return S_OK;
}

HRESULT CMediaSample::GetMediaType(AM_MEDIA_TYPE** mediaType) {
  if (!mediaType) return E_POINTER;
  *mediaType = nullptr;
  if (!(m_dwFlags & AM_SAMPLE_TYPECHANGED) || !m_pMediaType) return S_FALSE;
  *mediaType = CreateMediaType(m_pMediaType);
  return *mediaType ? S_OK : E_OUTOFMEMORY;
}

HRESULT CMediaSample::SetMediaType(AM_MEDIA_TYPE* mediaType) {
  DeleteMediaType(m_pMediaType);
  m_pMediaType = nullptr;
  if (!mediaType) {
    m_dwFlags &= ~AM_SAMPLE_TYPECHANGED;
    return S_OK;
  }
  m_pMediaType = CreateMediaType(mediaType);
  if (!m_pMediaType) {
    m_dwFlags &= ~AM_SAMPLE_TYPECHANGED;
    return E_OUTOFMEMORY;
  }
  m_dwFlags |= AM_SAMPLE_TYPECHANGED;
  return S_OK;
}

HRESULT CMediaSample::GetMediaTime(LONGLONG* start, LONGLONG* end) {
  if (!start || !end) return E_POINTER;
  if (!(m_dwFlags & AM_SAMPLE_TIMEDISCONTINUITY)) return VFW_E_MEDIA_TIME_NOT_SET;
  *start = m_MediaStart;
  *end = m_MediaStart + m_MediaEnd;
  return S_OK;
}

HRESULT CMediaSample::SetMediaTime(LONGLONG* start, LONGLONG* end) {
  if (!start) {
    m_dwFlags &= ~AM_SAMPLE_TIMEDISCONTINUITY;
    return S_OK;
  }
  if (!end) return E_POINTER;
  if (*end < *start) return VFW_E_START_TIME_AFTER_END;
  m_MediaStart = *start;
  m_MediaEnd = static_cast<LONG>(*end - *start);
  m_dwFlags |= AM_SAMPLE_TIMEDISCONTINUITY;
  return S_OK;
}

HRESULT CMediaSample::GetProperties(DWORD size, BYTE* properties) {
  if (!properties) return E_POINTER;
  AM_SAMPLE2_PROPERTIES all{};
  all.cbData = size < sizeof all ? size : static_cast<DWORD>(sizeof all);
  all.dwTypeSpecificFlags = m_dwTypeSpecificFlags;
  all.dwSampleFlags = m_dwFlags & ~AM_SAMPLE_TYPECHANGED;
  if (m_dwFlags & AM_SAMPLE_TYPECHANGED) all.dwSampleFlags |= AM_SAMPLE_TYPECHANGED;
  all.lActual = m_lActual;
  all.tStart = m_Start;
  all.tStop = m_End;
  all.dwStreamId = m_dwStreamId;
  all.pMediaType = (m_dwFlags & AM_SAMPLE_TYPECHANGED) ? m_pMediaType : nullptr;
  all.pbBuffer = m_pBuffer;
  all.cbBuffer = m_cbBuffer;
  std::memcpy(properties, &all, all.cbData);
  return S_OK;
}

HRESULT CMediaSample::SetProperties(DWORD size, const BYTE* properties) {
  if (!properties) return E_POINTER;
  AM_SAMPLE2_PROPERTIES all{};
  if (size > sizeof all) size = sizeof all;
  std::memcpy(&all, properties, size);
  constexpr DWORD kFlagsEnd = offsetof(AM_SAMPLE2_PROPERTIES, dwSampleFlags) + sizeof(DWORD);
  constexpr DWORD kActualEnd = offsetof(AM_SAMPLE2_PROPERTIES, lActual) + sizeof(LONG);
  constexpr DWORD kStopEnd = offsetof(AM_SAMPLE2_PROPERTIES, tStop) + sizeof(REFERENCE_TIME);
  if (size >= offsetof(AM_SAMPLE2_PROPERTIES, dwTypeSpecificFlags) + sizeof(DWORD))
    m_dwTypeSpecificFlags = all.dwTypeSpecificFlags;
  if (size >= kFlagsEnd) m_dwFlags = (m_dwFlags & AM_SAMPLE_TYPECHANGED) | (all.dwSampleFlags & ~AM_SAMPLE_TYPECHANGED);
  if (size >= kActualEnd) {
    if (all.lActual < 0 || all.lActual > m_cbBuffer) return VFW_E_BUFFER_OVERFLOW;
    m_lActual = all.lActual;
  }
  if (size >= kStopEnd) {
    m_Start = all.tStart;
    m_End = all.tStop;
  }
  return S_OK;
}

// ---------------------------------------------------------------------------
// CBaseAllocator

CBaseAllocator::CBaseAllocator(const char* name, LPUNKNOWN outer, HRESULT*) : CUnknown(name, outer) {}

CBaseAllocator::~CBaseAllocator() {
  for (CMediaSample* sample : m_allSamples) delete sample;
}

HRESULT CBaseAllocator::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IMemAllocator) return GetInterface(static_cast<IMemAllocator*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseAllocator::SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) {
  if (!request || !actual) return E_POINTER;
  std::lock_guard<std::mutex> hold(m_lock);
  if (m_bCommitted) return VFW_E_ALREADY_COMMITTED;
  if (static_cast<LONG>(m_lFree.size()) != static_cast<LONG>(m_allSamples.size())) return VFW_E_BUFFERS_OUTSTANDING;
  if (request->cBuffers < 0 || request->cbBuffer < 0 || request->cbPrefix < 0) return E_INVALIDARG;
  m_lCount = request->cBuffers;
  m_lSize = request->cbBuffer;
  m_lAlignment = request->cbAlign;
  m_lPrefix = request->cbPrefix;
  m_bChanged = TRUE;
  *actual = *request;
  return S_OK;
}

HRESULT CBaseAllocator::GetProperties(ALLOCATOR_PROPERTIES* properties) {
  if (!properties) return E_POINTER;
  std::lock_guard<std::mutex> hold(m_lock);
  properties->cBuffers = m_lCount;
  properties->cbBuffer = m_lSize;
  properties->cbAlign = m_lAlignment;
  properties->cbPrefix = m_lPrefix;
  return S_OK;
}

HRESULT CBaseAllocator::Commit() {
  std::lock_guard<std::mutex> hold(m_lock);
  if (m_bCommitted) return S_OK;
  if (m_lCount <= 0 || m_lSize <= 0) return VFW_E_SIZENOTSET;
  m_bDecommitInProgress = FALSE;
  // Buffers still allocated from an earlier commit with the same
  // properties are reused.
  if (m_allSamples.empty() || m_bChanged) {
    if (static_cast<LONG>(m_lFree.size()) != static_cast<LONG>(m_allSamples.size())) return VFW_E_BUFFERS_OUTSTANDING;
    if (!m_allSamples.empty()) Free();
    HRESULT result = Alloc();
    if (FAILED(result)) return result;
    m_bChanged = FALSE;
  }
  m_bCommitted = TRUE;
  return S_OK;
}

HRESULT CBaseAllocator::Decommit() {
  std::unique_lock<std::mutex> hold(m_lock);
  if (!m_bCommitted) return S_OK;
  m_bCommitted = FALSE;
  m_bDecommitInProgress = TRUE;
  // Wake every GetBuffer waiting for a sample: they fail now.
  m_sampleReturned.notify_all();
  FreeIfIdle(hold);
  return S_OK;
}

void CBaseAllocator::FreeIfIdle(std::unique_lock<std::mutex>&) {
  if (m_bDecommitInProgress && m_lFree.size() == m_allSamples.size()) {
    Free();
    m_bDecommitInProgress = FALSE;
  }
}

HRESULT CBaseAllocator::GetBuffer(IMediaSample** buffer, REFERENCE_TIME* start, REFERENCE_TIME* end, DWORD flags) {
  if (!buffer) return E_POINTER;
  *buffer = nullptr;
  CMediaSample* sample = nullptr;
  {
    std::unique_lock<std::mutex> hold(m_lock);
    for (;;) {
      if (!m_bCommitted) return VFW_E_NOT_COMMITTED;
      if (!m_lFree.empty()) break;
      if (flags & AM_GBF_NOWAIT) return VFW_E_TIMEOUT;
      m_sampleReturned.wait(hold);
    }
    sample = m_lFree.back();
    m_lFree.pop_back();
  }
  // An outstanding sample keeps its allocator alive.
  AddRef();
  sample->m_cRef = 1;
  sample->m_lActual = sample->m_cbBuffer;
  if (start) sample->SetTime(start, end);
  else sample->SetTime(nullptr, nullptr);
  *buffer = sample;
  return S_OK;
}

HRESULT CBaseAllocator::ReleaseBuffer(IMediaSample* buffer) {
  if (!buffer) return E_POINTER;
  {
    std::unique_lock<std::mutex> hold(m_lock);
    m_lFree.push_back(static_cast<CMediaSample*>(buffer));
    m_sampleReturned.notify_one();
    FreeIfIdle(hold);
  }
  Release();  // the reference GetBuffer took
  return S_OK;
}

BOOL CBaseAllocator::IsCommitted() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_bCommitted;
}

LONG CBaseAllocator::OutstandingCount() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return static_cast<LONG>(m_allSamples.size() - m_lFree.size());
}

// ---------------------------------------------------------------------------
// CMemAllocator

CMemAllocator::CMemAllocator(const char* name, LPUNKNOWN outer, HRESULT* result)
    : CBaseAllocator(name, outer, result) {}

CMemAllocator::~CMemAllocator() {
  std::lock_guard<std::mutex> hold(m_lock);
  Free();
}

HRESULT CMemAllocator::SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) {
  if (!request || !actual) return E_POINTER;
  ALLOCATOR_PROPERTIES adjusted = *request;
  if (adjusted.cbAlign <= 0) adjusted.cbAlign = 1;
  // The alignment must be a power of two.
  if ((adjusted.cbAlign & (adjusted.cbAlign - 1)) != 0) return VFW_E_BADALIGN;
  // Each buffer with its prefix is rounded up to the alignment.
  LONG total = adjusted.cbBuffer + adjusted.cbPrefix;
  LONG remainder = total % adjusted.cbAlign;
  if (remainder != 0) adjusted.cbBuffer += adjusted.cbAlign - remainder;
  return CBaseAllocator::SetProperties(&adjusted, actual);
}

HRESULT CMemAllocator::Alloc() {
  LONGLONG stride = static_cast<LONGLONG>(m_lSize) + m_lPrefix;
  LONGLONG total = stride * m_lCount + m_lAlignment;
  if (total <= 0 || total > (1LL << 31)) return E_OUTOFMEMORY;
  m_pBuffer = static_cast<BYTE*>(std::calloc(static_cast<std::size_t>(total), 1));
  if (!m_pBuffer) return E_OUTOFMEMORY;
  std::uintptr_t base = reinterpret_cast<std::uintptr_t>(m_pBuffer) + m_lPrefix;
  if (m_lAlignment > 1) base = (base + m_lAlignment - 1) & ~static_cast<std::uintptr_t>(m_lAlignment - 1);
  for (LONG index = 0; index < m_lCount; ++index) {
    BYTE* data = reinterpret_cast<BYTE*>(base + static_cast<std::uintptr_t>(stride * index));
    auto* sample = new (std::nothrow) CMediaSample("memory sample", this, nullptr, data, m_lSize);
    if (!sample) return E_OUTOFMEMORY;
    m_allSamples.push_back(sample);
    m_lFree.push_back(sample);
  }
  return S_OK;
}

void CMemAllocator::Free() {
  for (CMediaSample* sample : m_allSamples) delete sample;
  m_allSamples.clear();
  m_lFree.clear();
  std::free(m_pBuffer);
  m_pBuffer = nullptr;
}

CUnknown* CMemAllocator::CreateInstance(LPUNKNOWN outer, HRESULT* result) {
  auto* allocator = new (std::nothrow) CMemAllocator("memory allocator", outer, result);
  if (!allocator && result) *result = E_OUTOFMEMORY;
  return allocator;
}

namespace {
HRESULT CreateMemoryAllocator(IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (outer && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
  HRESULT result = S_OK;
  CUnknown* object = CMemAllocator::CreateInstance(outer, &result);
  if (!object) return E_OUTOFMEMORY;
  object->NonDelegatingAddRef();
  result = object->NonDelegatingQueryInterface(riid, ppv);
  object->NonDelegatingRelease();
  return result;
}
const bool kMemoryAllocatorRegistered = reel::RegisterBuiltinClass(CLSID_MemoryAllocator, &CreateMemoryAllocator);
}  // namespace
