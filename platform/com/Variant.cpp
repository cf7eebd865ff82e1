#include "platform/com/Variant.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/com/Automation.h"
#include "platform/com/ComPtr.h"

namespace {

bool IsValidBaseType(VARTYPE type) {
  switch (type) {
    case VT_EMPTY: case VT_NULL: case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_CY: case VT_DATE:
    case VT_BSTR: case VT_DISPATCH: case VT_ERROR: case VT_BOOL: case VT_UNKNOWN: case VT_I1: case VT_UI1:
    case VT_UI2: case VT_UI4: case VT_I8: case VT_UI8: case VT_INT: case VT_UINT:
      return true;
    default:
      return false;
  }
}

bool IsValidType(VARTYPE type) {
  if (type & VT_ARRAY) return false;  // safe arrays are not supported
  if (type & VT_BYREF) {
    const VARTYPE base = type & ~VT_BYREF;
    return base == VT_VARIANT || (IsValidBaseType(base) && base != VT_EMPTY && base != VT_NULL);
  }
  return IsValidBaseType(type);
}

// A by-reference variant's value as a plain variant that borrows (does not
// own) any string or interface it holds.
HRESULT Dereference(const VARIANT& source, VARIANT& plain) {
  VariantInit(&plain);
  if (!(source.vt & VT_BYREF)) {
    plain = source;
    return S_OK;
  }
  const VARTYPE base = source.vt & ~VT_BYREF;
  if (!source.byref) return E_INVALIDARG;
  if (base == VT_VARIANT) {
    const VARIANT& inner = *source.pvarVal;
    if (inner.vt == (VT_BYREF | VT_VARIANT)) return DISP_E_BADVARTYPE;  // one level only
    return Dereference(inner, plain);
  }
  plain.vt = base;
  switch (base) {
    case VT_I1: case VT_UI1: plain.bVal = *source.pbVal; break;
    case VT_I2: case VT_UI2: case VT_BOOL: plain.iVal = *source.piVal; break;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_ERROR: case VT_R4:
      std::memcpy(&plain.lVal, source.byref, 4);
      break;
    case VT_I8: case VT_UI8: case VT_R8: case VT_DATE: case VT_CY:
      std::memcpy(&plain.llVal, source.byref, 8);
      break;
    case VT_BSTR: plain.bstrVal = *source.pbstrVal; break;
    case VT_UNKNOWN: case VT_DISPATCH: plain.punkVal = *source.ppunkVal; break;
    default: return DISP_E_BADVARTYPE;
  }
  return S_OK;
}

// A number read from a variant: integers exactly, reals as doubles.
struct Number {
  bool real = false;
  __int128 integer = 0;
  double value = 0;
};

bool IsNumeric(VARTYPE type) {
  switch (type) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_I8: case VT_UI8:
    case VT_INT: case VT_UINT: case VT_R4: case VT_R8: case VT_BOOL:
      return true;
    default:
      return false;
  }
}

Number ReadNumber(const VARIANT& plain) {
  Number number;
  switch (plain.vt) {
    case VT_I1: number.integer = plain.cVal; break;
    case VT_UI1: number.integer = plain.bVal; break;
    case VT_I2: number.integer = plain.iVal; break;
    case VT_UI2: number.integer = plain.uiVal; break;
    case VT_I4: case VT_INT: number.integer = plain.lVal; break;
    case VT_UI4: case VT_UINT: number.integer = plain.ulVal; break;
    case VT_I8: number.integer = plain.llVal; break;
    case VT_UI8: number.integer = plain.ullVal; break;
    case VT_BOOL: number.integer = plain.boolVal ? -1 : 0; break;
    case VT_R4: number.real = true, number.value = plain.fltVal; break;
    case VT_R8: number.real = true, number.value = plain.dblVal; break;
    default: break;
  }
  return number;
}

// Round half to even, as OLE does when a real becomes an integer.
double RoundHalfEven(double value) {
  const double floor = std::floor(value);
  const double fraction = value - floor;
  if (fraction > 0.5) return floor + 1;
  if (fraction < 0.5) return floor;
  return std::fmod(floor, 2.0) == 0 ? floor : floor + 1;
}

template <typename Integer>
HRESULT ToInteger(const Number& number, Integer& out) {
  constexpr auto lowest = std::numeric_limits<Integer>::min();
  constexpr auto highest = std::numeric_limits<Integer>::max();
  if (number.real) {
    if (!std::isfinite(number.value)) return DISP_E_OVERFLOW;
    const double rounded = RoundHalfEven(number.value);
    // Compare in long double so the limits of 64-bit types stay exact.
    if (static_cast<long double>(rounded) < static_cast<long double>(lowest) ||
        static_cast<long double>(rounded) > static_cast<long double>(highest))
      return DISP_E_OVERFLOW;
    out = static_cast<Integer>(rounded);
    return S_OK;
  }
  if (number.integer < static_cast<__int128>(lowest) || number.integer > static_cast<__int128>(highest))
    return DISP_E_OVERFLOW;
  out = static_cast<Integer>(number.integer);
  return S_OK;
}

