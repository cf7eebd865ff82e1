#include "platform/dshow/FilterRegistry.h"

#include <algorithm>
#include <mutex>

#include "platform/win/RegistryKey.h"
#include "platform/win/Strings.h"

namespace reel {
namespace {

std::mutex& BuiltinLock() {
  static std::mutex lock;
  return lock;
}
std::vector<RegisteredFilter>& Builtins() {
  static std::vector<RegisteredFilter> filters;
  return filters;
}

std::string InstancePath(REFGUID category) { return "CLSID\\" + GuidToString(category) + "\\Instance"; }

std::string TypesToText(const std::vector<RegisteredPinType>& types) {
  std::string text;
  for (const RegisteredPinType& type : types) {
    if (!text.empty()) text += ";";
    text += GuidToString(type.majorType) + "/" + GuidToString(type.subtype);
  }
  return text;
}

std::vector<RegisteredPinType> TypesFromText(const std::string& text) {
  std::vector<RegisteredPinType> types;
  std::size_t position = 0;
  while (position < text.size()) {
    std::size_t end = text.find(';', position);
    if (end == std::string::npos) end = text.size();
    std::string entry = text.substr(position, end - position);
    std::size_t slash = entry.find('/');
    if (slash != std::string::npos) {
      auto major = GuidFromString(entry.substr(0, slash));
      auto sub = GuidFromString(entry.substr(slash + 1));
      if (major && sub) types.push_back({*major, *sub});
    }
    position = end + 1;
  }
  return types;
}

std::vector<RegisteredFilter> ReadRegistry(REFGUID category) {
  std::vector<RegisteredFilter> filters;
  RegistryKey instances = RegistryKey::Open(HKEY_CLASSES_ROOT, InstancePath(category));
  if (!instances) return filters;
  for (const std::string& name : instances.SubKeyNames()) {
    RegistryKey entry = RegistryKey::Open(instances.handle(), name);
    if (!entry) continue;
    RegisteredFilter filter;
    filter.category = category;
    auto clsidText = entry.String("CLSID");
    auto clsid = GuidFromString(clsidText ? *clsidText : name);
    if (!clsid) continue;  // an entry that names no class is skipped
    filter.clsid = *clsid;
    filter.name = Utf8ToUtf16(entry.String("FriendlyName").value_or(""));
    filter.merit = entry.Dword("Merit").value_or(MERIT_DO_NOT_USE);
    RegistryKey pins = RegistryKey::Open(entry.handle(), "Pins");
    if (pins) {
      for (const std::string& pinName : pins.SubKeyNames()) {
        RegistryKey pinKey = RegistryKey::Open(pins.handle(), pinName);
        if (!pinKey) continue;
        RegisteredPin pin;
        pin.name = Utf8ToUtf16(pinName);
        pin.output = pinKey.Dword("Direction").value_or(0) == 1;
        pin.rendered = pinKey.Dword("IsRendered").value_or(0) != 0;
        pin.zero = pinKey.Dword("AllowedZero").value_or(0) != 0;
        pin.many = pinKey.Dword("AllowedMany").value_or(0) != 0;
        pin.types = TypesFromText(pinKey.String("Types").value_or(""));
        filter.pins.push_back(std::move(pin));
      }
    }
    filters.push_back(std::move(filter));
  }
  return filters;
}

}  // namespace

bool RegisterBuiltinFilter(const RegisteredFilter& filter) {
  std::lock_guard<std::mutex> hold(BuiltinLock());
  RegisteredFilter copy = filter;
  copy.builtin = true;
  auto& filters = Builtins();
  auto same = std::find_if(filters.begin(), filters.end(), [&](const RegisteredFilter& existing) {
    return existing.clsid == filter.clsid && existing.category == filter.category;
  });
  if (same != filters.end()) *same = std::move(copy);
  else filters.push_back(std::move(copy));
  return true;
}

HRESULT RegisterFilter(const RegisteredFilter& filter) {
  UnregisterFilter(filter.clsid, filter.category);
  std::string path = InstancePath(filter.category) + "\\" + GuidToString(filter.clsid);
  RegistryKey entry = RegistryKey::Create(HKEY_CLASSES_ROOT, path);
  if (!entry) return HRESULT_FROM_WIN32(entry.status());
  if (entry.SetString("FriendlyName", Utf16ToUtf8(filter.name)) != ERROR_SUCCESS ||
      entry.SetString("CLSID", GuidToString(filter.clsid)) != ERROR_SUCCESS ||
      entry.SetDword("Merit", filter.merit) != ERROR_SUCCESS)
    return E_FAIL;
  for (const RegisteredPin& pin : filter.pins) {
    std::string pinName = Utf16ToUtf8(pin.name);
    // Pin names are key names: a backslash would nest keys.
    std::replace(pinName.begin(), pinName.end(), '\\', '/');
    RegistryKey pinKey = RegistryKey::Create(entry.handle(), "Pins\\" + pinName);
    if (!pinKey) return E_FAIL;
    pinKey.SetDword("Direction", pin.output ? 1 : 0);
    pinKey.SetDword("IsRendered", pin.rendered ? 1 : 0);
    pinKey.SetDword("AllowedZero", pin.zero ? 1 : 0);
    pinKey.SetDword("AllowedMany", pin.many ? 1 : 0);
    pinKey.SetString("Types", TypesToText(pin.types));
  }
  return S_OK;
}

HRESULT UnregisterFilter(REFCLSID clsid, REFGUID category) {
  std::string path = InstancePath(category) + "\\" + GuidToString(clsid);
  LONG status = RegDeleteTreeA(HKEY_CLASSES_ROOT, path.c_str());
  if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) return S_OK;
  return HRESULT_FROM_WIN32(status);
}

std::vector<RegisteredFilter> FiltersInCategory(REFGUID category) {
  std::vector<RegisteredFilter> filters;
  {
    std::lock_guard<std::mutex> hold(BuiltinLock());
    for (const RegisteredFilter& filter : Builtins())
      if (filter.category == category) filters.push_back(filter);
  }
  for (RegisteredFilter& stored : ReadRegistry(category)) {
    auto same = std::find_if(filters.begin(), filters.end(),
                             [&](const RegisteredFilter& existing) { return existing.clsid == stored.clsid; });
    if (same != filters.end()) *same = std::move(stored);
    else filters.push_back(std::move(stored));
  }
  std::stable_sort(filters.begin(), filters.end(),
                   [](const RegisteredFilter& a, const RegisteredFilter& b) { return a.merit > b.merit; });
  return filters;
}

const std::vector<FilterCategory>& KnownCategories() {
  static const std::vector<FilterCategory> categories = {
      {CLSID_LegacyAmFilterCategory, "DirectShow Filters"},
      {CLSID_VideoCompressorCategory, "Video Compressors"},
      {CLSID_AudioCompressorCategory, "Audio Compressors"},
      {CLSID_VideoEffects1Category, "Video Effects (1 input)"},
      {CLSID_VideoEffects2Category, "Video Effects (2 inputs)"},
      {CLSID_AudioRendererCategory, "Audio Renderers"},
  };
  return categories;
}

bool PinTypeMatches(const RegisteredPinType& registered, REFGUID majorType, REFGUID subtype) {
  if (registered.majorType != GUID_NULL && registered.majorType != majorType) return false;
  if (registered.subtype != GUID_NULL && registered.subtype != subtype) return false;
  return true;
}

}  // namespace reel
