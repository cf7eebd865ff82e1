#include "app/skin/ZipArchive.h"

#include <minizip/unzip.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Unix file type bits as zip tools store them in the high word of the
// external attributes when the archive was made on a Unix system.
constexpr unsigned kUnixTypeMask = 0170000;
constexpr unsigned kUnixSymbolicLink = 0120000;
constexpr int kMadeOnUnix = 3;

[[noreturn]] void Fail(int cause, const std::string& message) { throw CZipException(cause, message); }

// Splits a stored name into safe path components, or fails. Both "/" and "\"
// separate components, as packages made on Windows may use either.
std::vector<std::string> SafeComponents(const std::string& stored) {
  if (stored.empty()) Fail(CZipException::badZipFile, "entry without a name");
  if (stored.find('\0') != std::string::npos) Fail(CZipException::badZipFile, "entry name holds a NUL");
  if (stored.front() == '/' || stored.front() == '\\') Fail(CZipException::badZipFile, "absolute entry path: " + stored);
  if (stored.size() >= 2 && stored[1] == ':') Fail(CZipException::badZipFile, "entry path with a drive: " + stored);
  std::vector<std::string> components;
  std::string current;
  auto finish = [&]() {
    if (current == "..") Fail(CZipException::badZipFile, "entry path leaves its folder: " + stored);
    if (!current.empty() && current != ".") components.push_back(current);
    current.clear();
  };
  for (char character : stored) {
    if (character == '/' || character == '\\') {
      finish();
    } else {
      current += character;
    }
  }
  finish();
  return components;
}

// Fails when an existing element of `path` below `root` is a symbolic link,
// since writing through it could land anywhere.
void RefuseLinks(const fs::path& root, const std::vector<std::string>& components) {
  fs::path walk = root;
  for (const std::string& component : components) {
    walk /= component;
    std::error_code error;
    const fs::file_status status = fs::symlink_status(walk, error);
    if (error) return;  // does not exist yet: nothing below it exists either
    if (fs::is_symlink(status)) Fail(CZipException::badZipFile, "entry path passes a link: " + walk.string());
  }
}

}  // namespace

CZipArchive::~CZipArchive() { Close(); }

void CZipArchive::Open(const std::string& path) {
  Close();
  {
    std::ifstream probe(path, std::ios::binary);
    if (!probe) Fail(CZipException::fileOpenFailed, "cannot open " + path);
  }
  std::error_code error;
  if (!fs::is_regular_file(path, error)) Fail(CZipException::fileOpenFailed, "not a file: " + path);

  unzFile handle = unzOpen64(path.c_str());
  if (!handle) Fail(CZipException::cdirNotFound, "central directory not found in " + path);
  unz_global_info64 info{};
  if (unzGetGlobalInfo64(handle, &info) != UNZ_OK || info.number_entry > 0x7FFFFFFF) {
    unzClose(handle);
    Fail(CZipException::badZipFile, "unreadable central directory in " + path);
  }
  m_handle = handle;
  m_count = static_cast<int>(info.number_entry);
}

void CZipArchive::Close() {
  if (m_handle) unzClose(static_cast<unzFile>(m_handle));
  m_handle = nullptr;
  m_count = 0;
}

void CZipArchive::ExtractFile(int index, const std::string& folder, std::size_t bufferSize) {
  if (!m_handle) Fail(CZipException::generic, "archive not open");
  if (index < 0 || index >= m_count) Fail(CZipException::generic, "no entry " + std::to_string(index));
  unzFile handle = static_cast<unzFile>(m_handle);

  // Entries are reached in central-directory order; walk from the first.
  if (unzGoToFirstFile(handle) != UNZ_OK) Fail(CZipException::badZipFile, "cannot reach the first entry");
  for (int position = 0; position < index; ++position) {
    if (unzGoToNextFile(handle) != UNZ_OK) Fail(CZipException::badZipFile, "cannot reach entry " + std::to_string(index));
  }

  unz_file_info64 info{};
  char name[4096];
  if (unzGetCurrentFileInfo64(handle, &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK) {
    Fail(CZipException::badZipFile, "unreadable entry header");
  }
  const std::string stored(name, strnlen(name, sizeof name));
  const bool isFolder = !stored.empty() && (stored.back() == '/' || stored.back() == '\\');
  const unsigned unixMode = static_cast<unsigned>(info.external_fa >> 16);
  if ((info.version >> 8) == kMadeOnUnix && (unixMode & kUnixTypeMask) == kUnixSymbolicLink) {
    Fail(CZipException::badZipFile, "link entries are not extracted: " + stored);
  }
  if (info.uncompressed_size > kMaximumEntrySize) Fail(CZipException::tooBigSize, "entry too large: " + stored);

  const std::vector<std::string> components = SafeComponents(stored);
  const fs::path root = folder.empty() ? fs::path(".") : fs::path(folder);
  RefuseLinks(root, components);
  fs::path target = root;
  for (const std::string& component : components) target /= component;

  std::error_code error;
  fs::create_directories(root, error);
  if (isFolder || components.empty()) {
    fs::create_directories(target, error);
    if (error) Fail(CZipException::writeFailed, "cannot create " + target.string());
    return;
  }
  fs::create_directories(target.parent_path(), error);
  if (error) Fail(CZipException::writeFailed, "cannot create " + target.parent_path().string());
  if (fs::is_directory(target, error)) Fail(CZipException::writeFailed, "a folder is in the way: " + target.string());

  if (unzOpenCurrentFile(handle) != UNZ_OK) Fail(CZipException::badZipFile, "cannot open entry " + stored);
  // Written under a temporary name and renamed at the end, so a failed entry
  // never leaves a half-written file under its real name.
  const fs::path partial = target.string() + ".partial";
  fs::remove(partial, error);
  FILE* out = std::fopen(partial.c_str(), "wbx");  // exclusive: never through a planted link
  if (!out) {
    unzCloseCurrentFile(handle);
    Fail(CZipException::writeFailed, "cannot write " + target.string());
  }
  std::vector<char> buffer(bufferSize == 0 ? 1 : bufferSize);
  std::uint64_t written = 0;
  int result = 0;
  bool writeFailed = false;
  while ((result = unzReadCurrentFile(handle, buffer.data(), static_cast<unsigned>(buffer.size()))) > 0) {
    written += static_cast<std::uint64_t>(result);
    if (written > kMaximumEntrySize || written > info.uncompressed_size) {
      result = UNZ_BADZIPFILE;
      break;
    }
    if (std::fwrite(buffer.data(), 1, static_cast<size_t>(result), out) != static_cast<size_t>(result)) {
      writeFailed = true;
      break;
    }
  }
  const int closeResult = unzCloseCurrentFile(handle);  // UNZ_CRCERROR when the data does not match
  if (std::fclose(out) != 0) writeFailed = true;
  if (writeFailed || result < 0 || closeResult != UNZ_OK || written != info.uncompressed_size) {
    fs::remove(partial, error);
    if (writeFailed) Fail(CZipException::writeFailed, "cannot write " + target.string());
    if (closeResult == UNZ_CRCERROR) Fail(CZipException::badCrc, "CRC mismatch in " + stored);
    Fail(CZipException::badZipFile, "corrupt entry " + stored);
  }
  fs::rename(partial, target, error);
  if (error) {
    fs::remove(partial, error);
    Fail(CZipException::writeFailed, "cannot write " + target.string());
  }
}