double AsDouble(const Number& number) { return number.real ? number.value : static_cast<double>(number.integer); }

std::string FormatNumber(const VARIANT& plain, USHORT flags) {
  char text[64];
  switch (plain.vt) {
    case VT_BOOL:
      if (flags & VARIANT_ALPHABOOL) return plain.boolVal ? "True" : "False";
      return plain.boolVal ? "-1" : "0";
    case VT_R4:
      std::snprintf(text, sizeof text, "%.7G", static_cast<double>(plain.fltVal));
      return text;
    case VT_R8:
      std::snprintf(text, sizeof text, "%.15G", plain.dblVal);
      return text;
    default: {
      const Number number = ReadNumber(plain);
      if (number.integer < 0) {
        std::snprintf(text, sizeof text, "%lld", static_cast<long long>(number.integer));
      } else {
        std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(number.integer));
      }
      return text;
    }
  }
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t index = 0; index < a.size(); ++index) {
    char x = a[index], y = b[index];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// Reads a number written in the C locale: optional sign, digits, point,
// exponent, with blanks around it. Integers stay exact.
HRESULT ParseNumber(BSTR text, Number& number) {
  const std::string utf8 = reel::Utf8FromBstr(text);
  std::string_view view = Trim(utf8);
  if (view.empty()) return DISP_E_TYPEMISMATCH;
  // from_chars takes a minus sign but not a plus sign.
  if (view.front() == '+') view.remove_prefix(1);
  if (view.empty() || view.front() == '+') return DISP_E_TYPEMISMATCH;
  const char* begin = view.data();
  const char* end = begin + view.size();
  long long whole = 0;
  auto integer = std::from_chars(begin, end, whole);
  if (integer.ec == std::errc() && integer.ptr == end) {
    number.integer = whole;
    return S_OK;
  }
  double real = 0;
  auto parsed = std::from_chars(begin, end, real, std::chars_format::general);
  if (parsed.ptr != end) return DISP_E_TYPEMISMATCH;
  if (parsed.ec == std::errc::result_out_of_range) return DISP_E_OVERFLOW;
  if (parsed.ec != std::errc() || !std::isfinite(real)) return DISP_E_TYPEMISMATCH;
  number.real = true;
  number.value = real;
  return S_OK;
}

HRESULT StoreNumber(const Number& number, VARTYPE type, VARIANT& out) {
  HRESULT result = S_OK;
  switch (type) {
    case VT_I1: result = ToInteger(number, out.cVal); break;
    case VT_UI1: result = ToInteger(number, out.bVal); break;
    case VT_I2: result = ToInteger(number, out.iVal); break;
    case VT_UI2: result = ToInteger(number, out.uiVal); break;
    case VT_I4: case VT_INT: result = ToInteger(number, out.lVal); break;
    case VT_UI4: case VT_UINT: result = ToInteger(number, out.ulVal); break;
    case VT_I8: result = ToInteger(number, out.llVal); break;
    case VT_UI8: result = ToInteger(number, out.ullVal); break;
    case VT_R4: {
      const double value = AsDouble(number);
      if (std::isfinite(value) && std::fabs(value) > std::numeric_limits<float>::max()) return DISP_E_OVERFLOW;
      out.fltVal = static_cast<float>(value);
      break;
    }
    case VT_R8: out.dblVal = AsDouble(number); break;
    case VT_BOOL: out.boolVal = (number.real ? number.value != 0 : number.integer != 0) ? VARIANT_TRUE : VARIANT_FALSE; break;
    default: return DISP_E_TYPEMISMATCH;
  }
  if (SUCCEEDED(result)) out.vt = type;
  return result;
}

HRESULT Coerce(const VARIANT& plain, VARTYPE type, USHORT flags, VARIANT& out, int depth);

// A dispatch object's value: its DISPID_VALUE property.
HRESULT ValueOf(IDispatch* object, VARTYPE type, USHORT flags, VARIANT& out, int depth) {
  if (!object || (flags & VARIANT_NOVALUEPROP) || depth > 0) return DISP_E_TYPEMISMATCH;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  reel::Variant value;
  HRESULT result =
      object->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr);
  if (FAILED(result)) return DISP_E_TYPEMISMATCH;
  VARIANT plainValue;
  if (FAILED(Dereference(value, plainValue))) return DISP_E_TYPEMISMATCH;
  return Coerce(plainValue, type, flags, out, depth + 1);
}

