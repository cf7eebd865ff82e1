#include "platform/ui/Window.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <deque>
#include <set>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>

namespace {

// A message waiting for the user-interface thread. A sent message carries
// the place where its sender waits for the answer.
struct Answer {
  std::mutex lock;
  std::condition_variable ready;
  bool done = false;
  LRESULT result = 0;
};
struct QueuedMessage {
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  Answer* answer;
};

// Messages travel through this queue, under a lock of our own; the Qt event
// posted with each only wakes the user-interface thread. (Qt's own hand-over
// between threads is invisible to the thread sanitiser, and this way no
// thread but the interface thread ever reads a Qt event.)
class MessageQueue {
 public:
  static MessageQueue& Instance() {
    static MessageQueue* queue = new MessageQueue;  // lives as long as the process
    return *queue;
  }
  QEvent* Push(const QueuedMessage& message) {
    auto* wake = new QEvent(WakeKind());
    std::lock_guard<std::mutex> hold(lock_);
    messages_.push_back(message);
    wakes_.insert(wake);
    return wake;
  }
  // The waiting messages, when event is one of our wake-ups.
  bool Take(QEvent* event, std::deque<QueuedMessage>* taken) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!wakes_.erase(event)) return false;
    taken->swap(messages_);
    return true;
  }
  static QEvent::Type WakeKind() {
    static const QEvent::Type kind = static_cast<QEvent::Type>(QEvent::registerEventType());
    return kind;
  }

 private:
  std::mutex lock_;
  std::deque<QueuedMessage> messages_;
  std::set<QEvent*> wakes_;
};

struct WindowRecord {
  QPointer<QWidget> widget;
  bool ownsWidget = false;
  WindowProcedure procedure;
  std::map<UINT_PTR, QTimer*> timers;
};

class WindowTable {
 public:
  static WindowTable& Instance() {
    static WindowTable* table = new WindowTable;  // lives as long as the process
    return *table;
  }

  HWND Add(std::shared_ptr<WindowRecord> record) {
    std::lock_guard<std::mutex> hold(lock_);
    HWND handle = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(next_));
    next_ += 4;
    records_[handle] = std::move(record);
    return handle;
  }
  std::shared_ptr<WindowRecord> Find(HWND handle) {
    std::lock_guard<std::mutex> hold(lock_);
    auto found = records_.find(handle);
    return found == records_.end() ? nullptr : found->second;
  }
  std::shared_ptr<WindowRecord> Remove(HWND handle) {
    std::lock_guard<std::mutex> hold(lock_);
    auto found = records_.find(handle);
    if (found == records_.end()) return nullptr;
    auto record = found->second;
    records_.erase(found);
    return record;
  }

 private:
  std::mutex lock_;
  std::map<HWND, std::shared_ptr<WindowRecord>> records_;
  ULONG_PTR next_ = 0x10000;
};

// Lives on the user-interface thread and hands posted messages to their
// window procedures.
class MessageDispatcher : public QObject {
 public:
  bool event(QEvent* event) override {
    std::deque<QueuedMessage> messages;
    if (!MessageQueue::Instance().Take(event, &messages)) return QObject::event(event);
    for (const QueuedMessage& queued : messages) {
      LRESULT result = Deliver(queued.window, queued.message, queued.wParam, queued.lParam);
      if (Answer* answer = queued.answer) {
        std::lock_guard<std::mutex> hold(answer->lock);
        answer->result = result;
        answer->done = true;
        answer->ready.notify_all();
      }
    }
    return true;
  }
  static LRESULT Deliver(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto record = WindowTable::Instance().Find(window);
    if (!record || !record->procedure) return 0;
    // A copy: the procedure may replace itself or destroy the window.
    WindowProcedure procedure = record->procedure;
    return procedure(window, message, wParam, lParam);
  }
};

MessageDispatcher* Dispatcher() {
  static MessageDispatcher* dispatcher = [] {
    reel::EnsureApplication();
    auto* created = new MessageDispatcher;
    created->moveToThread(QCoreApplication::instance()->thread());
    return created;
  }();
  return dispatcher;
}

}  // namespace

namespace reel {

void EnsureApplication() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (QCoreApplication::instance()) return;
    static int argc = 1;
    static char name[] = "reelpress";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);  // kept for the life of the process
  });
}

bool IsUserInterfaceThread() {
  return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
}

