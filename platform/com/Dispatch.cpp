#include "platform/com/Dispatch.h"

#include <cstring>

#include "platform/win/Strings.h"

namespace reel {

namespace {

std::string Folded(std::string_view name) {
  std::string folded(name);
  for (char& c : folded)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return folded;
}

bool IsIntegerType(VARTYPE type) {
  switch (type) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_I8: case VT_UI8:
    case VT_INT: case VT_UINT:
      return true;
    default:
      return false;
  }
}

// An omitted argument: VT_ERROR with DISP_E_PARAMNOTFOUND, as OLE callers
// pass for a parameter left out.
bool IsOmitted(const VARIANT& argument) { return argument.vt == VT_ERROR && argument.scode == DISP_E_PARAMNOTFOUND; }

// Converts one argument to its declared automation type, then to the type
// the C++ parameter has. A declared VT_BOOL given to an integer parameter
// arrives as TRUE (1) or FALSE (0).
HRESULT ConvertArgument(const VARIANT& source, VARTYPE declared, VARTYPE natural, VARIANT& converted) {
  if (declared == VT_VARIANT) {
    converted = source;  // borrowed: the caller's variant, not to be cleared
    return S_OK;
  }
  if (declared & VT_BYREF) {
    if (source.vt != declared) return DISP_E_TYPEMISMATCH;
    converted = source;
    return S_OK;
  }
  HRESULT result = VariantChangeType(&converted, &source, 0, declared);
  if (FAILED(result)) return result;
  if (natural == declared || natural == VT_VARIANT) return S_OK;
  if (declared == VT_BOOL && IsIntegerType(natural)) {
    const bool value = converted.boolVal != 0;
    converted.vt = VT_I4;
    converted.lVal = value ? TRUE : FALSE;
    if (natural == VT_I4) return S_OK;
  }
  return VariantChangeType(&converted, &converted, 0, natural);
}

HRESULT RaiseException(HRESULT code, const std::string& member, EXCEPINFO* exception) {
  if (exception) {
    std::memset(exception, 0, sizeof *exception);
    exception->scode = code;
    exception->bstrSource = BstrFromUtf8(member);
    const char* description = code == CTL_E_SETNOTSUPPORTED ? "Property is read-only."
                              : code == CTL_E_GETNOTSUPPORTED ? "Property is write-only."
                                                              : "The operation failed.";
    exception->bstrDescription = BstrFromUtf8(description);
  }
  return DISP_E_EXCEPTION;
}

}  // namespace

const DispatchMember* DispatchTableBase::Find(DISPID id) const {
  auto found = byId_.find(id);
  return found == byId_.end() ? nullptr : &members_[found->second];
}

const DispatchMember* DispatchTableBase::FindByName(std::string_view name) const {
  auto found = byName_.find(Folded(name));
  return found == byName_.end() ? nullptr : &members_[found->second];
}

void DispatchTableBase::Add(DISPID id, std::string_view name, DispatchCall DispatchMember::*slot, DispatchCall call,
                            std::vector<std::string> names) {
  auto found = byId_.find(id);
  if (found == byId_.end()) {
    DispatchMember member;
    member.id = id;
    member.name = std::string(name);
    found = byId_.emplace(id, members_.size()).first;
    members_.push_back(std::move(member));
    byName_.emplace(Folded(name), found->second);
  }
  DispatchMember& member = members_[found->second];
  if (!names.empty()) member.parameterNames = std::move(names);
  member.*slot = std::move(call);
}

HRESULT DispatchTableBase::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) const {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  if (count == 0) return S_OK;
  if (!names || !ids) return E_INVALIDARG;
  for (UINT index = 0; index < count; ++index) ids[index] = DISPID_UNKNOWN;
  const DispatchMember* member = names[0] ? FindByName(Utf16ToUtf8(names[0])) : nullptr;
  if (!member) return DISP_E_UNKNOWNNAME;
  ids[0] = member->id;
  HRESULT result = S_OK;
  // The remaining names are parameters: their ids are their positions.
  for (UINT index = 1; index < count; ++index) {
    const std::string wanted = names[index] ? Folded(Utf16ToUtf8(names[index])) : std::string();
    for (std::size_t position = 0; position < member->parameterNames.size(); ++position) {
      if (Folded(member->parameterNames[position]) == wanted) {
        ids[index] = static_cast<DISPID>(position);
        break;
      }
    }
    if (ids[index] == DISPID_UNKNOWN) result = DISP_E_UNKNOWNNAME;
  }
  return result;
}

