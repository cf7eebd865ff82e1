// Conversions between the UTF-8 strings used inside the program and the
// UTF-16 strings (WCHAR) of the Windows-style interfaces. Invalid input
// (broken sequences, lone surrogates, overlong or out-of-range encodings)
// becomes U+FFFD; the functions never fail.
#pragma once

#include <string>
#include <string_view>

#include "platform/win/WinTypes.h"

namespace reel {

std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);
// A NUL-terminated wide string; null gives "".
std::string Utf16ToUtf8(const WCHAR* utf16);

// Length of a NUL-terminated wide string (0 for null).
std::size_t WideLength(const WCHAR* text);

}  // namespace reel
