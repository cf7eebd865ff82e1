#include "platform/com/ServerRegistration.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>

#include "platform/com/ComObject.h"
#include "platform/com/GuidStrings.h"
#include "platform/com/InprocServers.h"
#include "platform/com/TaskMemory.h"
#include "platform/win/RegistryKey.h"
#include "platform/win/Strings.h"

namespace {

std::string ClassKeyPath(REFCLSID clsid) { return "CLSID\\" + reel::GuidToString(clsid); }

// A ProgID is one registry key name: no separators, not empty.
bool IsValidProgId(const std::string& progId) {
  return !progId.empty() && progId.size() <= 39 && progId.find('\\') == std::string::npos;
}

}  // namespace

HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid) {
  if (!progId || !clsid) return E_INVALIDARG;
  const std::string name = reel::Utf16ToUtf8(progId);
  if (!IsValidProgId(name)) return CO_E_CLASSSTRING;
  reel::RegistryKey key = reel::RegistryKey::Open(HKEY_CLASSES_ROOT, name + "\\CLSID");
  const auto text = key ? key.String() : std::nullopt;
  const auto parsed = text ? reel::GuidFromString(*text) : std::nullopt;
  if (!parsed) return CO_E_CLASSSTRING;
  *clsid = *parsed;
  return S_OK;
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId) {
  if (!progId) return E_INVALIDARG;
  *progId = nullptr;
  reel::RegistryKey key = reel::RegistryKey::Open(HKEY_CLASSES_ROOT, ClassKeyPath(clsid) + "\\ProgID");
  const auto text = key ? key.String() : std::nullopt;
  if (!text || text->empty()) return REGDB_E_CLASSNOTREG;
  const std::u16string wide = reel::Utf8ToUtf16(*text);
  *progId = static_cast<LPOLESTR>(CoTaskMemAlloc((wide.size() + 1) * sizeof(OLECHAR)));
  if (!*progId) return E_OUTOFMEMORY;
  std::copy(wide.begin(), wide.end(), *progId);
  (*progId)[wide.size()] = 0;
  return S_OK;
}

namespace reel {

std::string RegisteredServerPath(REFCLSID clsid) {
  RegistryKey key = RegistryKey::Open(HKEY_CLASSES_ROOT, ClassKeyPath(clsid) + "\\InprocServer32");
  if (!key) return {};
  return key.String().value_or(std::string());
}

std::string ModuleFileName(const void* addressInModule) {
  Dl_info info{};
  if (!addressInModule || dladdr(addressInModule, &info) == 0 || !info.dli_fname || !*info.dli_fname) return {};
  std::error_code error;
  std::filesystem::path path = std::filesystem::canonical(info.dli_fname, error);
  if (error) {
    // The main program's name may not be a path; ask the kernel instead.
    path = std::filesystem::canonical("/proc/self/exe", error);
    if (error) return info.dli_fname;
  }
  return path.string();
}

HRESULT RegisterInprocServer(REFCLSID clsid, const std::string& modulePath, const std::string& friendlyName,
                             const std::string& threadingModel) {
  if (modulePath.empty()) return E_INVALIDARG;
  RegistryKey classKey = RegistryKey::Create(HKEY_CLASSES_ROOT, ClassKeyPath(clsid));
  if (!classKey || classKey.SetString("", friendlyName) != ERROR_SUCCESS) return SELFREG_E_CLASS;
  RegistryKey serverKey = RegistryKey::Create(classKey.handle(), "InprocServer32");
  if (!serverKey || serverKey.SetString("", modulePath) != ERROR_SUCCESS) return SELFREG_E_CLASS;
  if (!threadingModel.empty() && serverKey.SetString("ThreadingModel", threadingModel) != ERROR_SUCCESS)
    return SELFREG_E_CLASS;
  return S_OK;
}

HRESULT UnregisterServer(REFCLSID clsid) {
  {
    RegistryKey progIdKey = RegistryKey::Open(HKEY_CLASSES_ROOT, ClassKeyPath(clsid) + "\\ProgID");
    const auto progId = progIdKey ? progIdKey.String() : std::nullopt;
    if (progId && IsValidProgId(*progId)) {
      // Only a ProgID that still names this class is removed.
      CLSID named{};
      if (CLSIDFromProgID(Utf8ToUtf16(*progId).c_str(), &named) == S_OK && named == clsid) UnregisterProgId(*progId);
    }
  }
  const LONG status = RegDeleteTreeA(HKEY_CLASSES_ROOT, ClassKeyPath(clsid).c_str());
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return SELFREG_E_CLASS;
  return S_OK;
}

HRESULT RegisterProgId(const std::string& progId, REFCLSID clsid, const std::string& friendlyName) {
  if (!IsValidProgId(progId)) return E_INVALIDARG;
  RegistryKey progIdKey = RegistryKey::Create(HKEY_CLASSES_ROOT, progId);
  if (!progIdKey || progIdKey.SetString("", friendlyName) != ERROR_SUCCESS) return SELFREG_E_CLASS;
  RegistryKey classIdKey = RegistryKey::Create(progIdKey.handle(), "CLSID");
  if (!classIdKey || classIdKey.SetString("", GuidToString(clsid)) != ERROR_SUCCESS) return SELFREG_E_CLASS;
  RegistryKey backKey = RegistryKey::Create(HKEY_CLASSES_ROOT, ClassKeyPath(clsid) + "\\ProgID");
  if (!backKey || backKey.SetString("", progId) != ERROR_SUCCESS) return SELFREG_E_CLASS;
  return S_OK;
}

HRESULT UnregisterProgId(const std::string& progId) {
  if (!IsValidProgId(progId)) return E_INVALIDARG;
  const LONG status = RegDeleteTreeA(HKEY_CLASSES_ROOT, progId.c_str());
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return SELFREG_E_CLASS;
  return S_OK;
}

HRESULT CanUnloadModuleNow(const void* addressInModule) {
  return ModuleLock::CanUnload(addressInModule) ? S_OK : S_FALSE;
}

}  // namespace reel
