#include "app/skin/SkinLayout.h"

#include <cctype>
#include <cstdlib>

#include "platform/win/Profile.h"

namespace skin {

std::vector<std::string> SplitTokens(const std::string& value, std::size_t count) {
  std::vector<std::string> tokens;
  if (count == 0) return tokens;
  std::size_t position = 0;
  while (tokens.size() + 1 < count && position <= value.size()) {
    const std::size_t comma = value.find(',', position);
    if (comma == std::string::npos) break;
    tokens.push_back(value.substr(position, comma - position));
    position = comma + 1;
    while (position < value.size() && (value[position] == ' ' || value[position] == '\t')) ++position;
  }
  tokens.push_back(position <= value.size() ? value.substr(position) : std::string());
  while (tokens.size() < count) tokens.push_back(tokens.back());
  return tokens;
}

int IntegerToken(const std::string& token) {
  // strtol with the range of int, as atoi behaves for values that fit.
  const long parsed = std::strtol(token.c_str(), nullptr, 10);
  if (parsed > 0x7FFFFFFFL) return 0x7FFFFFFF;
  if (parsed < -0x7FFFFFFFL - 1) return -0x7FFFFFFF - 1;
  return static_cast<int>(parsed);
}

std::uint32_t ColourToken(const std::string& token) {
  if (token.empty()) return kNoColour;
  unsigned long parsed = 0;
  if (token.size() >= 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) {
    parsed = std::strtoul(token.c_str() + 2, nullptr, 16);
  } else {
    parsed = std::strtoul(token.c_str(), nullptr, 10);
  }
  return static_cast<std::uint32_t>(parsed & 0xFFFFFFFFul);
}

bool FlagToken(const std::string& token) { return !token.empty() && token[0] == 'T'; }

bool VerticalToken(const std::string& token) { return !token.empty() && token[0] == 'V'; }

RECT RectTokens(const std::vector<std::string>& tokens, std::size_t first) {
  RECT rect{0, 0, 0, 0};
  if (tokens.size() < first + 4) return rect;
  rect.left = IntegerToken(tokens[first]);
  rect.top = IntegerToken(tokens[first + 1]);
  rect.right = IntegerToken(tokens[first + 2]);
  rect.bottom = IntegerToken(tokens[first + 3]);
  return rect;
}

COLORREF ColourRefFromLayout(std::uint32_t rgb) {
  if (rgb == kNoColour) return kNoColour;
  return RGB(static_cast<BYTE>((rgb >> 16) & 0xFF), static_cast<BYTE>((rgb >> 8) & 0xFF), static_cast<BYTE>(rgb & 0xFF));
}

std::string LayoutFile::Value(const std::string& section, const std::string& key) const {
  std::string buffer(kValueBufferSize, '\0');
  const DWORD length =
      GetPrivateProfileStringA(section.c_str(), key.c_str(), "", buffer.data(), kValueBufferSize, m_strPath.c_str());
  buffer.resize(length < kValueBufferSize ? length : 0);
  return buffer;
}

std::vector<std::string> LayoutFile::Tokens(const std::string& section, const std::string& key,
                                            std::size_t count) const {
  const std::string value = Value(section, key);
  if (value.empty()) return {};
  return SplitTokens(value, count);
}

std::vector<std::string> LayoutFile::NumberedValues(const std::string& section) const {
  std::string keys(kKeyListBufferSize, '\0');
  const DWORD length =
      GetPrivateProfileStringA(section.c_str(), nullptr, "", keys.data(), kKeyListBufferSize, m_strPath.c_str());
  std::size_t keyCount = 0;
  for (std::size_t position = 0; position < length && position < keys.size();) {
    const std::size_t end = keys.find('\0', position);
    if (end == position || end == std::string::npos) break;
    ++keyCount;
    position = end + 1;
  }
  std::vector<std::string> values;
  for (std::size_t number = 1; number <= keyCount; ++number) {
    std::string value = Value(section, std::to_string(number));
    if (!value.empty()) values.push_back(std::move(value));
  }
  return values;
}

}  // namespace skin
