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

// Mouse and keyboard messages (a video window forwards them to its message
// drain): wParam holds the MK_ button and key flags or the virtual key,
// lParam the client position (MAKELPARAM(x, y)) or the key's repeat count.
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_CHAR = 0x0102;
constexpr UINT WM_MOUSEMOVE = 0x0200;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
constexpr UINT WM_RBUTTONDOWN = 0x0204;
constexpr UINT WM_RBUTTONUP = 0x0205;
constexpr UINT WM_RBUTTONDBLCLK = 0x0206;
constexpr UINT WM_MBUTTONDOWN = 0x0207;
constexpr UINT WM_MBUTTONUP = 0x0208;
constexpr UINT WM_MBUTTONDBLCLK = 0x0209;
constexpr UINT WM_MOUSEWHEEL = 0x020A;

constexpr WPARAM MK_LBUTTON = 0x0001;
constexpr WPARAM MK_RBUTTON = 0x0002;
constexpr WPARAM MK_SHIFT = 0x0004;
constexpr WPARAM MK_CONTROL = 0x0008;
constexpr WPARAM MK_MBUTTON = 0x0010;

// Virtual keys beyond the letters and digits, which are their upper-case
// ASCII codes.
constexpr WPARAM VK_BACK = 0x08;
constexpr WPARAM VK_TAB = 0x09;
constexpr WPARAM VK_RETURN = 0x0D;
constexpr WPARAM VK_SHIFT = 0x10;
constexpr WPARAM VK_CONTROL = 0x11;
constexpr WPARAM VK_MENU = 0x12;
constexpr WPARAM VK_PAUSE = 0x13;
constexpr WPARAM VK_ESCAPE = 0x1B;
constexpr WPARAM VK_SPACE = 0x20;
constexpr WPARAM VK_PRIOR = 0x21;
constexpr WPARAM VK_NEXT = 0x22;
constexpr WPARAM VK_END = 0x23;
constexpr WPARAM VK_HOME = 0x24;
constexpr WPARAM VK_LEFT = 0x25;
constexpr WPARAM VK_UP = 0x26;
constexpr WPARAM VK_RIGHT = 0x27;
constexpr WPARAM VK_DOWN = 0x28;
constexpr WPARAM VK_INSERT = 0x2D;
constexpr WPARAM VK_DELETE = 0x2E;
constexpr WPARAM VK_F1 = 0x70;  // VK_F1 + n is F(n + 1), up to F24

constexpr LPARAM MAKELPARAM(int low, int high) {
  return static_cast<LPARAM>((static_cast<DWORD>(static_cast<WORD>(high)) << 16) | static_cast<WORD>(low));
}

constexpr LONG WS_CHILD = 0x40000000;
constexpr LONG WS_VISIBLE = 0x10000000;
constexpr LONG WS_CLIPSIBLINGS = 0x04000000;
constexpr LONG WS_CLIPCHILDREN = 0x02000000;
constexpr LONG WS_POPUP = static_cast<LONG>(0x80000000u);
constexpr LONG WS_MINIMIZE = 0x20000000;
constexpr LONG WS_DISABLED = 0x08000000;
constexpr LONG WS_MAXIMIZE = 0x01000000;
constexpr LONG WS_CAPTION = 0x00C00000;
constexpr LONG WS_BORDER = 0x00800000;
constexpr LONG WS_VSCROLL = 0x00200000;
constexpr LONG WS_HSCROLL = 0x00100000;
constexpr LONG WS_THICKFRAME = 0x00040000;
constexpr LONG WS_OVERLAPPEDWINDOW = 0x00CF0000;

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
