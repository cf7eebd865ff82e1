// GUID with the Windows layout (Data1..Data4), its comparisons and hash, and
// the text form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
#pragma once

#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/win/WinTypes.h"

struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline bool operator==(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
inline bool operator<(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) < 0; }
inline bool IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }
inline bool IsEqualIID(REFIID a, REFIID b) { return a == b; }
inline bool IsEqualCLSID(REFCLSID a, REFCLSID b) { return a == b; }

inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

// Defines a named GUID constant in a header: inline, so one definition
// exists per program whatever includes it.
#define REEL_DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
  inline constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}

namespace reel {

// "{3AAED2B6-8834-4F17-8B62-ACAB5BD398FF}" (upper-case hex, braces).
std::string GuidToString(REFGUID guid);
// Accepts the braced form, case-insensitive; anything else yields nullopt.
std::optional<GUID> GuidFromString(std::string_view text);

}  // namespace reel

template <>
struct std::hash<GUID> {
  std::size_t operator()(const GUID& g) const noexcept {
    std::uint64_t halves[2];
    std::memcpy(halves, &g, sizeof halves);
    return std::hash<std::uint64_t>{}(halves[0] ^ (halves[1] * 0x9E3779B97F4A7C15ull));
  }
};
