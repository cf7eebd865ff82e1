// The per-frame work of the overlay filter: pick the one item whose time
// window holds the frame, work out its fade, draw it straight into the
// frame (text with its box and shadow, or a colour-keyed picture) and move
// scrolling text on for the next frame.
#pragma once

#include <map>
#include <string>

#include "overlayfilter/OverlaySettings.h"
#include "platform/dshow/DShowTypes.h"
#include "platform/gdiplus/DibPicture.h"
#include "platform/gdiplus/DrawingLayer.h"
#include "platform/gdiplus/ImageFile.h"
#include "platform/gdiplus/TextLayout.h"

namespace reel::overlay {

// The layout of the frames, from the connected type's BITMAPINFOHEADER.
struct FrameFormat {
  int width = 0;
  int height = 0;  // as in the header: positive for bottom-up rows
  int bitCount = 0;  // 24 or 32
};

// The item shown at `seconds`: the smallest id whose window holds it
// strictly (start < seconds < end); null when none does.
OverlayItem* ActiveItem(std::map<int, OverlayItem>& items, double seconds, int* id);

// 1 without fade; with fade the distance in seconds to the nearer end of
// the window, at most 1.
double FadeFactor(const OverlayItem& item, double seconds);

// An alpha scaled by the fade factor (truncated), the colour kept.
std::uint32_t FadeColour(std::uint32_t argb, double factor);

class OverlayPainter {
 public:
  // Draws into one frame of `length` bytes. `startTime` is the sample's
  // start in 100-ns units, or null when the sample has none. E_POINTER when
  // an item is due but no frame format is known; S_OK otherwise, also when
  // nothing was drawn.
  HRESULT DrawFrame(OverlaySettings& settings, const FrameFormat* format, BYTE* data, std::size_t length,
                    const REFERENCE_TIME* startTime);

 private:
  // A picture read from its file and keyed, kept while the file stays the
  // same, so that frames do not read and key it again.
  struct FileStamp {
    unsigned long long device = 0, inode = 0, size = 0;
    long long seconds = 0, nanoseconds = 0;
    bool operator==(const FileStamp&) const = default;
  };
  struct KeyedPicture {
    std::string path;
    int keyRed = 0, keyGreen = 0, keyBlue = 0;
    FileStamp stamp;
    bool loaded = false;  // false: the file could not be read as a picture
    RgbaPicture picture;  // alpha 0 for the key colour, 255 elsewhere
  };

  void DrawTextItem(OverlaySettings& settings, OverlayItem& item, const DibView& frame, double factor);
  void MoveText(OverlaySettings& settings, OverlayItem& item, int frameWidth, int frameHeight);
  void DrawImageItem(int id, const OverlayItem& item, const DibView& frame, double factor);
  const KeyedPicture* PictureFor(int id, const OverlayItem& item);
  void ForgetRemovedPictures(const std::map<int, OverlayItem>& items);

  TextLayout layout_;
  DrawingLayer layer_;
  double lastWidth_ = 0, lastHeight_ = 0;  // measured text box of this frame
  std::map<int, KeyedPicture> pictures_;   // by item id
};

}  // namespace reel::overlay
