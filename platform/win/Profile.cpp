// Private-profile files. The rules follow Windows where callers depend on
// them; the rest are our choices:
// - Lines end in "\n", "\r\n" or a lone "\r". A UTF-8 byte-order mark at the
//   start of the file is skipped (and kept on rewrite).
// - Blanks (space, tab, vertical tab, form feed) around section names, key
//   names and values are ignored, also around the names a caller asks for.
// - Section and key names compare case-insensitively (ASCII letters).
// - "[name]" starts a section; the name runs to the last "]" of the line and
//   text after that "]" is ignored. A "[" line without "]" is no header.
// - A line whose first non-blank character is ";" is a comment.
// - "key=value" splits at the first "="; a line without "=" is kept in the
//   file but is not a key (it is not listed and reads as the default).
// - Lines before the first section header belong to no section.
// - The first section of a name and, in it, the first key of a name win on
//   read; name lists give every name once, spelt as it first occurs.
// - A value that starts and ends with the same quote (' or ") is read
//   without that pair, as Windows does.
// - A NUL byte ends a name or value as it would a C string; otherwise the file
//   is parsed as bytes, so a binary file only gives odd names.
// - Writes keep every other line byte for byte and in its place. A changed key
//   is rewritten in place as "Key=value" with the key's own spelling; a new key
//   goes after the last non-blank line of its section; a new section goes at
//   the end of the file after a blank line. New lines take the file's first
//   line ending ("\n" in a new file).
// - Deleting a key removes it from every section of that name; deleting a
//   section removes every section of that name with all of its lines.
// - A file is replaced atomically (temporary file in the same folder, then
//   rename), so a reader sees the old file or the new one, never a mix.
//   Writers, in this process or another, take turns by an flock on the file.
// - Files larger than 256 MB are not read (calls see defaults) and not written.
// - Relative paths are relative to the current folder.
#include "platform/win/Profile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/win/System.h"

namespace {

constexpr off_t kLargestFile = 256LL * 1024 * 1024;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view UpToNul(std::string_view text) { return text.substr(0, text.find('\0')); }

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

std::string LowerCopy(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = LowerAscii(c);
  return lower;
}

enum class LineKind { Blank, Comment, Section, Entry, Other };

struct Line {
  size_t begin = 0;      // first byte of the line
  size_t end = 0;        // one past its last byte, line ending excluded
  size_t nextBegin = 0;  // one past its line ending
  LineKind kind = LineKind::Blank;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // value of an entry, trimmed
};

struct Section {
  std::string_view name;
  size_t header = 0;     // index of the header line
  size_t lineEnd = 0;    // one past its last line
};

// A parsed view of a file's bytes; the bytes must outlive it.
class Document {
 public:
  explicit Document(std::string_view text) : text_(text) {
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") bomLength_ = 3;
    Split();
  }

  std::string_view text() const { return text_; }
  size_t bomLength() const { return bomLength_; }
  const std::vector<Line>& lines() const { return lines_; }
  const std::vector<Section>& sections() const { return sections_; }

  // The line ending that new lines take.
  std::string_view LineEnding() const {
    for (const Line& line : lines_) {
      if (line.nextBegin > line.end) return text_.substr(line.end, line.nextBegin - line.end);
    }
    return "\n";
  }

  const Section* FindSection(std::string_view name) const {
    if (name.empty()) return nullptr;
    for (const Section& section : sections_) {
      if (EqualNoCase(section.name, name)) return &section;
    }
    return nullptr;
  }

  const Line* FindEntry(const Section& section, std::string_view key) const {
    if (key.empty()) return nullptr;
    for (size_t i = section.header + 1; i < section.lineEnd; ++i) {
      const Line& line = lines_[i];
      if (line.kind == LineKind::Entry && EqualNoCase(line.name, key)) return &line;
    }
    return nullptr;
  }

  std::vector<std::string_view> SectionNames() const {
    std::vector<std::string_view> names;
    std::unordered_set<std::string> seen;
    for (const Section& section : sections_) {
      std::string_view name = UpToNul(section.name);
      if (!name.empty() && seen.insert(LowerCopy(name)).second) names.push_back(name);
    }
    return names;
  }

  std::vector<std::string_view> KeyNames(std::string_view sectionName) const {
    std::vector<std::string_view> names;
    const Section* section = FindSection(sectionName);
    if (section == nullptr) return names;
    std::unordered_set<std::string> seen;
    for (size_t i = section->header + 1; i < section->lineEnd; ++i) {
      const Line& line = lines_[i];
      if (line.kind != LineKind::Entry) continue;
      std::string_view name = UpToNul(line.name);
      if (!name.empty() && seen.insert(LowerCopy(name)).second) names.push_back(name);
    }
    return names;
  }

