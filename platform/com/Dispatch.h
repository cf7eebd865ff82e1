// IDispatch from a declarative table. A class lists its members once:
//
//   const reel::DispatchTable<Ctrl>& Ctrl::DispatchMap() {
//     static const auto table = reel::DispatchTable<Ctrl>()
//         .Property(2, "WMVProfile", &Ctrl::GetWMVProfile, &Ctrl::SetWMVProfile)
//         .Property(5, "UseVideoCompressor", &Ctrl::m_bUseVideoCompressor, VT_BOOL)
//         .Method(87, "Save", &Ctrl::Save, {.result = VT_BOOL, .names = {"FileName"}});
//     return table;
//   }
//
// and puts DECLARE_DISPATCH_TABLE(Ctrl) in its body. Parameter and result
// types come from the C++ signatures: short VT_I2, 32-bit integers VT_I4,
// float VT_R4, double VT_R8, bool VT_BOOL, BSTR and std::string VT_BSTR,
// IDispatch* VT_DISPATCH, IUnknown* VT_UNKNOWN, VARIANT VT_VARIANT, enums VT_I2,
// pointers the by-reference form of their target. Where C++ cannot tell (BOOL
// is a 32-bit integer but travels as VT_BOOL; colours as VT_UI4), the table
// names the automation type and the value is converted between the two.
//
// Ownership: BSTR and interface parameters are borrowed for the call; a BSTR
// or interface pointer returned by a getter or method is handed over with its
// reference (return ComPtr or std::string to avoid thinking about it).
// A setter may return an HRESULT: a failure reaches the caller as
// DISP_E_EXCEPTION with the code in EXCEPINFO::scode, the way automation
// errors such as CTL_E_SETNOTSUPPORTED are raised.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "platform/com/Automation.h"
#include "platform/com/ComPtr.h"

