// Reading skin layout files: INI files whose values are comma-separated token
// lists.
//
// Token rules: tokens are taken from the left; blanks after a comma are
// skipped, blanks before a comma stay in the token, and the last token a
// section asks for is the whole rest of the value. A value with fewer tokens
// than asked for repeats its last token for the missing ones.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win/WinTypes.h"

namespace skin {

// A colour token that was empty. Everywhere else a colour is 0xRRGGBB.
constexpr std::uint32_t kNoColour = 0xFFFFFFFFu;

// Values are read into a buffer of this size (terminator included), which is
// what the private-profile calls of a layout allow. Values are not cut to a
// shorter token buffer: a value of any length that fits is accepted.
constexpr DWORD kValueBufferSize = 2048;
constexpr DWORD kKeyListBufferSize = 16 * 1024;

std::vector<std::string> SplitTokens(const std::string& value, std::size_t count);

// A decimal integer as atoi reads it (leading blanks and a sign, then digits).
int IntegerToken(const std::string& token);
// "0x..." is hexadecimal, anything else decimal; empty gives kNoColour.
std::uint32_t ColourToken(const std::string& token);
// True when the token starts with "T".
bool FlagToken(const std::string& token);
// True when the token starts with "V" (a slider's orientation).
bool VerticalToken(const std::string& token);
// Four integer tokens from tokens[first]: left, top, right, bottom.
RECT RectTokens(const std::vector<std::string>& tokens, std::size_t first);

// 0xRRGGBB as a Windows COLORREF (0x00BBGGRR); kNoColour stays kNoColour.
COLORREF ColourRefFromLayout(std::uint32_t rgb);

// A layout file: single values and numbered sections.
class LayoutFile {
 public:
  explicit LayoutFile(std::string path) : m_strPath(std::move(path)) {}
  const std::string& Path() const { return m_strPath; }

  // The value of a key ("" when missing or empty).
  std::string Value(const std::string& section, const std::string& key) const;
  // The tokens of a value, or an empty vector when the value is empty.
  std::vector<std::string> Tokens(const std::string& section, const std::string& key, std::size_t count) const;

  // A numbered section with n keys yields the values of keys "1" to "n",
  // whatever its keys are called; empty or missing values are left out.
  std::vector<std::string> NumberedValues(const std::string& section) const;

 private:
  std::string m_strPath;
};

}  // namespace skin
