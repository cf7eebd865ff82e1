// A report list in the skin's colours, without column header, selecting whole
// rows, with a bitmap scroll bar beside it in place of its own.
#pragma once

#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QTreeWidget>
#include <array>

#include "app/skin/SkinElement.h"

class CSkinListCtrl;

// The list's vertical scroll bar: a separate child window of the skinned
// window, to the right of the list, drawn from seven bitmaps. It reads the
// list's scroll limit (largest scroll position, in lines) and position, and
// scrolls it by lines and pages.
class CSkinScrollBar : public QWidget {
 public:
  enum Bitmap { kTrack, kUp, kUpPressed, kDown, kDownPressed, kThumb, kThumbPressed, kBitmapCount };
  using Bitmaps = std::array<QImage, kBitmapCount>;

  static constexpr int kDelayMilliseconds = 250;
  static constexpr int kRepeatMilliseconds = 50;

  CSkinScrollBar(CSkinListCtrl* list, QWidget* parent);

  void SetBitmaps(const Bitmaps& bitmaps);
  // The up arrow's width (0 until both up arrow bitmaps loaded).
  int BarWidth() const { return m_upSize.width(); }
  void SetBackgroundColour(std::uint32_t rgb) { m_backgroundColour = rgb; update(); }

  // Recomputes the thumb from the list's position and repaints at once.
  void UpdateBar();

  int ThumbTop() const { return m_nThumbTop; }
  double Scale() const { return m_dScale; }
  int Travel() const;
  QRect UpArrowRect() const;
  QRect DownArrowRect() const;
  QRect ThumbRect() const;
  bool IsUpLit() const { return m_bUpLit; }
  bool IsDownLit() const { return m_bDownLit; }
  bool IsThumbLit() const { return m_bThumbLit; }
  bool IsAutoRepeating() const { return m_delayTimer.isActive() || m_repeatTimer.isActive(); }

  // A mouse move seen by the list or the window, at a point in this bar's
  // coordinates.
  void MouseMovedTo(const QPoint& point, bool leftButtonDown);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void Clamp();
  void LineUp();
  void LineDown();
  void PageUp();
  void PageDown();
  void OnDelayTimer();
  void OnRepeatTimer();

  CSkinListCtrl* m_pList;
  Bitmaps m_bitmaps;
  QSize m_upSize;
  QSize m_downSize;
  QSize m_thumbSize;
  QSize m_trackSize;
  int m_nThumbTop = 0;
  double m_dScale = 0.0;
  bool m_bUpLit = false;
  bool m_bDownLit = false;
  bool m_bThumbLit = false;
  bool m_bLeftDown = false;  // the left button went down on the bar and is still down
  std::uint32_t m_backgroundColour = 0xFFFFFF;
  QTimer m_delayTimer;
  QTimer m_repeatTimer;
};

class CSkinListCtrl : public QTreeWidget, public CSkinElement {
 public:
  // The Win32 scroll requests the bar sends.
  enum ScrollCode { SB_LINEUP = 0, SB_LINEDOWN = 1, SB_PAGEUP = 2, SB_PAGEDOWN = 3 };

  CSkinListCtrl(CSkinDialog* owner, const std::string& name, int index, QWidget* parent);
  ~CSkinListCtrl() override;

  // Colours are 0xRRGGBB; skin::kNoColour keeps the current one.
  void SetColours(std::uint32_t background, std::uint32_t text, std::uint32_t selectedBackground,
                  std::uint32_t selectedText);
  std::uint32_t BackgroundColour() const { return m_background; }

  // Replaces the list's own scroll bar: the bar is made a child of the list's
  // parent, the list is narrowed by the bar's width and the bar placed at its
  // right, with the list's top and height.
  void CreateScrollBar(const CSkinScrollBar::Bitmaps& bitmaps);
  CSkinScrollBar* ScrollBar() const { return m_pBar; }

  // The four columns of the file list: a 40-pixel right-aligned first column,
  // the path, the start and the end.
  void SetupFileColumns();
  // One column as wide as the list (the combo box's list).
  void SetupSingleColumn();

  // Appends a row: column 0 empty, the three texts in columns 1 to 3.
  int AddItem(const std::string& column1, const std::string& column2, const std::string& column3);
  // Inserts a copy of row `from` at `to` and deletes the original. False when
  // the indexes are equal or negative (or `from` names no row).
  bool MoveItem(int from, int to);
  void DeleteSelectedItems();
  std::string ItemText(int row, int column) const;

  // In lines: the largest scroll position and the current one.
  int VerticalScrollLimit() const;
  int VerticalScrollPosition() const;
  void SendScroll(ScrollCode code);
  // Scrolls by whole lines (positive is down).
  void ScrollLines(int lines);

  // Passes a mouse move (global position) on to the bar.
  void PassMouseMove(const QPoint& globalPosition, bool leftButtonDown);

  // Double clicks reach the window's OnListDoubleClick.
  void SetReportsDoubleClicks(bool report) { m_bReportsDoubleClicks = report; }

 protected:
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;

 private:
  void ApplyColours();
  void PlaceBar();

  QPointer<CSkinScrollBar> m_pBar;  // a sibling, owned by this list
  std::uint32_t m_background = 0xFFFFFF;
  std::uint32_t m_text = 0x000000;
  std::uint32_t m_selectedBackground = 0x000080;
  std::uint32_t m_selectedText = 0xFFFFFF;
  bool m_bReportsDoubleClicks = false;
  bool m_bBarFollowsScroll = true;
  friend class CSkinScrollBar;
};
