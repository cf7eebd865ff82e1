#include "platform/ui/VideoWindow.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QWheelEvent>

namespace reel {

namespace {

WPARAM ButtonAndKeyFlags(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers) {
  WPARAM flags = 0;
  if (buttons & Qt::LeftButton) flags |= MK_LBUTTON;
  if (buttons & Qt::RightButton) flags |= MK_RBUTTON;
  if (buttons & Qt::MiddleButton) flags |= MK_MBUTTON;
  if (modifiers & Qt::ShiftModifier) flags |= MK_SHIFT;
  if (modifiers & Qt::ControlModifier) flags |= MK_CONTROL;
  return flags;
}

// The Win32 virtual key of a Qt key; 0 for keys without one.
WPARAM VirtualKeyOf(int key) {
  if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9)) return static_cast<WPARAM>(key);
  if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return VK_F1 + static_cast<WPARAM>(key - Qt::Key_F1);
  switch (key) {
    case Qt::Key_Backspace: return VK_BACK;
    case Qt::Key_Tab: return VK_TAB;
    case Qt::Key_Return:
    case Qt::Key_Enter: return VK_RETURN;
    case Qt::Key_Shift: return VK_SHIFT;
    case Qt::Key_Control: return VK_CONTROL;
    case Qt::Key_Alt: return VK_MENU;
    case Qt::Key_Pause: return VK_PAUSE;
    case Qt::Key_Escape: return VK_ESCAPE;
    case Qt::Key_Space: return VK_SPACE;
    case Qt::Key_PageUp: return VK_PRIOR;
    case Qt::Key_PageDown: return VK_NEXT;
    case Qt::Key_End: return VK_END;
    case Qt::Key_Home: return VK_HOME;
    case Qt::Key_Left: return VK_LEFT;
    case Qt::Key_Up: return VK_UP;
    case Qt::Key_Right: return VK_RIGHT;
    case Qt::Key_Down: return VK_DOWN;
    case Qt::Key_Insert: return VK_INSERT;
    case Qt::Key_Delete: return VK_DELETE;
    default: return 0;
  }
}

}  // namespace

VideoWindow::VideoWindow(QWidget* parent) : QWidget(parent) {
  // Every pixel is painted here; Qt need not clear the area first.
  setAttribute(Qt::WA_OpaquePaintEvent, true);
  setMouseTracking(true);
  setFocusPolicy(Qt::ClickFocus);
  handle_ = RegisterWindow(this, nullptr);
}

VideoWindow::~VideoWindow() = default;

void VideoWindow::SetPicture(const QImage& picture) {
  picture_ = picture;
  picturePainted_ = picture.isNull();
  update();
}

void VideoWindow::SetSourceRect(const QRect& source) {
  if (source == source_) return;
  source_ = source;
  update();
}

void VideoWindow::SetDestinationRect(const QRect& destination) {
  if (destination == destination_) return;
  destination_ = destination;
  update();
}

void VideoWindow::SetBorderColor(COLORREF colour) {
  QColor border(GetRValue(colour), GetGValue(colour), GetBValue(colour));
  if (border == border_) return;
  border_ = border;
  update();
}

void VideoWindow::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  QRect destination = destination_.isNull() ? rect() : destination_;
  QRegion outside = QRegion(rect()).subtracted(QRegion(destination));
  for (const QRect& part : outside) painter.fillRect(part, border_);
  if (destination.isEmpty()) return;
  if (picture_.isNull()) {
    painter.fillRect(destination, Qt::black);
    return;
  }
  QRect source = source_.isValid() ? source_ : picture_.rect();
  painter.drawImage(destination, picture_, source);
  if (!picturePainted_) {
    picturePainted_ = true;
    ++paintedPictures_;
  }
  (void)event;
}

void VideoWindow::Forward(UINT message, WPARAM wParam, LPARAM lParam) {
  if (drain_) PostMessageA(drain_, message, wParam, lParam);
}

void VideoWindow::ForwardMouse(QMouseEvent* event, UINT left, UINT right, UINT middle) {
  UINT message = 0;
  switch (event->button()) {
    case Qt::LeftButton: message = left; break;
    case Qt::RightButton: message = right; break;
    case Qt::MiddleButton: message = middle; break;
    default: return;
  }
  QPoint at = event->position().toPoint();
  Forward(message, ButtonAndKeyFlags(event->buttons(), event->modifiers()), MAKELPARAM(at.x(), at.y()));
}

void VideoWindow::mousePressEvent(QMouseEvent* event) {
  ForwardMouse(event, WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN);
}

void VideoWindow::mouseReleaseEvent(QMouseEvent* event) {
  ForwardMouse(event, WM_LBUTTONUP, WM_RBUTTONUP, WM_MBUTTONUP);
}

void VideoWindow::mouseDoubleClickEvent(QMouseEvent* event) {
  ForwardMouse(event, WM_LBUTTONDBLCLK, WM_RBUTTONDBLCLK, WM_MBUTTONDBLCLK);
}

void VideoWindow::mouseMoveEvent(QMouseEvent* event) {
  QPoint at = event->position().toPoint();
  Forward(WM_MOUSEMOVE, ButtonAndKeyFlags(event->buttons(), event->modifiers()), MAKELPARAM(at.x(), at.y()));
}

void VideoWindow::wheelEvent(QWheelEvent* event) {
  // The wheel message carries the turn in its high word and screen
  // coordinates in lParam.
  QPoint at = event->globalPosition().toPoint();
  WPARAM delta = static_cast<WORD>(static_cast<short>(event->angleDelta().y()));
  Forward(WM_MOUSEWHEEL, (delta << 16) | ButtonAndKeyFlags(event->buttons(), event->modifiers()),
          MAKELPARAM(at.x(), at.y()));
}

void VideoWindow::keyPressEvent(QKeyEvent* event) {
  if (WPARAM key = VirtualKeyOf(event->key())) Forward(WM_KEYDOWN, key, 1);
  QString text = event->text();
  if (text.size() == 1 && text.at(0).unicode() >= 0x20) Forward(WM_CHAR, text.at(0).unicode(), 1);
}

void VideoWindow::keyReleaseEvent(QKeyEvent* event) {
  // Key-up messages carry the previous-state and transition bits.
  if (WPARAM key = VirtualKeyOf(event->key())) Forward(WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
}

}  // namespace reel
