// A progress bar filled with copies of a tile bitmap laid side by side from
// the left over the window's background.
#pragma once

#include <QImage>
#include <QWidget>

#include "app/skin/SkinElement.h"

class CSkinProgress : public QWidget, public CSkinElement {
 public:
  CSkinProgress(CSkinDialog* owner, const std::string& name, int index, QWidget* parent);

  void SetTile(const QImage& tile, std::uint32_t transparent);
  void SetRangeMin(int minimum);
  void SetRangeMax(int maximum);
  void SetRange(int minimum, int maximum);
  int GetRangeMin() const { return m_nMin; }
  int GetRangeMax() const { return m_nMax; }
  // Clamped into the range; redraws.
  void SetPos(int position);
  int GetPos() const { return m_nPos; }

  // Width of the filled part for the current position and client width.
  int FillWidth() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int m_nMin = 0;
  int m_nMax = 100;
  int m_nPos = 0;
  QImage m_tile;
};
