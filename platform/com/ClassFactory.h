// IClassFactory and the one factory every class uses: it wraps a create
// function, so a class is made creatable by naming that function.
#pragma once

#include "platform/com/ComObject.h"

REEL_DEFINE_GUID(IID_IClassFactory, 0x00000001, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

struct IClassFactory : IUnknown {
  virtual HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) = 0;
  virtual HRESULT LockServer(BOOL lock) = 0;
};
template <>
inline constexpr const IID& reel::kIidOf<IClassFactory> = IID_IClassFactory;

namespace reel {

// Creates an object, aggregated in outer when outer is not null, and answers
// riid from it (see CreateComObject<T>).
using CreateFunction = HRESULT (*)(IUnknown* outer, REFIID riid, void** ppv);

// The generic factory. The library that holds the create function counts as
// in use while the factory lives (so it cannot be unloaded under a client
// that holds its factory) and while LockServer locks it.
class ClassFactory final : public ComObject<IClassFactory> {
 public:
  explicit ClassFactory(CreateFunction create);
  ~ClassFactory() override;

  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
  HRESULT LockServer(BOOL lock) override;

 private:
  CreateFunction create_;
};

// A new factory for create, answered for riid (the usual body of
// DllGetClassObject once the CLSID is matched).
HRESULT CreateClassFactory(CreateFunction create, REFIID riid, void** ppv);

}  // namespace reel
