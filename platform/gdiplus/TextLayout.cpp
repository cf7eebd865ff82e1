#include "platform/gdiplus/TextLayout.h"

#include <cairo.h>
#include <fontconfig/fontconfig.h>
#include <pango/pangocairo.h>
#include <strings.h>

#include <new>

namespace reel {

namespace {

bool SameFamily(const FcChar8* a, const std::string& b) {
  return a && strcasecmp(reinterpret_cast<const char*>(a), b.c_str()) == 0;
}

}  // namespace

bool FontFamilyExists(const std::string& family) {
  if (family.empty() || !FcInit()) return false;
  FcPattern* pattern = FcPatternCreate();
  if (!pattern) return false;
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, pattern, &result);
  bool exists = false;
  FcChar8* matched = nullptr;
  if (match && FcPatternGetString(match, FC_FAMILY, 0, &matched) == FcResultMatch) {
    // The name itself and its strong aliases are bound strongly; generic
    // fallbacks that fontconfig appends for any name are weak.
    FcValue value;
    FcValueBinding binding;
    for (int index = 0; !exists && FcPatternGetWithBinding(pattern, FC_FAMILY, index, &value, &binding) ==
                                       FcResultMatch;
         ++index) {
      if (value.type != FcTypeString || binding == FcValueBindingWeak) continue;
      exists = SameFamily(matched, reinterpret_cast<const char*>(value.u.s));
    }
  }
  if (match) FcPatternDestroy(match);
  FcPatternDestroy(pattern);
  return exists;
}

TextFont::TextFont(std::string family, double pixelSize, int style, PangoFontDescription* description)
    : family_(std::move(family)), pixelSize_(pixelSize), style_(style), description_(description) {}

TextFont::~TextFont() { pango_font_description_free(description_); }

std::shared_ptr<const TextFont> TextFont::Create(const std::string& family, double pixelSize, int style) {
  // Pango sizes are integers in 1/1024 pixel; beyond this they overflow.
  if (!(pixelSize > 0) || pixelSize > 100000 || !FontFamilyExists(family)) return nullptr;
  PangoFontDescription* description = pango_font_description_new();
  if (!description) return nullptr;
  pango_font_description_set_family(description, family.c_str());
  pango_font_description_set_absolute_size(description, pixelSize * PANGO_SCALE);
  pango_font_description_set_weight(description, (style & kFontBold) ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
  pango_font_description_set_style(description, (style & kFontItalic) ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
  TextFont* font = new (std::nothrow) TextFont(family, pixelSize, style, description);
  if (!font) {
    pango_font_description_free(description);
    return nullptr;
  }
  return std::shared_ptr<const TextFont>(font);
}

TextLayout::TextLayout() {
  // A font map of our own: pango's default one belongs to a thread.
  fontMap_ = pango_cairo_font_map_new();
  context_ = pango_font_map_create_context(fontMap_);
  // Grey-scale anti-aliasing without hinting, so text looks and measures
  // the same at every position.
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
  cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
  pango_cairo_context_set_font_options(context_, options);
  cairo_font_options_destroy(options);
  layout_ = pango_layout_new(context_);
  pango_layout_set_width(layout_, -1);
}

TextLayout::~TextLayout() {
  if (layout_) g_object_unref(layout_);
  if (context_) g_object_unref(context_);
  if (fontMap_) g_object_unref(fontMap_);
}

void TextLayout::SetFont(const std::shared_ptr<const TextFont>& font) {
  if (font == font_) return;
  font_ = font;
  pango_layout_set_font_description(layout_, font_ ? font_->Description() : nullptr);
  PangoAttrList* attributes = pango_attr_list_new();
  if (font_ && (font_->Style() & kFontUnderline))
    pango_attr_list_insert(attributes, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
  if (font_ && (font_->Style() & kFontStrikeout))
    pango_attr_list_insert(attributes, pango_attr_strikethrough_new(TRUE));
  pango_layout_set_attributes(layout_, attributes);
  pango_attr_list_unref(attributes);
}

void TextLayout::SetText(const std::string& utf8) {
  if (utf8 == text_) return;
  text_ = utf8;
  pango_layout_set_text(layout_, text_.data(), static_cast<int>(text_.size()));
}

namespace {
TextBox ToBox(const PangoRectangle& rectangle) {
  return {static_cast<double>(rectangle.x) / PANGO_SCALE, static_cast<double>(rectangle.y) / PANGO_SCALE,
          static_cast<double>(rectangle.width) / PANGO_SCALE, static_cast<double>(rectangle.height) / PANGO_SCALE};
}
}  // namespace

TextBox TextLayout::LogicalBox() const {
  PangoRectangle logical{};
  pango_layout_get_extents(layout_, nullptr, &logical);
  return ToBox(logical);
}

TextBox TextLayout::InkBox() const {
  PangoRectangle ink{};
  pango_layout_get_extents(layout_, &ink, nullptr);
  return ToBox(ink);
}

void TextLayout::Draw(cairo_t* cairo, double x, double y, std::uint32_t argb) const {
  if (!cairo || text_.empty()) return;
  SetSourceArgb(cairo, argb);
  cairo_move_to(cairo, x, y);
  pango_cairo_show_layout(cairo, layout_);
}

void SetSourceArgb(cairo_t* cairo, std::uint32_t argb) {
  cairo_set_source_rgba(cairo, ((argb >> 16) & 0xFF) / 255.0, ((argb >> 8) & 0xFF) / 255.0, (argb & 0xFF) / 255.0,
                        (argb >> 24) / 255.0);
}

}  // namespace reel
