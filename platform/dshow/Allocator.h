// Media samples and the memory allocator that owns them. A sample returns
// to its allocator's free list when its last reference goes; the allocator
// keeps itself alive while any of its samples is out.
#pragma once

#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/com/ComObject.h"
#include "platform/dshow/DShowInterfaces.h"
#include "platform/dshow/MediaType.h"

class CBaseAllocator;

class CMediaSample : public IMediaSample2 {
 public:
  CMediaSample(const char* name, CBaseAllocator* allocator, HRESULT* result, BYTE* buffer = nullptr,
               LONG length = 0);
  virtual ~CMediaSample();
  CMediaSample(const CMediaSample&) = delete;
  CMediaSample& operator=(const CMediaSample&) = delete;

  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override;
  ULONG Release() override;

  HRESULT SetPointer(BYTE* buffer, LONG length);

  HRESULT GetPointer(BYTE** buffer) override;
  LONG GetSize() override { return m_cbBuffer; }
  HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override;
  HRESULT SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override;
  HRESULT IsSyncPoint() override;
  HRESULT SetSyncPoint(BOOL isSyncPoint) override;
  HRESULT IsPreroll() override;
  HRESULT SetPreroll(BOOL isPreroll) override;
  LONG GetActualDataLength() override { return m_lActual; }
  HRESULT SetActualDataLength(LONG length) override;
  HRESULT GetMediaType(AM_MEDIA_TYPE** mediaType) override;
  HRESULT SetMediaType(AM_MEDIA_TYPE* mediaType) override;
  HRESULT IsDiscontinuity() override;
  HRESULT SetDiscontinuity(BOOL isDiscontinuity) override;
  HRESULT GetMediaTime(LONGLONG* start, LONGLONG* end) override;
  HRESULT SetMediaTime(LONGLONG* start, LONGLONG* end) override;
  HRESULT GetProperties(DWORD size, BYTE* properties) override;
  HRESULT SetProperties(DWORD size, const BYTE* properties) override;

 protected:
  friend class CBaseAllocator;
  friend class CMemAllocator;

  // Clears the per-use state when the sample goes back to its allocator.
  void ResetProperties();

  DWORD m_dwFlags = 0;  // AM_SAMPLE_* flags
  DWORD m_dwTypeSpecificFlags = 0;
  BYTE* m_pBuffer = nullptr;
  LONG m_lActual = 0;
  LONG m_cbBuffer = 0;
  CBaseAllocator* m_pAllocator;
  REFERENCE_TIME m_Start = 0;
  REFERENCE_TIME m_End = 0;
  LONGLONG m_MediaStart = 0;
  LONG m_MediaEnd = 0;  // offset from m_MediaStart, as the base classes keep it
  AM_MEDIA_TYPE* m_pMediaType = nullptr;
  DWORD m_dwStreamId = 0;
  std::atomic<LONG> m_cRef{0};
};

// The allocator protocol: properties, commit and decommit, a free list with
// blocking GetBuffer. Derived classes allocate the memory (Alloc/Free).
class CBaseAllocator : public CUnknown, public IMemAllocator {
 public:
  CBaseAllocator(const char* name, LPUNKNOWN outer, HRESULT* result);
  ~CBaseAllocator() override;

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  HRESULT SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;
  HRESULT GetProperties(ALLOCATOR_PROPERTIES* properties) override;
  HRESULT Commit() override;
  HRESULT Decommit() override;
  HRESULT GetBuffer(IMediaSample** buffer, REFERENCE_TIME* start, REFERENCE_TIME* end, DWORD flags) override;
  HRESULT ReleaseBuffer(IMediaSample* buffer) override;

  BOOL IsCommitted() const;
  // Samples handed out and not yet returned.
  LONG OutstandingCount() const;

 protected:
  virtual HRESULT Alloc() = 0;  // called under the lock at Commit
  virtual void Free() = 0;      // called when decommitted and every sample is back

  mutable std::mutex m_lock;
  std::condition_variable m_sampleReturned;
  std::vector<CMediaSample*> m_lFree;
  std::vector<CMediaSample*> m_allSamples;
  LONG m_lCount = 0;
  LONG m_lSize = 0;
  LONG m_lAlignment = 0;
  LONG m_lPrefix = 0;
  BOOL m_bChanged = FALSE;  // properties changed since the buffers were made
  BOOL m_bCommitted = FALSE;
  BOOL m_bDecommitInProgress = FALSE;

 private:
  void FreeIfIdle(std::unique_lock<std::mutex>& hold);
};

// The standard allocator: one heap block holding every buffer, aligned and
// prefixed as asked (CLSID_MemoryAllocator).
class CMemAllocator : public CBaseAllocator {
 public:
  CMemAllocator(const char* name, LPUNKNOWN outer, HRESULT* result);
  ~CMemAllocator() override;
  HRESULT SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;
  static CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* result);

 protected:
  HRESULT Alloc() override;
  void Free() override;

 private:
  BYTE* m_pBuffer = nullptr;
};
