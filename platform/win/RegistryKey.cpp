#include "platform/win/RegistryKey.h"

#include <utility>

namespace reel {

namespace {

constexpr DWORD kRegExpandSz = 2;

}  // namespace

RegistryKey::~RegistryKey() { Close(); }

RegistryKey::RegistryKey(RegistryKey&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), status_(other.status_) {}

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, nullptr);
    status_ = other.status_;
  }
  return *this;
}

void RegistryKey::Close() {
  if (handle_ != nullptr) RegCloseKey(handle_);
  handle_ = nullptr;
}

RegistryKey RegistryKey::Open(HKEY parent, const std::string& path, REGSAM access) {
  HKEY handle = nullptr;
  const LONG status = RegOpenKeyExA(parent, path.c_str(), 0, access, &handle);
  return RegistryKey(status == ERROR_SUCCESS ? handle : nullptr, status);
}

RegistryKey RegistryKey::Create(HKEY parent, const std::string& path, REGSAM access) {
  HKEY handle = nullptr;
  const LONG status =
      RegCreateKeyExA(parent, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &handle, nullptr);
  return RegistryKey(status == ERROR_SUCCESS ? handle : nullptr, status);
}

std::optional<std::string> RegistryKey::String(const std::string& name) const {
  if (!IsOpen()) return std::nullopt;
  // The value may grow between the size query and the read: ask again then.
  for (int attempt = 0; attempt < 8; ++attempt) {
    DWORD type = REG_NONE, size = 0;
    if (RegQueryValueExA(handle_, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
    if (type != REG_SZ && type != kRegExpandSz) return std::nullopt;
    std::string text(size, '\0');
    const LONG status =
        RegQueryValueExA(handle_, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size);
    if (status == ERROR_MORE_DATA) continue;
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != kRegExpandSz)) return std::nullopt;
    text.resize(size);
    while (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
  }
  return std::nullopt;
}

std::optional<DWORD> RegistryKey::Dword(const std::string& name) const {
  if (!IsOpen()) return std::nullopt;
  DWORD type = REG_NONE, value = 0, size = sizeof(value);
  if (RegQueryValueExA(handle_, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof(value)) {
    return std::nullopt;
  }
  return value;
}

LONG RegistryKey::SetString(const std::string& name, const std::string& value) {
  if (!IsOpen()) return ERROR_INVALID_HANDLE;
  return RegSetValueExA(handle_, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>(value.size() + 1));
}

LONG RegistryKey::SetDword(const std::string& name, DWORD value) {
  if (!IsOpen()) return ERROR_INVALID_HANDLE;
  return RegSetValueExA(handle_, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

LONG RegistryKey::DeleteValue(const std::string& name) {
  if (!IsOpen()) return ERROR_INVALID_HANDLE;
  return RegDeleteValueA(handle_, name.c_str());
}

std::vector<std::string> RegistryKey::SubKeyNames() const {
  std::vector<std::string> names;
  if (!IsOpen()) return names;
  char name[256];  // key names have at most 255 characters
  for (DWORD index = 0;; ++index) {
    DWORD size = sizeof(name);
    if (RegEnumKeyExA(handle_, index, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, size);
  }
  return names;
}

std::vector<std::string> RegistryKey::ValueNames() const {
  std::vector<std::string> names;
  if (!IsOpen()) return names;
  std::string name(256, '\0');
  for (DWORD index = 0;;) {
    DWORD size = static_cast<DWORD>(name.size());
    const LONG status = RegEnumValueA(handle_, index, name.data(), &size, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_MORE_DATA && name.size() < (1u << 20)) {
      name.resize(name.size() * 4);
      continue;
    }
    if (status != ERROR_SUCCESS) break;
    names.emplace_back(name.data(), size);
    ++index;
  }
  return names;
}

}  // namespace reel