namespace reel {

// How one C++ type travels in a VARIANT. kType is its natural automation
// type; Read takes the value from a VARIANT of that type, Write stores one.
template <typename P, typename = void>
struct DispatchValue {
  static_assert(sizeof(P) == 0, "this C++ type has no automation type");
};

namespace dispatch_detail {
template <typename P>
constexpr VARTYPE IntegerType() {
  if constexpr (std::is_same_v<P, bool>) return VT_BOOL;
  else if constexpr (sizeof(P) == 1) return std::is_signed_v<P> ? VT_I1 : VT_UI1;
  else if constexpr (sizeof(P) == 2) return std::is_signed_v<P> ? VT_I2 : VT_UI2;
  else if constexpr (sizeof(P) == 4) return std::is_signed_v<P> ? VT_I4 : VT_UI4;
  else return std::is_signed_v<P> ? VT_I8 : VT_UI8;
}
template <typename P>
P ReadInteger(const VARIANT& v) {
  if constexpr (std::is_same_v<P, bool>) return v.boolVal != 0;
  else if constexpr (sizeof(P) == 1) return static_cast<P>(v.bVal);
  else if constexpr (sizeof(P) == 2) return static_cast<P>(v.uiVal);
  else if constexpr (sizeof(P) == 4) return static_cast<P>(v.ulVal);
  else return static_cast<P>(v.ullVal);
}
template <typename P>
void WriteInteger(P value, VARIANT* v) {
  v->vt = IntegerType<P>();
  if constexpr (std::is_same_v<P, bool>) v->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  else if constexpr (sizeof(P) == 1) v->bVal = static_cast<BYTE>(value);
  else if constexpr (sizeof(P) == 2) v->uiVal = static_cast<USHORT>(value);
  else if constexpr (sizeof(P) == 4) v->ulVal = static_cast<ULONG>(value);
  else v->ullVal = static_cast<ULONGLONG>(value);
}
}  // namespace dispatch_detail

template <typename P>
struct DispatchValue<P, std::enable_if_t<std::is_integral_v<P>>> {
  static constexpr VARTYPE kType = dispatch_detail::IntegerType<P>();
  static P Read(VARIANT& v) { return dispatch_detail::ReadInteger<P>(v); }
  static void Write(P value, VARIANT* v) { dispatch_detail::WriteInteger<P>(value, v); }
};
template <typename P>
struct DispatchValue<P, std::enable_if_t<std::is_enum_v<P>>> {
  static constexpr VARTYPE kType = VT_I2;
  static P Read(VARIANT& v) { return static_cast<P>(v.iVal); }
  static void Write(P value, VARIANT* v) {
    v->vt = VT_I2;
    v->iVal = static_cast<SHORT>(value);
  }
};
template <>
struct DispatchValue<float> {
  static constexpr VARTYPE kType = VT_R4;
  static float Read(VARIANT& v) { return v.fltVal; }
  static void Write(float value, VARIANT* v) { v->vt = VT_R4, v->fltVal = value; }
};
template <>
struct DispatchValue<double> {
  static constexpr VARTYPE kType = VT_R8;
  static double Read(VARIANT& v) { return v.dblVal; }
  static void Write(double value, VARIANT* v) { v->vt = VT_R8, v->dblVal = value; }
};
template <>
struct DispatchValue<BSTR> {
  static constexpr VARTYPE kType = VT_BSTR;
  static BSTR Read(VARIANT& v) { return v.bstrVal; }
  static void Write(BSTR value, VARIANT* v) { v->vt = VT_BSTR, v->bstrVal = value; }  // takes ownership
};
template <>
struct DispatchValue<const OLECHAR*> {
  static constexpr VARTYPE kType = VT_BSTR;
  static const OLECHAR* Read(VARIANT& v) { return v.bstrVal ? v.bstrVal : u""; }
  static void Write(const OLECHAR* value, VARIANT* v) { v->vt = VT_BSTR, v->bstrVal = SysAllocString(value ? value : u""); }
};
template <>
struct DispatchValue<std::string> {
  static constexpr VARTYPE kType = VT_BSTR;
  static std::string Read(VARIANT& v) { return Utf8FromBstr(v.bstrVal); }
  static void Write(const std::string& value, VARIANT* v) { v->vt = VT_BSTR, v->bstrVal = BstrFromUtf8(value); }
};
template <>
struct DispatchValue<std::string_view> {
  static constexpr VARTYPE kType = VT_BSTR;
  // Read as a std::string that lives for the call (see ReadArgument).
  static void Write(std::string_view value, VARIANT* v) { v->vt = VT_BSTR, v->bstrVal = BstrFromUtf8(value); }
};
template <>
struct DispatchValue<Bstr> {
  static constexpr VARTYPE kType = VT_BSTR;
  static Bstr Read(VARIANT& v) { return Bstr(v.bstrVal ? v.bstrVal : u""); }
  static void Write(Bstr value, VARIANT* v) { v->vt = VT_BSTR, v->bstrVal = value.Detach(); }
};
template <>
struct DispatchValue<IDispatch*> {
  static constexpr VARTYPE kType = VT_DISPATCH;
  static IDispatch* Read(VARIANT& v) { return v.pdispVal; }
  static void Write(IDispatch* value, VARIANT* v) { v->vt = VT_DISPATCH, v->pdispVal = value; }  // takes the reference
};
template <>
struct DispatchValue<IUnknown*> {
  static constexpr VARTYPE kType = VT_UNKNOWN;
  static IUnknown* Read(VARIANT& v) { return v.punkVal; }
  static void Write(IUnknown* value, VARIANT* v) { v->vt = VT_UNKNOWN, v->punkVal = value; }  // takes the reference
};
template <typename I>
struct DispatchValue<ComPtr<I>> {
  static constexpr VARTYPE kType = std::is_base_of_v<IDispatch, I> ? VT_DISPATCH : VT_UNKNOWN;
  static ComPtr<I> Read(VARIANT& v) {
    ComPtr<I> object;
    if (v.punkVal) v.punkVal->QueryInterface(kIidOf<I>, reinterpret_cast<void**>(&object));
    return object;
  }
  static void Write(ComPtr<I> value, VARIANT* v) {
    v->vt = kType;
    if constexpr (std::is_base_of_v<IDispatch, I>)
      v->pdispVal = static_cast<IDispatch*>(value.Detach());
    else
      v->punkVal = static_cast<IUnknown*>(value.Detach());
  }
};
template <>
struct DispatchValue<VARIANT> {
  static constexpr VARTYPE kType = VT_VARIANT;
  static const VARIANT& Read(VARIANT& v) { return v; }
  static void Write(const VARIANT& value, VARIANT* v) { *v = value; }  // takes what value owns
};
template <>
struct DispatchValue<Variant> {
  static constexpr VARTYPE kType = VT_VARIANT;
  static Variant Read(VARIANT& v) { return Variant(v); }
  static void Write(Variant value, VARIANT* v) { value.Detach(v); }
};
// Out-parameters: the caller passes the by-reference variant of the type.
template <typename P>
struct DispatchValue<P*, std::enable_if_t<std::is_arithmetic_v<P> || std::is_same_v<P, BSTR> ||
                                          std::is_same_v<P, VARIANT>>> {
  static constexpr VARTYPE kType =
      VT_BYREF | (std::is_same_v<P, VARIANT> ? VT_VARIANT : DispatchValue<P>::kType);
  static P* Read(VARIANT& v) { return static_cast<P*>(v.byref); }
};

// One way of calling a member (get, put or call), with its signature.
struct DispatchCall {
  std::vector<VARTYPE> declared;  // per parameter, natural order; a put's last parameter is the value
  std::vector<VARTYPE> natural;
  VARTYPE declaredResult = VT_EMPTY;
  VARTYPE naturalResult = VT_EMPTY;  // VT_EMPTY: no result
  std::size_t optional = 0;          // how many trailing parameters may be left out
  // args hold the parameters converted to their natural types.
  std::function<HRESULT(void* object, VARIANT* args, VARIANT* result)> invoke;
  explicit operator bool() const { return static_cast<bool>(invoke); }
};

struct DispatchMember {
  DISPID id = DISPID_UNKNOWN;
  std::string name;
  std::vector<std::string> parameterNames;
  DispatchCall get;
  DispatchCall put;
  DispatchCall method;
};

// Options of a method entry: automation types where the C++ types do not
// say (VT_EMPTY entries are deduced), parameter names for named arguments,
// and how many trailing parameters are optional.
struct MethodOptions {
  VARTYPE result = VT_EMPTY;
  std::vector<VARTYPE> parameters = {};
  std::vector<std::string> names = {};
  std::size_t optional = 0;
};

// The type-independent half of a table: lookup and Invoke's argument rules.
class DispatchTableBase {
 public:
  const DispatchMember* Find(DISPID id) const;
  const DispatchMember* FindByName(std::string_view name) const;  // case-insensitive
  const std::vector<DispatchMember>& Members() const { return members_; }

  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) const;
  HRESULT Invoke(void* object, DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* parameters,
                 VARIANT* result, EXCEPINFO* exception, UINT* argumentError) const;

