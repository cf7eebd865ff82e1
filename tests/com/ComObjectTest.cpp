#include <gtest/gtest.h>

#include "platform/com/Com.h"

namespace {

// Two small interfaces for the tests.
REEL_DEFINE_GUID(IID_ICounter, 0x6A0C1E10, 0x1111, 0x4A2B, 0x9C, 0x01, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60);
struct ICounter : IUnknown {
  virtual int Next() = 0;
};
REEL_DEFINE_GUID(IID_INamed, 0x6A0C1E11, 0x1111, 0x4A2B, 0x9C, 0x01, 0x10, 0x20, 0x30, 0x40, 0x50, 0x61);
struct INamed : IUnknown {
  virtual const char* Name() = 0;
};
REEL_DEFINE_GUID(CLSID_TestCounter, 0x6A0C1E12, 0x1111, 0x4A2B, 0x9C, 0x01, 0x10, 0x20, 0x30, 0x40, 0x50, 0x62);
REEL_DEFINE_GUID(CLSID_Unknown, 0x6A0C1E13, 0x1111, 0x4A2B, 0x9C, 0x01, 0x10, 0x20, 0x30, 0x40, 0x50, 0x63);

}  // namespace

template <>
inline constexpr const IID& reel::kIidOf<ICounter> = IID_ICounter;
template <>
inline constexpr const IID& reel::kIidOf<INamed> = IID_INamed;

namespace {

int liveCounters = 0;

class Counter : public reel::ComObject<ICounter, INamed> {
 public:
  explicit Counter(LPUNKNOWN outer) : ComObject(outer) { ++liveCounters; }
  ~Counter() override { --liveCounters; }
  int Next() override { return ++value_; }
  const char* Name() override { return "counter"; }

 private:
  int value_ = 0;
};

ULONG RefCount(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

TEST(ComPtr, OwnsExactlyOneReference) {
  ICounter* raw = nullptr;
  ASSERT_EQ(reel::CreateComObject<Counter>(nullptr, IID_ICounter, reinterpret_cast<void**>(&raw)), S_OK);
  EXPECT_EQ(RefCount(raw), 1u);
  {
    reel::ComPtr<ICounter> held(raw);  // takes its own reference
    EXPECT_EQ(RefCount(raw), 2u);
    reel::ComPtr<ICounter> copy = held;
    EXPECT_EQ(RefCount(raw), 3u);
    reel::ComPtr<ICounter> moved = std::move(copy);
    EXPECT_FALSE(copy);
    EXPECT_EQ(RefCount(raw), 3u);
    moved = held;  // same object: count unchanged
    EXPECT_EQ(RefCount(raw), 3u);
    moved.Reset();
    EXPECT_EQ(RefCount(raw), 2u);
  }
  EXPECT_EQ(RefCount(raw), 1u);
  reel::ComPtr<ICounter> adopted;
  adopted.Attach(raw);  // adopts the creation reference
  EXPECT_EQ(liveCounters, 1);
  ICounter* detached = adopted.Detach();
  EXPECT_EQ(detached, raw);
  EXPECT_EQ(liveCounters, 1);
  detached->Release();
  EXPECT_EQ(liveCounters, 0);
}

TEST(ComPtr, AddressOfReleasesTheOldReferenceForAnOutParameter) {
  reel::ComPtr<ICounter> slot;
  ASSERT_EQ(reel::CreateComObject<Counter>(nullptr, IID_PPV_ARGS(&slot)), S_OK);
  ASSERT_EQ(liveCounters, 1);
  ASSERT_EQ(reel::CreateComObject<Counter>(nullptr, IID_PPV_ARGS(&slot)), S_OK);
  EXPECT_EQ(liveCounters, 1);  // the first object was released by &slot
  slot = nullptr;
  EXPECT_EQ(liveCounters, 0);
}

TEST(ComObject, AnswersItsInterfaceListWithOneIdentity) {
  reel::ComPtr<ICounter> counter = reel::MakeComObject<Counter>(nullptr);
  reel::ComPtr<INamed> named;
  ASSERT_EQ(counter.As(&named), S_OK);
  EXPECT_STREQ(named->Name(), "counter");
  reel::ComPtr<IUnknown> fromCounter, fromNamed;
  ASSERT_EQ(counter.As(&fromCounter), S_OK);
  ASSERT_EQ(named.As(&fromNamed), S_OK);
  EXPECT_EQ(fromCounter, fromNamed);
  EXPECT_TRUE(reel::IsSameObject(counter.Get(), named.Get()));
  reel::ComPtr<IClassFactory> notThere;
  EXPECT_EQ(counter.As(&notThere), E_NOINTERFACE);
  EXPECT_FALSE(notThere);
  EXPECT_EQ(counter->QueryInterface(IID_ICounter, nullptr), E_POINTER);
}

// An outer object that aggregates a Counter: the counter's interfaces are
// reached through the outer, and their references count on the outer.
class Outer : public reel::ComObject<INamed> {
 public:
  Outer() : ComObject(nullptr) {
    result_ = reel::CreateComObject<Counter>(GetOwner(), IID_IUnknown, reinterpret_cast<void**>(&inner_));
  }
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_ICounter && inner_) return inner_->QueryInterface(riid, ppv);
    return ComObject::NonDelegatingQueryInterface(riid, ppv);
  }
  const char* Name() override { return "outer"; }
  HRESULT result_ = E_FAIL;
  reel::ComPtr<IUnknown> inner_;
};

