// Helpers for tests of the Win32 window: handing queued messages to the
// window, typing keys, and looking at the next message box.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "window/win32/main_window.h"
#include "window/win32/wide_text.h"

namespace window::win32::testing {

// Hands every queued message to the window as its message loop would.
inline void pump(MainWindow& window) {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    dispatch(window, msg);
  }
}

// Shows the window and hands it its messages until it is active with a
// control focused: Wine may deliver the activation some messages after the
// window is shown, later still on a busy machine. Gives up after about two
// seconds, leaving the test to find what is missing.
inline void showActive(MainWindow& window, int how = SW_SHOWNORMAL) {
  window.show(how);
  for (int i = 0; i < 400; ++i) {
    pump(window);
    if (GetActiveWindow() == window.hwnd() && GetFocus() != nullptr) return;
    Sleep(5);
  }
}
// One key pressed and released at the focused control, as the keyboard
// would queue it (the character, if any, comes from TranslateMessage).
inline void pressKey(MainWindow& window, WPARAM virtualKey, bool alt = false) {
  HWND target = GetFocus();
  const UINT down = alt ? WM_SYSKEYDOWN : WM_KEYDOWN;
  const UINT up = alt ? WM_SYSKEYUP : WM_KEYUP;
  const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(static_cast<UINT>(virtualKey), 0)) << 16;
  const LPARAM context = alt ? (1L << 29) : 0;
  PostMessageW(target, down, virtualKey, 1 | scan | context);
  pump(window);
  PostMessageW(GetFocus(), up, virtualKey, 1 | scan | context | (1L << 30) | (1L << 31));
  pump(window);
}

// A character typed into the focused control.
inline void typeCharacter(MainWindow& window, wchar_t character) {
  PostMessageW(GetFocus(), WM_CHAR, character, 1);
  pump(window);
}

// Text typed into a control, focused again before each character: the
// window's activation, which Wine may deliver some messages after it is
// shown, moves the focus to the window's first control.
inline void typeInto(MainWindow& window, HWND control, const std::wstring& text) {
  for (wchar_t character : text) {
    if (GetFocus() != control) SetFocus(control);
    typeCharacter(window, character);
  }
}

// Sets or clears the Shift key in the thread's keyboard state.
inline void holdShift(bool down) {
  BYTE keys[256];
  GetKeyboardState(keys);
  keys[VK_SHIFT] = keys[VK_LSHIFT] = down ? 0x80 : 0;
  SetKeyboardState(keys);
}

// What a message box showed.
struct Box {
  std::string title, text;
  int buttons = 0;           // push buttons in the box
  std::string okText;        // caption of the button with the id IDOK
  bool iconShown = false;    // a visible icon control
  HWND owner = nullptr;
  bool ownerEnabled = true;  // whether the owner took input while it was open
};

namespace detail {
inline std::function<void(HWND)>& boxHandler() {
  static std::function<void(HWND)> handler;
  return handler;
}

inline BOOL CALLBACK findBox(HWND hwnd, LPARAM found) {
  wchar_t cls[16] = {};
  GetClassNameW(hwnd, cls, 16);
  if (std::wstring(cls) == L"#32770" && IsWindowVisible(hwnd)) {
    *reinterpret_cast<HWND*>(found) = hwnd;
    return FALSE;
  }
  return TRUE;
}

inline BOOL CALLBACK readChild(HWND child, LPARAM out) {
  auto& box = *reinterpret_cast<Box*>(out);
  wchar_t cls[16] = {};
  GetClassNameW(child, cls, 16);
  const LONG style = GetWindowLongW(child, GWL_STYLE);
  if (std::wstring(cls) == L"Button" && IsWindowVisible(child)) {
    ++box.buttons;
    if (GetDlgCtrlID(child) == IDOK) box.okText = windowText(child);
  }
  // A box without an icon may keep an empty icon control.
  if (std::wstring(cls) == L"Static" && (style & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child) &&
      SendMessageW(child, STM_GETICON, 0, 0) != 0)
    box.iconShown = true;
  return TRUE;
}

inline void CALLBACK onTimer(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND box = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), findBox, reinterpret_cast<LPARAM>(&box));
  if (box == nullptr) return;
  KillTimer(nullptr, timer);
  std::function<void(HWND)> handler = std::move(boxHandler());
  boxHandler() = nullptr;
  if (handler) handler(box);
}
}  // namespace detail

// Watches (from the loop of the box that is about to open) for the next
// message box of this thread, reads it, lets `inspect` look at it while it
// is open, and closes it with its OK button. Call before the code that
// opens the box.
inline void closeNextBox(std::function<void(const Box&)> inspect) {
  detail::boxHandler() = [inspect = std::move(inspect)](HWND hwnd) {
    Box box;
    box.title = windowText(hwnd);
    wchar_t text[1024] = {};
    GetDlgItemTextW(hwnd, 0xFFFF, text, 1024);
    box.text = narrow(text);
    EnumChildWindows(hwnd, detail::readChild, reinterpret_cast<LPARAM>(&box));
    box.owner = GetWindow(hwnd, GW_OWNER);
    box.ownerEnabled = box.owner != nullptr && IsWindowEnabled(box.owner);
    inspect(box);
    HWND ok = GetDlgItem(hwnd, IDOK);
    if (ok != nullptr) SendMessageW(ok, BM_CLICK, 0, 0);
    if (IsWindow(hwnd) && IsWindowVisible(hwnd)) PostMessageW(hwnd, WM_COMMAND, IDOK, 0);
  };
  SetTimer(nullptr, 0, 10, detail::onTimer);
}

}  // namespace window::win32::testing