HRESULT DispatchTableBase::Invoke(void* object, DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* parameters,
                                  VARIANT* result, EXCEPINFO* exception, UINT* argumentError) const {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  const DispatchMember* member = Find(id);
  if (!member) return DISP_E_MEMBERNOTFOUND;

  const bool isPut = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
  const DispatchCall* call = nullptr;
  if (isPut) {
    if (member->put) call = &member->put;
  } else if ((flags & DISPATCH_PROPERTYGET) && member->get) {
    call = &member->get;
  } else if (flags & DISPATCH_METHOD) {
    // A property read may also be written as a call (obj.Count()).
    call = member->method ? &member->method : member->get ? &member->get : nullptr;
  }
  if (!call) return DISP_E_MEMBERNOTFOUND;

  DISPPARAMS none{nullptr, nullptr, 0, 0};
  if (!parameters) parameters = &none;
  if (parameters->cNamedArgs > parameters->cArgs) return E_INVALIDARG;
  if (parameters->cArgs > 0 && !parameters->rgvarg) return E_INVALIDARG;
  if (parameters->cNamedArgs > 0 && !parameters->rgdispidNamedArgs) return E_INVALIDARG;

  const std::size_t count = call->declared.size();
  // Where each parameter comes from, as an index into rgvarg (-1: omitted).
  std::vector<long> source(count, -1);
  const UINT positional = parameters->cArgs - parameters->cNamedArgs;
  UINT namedStart = 0;
  if (isPut) {
    // The value is the named argument DISPID_PROPERTYPUT (or, leniently, the
    // only argument); it fills the last parameter.
    if (count == 0) return DISP_E_BADPARAMCOUNT;
    if (parameters->cNamedArgs >= 1 && parameters->rgdispidNamedArgs[0] == DISPID_PROPERTYPUT) {
      source[count - 1] = 0;
      namedStart = 1;
    } else if (parameters->cNamedArgs == 0 && parameters->cArgs >= 1) {
      source[count - 1] = 0;
    } else {
      return DISP_E_PARAMNOTFOUND;
    }
    // Index arguments are the positional ones other than the value.
    const UINT indexArguments = namedStart == 1 ? positional : positional - 1;
    if (indexArguments > count - 1) return DISP_E_BADPARAMCOUNT;
    for (UINT index = 0; index < indexArguments; ++index)
      source[index] = static_cast<long>(parameters->cArgs - 1 - index);
  } else {
    if (positional > count) return DISP_E_BADPARAMCOUNT;
    for (UINT index = 0; index < positional; ++index) source[index] = static_cast<long>(parameters->cArgs - 1 - index);
  }
  if (parameters->cNamedArgs > namedStart && member->parameterNames.empty()) return DISP_E_NONAMEDARGS;
  for (UINT named = namedStart; named < parameters->cNamedArgs; ++named) {
    const DISPID position = parameters->rgdispidNamedArgs[named];
    const std::size_t limit = isPut ? count - 1 : count;
    if (position < 0 || static_cast<std::size_t>(position) >= limit || source[position] != -1) {
      if (argumentError) *argumentError = named;
      return DISP_E_PARAMNOTFOUND;
    }
    source[position] = static_cast<long>(named);
  }

  // Convert every argument; omitted ones must be optional.
  std::vector<Variant> owned(count);
  std::vector<VARIANT> arguments(count);
  for (std::size_t index = 0; index < count; ++index) {
    VariantInit(&arguments[index]);
    const bool omitted = source[index] < 0 || IsOmitted(parameters->rgvarg[source[index]]);
    if (omitted) {
      if (index < count - call->optional) {
        if (parameters->cNamedArgs == 0 && source[index] < 0) return DISP_E_BADPARAMCOUNT;
        return DISP_E_PARAMNOTOPTIONAL;
      }
      // An omitted optional VARIANT stays the omission marker; other types
      // get their empty value (0, "", FALSE).
      if (call->declared[index] == VT_VARIANT) {
        owned[index] = Variant::Error(DISP_E_PARAMNOTFOUND);
      } else {
        HRESULT converted = ConvertArgument(Variant(), call->declared[index], call->natural[index], owned[index]);
        if (FAILED(converted)) return converted;
      }
      arguments[index] = owned[index];
      continue;
    }
    const VARIANT& given = parameters->rgvarg[source[index]];
    const bool borrowed = call->declared[index] == VT_VARIANT || (call->declared[index] & VT_BYREF);
    HRESULT converted = ConvertArgument(given, call->declared[index], call->natural[index],
                                        borrowed ? arguments[index] : static_cast<VARIANT&>(owned[index]));
    if (FAILED(converted)) {
      if (argumentError) *argumentError = static_cast<UINT>(source[index]);
      return converted;
    }
    if (!borrowed) arguments[index] = owned[index];
  }

  Variant natural;
  HRESULT outcome = call->invoke(object, arguments.data(), &natural);
  if (FAILED(outcome)) return RaiseException(outcome, member->name, exception);
  if (call->naturalResult == VT_EMPTY) {
    if (result) VariantInit(result);
    return S_OK;
  }
  if (call->declaredResult != call->naturalResult && call->declaredResult != VT_VARIANT) {
    HRESULT converted = natural.ChangeType(call->declaredResult);
    if (FAILED(converted)) return converted;
  }
  if (result) {
    VariantInit(result);
    natural.Detach(result);
  }
  return S_OK;
}

HRESULT DispatchTypeInfoCount(UINT* count) {
  if (!count) return E_INVALIDARG;
  *count = 0;  // no type information is provided
  return S_OK;
}

HRESULT DispatchTypeInfo(UINT, LCID, ITypeInfo** typeInfo) {
  if (typeInfo) *typeInfo = nullptr;
  return E_NOTIMPL;
}

}  // namespace reel