HRESULT Coerce(const VARIANT& plain, VARTYPE type, USHORT flags, VARIANT& out, int depth) {
  VariantInit(&out);
  if (type == plain.vt) return VariantCopy(&out, &plain);
  if (type == VT_EMPTY) return S_OK;
  switch (plain.vt) {
    case VT_EMPTY: {
      if (type == VT_NULL) {
        out.vt = VT_NULL;
        return S_OK;
      }
      if (type == VT_BSTR) {
        out.bstrVal = SysAllocStringLen(nullptr, 0);
        if (!out.bstrVal) return E_OUTOFMEMORY;
        out.vt = VT_BSTR;
        return S_OK;
      }
      return StoreNumber(Number{}, type, out);
    }
    case VT_NULL:
      return DISP_E_TYPEMISMATCH;
    case VT_ERROR:
      if (type == VT_I4 || type == VT_UI4) {
        out.vt = type;
        out.lVal = plain.scode;
        return S_OK;
      }
      return DISP_E_TYPEMISMATCH;
    case VT_BSTR: {
      if (type == VT_BOOL) {
        const std::string utf8 = reel::Utf8FromBstr(plain.bstrVal);
        const std::string_view word = Trim(utf8);
        if (EqualsIgnoringCase(word, "true") || EqualsIgnoringCase(word, "false")) {
          out.vt = VT_BOOL;
          out.boolVal = EqualsIgnoringCase(word, "true") ? VARIANT_TRUE : VARIANT_FALSE;
          return S_OK;
        }
      }
      if (!IsNumeric(type)) return DISP_E_TYPEMISMATCH;
      Number number;
      HRESULT result = ParseNumber(plain.bstrVal, number);
      if (FAILED(result)) return result;
      return StoreNumber(number, type, out);
    }
    case VT_DISPATCH:
      if (type == VT_UNKNOWN) {
        IUnknown* identity = nullptr;
        if (plain.pdispVal && FAILED(plain.pdispVal->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity))))
          return DISP_E_TYPEMISMATCH;
        out.vt = VT_UNKNOWN;
        out.punkVal = identity;
        return S_OK;
      }
      return ValueOf(plain.pdispVal, type, flags, out, depth);
    case VT_UNKNOWN: {
      if (!plain.punkVal) {
        if (type != VT_DISPATCH) return DISP_E_TYPEMISMATCH;
        out.vt = VT_DISPATCH;
        return S_OK;
      }
      reel::ComPtr<IDispatch> object;
      if (FAILED(plain.punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&object))))
        return DISP_E_TYPEMISMATCH;
      if (type == VT_DISPATCH) {
        out.vt = VT_DISPATCH;
        out.pdispVal = object.Detach();
        return S_OK;
      }
      return ValueOf(object.Get(), type, flags, out, depth);
    }
    default:
      break;
  }
  if (!IsNumeric(plain.vt)) return DISP_E_TYPEMISMATCH;  // currency and dates are not converted
  if (type == VT_BSTR) {
    out.bstrVal = reel::BstrFromUtf8(FormatNumber(plain, flags));
    if (!out.bstrVal) return E_OUTOFMEMORY;
    out.vt = VT_BSTR;
    return S_OK;
  }
  if (type == VT_ERROR) {
    if (plain.vt != VT_I4 && plain.vt != VT_UI4) return DISP_E_TYPEMISMATCH;
    out.vt = VT_ERROR;
    out.scode = plain.lVal;
    return S_OK;
  }
  return StoreNumber(ReadNumber(plain), type, out);
}

}  // namespace

void VariantInit(VARIANT* variant) {
  if (!variant) return;
  std::memset(variant, 0, sizeof *variant);
  variant->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* variant) {
  if (!variant) return E_INVALIDARG;
  if (!IsValidType(variant->vt)) return DISP_E_BADVARTYPE;
  switch (variant->vt) {
    case VT_BSTR: SysFreeString(variant->bstrVal); break;
    case VT_UNKNOWN: case VT_DISPATCH:
      if (variant->punkVal) variant->punkVal->Release();
      break;
    default: break;
  }
  VariantInit(variant);
  return S_OK;
}

HRESULT VariantCopy(VARIANT* destination, const VARIANT* source) {
  if (!destination || !source) return E_INVALIDARG;
  if (!IsValidType(source->vt)) return DISP_E_BADVARTYPE;
  if (destination == source) return S_OK;
  VARIANT copy = *source;
  if (source->vt == VT_BSTR && source->bstrVal) {
    copy.bstrVal = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(source->bstrVal), SysStringByteLen(source->bstrVal));
    if (!copy.bstrVal) return E_OUTOFMEMORY;
  } else if ((source->vt == VT_UNKNOWN || source->vt == VT_DISPATCH) && source->punkVal) {
    source->punkVal->AddRef();
  }
  HRESULT result = VariantClear(destination);
  if (FAILED(result)) {
    VariantClear(&copy);
    return result;
  }
  *destination = copy;
  return S_OK;
}

