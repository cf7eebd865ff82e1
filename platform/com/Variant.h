// VARIANT with the Windows layout (type tag, three reserved words, then a
// 16-byte union), and the OLE functions that initialise, clear, copy and
// convert it. Conversions follow OLE automation's rules: numbers narrow with
// DISP_E_OVERFLOW when out of range, reals round to integers half to even,
// true is -1 and every non-zero number is true, strings are read and written
// in the C locale, and a dispatch object converts through its value property.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "platform/com/Bstr.h"
#include "platform/com/Unknown.h"

struct IDispatch;

using VARTYPE = USHORT;
using VARIANT_BOOL = SHORT;
using DATE = double;

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_VOID = 24,
  VT_HRESULT = 25,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
  VT_TYPEMASK = 0x0FFF,
};

struct tagVARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LONGLONG llVal;
    LONG lVal;
    BYTE bVal;
    SHORT iVal;
    FLOAT fltVal;
    DOUBLE dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    DATE date;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    BYTE* pbVal;
    SHORT* piVal;
    LONG* plVal;
    LONGLONG* pllVal;
    FLOAT* pfltVal;
    DOUBLE* pdblVal;
    VARIANT_BOOL* pboolVal;
    SCODE* pscode;
    DATE* pdate;
    BSTR* pbstrVal;
    IUnknown** ppunkVal;
    IDispatch** ppdispVal;
    tagVARIANT* pvarVal;
    PVOID byref;
    CHAR cVal;
    USHORT uiVal;
    ULONG ulVal;
    ULONGLONG ullVal;
    INT intVal;
    UINT uintVal;
    CHAR* pcVal;
    USHORT* puiVal;
    ULONG* pulVal;
    ULONGLONG* pullVal;
    INT* pintVal;
    UINT* puintVal;
    struct {
      PVOID pvRecord;
      PVOID pRecInfo;
    } record;  // keeps the union at its Windows size of 16 bytes
  };
};
using VARIANT = tagVARIANT;
using VARIANTARG = VARIANT;
using LPVARIANT = VARIANT*;

static_assert(sizeof(VARIANT) == 8 + 16, "VARIANT keeps the Windows layout");

#define V_VT(v) ((v)->vt)
#define V_I2(v) ((v)->iVal)
#define V_I4(v) ((v)->lVal)
#define V_R4(v) ((v)->fltVal)
#define V_R8(v) ((v)->dblVal)
#define V_BOOL(v) ((v)->boolVal)
#define V_BSTR(v) ((v)->bstrVal)
#define V_UNKNOWN(v) ((v)->punkVal)
#define V_DISPATCH(v) ((v)->pdispVal)
#define V_ERROR(v) ((v)->scode)

// Flags of VariantChangeType(Ex).
constexpr USHORT VARIANT_NOVALUEPROP = 0x01;  // do not convert objects through their value property
constexpr USHORT VARIANT_ALPHABOOL = 0x02;    // booleans become "True"/"False" instead of "-1"/"0"

void VariantInit(VARIANT* variant);
// Frees what the variant owns (string, interface reference) and empties it.
HRESULT VariantClear(VARIANT* variant);
// destination = a copy of source (new string, added reference); by-reference
// values are copied as references.
HRESULT VariantCopy(VARIANT* destination, const VARIANT* source);
// As VariantCopy, but by-reference values are copied as the values they refer to.
HRESULT VariantCopyInd(VARIANT* destination, const VARIANT* source);
// destination and source may be the same variant. On failure destination is
// left as it was.
HRESULT VariantChangeType(VARIANT* destination, const VARIANT* source, USHORT flags, VARTYPE type);
HRESULT VariantChangeTypeEx(VARIANT* destination, const VARIANT* source, LCID locale, USHORT flags, VARTYPE type);

namespace reel {

// An owning VARIANT: cleared on destruction, deep-copied on copy.
class Variant : public VARIANT {
 public:
  Variant() { VariantInit(this); }
  Variant(const VARIANT& other) {
    VariantInit(this);
    VariantCopy(this, &other);
  }
  Variant(const Variant& other) : Variant(static_cast<const VARIANT&>(other)) {}
  Variant(Variant&& other) noexcept {
    static_cast<VARIANT&>(*this) = other;
    VariantInit(&other);
  }
  Variant& operator=(const Variant& other) {
    if (this != &other) VariantCopy(this, &other);
    return *this;
  }
  Variant& operator=(Variant&& other) noexcept {
    if (this != &other) {
      VariantClear(this);
      static_cast<VARIANT&>(*this) = other;
      VariantInit(&other);
    }
    return *this;
  }
  ~Variant() { VariantClear(this); }

  // Typed constructors; the value is copied (strings) or referenced (objects).
  static Variant I2(SHORT value);
  static Variant I4(LONG value);
  static Variant R4(FLOAT value);
  static Variant R8(DOUBLE value);
  static Variant Bool(bool value);
  static Variant String(std::string_view utf8);
  static Variant WideString(const OLECHAR* text);
  static Variant Error(SCODE code);
  static Variant Dispatch(IDispatch* object);
  static Variant Unknown(IUnknown* object);

  // Adopts variant's contents (which it then no longer owns).
  static Variant Adopt(VARIANT& variant);
  // Gives its contents to a VARIANT the caller owns.
  void Detach(VARIANT* destination);
  void Clear() { VariantClear(this); }
  HRESULT ChangeType(VARTYPE type, USHORT flags = 0) { return VariantChangeType(this, this, flags, type); }
};

// A Variant is a VARIANT and nothing more, so arrays of them can be passed
// as VARIANT arrays (DISPPARAMS::rgvarg).
static_assert(sizeof(Variant) == sizeof(VARIANT));

// The text of a variant converted to a string ("" when it cannot be).
std::string VariantToUtf8(const VARIANT& variant);

}  // namespace reel