HWND RegisterWindow(QWidget* widget, WindowProcedure procedure) {
  Dispatcher();
  auto record = std::make_shared<WindowRecord>();
  record->widget = widget;
  record->procedure = std::move(procedure);
  HWND handle = WindowTable::Instance().Add(record);
  if (widget) {
    QObject::connect(widget, &QObject::destroyed, [handle] {
      auto removed = WindowTable::Instance().Remove(handle);
      if (removed)
        for (auto& timer : removed->timers) delete timer.second;
    });
  }
  return handle;
}

HWND CreateMessageWindow(WindowProcedure procedure) {
  EnsureApplication();
  auto* widget = new QWidget;
  widget->setAttribute(Qt::WA_DontShowOnScreen, true);
  HWND handle = RegisterWindow(widget, std::move(procedure));
  if (auto record = WindowTable::Instance().Find(handle)) record->ownsWidget = true;
  return handle;
}

QWidget* WidgetFromHandle(HWND window) {
  auto record = WindowTable::Instance().Find(window);
  return record ? record->widget.data() : nullptr;
}

void SetWindowProcedure(HWND window, WindowProcedure procedure) {
  if (auto record = WindowTable::Instance().Find(window)) record->procedure = std::move(procedure);
}

bool RunMessageLoopUntil(const std::function<bool()>& condition, int timeoutMilliseconds) {
  EnsureApplication();
  QElapsedTimer elapsed;
  elapsed.start();
  while (!condition()) {
    if (elapsed.elapsed() >= timeoutMilliseconds) return condition();
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    QCoreApplication::sendPostedEvents();
  }
  return true;
}

void PumpMessages() {
  EnsureApplication();
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
}

}  // namespace reel

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!WindowTable::Instance().Find(window)) return FALSE;
  QCoreApplication::postEvent(Dispatcher(), MessageQueue::Instance().Push({window, message, wParam, lParam, nullptr}));
  return TRUE;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!WindowTable::Instance().Find(window)) return 0;
  if (reel::IsUserInterfaceThread()) return MessageDispatcher::Deliver(window, message, wParam, lParam);
  // Handled on the interface thread; this thread waits for the answer.
  Answer answer;
  QCoreApplication::postEvent(Dispatcher(), MessageQueue::Instance().Push({window, message, wParam, lParam, &answer}));
  std::unique_lock<std::mutex> hold(answer.lock);
  answer.ready.wait(hold, [&] { return answer.done; });
  return answer.result;
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT milliseconds, TIMERPROC function) {
  auto record = WindowTable::Instance().Find(window);
  if (!record || !record->widget) return 0;
  if (milliseconds < USER_TIMER_MINIMUM) milliseconds = USER_TIMER_MINIMUM;
  QTimer*& timer = record->timers[id];
  // Setting an existing timer again restarts it with the new period.
  if (!timer) {
    timer = new QTimer;
    timer->moveToThread(QCoreApplication::instance()->thread());
    QObject::connect(timer, &QTimer::timeout, Dispatcher(), [window, id, function] {
      if (function) function(window, WM_TIMER, id, 0);
      else MessageDispatcher::Deliver(window, WM_TIMER, id, 0);
    });
  }
  timer->start(static_cast<int>(milliseconds));
  return id;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
  auto record = WindowTable::Instance().Find(window);
  if (!record) return FALSE;
  auto found = record->timers.find(id);
  if (found == record->timers.end()) return FALSE;
  delete found->second;
  record->timers.erase(found);
  return TRUE;
}

BOOL InvalidateRect(HWND window, const RECT* rect, BOOL) {
  QWidget* widget = reel::WidgetFromHandle(window);
  if (!widget) return FALSE;
  if (rect) widget->update(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top);
  else widget->update();
  return TRUE;
}

BOOL DestroyWindow(HWND window) {
  auto record = WindowTable::Instance().Remove(window);
  if (!record) return FALSE;
  for (auto& timer : record->timers) delete timer.second;
  record->timers.clear();
  if (record->procedure) record->procedure(window, WM_DESTROY, 0, 0);
  if (record->ownsWidget && record->widget) delete record->widget.data();
  return TRUE;
}

BOOL IsWindow(HWND window) { return WindowTable::Instance().Find(window) != nullptr; }

BOOL GetClientRect(HWND window, RECT* rect) {
  QWidget* widget = reel::WidgetFromHandle(window);
  if (!widget || !rect) return FALSE;
  *rect = RECT{0, 0, widget->width(), widget->height()};
  return TRUE;
}

BOOL ShowWindow(HWND window, int command) {
  QWidget* widget = reel::WidgetFromHandle(window);
  if (!widget) return FALSE;
  bool wasVisible = widget->isVisible();
  widget->setVisible(command != SW_HIDE);
  return wasVisible;
}
