// Windows, timers and messages in Win32 terms over Qt. Every window has a
// handle (HWND) mapped to a QWidget and a window procedure that receives its
// messages on the user-interface thread (the thread of the QApplication).
// PostMessage is safe from any thread; SendMessage from another thread waits
// until the user-interface thread has handled the message.
#pragma once

#include <functional>

#include "platform/win/WinTypes.h"

class QWidget;

constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_SETCURSOR = 0x0020;
constexpr UINT WM_WINDOWPOSCHANGING = 0x0046;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_USER = 0x0400;

constexpr LONG WS_CHILD = 0x40000000;
constexpr LONG WS_VISIBLE = 0x10000000;
constexpr LONG WS_CLIPSIBLINGS = 0x04000000;
constexpr LONG WS_CLIPCHILDREN = 0x02000000;

// The smallest timer period; shorter ones are raised to it.
constexpr UINT USER_TIMER_MINIMUM = 10;

using WindowProcedure = std::function<LRESULT(HWND window, UINT message, WPARAM wParam, LPARAM lParam)>;
using TIMERPROC = void (*)(HWND window, UINT message, UINT_PTR id, DWORD time);

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Timers deliver WM_TIMER (wParam = id) to the window procedure, or call
// function when one is given. Returns id, or 0 for an unknown window.
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT milliseconds, TIMERPROC function);
BOOL KillTimer(HWND window, UINT_PTR id);
BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase);
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);
BOOL GetClientRect(HWND window, RECT* rect);
BOOL ShowWindow(HWND window, int command);
constexpr int SW_HIDE = 0;
constexpr int SW_SHOW = 5;

namespace reel {

// Makes sure a QApplication exists (created on first use, on the calling
// thread, which becomes the user-interface thread).
void EnsureApplication();
bool IsUserInterfaceThread();

// Gives widget a handle; messages go to procedure (may be empty). The
// handle dies with the widget or with DestroyWindow (which does not delete
// a widget it did not create).
HWND RegisterWindow(QWidget* widget, WindowProcedure procedure);
// A hidden top-level window that only receives messages (the widget is
// owned by the handle and deleted by DestroyWindow).
HWND CreateMessageWindow(WindowProcedure procedure);
QWidget* WidgetFromHandle(HWND window);
// Replaces a window's procedure.
void SetWindowProcedure(HWND window, WindowProcedure procedure);

// Runs the user-interface thread's events until condition holds or the time
// runs out; returns whether the condition held. For tests and command-line
// hosts, which have no event loop of their own.
bool RunMessageLoopUntil(const std::function<bool()>& condition, int timeoutMilliseconds);
// Handles the events that are waiting, then returns.
void PumpMessages();

}  // namespace reel
