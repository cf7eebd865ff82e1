#include "platform/dshow/SystemClock.h"

#include <algorithm>
#include <chrono>

#include "platform/com/ClassTable.h"
#include "platform/dshow/StreamSync.h"

// ---------------------------------------------------------------------------
// CClockAdvises

CClockAdvises::CClockAdvises(std::function<REFERENCE_TIME()> now) : now_(std::move(now)) {}

CClockAdvises::~CClockAdvises() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (worker_.joinable()) worker_.join();
}

void CClockAdvises::Add(const Advise& advise, DWORD_PTR* cookie) {
  std::lock_guard<std::mutex> hold(lock_);
  *cookie = nextCookie_++;
  advises_[*cookie] = advise;
  if (!worker_.joinable()) worker_ = std::thread([this] { AdviseLoop(); });
  changed_.notify_all();
}

HRESULT CClockAdvises::AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT event,
                                  DWORD_PTR* cookie) {
  if (!cookie) return E_POINTER;
  *cookie = 0;
  if (!event) return E_INVALIDARG;
  if (baseTime + streamTime <= 0 || streamTime < 0) return E_INVALIDARG;
  Add(Advise{baseTime + streamTime, 0, event}, cookie);
  return S_OK;
}

HRESULT CClockAdvises::AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime, HSEMAPHORE semaphore,
                                      DWORD_PTR* cookie) {
  if (!cookie) return E_POINTER;
  *cookie = 0;
  if (!semaphore || startTime < 0 || periodTime <= 0) return E_INVALIDARG;
  Add(Advise{startTime, periodTime, semaphore}, cookie);
  return S_OK;
}

HRESULT CClockAdvises::Unadvise(DWORD_PTR cookie) {
  std::lock_guard<std::mutex> hold(lock_);
  return advises_.erase(cookie) ? S_OK : S_FALSE;
}

void CClockAdvises::TimeChanged() { changed_.notify_all(); }

void CClockAdvises::AdviseLoop() {
  std::unique_lock<std::mutex> hold(lock_);
  while (!stopping_) {
    REFERENCE_TIME now = now_();
    REFERENCE_TIME next = MAX_TIME;
    for (auto entry = advises_.begin(); entry != advises_.end();) {
      Advise& advise = entry->second;
      if (advise.due <= now) {
        CAMEvent::FromHandle(advise.event)->Set();
        if (advise.period == 0) {
          entry = advises_.erase(entry);
          continue;
        }
        while (advise.due <= now) advise.due += advise.period;
      }
      if (advise.due < next) next = advise.due;
      ++entry;
    }
    if (next == MAX_TIME) {
      changed_.wait(hold);
    } else {
      // A clock that runs a little slower than the system clock is checked
      // again soon after the wait instead of being overshot by much.
      REFERENCE_TIME wait = std::max<REFERENCE_TIME>(next - now, 10000);
      changed_.wait_for(hold, std::chrono::nanoseconds(wait * 100));
    }
  }
}

// ---------------------------------------------------------------------------
// CSystemClock

CSystemClock::CSystemClock(LPUNKNOWN outer) : CUnknown("system clock", outer) {}

CSystemClock::~CSystemClock() = default;

HRESULT CSystemClock::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IReferenceClock) return GetInterface(static_cast<IReferenceClock*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

REFERENCE_TIME CSystemClock::Now() {
  auto since = std::chrono::steady_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / 100;
}

HRESULT CSystemClock::GetTime(REFERENCE_TIME* time) {
  if (!time) return E_POINTER;
  std::lock_guard<std::mutex> hold(lock_);
  REFERENCE_TIME now = Now();
  // Two calls in the same 100 ns answer S_FALSE, as the system clock does.
  HRESULT result = now == lastTime_ ? S_FALSE : S_OK;
  lastTime_ = now;
  *time = now;
  return result;
}

HRESULT CSystemClock::AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT event, DWORD_PTR* cookie) {
  return advises_.AdviseTime(baseTime, streamTime, event, cookie);
}

HRESULT CSystemClock::AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime, HSEMAPHORE semaphore,
                                     DWORD_PTR* cookie) {
  return advises_.AdvisePeriodic(startTime, periodTime, semaphore, cookie);
}

HRESULT CSystemClock::Unadvise(DWORD_PTR cookie) { return advises_.Unadvise(cookie); }

namespace {
const bool kSystemClockRegistered = reel::RegisterBuiltinClass(CLSID_SystemClock, &reel::CreateComObject<CSystemClock>);
}  // namespace
