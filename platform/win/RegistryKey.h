// A registry key for our own code: opened or created by path, closed when the
// object dies, with typed reads that say "absent" instead of filling buffers.
// Written on the Win32 registry functions, so it sees exactly what they see.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/win/Registry.h"

namespace reel {

class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey();
  RegistryKey(RegistryKey&& other) noexcept;
  RegistryKey& operator=(RegistryKey&& other) noexcept;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // path uses "\" between key names; "" opens parent itself.
  static RegistryKey Open(HKEY parent, const std::string& path, REGSAM access = KEY_READ);
  static RegistryKey Create(HKEY parent, const std::string& path, REGSAM access = KEY_ALL_ACCESS);

  bool IsOpen() const { return handle_ != nullptr; }
  explicit operator bool() const { return IsOpen(); }
  HKEY handle() const { return handle_; }
  // The result of the open or create call (ERROR_SUCCESS when open).
  LONG status() const { return status_; }

  // The value, when it exists with that type ("" names the default value).
  std::optional<std::string> String(const std::string& name = "") const;  // REG_SZ or REG_EXPAND_SZ
  std::optional<DWORD> Dword(const std::string& name) const;

  LONG SetString(const std::string& name, const std::string& value);
  LONG SetDword(const std::string& name, DWORD value);
  LONG DeleteValue(const std::string& name);

  // Names in enumeration order.
  std::vector<std::string> SubKeyNames() const;
  std::vector<std::string> ValueNames() const;

 private:
  RegistryKey(HKEY handle, LONG status) : handle_(handle), status_(status) {}
  void Close();

  HKEY handle_ = nullptr;
  LONG status_ = ERROR_INVALID_HANDLE;
};

}  // namespace reel
