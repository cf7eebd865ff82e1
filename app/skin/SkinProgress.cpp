#include "app/skin/SkinProgress.h"

#include <QPainter>
#include <algorithm>

#include "app/skin/SkinBitmap.h"

CSkinProgress::CSkinProgress(CSkinDialog* owner, const std::string& name, int index, QWidget* parent)
    : QWidget(parent), CSkinElement(owner, name, index) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void CSkinProgress::SetTile(const QImage& tile, std::uint32_t transparent) {
  m_tile = skin::KeyedImage(tile, transparent);
  update();
}

void CSkinProgress::SetRangeMin(int minimum) { SetRange(minimum, m_nMax); }

void CSkinProgress::SetRangeMax(int maximum) { SetRange(m_nMin, maximum); }

void CSkinProgress::SetRange(int minimum, int maximum) {
  m_nMin = minimum;
  m_nMax = maximum;
  m_nPos = std::clamp(m_nPos, m_nMin, std::max(m_nMin, m_nMax));
  update();
}

void CSkinProgress::SetPos(int position) {
  m_nPos = std::clamp(position, m_nMin, std::max(m_nMin, m_nMax));
  update();
}

// The filled share is measured from the range minimum, and an empty range
// fills nothing (rather than dividing by zero).
int CSkinProgress::FillWidth() const {
  const long long span = static_cast<long long>(m_nMax) - m_nMin;
  if (span <= 0) return 0;
  const long long fill = static_cast<long long>(width()) * (m_nPos - m_nMin) / span;
  return static_cast<int>(std::clamp<long long>(fill, 0, width()));
}

void CSkinProgress::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintBackgroundSnapshot(painter, *this);
  if (m_tile.isNull()) return;
  const int fill = FillWidth();
  const int tileWidth = m_tile.width();
  const int wholeTiles = fill / tileWidth;
  for (int tile = 0; tile < wholeTiles; ++tile) painter.drawImage(tile * tileWidth, 0, m_tile);
  const int rest = fill % tileWidth;
  if (rest > 0) {
    painter.drawImage(QRect(wholeTiles * tileWidth, 0, rest, m_tile.height()), m_tile);
  }
}
