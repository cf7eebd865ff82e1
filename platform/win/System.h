// Kernel functions in Win32 terms: the thread's last error, the program's
// own file name, the temporary folder, the system version, the current
// directory, simple file and folder operations, MulDiv, Sleep and the tick
// counter. Paths are POSIX paths.
//
// Buffer-filling functions follow Windows' rules: when the text fits they
// return its length without the terminating NUL; when it does not, they
// return the size the caller must provide (terminator included), except
// GetModuleFileNameA, which truncates and returns the buffer size.
#pragma once

#include "platform/win/WinTypes.h"

constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;
constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x01;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x02;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;

constexpr DWORD INFINITE = 0xFFFFFFFFu;

constexpr DWORD VER_PLATFORM_WIN32_NT = 2;

struct OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
};
static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA has its Windows size");

struct OSVERSIONINFOEXA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
  WORD wServicePackMajor;
  WORD wServicePackMinor;
  WORD wSuiteMask;
  BYTE wProductType;
  BYTE wReserved;
};
static_assert(sizeof(OSVERSIONINFOEXA) == 156, "OSVERSIONINFOEXA has its Windows size");

// The calling thread's last error code, as set by the functions of platform/win.
DWORD GetLastError();
void SetLastError(DWORD error);

// The full path of the running executable when module is NULL (other modules
// are not supported: 0 with ERROR_MOD_NOT_FOUND). A path that does not fit is
// truncated to size - 1 characters, NUL-terminated, and size is returned with
// ERROR_INSUFFICIENT_BUFFER.
DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size);

// $TMPDIR when set and not empty, else "/tmp"; always ends with "/".
DWORD GetTempPathA(DWORD size, LPSTR buffer);

// Fills an OSVERSIONINFOA (size 148) or OSVERSIONINFOEXA (size 156).
BOOL GetVersionExA(OSVERSIONINFOA* info);

DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer);
BOOL SetCurrentDirectoryA(LPCSTR path);

BOOL DeleteFileA(LPCSTR path);
BOOL CreateDirectoryA(LPCSTR path, void* securityAttributes);
BOOL RemoveDirectoryA(LPCSTR path);
DWORD GetFileAttributesA(LPCSTR path);

// number * numerator / denominator with a 64-bit intermediate, rounded half
// away from zero; -1 when denominator is 0 or the result does not fit.
INT MulDiv(INT number, INT numerator, INT denominator);

void Sleep(DWORD milliseconds);

// Milliseconds since the system started; wraps after about 49.7 days.
DWORD GetTickCount();
ULONGLONG GetTickCount64();

namespace reel {

// The Win32 error code closest to a POSIX errno value.
DWORD Win32ErrorFromErrno(int error);

// The attributes Windows would report for a file with this stat mode:
// FILE_ATTRIBUTE_DIRECTORY for folders, FILE_ATTRIBUTE_READONLY when the owner
// may not write, FILE_ATTRIBUTE_NORMAL when neither applies.
DWORD FileAttributesFromMode(unsigned mode);

}  // namespace reel
