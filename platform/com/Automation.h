// IDispatch and what its calls carry (DISPPARAMS, EXCEPINFO, dispatch ids).
#pragma once

#include "platform/com/Variant.h"

using DISPID = LONG;
using MEMBERID = DISPID;

constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_VALUE = 0;
constexpr DISPID DISPID_PROPERTYPUT = -3;
constexpr DISPID DISPID_NEWENUM = -4;
constexpr DISPID DISPID_EVALUATE = -5;

constexpr WORD DISPATCH_METHOD = 0x1;
constexpr WORD DISPATCH_PROPERTYGET = 0x2;
constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;

constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;

// Arguments in reverse order: rgvarg[cArgs - 1] is the first positional one;
// the first cNamedArgs entries are the named ones, identified by
// rgdispidNamedArgs.
struct DISPPARAMS {
  VARIANTARG* rgvarg;
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
};

struct EXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  PVOID pvReserved;
  HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
  SCODE scode;
};

// Type information is not provided by this runtime (GetTypeInfo answers
// E_NOTIMPL); the type exists so signatures match.
struct ITypeInfo;

REEL_DEFINE_GUID(IID_IDispatch, 0x00020400, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
REEL_DEFINE_GUID(IID_NULL, 0x00000000, 0x0000, 0x0000, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00);

struct IDispatch : IUnknown {
  virtual HRESULT GetTypeInfoCount(UINT* count) = 0;
  virtual HRESULT GetTypeInfo(UINT index, LCID locale, ITypeInfo** typeInfo) = 0;
  virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT nameCount, LCID locale, DISPID* ids) = 0;
  virtual HRESULT Invoke(DISPID member, REFIID riid, LCID locale, WORD flags, DISPPARAMS* parameters,
                         VARIANT* result, EXCEPINFO* exception, UINT* argumentError) = 0;
};
using LPDISPATCH = IDispatch*;
template <>
inline constexpr const IID& reel::kIidOf<IDispatch> = IID_IDispatch;

namespace reel {

// Clears an EXCEPINFO's strings and zeroes it.
void ClearExcepInfo(EXCEPINFO* exception);

}  // namespace reel