 private:
  void Split() {
    size_t position = bomLength_;
    while (position < text_.size()) {
      Line line;
      line.begin = position;
      size_t end = position;
      while (end < text_.size() && text_[end] != '\n' && text_[end] != '\r') ++end;
      line.end = end;
      if (end < text_.size()) {
        const bool crlf = text_[end] == '\r' && end + 1 < text_.size() && text_[end + 1] == '\n';
        line.nextBegin = end + (crlf ? 2 : 1);
      } else {
        line.nextBegin = end;
      }
      Classify(line);
      if (line.kind == LineKind::Section) {
        if (!sections_.empty()) sections_.back().lineEnd = lines_.size();
        sections_.push_back(Section{line.name, lines_.size(), 0});
      }
      lines_.push_back(line);
      position = line.nextBegin;
    }
    if (!sections_.empty()) sections_.back().lineEnd = lines_.size();
  }

  void Classify(Line& line) const {
    const std::string_view content = Trim(text_.substr(line.begin, line.end - line.begin));
    if (content.empty()) {
      line.kind = LineKind::Blank;
    } else if (content.front() == ';') {
      line.kind = LineKind::Comment;
    } else if (const size_t close = content.rfind(']'); content.front() == '[' && close != std::string_view::npos) {
      line.kind = LineKind::Section;
      line.name = Trim(content.substr(1, close - 1));
    } else if (const size_t equals = content.find('='); equals != std::string_view::npos) {
      line.kind = LineKind::Entry;
      line.name = Trim(content.substr(0, equals));
      line.value = Trim(content.substr(equals + 1));
    } else {
      line.kind = LineKind::Other;
    }
  }

