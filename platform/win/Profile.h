// The Win32 private-profile (INI file) functions. The file is read afresh on
// every call and written back at once; see Profile.cpp for the file rules.
#pragma once

#include "platform/win/WinTypes.h"

// Copies a value into buffer (at most size - 1 characters, always
// NUL-terminated) and returns the number of characters copied. A missing key
// copies defaultValue (NULL reads as "", trailing blanks removed).
// section NULL: copies the section names; key NULL: the key names of section.
// Lists are NUL-separated and end with an extra NUL; when a list does not fit,
// its last name is cut, two NULs end the buffer and size - 2 is returned.
DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer, DWORD size,
                               LPCSTR fileName);

// The section names, as GetPrivateProfileStringA(NULL, ...) gives them.
DWORD GetPrivateProfileSectionNamesA(LPSTR buffer, DWORD size, LPCSTR fileName);

// The value read as a decimal integer (leading blanks and a sign allowed,
// reading stops at the first non-digit; text without digits is 0); a missing
// or empty value gives defaultValue.
UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT defaultValue, LPCSTR fileName);

// Sets key to value in section, creating the section and the file as needed.
// value NULL deletes the key, key NULL deletes the section (both succeed when
// there was nothing to delete). All three NULL is Windows' "flush the cached
// copy" call: nothing is cached here, so it does nothing and, as on Windows,
// returns FALSE. Names or values that would break the file's line structure
// (line breaks, "=" or a leading "[" or ";" in a key, "]" in a section) are
// refused with FALSE and ERROR_INVALID_PARAMETER.
BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR fileName);
