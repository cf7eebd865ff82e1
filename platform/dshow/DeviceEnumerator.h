// The system device enumerator (CLSID_SystemDeviceEnum): ICreateDevEnum
// hands out a moniker per filter of a category (FiltersInCategory); each
// moniker binds to the filter (IBaseFilter) or to a property bag holding
// "FriendlyName", "CLSID", "guid" (the same class, for the editing
// transitions) and "Merit".
#pragma once

#include "platform/com/OleInterfaces.h"
#include "platform/dshow/DShowInterfaces.h"

REEL_DEFINE_GUID(IID_IBindCtx, 0x0000000E, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
REEL_DEFINE_GUID(IID_IMoniker, 0x0000000F, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
REEL_DEFINE_GUID(IID_IEnumMoniker, 0x00000102, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
REEL_DEFINE_GUID(IID_ICreateDevEnum, 0x29840822, 0x5B84, 0x11D0, 0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86);

struct IBindCtx;  // binding contexts are accepted and not used
struct IEnumMoniker;

struct IMoniker : IPersistStream {
  STDMETHOD(BindToObject)(IBindCtx* context, IMoniker* left, REFIID riid, void** result) = 0;
  STDMETHOD(BindToStorage)(IBindCtx* context, IMoniker* left, REFIID riid, void** result) = 0;
  STDMETHOD(Reduce)(IBindCtx* context, DWORD howFar, IMoniker** toLeft, IMoniker** reduced) = 0;
  STDMETHOD(ComposeWith)(IMoniker* right, BOOL onlyIfNotGeneric, IMoniker** composite) = 0;
  STDMETHOD(Enum)(BOOL forward, IEnumMoniker** enumerator) = 0;
  STDMETHOD(IsEqual)(IMoniker* other) = 0;
  STDMETHOD(Hash)(DWORD* hash) = 0;
  STDMETHOD(IsRunning)(IBindCtx* context, IMoniker* left, IMoniker* newlyRunning) = 0;
  STDMETHOD(GetTimeOfLastChange)(IBindCtx* context, IMoniker* left, FILETIME* time) = 0;
  STDMETHOD(Inverse)(IMoniker** inverse) = 0;
  STDMETHOD(CommonPrefixWith)(IMoniker* other, IMoniker** prefix) = 0;
  STDMETHOD(RelativePathTo)(IMoniker* other, IMoniker** path) = 0;
  STDMETHOD(GetDisplayName)(IBindCtx* context, IMoniker* left, LPOLESTR* name) = 0;
  STDMETHOD(ParseDisplayName)(IBindCtx* context, IMoniker* left, LPOLESTR name, ULONG* eaten, IMoniker** result) = 0;
  STDMETHOD(IsSystemMoniker)(DWORD* kind) = 0;
};

struct IEnumMoniker : IUnknown {
  STDMETHOD(Next)(ULONG count, IMoniker** monikers, ULONG* fetched) = 0;
  STDMETHOD(Skip)(ULONG count) = 0;
  STDMETHOD(Reset)() = 0;
  STDMETHOD(Clone)(IEnumMoniker** enumerator) = 0;
};

constexpr DWORD CDEF_DEVMON_FILTER = 0x2;

struct ICreateDevEnum : IUnknown {
  // S_FALSE with a null enumerator when the category holds nothing, as
  // DirectShow answers.
  STDMETHOD(CreateClassEnumerator)(REFCLSID category, IEnumMoniker** enumerator, DWORD flags) = 0;
};

namespace reel {
template <> inline constexpr const IID& kIidOf<IMoniker> = IID_IMoniker;
template <> inline constexpr const IID& kIidOf<IEnumMoniker> = IID_IEnumMoniker;
template <> inline constexpr const IID& kIidOf<ICreateDevEnum> = IID_ICreateDevEnum;
}  // namespace reel
