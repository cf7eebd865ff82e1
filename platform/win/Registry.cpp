// The registry functions over RegistryStore. A handle (HKEY) is a token from
// a table that names a root and a key path; tokens are never reused, so a
// closed handle stays invalid. An operation on a handle whose key has been
// deleted meanwhile answers ERROR_KEY_DELETED.
//
// Values: REG_SZ (and REG_EXPAND_SZ) are kept as text up to the first NUL of
// the data given, and are always read back NUL-terminated with a size that
// counts the NUL, whether or not the writer counted it. REG_DWORD takes exactly
// four bytes. Other types are kept as raw bytes.
#include "platform/win/Registry.h"

#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/win/RegistryStore.h"

namespace {

using reel::registry::Key;
using reel::registry::Store;
using reel::registry::Tree;
using reel::registry::Value;

constexpr DWORD kRegExpandSz = 2;
constexpr size_t kLongestKeyName = 255;

struct KeyPath {
  int root = -1;
  std::vector<std::string> path;
};

std::mutex handlesMutex;
std::unordered_map<ULONG_PTR, KeyPath> handles;
ULONG_PTR nextHandle = 0x1000;

std::optional<int> PredefinedRoot(HKEY key) {
  const auto value = reinterpret_cast<ULONG_PTR>(key);
  if (value >= 0x80000000u && value < 0x80000000u + reel::registry::kRootCount) {
    return static_cast<int>(value - 0x80000000u);
  }
  return std::nullopt;
}

// The root and path a handle names.
LONG PathOfHandle(HKEY key, KeyPath& out) {
  if (std::optional<int> root = PredefinedRoot(key)) {
    out = KeyPath{*root, {}};
    return ERROR_SUCCESS;
  }
  std::lock_guard lock(handlesMutex);
  const auto found = handles.find(reinterpret_cast<ULONG_PTR>(key));
  if (found == handles.end()) return ERROR_INVALID_HANDLE;
  out = found->second;
  return ERROR_SUCCESS;
}

// Splits "a\b\c" into its names. One trailing backslash is allowed; a leading
// one or an empty name in between is refused, as Windows does.
LONG SplitSubKey(LPCSTR subKey, std::vector<std::string>& names) {
  names.clear();
  if (subKey == nullptr || *subKey == '\0') return ERROR_SUCCESS;
  std::string_view rest(subKey);
  if (rest.front() == '\\') return ERROR_BAD_PATHNAME;
  if (rest.back() == '\\') rest.remove_suffix(1);
  while (true) {
    const size_t slash = rest.find('\\');
    const std::string_view name = rest.substr(0, slash);
    if (name.empty()) return ERROR_BAD_PATHNAME;
    if (name.size() > kLongestKeyName) return ERROR_INVALID_PARAMETER;
    names.emplace_back(name);
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
  }
  return ERROR_SUCCESS;
}

// The handle's path and the sub-key's names joined.
LONG Resolve(HKEY key, LPCSTR subKey, KeyPath& base, KeyPath& target) {
  LONG result = PathOfHandle(key, base);
  if (result != ERROR_SUCCESS) return result;
  std::vector<std::string> names;
  result = SplitSubKey(subKey, names);
  if (result != ERROR_SUCCESS) return result;
  target = base;
  target.path.insert(target.path.end(), names.begin(), names.end());
  return ERROR_SUCCESS;
}

HKEY NewHandle(KeyPath path) {
  std::lock_guard lock(handlesMutex);
  const ULONG_PTR token = nextHandle;
  nextHandle += 4;
  handles.emplace(token, std::move(path));
  return reinterpret_cast<HKEY>(token);
}

// The key a handle names, or ERROR_KEY_DELETED when it is gone.
LONG ExistingKey(const Tree& tree, const KeyPath& path, Key*& key) {
  key = tree.Find(path.root, path.path);
  return key != nullptr ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

// The bytes a reader gets for a value.
std::string StoredBytes(const Value& value) {
  if (value.type == REG_SZ || value.type == kRegExpandSz) return value.data + '\0';
  return value.data;
}

// Copies a value's bytes by RegQueryValueEx's rules.
LONG CopyData(const Value& value, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
  if (type != nullptr) *type = value.type;
  if (dataSize == nullptr) return ERROR_SUCCESS;
  const std::string bytes = StoredBytes(value);
  const auto needed = static_cast<DWORD>(bytes.size());
  if (data != nullptr) {
    if (*dataSize < needed) {
      *dataSize = needed;
      return ERROR_MORE_DATA;
    }
    std::memcpy(data, bytes.data(), bytes.size());
  }
  *dataSize = needed;
  return ERROR_SUCCESS;
}

// Copies a name into a character buffer whose size counts the NUL; the size
// becomes the name's length. ERROR_MORE_DATA leaves both alone, as Windows does.
LONG CopyName(const std::string& name, LPSTR buffer, LPDWORD size) {
  if (*size < name.size() + 1) return ERROR_MORE_DATA;
  std::memcpy(buffer, name.c_str(), name.size() + 1);
  *size = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

LONG OpenOrCreate(HKEY key, LPCSTR subKey, PHKEY result, LPDWORD disposition, bool create) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  KeyPath base, target;
  LONG status = Resolve(key, subKey, base, target);
  if (status != ERROR_SUCCESS) return status;
  bool created = false;
  if (create) {
    status = Store::Instance().Write([&](Tree& tree, bool& changed) {
      Key* parent = nullptr;
      LONG found = ExistingKey(tree, base, parent);
      if (found != ERROR_SUCCESS) return found;
      Key* walk = parent;
      for (size_t i = base.path.size(); i < target.path.size(); ++i) {
        const std::string& name = target.path[i];
        std::unique_ptr<Key>& child = walk->children[reel::registry::Lower(name)];
        if (!child) {
          child = std::make_unique<Key>();
          child->name = name;
          created = changed = true;
        }
        walk = child.get();
      }
      return ERROR_SUCCESS;
    });
  } else {
    status = Store::Instance().Read([&](const Tree& tree) {
      Key* parent = nullptr;
      LONG found = ExistingKey(tree, base, parent);
      if (found != ERROR_SUCCESS) return found;
      return tree.Find(target.root, target.path) != nullptr ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
  }
  if (status != ERROR_SUCCESS) return status;
  if (disposition != nullptr) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = NewHandle(std::move(target));
  return ERROR_SUCCESS;
}

}  // namespace

LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD /*reserved*/, LPSTR /*className*/, DWORD /*options*/,
                     REGSAM /*desired*/, void* /*security*/, PHKEY result, LPDWORD disposition) {
  return OpenOrCreate(key, subKey, result, disposition, true);
}

LONG RegCreateKeyA(HKEY key, LPCSTR subKey, PHKEY result) {
  return OpenOrCreate(key, subKey, result, nullptr, true);
}

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD /*options*/, REGSAM /*desired*/, PHKEY result) {
  return OpenOrCreate(key, subKey, result, nullptr, false);
}

LONG RegCloseKey(HKEY key) {
  if (PredefinedRoot(key)) return ERROR_SUCCESS;
  std::lock_guard lock(handlesMutex);
  return handles.erase(reinterpret_cast<ULONG_PTR>(key)) != 0 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD /*reserved*/, DWORD type, const BYTE* data, DWORD size) {
  if (data == nullptr && size != 0) return ERROR_INVALID_PARAMETER;
  if (type == REG_DWORD && size != sizeof(DWORD)) return ERROR_INVALID_PARAMETER;
  KeyPath path;
  const LONG status = PathOfHandle(key, path);
  if (status != ERROR_SUCCESS) return status;
  const std::string name = valueName != nullptr ? valueName : "";
  std::string bytes = data != nullptr ? std::string(reinterpret_cast<const char*>(data), size) : std::string();
  if (type == REG_SZ || type == kRegExpandSz) bytes.resize(std::strlen(bytes.c_str()));  // up to the first NUL
  return Store::Instance().Write([&](Tree& tree, bool& changed) {
    Key* target = nullptr;
    const LONG found = ExistingKey(tree, path, target);
    if (found != ERROR_SUCCESS) return found;
    if (Value* existing = target->FindValue(name)) {
      if (existing->type == type && existing->data == bytes) return ERROR_SUCCESS;
      existing->type = type;
      existing->data = bytes;
    } else {
      target->values.push_back(Value{name, type, bytes});
    }
    changed = true;
    return ERROR_SUCCESS;
  });
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD /*reserved*/, LPDWORD type, LPBYTE data,
                      LPDWORD dataSize) {
  if (data != nullptr && dataSize == nullptr) return ERROR_INVALID_PARAMETER;
  KeyPath path;
  const LONG status = PathOfHandle(key, path);
  if (status != ERROR_SUCCESS) return status;
  const std::string_view name = valueName != nullptr ? valueName : "";
  return Store::Instance().Read([&](const Tree& tree) {
    Key* target = nullptr;
    const LONG found = ExistingKey(tree, path, target);
    if (found != ERROR_SUCCESS) return found;
    const Value* value = target->FindValue(name);
    if (value == nullptr) return ERROR_FILE_NOT_FOUND;
    return CopyData(*value, type, data, dataSize);
  });
}

LONG RegDeleteValueA(HKEY key, LPCSTR valueName) {
  KeyPath path;
  const LONG status = PathOfHandle(key, path);
  if (status != ERROR_SUCCESS) return status;
  const std::string_view name = valueName != nullptr ? valueName : "";
  return Store::Instance().Write([&](Tree& tree, bool& changed) {
    Key* target = nullptr;
    const LONG found = ExistingKey(tree, path, target);
    if (found != ERROR_SUCCESS) return found;
    for (auto it = target->values.begin(); it != target->values.end(); ++it) {
      if (reel::registry::EqualNoCase(it->name, name)) {
        target->values.erase(it);
        changed = true;
        return ERROR_SUCCESS;
      }
    }
    return ERROR_FILE_NOT_FOUND;
  });
}

namespace {

// Removes target (below base) from the tree; with onlyEmpty, refuses a key
// that still has sub-keys.
LONG DeleteKey(HKEY key, LPCSTR subKey, bool onlyEmpty) {
  KeyPath base, target;
  const LONG status = Resolve(key, subKey, base, target);
  if (status != ERROR_SUCCESS) return status;
  return Store::Instance().Write([&](Tree& tree, bool& changed) {
    Key* start = nullptr;
    const LONG found = ExistingKey(tree, base, start);
    if (found != ERROR_SUCCESS) return found;
    Key* victim = tree.Find(target.root, target.path);
    if (victim == nullptr) return ERROR_FILE_NOT_FOUND;
    if (onlyEmpty && !victim->children.empty()) return ERROR_ACCESS_DENIED;
    if (target.path.empty()) {
      // A root itself cannot go; its tree can be emptied.
      if (onlyEmpty) return ERROR_ACCESS_DENIED;
      changed = !victim->children.empty() || !victim->values.empty();
      victim->children.clear();
      victim->values.clear();
      return ERROR_SUCCESS;
    }
    std::vector<std::string> parentPath(target.path.begin(), target.path.end() - 1);
    Key* parent = tree.Find(target.root, parentPath);
    parent->children.erase(reel::registry::Lower(target.path.back()));
    changed = true;
    return ERROR_SUCCESS;
  });
}

}  // namespace

LONG RegDeleteKeyA(HKEY key, LPCSTR subKey) {
  if (subKey == nullptr) return ERROR_INVALID_PARAMETER;
  return DeleteKey(key, subKey, true);
}

LONG RegDeleteTreeA(HKEY key, LPCSTR subKey) {
  if (subKey != nullptr && *subKey != '\0') return DeleteKey(key, subKey, false);
  // No sub-key: the key stays and loses everything below it.
  KeyPath path;
  const LONG status = PathOfHandle(key, path);
  if (status != ERROR_SUCCESS) return status;
  return Store::Instance().Write([&](Tree& tree, bool& changed) {
    Key* target = nullptr;
    const LONG found = ExistingKey(tree, path, target);
    if (found != ERROR_SUCCESS) return found;
    changed = !target->children.empty() || !target->values.empty();
    target->children.clear();
    target->values.clear();
    return ERROR_SUCCESS;
  });
}

LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD /*reserved*/, LPSTR className,
                   LPDWORD classSize, void* lastWriteTime) {
  if (name == nullptr || nameSize == nullptr) return ERROR_INVALID_PARAMETER;
  KeyPath path;
  const LONG status = PathOfHandle(key, path);
  if (status != ERROR_SUCCESS) return status;
  return Store::Instance().Read([&](const Tree& tree) {
    Key* target = nullptr;
    const LONG found = ExistingKey(tree, path, target);
    if (found != ERROR_SUCCESS) return found;
    if (index >= target->children.size()) return ERROR_NO_MORE_ITEMS;
    auto child = target->children.begin();
    std::advance(child, index);
    const LONG copied = CopyName(child->second->name, name, nameSize);
    if (copied != ERROR_SUCCESS) return copied;
    if (classSize != nullptr) {
      if (className != nullptr && *classSize > 0) className[0] = '\0';
      *classSize = 0;
    }
    if (lastWriteTime != nullptr) std::memset(lastWriteTime, 0, sizeof(FILETIME));
    return ERROR_SUCCESS;
  });
}

LONG RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameSize, LPDWORD /*reserved*/, LPDWORD type,
                   LPBYTE data, LPDWORD dataSize) {
  if (valueName == nullptr || valueNameSize == nullptr) return ERROR_INVALID_PARAMETER;
  if (data != nullptr && dataSize == nullptr) return ERROR_INVALID_PARAMETER;
  KeyPath path;
  const LONG status = PathOfHandle(key, path);
  if (status != ERROR_SUCCESS) return status;
  return Store::Instance().Read([&](const Tree& tree) {
    Key* target = nullptr;
    const LONG found = ExistingKey(tree, path, target);
    if (found != ERROR_SUCCESS) return found;
    if (index >= target->values.size()) return ERROR_NO_MORE_ITEMS;
    const Value& value = target->values[index];
    const LONG copied = CopyName(value.name, valueName, valueNameSize);
    if (copied != ERROR_SUCCESS) return copied;
    return CopyData(value, type, data, dataSize);
  });
}
