// skinart: draws the bitmaps of a bundled skin.
//
//   skinart ART.ini FOLDER
//
// FOLDER holds the skin's layout files (Skin.ini, ConvertSkin.ini). ART.ini
// gives the skin's look: its colours, its window shape and the texts and
// glyphs of its buttons. Every bitmap a layout names is drawn at the size its
// element needs and written into FOLDER as a 24-bit BMP. Buttons, options and
// the icon are drawn over the background under them, so their edges blend
// into the window; only the window's outline and the slider thumb use the
// transparent colour.
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>
#include <iostream>
#include <map>
#include <set>
#include <string>

#include "app/skin/SkinLayout.h"

namespace {

using skin::LayoutFile;
using skin::SplitTokens;

QColor ColourOf(std::uint32_t rgb) { return QColor::fromRgb(0xFF000000u | (rgb & 0xFFFFFFu)); }

QRect RectOf(const std::vector<std::string>& tokens, std::size_t first) {
  const RECT edges = skin::RectTokens(tokens, first);
  return QRect(edges.left, edges.top, edges.right - edges.left, edges.bottom - edges.top);
}

class Art {
 public:
  Art(const std::string& artFile, const std::string& folder) : m_art(artFile), m_folder(folder) {}

  bool Run();

 private:
  QColor Theme(const char* key, const char* fallback) const {
    std::string value = m_art.Value("THEME", key);
    if (value.empty()) value = fallback;
    return ColourOf(skin::ColourToken(value));
  }
  int ThemeNumber(const char* key, int fallback) const {
    const std::string value = m_art.Value("THEME", key);
    return value.empty() ? fallback : skin::IntegerToken(value);
  }
  QFont Font(int pixels, bool bold) const {
    std::string face = m_art.Value("THEME", "FONT");
    QFont font(QString::fromStdString(face.empty() ? "Liberation Sans" : face));
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
  }
  bool Save(const std::string& file, const QImage& image);
  QImage DrawBackground(const QSize& size, const LayoutFile& layout, const char* panelSection);
  QImage DrawStrip(const QImage& background, const QRect& area, const std::string& name, bool option);
  void DrawGlyph(QPainter& painter, const QRectF& area, const std::string& glyph, const QColor& colour);
  void DrawLayout(const std::string& layoutFile, const char* sizeSection, const char* panelSection);

