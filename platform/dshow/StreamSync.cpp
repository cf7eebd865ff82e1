#include "platform/dshow/StreamSync.h"

CAMThread::~CAMThread() { Close(); }

BOOL CAMThread::Create() {
  CAutoLock hold(&m_AccessLock);
  if (worker_.joinable()) return FALSE;
  worker_ = std::thread([this] { ThreadProc(); });
  return TRUE;
}

DWORD CAMThread::CallWorker(DWORD request) {
  CAutoLock hold(&m_AccessLock);
  if (!worker_.joinable()) return static_cast<DWORD>(E_FAIL);
  request_ = request;
  requestReady_.Set();
  replyReady_.Wait();
  return reply_;
}

void CAMThread::Close() {
  if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id()) worker_.join();
}

DWORD CAMThread::GetRequest() {
  requestReady_.Wait();
  return request_;
}

BOOL CAMThread::CheckRequest(DWORD* request) {
  if (!requestReady_.Check()) return FALSE;
  if (request) *request = request_;
  return TRUE;
}

void CAMThread::Reply(DWORD result) {
  reply_ = result;
  requestReady_.Reset();
  replyReady_.Set();
}
