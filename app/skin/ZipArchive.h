// Read-only access to a zip archive (a skin package), built on minizip.
//
// Only what the skin engine needs: open by path, count the entries, extract
// one entry into a folder keeping its stored path, close. Failures are thrown
// as CZipException; nothing else leaves this class.
//
// Extraction never writes outside the target folder: entries with absolute
// paths, drive letters, ".." components, link entries, or a path that would
// pass through an existing symbolic link are refused with cause badZipFile.
#pragma once

#include <cstdint>
#include <string>

class CZipException {
 public:
  enum Cause {
    noError = 0,
    generic = 1,
    badZipFile = 2,
    badCrc = 3,
    noCallback = 4,
    aborted = 5,
    abortedAction = 6,
    abortedSafely = 7,
    nonRemovable = 8,
    tooManyVolumes = 9,
    tooLongData = 10,
    tooBigSize = 11,
    badPassword = 12,
    dirWithSize = 13,
    internalError = 14,
    notRemoved = 15,
    notRenamed = 16,
    platfNotSupp = 17,
    cdirNotFound = 18,
    fileOpenFailed = 100,
    writeFailed = 101,
  };

  CZipException(int cause, std::string message) : m_iCause(cause), m_strMessage(std::move(message)) {}

  int m_iCause;
  std::string m_strMessage;
};

class CZipArchive {
 public:
  CZipArchive() = default;
  ~CZipArchive();
  CZipArchive(const CZipArchive&) = delete;
  CZipArchive& operator=(const CZipArchive&) = delete;

  // Opens an existing archive read-only. Throws fileOpenFailed when the file
  // cannot be read, cdirNotFound when it holds no central directory.
  void Open(const std::string& path);
  bool IsOpen() const { return m_handle != nullptr; }
  int GetCount() const { return m_count; }

  // Extracts entry `index` below `folder`, creating the folders of its stored
  // path; `bufferSize` bytes are decompressed at a time.
  void ExtractFile(int index, const std::string& folder, std::size_t bufferSize = 65535);

  void Close();

  // Guard against hostile packages: no entry may unpack to more than this.
  static constexpr std::uint64_t kMaximumEntrySize = 256ull << 20;

 private:
  void* m_handle = nullptr;  // unzFile
  int m_count = 0;
};
