#include "platform/ui/MessageBox.h"

#include "platform/ui/Window.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <cstdio>
#include <mutex>
#include <vector>

namespace reel {
namespace {

std::mutex handlerLock;
MessageBoxHandler& CurrentHandler() {
  static MessageBoxHandler handler;
  return handler;
}

struct ButtonInfo {
  int id;
  QMessageBox::StandardButton standard;
};

ButtonInfo InfoFor(int id) {
  switch (id) {
    case IDOK: return {id, QMessageBox::Ok};
    case IDCANCEL: return {id, QMessageBox::Cancel};
    case IDABORT: return {id, QMessageBox::Abort};
    case IDRETRY: return {id, QMessageBox::Retry};
    case IDIGNORE: return {id, QMessageBox::Ignore};
    case IDYES: return {id, QMessageBox::Yes};
    case IDNO: return {id, QMessageBox::No};
    case IDTRYAGAIN: return {id, QMessageBox::Retry};
    case IDCONTINUE: return {id, QMessageBox::Ignore};
    default: return {id, QMessageBox::NoButton};
  }
}

bool CanShowWindows() {
  auto* application = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (!application) return false;
  return QGuiApplication::platformName() != QLatin1String("offscreen") &&
         QGuiApplication::platformName() != QLatin1String("minimal");
}

int ShowWithQt(HWND owner, const std::string& text, const std::string& caption, UINT type) {
  // Over its owner's window when the owner has a handle.
  QMessageBox box(owner ? WidgetFromHandle(owner) : nullptr);
  box.setWindowTitle(QString::fromStdString(caption));
  box.setText(QString::fromStdString(text));
  switch (type & MB_ICONMASK) {
    case MB_ICONERROR: box.setIcon(QMessageBox::Critical); break;
    case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
    case MB_ICONWARNING: box.setIcon(QMessageBox::Warning); break;
    case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
    default: break;
  }
  std::vector<std::pair<QAbstractButton*, int>> buttons;
  const int defaultId = MessageBoxDefaultButton(type);
  for (int id : MessageBoxButtons(type)) {
    QPushButton* button = nullptr;
    if (id == IDTRYAGAIN) {
      button = box.addButton(QStringLiteral("&Try Again"), QMessageBox::AcceptRole);
    } else if (id == IDCONTINUE) {
      button = box.addButton(QStringLiteral("&Continue"), QMessageBox::AcceptRole);
    } else {
      button = box.addButton(InfoFor(id).standard);
    }
    if (id == defaultId) box.setDefaultButton(button);
    if (id == IDCANCEL || (id == IDOK && (type & MB_TYPEMASK) == MB_OK)) box.setEscapeButton(button);
    buttons.emplace_back(button, id);
  }
  box.exec();
  for (const auto& [button, id] : buttons) {
    if (box.clickedButton() == button) return id;
  }
  // Closed without a button (only possible when there is an escape button).
  return (type & MB_TYPEMASK) == MB_OK ? IDOK : IDCANCEL;
}

}  // namespace

std::vector<int> MessageBoxButtons(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_OK: return {IDOK};
    case MB_OKCANCEL: return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE: return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL: return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO: return {IDYES, IDNO};
    case MB_RETRYCANCEL: return {IDRETRY, IDCANCEL};
    case MB_CANCELTRYCONTINUE: return {IDCANCEL, IDTRYAGAIN, IDCONTINUE};
    default: return {};
  }
}

int MessageBoxDefaultButton(UINT type) {
  const std::vector<int> buttons = MessageBoxButtons(type);
  if (buttons.empty()) return 0;
  size_t position = 0;
  if ((type & MB_DEFMASK) == MB_DEFBUTTON2) position = 1;
  if ((type & MB_DEFMASK) == MB_DEFBUTTON3) position = 2;
  // Windows falls back to the first button when the default names none.
  return position < buttons.size() ? buttons[position] : buttons.front();
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
  std::lock_guard<std::mutex> guard(handlerLock);
  MessageBoxHandler previous = std::move(CurrentHandler());
  CurrentHandler() = std::move(handler);
  return previous;
}

}  // namespace reel

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  const std::string body = text ? text : "";
  // Windows titles a box without caption "Error".
  const std::string title = caption ? caption : "Error";
  if (reel::MessageBoxButtons(type).empty()) return 0;

  reel::MessageBoxHandler handler;
  {
    std::lock_guard<std::mutex> guard(reel::handlerLock);
    handler = reel::CurrentHandler();
  }
  if (handler) return handler(owner, body, title, type);

  if (!reel::CanShowWindows()) {
    std::fprintf(stderr, "[%s] %s\n", title.c_str(), body.c_str());
    return reel::MessageBoxDefaultButton(type);
  }
  return reel::ShowWithQt(owner, body, title, type);
}