  LayoutFile m_art;
  std::string m_folder;
  std::map<std::string, QSize> m_drawn;
  bool m_bOk = true;
};

bool Art::Save(const std::string& file, const QImage& image) {
  if (file.empty()) return true;
  // Elements may share a bitmap (the lists' scroll bars do), but one name
  // must not stand for two different pictures.
  const auto drawn = m_drawn.find(file);
  if (drawn != m_drawn.end()) {
    if (drawn->second == image.size()) return true;
    std::cerr << "skinart: " << file << " is named for two bitmaps of different sizes\n";
    m_bOk = false;
    return false;
  }
  m_drawn.emplace(file, image.size());
  const QString path = QString::fromStdString(m_folder + "/" + file);
  if (!image.convertToFormat(QImage::Format_RGB888).save(path, "BMP")) {
    std::cerr << "skinart: cannot write " << path.toStdString() << "\n";
    m_bOk = false;
    return false;
  }
  return true;
}

// The window: the transparent colour outside its outline, a gradient body, a
// title band, and recessed panels behind the layout's groups.
QImage Art::DrawBackground(const QSize& size, const LayoutFile& layout, const char* panelSection) {
  const QColor transparent = ColourOf(skin::ColourToken(layout.Value("COLOR", "TRANSPARENT")));
  QImage image(size, QImage::Format_RGB32);
  image.fill(transparent);
  QPainter painter(&image);

  const int corner = ThemeNumber("CORNER", 14);
  const std::string shape = m_art.Value("THEME", "SHAPE");
  QPainterPath outline;
  const QRectF body(0, 0, size.width(), size.height());
  if (shape == "chamfer") {
    // Cut corners and a raised tab along the top for the title.
    const double c = corner;
    const double tab = ThemeNumber("TAB", 0);
    const double tabLeft = size.width() * 0.25;
    const double tabRight = size.width() * 0.75;
    QPolygonF polygon;
    polygon << QPointF(c, tab) << QPointF(tabLeft - tab, tab) << QPointF(tabLeft, 0) << QPointF(tabRight, 0)
            << QPointF(tabRight + tab, tab) << QPointF(size.width() - c, tab) << QPointF(size.width(), tab + c)
            << QPointF(size.width(), size.height() - c) << QPointF(size.width() - c, size.height())
            << QPointF(c, size.height()) << QPointF(0, size.height() - c) << QPointF(0, tab + c);
    outline.addPolygon(polygon);
    outline.closeSubpath();
  } else {
    outline.addRoundedRect(body, corner, corner);
  }
  // The outline is drawn without smoothing: its edge pixels must be either
  // the transparent colour or the window's, never a blend of the two.
  painter.setRenderHint(QPainter::Antialiasing, false);
  QLinearGradient fill(0, 0, 0, size.height());
  fill.setColorAt(0, Theme("WINDOW", "0x2A3A55"));
  fill.setColorAt(1, Theme("WINDOW2", "0x141C2B"));
  painter.setPen(Qt::NoPen);
  painter.setBrush(fill);
  painter.drawPath(outline);

  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setClipPath(outline);
  const std::vector<std::string> title = m_art.Tokens("THEME", "TITLEBAR", 4);
  if (!title.empty()) {
    const QRect band = RectOf(title, 0);
    QLinearGradient titleFill(0, band.top(), 0, band.bottom());
    titleFill.setColorAt(0, Theme("TITLE", "0x3B5B8C"));
    titleFill.setColorAt(1, Theme("TITLE2", "0x24406A"));
    painter.fillRect(band, titleFill);
    painter.setPen(QPen(Theme("BORDER", "0x5E7FB0"), 1));
    painter.drawLine(band.bottomLeft(), band.bottomRight());
  }
  painter.setPen(QPen(Theme("BORDER", "0x5E7FB0"), 2));
  painter.setBrush(Qt::NoBrush);
  painter.drawPath(outline);
  painter.setClipping(false);

  for (const std::string& value : LayoutFile(m_art.Path()).NumberedValues(panelSection)) {
    const std::vector<std::string> tokens = SplitTokens(value, 5);
    const QRectF panel = RectOf(tokens, 0);
    const bool video = tokens[4] == "VIDEO";
    painter.setPen(QPen(Theme("PANELBORDER", "0x0A0F18"), 1));
    painter.setBrush(video ? Theme("VIDEO", "0x000000") : Theme("PANEL", "0x1B2638"));
    painter.drawRoundedRect(panel.adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
  }
  if (!layout.Value("CONTROL", "CONTROL").empty()) {
    const QRect video = RectOf(layout.Tokens("CONTROL", "CONTROL", 4), 0);
    painter.setPen(QPen(Theme("PANELBORDER", "0x0A0F18"), 2));
    painter.setBrush(Theme("VIDEO", "0x000000"));
    painter.drawRect(video.adjusted(-1, -1, 0, 0));
    // A film-strip mark in the middle of the empty video area.
    painter.setPen(QPen(Theme("VIDEOMARK", "0x202A3A"), 3));
    painter.setBrush(Qt::NoBrush);
    const QPointF centre = QRectF(video).center();
    painter.drawRoundedRect(QRectF(centre.x() - 40, centre.y() - 28, 80, 56), 8, 8);
    DrawGlyph(painter, QRectF(centre.x() - 16, centre.y() - 16, 32, 32), "play", Theme("VIDEOMARK", "0x202A3A"));
  }
  painter.end();

  // Smoothed strokes along the outline may have blended into pixels outside
  // it: everything outside the (unsmoothed) outline is the transparent colour
  // again, exactly, so the window's shape has a clean edge.
  QImage inside(size, QImage::Format_RGB32);
  inside.fill(Qt::black);
  QPainter bodyPainter(&inside);
  bodyPainter.setRenderHint(QPainter::Antialiasing, false);
  bodyPainter.setPen(Qt::NoPen);
  bodyPainter.setBrush(Qt::white);
  bodyPainter.drawPath(outline);
  bodyPainter.end();
  for (int y = 0; y < size.height(); ++y) {
    for (int x = 0; x < size.width(); ++x) {
      if (inside.pixel(x, y) != 0xFFFFFFFFu) image.setPixelColor(x, y, transparent);
    }
  }
  return image;
}

void Art::DrawGlyph(QPainter& painter, const QRectF& area, const std::string& glyph, const QColor& colour) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, true);
  const double side = std::min(area.width(), area.height());
  const QRectF box(area.center().x() - side / 2, area.center().y() - side / 2, side, side);
  painter.setPen(Qt::NoPen);
  painter.setBrush(colour);
  if (glyph == "play") {
    QPolygonF triangle;
    triangle << QPointF(box.left() + side * 0.28, box.top() + side * 0.2)
             << QPointF(box.left() + side * 0.8, box.center().y())
             << QPointF(box.left() + side * 0.28, box.bottom() - side * 0.2);
    painter.drawPolygon(triangle);
  } else if (glyph == "pause") {
    painter.drawRect(QRectF(box.left() + side * 0.25, box.top() + side * 0.22, side * 0.18, side * 0.56));
    painter.drawRect(QRectF(box.left() + side * 0.57, box.top() + side * 0.22, side * 0.18, side * 0.56));
  } else if (glyph == "stop") {
    painter.drawRect(QRectF(box.left() + side * 0.27, box.top() + side * 0.27, side * 0.46, side * 0.46));
  } else if (glyph == "close") {
    painter.setPen(QPen(colour, std::max(2.0, side * 0.12), Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(box.left() + side * 0.3, box.top() + side * 0.3),
                     QPointF(box.right() - side * 0.3, box.bottom() - side * 0.3));
    painter.drawLine(QPointF(box.right() - side * 0.3, box.top() + side * 0.3),
                     QPointF(box.left() + side * 0.3, box.bottom() - side * 0.3));
  } else if (glyph == "minimize") {
    painter.drawRect(QRectF(box.left() + side * 0.28, box.top() + side * 0.62, side * 0.44, side * 0.12));
  } else if (glyph == "up" || glyph == "down") {
    QPolygonF triangle;
    const bool up = glyph == "up";
    const double top = box.top() + side * (up ? 0.32 : 0.38);
    const double bottom = box.top() + side * (up ? 0.62 : 0.68);
    triangle << QPointF(box.left() + side * 0.26, up ? bottom : top)
             << QPointF(box.right() - side * 0.26, up ? bottom : top) << QPointF(box.center().x(), up ? top : bottom);
    painter.drawPolygon(triangle);
  }
  painter.restore();
}

// Four frames side by side: normal, hover, pressed, disabled. Options show a
// round indicator that is lit in the pressed (checked) frame.
QImage Art::DrawStrip(const QImage& background, const QRect& area, const std::string& name, bool option) {
  const int width = std::max(1, area.width());
  const int height = std::max(1, area.height());
  QImage strip(width * 4, height, QImage::Format_RGB32);
  const QImage under = background.copy(area);
  const std::string text = m_art.Value("TEXT", name);
  const std::string glyph = m_art.Value("GLYPH", name);
  const int radius = ThemeNumber("BUTTONRADIUS", 5);
  QPainter painter(&strip);
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setRenderHint(QPainter::TextAntialiasing, true);
  for (int frame = 0; frame < 4; ++frame) {
    const QRectF cell(frame * width, 0, width, height);
    painter.drawImage(cell.topLeft(), under);
    const QColor face = frame == 1   ? Theme("HOVER", "0x3D6AA8")
                        : frame == 2 ? Theme("PRESSED", "0x17304F")
                        : frame == 3 ? Theme("DISABLED", "0x2A3240")
                                     : Theme("BUTTON", "0x2E4F7C");
    const QColor textColour = frame == 3 ? Theme("DISABLEDTEXT", "0x707A88") : Theme("BUTTONTEXT", "0xFFFFFF");
    if (option) {
      // A round indicator and the option's text, on the window's background.
      const double dot = height * 0.62;
      const QRectF ring(cell.left() + 3, (height - dot) / 2, dot, dot);
      painter.setPen(QPen(frame == 1 ? Theme("ACCENT", "0x55B4FF") : Theme("BORDER", "0x5E7FB0"), 1.6));
      painter.setBrush(Theme("PANEL", "0x1B2638"));
      painter.drawEllipse(ring);
      if (frame == 2) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(Theme("ACCENT", "0x55B4FF"));
        painter.drawEllipse(ring.adjusted(dot * 0.25, dot * 0.25, -dot * 0.25, -dot * 0.25));
      }
      painter.setPen(frame == 3 ? Theme("DISABLEDTEXT", "0x707A88") : Theme("LABELTEXT", "0xE0E8F5"));
      painter.setFont(Font(std::max(10, height * 11 / 20), false));
      painter.drawText(QRectF(ring.right() + 6, 0, width - dot - 9, height).translated(0, 0).adjusted(0, 0, 0, 0),
                       Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(text));
      continue;
    }
    QLinearGradient fill(0, 0, 0, height);
    fill.setColorAt(0, frame == 2 ? face.darker(115) : face.lighter(125));
    fill.setColorAt(1, frame == 2 ? face.lighter(110) : face.darker(115));
    painter.setPen(QPen(frame == 1 ? Theme("ACCENT", "0x55B4FF") : Theme("BUTTONBORDER", "0x0D1522"), 1));
    painter.setBrush(fill);
    painter.drawRoundedRect(cell.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    const QPointF shift = frame == 2 ? QPointF(1, 1) : QPointF(0, 0);
    if (!glyph.empty()) {
      DrawGlyph(painter, cell.adjusted(2, 2, -2, -2).translated(shift), glyph, textColour);
    } else {
      painter.setPen(textColour);
      painter.setFont(Font(std::max(10, std::min(height * 9 / 20, 16)), true));
      painter.drawText(cell.translated(shift), Qt::AlignCenter, QString::fromStdString(text));
    }
  }
  return strip;
}

void Art::DrawLayout(const std::string& layoutFile, const char* sizeSection, const char* panelSection) {
  const LayoutFile layout(m_folder + "/" + layoutFile);
  const std::vector<std::string> sizeTokens = m_art.Tokens(sizeSection, "SIZE", 2);
  if (sizeTokens.empty()) {
    std::cerr << "skinart: no [" << sizeSection << "] SIZE\n";
    m_bOk = false;
    return;
  }
  const QSize size(skin::IntegerToken(sizeTokens[0]), skin::IntegerToken(sizeTokens[1]));
  const QImage background = DrawBackground(size, layout, panelSection);
  Save(layout.Value("Main", "Screen"), background);
  const QColor transparent = ColourOf(skin::ColourToken(layout.Value("COLOR", "TRANSPARENT")));

  const std::vector<std::string> icon = layout.Tokens("ICON", "ICON", 5);
  if (!icon.empty()) {
    const QRect area = RectOf(icon, 1);
    QImage image = background.copy(area);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QRectF box(1, 1, area.width() - 2, area.height() - 2);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Theme("ACCENT", "0x55B4FF"));
    painter.drawRoundedRect(box, 5, 5);
    // Film perforations down both sides and a play mark in the middle.
    painter.setBrush(Theme("WINDOW2", "0x141C2B"));
    for (int hole = 0; hole < 4; ++hole) {
      const double y = box.top() + 2 + hole * (box.height() - 4) / 4;
      painter.drawRect(QRectF(box.left() + 2, y, 3, 3));
      painter.drawRect(QRectF(box.right() - 5, y, 3, 3));
    }
    DrawGlyph(painter, box.adjusted(5, 3, -5, -3), "play", Theme("WINDOW2", "0x141C2B"));
    painter.end();
    Save(icon[0], image);
  }

