#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "platform/com/ComPtr.h"
#include "platform/dshow/Allocator.h"
#include "platform/dshow/StreamSync.h"
#include "platform/dshow/SystemClock.h"
#include "platform/com/ClassTable.h"

namespace {

using reel::ComPtr;

ComPtr<IMemAllocator> NewAllocator(LONG buffers, LONG size, LONG align = 1, LONG prefix = 0) {
  ComPtr<IMemAllocator> allocator;
  EXPECT_EQ(CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                             reinterpret_cast<void**>(&allocator)),
            S_OK);
  ALLOCATOR_PROPERTIES request{buffers, size, align, prefix}, actual{};
  EXPECT_EQ(allocator->SetProperties(&request, &actual), S_OK);
  return allocator;
}

TEST(Allocator, SamplesCycleThroughTheFreeList) {
  auto allocator = NewAllocator(2, 100);
  IMediaSample* sample = nullptr;
  EXPECT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
  ASSERT_EQ(allocator->Commit(), S_OK);
  IMediaSample* first = nullptr;
  IMediaSample* second = nullptr;
  ASSERT_EQ(allocator->GetBuffer(&first, nullptr, nullptr, 0), S_OK);
  ASSERT_EQ(allocator->GetBuffer(&second, nullptr, nullptr, 0), S_OK);
  EXPECT_EQ(first->GetSize(), 100);
  // Both out: a non-waiting request fails, a waiting one gets the first back.
  EXPECT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);
  auto waiter = std::async(std::launch::async, [&] {
    IMediaSample* again = nullptr;
    HRESULT result = allocator->GetBuffer(&again, nullptr, nullptr, 0);
    if (again) again->Release();
    return result;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  first->Release();
  EXPECT_EQ(waiter.get(), S_OK);
  second->Release();
  EXPECT_EQ(allocator->Decommit(), S_OK);
}

TEST(Allocator, DecommitReleasesWaitersAndRefusesPropertyChanges) {
  auto allocator = NewAllocator(1, 16);
  ASSERT_EQ(allocator->Commit(), S_OK);
  ALLOCATOR_PROPERTIES request{4, 16, 1, 0}, actual{};
  EXPECT_EQ(allocator->SetProperties(&request, &actual), VFW_E_ALREADY_COMMITTED);
  IMediaSample* held = nullptr;
  ASSERT_EQ(allocator->GetBuffer(&held, nullptr, nullptr, 0), S_OK);
  auto waiter = std::async(std::launch::async, [&] {
    IMediaSample* sample = nullptr;
    return allocator->GetBuffer(&sample, nullptr, nullptr, 0);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  allocator->Decommit();
  EXPECT_EQ(waiter.get(), VFW_E_NOT_COMMITTED);
  // With a sample still out, the properties cannot change either.
  EXPECT_EQ(allocator->SetProperties(&request, &actual), VFW_E_BUFFERS_OUTSTANDING);
  held->Release();
  EXPECT_EQ(allocator->SetProperties(&request, &actual), S_OK);
  EXPECT_EQ(actual.cBuffers, 4);
}

TEST(Allocator, OutstandingSampleOutlivesItsOwner) {
  IMediaSample* sample = nullptr;
  {
    auto allocator = NewAllocator(1, 32);
    ASSERT_EQ(allocator->Commit(), S_OK);
    ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
    allocator->Decommit();
  }
  // The allocator is kept alive by the sample; writing to it is safe.
  BYTE* data = nullptr;
  ASSERT_EQ(sample->GetPointer(&data), S_OK);
  std::memset(data, 0xEE, 32);
  sample->Release();
}

TEST(Allocator, AlignmentAndPrefix) {
  auto allocator = NewAllocator(3, 10, 16, 8);
  ALLOCATOR_PROPERTIES properties{};
  allocator->GetProperties(&properties);
  EXPECT_EQ((properties.cbBuffer + properties.cbPrefix) % 16, 0);
  ASSERT_EQ(allocator->Commit(), S_OK);
  std::vector<IMediaSample*> held;  // all out at once: three different buffers
  for (int index = 0; index < 3; ++index) {
    IMediaSample* sample = nullptr;
    ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
    held.push_back(sample);
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(data) % 16, 0u);
    std::memset(data - 8, index, 8 + 10);  // the prefix is ours to write
  }
  for (IMediaSample* sample : held) sample->Release();
  allocator->Decommit();
  ALLOCATOR_PROPERTIES unaligned{1, 10, 3, 0}, actual{};
  EXPECT_EQ(allocator->SetProperties(&unaligned, &actual), VFW_E_BADALIGN);
}

TEST(MediaSample, TimesFlagsAndLengths) {
  auto allocator = NewAllocator(1, 64);
  ASSERT_EQ(allocator->Commit(), S_OK);
  IMediaSample* sample = nullptr;
  ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
  REFERENCE_TIME start = 0, stop = 0;
  EXPECT_EQ(sample->GetTime(&start, &stop), VFW_E_SAMPLE_TIME_NOT_SET);
  REFERENCE_TIME begin = 100;
  sample->SetTime(&begin, nullptr);
  EXPECT_EQ(sample->GetTime(&start, &stop), VFW_S_NO_STOP_TIME);
  EXPECT_EQ(start, 100);
  REFERENCE_TIME end = 200;
  sample->SetTime(&begin, &end);
  EXPECT_EQ(sample->GetTime(&start, &stop), S_OK);
  EXPECT_EQ(stop, 200);
  EXPECT_EQ(sample->SetActualDataLength(65), VFW_E_BUFFER_OVERFLOW);
  EXPECT_EQ(sample->SetActualDataLength(-1), VFW_E_BUFFER_OVERFLOW);
  EXPECT_EQ(sample->SetActualDataLength(10), S_OK);
  EXPECT_EQ(sample->IsSyncPoint(), S_FALSE);
  sample->SetSyncPoint(TRUE);
  sample->SetDiscontinuity(TRUE);
  EXPECT_EQ(sample->IsSyncPoint(), S_OK);
  EXPECT_EQ(sample->IsDiscontinuity(), S_OK);
  AM_MEDIA_TYPE* type = nullptr;
  EXPECT_EQ(sample->GetMediaType(&type), S_FALSE);
  CMediaType changed(&MEDIATYPE_Audio);
  sample->SetMediaType(&changed);
  ASSERT_EQ(sample->GetMediaType(&type), S_OK);
  EXPECT_EQ(type->majortype, MEDIATYPE_Audio);
  DeleteMediaType(type);
  sample->Release();
  // Flags do not survive a trip through the allocator.
  ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
  EXPECT_EQ(sample->IsSyncPoint(), S_FALSE);
  EXPECT_EQ(sample->GetMediaType(&type), S_FALSE);
  EXPECT_EQ(sample->GetTime(&start, &stop), VFW_E_SAMPLE_TIME_NOT_SET);
  sample->Release();
  allocator->Decommit();
}

class CountingThread : public CAMThread {
 public:
  DWORD ThreadProc() override {
    for (;;) {
      DWORD request = GetRequest();
      Reply(request * 2);
      if (request == 0) return 0;
    }
  }
};

TEST(AMThread, CommandsGetTheirReplies) {
  CountingThread thread;
  EXPECT_EQ(thread.CallWorker(3), static_cast<DWORD>(E_FAIL));  // no thread yet
  ASSERT_TRUE(thread.Create());
  EXPECT_FALSE(thread.Create());
  EXPECT_EQ(thread.CallWorker(21), 42u);
  EXPECT_EQ(thread.CallWorker(5), 10u);
  EXPECT_EQ(thread.CallWorker(0), 0u);
  thread.Close();
  EXPECT_FALSE(thread.ThreadExists());
}

TEST(SystemClock, MonotonicWithAdvises) {
  ComPtr<IReferenceClock> clock;
  ASSERT_EQ(CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER, IID_IReferenceClock,
                             reinterpret_cast<void**>(&clock)),
            S_OK);
  REFERENCE_TIME first = 0, second = 0;
  clock->GetTime(&first);
  clock->GetTime(&second);
  EXPECT_GE(second, first);

  CAMEvent oneShot;
  DWORD_PTR cookie = 0;
  clock->GetTime(&first);
  ASSERT_EQ(clock->AdviseTime(first, 300000 /* 30 ms */, oneShot.Handle(), &cookie), S_OK);
  EXPECT_FALSE(oneShot.Wait(5));
  EXPECT_TRUE(oneShot.Wait(1000));
  clock->GetTime(&second);
  EXPECT_GE(second - first, 300000);

  CAMEvent periodic;
  clock->GetTime(&first);
  ASSERT_EQ(clock->AdvisePeriodic(first, 100000, periodic.Handle(), &cookie), S_OK);
  EXPECT_TRUE(periodic.Wait(1000));
  EXPECT_TRUE(periodic.Wait(1000));
  EXPECT_EQ(clock->Unadvise(cookie), S_OK);
  EXPECT_EQ(clock->Unadvise(cookie), S_FALSE);
  EXPECT_EQ(clock->AdviseTime(0, -5, oneShot.Handle(), &cookie), E_INVALIDARG);
}

}  // namespace
