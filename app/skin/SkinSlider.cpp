#include "app/skin/SkinSlider.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

#include "app/skin/SkinBitmap.h"
#include "app/skin/SkinDialog.h"

CSkinSlider::CSkinSlider(CSkinDialog* owner, const std::string& name, int index, QWidget* parent)
    : QWidget(parent), CSkinElement(owner, name, index) {
  setFocusPolicy(Qt::StrongFocus);  // a tab stop that takes the keys
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void CSkinSlider::SetBitmaps(const QImage& channel, const QImage& thumb, const QImage& activeThumb,
                             std::uint32_t transparent) {
  m_channel = channel;
  if (!thumb.isNull()) m_thumb = skin::KeyedImage(thumb, transparent);
  m_activeThumb = skin::KeyedImage(activeThumb, transparent);
  const int width = std::max(m_channel.width(), m_thumb.width());
  const int height = std::max(m_channel.height(), m_thumb.height());
  if (width > 0 && height > 0) resize(width, height);
  RetakeBackgroundSnapshot();
  update();
}

void CSkinSlider::SetRangeMin(int minimum, bool redraw) { SetRange(minimum, m_nMax, redraw); }

void CSkinSlider::SetRangeMax(int maximum, bool redraw) { SetRange(m_nMin, maximum, redraw); }

void CSkinSlider::SetRange(int minimum, int maximum, bool redraw) {
  m_nMin = minimum;
  m_nMax = maximum;
  // A position outside the new range would draw the thumb off the track.
  m_nPos = std::clamp(m_nPos, m_nMin, std::max(m_nMin, m_nMax));
  if (redraw) update();
}

void CSkinSlider::SetPos(int position) {
  m_nPos = std::clamp(position, m_nMin, std::max(m_nMin, m_nMax));
  update();
}

void CSkinSlider::Enable(bool enable) {
  if (!enable && m_bDragging) {
    m_bDragging = false;
    releaseMouse();
  }
  setEnabled(enable);
  update();
}

// An empty range (minimum equal to maximum, as right after creation) puts the
// thumb at the start instead of dividing by zero.
int CSkinSlider::PixelOfValue(int value) const {
  const int thumb = ThumbLength();
  const int span = m_nMax - m_nMin;
  if (span == 0) return thumb / 2;
  if (m_bVertical) {
    return thumb / 2 + static_cast<int>(static_cast<double>(value - m_nMin) / span * (Length() - thumb));
  }
  return static_cast<int>(static_cast<long long>(Length() - thumb) * (value - m_nMin) / span) + thumb / 2;
}

int CSkinSlider::ValueOfPixel(int pixel) const {
  const int thumb = ThumbLength();
  const int travel = Length() - thumb;
  if (travel <= 0) return m_nMin;
  return m_nMin + static_cast<int>(static_cast<double>(pixel - thumb / 2) / travel * (m_nMax - m_nMin));
}

void CSkinSlider::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintBackgroundSnapshot(painter, *this);
  const int pixel = PixelOfValue(m_nPos);
  if (!m_channel.isNull()) {
    if (m_bVertical) {
      // The covered part runs from the position down to the channel's end.
      const int x = (m_thumb.width() - m_channel.width()) / 2;
      const int covered = std::max(0, m_channel.height() - pixel);
      painter.drawImage(QPoint(x, pixel), m_channel, QRect(0, pixel, m_channel.width(), covered));
    } else {
      const int y = (m_thumb.height() - m_channel.height()) / 2;
      painter.drawImage(QPoint(0, y), m_channel, QRect(0, 0, std::min(pixel, m_channel.width()), m_channel.height()));
    }
  }
  const QImage& thumb = (m_bDragging && !m_activeThumb.isNull()) ? m_activeThumb : m_thumb;
  if (!thumb.isNull()) {
    if (m_bVertical) {
      painter.drawImage(0, pixel - thumb.height() / 2, thumb);
    } else {
      painter.drawImage(pixel - thumb.width() / 2, 0, thumb);
    }
  }
}

void CSkinSlider::DragTo(int pixel) {
  const int thumb = ThumbLength();
  const int clamped = std::clamp(pixel, thumb / 2, std::max(thumb / 2, Length() - thumb / 2));
  SetPos(ValueOfPixel(clamped));
  if (Owner()) Owner()->OnSliderIndex(Index(), m_nPos);
}

void CSkinSlider::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !isEnabled()) {
    QWidget::mousePressEvent(event);
    return;
  }
  setFocus(Qt::MouseFocusReason);
  m_bDragging = true;
  DragTo(AxisCoordinate(event->position().toPoint()));
}

void CSkinSlider::mouseMoveEvent(QMouseEvent* event) {
  if (!m_bDragging) {
    QWidget::mouseMoveEvent(event);
    return;
  }
  DragTo(AxisCoordinate(event->position().toPoint()));
}

void CSkinSlider::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !m_bDragging) {
    QWidget::mouseReleaseEvent(event);
    return;
  }
  m_bDragging = false;
  update();
}

void CSkinSlider::keyPressEvent(QKeyEvent* event) {
  if (!isEnabled()) return;
  switch (event->key()) {
    case Qt::Key_PageUp: SetPos(m_nPos - m_nPage); break;
    case Qt::Key_PageDown: SetPos(m_nPos + m_nPage); break;
    case Qt::Key_End: SetPos(m_nMax); break;
    case Qt::Key_Home: SetPos(m_nMin); break;
    case Qt::Key_Right:
    case Qt::Key_Down: SetPos(m_nPos + 1); break;
    case Qt::Key_Left:
    case Qt::Key_Up: SetPos(m_nPos - 1); break;
    default: QWidget::keyPressEvent(event); return;
  }
  event->accept();
}
