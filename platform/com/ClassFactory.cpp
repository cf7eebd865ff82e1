#include "platform/com/ClassFactory.h"

namespace reel {

namespace {
const void* AddressOf(CreateFunction create) { return reinterpret_cast<const void*>(create); }
}  // namespace

ClassFactory::ClassFactory(CreateFunction create) : create_(create) {
  ModuleLock::ObjectCreated(ModuleLock::ModuleOf(AddressOf(create_)));
}

ClassFactory::~ClassFactory() { ModuleLock::ObjectDestroyed(ModuleLock::ModuleOf(AddressOf(create_))); }

HRESULT ClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (outer && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
  return create_(outer, riid, ppv);
}

// The lock belongs to the library, not to this factory: a client may lock
// through one factory and unlock through another. An unlock without a lock
// is ignored rather than eating into the count of live objects.
HRESULT ClassFactory::LockServer(BOOL lock) {
  if (lock) {
    ModuleLock::Lock(AddressOf(create_));
    return S_OK;
  }
  return ModuleLock::Unlock(AddressOf(create_)) ? S_OK : S_FALSE;
}

HRESULT CreateClassFactory(CreateFunction create, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!create) return E_INVALIDARG;
  ComPtr<ClassFactory> factory = MakeComObject<ClassFactory>(create);
  if (!factory) return E_OUTOFMEMORY;
  return factory->QueryInterface(riid, ppv);
}

}  // namespace reel
