// Text laid out with pango and drawn with cairo. Font names go through
// fontconfig, which maps the usual Windows names onto metric-compatible
// fonts ("Arial" to Liberation Sans); a name that fontconfig neither has
// nor aliases to an installed font does not exist, as on Windows.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

typedef struct _cairo cairo_t;
typedef struct _PangoFontMap PangoFontMap;
typedef struct _PangoContext PangoContext;
typedef struct _PangoLayout PangoLayout;
typedef struct _PangoFontDescription PangoFontDescription;

namespace reel {

// Font style bits, as GDI+ numbers them.
enum FontStyleBits : int {
  kFontRegular = 0,
  kFontBold = 1,
  kFontItalic = 2,
  kFontUnderline = 4,
  kFontStrikeout = 8,
};

// Whether `family` names an installed font family or an alias that
// fontconfig binds strongly to one (not merely a fallback).
bool FontFamilyExists(const std::string& family);

// A font: family, size in pixels (the em height) and style bits.
class TextFont {
 public:
  // Null when the family does not exist or the size is not positive.
  static std::shared_ptr<const TextFont> Create(const std::string& family, double pixelSize, int style);
  ~TextFont();
  TextFont(const TextFont&) = delete;
  TextFont& operator=(const TextFont&) = delete;

  const std::string& Family() const { return family_; }
  double PixelSize() const { return pixelSize_; }
  int Style() const { return style_; }
  const PangoFontDescription* Description() const { return description_; }

 private:
  TextFont(std::string family, double pixelSize, int style, PangoFontDescription* description);
  std::string family_;
  double pixelSize_;
  int style_;
  PangoFontDescription* description_;
};

// A rectangle in pixels relative to the layout's origin (its top-left).
struct TextBox {
  double x = 0, y = 0, width = 0, height = 0;
};

// One piece of text in one font, laid out once and drawn as often as
// needed. Not thread-safe: one owner uses it at a time.
class TextLayout {
 public:
  TextLayout();
  ~TextLayout();
  TextLayout(const TextLayout&) = delete;
  TextLayout& operator=(const TextLayout&) = delete;

  // Both are cheap when nothing changes, so callers may set them per frame.
  void SetFont(const std::shared_ptr<const TextFont>& font);
  void SetText(const std::string& utf8);

  // Lines break only at line feeds.
  TextBox LogicalBox() const;  // the advance box: what text measurement reports
  TextBox InkBox() const;      // the pixels the glyphs actually cover

  // Draws the text with its origin at (x, y) in a colour packed as
  // alpha << 24 | red << 16 | green << 8 | blue.
  void Draw(cairo_t* cairo, double x, double y, std::uint32_t argb) const;

 private:
  PangoFontMap* fontMap_ = nullptr;
  PangoContext* context_ = nullptr;
  PangoLayout* layout_ = nullptr;
  std::shared_ptr<const TextFont> font_;
  std::string text_;
};

// Sets a cairo source colour packed as alpha << 24 | red << 16 | green << 8 | blue.
void SetSourceArgb(cairo_t* cairo, std::uint32_t argb);

}  // namespace reel