 protected:
  // Adds call to the member id (creating it), as its get, put or method.
  void Add(DISPID id, std::string_view name, DispatchCall DispatchMember::*slot, DispatchCall call,
           std::vector<std::string> names = {});

 private:
  std::vector<DispatchMember> members_;
  std::unordered_map<DISPID, std::size_t> byId_;
  std::unordered_map<std::string, std::size_t> byName_;
};

namespace dispatch_detail {

template <typename P>
using Plain = std::remove_cv_t<std::remove_reference_t<P>>;
template <typename P>
using ValueOf = std::conditional_t<std::is_same_v<Plain<P>, std::string_view>, std::string, Plain<P>>;

template <typename P>
constexpr VARTYPE NaturalType() {
  return DispatchValue<ValueOf<P>>::kType;
}

template <typename P>
decltype(auto) ReadArgument(VARIANT& v) {
  if constexpr (std::is_same_v<Plain<P>, std::string_view>)
    return DispatchValue<std::string>::Read(v);  // a std::string that lives for the call
  else
    return DispatchValue<Plain<P>>::Read(v);
}

template <typename R>
void WriteResult(R&& value, VARIANT* result) {
  DispatchValue<ValueOf<R>>::Write(std::forward<R>(value), result);
}

template <typename... Args>
std::vector<VARTYPE> NaturalTypes() {
  return {NaturalType<Args>()...};
}

inline std::vector<VARTYPE> Declared(const std::vector<VARTYPE>& natural, const std::vector<VARTYPE>& overrides) {
  std::vector<VARTYPE> declared = natural;
  for (std::size_t index = 0; index < overrides.size() && index < declared.size(); ++index)
    if (overrides[index] != VT_EMPTY) declared[index] = overrides[index];
  return declared;
}

// Calls function(object, args...) with the converted arguments; R is its
// result type (void for none).
template <typename T, typename R, typename... Args, typename Function, std::size_t... Index>
HRESULT Call(Function& function, T& object, VARIANT* args, VARIANT* result, std::index_sequence<Index...>) {
  if constexpr (std::is_void_v<R>) {
    function(object, ReadArgument<Args>(args[Index])...);
    (void)result;
    return S_OK;
  } else {
    WriteResult<R>(function(object, ReadArgument<Args>(args[Index])...), result);
    return S_OK;
  }
}

template <typename T, typename R, typename... Args, typename Function>
DispatchCall MakeCall(Function function, VARTYPE resultType, std::vector<VARTYPE> parameterTypes) {
  DispatchCall call;
  call.natural = NaturalTypes<Args...>();
  call.declared = Declared(call.natural, parameterTypes);
  if constexpr (!std::is_void_v<R>) {
    call.naturalResult = NaturalType<R>();
    call.declaredResult = resultType != VT_EMPTY ? resultType : call.naturalResult;
  }
  call.invoke = [function](void* object, VARIANT* args, VARIANT* result) mutable -> HRESULT {
    return Call<T, R, Args...>(function, *static_cast<T*>(object), args, result, std::index_sequence_for<Args...>{});
  };
  return call;
}

// A setter whose return value (if any) is an HRESULT.
template <typename T, typename R, typename... Args, typename Function>
DispatchCall MakeSetter(Function function, VARTYPE valueType) {
  DispatchCall call;
  call.natural = NaturalTypes<Args...>();
  call.declared = call.natural;
  if (valueType != VT_EMPTY && !call.declared.empty()) call.declared.back() = valueType;
  call.invoke = [function](void* object, VARIANT* args, VARIANT*) mutable -> HRESULT {
    T& self = *static_cast<T*>(object);
    return [&]<std::size_t... Index>(std::index_sequence<Index...>) -> HRESULT {
      if constexpr (std::is_void_v<R>) {
        function(self, ReadArgument<Args>(args[Index])...);
        return S_OK;
      } else {
        static_assert(std::is_same_v<R, HRESULT>, "a setter returns nothing or an HRESULT");
        return function(self, ReadArgument<Args>(args[Index])...);
      }
    }(std::index_sequence_for<Args...>{});
  };
  return call;
}

}  // namespace dispatch_detail

