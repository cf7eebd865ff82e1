#include "platform/com/GuidStrings.h"

#include <cstring>

#include "platform/com/TaskMemory.h"
#include "platform/win/Strings.h"

namespace {
std::optional<GUID> ParseWide(LPCOLESTR text) {
  if (!text) return std::nullopt;
  // A GUID is ASCII; anything longer than its 38 characters is not one.
  std::size_t length = 0;
  while (length <= 38 && text[length]) ++length;
  if (length != 38) return std::nullopt;
  return reel::GuidFromString(reel::Utf16ToUtf8(std::u16string_view(text, length)));
}

HRESULT AllocateText(REFGUID guid, LPOLESTR* text) {
  if (!text) return E_INVALIDARG;
  *text = static_cast<LPOLESTR>(CoTaskMemAlloc(39 * sizeof(OLECHAR)));
  if (!*text) return E_OUTOFMEMORY;
  StringFromGUID2(guid, *text, 39);
  return S_OK;
}
}  // namespace

HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid) {
  if (!clsid) return E_INVALIDARG;
  auto parsed = ParseWide(text);
  if (!parsed) return CO_E_CLASSSTRING;
  *clsid = *parsed;
  return S_OK;
}

HRESULT IIDFromString(LPCOLESTR text, LPIID iid) {
  if (!iid) return E_INVALIDARG;
  auto parsed = ParseWide(text);
  if (!parsed) return E_INVALIDARG;
  *iid = *parsed;
  return S_OK;
}

int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int capacity) {
  if (!buffer || capacity < 39) return 0;
  const std::string text = reel::GuidToString(guid);
  for (std::size_t index = 0; index < text.size(); ++index) buffer[index] = static_cast<OLECHAR>(text[index]);
  buffer[text.size()] = 0;
  return static_cast<int>(text.size() + 1);
}

HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text) { return AllocateText(clsid, text); }
HRESULT StringFromIID(REFIID iid, LPOLESTR* text) { return AllocateText(iid, text); }
