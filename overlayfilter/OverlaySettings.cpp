#include "overlayfilter/OverlaySettings.h"

#include <climits>

namespace reel::overlay {

std::string StackedText(const std::string& utf8) {
  std::string stacked;
  stacked.reserve(utf8.size() * 2);
  for (std::size_t index = 0; index < utf8.size();) {
    // A character is a lead byte and its continuation bytes.
    std::size_t next = index + 1;
    while (next < utf8.size() && (static_cast<unsigned char>(utf8[next]) & 0xC0) == 0x80) ++next;
    stacked.append(utf8, index, next - index);
    stacked.push_back('\n');
    index = next;
  }
  return stacked;
}

std::uint32_t PackColour(int red, int green, int blue, int alpha) {
  return (static_cast<std::uint32_t>(alpha) & 0xFF) << 24 | (static_cast<std::uint32_t>(red) & 0xFF) << 16 |
         (static_cast<std::uint32_t>(green) & 0xFF) << 8 | (static_cast<std::uint32_t>(blue) & 0xFF);
}

OverlaySettings::OverlaySettings() { font = TextFont::Create("Arial", 24, kFontBold); }

void OverlaySettings::SetFont(const std::string& family, int size, int style) {
  // Looked up before taking the lock: fontconfig may take a while, and
  // frames need not wait for it.
  std::shared_ptr<const TextFont> created = TextFont::Create(family, size, style);
  CAutoLock hold(&lock);
  font = std::move(created);
}

int OverlaySettings::AddItem(OverlayItem item) {
  CAutoLock hold(&lock);
  int id = 0;
  if (!items.empty()) {
    int largest = items.rbegin()->first;
    if (largest == INT_MAX) return -1;
    id = largest + 1;
  }
  items.emplace(id, std::move(item));
  return id;
}

void OverlaySettings::RemoveItem(int id) {
  CAutoLock hold(&lock);
  items.erase(id);
}

}  // namespace reel::overlay