template <typename T>
class DispatchTable : public DispatchTableBase {
 public:
  // Read-only property from a getter (possibly with index parameters).
  template <typename Getter>
  DispatchTable& Property(DISPID id, std::string_view name, Getter getter, VARTYPE type = VT_EMPTY) {
    if constexpr (std::is_member_object_pointer_v<Getter>) {
      return Property(id, name, getter, getter, type);  // a data member alone is read-write
    } else {
      Add(id, name, &DispatchMember::get, Getter_(getter, type));
      return *this;
    }
  }
  // Property with a setter (nullptr: read-only; put answers DISP_E_MEMBERNOTFOUND).
  template <typename Getter, typename Setter>
    requires(!std::is_integral_v<Setter> && !std::is_enum_v<Setter>)
  DispatchTable& Property(DISPID id, std::string_view name, Getter getter, Setter setter, VARTYPE type = VT_EMPTY) {
    Add(id, name, &DispatchMember::get, Getter_(getter, type));
    if constexpr (!std::is_null_pointer_v<Setter>) Add(id, name, &DispatchMember::put, Setter_(setter, type));
    return *this;
  }
  template <typename Function>
  DispatchTable& Method(DISPID id, std::string_view name, Function function, MethodOptions options = {}) {
    Add(id, name, &DispatchMember::method, Method_(function, options), options.names);
    return *this;
  }
  // _NewEnum: the enumerator of a collection, answered as get and as method.
  template <typename Function>
  DispatchTable& NewEnum(Function function) {
    Add(DISPID_NEWENUM, "_NewEnum", &DispatchMember::get, Getter_(function, VT_UNKNOWN));
    Add(DISPID_NEWENUM, "_NewEnum", &DispatchMember::method, Getter_(function, VT_UNKNOWN));
    return *this;
  }

  HRESULT Invoke(T* object, DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                 EXCEPINFO* exception, UINT* argumentError) const {
    return DispatchTableBase::Invoke(static_cast<void*>(object), id, riid, locale, flags, parameters, result,
                                     exception, argumentError);
  }

