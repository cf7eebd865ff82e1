#include "platform/com/Guid.h"

#include <cstdio>

namespace reel {

std::string GuidToString(REFGUID g) {
  char text[39];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

namespace {
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

std::optional<GUID> GuidFromString(std::string_view text) {
  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return std::nullopt;
  BYTE bytes[16];
  std::size_t position = 1;
  for (int index = 0; index < 16; ++index) {
    if (position == 9 || position == 14 || position == 19 || position == 24) {
      if (text[position] != '-') return std::nullopt;
      ++position;
    }
    int high = HexDigit(text[position]);
    int low = HexDigit(text[position + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes[index] = static_cast<BYTE>(high * 16 + low);
    position += 2;
  }
  if (position != 37) return std::nullopt;
  GUID guid;
  guid.Data1 = (DWORD{bytes[0]} << 24) | (DWORD{bytes[1]} << 16) | (DWORD{bytes[2]} << 8) | bytes[3];
  guid.Data2 = static_cast<WORD>((bytes[4] << 8) | bytes[5]);
  guid.Data3 = static_cast<WORD>((bytes[6] << 8) | bytes[7]);
  for (int index = 0; index < 8; ++index) guid.Data4[index] = bytes[8 + index];
  return guid;
}

}  // namespace reel
