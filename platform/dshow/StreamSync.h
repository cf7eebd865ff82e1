// Locks, events and the worker thread of the filter base classes, in the
// shapes filter code is written against: CCritSec/CAutoLock, CAMEvent and
// CAMThread (a thread that takes numbered commands and replies to each).
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/dshow/DShowTypes.h"

// A recursive lock, as a Win32 critical section is.
class CCritSec {
 public:
  CCritSec() = default;
  CCritSec(const CCritSec&) = delete;
  CCritSec& operator=(const CCritSec&) = delete;
  void Lock() { mutex_.lock(); }
  void Unlock() { mutex_.unlock(); }
  std::recursive_mutex& Native() { return mutex_; }

 private:
  std::recursive_mutex mutex_;
};

class CAutoLock {
 public:
  explicit CAutoLock(CCritSec* lock) : lock_(lock) { lock_->Lock(); }
  ~CAutoLock() { lock_->Unlock(); }
  CAutoLock(const CAutoLock&) = delete;
  CAutoLock& operator=(const CAutoLock&) = delete;

 private:
  CCritSec* lock_;
};

// A Win32-style event: manual-reset events stay set until Reset, auto-reset
// events release one waiter and clear themselves.
class CAMEvent {
 public:
  explicit CAMEvent(BOOL manualReset = FALSE) : manualReset_(manualReset != FALSE) {}
  CAMEvent(const CAMEvent&) = delete;
  CAMEvent& operator=(const CAMEvent&) = delete;

  void Set() {
    std::lock_guard<std::mutex> hold(mutex_);
    set_ = true;
    if (manualReset_) changed_.notify_all();
    else changed_.notify_one();
  }
  void Reset() {
    std::lock_guard<std::mutex> hold(mutex_);
    set_ = false;
  }
  // True when the event was set within the time-out (INFINITE waits forever).
  BOOL Wait(DWORD milliseconds = INFINITE) {
    std::unique_lock<std::mutex> hold(mutex_);
    if (milliseconds == INFINITE) {
      changed_.wait(hold, [this] { return set_; });
    } else if (!changed_.wait_for(hold, std::chrono::milliseconds(milliseconds), [this] { return set_; })) {
      return FALSE;
    }
    if (!manualReset_) set_ = false;
    return TRUE;
  }
  BOOL Check() { return Wait(0); }
  // The handle form used by IReferenceClock advises.
  HEVENT Handle() { return reinterpret_cast<HEVENT>(this); }
  static CAMEvent* FromHandle(HEVENT handle) { return reinterpret_cast<CAMEvent*>(handle); }

 private:
  const bool manualReset_;
  bool set_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
};

// A worker thread driven by requests: the owner sends a command with
// CallWorker and blocks until the worker Replies; the worker waits for
// commands with GetRequest or polls with CheckRequest (which leaves the
// request pending until the Reply).
class CAMThread {
 public:
  CAMThread() = default;
  virtual ~CAMThread();
  CAMThread(const CAMThread&) = delete;
  CAMThread& operator=(const CAMThread&) = delete;

  // Starts the thread; false if it already runs.
  BOOL Create();
  // Sends a request and waits for its reply.
  DWORD CallWorker(DWORD request);
  // Waits for the thread to end (the owner must have told it to).
  void Close();
  BOOL ThreadExists() const { return worker_.joinable(); }

  // Worker side.
  DWORD GetRequest();
  BOOL CheckRequest(DWORD* request);
  void Reply(DWORD result);

  CCritSec m_AccessLock;   // serialises callers of CallWorker
  CCritSec m_WorkerLock;   // held by the worker while it works, if it wishes

 protected:
  virtual DWORD ThreadProc() = 0;

 private:
  std::thread worker_;
  CAMEvent requestReady_{TRUE};
  CAMEvent replyReady_{FALSE};
  DWORD request_ = 0;
  DWORD reply_ = 0;
};