HRESULT VariantCopyInd(VARIANT* destination, const VARIANT* source) {
  if (!destination || !source) return E_INVALIDARG;
  VARIANT plain;
  HRESULT result = Dereference(*source, plain);
  if (FAILED(result)) return result;
  if (destination == source) {
    VARIANT copy;
    VariantInit(&copy);
    result = VariantCopy(&copy, &plain);
    if (FAILED(result)) return result;
    *destination = copy;  // a by-reference variant owns nothing, so nothing leaks
    return S_OK;
  }
  return VariantCopy(destination, &plain);
}

HRESULT VariantChangeType(VARIANT* destination, const VARIANT* source, USHORT flags, VARTYPE type) {
  return VariantChangeTypeEx(destination, source, LOCALE_USER_DEFAULT, flags, type);
}

HRESULT VariantChangeTypeEx(VARIANT* destination, const VARIANT* source, LCID, USHORT flags, VARTYPE type) {
  if (!destination || !source) return E_INVALIDARG;
  if (!IsValidType(source->vt)) return DISP_E_BADVARTYPE;
  if (type & (VT_BYREF | VT_ARRAY)) return DISP_E_TYPEMISMATCH;
  if (!IsValidBaseType(type)) return DISP_E_BADVARTYPE;
  VARIANT plain;
  HRESULT result = Dereference(*source, plain);
  if (FAILED(result)) return result;
  VARIANT converted;
  result = Coerce(plain, type, flags, converted, 0);
  if (FAILED(result)) {
    VariantClear(&converted);
    return result;
  }
  // Only now, with the conversion done, may the source (possibly the same
  // variant as destination) be released.
  VariantClear(destination);
  *destination = converted;
  return S_OK;
}

namespace reel {

Variant Variant::I2(SHORT value) {
  Variant v;
  v.vt = VT_I2;
  v.iVal = value;
  return v;
}
Variant Variant::I4(LONG value) {
  Variant v;
  v.vt = VT_I4;
  v.lVal = value;
  return v;
}
Variant Variant::R4(FLOAT value) {
  Variant v;
  v.vt = VT_R4;
  v.fltVal = value;
  return v;
}
Variant Variant::R8(DOUBLE value) {
  Variant v;
  v.vt = VT_R8;
  v.dblVal = value;
  return v;
}
Variant Variant::Bool(bool value) {
  Variant v;
  v.vt = VT_BOOL;
  v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}
Variant Variant::String(std::string_view utf8) {
  Variant v;
  v.bstrVal = BstrFromUtf8(utf8);
  if (v.bstrVal) v.vt = VT_BSTR;
  return v;
}
Variant Variant::WideString(const OLECHAR* text) {
  Variant v;
  v.bstrVal = SysAllocString(text ? text : u"");
  if (v.bstrVal) v.vt = VT_BSTR;
  return v;
}
Variant Variant::Error(SCODE code) {
  Variant v;
  v.vt = VT_ERROR;
  v.scode = code;
  return v;
}
Variant Variant::Dispatch(IDispatch* object) {
  Variant v;
  v.vt = VT_DISPATCH;
  v.pdispVal = object;
  if (object) object->AddRef();
  return v;
}
Variant Variant::Unknown(IUnknown* object) {
  Variant v;
  v.vt = VT_UNKNOWN;
  v.punkVal = object;
  if (object) object->AddRef();
  return v;
}

Variant Variant::Adopt(VARIANT& variant) {
  Variant v;
  static_cast<VARIANT&>(v) = variant;
  VariantInit(&variant);
  return v;
}

void Variant::Detach(VARIANT* destination) {
  if (!destination) return;
  VariantClear(destination);
  *destination = *this;
  VariantInit(this);
}

std::string VariantToUtf8(const VARIANT& variant) {
  Variant text;
  if (FAILED(VariantChangeType(&text, &variant, VARIANT_ALPHABOOL, VT_BSTR))) return {};
  return Utf8FromBstr(text.bstrVal);
}

void ClearExcepInfo(EXCEPINFO* exception) {
  if (!exception) return;
  SysFreeString(exception->bstrSource);
  SysFreeString(exception->bstrDescription);
  SysFreeString(exception->bstrHelpFile);
  std::memset(exception, 0, sizeof *exception);
}

}  // namespace reel
