#include "platform/win/Strings.h"

namespace reel {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point at text[position], advancing position past it. A
// malformed sequence yields U+FFFD and consumes only its first byte, or the
// maximal valid prefix, as the Unicode recommendation for substitution says.
char32_t DecodeUtf8(std::string_view text, std::size_t& position) {
  const auto lead = static_cast<unsigned char>(text[position++]);
  if (lead < 0x80) return lead;
  int continuation;
  char32_t value;
  char32_t lowest;
  if (lead >= 0xC2 && lead <= 0xDF) {
    continuation = 1, value = lead & 0x1F, lowest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    continuation = 2, value = lead & 0x0F, lowest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    continuation = 3, value = lead & 0x07, lowest = 0x10000;
  } else {
    return kReplacement;
  }
  for (int index = 0; index < continuation; ++index) {
    if (position >= text.size()) return kReplacement;
    const auto next = static_cast<unsigned char>(text[position]);
    if ((next & 0xC0) != 0x80) return kReplacement;
    const char32_t candidate = (value << 6) | (next & 0x3F);
    // Reject overlong forms, surrogates and values past U+10FFFF as soon as
    // the second byte shows them, so the following byte starts afresh.
    if (index == 0) {
      if (continuation == 2 && ((lead == 0xE0 && next < 0xA0) || (lead == 0xED && next >= 0xA0)))
        return kReplacement;
      if (continuation == 3 && ((lead == 0xF0 && next < 0x90) || (lead == 0xF4 && next >= 0x90)))
        return kReplacement;
    }
    value = candidate;
    ++position;
  }
  if (value < lowest) return kReplacement;
  return value;
}

void AppendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  std::size_t position = 0;
  while (position < utf8.size()) {
    const char32_t code = DecodeUtf8(utf8, position);
    if (code >= 0x10000) {
      const char32_t offset = code - 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 | (offset >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 | (offset & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (std::size_t position = 0; position < utf16.size(); ++position) {
    const char16_t unit = utf16[position];
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (position + 1 < utf16.size() && utf16[position + 1] >= 0xDC00 && utf16[position + 1] <= 0xDFFF) {
        const char32_t code = 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(utf16[position + 1]) - 0xDC00);
        AppendUtf8(out, code);
        ++position;
      } else {
        AppendUtf8(out, kReplacement);
      }
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      AppendUtf8(out, kReplacement);
    } else {
      AppendUtf8(out, unit);
    }
  }
  return out;
}

std::size_t WideLength(const WCHAR* text) {
  if (!text) return 0;
  std::size_t length = 0;
  while (text[length]) ++length;
  return length;
}

std::string Utf16ToUtf8(const WCHAR* utf16) { return Utf16ToUtf8(std::u16string_view(utf16, WideLength(utf16))); }

}  // namespace reel
