// Push buttons and option buttons drawn from a four-frame bitmap strip.
//
// The strip holds four equally wide frames side by side: 0 normal, 1 hover,
// 2 pressed, 3 disabled. Each frame is cut out and stretched to the button's
// size once, when the strip is loaded.
#pragma once

#include <QImage>
#include <QSize>
#include <QWidget>
#include <array>

#include "app/skin/SkinElement.h"

class CSkinComboBox;

class CSkinButton : public QWidget, public CSkinElement {
 public:
  enum Frame { kNormal = 0, kHover = 1, kPressed = 2, kDisabled = 3 };

  CSkinButton(CSkinDialog* owner, const std::string& name, int index, QWidget* parent);

  // Cuts the frames from `strip` with `transparent` (0xRRGGBB) left out. A
  // null strip leaves every frame empty.
  void LoadStrip(const QImage& strip, std::uint32_t transparent);
  // The size of one frame of the strip (strip width / 4, strip height).
  QSize FrameSize() const { return m_frameSize; }
  const QImage& FrameImage(int frame) const { return m_frames[static_cast<std::size_t>(frame)]; }

  void SetLatched(bool latched) { m_bLatched = latched; }
  bool IsLatched() const { return m_bLatched; }
  // Sets or clears the down flag; redraws only when it changes.
  void SetDown(bool down);
  bool IsDown() const { return m_bDown; }
  bool IsHovered() const { return m_bHover; }
  void SetTip(const std::string& text);
  std::string Tip() const;

  // The frame that painting shows in the current state.
  int CurrentFrame() const;

 protected:
  // What a click does once the button has registered it.
  virtual void Clicked();

  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void SetHover(bool hover);

  std::array<QImage, 4> m_frames;
  QSize m_frameSize;
  bool m_bLatched = false;
  bool m_bDown = false;
  bool m_bHover = false;
  bool m_bPushed = false;  // left button went down here and the cursor is still inside
  bool m_bTracking = false;  // left button went down here and has not come up
};

// An option button: the same drawing, with the checked state in the down
// flag. A click checks it (it stays checked when it was) and the window then
// unchecks the other options.
class CSkinOption : public CSkinButton {
 public:
  using CSkinButton::CSkinButton;
  void SetCheck(bool checked) { SetDown(checked); }
  bool GetCheck() const { return IsDown(); }

 protected:
  void Clicked() override;
};

// The drop-down button of a combo box: a click opens or closes its list.
class CSkinComboButton : public CSkinButton {
 public:
  CSkinComboButton(CSkinDialog* owner, const std::string& name, CSkinComboBox* combo, QWidget* parent);

 protected:
  void Clicked() override;

 private:
  CSkinComboBox* m_pCombo;
};