 private:
  // Member functions (const or not), data members and functions of (T&, ...).
  template <typename R, typename C, typename... Args>
  static DispatchCall Getter_(R (C::*getter)(Args...), VARTYPE type) {
    return dispatch_detail::MakeCall<T, R, Args...>(
        [getter](T& self, dispatch_detail::ValueOf<Args>... args) -> R { return (self.*getter)(args...); }, type, {});
  }
  template <typename R, typename C, typename... Args>
  static DispatchCall Getter_(R (C::*getter)(Args...) const, VARTYPE type) {
    return dispatch_detail::MakeCall<T, R, Args...>(
        [getter](T& self, dispatch_detail::ValueOf<Args>... args) -> R { return (self.*getter)(args...); }, type, {});
  }
  template <typename R, typename... Args>
  static DispatchCall Getter_(R (*getter)(T&, Args...), VARTYPE type) {
    return dispatch_detail::MakeCall<T, R, Args...>(getter, type, {});
  }
  template <typename M, typename C>
  static DispatchCall Getter_(M C::*member, VARTYPE type) requires(!std::is_function_v<M>) {
    return dispatch_detail::MakeCall<T, M>([member](T& self) -> M { return self.*member; }, type, {});
  }

  template <typename R, typename C, typename... Args>
  static DispatchCall Setter_(R (C::*setter)(Args...), VARTYPE type) {
    return dispatch_detail::MakeSetter<T, R, Args...>(
        [setter](T& self, dispatch_detail::ValueOf<Args>... args) -> R { return (self.*setter)(args...); }, type);
  }
  template <typename R, typename... Args>
  static DispatchCall Setter_(R (*setter)(T&, Args...), VARTYPE type) {
    return dispatch_detail::MakeSetter<T, R, Args...>(setter, type);
  }
  template <typename M, typename C>
  static DispatchCall Setter_(M C::*member, VARTYPE type) requires(!std::is_function_v<M>) {
    return dispatch_detail::MakeSetter<T, void, M>([member](T& self, M value) { self.*member = std::move(value); },
                                                   type);
  }

  template <typename R, typename C, typename... Args>
  static DispatchCall Method_(R (C::*method)(Args...), const MethodOptions& options) {
    auto call = dispatch_detail::MakeCall<T, R, Args...>(
        [method](T& self, dispatch_detail::ValueOf<Args>... args) -> R { return (self.*method)(args...); },
        options.result, options.parameters);
    call.optional = options.optional;
    return call;
  }
  template <typename R, typename C, typename... Args>
  static DispatchCall Method_(R (C::*method)(Args...) const, const MethodOptions& options) {
    auto call = dispatch_detail::MakeCall<T, R, Args...>(
        [method](T& self, dispatch_detail::ValueOf<Args>... args) -> R { return (self.*method)(args...); },
        options.result, options.parameters);
    call.optional = options.optional;
    return call;
  }
  template <typename R, typename... Args>
  static DispatchCall Method_(R (*method)(T&, Args...), const MethodOptions& options) {
    auto call = dispatch_detail::MakeCall<T, R, Args...>(method, options.result, options.parameters);
    call.optional = options.optional;
    return call;
  }
};

HRESULT DispatchTypeInfoCount(UINT* count);
HRESULT DispatchTypeInfo(UINT index, LCID locale, ITypeInfo** typeInfo);

}  // namespace reel

// The four IDispatch methods of Class, answered from Class::DispatchMap().
#define DECLARE_DISPATCH_TABLE(Class)                                                                           \
  static const reel::DispatchTable<Class>& DispatchMap();                                                       \
  HRESULT GetTypeInfoCount(UINT* count) override { return reel::DispatchTypeInfoCount(count); }                 \
  HRESULT GetTypeInfo(UINT index, LCID locale, ITypeInfo** typeInfo) override {                                 \
    return reel::DispatchTypeInfo(index, locale, typeInfo);                                                     \
  }                                                                                                             \
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override {          \
    return DispatchMap().GetIDsOfNames(riid, names, count, locale, ids);                                        \
  }                                                                                                             \
  HRESULT Invoke(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* parameters, VARIANT* result,      \
                 EXCEPINFO* exception, UINT* argumentError) override {                                          \
    return DispatchMap().Invoke(this, id, riid, locale, flags, parameters, result, exception, argumentError);   \
  }
