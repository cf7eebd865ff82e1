// BSTR: a UTF-16 string preceded by its length in bytes (4 bytes) and ended by
// a NUL, allocated and freed only through the Sys* functions. A null BSTR is
// the empty string.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "platform/win/WinTypes.h"

using BSTR = OLECHAR*;

BSTR SysAllocString(const OLECHAR* text);
// length characters from text (text may be null: the characters are zeroed).
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
// length bytes from bytes (may be null), an odd count allowed.
BSTR SysAllocStringByteLen(LPCSTR bytes, UINT length);
// Replace *target by a copy of text; FALSE (and *target kept) on failure.
INT SysReAllocString(BSTR* target, const OLECHAR* text);
INT SysReAllocStringLen(BSTR* target, const OLECHAR* text, UINT length);
void SysFreeString(BSTR text);
UINT SysStringLen(BSTR text);
UINT SysStringByteLen(BSTR text);

namespace reel {

BSTR BstrFromUtf8(std::string_view utf8);
std::string Utf8FromBstr(BSTR text);

// An owning BSTR.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(std::string_view utf8) : text_(BstrFromUtf8(utf8)) {}
  explicit Bstr(const OLECHAR* text) : text_(SysAllocString(text)) {}
  Bstr(const Bstr& other) : text_(other.Copy()) {}
  Bstr(Bstr&& other) noexcept : text_(std::exchange(other.text_, nullptr)) {}
  Bstr& operator=(Bstr other) noexcept {
    std::swap(text_, other.text_);
    return *this;
  }
  ~Bstr() { SysFreeString(text_); }

  BSTR Get() const { return text_; }
  // Releases what is held and gives the slot for an out-parameter.
  BSTR* operator&() {
    Reset();
    return &text_;
  }
  void Reset() { SysFreeString(std::exchange(text_, nullptr)); }
  void Attach(BSTR text) {
    Reset();
    text_ = text;
  }
  [[nodiscard]] BSTR Detach() { return std::exchange(text_, nullptr); }
  // A new BSTR with the same contents, owned by the caller.
  BSTR Copy() const;
  UINT Length() const { return SysStringLen(text_); }
  bool Empty() const { return Length() == 0; }
  std::string Utf8() const { return Utf8FromBstr(text_); }
  std::u16string_view View() const { return {text_ ? text_ : u"", Length()}; }

 private:
  BSTR text_ = nullptr;
};

}  // namespace reel
