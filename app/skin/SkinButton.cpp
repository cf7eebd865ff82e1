#include "app/skin/SkinButton.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

#include "app/skin/SkinBitmap.h"
#include "app/skin/SkinComboBox.h"
#include "app/skin/SkinDialog.h"

CSkinButton::CSkinButton(CSkinDialog* owner, const std::string& name, int index, QWidget* parent)
    : QWidget(parent), CSkinElement(owner, name, index) {
  setMouseTracking(true);
  setFocusPolicy(Qt::NoFocus);  // no tab stop
  setAttribute(Qt::WA_Hover, false);
}

void CSkinButton::LoadStrip(const QImage& strip, std::uint32_t transparent) {
  m_frames = {};
  m_frameSize = QSize();
  if (strip.isNull() || strip.width() < 4) return;
  m_frameSize = QSize(strip.width() / 4, strip.height());
  const QImage keyed = skin::KeyedImage(strip, transparent);
  const QSize target = size().isEmpty() ? m_frameSize : size();
  for (int frame = 0; frame < 4; ++frame) {
    const QImage cut = keyed.copy(frame * m_frameSize.width(), 0, m_frameSize.width(), m_frameSize.height());
    m_frames[static_cast<std::size_t>(frame)] =
        cut.scaled(target, Qt::IgnoreAspectRatio, Qt::FastTransformation);
  }
  update();
}

void CSkinButton::SetDown(bool down) {
  if (m_bDown == down) return;
  m_bDown = down;
  update();
}

void CSkinButton::SetTip(const std::string& text) { setToolTip(QString::fromStdString(text)); }

std::string CSkinButton::Tip() const { return toolTip().toStdString(); }

int CSkinButton::CurrentFrame() const {
  if (m_bLatched) return m_bDown ? kPressed : kNormal;
  if (m_bDown && !m_bHover) return kPressed;
  if (m_bPushed) return kPressed;
  if (m_bHover) return kHover;
  if (!isEnabled()) return kDisabled;
  return kNormal;
}

void CSkinButton::SetHover(bool hover) {
  if (m_bHover == hover) return;
  m_bHover = hover;
  update();
}

void CSkinButton::Clicked() {
  if (Owner()) Owner()->OnButtonIndex(Index());
}

void CSkinButton::paintEvent(QPaintEvent*) {
  const QImage& frame = m_frames[static_cast<std::size_t>(CurrentFrame())];
  if (frame.isNull()) return;
  QPainter painter(this);
  painter.drawImage(rect(), frame);
}

void CSkinButton::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QWidget::mousePressEvent(event);
    return;
  }
  m_bTracking = true;
  m_bPushed = true;
  update();
}

void CSkinButton::mouseMoveEvent(QMouseEvent* event) {
  const bool inside = rect().contains(event->position().toPoint());
  const bool leftDown = (event->buttons() & Qt::LeftButton) != 0;
  if (inside) {
    // A press that began elsewhere does not light the button.
    if (leftDown && !m_bHover && !m_bTracking) return;
    if (m_bTracking && !m_bPushed) {
      m_bPushed = true;
      update();
    }
    SetHover(true);
    return;
  }
  if (m_bPushed) {
    m_bPushed = false;
    update();
  }
  SetHover(false);
}

void CSkinButton::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QWidget::mouseReleaseEvent(event);
    return;
  }
  const bool wasTracking = m_bTracking;
  m_bTracking = false;
  m_bPushed = false;
  if (!wasTracking || !rect().contains(event->position().toPoint())) {
    update();
    return;
  }
  m_bHover = false;
  update();
  // The hook may rebuild the whole skin; this button is then already gone.
  QPointer<CSkinButton> alive(this);
  Clicked();
  if (alive) update();
}

void CSkinButton::enterEvent(QEnterEvent* event) {
  const bool leftDown = (event->buttons() & Qt::LeftButton) != 0;
  if (!(leftDown && !m_bTracking)) SetHover(true);
  QWidget::enterEvent(event);
}

void CSkinButton::leaveEvent(QEvent* event) {
  SetHover(false);
  QWidget::leaveEvent(event);
}

void CSkinButton::focusOutEvent(QFocusEvent* event) {
  SetHover(false);
  QWidget::focusOutEvent(event);
}

void CSkinButton::changeEvent(QEvent* event) {
  // A disabled button receives no mouse input, so it could never lose a
  // hover it had: clear it so the disabled frame shows.
  if (event->type() == QEvent::EnabledChange && !isEnabled()) {
    m_bHover = false;
    m_bPushed = false;
    m_bTracking = false;
    update();
  }
  QWidget::changeEvent(event);
}

void CSkinOption::Clicked() {
  if (!IsDown()) SetDown(true);
  if (Owner()) Owner()->OnOptionIndex(Index());
}

CSkinComboButton::CSkinComboButton(CSkinDialog* owner, const std::string& name, CSkinComboBox* combo,
                                   QWidget* parent)
    : CSkinButton(owner, name, 0, parent), m_pCombo(combo) {}

// Each drop-down button opens its own combo box, so a layout may hold several.
void CSkinComboButton::Clicked() {
  if (m_pCombo) m_pCombo->ToggleList();
}
