#include "platform/win/RegistryStore.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>

#include "platform/win/Registry.h"

namespace reel::registry {

const char* const kRootNames[kRootCount] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                            "HKEY_USERS"};

namespace {

constexpr std::string_view kHeader = "REELPRESS REGISTRY 1";
constexpr off_t kLargestFile = 64LL * 1024 * 1024;

std::mutex storeMutex;

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

const char kHexDigits[] = "0123456789abcdef";

void AppendHexByte(std::string& out, unsigned char byte) {
  out += kHexDigits[byte >> 4];
  out += kHexDigits[byte & 15];
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string EscapeKeyName(std::string_view name) {
  std::string out;
  for (unsigned char c : name) {
    if (c == '%' || IsControl(c)) {
      out += '%';
      AppendHexByte(out, c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::optional<std::string> UnescapeKeyName(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = text[i];
    if (IsControl(c)) return std::nullopt;
    if (c != '%') {
      out += static_cast<char>(c);
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    const int high = HexValue(text[i + 1]), low = HexValue(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

void AppendQuoted(std::string& out, std::string_view text) {
  out += '"';
  for (unsigned char c : text) {
    if (c == '\\' || c == '"') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (IsControl(c)) {
      out += "\\x";
      AppendHexByte(out, c);
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
}

// Reads a quoted text at the start of line and removes it from line.
std::optional<std::string> TakeQuoted(std::string_view& line) {
  if (line.empty() || line.front() != '"') return std::nullopt;
  std::string out;
  size_t i = 1;
  for (; i < line.size(); ++i) {
    const unsigned char c = line[i];
    if (c == '"') break;
    if (IsControl(c)) return std::nullopt;
    if (c != '\\') {
      out += static_cast<char>(c);
      continue;
    }
    if (i + 1 >= line.size()) return std::nullopt;
    const char escaped = line[++i];
    if (escaped == '\\' || escaped == '"') {
      out += escaped;
    } else if (escaped == 'x' && i + 2 < line.size() && HexValue(line[i + 1]) >= 0 && HexValue(line[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(line[i + 1]) * 16 + HexValue(line[i + 2]));
      i += 2;
    } else {
      return std::nullopt;
    }
  }
  if (i >= line.size()) return std::nullopt;  // no closing quote
  line.remove_prefix(i + 1);
  return out;
}

bool TakePrefix(std::string_view& line, std::string_view prefix) {
  if (line.substr(0, prefix.size()) != prefix) return false;
  line.remove_prefix(prefix.size());
  return true;
}

std::optional<DWORD> ParseHexNumber(std::string_view text, size_t maxDigits) {
  if (text.empty() || text.size() > maxDigits) return std::nullopt;
  DWORD value = 0;
  for (char c : text) {
    const int digit = HexValue(c);
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<DWORD>(digit);
  }
  return value;
}

// "[ROOT\a\b]": the root index and path, or nothing when the line is damaged.
bool ParseKeyLine(std::string_view line, int& root, std::vector<std::string>& path) {
  if (line.size() < 2 || line.front() != '[' || line.back() != ']') return false;
  line = line.substr(1, line.size() - 2);
  path.clear();
  root = -1;
  size_t start = 0;
  for (;;) {
    const size_t end = line.find('\\', start);
    const std::string_view part = line.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (root < 0) {
      for (int i = 0; i < kRootCount; ++i) {
        if (EqualNoCase(part, kRootNames[i])) root = i;
      }
      if (root < 0) return false;
    } else {
      std::optional<std::string> name = UnescapeKeyName(part);
      if (!name || name->empty() || name->size() > 255) return false;
      path.push_back(std::move(*name));
    }
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return true;
}

bool ParseValueLine(std::string_view line, Value& value) {
  std::optional<std::string> name = TakeQuoted(line);
  if (!name || !TakePrefix(line, "=")) return false;
  value.name = std::move(*name);
  if (TakePrefix(line, "sz:")) {
    std::optional<std::string> text = TakeQuoted(line);
    if (!text || !line.empty()) return false;
    value.type = REG_SZ;
    value.data = std::move(*text);
    return true;
  }
  if (TakePrefix(line, "expand:")) {
    std::optional<std::string> text = TakeQuoted(line);
    if (!text || !line.empty()) return false;
    value.type = 2;  // REG_EXPAND_SZ
    value.data = std::move(*text);
    return true;
  }
  if (TakePrefix(line, "dword:")) {
    std::optional<DWORD> number = ParseHexNumber(line, 8);
    if (!number) return false;
    value.type = REG_DWORD;
    value.data.assign(reinterpret_cast<const char*>(&*number), sizeof(DWORD));
    return true;
  }
  if (TakePrefix(line, "hex(")) {
    const size_t close = line.find("):");
    if (close == std::string_view::npos) return false;
    std::optional<DWORD> type = ParseHexNumber(line.substr(0, close), 8);
    if (!type) return false;
    line.remove_prefix(close + 2);
    value.type = *type;
    value.data.clear();
    while (!line.empty()) {
      if (line.size() < 2 || HexValue(line[0]) < 0 || HexValue(line[1]) < 0) return false;
      value.data += static_cast<char>(HexValue(line[0]) * 16 + HexValue(line[1]));
      line.remove_prefix(2);
      if (!line.empty() && !TakePrefix(line, ",")) return false;
    }
    return true;
  }
  return false;
}

void SerializeKey(const Key& key, const std::string& path, std::string& out) {
  out += '[';
  out += path;
  out += "]\n";
  for (const Value& value : key.values) {
    AppendQuoted(out, value.name);
    out += '=';
    if (value.type == REG_SZ || value.type == 2) {
      out += value.type == REG_SZ ? "sz:" : "expand:";
      AppendQuoted(out, value.data);
    } else if (value.type == REG_DWORD && value.data.size() == sizeof(DWORD)) {
      DWORD number = 0;
      std::memcpy(&number, value.data.data(), sizeof(number));
      char digits[16];
      std::snprintf(digits, sizeof(digits), "dword:%08x", number);
      out += digits;
    } else {
      char prefix[24];
      std::snprintf(prefix, sizeof(prefix), "hex(%x):", value.type);
      out += prefix;
      for (size_t i = 0; i < value.data.size(); ++i) {
        if (i > 0) out += ',';
        AppendHexByte(out, static_cast<unsigned char>(value.data[i]));
      }
    }
    out += '\n';
  }
  for (const auto& [lower, child] : key.children) {
    SerializeKey(*child, path + "\\" + EscapeKeyName(child->name), out);
  }
}

Key& CreatePath(Tree& tree, int root, const std::vector<std::string>& path) {
  Key* key = &tree.roots[root];
  for (const std::string& name : path) {
    std::unique_ptr<Key>& child = key->children[Lower(name)];
    if (!child) {
      child = std::make_unique<Key>();
      child->name = name;
    }
    key = child.get();
  }
  return *key;
}

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) return entry->pw_dir;
  return "/tmp";
}

std::string IdentityOf(const struct stat& info) {
  return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino) + ":" + std::to_string(info.st_size) + ":" +
         std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec);
}

enum class ReadOutcome { Missing, Loaded, Unreadable };

ReadOutcome ReadWholeFile(const std::string& path, std::string& bytes, std::string& identity) {
  const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return errno == ENOENT ? ReadOutcome::Missing : ReadOutcome::Unreadable;
  struct stat info {};
  ReadOutcome outcome = ReadOutcome::Loaded;
  if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kLargestFile) {
    outcome = ReadOutcome::Unreadable;
  } else {
    identity = IdentityOf(info);
    bytes.clear();
    char chunk[65536];
    for (;;) {
      const ssize_t count = read(descriptor, chunk, sizeof(chunk));
      if (count < 0 && errno == EINTR) continue;
      if (count < 0) {
        outcome = ReadOutcome::Unreadable;
        break;
      }
      if (count == 0) break;
      bytes.append(chunk, static_cast<size_t>(count));
      if (bytes.size() > static_cast<size_t>(kLargestFile)) {
        outcome = ReadOutcome::Unreadable;
        break;
      }
    }
  }
  close(descriptor);
  return outcome;
}

std::string CurrentIdentity(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return std::string();
  return IdentityOf(info);
}

// Holds an exclusive flock on the store's lock file for its lifetime.
class FileLock {
 public:
  explicit FileLock(const std::string& path) {
    descriptor_ = open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (descriptor_ < 0) return;
    int result;
    do {
      result = flock(descriptor_, LOCK_EX);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
      close(descriptor_);
      descriptor_ = -1;
    }
  }
  ~FileLock() {
    if (descriptor_ >= 0) close(descriptor_);  // closing lets the lock go
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool held() const { return descriptor_ >= 0; }

 private:
  int descriptor_ = -1;
};

}  // namespace

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = LowerAscii(c);
  return lower;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

Key* Key::Child(std::string_view name) const {
  const auto found = children.find(Lower(name));
  return found == children.end() ? nullptr : found->second.get();
}

Value* Key::FindValue(std::string_view name) {
  for (Value& value : values) {
    if (EqualNoCase(value.name, name)) return &value;
  }
  return nullptr;
}

const Value* Key::FindValue(std::string_view name) const { return const_cast<Key*>(this)->FindValue(name); }

Key* Tree::Find(int root, const std::vector<std::string>& path) const {
  if (root < 0 || root >= kRootCount) return nullptr;
  Key* key = const_cast<Key*>(&roots[root]);
  for (const std::string& name : path) {
    key = key->Child(name);
    if (key == nullptr) return nullptr;
  }
  return key;
}

std::string Serialize(const Tree& tree) {
  std::string out(kHeader);
  out += '\n';
  for (int root = 0; root < kRootCount; ++root) {
    const Key& key = tree.roots[root];
    if (key.values.empty() && key.children.empty()) continue;
    SerializeKey(key, kRootNames[root], out);
  }
  return out;
}

Tree Parse(std::string_view text, int& damagedLines) {
  Tree tree;
  damagedLines = 0;
  Key* current = nullptr;
  bool first = true;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (first) {
      first = false;
      if (line == kHeader) continue;
      ++damagedLines;  // not our header: read what we can
    }
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      int root = -1;
      std::vector<std::string> path;
      if (ParseKeyLine(line, root, path)) {
        current = &CreatePath(tree, root, path);
      } else {
        current = nullptr;  // its values cannot be placed either
        ++damagedLines;
      }
      continue;
    }
    Value value;
    if (current == nullptr || !ParseValueLine(line, value) ||
        (value.type == REG_DWORD && value.data.size() != sizeof(DWORD))) {
      ++damagedLines;
      continue;
    }
    if (Value* existing = current->FindValue(value.name)) {
      existing->type = value.type;
      existing->data = std::move(value.data);
    } else {
      current->values.push_back(std::move(value));
    }
  }
  return tree;
}

Store& Store::Instance() {
  static Store store;
  return store;
}

std::string Store::FilePath() {
  if (const char* configured = std::getenv("REELPRESS_REGISTRY"); configured != nullptr && *configured != '\0') {
    return configured;
  }
  const char* config = std::getenv("XDG_CONFIG_HOME");
  const std::string folder = (config != nullptr && *config == '/') ? config : HomeFolder() + "/.config";
  return folder + "/reelpress/registry";
}

void Store::Refresh(const std::string& path) {
  if (path == loadedPath_ && CurrentIdentity(path) == identity_) return;
  std::string bytes, identity;
  const ReadOutcome outcome = ReadWholeFile(path, bytes, identity);
  loadedPath_ = path;
  damaged_ = false;
  identity_.clear();
  tree_ = std::make_unique<Tree>();
  if (outcome == ReadOutcome::Missing) return;
  if (outcome == ReadOutcome::Unreadable) {
    std::fprintf(stderr, "reelpress: the registry file %s cannot be read; it counts as empty and is kept as %s.damaged\n",
                 path.c_str(), path.c_str());
    damaged_ = true;
    identity_ = CurrentIdentity(path);
    return;
  }
  int damagedLines = 0;
  *tree_ = Parse(bytes, damagedLines);
  identity_ = identity;
  if (damagedLines > 0) {
    std::fprintf(stderr,
                 "reelpress: the registry file %s has %d damaged line(s), which were skipped; the file is kept as "
                 "%s.damaged when the registry is next written\n",
                 path.c_str(), damagedLines, path.c_str());
    damaged_ = true;
  }
}

bool Store::Save(const std::string& path) {
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
  const std::string bytes = Serialize(*tree_);
  std::string temporary = path + ".XXXXXX";
  const int descriptor = mkstemp(temporary.data());
  if (descriptor < 0) return false;
  bool ok = true;
  size_t written = 0;
  while (ok && written < bytes.size()) {
    const ssize_t count = write(descriptor, bytes.data() + written, bytes.size() - written);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) ok = false;
    else written += static_cast<size_t>(count);
  }
  ok = ok && fsync(descriptor) == 0;
  ok = close(descriptor) == 0 && ok;
  if (ok && damaged_) {
    // Keep the damaged file under another name before it is replaced.
    const std::string kept = path + ".damaged";
    unlink(kept.c_str());
    if (link(path.c_str(), kept.c_str()) != 0 && errno != ENOENT) {
      std::fprintf(stderr, "reelpress: cannot keep the damaged registry file as %s; it is not replaced\n",
                   kept.c_str());
      ok = false;
    }
  }
  if (!ok || rename(temporary.c_str(), path.c_str()) != 0) {
    unlink(temporary.c_str());
    return false;
  }
  damaged_ = false;
  identity_ = CurrentIdentity(path);
  return true;
}

LONG Store::Read(const std::function<LONG(const Tree&)>& reader) {
  std::lock_guard lock(storeMutex);
  Refresh(FilePath());
  return reader(*tree_);
}

LONG Store::Write(const std::function<LONG(Tree&, bool& changed)>& writer) {
  std::lock_guard lock(storeMutex);
  const std::string path = FilePath();
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
  FileLock fileLock(path);
  if (!fileLock.held()) return ERROR_ACCESS_DENIED;
  Refresh(path);
  bool changed = false;
  const LONG result = writer(*tree_, changed);
  if (result != ERROR_SUCCESS || !changed) return result;
  if (!Save(path)) {
    loadedPath_.clear();  // drop the change we could not store
    return ERROR_ACCESS_DENIED;
  }
  return ERROR_SUCCESS;
}

}  // namespace reel::registry
