// A slider drawn from a channel bitmap and a thumb bitmap. The channel is
// drawn only over the part of the track the position has covered, so the
// rest of the track shows the window's background.
#pragma once

#include <QImage>
#include <QWidget>

#include "app/skin/SkinElement.h"

class CSkinSlider : public QWidget, public CSkinElement {
 public:
  CSkinSlider(CSkinDialog* owner, const std::string& name, int index, QWidget* parent);

  // Bitmaps with `transparent` (0xRRGGBB) left out of the thumbs. A thumb that
  // fails to load keeps the previous thumb. The control grows to the larger
  // of channel and thumb in each direction; its position stays.
  void SetBitmaps(const QImage& channel, const QImage& thumb, const QImage& activeThumb, std::uint32_t transparent);
  void SetVertical(bool vertical) { m_bVertical = vertical; update(); }
  bool IsVertical() const { return m_bVertical; }
  void SetTip(const std::string& text) { setToolTip(QString::fromStdString(text)); }

  void SetRangeMin(int minimum, bool redraw = false);
  void SetRangeMax(int maximum, bool redraw = false);
  void SetRange(int minimum, int maximum, bool redraw = false);
  int GetRangeMin() const { return m_nMin; }
  int GetRangeMax() const { return m_nMax; }
  // Clamped into the range; redraws.
  void SetPos(int position);
  int GetPos() const { return m_nPos; }
  int GetPageSize() const { return m_nPage; }
  // Disabling ends a drag in progress.
  void Enable(bool enable);
  bool IsDragging() const { return m_bDragging; }

  // The pixel (along the slider's axis) at which a value's thumb is centred,
  // and the value under a pixel.
  int PixelOfValue(int value) const;
  int ValueOfPixel(int pixel) const;
  QSize ThumbSize() const { return m_thumb.size(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  int Length() const { return m_bVertical ? height() : width(); }
  int ThumbLength() const { return m_bVertical ? m_thumb.height() : m_thumb.width(); }
  int AxisCoordinate(const QPoint& point) const { return m_bVertical ? point.y() : point.x(); }
  void DragTo(int pixel);

  int m_nMin = 0;
  int m_nMax = 100;
  int m_nPos = 0;
  int m_nPage = 20;
  bool m_bVertical = false;
  bool m_bDragging = false;
  QImage m_channel;
  QImage m_thumb;
  QImage m_activeThumb;
};