TEST(ComObject, AggregatedObjectDelegatesToItsOuter) {
  reel::ComPtr<Outer> outer = reel::MakeComObject<Outer>();
  ASSERT_EQ(outer->result_, S_OK);
  reel::ComPtr<ICounter> counter;
  ASSERT_EQ(outer.As(&counter), S_OK);
  EXPECT_EQ(counter->Next(), 1);
  // QueryInterface on the inner's interface reaches the outer's table.
  reel::ComPtr<INamed> named;
  ASSERT_EQ(counter.As(&named), S_OK);
  EXPECT_STREQ(named->Name(), "outer");
  EXPECT_TRUE(reel::IsSameObject(counter.Get(), outer->GetNonDelegatingUnknown()));
  EXPECT_EQ(RefCount(outer->inner_.Get()), 1u);  // the inner's own count is untouched
  named.Reset();
  outer.Reset();
  EXPECT_EQ(liveCounters, 1);  // still held through counter
  counter.Reset();
  EXPECT_EQ(liveCounters, 0);
}

TEST(ComObject, AggregationMustAskForIUnknown) {
  reel::ComPtr<Outer> outer = reel::MakeComObject<Outer>();
  void* result = reinterpret_cast<void*>(1);
  EXPECT_EQ(reel::CreateComObject<Counter>(outer.Get(), IID_ICounter, &result), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(result, nullptr);
}

TEST(ClassTable, BuiltinClassIsCreatedThroughItsFactory) {
  ASSERT_TRUE(reel::RegisterBuiltinClass(CLSID_TestCounter, &reel::CreateComObject<Counter>));
  reel::ComPtr<ICounter> counter;
  ASSERT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&counter)), S_OK);
  EXPECT_EQ(counter->Next(), 1);

  reel::ComPtr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(CLSID_TestCounter, CLSCTX_ALL, nullptr, IID_PPV_ARGS(&factory)), S_OK);
  reel::ComPtr<INamed> named;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&named)), S_OK);
  EXPECT_STREQ(named->Name(), "counter");
  void* aggregated = nullptr;
  EXPECT_EQ(factory->CreateInstance(counter.Get(), IID_INamed, &aggregated), CLASS_E_NOAGGREGATION);

  reel::UnregisterBuiltinClass(CLSID_TestCounter);
  reel::ComPtr<ICounter> gone;
  EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&gone)), REGDB_E_CLASSNOTREG);
  EXPECT_FALSE(gone);
}

TEST(ClassTable, CreationFailuresAreReported) {
  reel::ComPtr<ICounter> counter;
  EXPECT_EQ(CoCreateInstance(CLSID_Unknown, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&counter)), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CoCreateInstance(CLSID_Unknown, nullptr, CLSCTX_ALL, IID_ICounter, nullptr), E_POINTER);
  reel::RegisterBuiltinClass(CLSID_TestCounter, &reel::CreateComObject<Counter>);
  // Only in-process classes exist.
  EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&counter)),
            REGDB_E_CLASSNOTREG);
  reel::ComPtr<IClassFactory> wrongInterface;
  EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&wrongInterface)), E_NOINTERFACE);
  EXPECT_EQ(liveCounters, 0);
}

TEST(ClassFactory, LockServerAndLiveObjectsHoldTheModule) {
  const void* here = reinterpret_cast<const void*>(&reel::CreateComObject<Counter>);
  const long before = reel::ModuleLock::Count(here);
  reel::ComPtr<IClassFactory> factory;
  ASSERT_EQ(reel::CreateClassFactory(&reel::CreateComObject<Counter>, IID_PPV_ARGS(&factory)), S_OK);
  EXPECT_EQ(reel::ModuleLock::Count(here), before + 1);  // the factory itself
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(reel::ModuleLock::Count(here), before + 2);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(factory->LockServer(FALSE), S_FALSE);  // unbalanced unlock is ignored
  EXPECT_EQ(reel::ModuleLock::Count(here), before + 1);
  reel::ComPtr<ICounter> counter;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&counter)), S_OK);
  EXPECT_EQ(reel::ModuleLock::Count(here), before + 2);  // Counter's code lives in this program
  factory.Reset();
  counter.Reset();
  EXPECT_EQ(reel::ModuleLock::Count(here), before);
}

TEST(GuidStrings, RoundTripThroughWideText) {
  LPOLESTR text = nullptr;
  ASSERT_EQ(StringFromCLSID(CLSID_TestCounter, &text), S_OK);
  EXPECT_EQ(std::u16string(text), u"{6A0C1E12-1111-4A2B-9C01-102030405062}");
  CLSID parsed{};
  EXPECT_EQ(CLSIDFromString(text, &parsed), S_OK);
  EXPECT_EQ(parsed, CLSID_TestCounter);
  CoTaskMemFree(text);
  OLECHAR small[38];
  EXPECT_EQ(StringFromGUID2(CLSID_TestCounter, small, 38), 0);
  OLECHAR exact[39];
  EXPECT_EQ(StringFromGUID2(CLSID_TestCounter, exact, 39), 39);
  EXPECT_EQ(CLSIDFromString(u"{6A0C1E12-1111-4A2B-9C01-1020304050}", &parsed), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromString(u"{6A0C1E12-1111-4A2B-9C01-102030405062}x", &parsed), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromString(nullptr, &parsed), CO_E_CLASSSTRING);
}

}  // namespace
