// What the overlay filter draws: the timed items and the text settings
// they share. Settings arrive on the host's thread while frames are drawn
// on the streaming thread; `lock` guards everything below it, and the
// three motion values are single words read once per frame without it.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "platform/dshow/StreamSync.h"
#include "platform/gdiplus/TextLayout.h"

namespace reel::overlay {

enum ItemKind : int { kTextItem = 0, kImageItem = 1 };

enum ScrollDirection : int { kScrollUp = 0, kScrollDown = 1, kScrollLeft = 2, kScrollRight = 3 };

// Motion modes: 0 draws nothing, 1 scrolls, anything else is fixed text.
inline constexpr int kMotionOff = 0;
inline constexpr int kMotionScrolling = 1;

struct OverlayItem {
  std::string text;         // UTF-8
  std::string stackedText;  // text with a line feed after each character
  std::string imagePath;    // UTF-8
  double start = 0;         // seconds of stream time; shown strictly between
  double end = 0;
  bool fade = false;  // fade in over the first second and out over the last
  int kind = kTextItem;
  int imageX = 0, imageY = 0;
  int keyRed = 0, keyGreen = 0, keyBlue = 0;  // only the low bytes are compared
  int textX = 0, textY = 0;                   // moved by scrolling
};

// Each character (code point) of text followed by a line feed, so the
// text reads downwards one character per line.
std::string StackedText(const std::string& utf8);

// alpha << 24 | red << 16 | green << 8 | blue, each from its low byte.
std::uint32_t PackColour(int red, int green, int blue, int alpha);

struct OverlaySettings {
  OverlaySettings();

  // The font as the settings call names it; a family that does not exist
  // leaves no font, and text items are then not drawn.
  void SetFont(const std::string& family, int size, int style);
  // The new item's id: 0 for the first, else one more than the largest id
  // present; -1 when the ids are exhausted.
  int AddItem(OverlayItem item);
  void RemoveItem(int id);

  std::atomic<int> scrollSpeed{4};
  std::atomic<int> scrollDirection{kScrollUp};
  std::atomic<int> motionMode{kMotionScrolling};

  CCritSec lock;
  int shadow = 0;  // 1 draws a drop shadow
  std::shared_ptr<const TextFont> font;
  std::uint32_t textColour = 0xFFFFFFFF;
  std::uint32_t backgroundColour = 0xFFFF0000;
  std::map<int, OverlayItem> items;
};

}  // namespace reel::overlay
