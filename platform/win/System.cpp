#include "platform/win/System.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

// Copies text into a caller's buffer by the rule of GetTempPath and
// GetCurrentDirectory: the length without NUL when it fits, else the size
// needed (NUL included) with the buffer left alone.
DWORD CopyOrNeededSize(const std::string& text, LPSTR buffer, DWORD size) {
  if (text.size() + 1 > size || buffer == nullptr) return static_cast<DWORD>(text.size() + 1);
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<DWORD>(text.size());
}

BOOL FailWithErrno() {
  SetLastError(reel::Win32ErrorFromErrno(errno));
  return FALSE;
}

}  // namespace

namespace reel {

DWORD Win32ErrorFromErrno(int error) {
  switch (error) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    default: return ERROR_ACCESS_DENIED;
  }
}

DWORD FileAttributesFromMode(unsigned mode) {
  DWORD attributes = 0;
  if (S_ISDIR(mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
  if ((mode & S_IWUSR) == 0) attributes |= FILE_ATTRIBUTE_READONLY;
  return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

}  // namespace reel

DWORD GetLastError() { return lastError; }

void SetLastError(DWORD error) { lastError = error; }

DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) {
  if (module != nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  std::string path(4096, '\0');
  ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
  if (length < 0 || static_cast<size_t>(length) >= path.size()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  path.resize(static_cast<size_t>(length));
  if (fileName == nullptr || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (path.size() + 1 > size) {
    std::memcpy(fileName, path.data(), size - 1);
    fileName[size - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::memcpy(fileName, path.c_str(), path.size() + 1);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(path.size());
}

DWORD GetTempPathA(DWORD size, LPSTR buffer) {
  const char* configured = std::getenv("TMPDIR");
  std::string path = (configured != nullptr && *configured != '\0') ? configured : "/tmp";
  if (path.back() != '/') path += '/';
  return CopyOrNeededSize(path, buffer, size);
}

// We report Windows 7 SP1 (6.1.7601). The application registers the decoder
// libraries that lie beside it only on major version 5 or lower; here the build
// registers every library of the program folder, so the start-up registration
// must not run, and the behaviour of the newer systems (no drive root as an
// output folder) is the one that fits a system without drive letters.
BOOL GetVersionExA(OSVERSIONINFOA* info) {
  if (info == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const DWORD size = info->dwOSVersionInfoSize;
  if (size != sizeof(OSVERSIONINFOA) && size != sizeof(OSVERSIONINFOEXA)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  info->dwMajorVersion = 6;
  info->dwMinorVersion = 1;
  info->dwBuildNumber = 7601;
  info->dwPlatformId = VER_PLATFORM_WIN32_NT;
  std::memset(info->szCSDVersion, 0, sizeof(info->szCSDVersion));
  std::strcpy(info->szCSDVersion, "Service Pack 1");
  if (size == sizeof(OSVERSIONINFOEXA)) {
    auto* extended = reinterpret_cast<OSVERSIONINFOEXA*>(info);
    extended->wServicePackMajor = 1;
    extended->wServicePackMinor = 0;
    extended->wSuiteMask = 0;
    extended->wProductType = 1;  // a workstation
    extended->wReserved = 0;
  }
  return TRUE;
}

DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
  std::string path(4096, '\0');
  if (getcwd(path.data(), path.size()) == nullptr) {
    SetLastError(reel::Win32ErrorFromErrno(errno));
    return 0;
  }
  path.resize(std::strlen(path.c_str()));
  return CopyOrNeededSize(path, buffer, size);
}

BOOL SetCurrentDirectoryA(LPCSTR path) {
  if (path == nullptr || *path == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (chdir(path) != 0) {
    // Windows reports a missing folder as "path not found" here.
    SetLastError(errno == ENOENT ? ERROR_PATH_NOT_FOUND
                                 : errno == ENOTDIR ? ERROR_DIRECTORY : reel::Win32ErrorFromErrno(errno));
    return FALSE;
  }
  return TRUE;
}

BOOL DeleteFileA(LPCSTR path) {
  if (path == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  struct stat info {};
  if (lstat(path, &info) == 0 && S_ISDIR(info.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);  // as Windows answers for a folder
    return FALSE;
  }
  if (unlink(path) != 0) return FailWithErrno();
  return TRUE;
}

BOOL CreateDirectoryA(LPCSTR path, void* /*securityAttributes*/) {
  if (path == nullptr || *path == '\0') {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  if (mkdir(path, 0777) != 0) {
    SetLastError(errno == ENOENT ? ERROR_PATH_NOT_FOUND : reel::Win32ErrorFromErrno(errno));
    return FALSE;
  }
  return TRUE;
}

BOOL RemoveDirectoryA(LPCSTR path) {
  if (path == nullptr || *path == '\0') {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  if (rmdir(path) != 0) {
    SetLastError(errno == ENOTDIR ? ERROR_DIRECTORY
                 : errno == EEXIST ? ERROR_DIR_NOT_EMPTY : reel::Win32ErrorFromErrno(errno));
    return FALSE;
  }
  return TRUE;
}

DWORD GetFileAttributesA(LPCSTR path) {
  if (path == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_FILE_ATTRIBUTES;
  }
  struct stat info {};
  if (stat(path, &info) != 0) {
    SetLastError(reel::Win32ErrorFromErrno(errno));
    return INVALID_FILE_ATTRIBUTES;
  }
  return reel::FileAttributesFromMode(info.st_mode);
}

INT MulDiv(INT number, INT numerator, INT denominator) {
  if (denominator == 0) return -1;
  long long product = static_cast<long long>(number) * numerator;
  long long divisor = denominator;
  if (divisor < 0) {
    product = -product;
    divisor = -divisor;
  }
  // Round half away from zero: move the product by half the divisor towards
  // its own sign before the (truncating) division.
  const long long half = divisor / 2;
  const long long result = (product >= 0 ? product + half : product - half) / divisor;
  if (result > 2147483647LL || result < -2147483647LL) return -1;
  return static_cast<INT>(result);
}

void Sleep(DWORD milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

ULONGLONG GetTickCount64() {
  timespec now {};
  clock_gettime(CLOCK_BOOTTIME, &now);
  return static_cast<ULONGLONG>(now.tv_sec) * 1000u + static_cast<ULONGLONG>(now.tv_nsec) / 1000000u;
}

DWORD GetTickCount() { return static_cast<DWORD>(GetTickCount64()); }
