// Win32-style message boxes shown with QMessageBox.
//
// Without a usable display (no QApplication, or Qt's "offscreen" platform) the
// box is not shown: its caption and text go to stderr and the default button
// is the answer, so headless hosts and tests never block on a dialog. Tests
// can observe and answer every box through SetMessageBoxHandler.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/win/WinTypes.h"

// Buttons (low four bits of the type).
constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_OKCANCEL = 0x00000001;
constexpr UINT MB_ABORTRETRYIGNORE = 0x00000002;
constexpr UINT MB_YESNOCANCEL = 0x00000003;
constexpr UINT MB_YESNO = 0x00000004;
constexpr UINT MB_RETRYCANCEL = 0x00000005;
constexpr UINT MB_CANCELTRYCONTINUE = 0x00000006;
constexpr UINT MB_TYPEMASK = 0x0000000F;

// Icons.
constexpr UINT MB_ICONHAND = 0x00000010;
constexpr UINT MB_ICONERROR = MB_ICONHAND;
constexpr UINT MB_ICONSTOP = MB_ICONHAND;
constexpr UINT MB_ICONQUESTION = 0x00000020;
constexpr UINT MB_ICONEXCLAMATION = 0x00000030;
constexpr UINT MB_ICONWARNING = MB_ICONEXCLAMATION;
constexpr UINT MB_ICONASTERISK = 0x00000040;
constexpr UINT MB_ICONINFORMATION = MB_ICONASTERISK;
constexpr UINT MB_ICONMASK = 0x000000F0;

// Default button (the first one unless one of these says otherwise).
constexpr UINT MB_DEFBUTTON1 = 0x00000000;
constexpr UINT MB_DEFBUTTON2 = 0x00000100;
constexpr UINT MB_DEFBUTTON3 = 0x00000200;
constexpr UINT MB_DEFMASK = 0x00000F00;

constexpr UINT MB_APPLMODAL = 0x00000000;
constexpr UINT MB_SYSTEMMODAL = 0x00001000;
constexpr UINT MB_TASKMODAL = 0x00002000;

// Results.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;
constexpr int IDTRYAGAIN = 10;
constexpr int IDCONTINUE = 11;

// Shows a message box and returns the ID of the button chosen (0 when the type
// names no known button set). The box is centred over the owner's window
// when the owner has a handle (platform/ui/Window.h); the handler receives
// the owner as given.
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

namespace reel {

// What a message box hook receives and answers (an ID from the list above).
using MessageBoxHandler = std::function<int(HWND owner, const std::string& text, const std::string& caption, UINT type)>;

// Installs a hook that answers every message box instead of showing it (an
// empty function removes it). Returns the previous hook.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

// The button IDs of a type, left to right, and the one that is the default.
std::vector<int> MessageBoxButtons(UINT type);
int MessageBoxDefaultButton(UINT type);

}  // namespace reel
