// The native Win32 view of the main window `anaform` (user32, gdi32 and
// comctl32 only).
//
// The window makes one child window per row of the shared layout
// (window/layout.h), placed in pixels of the system's dots per inch. It shows
// a window::Model: every button action works on the model, and refresh()
// brings the controls up to date with it, after each action and before every
// message box. Edits in the text boxes go straight into the model.
//
// The keyboard: Tab and Shift+Tab walk the layout's focus order (skipping
// what is hidden or disabled), Enter clicks the focused button and Space is
// the button's own; Alt+F4 and the close box run the quit action like KAPAT.
// Messages reach preTranslate() before they are dispatched; runMessageLoop()
// does that for the program. One action runs at a time: a click that a
// message box's loop delivers meanwhile runs after the action has ended.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "window/actions.h"
#include "window/layout.h"
#include "window/model.h"

namespace window::win32 {

class MainWindow {
 public:
  explicit MainWindow(Model& model, HINSTANCE instance = GetModuleHandleW(nullptr));
  ~MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // An empty quit action posts the end of the message loop (WM_QUIT).
  void setActions(Actions actions);
  Model& model() { return model_; }

  // The message boxes of this window: refresh, then a modal box.
  MessageService& messages();

  // Shows the model's state in the controls.
  void refresh();

  // Shows the window and puts the focus on `sonuc`.
  void show(int showCommand = SW_SHOWNORMAL);

  HWND hwnd() const { return hwnd_; }
  // The child window of the layout's control of that name, or nullptr.
  HWND control(std::string_view name) const;
  // The layout's control that a child window shows, or nullptr.
  const layout::Control* controlOf(HWND child) const;
  // Dots per inch the layout was converted with.
  int dpiX() const { return dpiX_; }
  int dpiY() const { return dpiY_; }

  // The window's keyboard handling before a message is dispatched: Tab,
  // Shift+Tab and Enter on a button. True when the message was used up.
  bool preTranslate(const MSG& msg);

 private:
  struct Child {
    const layout::Control* control;
    HWND hwnd;
  };

  static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
  void make(const layout::Control& control, HWND parent, int id);
  void run(layout::Command command);
  void moveFocus(bool backwards);
  void onEdit(HWND edit);
  bool drawItem(const DRAWITEMSTRUCT& item);
  LRESULT colourStatic(HDC dc, HWND child);
  HFONT font(const layout::Font& font);
  HBRUSH brush(COLORREF colour);
  int px(int twips) const { return layout::toPixels(twips, dpiX_); }
  int py(int twips) const { return layout::toPixels(twips, dpiY_); }

  Model& model_;
  HINSTANCE instance_;
  Actions actions_;
  std::unique_ptr<MessageService> messages_;
  HWND hwnd_ = nullptr;
  int dpiX_ = 96, dpiY_ = 96;
  std::vector<Child> children_;
  std::vector<std::pair<layout::Font, HFONT>> fonts_;
  std::vector<std::pair<COLORREF, HBRUSH>> brushes_;
  HWND lastFocus_ = nullptr;
  bool refreshing_ = false;
  // A click that reaches the window while an action runs (from a message
  // box's loop) waits for that action to end.
  bool running_ = false;
  std::vector<layout::Command> pending_;

  // What the controls show, to change only what the model changed.
  std::vector<std::string> shownSonuc_, shownSonuc1_, shownItems_;
  std::array<std::string, 6> shownSay_;
  Rgb shownRenk_{};
};

// Shows `text` in a modal box over `owner`: MessageBoxW with the title
// "KARVELTA", no icon, one OK button. Returns when the box is closed.
void showMessageBox(HWND owner, const std::string& text);

// Hands one message to the window: preTranslate(), else translated and
// dispatched.
void dispatch(MainWindow& window, const MSG& msg);

// Runs the message loop until WM_QUIT and returns its exit code.
int runMessageLoop(MainWindow& window);

// The character code a typed UTF-16 character gives the key filter: its
// code in the window's code page, Windows code page 1254 ('?' where that
// code page has none).
std::int16_t keyPressCode(wchar_t character);

}  // namespace window::win32