  for (const char* section : {"BUTTONINFO", "OPTIONINFO"}) {
    const bool option = std::string(section) == "OPTIONINFO";
    for (const std::string& value : layout.NumberedValues(section)) {
      const std::vector<std::string> tokens = SplitTokens(value, option ? 9 : 8);
      Save(tokens[1], DrawStrip(background, RectOf(tokens, 2), tokens[0], option));
    }
  }

  for (const std::string& value : layout.NumberedValues("SLIDERINFO")) {
    const std::vector<std::string> tokens = SplitTokens(value, 11);
    const QRect area = RectOf(tokens, 4);
    const int thumbWidth = ThemeNumber("THUMBWIDTH", 14);
    // The covered part of the track, drawn over the window's background.
    const int channelHeight = 6;
    QImage channel(area.width(), channelHeight, QImage::Format_RGB32);
    {
      QPainter painter(&channel);
      painter.drawImage(0, 0, background.copy(area.x(), area.y() + (area.height() - channelHeight) / 2, area.width(),
                                              channelHeight));
      painter.setRenderHint(QPainter::Antialiasing, true);
      QLinearGradient fill(0, 0, 0, channelHeight);
      fill.setColorAt(0, Theme("ACCENT", "0x55B4FF").lighter(120));
      fill.setColorAt(1, Theme("ACCENT", "0x55B4FF").darker(130));
      painter.setPen(Qt::NoPen);
      painter.setBrush(fill);
      painter.drawRoundedRect(QRectF(0, 0.5, area.width(), channelHeight - 1), 3, 3);
    }
    Save(tokens[1], channel);
    for (int active = 0; active < 2; ++active) {
      QImage thumb(thumbWidth, area.height(), QImage::Format_RGB32);
      thumb.fill(transparent);
      QPainter painter(&thumb);
      // Sharp edges: the thumb is keyed out with the transparent colour.
      painter.setRenderHint(QPainter::Antialiasing, false);
      painter.setPen(QPen(Theme("BUTTONBORDER", "0x0D1522"), 1));
      painter.setBrush(active ? Theme("ACCENT", "0x55B4FF") : Theme("THUMB", "0xDDE6F2"));
      painter.drawRect(QRect(1, 0, thumbWidth - 3, area.height() - 1));
      painter.setPen(QPen(active ? Theme("THUMB", "0xDDE6F2") : Theme("BORDER", "0x5E7FB0"), 1));
      for (int line = 0; line < 3; ++line) {
        const int x = thumbWidth / 2 - 3 + line * 2;
        painter.drawLine(x, 4, x, area.height() - 5);
      }
      painter.end();
      Save(tokens[active ? 3 : 2], thumb);
    }
  }

