#include "platform/com/ClassTable.h"

#include <mutex>
#include <unordered_map>

#include "platform/com/InprocServers.h"

namespace {

struct BuiltinClasses {
  std::mutex mutex;
  std::unordered_map<CLSID, reel::CreateFunction> table;
};

// Filled by static initialisers of any library, hence built on first use, and
// never destroyed so late static destructors can still create objects.
BuiltinClasses& Builtins() {
  static BuiltinClasses* classes = new BuiltinClasses;
  return *classes;
}

reel::CreateFunction FindBuiltin(REFCLSID clsid) {
  BuiltinClasses& classes = Builtins();
  std::lock_guard lock(classes.mutex);
  auto found = classes.table.find(clsid);
  return found == classes.table.end() ? nullptr : found->second;
}

thread_local int initializeCount = 0;

}  // namespace

namespace reel {

bool RegisterBuiltinClass(REFCLSID clsid, CreateFunction create) {
  BuiltinClasses& classes = Builtins();
  std::lock_guard lock(classes.mutex);
  if (create)
    classes.table[clsid] = create;
  else
    classes.table.erase(clsid);
  return true;
}

void UnregisterBuiltinClass(REFCLSID clsid) { RegisterBuiltinClass(clsid, nullptr); }

}  // namespace reel

HRESULT CoInitialize(LPVOID reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

HRESULT CoInitializeEx(LPVOID, DWORD) { return initializeCount++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize() {
  if (initializeCount > 0) --initializeCount;
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, LPVOID, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if ((context & CLSCTX_INPROC) == 0) return REGDB_E_CLASSNOTREG;
  if (reel::CreateFunction create = FindBuiltin(clsid)) return reel::CreateClassFactory(create, riid, ppv);
  return reel::GetClassObjectFromServer(clsid, riid, ppv);
}

HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  reel::ComPtr<IClassFactory> factory;
  HRESULT result = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (FAILED(result)) return result;
  if (!factory) return E_UNEXPECTED;
  result = factory->CreateInstance(outer, riid, ppv);
  if (SUCCEEDED(result) && !*ppv) return E_UNEXPECTED;
  return result;
}

void CoFreeUnusedLibraries() { reel::FreeUnusedServers(); }

void CoFreeUnusedLibrariesEx(DWORD, DWORD) { reel::FreeUnusedServers(); }
