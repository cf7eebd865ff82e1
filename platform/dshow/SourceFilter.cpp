#include "platform/dshow/SourceFilter.h"

#include <algorithm>
#include <chrono>

CSource::CSource(const char* name, LPUNKNOWN outer, REFCLSID clsid, HRESULT* result)
    : CBaseFilter(name, outer, &m_cStateLock, clsid, result) {}

CSource::~CSource() {
  // Each pin's destructor removes it from the list.
  while (!m_paStreams.empty()) delete m_paStreams.back();
}

int CSource::GetPinCount() {
  CAutoLock hold(&m_cStateLock);
  return static_cast<int>(m_paStreams.size());
}

CBasePin* CSource::GetPin(int index) {
  CAutoLock hold(&m_cStateLock);
  if (index < 0 || index >= static_cast<int>(m_paStreams.size())) return nullptr;
  return m_paStreams[static_cast<std::size_t>(index)];
}

int CSource::FindPinNumber(IPin* pin) {
  CAutoLock hold(&m_cStateLock);
  for (std::size_t index = 0; index < m_paStreams.size(); ++index)
    if (static_cast<IPin*>(m_paStreams[index]) == pin) return static_cast<int>(index);
  return -1;
}

HRESULT CSource::AddPin(CSourceStream* stream) {
  CAutoLock hold(&m_cStateLock);
  m_paStreams.push_back(stream);
  IncrementPinVersion();
  return S_OK;
}

HRESULT CSource::RemovePin(CSourceStream* stream) {
  CAutoLock hold(&m_cStateLock);
  auto found = std::find(m_paStreams.begin(), m_paStreams.end(), stream);
  if (found == m_paStreams.end()) return S_FALSE;
  m_paStreams.erase(found);
  IncrementPinVersion();
  return S_OK;
}

CSourceStream::CSourceStream(const char* objectName, HRESULT* result, CSource* filter, LPCWSTR pinName)
    : CBaseOutputPin(objectName, filter, filter->pStateLock(), result, pinName), m_pFilter(filter) {
  filter->AddPin(this);
}

CSourceStream::~CSourceStream() {
  // A worker still running here would call a half-destroyed object.
  if (ThreadExists()) {
    Stop();
    Exit();
    Close();
  }
  m_pFilter->RemovePin(this);
}

HRESULT CSourceStream::Active() {
  CAutoLock hold(m_pFilter->pStateLock());
  if (m_pFilter->IsActive()) return S_FALSE;  // already running
  if (!IsConnected()) return S_OK;
  HRESULT result = CBaseOutputPin::Active();
  if (FAILED(result)) return result;
  if (ThreadExists()) return E_UNEXPECTED;
  if (!Create()) return E_FAIL;
  result = Init();
  if (FAILED(result)) {
    Close();
    return result;
  }
  return Pause();
}

HRESULT CSourceStream::Inactive() {
  CAutoLock hold(m_pFilter->pStateLock());
  if (!IsConnected()) return S_OK;
  // Decommitting first releases a worker blocked in GetDeliveryBuffer.
  HRESULT result = CBaseOutputPin::Inactive();
  if (FAILED(result)) return result;
  if (ThreadExists()) {
    Stop();
    Exit();
    Close();
  }
  return S_OK;
}

DWORD CSourceStream::ThreadProc() {
  DWORD command;
  do {
    command = GetRequest();
    if (command != CMD_INIT) Reply(static_cast<DWORD>(E_UNEXPECTED));
  } while (command != CMD_INIT);

  HRESULT result = OnThreadCreate();
  if (FAILED(result)) {
    OnThreadDestroy();
    Reply(static_cast<DWORD>(result));
    // Answer the owner's remaining commands until it says exit.
    for (;;) {
      command = GetRequest();
      Reply(static_cast<DWORD>(command == CMD_EXIT || command == CMD_STOP ? S_OK : E_UNEXPECTED));
      if (command == CMD_EXIT) return 1;
    }
  }
  Reply(S_OK);

  do {
    command = GetRequest();
    switch (command) {
      case CMD_EXIT:
        Reply(S_OK);
        break;
      case CMD_RUN:
      case CMD_PAUSE:
        Reply(S_OK);
        DoBufferProcessingLoop();
        break;
      case CMD_STOP:
        Reply(S_OK);
        break;
      default:
        Reply(static_cast<DWORD>(E_NOTIMPL));
        break;
    }
  } while (command != CMD_EXIT);

  OnThreadDestroy();
  return 0;
}

HRESULT CSourceStream::DoBufferProcessingLoop() {
  DWORD command;
  OnThreadStartPlay();
  do {
    while (!CheckRequest(&command)) {
      IMediaSample* sample = nullptr;
      HRESULT result = GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
      if (FAILED(result)) {
        // Decommitted while a stop is on its way: wait for the command.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        continue;
      }
      result = FillBuffer(sample);
      if (result == S_OK) {
        result = Deliver(sample);
        sample->Release();
        // Downstream refused (flushing, stopping or an error): stop until
        // the next command.
        if (result != S_OK) return S_OK;
      } else if (result == S_FALSE) {
        sample->Release();
        DeliverEndOfStream();
        return S_OK;
      } else {
        sample->Release();
        DeliverEndOfStream();
        m_pFilter->NotifyEvent(EC_ERRORABORT, result, 0);
        return result;
      }
    }
    // Every command gets a reply; a stop is answered by ThreadProc.
    if (command == CMD_RUN || command == CMD_PAUSE) Reply(S_OK);
    else if (command != CMD_STOP) Reply(static_cast<DWORD>(E_UNEXPECTED));
  } while (command != CMD_STOP);
  return S_FALSE;
}

HRESULT CSourceStream::GetMediaType(CMediaType*) { return E_UNEXPECTED; }

HRESULT CSourceStream::GetMediaType(int position, CMediaType* mediaType) {
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  return GetMediaType(mediaType);
}

HRESULT CSourceStream::CheckMediaType(const CMediaType* mediaType) {
  CAutoLock hold(m_pFilter->pStateLock());
  CMediaType offered;
  if (FAILED(GetMediaType(&offered))) return E_FAIL;
  return offered == *mediaType ? S_OK : E_FAIL;
}
