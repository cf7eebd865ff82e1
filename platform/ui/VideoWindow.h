// The window a video renderer draws into: the source part of the current
// picture scaled into the destination rectangle, the rest of the client
// area in the border colour. Mouse and keyboard input goes, as Win32
// messages, to the message drain window when one is set.
//
// A widget like any other: use it on the user-interface thread only. The
// renderer that feeds it hands pictures over from its streaming thread by
// posting to that thread.
#pragma once

#include <QImage>
#include <QRect>
#include <QWidget>

#include "platform/ui/Window.h"

namespace reel {

class VideoWindow : public QWidget {
 public:
  explicit VideoWindow(QWidget* parent = nullptr);
  ~VideoWindow() override;

  // The handle of this window in the platform's window table.
  HWND Handle() const { return handle_; }

  // A null picture leaves the destination black.
  void SetPicture(const QImage& picture);
  const QImage& Picture() const { return picture_; }
  // In picture pixels, top-down.
  void SetSourceRect(const QRect& source);
  // In client coordinates; may reach outside the client area. A null
  // rectangle (QRect()) is the whole client area, whatever its size.
  void SetDestinationRect(const QRect& destination);
  QRect DestinationRect() const { return destination_; }
  void SetBorderColor(COLORREF colour);
  void SetMessageDrain(HWND drain) { drain_ = drain; }
  HWND MessageDrain() const { return drain_; }

  // How many different pictures have been painted (a picture painted twice,
  // by an expose or a grab, counts once).
  long PaintedPictures() const { return paintedPictures_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;

 private:
  void Forward(UINT message, WPARAM wParam, LPARAM lParam);
  void ForwardMouse(QMouseEvent* event, UINT left, UINT right, UINT middle);

  HWND handle_ = nullptr;
  HWND drain_ = nullptr;
  QImage picture_;
  QRect source_;
  QRect destination_;
  QColor border_{Qt::black};
  bool picturePainted_ = true;  // the current picture has been painted once
  long paintedPictures_ = 0;
};

}  // namespace reel
