// The system reference clock (CLSID_SystemClock): a monotonic clock in
// 100-ns units with one-shot and periodic advises that set CAMEvents.
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "platform/com/ComObject.h"
#include "platform/dshow/DShowInterfaces.h"

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
  struct Advise {
    REFERENCE_TIME due;
    REFERENCE_TIME period;  // 0 for one-shot
    HEVENT event;
  };
  void AdviseLoop();

  std::mutex lock_;
  std::condition_variable changed_;
  std::map<DWORD_PTR, Advise> advises_;
  DWORD_PTR nextCookie_ = 1;
  bool stopping_ = false;
  std::thread worker_;
  REFERENCE_TIME lastTime_ = 0;
};
