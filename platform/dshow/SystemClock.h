// Reference clocks. CClockAdvises is the advise list every reference clock
// needs (one-shot and periodic advises that set CAMEvents when the clock
// reaches their time), over any time source; CSystemClock
// (CLSID_SystemClock) is the monotonic system clock in 100-ns units built
// on it. The audio renderer's clock uses the same advise list.
#pragma once

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "platform/com/ComObject.h"
#include "platform/dshow/DShowInterfaces.h"

class CClockAdvises {
 public:
  // `now` gives the clock's time; it is called from the advise thread and
  // must be safe from any thread. The clock is expected to run at about
  // the rate of the system clock, which times the waits between checks.
  explicit CClockAdvises(std::function<REFERENCE_TIME()> now);
  ~CClockAdvises();
  CClockAdvises(const CClockAdvises&) = delete;
  CClockAdvises& operator=(const CClockAdvises&) = delete;

  HRESULT AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT event, DWORD_PTR* cookie);
  HRESULT AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime, HSEMAPHORE semaphore,
                         DWORD_PTR* cookie);
  HRESULT Unadvise(DWORD_PTR cookie);
  // The clock's time moved in a way the waits could not foresee: check the
  // advises again.
  void TimeChanged();

 private:
  struct Advise {
    REFERENCE_TIME due;
    REFERENCE_TIME period;  // 0 for one-shot
    HEVENT event;
  };
  void Add(const Advise& advise, DWORD_PTR* cookie);
  void AdviseLoop();

  std::function<REFERENCE_TIME()> now_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::map<DWORD_PTR, Advise> advises_;
  DWORD_PTR nextCookie_ = 1;
  bool stopping_ = false;
  std::thread worker_;
};

class CSystemClock : public CUnknown, public IReferenceClock {
 public:
  explicit CSystemClock(LPUNKNOWN outer);
  ~CSystemClock() override;

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  HRESULT GetTime(REFERENCE_TIME* time) override;
  HRESULT AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT event, DWORD_PTR* cookie) override;
  HRESULT AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime, HSEMAPHORE semaphore,
                         DWORD_PTR* cookie) override;
  HRESULT Unadvise(DWORD_PTR cookie) override;

  // The current time of the process-wide steady clock in 100-ns units.
  static REFERENCE_TIME Now();

 private:
  std::mutex lock_;
  REFERENCE_TIME lastTime_ = 0;
  CClockAdvises advises_{&CSystemClock::Now};
};
