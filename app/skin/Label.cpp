#include "app/skin/Label.h"

#include <QPainter>

#include "app/skin/SkinBitmap.h"
#include "app/skin/SkinLayout.h"

namespace {

// Points to pixels at the 96 dots per inch the layouts were drawn for, so a
// skin looks the same whatever the screen reports.
int PixelsOfPoints(int points) { return (points * 96 + 36) / 72; }

constexpr int kDefaultPoints = 9;

}  // namespace

CLabel::CLabel(CSkinDialog* owner, const std::string& name, int index, QWidget* parent)
    : QWidget(parent), CSkinElement(owner, name, index) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_TransparentForMouseEvents);  // clicks go to the window behind
  m_font.setPixelSize(PixelsOfPoints(kDefaultPoints));
}

void CLabel::SetText(const std::string& text) {
  m_strText = text;
  update();
}

void CLabel::SetTextColour(std::uint32_t rgb) {
  if (rgb == skin::kNoColour) return;
  m_textColour = rgb & 0xFFFFFF;
  update();
}

void CLabel::SetFontName(const std::string& face) {
  m_font.setFamily(QString::fromStdString(face));
  update();
}

void CLabel::SetFontSize(int points) {
  m_font.setPixelSize(PixelsOfPoints(points > 0 ? points : kDefaultPoints));
  update();
}

void CLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintBackgroundSnapshot(painter, *this);
  painter.setFont(m_font);
  painter.setPen(QColor::fromRgb(skin::OpaqueRgb(m_textColour)));
  painter.drawText(rect(), Qt::AlignLeft | Qt::AlignTop, QString::fromStdString(m_strText));
}
