// What the window program shows, seen from another program of the same
// Windows session, for the click-through test under Wine (the X display
// shows pixels only). Prints shell assignments for `eval`:
//
//   window_probe main   the main window "KARVELTA": its client area in screen
//                       coordinates (client_left, client_top, client_width,
//                       client_height) and whether it is enabled
//   window_probe box    the open message box of the main window: box_title,
//                       box_text, box_buttons (push buttons), box_icon (1 when
//                       an icon shows) and the middle of its OK button in
//                       screen coordinates (ok_x, ok_y)
//
// Exit status: 0 found, 1 not (nothing printed), 2 wrong arguments.
#include <windows.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "window/win32/wide_text.h"

namespace {

using window::win32::windowText;

// A value quoted for the shell: in single quotes, each ' as '\''.
std::string quoted(std::string_view value) {
  std::string out = "'";
  for (char c : value) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

void print(std::string_view name, std::string_view value) {
  const std::string line = std::string(name) + "=" + quoted(value) + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()),
            &written, nullptr);
}

void print(std::string_view name, long value) { print(name, std::to_string(value)); }

std::wstring className(HWND hwnd) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, 64);
  return name;
}

HWND mainWindow() { return FindWindowW(L"KarveltaAnaform", L"KARVELTA"); }

struct BoxSearch {
  HWND owner;
  HWND found = nullptr;
};

BOOL CALLBACK findBox(HWND hwnd, LPARAM param) {
  auto& search = *reinterpret_cast<BoxSearch*>(param);
  if (className(hwnd) == L"#32770" && IsWindowVisible(hwnd) &&
      GetWindow(hwnd, GW_OWNER) == search.owner) {
    search.found = hwnd;
    return FALSE;
  }
  return TRUE;
}

struct BoxContents {
  int buttons = 0;
  bool icon = false;
};

BOOL CALLBACK readBoxChild(HWND child, LPARAM param) {
  auto& contents = *reinterpret_cast<BoxContents*>(param);
  if (!IsWindowVisible(child)) return TRUE;
  const std::wstring cls = className(child);
  const LONG style = GetWindowLongW(child, GWL_STYLE);
  if (cls == L"Button") ++contents.buttons;
  if (cls == L"Static" && (style & SS_TYPEMASK) == SS_ICON &&
      SendMessageW(child, STM_GETICON, 0, 0) != 0)
    contents.icon = true;
  return TRUE;
}

int probeMain() {
  HWND main = mainWindow();
  if (main == nullptr || !IsWindowVisible(main)) return 1;
  RECT client;
  GetClientRect(main, &client);
  POINT origin{0, 0};
  ClientToScreen(main, &origin);
  print("client_left", origin.x);
  print("client_top", origin.y);
  print("client_width", client.right - client.left);
  print("client_height", client.bottom - client.top);
  print("main_enabled", IsWindowEnabled(main) ? 1L : 0L);
  return 0;
}

int probeBox() {
  HWND main = mainWindow();
  if (main == nullptr) return 1;
  BoxSearch search{main};
  EnumWindows(findBox, reinterpret_cast<LPARAM>(&search));
  HWND box = search.found;
  if (box == nullptr) return 1;
  HWND ok = GetDlgItem(box, IDOK);
  if (ok == nullptr) return 1;
  // The box's text is the static control with the id 0xFFFF.
  HWND text = GetDlgItem(box, 0xFFFF);
  BoxContents contents;
  EnumChildWindows(box, readBoxChild, reinterpret_cast<LPARAM>(&contents));
  RECT button;
  GetWindowRect(ok, &button);
  print("box_title", windowText(box));
  print("box_text", text != nullptr ? windowText(text) : std::string());
  print("box_buttons", contents.buttons);
  print("box_icon", contents.icon ? 1L : 0L);
  print("ok_text", windowText(ok));
  print("ok_x", (button.left + button.right) / 2);
  print("ok_y", (button.top + button.bottom) / 2);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string_view what = argc == 2 ? argv[1] : "";
  if (what == "main") return probeMain();
  if (what == "box") return probeBox();
  std::fputs("usage: window_probe main|box\n", stderr);
  return 2;
}