  std::string_view text_;
  size_t bomLength_ = 0;
  std::vector<Line> lines_;
  std::vector<Section> sections_;
};

enum class LoadResult { Loaded, Missing, Unreadable };

LoadResult ReadDescriptor(int descriptor, std::string& bytes) {
  struct stat info {};
  if (fstat(descriptor, &info) != 0) return LoadResult::Unreadable;
  if (S_ISDIR(info.st_mode) || info.st_size > kLargestFile) return LoadResult::Unreadable;
  bytes.clear();
  char chunk[65536];
  off_t offset = 0;
  for (;;) {
    const ssize_t count = pread(descriptor, chunk, sizeof(chunk), offset);
    if (count < 0) {
      if (errno == EINTR) continue;
      return LoadResult::Unreadable;
    }
    if (count == 0) break;
    bytes.append(chunk, static_cast<size_t>(count));
    offset += count;
    if (offset > kLargestFile) return LoadResult::Unreadable;
  }
  return LoadResult::Loaded;
}

LoadResult LoadFile(const char* path, std::string& bytes) {
  const int descriptor = open(path, O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return errno == ENOENT || errno == ENOTDIR ? LoadResult::Missing : LoadResult::Unreadable;
  const LoadResult result = ReadDescriptor(descriptor, bytes);
  close(descriptor);
  return result;
}

// Copies a value: at most size - 1 characters and a NUL; returns the count.
DWORD CopyValue(std::string_view value, LPSTR buffer, DWORD size) {
  const size_t count = std::min<size_t>(value.size(), size - 1);
  if (count > 0) std::memcpy(buffer, value.data(), count);
  buffer[count] = '\0';
  return static_cast<DWORD>(count);
}

std::string_view StripQuotes(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// Copies NUL-separated names ending in an extra NUL. As on Windows, a list
// that needs the whole buffer counts as cut: the last name is shortened so
// two NULs end the buffer, and size - 2 is returned.
DWORD CopyNameList(const std::vector<std::string_view>& names, LPSTR buffer, DWORD size) {
  if (size == 1) {
    buffer[0] = '\0';
    return 0;
  }
  size_t room = size - 1;  // what is left, the final NUL excluded
  char* out = buffer;
  for (std::string_view name : names) {
    const size_t needed = name.size() + 1;
    if (needed >= room) {
      std::memcpy(out, name.data(), room - 1);
      out += room - 1;
      *out++ = '\0';
      *out = '\0';
      return size - 2;
    }
    std::memcpy(out, name.data(), name.size());
    out += name.size();
    *out++ = '\0';
    room -= needed;
  }
  *out = '\0';
  if (out == buffer) out[1] = '\0';
  return static_cast<DWORD>(out - buffer);
}

std::string_view RequestedName(LPCSTR name) { return Trim(std::string_view(name)); }

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

bool IsWritableSection(std::string_view section) {
  return !section.empty() && !HasLineBreak(section) && section.find(']') == std::string_view::npos;
}

bool IsWritableKey(std::string_view key) {
  return !key.empty() && !HasLineBreak(key) && key.find('=') == std::string_view::npos && key.front() != '[' &&
         key.front() != ';';
}

// Builds the text with the lines [from, to) of each range removed.
std::string WithoutRanges(const Document& document, const std::vector<std::pair<size_t, size_t>>& ranges) {
  std::string out;
  size_t kept = 0;
  for (const auto& [from, to] : ranges) {
    out.append(document.text().substr(kept, from - kept));
    kept = to;
  }
  out.append(document.text().substr(kept));
  return out;
}

// The new file text, or nothing when the file stays as it is.
std::optional<std::string> EditDocument(const Document& document, std::string_view section, const char* key,
                                        const char* value) {
  const std::vector<Line>& lines = document.lines();
  if (key == nullptr) {
    std::vector<std::pair<size_t, size_t>> ranges;
    for (const Section& candidate : document.sections()) {
      if (!EqualNoCase(candidate.name, section)) continue;
      ranges.emplace_back(lines[candidate.header].begin, lines[candidate.lineEnd - 1].nextBegin);
    }
    if (ranges.empty()) return std::nullopt;
    return WithoutRanges(document, ranges);
  }

  const std::string_view keyName = RequestedName(key);
  if (value == nullptr) {
    std::vector<std::pair<size_t, size_t>> ranges;
    for (const Section& candidate : document.sections()) {
      if (!EqualNoCase(candidate.name, section)) continue;
      for (size_t i = candidate.header + 1; i < candidate.lineEnd; ++i) {
        if (lines[i].kind == LineKind::Entry && EqualNoCase(lines[i].name, keyName)) {
          ranges.emplace_back(lines[i].begin, lines[i].nextBegin);
        }
      }
    }
    if (ranges.empty()) return std::nullopt;
    return WithoutRanges(document, ranges);
  }

  const std::string_view text = document.text();
  const std::string_view ending = document.LineEnding();
  const Section* target = document.FindSection(section);
  if (target != nullptr) {
    if (const Line* entry = document.FindEntry(*target, keyName)) {
      std::string replacement = std::string(entry->name) + "=" + value;
      if (text.substr(entry->begin, entry->end - entry->begin) == replacement) return std::nullopt;
      std::string out(text.substr(0, entry->begin));
      out += replacement;
      out.append(text.substr(entry->end));
      return out;
    }
    size_t last = target->header;
    for (size_t i = target->header + 1; i < target->lineEnd; ++i) {
      if (lines[i].kind != LineKind::Blank) last = i;
    }
    const size_t insertAt = lines[last].nextBegin;
    std::string out(text.substr(0, insertAt));
    if (lines[last].nextBegin == lines[last].end) out += ending;  // the last line had no line ending
    out.append(keyName);
    out += "=";
    out += value;
    out += ending;
    out.append(text.substr(insertAt));
    return out;
  }

  std::string out(text);
  if (!lines.empty()) {
    if (lines.back().nextBegin == lines.back().end) out += ending;
    if (lines.back().kind != LineKind::Blank) out += ending;
  }
  out += "[";
  out.append(section);
  out += "]";
  out += ending;
  out.append(keyName);
  out += "=";
  out += value;
  out += ending;
  return out;
}

// Opens and exclusively locks the file now at path. A writer that replaced the
// file between our open and our lock leaves us holding the old file, so we
// check that the path still names what we locked and try again if not.
int OpenLocked(const std::string& path, bool create) {
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const int descriptor = open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0644);
    if (descriptor < 0) return -1;
    int locked;
    do {
      locked = flock(descriptor, LOCK_EX);
    } while (locked != 0 && errno == EINTR);
    struct stat opened {}, current {};
    if (locked == 0 && fstat(descriptor, &opened) == 0 && stat(path.c_str(), &current) == 0 &&
        opened.st_dev == current.st_dev && opened.st_ino == current.st_ino) {
      return descriptor;
    }
    const int savedError = errno;
    close(descriptor);
    if (locked != 0) {
      errno = savedError;
      return -1;
    }
  }
  errno = EAGAIN;
  return -1;
}

// Writes bytes to a new file beside path and renames it over path.
bool ReplaceFile(const std::string& path, const std::string& bytes, mode_t mode) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string temporary = folder + "." + base + ".XXXXXX";
  const int descriptor = mkstemp(temporary.data());
  if (descriptor < 0) return false;
  size_t written = 0;
  bool ok = true;
  while (ok && written < bytes.size()) {
    const ssize_t count = write(descriptor, bytes.data() + written, bytes.size() - written);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) ok = false;
    else written += static_cast<size_t>(count);
  }
  ok = ok && fchmod(descriptor, mode & 07777) == 0;
  const int savedError = errno;
  ok = (close(descriptor) == 0) && ok;
  if (ok && rename(temporary.c_str(), path.c_str()) == 0) return true;
  const int failure = ok ? errno : savedError;
  unlink(temporary.c_str());
  errno = failure;
  return false;
}

