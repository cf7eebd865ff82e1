#include "platform/com/Bstr.h"

#include <cstring>

#include "platform/com/TaskMemory.h"
#include "platform/win/Strings.h"

namespace {

// Larger strings are refused rather than overflowing the byte-length prefix.
constexpr std::size_t kLargestByteLength = 0x7FFFFFF0;

std::uint32_t* PrefixOf(BSTR text) { return reinterpret_cast<std::uint32_t*>(text) - 1; }

BSTR AllocateBytes(const void* bytes, std::size_t byteLength) {
  if (byteLength > kLargestByteLength) return nullptr;
  // Prefix, contents, and a whole NUL character even after an odd byte count.
  auto* block = static_cast<BYTE*>(CoTaskMemAlloc(sizeof(std::uint32_t) + byteLength + sizeof(OLECHAR) + 1));
  if (!block) return nullptr;
  const auto prefix = static_cast<std::uint32_t>(byteLength);
  std::memcpy(block, &prefix, sizeof prefix);
  BYTE* contents = block + sizeof prefix;
  if (bytes)
    std::memcpy(contents, bytes, byteLength);
  else
    std::memset(contents, 0, byteLength);
  std::memset(contents + byteLength, 0, sizeof(OLECHAR) + 1);
  return reinterpret_cast<BSTR>(contents);
}

std::size_t WideLength(const OLECHAR* text) { return reel::WideLength(text); }

}  // namespace

BSTR SysAllocString(const OLECHAR* text) {
  if (!text) return nullptr;
  return AllocateBytes(text, WideLength(text) * sizeof(OLECHAR));
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  if (length > kLargestByteLength / sizeof(OLECHAR)) return nullptr;
  return AllocateBytes(text, std::size_t{length} * sizeof(OLECHAR));
}

BSTR SysAllocStringByteLen(LPCSTR bytes, UINT length) { return AllocateBytes(bytes, length); }

INT SysReAllocString(BSTR* target, const OLECHAR* text) {
  if (!target) return FALSE;
  return SysReAllocStringLen(target, text, static_cast<UINT>(WideLength(text)));
}

INT SysReAllocStringLen(BSTR* target, const OLECHAR* text, UINT length) {
  if (!target) return FALSE;
  // The source may lie inside *target, so copy before freeing.
  BSTR replacement = SysAllocStringLen(text, length);
  if (!replacement) return FALSE;
  SysFreeString(*target);
  *target = replacement;
  return TRUE;
}

void SysFreeString(BSTR text) {
  if (text) CoTaskMemFree(PrefixOf(text));
}

UINT SysStringByteLen(BSTR text) { return text ? *PrefixOf(text) : 0; }

UINT SysStringLen(BSTR text) { return SysStringByteLen(text) / sizeof(OLECHAR); }

namespace reel {

BSTR BstrFromUtf8(std::string_view utf8) {
  const std::u16string wide = Utf8ToUtf16(utf8);
  return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

std::string Utf8FromBstr(BSTR text) {
  if (!text) return {};
  return Utf16ToUtf8(std::u16string_view(text, SysStringLen(text)));
}

BSTR Bstr::Copy() const {
  if (!text_) return nullptr;
  return SysAllocStringByteLen(reinterpret_cast<LPCSTR>(text_), SysStringByteLen(text_));
}

}  // namespace reel
