// FindFirstFileA / FindNextFileA / FindClose over a folder and a Windows
// wildcard pattern ("dir/*.skn", "dir/*.*", "dir/*", "dir/a?c.ini").
//
// Matching is Windows': case-insensitive, "*" matches any run of characters,
// "?" exactly one, and a pattern ending in ".*" also matches names without a
// dot ("*.*" matches every name). "." and ".." are reported first when the
// pattern matches them, then the other entries sorted by name without regard
// to case (ties by bytes), a stable order that does not depend on the file
// system. The folder is read once, by FindFirstFileA.
#pragma once

#include "platform/win/System.h"
#include "platform/win/WinTypes.h"

struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  CHAR cFileName[MAX_PATH];
  CHAR cAlternateFileName[14];
};
using LPWIN32_FIND_DATAA = WIN32_FIND_DATAA*;

// INVALID_HANDLE_VALUE with ERROR_FILE_NOT_FOUND when nothing matches, or
// ERROR_PATH_NOT_FOUND when the folder does not exist.
HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data);
// FALSE with ERROR_NO_MORE_FILES after the last entry.
BOOL FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA data);
BOOL FindClose(HANDLE find);

namespace reel {

// Windows' wildcard match of a file name, as FindFirstFileA uses it.
bool MatchesWildcard(const char* pattern, const char* name);

}  // namespace reel
