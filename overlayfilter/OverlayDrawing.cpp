#include "overlayfilter/OverlayDrawing.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace reel::overlay {

namespace {

// The drop shadow lies this far right of and below the text.
constexpr int kShadowOffset = 5;

struct Area {
  double left = 0, top = 0, right = 0, bottom = 0;
  bool empty = true;
  void Add(double x, double y, double width, double height) {
    if (!(width > 0) || !(height > 0)) return;
    if (empty) {
      *this = {x, y, x + width, y + height, false};
      return;
    }
    left = std::min(left, x);
    top = std::min(top, y);
    right = std::max(right, x + width);
    bottom = std::max(bottom, y + height);
  }
};

int ClampToInt(long long value) { return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX)); }

}  // namespace

OverlayItem* ActiveItem(std::map<int, OverlayItem>& items, double seconds, int* id) {
  for (auto& [itemId, item] : items) {
    if (item.start < seconds && seconds < item.end) {
      if (id) *id = itemId;
      return &item;
    }
  }
  return nullptr;
}

double FadeFactor(const OverlayItem& item, double seconds) {
  if (!item.fade) return 1.0;
  return std::min({seconds - item.start, item.end - seconds, 1.0});
}

std::uint32_t FadeColour(std::uint32_t argb, double factor) {
  auto alpha = static_cast<std::uint32_t>((argb >> 24) * factor);
  return std::min<std::uint32_t>(alpha, 255) << 24 | (argb & 0x00FFFFFF);
}

HRESULT OverlayPainter::DrawFrame(OverlaySettings& settings, const FrameFormat* format, BYTE* data,
                                  std::size_t length, const REFERENCE_TIME* startTime) {
  if (settings.motionMode.load() == kMotionOff) return S_OK;
  // Without a start time the frame has no place in the items' windows, so
  // it passes untouched and scrolling text does not move.
  if (!startTime) return S_OK;
  const double seconds = static_cast<double>(*startTime) * 1e-7;

  CAutoLock hold(&settings.lock);
  int id = -1;
  OverlayItem* item = ActiveItem(settings.items, seconds, &id);
  if (!item) return S_OK;
  if (!format || format->width <= 0 || format->height == 0) return E_POINTER;
  const double factor = FadeFactor(*item, seconds);

  DibView frame;
  frame.bits = data;
  frame.width = format->width;
  frame.height = std::abs(format->height);
  frame.bytesPerPixel = format->bitCount / 8;
  frame.bottomUp = format->height > 0;
  frame.size = std::min(length, frame.Stride() * static_cast<std::size_t>(frame.height));

  if (item->kind == kTextItem) {
    DrawTextItem(settings, *item, frame, factor);
  } else if (item->kind == kImageItem) {
    DrawImageItem(id, *item, frame, factor);
    ForgetRemovedPictures(settings.items);
  }
  return S_OK;
}

void OverlayPainter::DrawTextItem(OverlaySettings& settings, OverlayItem& item, const DibView& frame,
                                  double factor) {
  const int direction = settings.scrollDirection.load();
  // Up and down scroll the text stacked one character per line, also when
  // the text stays in place.
  const std::string& text = (direction == kScrollUp || direction == kScrollDown) ? item.stackedText : item.text;
  lastWidth_ = lastHeight_ = 0;
  if (settings.font) {
    layout_.SetFont(settings.font);
    layout_.SetText(text);
    const TextBox logical = layout_.LogicalBox();
    const TextBox ink = layout_.InkBox();
    lastWidth_ = logical.width;
    lastHeight_ = logical.height;
    const double x = item.textX, y = item.textY;
    const bool shadow = settings.shadow == 1;

    Area area;
    area.Add(x + logical.x, y + logical.y, logical.width, logical.height);
    area.Add(x + ink.x, y + ink.y, ink.width, ink.height);
    if (shadow) area.Add(x + kShadowOffset + ink.x, y + kShadowOffset + ink.y, ink.width, ink.height);
    const int left = static_cast<int>(std::max(0.0, std::floor(area.left)));
    const int top = static_cast<int>(std::max(0.0, std::floor(area.top)));
    const int right = static_cast<int>(std::min<double>(frame.width, std::ceil(area.right)));
    const int bottom = static_cast<int>(std::min<double>(frame.height, std::ceil(area.bottom)));
    if (!area.empty && left < right && top < bottom && layer_.Begin(left, top, right - left, bottom - top)) {
      const std::uint32_t background = FadeColour(settings.backgroundColour, factor);
      layer_.FillRectangle(x + logical.x, y + logical.y, logical.width, logical.height, background);
      // The shadow is black, as transparent as the box behind the text.
      if (shadow) layer_.DrawText(layout_, x + kShadowOffset, y + kShadowOffset, background & 0xFF000000);
      layer_.DrawText(layout_, x, y, FadeColour(settings.textColour, factor));
      layer_.BlendOnto(frame);
    }
  }
  MoveText(settings, item, frame.width, frame.height);
}