// A symbolic link is followed, so that the file it names is rewritten and the
// link stays.
std::string ResolveTarget(const char* path) {
  struct stat info {};
  if (lstat(path, &info) == 0 && S_ISLNK(info.st_mode)) {
    if (char* resolved = realpath(path, nullptr)) {
      std::string target(resolved);
      std::free(resolved);
      return target;
    }
  }
  return path;
}

}  // namespace

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer, DWORD size,
                               LPCSTR fileName) {
  if (buffer == nullptr || size == 0) return 0;
  std::string bytes;
  const LoadResult loaded = fileName != nullptr ? LoadFile(fileName, bytes) : LoadResult::Missing;
  SetLastError(loaded == LoadResult::Loaded ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
  const Document document(bytes);

  if (section == nullptr) return CopyNameList(document.SectionNames(), buffer, size);
  if (key == nullptr) return CopyNameList(document.KeyNames(RequestedName(section)), buffer, size);

  if (const Section* found = document.FindSection(RequestedName(section))) {
    if (const Line* entry = document.FindEntry(*found, RequestedName(key))) {
      return CopyValue(StripQuotes(UpToNul(entry->value)), buffer, size);
    }
  }
  std::string_view fallback = defaultValue != nullptr ? std::string_view(defaultValue) : std::string_view();
  while (!fallback.empty() && fallback.back() == ' ') fallback.remove_suffix(1);
  return CopyValue(fallback, buffer, size);
}

DWORD GetPrivateProfileSectionNamesA(LPSTR buffer, DWORD size, LPCSTR fileName) {
  return GetPrivateProfileStringA(nullptr, nullptr, nullptr, buffer, size, fileName);
}

UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT defaultValue, LPCSTR fileName) {
  if (section == nullptr || key == nullptr) return static_cast<UINT>(defaultValue);
  std::string bytes;
  if (fileName == nullptr || LoadFile(fileName, bytes) != LoadResult::Loaded) return static_cast<UINT>(defaultValue);
  const Document document(bytes);
  const Section* found = document.FindSection(RequestedName(section));
  const Line* entry = found != nullptr ? document.FindEntry(*found, RequestedName(key)) : nullptr;
  if (entry == nullptr) return static_cast<UINT>(defaultValue);
  const std::string_view text = StripQuotes(UpToNul(entry->value));
  if (text.empty()) return static_cast<UINT>(defaultValue);

  size_t position = 0;
  while (position < text.size() && IsBlank(text[position])) ++position;
  bool negative = false;
  if (position < text.size() && (text[position] == '-' || text[position] == '+')) {
    negative = text[position] == '-';
    ++position;
  }
  // Digits accumulate with 32-bit wrap-around, as Windows' conversion does.
  UINT result = 0;
  while (position < text.size() && text[position] >= '0' && text[position] <= '9') {
    result = result * 10u + static_cast<UINT>(text[position] - '0');
    ++position;
  }
  return negative ? 0u - result : result;
}

BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR fileName) {
  if (fileName == nullptr || *fileName == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (section == nullptr && key == nullptr && value == nullptr) {
    SetLastError(ERROR_SUCCESS);
    return FALSE;
  }
  if (section == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string_view sectionName = RequestedName(section);
  if (!IsWritableSection(sectionName) || (key != nullptr && !IsWritableKey(RequestedName(key))) ||
      (value != nullptr && HasLineBreak(value))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }

  const std::string path = ResolveTarget(fileName);
  const bool adding = key != nullptr && value != nullptr;
  const int descriptor = OpenLocked(path, adding);
  if (descriptor < 0) {
    if (!adding && (errno == ENOENT)) return TRUE;  // nothing to delete
    SetLastError(errno == ENOENT ? ERROR_PATH_NOT_FOUND : reel::Win32ErrorFromErrno(errno));
    return FALSE;
  }
  std::string bytes;
  BOOL result = TRUE;
  struct stat info {};
  if (ReadDescriptor(descriptor, bytes) != LoadResult::Loaded || fstat(descriptor, &info) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    result = FALSE;
  } else {
    const Document document(bytes);
    if (std::optional<std::string> edited = EditDocument(document, sectionName, key, value)) {
      if (!ReplaceFile(path, *edited, info.st_mode)) {
        SetLastError(reel::Win32ErrorFromErrno(errno));
        result = FALSE;
      }
    }
  }
  close(descriptor);
  if (result) SetLastError(ERROR_SUCCESS);
  return result;
}