  for (const std::string& value : layout.NumberedValues("PROGRESSINFO")) {
    const std::vector<std::string> tokens = SplitTokens(value, 6);
    const QRect area = RectOf(tokens, 1);
    const int tileWidth = ThemeNumber("TILEWIDTH", 12);
    QImage tile(tileWidth, area.height(), QImage::Format_RGB32);
    QPainter painter(&tile);
    painter.drawImage(0, 0, background.copy(area.x(), area.y(), tileWidth, area.height()));
    painter.setRenderHint(QPainter::Antialiasing, true);
    QLinearGradient fill(0, 0, 0, area.height());
    fill.setColorAt(0, Theme("ACCENT", "0x55B4FF").lighter(130));
    fill.setColorAt(1, Theme("ACCENT", "0x55B4FF").darker(120));
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(1, 2, tileWidth - 2, area.height() - 4), 2, 2);
    painter.end();
    Save(tokens[5], tile);
  }

  // Scroll bars: the same seven bitmaps for lists and the combo box's list.
  auto drawScrollBar = [&](const std::vector<std::string>& files) {
    const int width = ThemeNumber("SCROLLWIDTH", 16);
    const QColor track = Theme("TRACK", "0x121A27");
    QImage trackImage(width, 32, QImage::Format_RGB32);
    {
      QPainter painter(&trackImage);
      painter.fillRect(trackImage.rect(), track);
      painter.fillRect(QRect(width / 2 - 1, 0, 2, 32), track.lighter(150));
    }
    Save(files[0], trackImage);
    for (int bitmap = 0; bitmap < 4; ++bitmap) {
      const bool pressed = bitmap % 2 == 1;
      const bool up = bitmap < 2;
      QImage arrow(width, width, QImage::Format_RGB32);
      arrow.fill(track);
      QPainter painter(&arrow);
      painter.setRenderHint(QPainter::Antialiasing, true);
      painter.setPen(QPen(Theme("BUTTONBORDER", "0x0D1522"), 1));
      painter.setBrush(pressed ? Theme("HOVER", "0x3D6AA8") : Theme("BUTTON", "0x2E4F7C"));
      painter.drawRoundedRect(QRectF(0.5, 0.5, width - 1, width - 1), 3, 3);
      DrawGlyph(painter, QRectF(0, 0, width, width), up ? "up" : "down", Theme("BUTTONTEXT", "0xFFFFFF"));
      painter.end();
      Save(files[1 + bitmap], arrow);
    }
    for (int pressed = 0; pressed < 2; ++pressed) {
      QImage thumb(width, 28, QImage::Format_RGB32);
      thumb.fill(track);
      QPainter painter(&thumb);
      painter.setRenderHint(QPainter::Antialiasing, true);
      painter.setPen(QPen(Theme("BUTTONBORDER", "0x0D1522"), 1));
      painter.setBrush(pressed ? Theme("ACCENT", "0x55B4FF") : Theme("THUMB", "0xDDE6F2"));
      painter.drawRoundedRect(QRectF(1.5, 0.5, width - 3, 27), 4, 4);
      painter.end();
      Save(files[5 + pressed], thumb);
    }
  };
  for (const std::string& value : layout.NumberedValues("LISTBOXINFO")) {
    const std::vector<std::string> tokens = SplitTokens(value, 16);
    drawScrollBar(std::vector<std::string>(tokens.begin() + 9, tokens.end()));
  }
  for (const std::string& value : layout.NumberedValues("COMBOBOXINFO")) {
    const std::vector<std::string> tokens = SplitTokens(value, 20);
    drawScrollBar(std::vector<std::string>(tokens.begin() + 13, tokens.end()));
    // The drop-down button: a square as high as the edit.
    const QRect area = RectOf(tokens, 1);
    const int side = skin::IntegerToken(m_art.Value("THEME", "COMBOBUTTON").empty() ? "22"
                                                                                       : m_art.Value("THEME", "COMBOBUTTON"));
    const QRect under(area.right() + 1 - side, area.top() - 1, side, side);
    QImage strip(side * 4, side, QImage::Format_RGB32);
    QPainter painter(&strip);
    painter.setRenderHint(QPainter::Antialiasing, true);
    for (int frame = 0; frame < 4; ++frame) {
      const QRectF cell(frame * side, 0, side, side);
      painter.drawImage(cell.topLeft(), background.copy(under));
      const QColor face = frame == 1   ? Theme("HOVER", "0x3D6AA8")
                          : frame == 2 ? Theme("PRESSED", "0x17304F")
                          : frame == 3 ? Theme("DISABLED", "0x2A3240")
                                       : Theme("BUTTON", "0x2E4F7C");
      painter.setPen(QPen(frame == 1 ? Theme("ACCENT", "0x55B4FF") : Theme("BUTTONBORDER", "0x0D1522"), 1));
      painter.setBrush(face);
      painter.drawRoundedRect(cell.adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
      DrawGlyph(painter, cell, "down", frame == 3 ? Theme("DISABLEDTEXT", "0x707A88") : Theme("BUTTONTEXT", "0xFFFFFF"));
    }
    painter.end();
    Save(tokens[5], strip);
  }
}

bool Art::Run() {
  DrawLayout("Skin.ini", "MAIN", "PANELS");
  DrawLayout("ConvertSkin.ini", "CONVERT", "CONVERTPANELS");
  return m_bOk;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication application(argc, argv);
  if (argc != 3) {
    std::cerr << "usage: skinart ART.ini FOLDER\n";
    return 2;
  }
  Art art(argv[1], argv[2]);
  return art.Run() ? 0 : 1;
}