void OverlayPainter::MoveText(OverlaySettings& settings, OverlayItem& item, int frameWidth, int frameHeight) {
  if (settings.motionMode.load() != kMotionScrolling) return;
  const int direction = settings.scrollDirection.load();
  const long long step = settings.scrollSpeed.load();
  long long x = item.textX, y = item.textY;
  switch (direction) {
    case kScrollUp: y -= step; break;
    case kScrollDown: y += step; break;
    case kScrollLeft: x -= step; break;
    case kScrollRight: x += step; break;
    default: break;
  }
  // Text that has left the frame comes back in at the other side.
  if (x < -lastWidth_) x = frameWidth;
  else if (x > frameWidth) x = static_cast<long long>(-lastWidth_);
  if (y < -lastHeight_) y = frameHeight;
  else if (y > frameHeight) y = static_cast<long long>(-lastHeight_);
  item.textX = ClampToInt(x);
  item.textY = ClampToInt(y);
}

void OverlayPainter::DrawImageItem(int id, const OverlayItem& item, const DibView& frame, double factor) {
  const KeyedPicture* keyed = PictureFor(id, item);
  if (!keyed || !keyed->loaded) return;  // an unreadable file draws nothing
  const RgbaPicture& picture = keyed->picture;
  BlendStraightRgba(frame, picture.pixels.data(), picture.Stride(), picture.width, picture.height, item.imageX,
                    item.imageY, static_cast<int>(255 * factor));
}

const OverlayPainter::KeyedPicture* OverlayPainter::PictureFor(int id, const OverlayItem& item) {
  struct stat status {};
  if (::stat(item.imagePath.c_str(), &status) != 0) {
    pictures_.erase(id);
    return nullptr;
  }
  FileStamp stamp{static_cast<unsigned long long>(status.st_dev), static_cast<unsigned long long>(status.st_ino),
                  static_cast<unsigned long long>(status.st_size), static_cast<long long>(status.st_mtim.tv_sec),
                  static_cast<long long>(status.st_mtim.tv_nsec)};
  KeyedPicture& cached = pictures_[id];
  if (cached.stamp == stamp && cached.path == item.imagePath && cached.keyRed == item.keyRed &&
      cached.keyGreen == item.keyGreen && cached.keyBlue == item.keyBlue)
    return &cached;

  cached.path = item.imagePath;
  cached.keyRed = item.keyRed;
  cached.keyGreen = item.keyGreen;
  cached.keyBlue = item.keyBlue;
  cached.stamp = stamp;
  cached.loaded = LoadImageFile(item.imagePath, &cached.picture);
  if (!cached.loaded) {
    cached.picture = RgbaPicture();
    return &cached;
  }
  // The picture's own transparency is replaced: pixels fully transparent
  // in the file turn black, then the key colour becomes transparent and
  // everything else opaque.
  const auto red = static_cast<std::uint8_t>(item.keyRed & 0xFF);
  const auto green = static_cast<std::uint8_t>(item.keyGreen & 0xFF);
  const auto blue = static_cast<std::uint8_t>(item.keyBlue & 0xFF);
  std::uint8_t* pixel = cached.picture.pixels.data();
  std::uint8_t* const end = pixel + cached.picture.pixels.size();
  for (; pixel + 4 <= end; pixel += 4) {
    if (pixel[3] == 0) pixel[0] = pixel[1] = pixel[2] = 0;
    pixel[3] = (pixel[0] == red && pixel[1] == green && pixel[2] == blue) ? 0 : 255;
  }
  return &cached;
}

void OverlayPainter::ForgetRemovedPictures(const std::map<int, OverlayItem>& items) {
  for (auto entry = pictures_.begin(); entry != pictures_.end();) {
    auto item = items.find(entry->first);
    if (item == items.end() || item->second.kind != kImageItem) entry = pictures_.erase(entry);
    else ++entry;
  }
}

}  // namespace reel::overlay
