#include "platform/win/FileFind.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// "*" any run, "?" one character, everything else itself without regard to
// case. The last "*" seen is where a failed match resumes, which is enough
// because a later "*" can absorb whatever an earlier one would have.
bool Glob(std::string_view pattern, std::string_view name) {
  size_t p = 0, n = 0;
  size_t starPattern = std::string_view::npos, starName = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || (pattern[p] != '*' && LowerAscii(pattern[p]) == LowerAscii(name[n])))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starPattern = p++;
      starName = n;
    } else if (starPattern != std::string_view::npos) {
      p = starPattern + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

struct FoundEntry {
  std::string name;
  DWORD attributes = FILE_ATTRIBUTE_NORMAL;
  ULONGLONG size = 0;
  FILETIME created {}, accessed {}, written {};
};

struct Search {
  std::vector<FoundEntry> entries;
  size_t next = 0;
};

// Handles are tokens that are never reused, so a closed handle stays invalid.
std::mutex searchesMutex;
std::unordered_map<HANDLE, std::unique_ptr<Search>> searches;
ULONG_PTR nextSearch = 0x10000;

FILETIME ToFileTime(const timespec& time) {
  // FILETIME counts 100-ns steps from 1601-01-01; Unix time starts 11644473600 s later.
  const long long ticks = (static_cast<long long>(time.tv_sec) + 11644473600LL) * 10000000LL + time.tv_nsec / 100;
  const auto value = static_cast<ULONGLONG>(ticks < 0 ? 0 : ticks);
  return FILETIME{static_cast<DWORD>(value & 0xFFFFFFFFu), static_cast<DWORD>(value >> 32)};
}

bool Describe(const std::string& folder, const std::string& name, FoundEntry& entry) {
  const std::string path = folder + "/" + name;
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 && lstat(path.c_str(), &info) != 0) return false;  // gone meanwhile
  entry.name = name;
  entry.attributes = reel::FileAttributesFromMode(info.st_mode);
  entry.size = S_ISDIR(info.st_mode) ? 0 : static_cast<ULONGLONG>(info.st_size);
  entry.written = ToFileTime(info.st_mtim);
  entry.accessed = ToFileTime(info.st_atim);
  entry.created = ToFileTime(info.st_ctim);  // the closest Linux keeps
  return true;
}

void Fill(const FoundEntry& entry, WIN32_FIND_DATAA* data) {
  std::memset(data, 0, sizeof(*data));
  data->dwFileAttributes = entry.attributes;
  data->ftCreationTime = entry.created;
  data->ftLastAccessTime = entry.accessed;
  data->ftLastWriteTime = entry.written;
  data->nFileSizeHigh = static_cast<DWORD>(entry.size >> 32);
  data->nFileSizeLow = static_cast<DWORD>(entry.size & 0xFFFFFFFFu);
  std::memcpy(data->cFileName, entry.name.c_str(), entry.name.size() + 1);
}

bool NameOrder(const std::string& a, const std::string& b) {
  const size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    const char x = LowerAscii(a[i]), y = LowerAscii(b[i]);
    if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

HANDLE Fail(DWORD error) {
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

}  // namespace

namespace reel {

bool MatchesWildcard(const char* pattern, const char* name) {
  const std::string_view wanted(pattern), candidate(name);
  if (Glob(wanted, candidate)) return true;
  // A trailing ".*" stands for "any extension or none".
  return wanted.size() >= 2 && wanted.substr(wanted.size() - 2) == ".*" &&
         Glob(wanted.substr(0, wanted.size() - 2), candidate);
}

}  // namespace reel

HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
  if (data == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (pattern == nullptr || *pattern == '\0') return Fail(ERROR_PATH_NOT_FOUND);
  const std::string_view full(pattern);
  const size_t slash = full.rfind('/');
  std::string folder(".");
  std::string namePattern(full);
  if (slash != std::string_view::npos) {
    folder.assign(full.data(), slash == 0 ? 1 : slash);
    namePattern.assign(full.substr(slash + 1));
  }

  DIR* directory = opendir(folder.c_str());
  if (directory == nullptr) {
    return Fail(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : reel::Win32ErrorFromErrno(errno));
  }
  std::vector<std::string> names;
  while (const dirent* item = readdir(directory)) {
    const std::string name = item->d_name;
    if (name == "." || name == ".." || name.size() >= MAX_PATH) continue;
    if (reel::MatchesWildcard(namePattern.c_str(), name.c_str())) names.push_back(name);
  }
  closedir(directory);
  std::sort(names.begin(), names.end(), NameOrder);
  for (const char* special : {"..", "."}) {
    if (reel::MatchesWildcard(namePattern.c_str(), special)) names.insert(names.begin(), special);
  }

  auto search = std::make_unique<Search>();
  for (const std::string& name : names) {
    FoundEntry entry;
    if (Describe(folder, name, entry)) search->entries.push_back(std::move(entry));
  }
  if (search->entries.empty()) return Fail(ERROR_FILE_NOT_FOUND);

  Fill(search->entries[0], data);
  search->next = 1;
  std::lock_guard lock(searchesMutex);
  HANDLE handle = reinterpret_cast<HANDLE>(nextSearch);
  nextSearch += 4;
  searches.emplace(handle, std::move(search));
  SetLastError(ERROR_SUCCESS);
  return handle;
}

BOOL FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA data) {
  std::lock_guard lock(searchesMutex);
  const auto found = searches.find(find);
  if (found == searches.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (data == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Search& search = *found->second;
  if (search.next >= search.entries.size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  Fill(search.entries[search.next++], data);
  return TRUE;
}

BOOL FindClose(HANDLE find) {
  std::lock_guard lock(searchesMutex);
  if (searches.erase(find) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}
