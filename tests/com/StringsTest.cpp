#include <gtest/gtest.h>

#include <cstring>

#include "platform/com/Bstr.h"
#include "platform/win/Strings.h"

namespace {

TEST(Strings, RoundTripsEveryPlane) {
  const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xAC";  // a é € 🎬
  const std::u16string wide = reel::Utf8ToUtf16(text);
  EXPECT_EQ(wide, u"a\u00E9\u20AC\U0001F3AC");
  EXPECT_EQ(reel::Utf16ToUtf8(wide), text);
}

TEST(Strings, InvalidUtf8BecomesReplacementCharacters) {
  struct Case {
    std::string input;
    std::u16string expected;
  };
  const Case cases[] = {
      {"\x80", u"\uFFFD"},                       // lone continuation byte
      {"a\xC3", u"a\uFFFD"},                     // truncated sequence at the end
      {"\xC0\xAF", u"\uFFFD\uFFFD"},             // overlong '/'
      {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},   // overlong three-byte form
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},   // encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // past U+10FFFF
      {"\xE2\x82x", u"\uFFFDx"},                 // broken in the middle, next byte kept
      {"\xFF", u"\uFFFD"},
      {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},  // embedded NUL is data
  };
  for (const Case& c : cases) EXPECT_EQ(reel::Utf8ToUtf16(c.input), c.expected) << testing::PrintToString(c.input);
}

TEST(Strings, LoneSurrogatesBecomeReplacementCharacters) {
  EXPECT_EQ(reel::Utf16ToUtf8(std::u16string(u"x") + char16_t(0xD800)), "x\xEF\xBF\xBD");
  EXPECT_EQ(reel::Utf16ToUtf8(std::u16string(1, char16_t(0xDC00)) + u"y"), "\xEF\xBF\xBDy");
  EXPECT_EQ(reel::Utf16ToUtf8(static_cast<const WCHAR*>(nullptr)), "");
}

TEST(Bstr, CarriesItsByteLengthAndATerminator) {
  BSTR text = SysAllocString(u"abc");
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(SysStringLen(text), 3u);
  EXPECT_EQ(SysStringByteLen(text), 6u);
  std::uint32_t prefix;
  std::memcpy(&prefix, reinterpret_cast<const char*>(text) - 4, 4);
  EXPECT_EQ(prefix, 6u);
  EXPECT_EQ(text[3], 0);
  // Embedded NULs are part of a length-given string.
  BSTR embedded = SysAllocStringLen(u"a\0b", 3);
  EXPECT_EQ(SysStringLen(embedded), 3u);
  EXPECT_EQ(reel::Utf8FromBstr(embedded), std::string("a\0b", 3));
  // An odd byte count.
  BSTR bytes = SysAllocStringByteLen("xyz", 3);
  EXPECT_EQ(SysStringByteLen(bytes), 3u);
  EXPECT_EQ(SysStringLen(bytes), 1u);
  // Reallocating from its own contents.
  EXPECT_TRUE(SysReAllocString(&text, text + 1));
  EXPECT_EQ(std::u16string(text), u"bc");
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysAllocStringLen(nullptr, 0xFFFFFFFFu), nullptr);  // too large: refused, not wrapped
  SysFreeString(nullptr);
  SysFreeString(text);
  SysFreeString(embedded);
  SysFreeString(bytes);
}

TEST(Bstr, OwningWrapperConvertsUtf8) {
  reel::Bstr name("Caf\xC3\xA9");
  EXPECT_EQ(name.Length(), 4u);
  EXPECT_EQ(name.View(), u"Caf\u00E9");
  reel::Bstr copy = name;
  EXPECT_NE(copy.Get(), name.Get());
  EXPECT_EQ(copy.Utf8(), "Caf\xC3\xA9");
  BSTR* slot = &copy;  // releases the copy, ready for an out-parameter
  EXPECT_EQ(*slot, nullptr);
  *slot = SysAllocString(u"new");
  EXPECT_EQ(copy.Utf8(), "new");
  reel::Bstr empty;
  EXPECT_TRUE(empty.Empty());
  EXPECT_EQ(empty.Utf8(), "");
}

}  // namespace
