// Source filters whose output pins each run a worker thread: CSource keeps
// the pins, CSourceStream is a pin that fills and delivers sample after
// sample (FillBuffer) from its own thread until FillBuffer answers S_FALSE
// (end of stream), and takes run, pause and stop commands from the filter.
#pragma once

#include <vector>

#include "platform/dshow/BaseFilter.h"

class CSourceStream;

class CSource : public CBaseFilter {
 public:
  CSource(const char* name, LPUNKNOWN outer, REFCLSID clsid, HRESULT* result = nullptr);
  ~CSource() override;

  int GetPinCount() override;
  CBasePin* GetPin(int index) override;
  // A pin's index, or -1.
  int FindPinNumber(IPin* pin);

  // Called by CSourceStream's constructor and destructor.
  HRESULT AddPin(CSourceStream* stream);
  HRESULT RemovePin(CSourceStream* stream);

  CCritSec* pStateLock() { return &m_cStateLock; }

 protected:
  std::vector<CSourceStream*> m_paStreams;
  CCritSec m_cStateLock;
};

class CSourceStream : public CAMThread, public CBaseOutputPin {
 public:
  CSourceStream(const char* objectName, HRESULT* result, CSource* filter, LPCWSTR pinName);
  ~CSourceStream() override;

  // Worker commands.
  enum Command : DWORD { CMD_INIT, CMD_PAUSE, CMD_RUN, CMD_STOP, CMD_EXIT };
  HRESULT Init() { return static_cast<HRESULT>(CallWorker(CMD_INIT)); }
  HRESULT Exit() { return static_cast<HRESULT>(CallWorker(CMD_EXIT)); }
  HRESULT Run() { return static_cast<HRESULT>(CallWorker(CMD_RUN)); }
  HRESULT Pause() { return static_cast<HRESULT>(CallWorker(CMD_PAUSE)); }
  HRESULT Stop() { return static_cast<HRESULT>(CallWorker(CMD_STOP)); }

  // Creates the worker when the filter leaves the stopped state and ends it
  // when the filter stops.
  HRESULT Active() override;
  HRESULT Inactive() override;

  using CBasePin::Run;

 protected:
  // Fills one sample: S_OK delivers it, S_FALSE ends the stream, a failure
  // ends the stream and reports EC_ERRORABORT.
  virtual HRESULT FillBuffer(IMediaSample* sample) = 0;
  virtual HRESULT OnThreadCreate() { return S_OK; }
  virtual HRESULT OnThreadDestroy() { return S_OK; }
  // Each time the worker starts delivering (after Pause or Run commands).
  virtual HRESULT OnThreadStartPlay() { return S_OK; }
  virtual HRESULT DoBufferProcessingLoop();
  DWORD ThreadProc() override;

  // Single-type pins override GetMediaType(CMediaType*); pins with several
  // types override the positional form and CheckMediaType.
  virtual HRESULT GetMediaType(CMediaType* mediaType);
  HRESULT GetMediaType(int position, CMediaType* mediaType) override;
  HRESULT CheckMediaType(const CMediaType* mediaType) override;

  CSource* m_pFilter;
};
