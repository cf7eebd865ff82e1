// IUnknown. Interfaces are abstract classes whose first three virtual methods
// are QueryInterface, AddRef and Release; they have no virtual destructor, so
// the N-th virtual method is vtable slot N counting QueryInterface as slot 0.
#pragma once

#include "platform/com/Guid.h"
#include "platform/com/HResult.h"

#define STDMETHODCALLTYPE
#define STDMETHOD(method) virtual HRESULT method
#define STDMETHOD_(type, method) virtual type method

REEL_DEFINE_GUID(IID_IUnknown, 0x00000000, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

struct IUnknown {
  virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;  // objects are destroyed through Release only
};
using LPUNKNOWN = IUnknown*;

// The interface id of an interface type, declared beside each interface:
//   template <> inline constexpr const IID& reel::kIidOf<IFoo> = IID_IFoo;
namespace reel {
template <typename Interface>
inline constexpr const IID& kIidOf = Interface::kNoIidDeclared;
template <>
inline constexpr const IID& kIidOf<IUnknown> = IID_IUnknown;
}  // namespace reel
