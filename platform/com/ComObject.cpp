#include "platform/com/ComObject.h"

#include <dlfcn.h>

#include <map>
#include <mutex>
#include <typeinfo>

CUnknown::CUnknown(LPUNKNOWN outer) : owner_(outer ? outer : &inner_) {}

CUnknown::CUnknown(const char* name, LPUNKNOWN outer, HRESULT*) : name_(name ? name : ""), owner_(outer ? outer : &inner_) {}

CUnknown::~CUnknown() {
  if (module_) reel::ModuleLock::ObjectDestroyed(module_);
}

HRESULT CUnknown::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown) return GetInterface(static_cast<IUnknown*>(&inner_), ppv);
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG CUnknown::NonDelegatingAddRef() {
  const long count = ++m_cRef;
  if (count == 1 && !module_) {
    // The object is complete by its first reference, so its dynamic type (and
    // with it the library holding its code) is known now.
    module_ = reel::ModuleLock::ModuleOf(&typeid(*this));
    if (module_) reel::ModuleLock::ObjectCreated(module_);
  }
  return static_cast<ULONG>(count);
}

ULONG CUnknown::NonDelegatingRelease() {
  const long count = --m_cRef;
  if (count == 0) {
    // A destructor that takes and drops a reference (an aggregate releasing
    // its inner object, say) must not come back here.
    m_cRef = 1;
    delete this;
    return 0;
  }
  return static_cast<ULONG>(count);
}

namespace reel {

namespace {

struct ModuleCount {
  long objects = 0;
  long locks = 0;
};

struct ModuleCounts {
  std::mutex mutex;
  std::map<const void*, ModuleCount> count;
};

ModuleCounts& Counts() {
  // Never destroyed: objects held by static pointers die after static
  // destructors have run.
  static ModuleCounts* counts = new ModuleCounts;
  return *counts;
}

// Adjusts one of the counts of moduleBase; a count never goes below zero.
bool Adjust(const void* moduleBase, long ModuleCount::*which, long delta) {
  if (!moduleBase) return false;
  ModuleCounts& counts = Counts();
  std::lock_guard lock(counts.mutex);
  ModuleCount& count = counts.count[moduleBase];
  const bool applied = count.*which + delta >= 0;
  if (applied) count.*which += delta;
  if (count.objects == 0 && count.locks == 0) counts.count.erase(moduleBase);
  return applied;
}

}  // namespace

const void* ModuleLock::ModuleOf(const void* address) {
  Dl_info info{};
  if (!address || dladdr(address, &info) == 0) return nullptr;
  return info.dli_fbase;
}

void ModuleLock::Lock(const void* addressInModule) { Adjust(ModuleOf(addressInModule), &ModuleCount::locks, +1); }
bool ModuleLock::Unlock(const void* addressInModule) {
  return Adjust(ModuleOf(addressInModule), &ModuleCount::locks, -1);
}
void ModuleLock::ObjectCreated(const void* moduleBase) { Adjust(moduleBase, &ModuleCount::objects, +1); }
void ModuleLock::ObjectDestroyed(const void* moduleBase) { Adjust(moduleBase, &ModuleCount::objects, -1); }

long ModuleLock::Count(const void* addressInModule) {
  const void* base = ModuleOf(addressInModule);
  if (!base) return 0;
  ModuleCounts& counts = Counts();
  std::lock_guard lock(counts.mutex);
  auto found = counts.count.find(base);
  return found == counts.count.end() ? 0 : found->second.objects + found->second.locks;
}

bool IsSameObject(IUnknown* a, IUnknown* b) {
  if (!a || !b) return a == b;
  ComPtr<IUnknown> identityA;
  ComPtr<IUnknown> identityB;
  if (FAILED(a->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identityA)))) return false;
  if (FAILED(b->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identityB)))) return false;
  return identityA == identityB;
}

}  // namespace reel
