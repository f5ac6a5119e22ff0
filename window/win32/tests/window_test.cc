// The Win32 window on Wine's display-less driver: every control's place in
// pixels at 96 DPI, fonts, texts, visibility, the focus order, the keyboard,
// the message box, and what the controls draw.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "window/model.h"
#include "window/testing/expected_layout.h"
#include "window/win32/main_window.h"
#include "window/win32/testing/win32_helpers.h"
#include "window/win32/wide_text.h"

namespace {

using window::testing::expectedLayout;
using window::win32::windowText;
namespace t = window::win32::testing;

class Win32Window : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(view.hwnd(), nullptr);
    ASSERT_EQ(view.dpiX(), 96) << "the expected pixels are those of 96 DPI";
    ASSERT_EQ(view.dpiY(), 96);
  }

  HWND control(const char* name) {
    HWND h = view.control(name);
    EXPECT_NE(h, nullptr) << name;
    return h;
  }
  std::string focused() {
    const window::layout::Control* c = view.controlOf(GetFocus());
    return c != nullptr ? std::string(c->name) : "(none)";
  }
  // Rectangle of a control relative to its parent's client area.
  RECT placeOf(HWND h) {
    RECT r;
    GetWindowRect(h, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(h), reinterpret_cast<POINT*>(&r), 2);
    return r;
  }
  // What a control draws, through WM_PRINTCLIENT into a bitmap of its size.
  COLORREF drawnPixel(HWND h, int x, int y) {
    RECT r;
    GetClientRect(h, &r);
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, r.right, r.bottom);
    HGDIOBJ old = SelectObject(dc, bitmap);
    SendMessageW(h, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT | PRF_ERASEBKGND);
    const COLORREF pixel = GetPixel(dc, x, y);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return pixel;
  }

  window::Model model;
  window::win32::MainWindow view{model};
};

TEST_F(Win32Window, ClientAreaTitleFixedSizeCentred) {
  RECT client;
  GetClientRect(view.hwnd(), &client);
  EXPECT_EQ(client.right, 964);
  EXPECT_EQ(client.bottom, 332);
  EXPECT_EQ(windowText(view.hwnd()), "KARVELTA");
  const LONG style = GetWindowLongW(view.hwnd(), GWL_STYLE);
  EXPECT_FALSE(style & WS_THICKFRAME) << "no sizing frame";
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_TRUE(style & WS_SYSMENU) << "close box";
  EXPECT_EQ(GetMenu(view.hwnd()), nullptr);

  RECT work, frame;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  GetWindowRect(view.hwnd(), &frame);
  EXPECT_LE(std::abs((frame.left + frame.right) - (work.left + work.right)), 2);
  EXPECT_LE(std::abs((frame.top + frame.bottom) - (work.top + work.bottom)), 2);
}

TEST_F(Win32Window, EveryControlAtItsPlaceInPixels) {
  for (const auto& [name, box] : expectedLayout()) {
    SCOPED_TRACE(name);
    HWND h = control(name.c_str());
    ASSERT_NE(h, nullptr);
    const RECT r = placeOf(h);
    EXPECT_EQ(r.left, box.left / 15);
    EXPECT_EQ(r.top, box.top / 15);
    EXPECT_EQ(r.right - r.left, box.width / 15);
    EXPECT_EQ(r.bottom - r.top, box.height / 15) << "a drop-down list counts closed";
  }
  HWND frame = control("Frame1");
  for (const char* inPanel : window::testing::kPanelControls)
    EXPECT_EQ(GetParent(control(inPanel)), frame) << inPanel;
  EXPECT_EQ(GetParent(frame), view.hwnd());
  // KAPAT reaches 5 pixels past the right and bottom edges; sonuc1 far below.
  EXPECT_EQ(placeOf(control("kapat")).right, 969);
  EXPECT_EQ(placeOf(control("kapat")).bottom, 337);
  EXPECT_EQ(placeOf(control("sonuc1")).bottom, 528);
}

TEST_F(Win32Window, TextsAndStartState) {
  for (const auto& [name, text] : window::testing::expectedCaptions())
    EXPECT_EQ(windowText(control(name.c_str())), text) << name;
  // Through the wide-character calls: the Turkish letters are UTF-16 units.
  wchar_t wide[64] = {};
  GetWindowTextW(control("Label1_2"), wide, 64);
  EXPECT_EQ(std::wstring(wide), L"SUTUN \u00D6ZEL\u0130\u011E\u0130");

  EXPECT_EQ(SendMessageW(control("sonuc"), LB_GETCOUNT, 0, 0), 0);
  EXPECT_EQ(SendMessageW(control("sonuc1"), LB_GETCOUNT, 0, 0), 0);
  EXPECT_EQ(windowText(control("sinir")), "50");
  for (const char* empty : {"tabloismi", "alanismi", "sorgu"})
    EXPECT_EQ(windowText(control(empty)), "") << empty;
  HWND verituru = control("verituru");
  EXPECT_EQ(GetWindowLongW(verituru, GWL_STYLE) & 3, CBS_DROPDOWNLIST) << "choice only";
  EXPECT_EQ(SendMessageW(verituru, CB_GETCURSEL, 0, 0), CB_ERR);
  ASSERT_EQ(SendMessageW(verituru, CB_GETCOUNT, 0, 0), 6);
  for (int i = 0; i < 6; ++i) {
    wchar_t item[64] = {};
    SendMessageW(verituru, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item));
    EXPECT_EQ(window::win32::narrow(item), window::testing::kDataTypeItems[i]);
  }
  // Labels show their text as it is ('&' is no mnemonic) and align as laid out.
  auto staticStyle = [&](const char* name) { return GetWindowLongW(control(name), GWL_STYLE); };
  EXPECT_TRUE(staticStyle("Label2_0") & SS_NOPREFIX);
  EXPECT_EQ(staticStyle("Label2_0") & SS_TYPEMASK, SS_CENTER);
  EXPECT_EQ(staticStyle("Label2_9") & SS_TYPEMASK, SS_CENTER) << "wraps within its box";
  EXPECT_EQ(staticStyle("say1") & SS_TYPEMASK, SS_RIGHT);
  EXPECT_EQ(staticStyle("Label2_3") & SS_TYPEMASK, SS_LEFTNOWORDWRAP);
}

TEST_F(Win32Window, FontsByFaceSizeWeightAndTurkishCharset) {
  struct Expected {
    const char* name;
    const wchar_t* face;
    int height;  // pixels at 96 DPI, as a character height
    bool bold;
  };
  const std::vector<Expected> fonts = {
      {"Label2_0", L"MS Sans Serif", 18, true},  {"Label2_1", L"Arial Narrow", 13, true},
      {"Label2_2", L"Arial Narrow", 13, true},   {"Label2_9", L"Arial", 21, true},
      {"Label3_0", L"MS Sans Serif", 32, true},  {"Label3_1", L"MS Sans Serif", 32, true},
      {"basla", L"Arial", 11, true},             {"Label2_3", L"Arial", 19, false},
      {"say1", L"Arial", 19, false},             {"Label2_8", L"Arial", 19, false},
      {"say6", L"Arial", 19, false},             {"tabloolustur", L"Arial Narrow", 11, false},
      {"sinir", L"MS Sans Serif", 13, false},    {"sorguolusturma", L"Arial Narrow", 11, false},
      // The window's default font: MS Sans Serif 8.25 pt.
      {"sonuc", L"MS Sans Serif", 11, false},    {"yedekle", L"MS Sans Serif", 11, false},
      {"kapat", L"MS Sans Serif", 11, false},    {"verituru", L"MS Sans Serif", 11, false},
      {"Label1_0", L"MS Sans Serif", 11, false}, {"Frame1", L"MS Sans Serif", 11, false},
  };
  for (const Expected& e : fonts) {
    SCOPED_TRACE(e.name);
    auto font = reinterpret_cast<HFONT>(SendMessageW(control(e.name), WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);
    LOGFONTW lf{};
    ASSERT_EQ(GetObjectW(font, sizeof lf, &lf), static_cast<int>(sizeof lf));
    EXPECT_EQ(std::wstring(lf.lfFaceName), e.face);
    EXPECT_EQ(lf.lfHeight, -e.height);
    EXPECT_EQ(lf.lfWeight, e.bold ? FW_BOLD : FW_NORMAL);
    EXPECT_EQ(lf.lfCharSet, TURKISH_CHARSET);
    EXPECT_FALSE(lf.lfItalic || lf.lfUnderline || lf.lfStrikeOut);
  }
}

TEST_F(Win32Window, PanelHiddenAndDisabledButtonsEnabled) {
  view.show(SW_SHOWNORMAL);
  EXPECT_TRUE(IsWindowVisible(view.hwnd()));
  HWND frame = control("Frame1");
  EXPECT_FALSE(IsWindowVisible(frame));
  EXPECT_FALSE(IsWindowEnabled(frame));
  for (const char* inPanel : window::testing::kPanelControls)
    EXPECT_FALSE(IsWindowVisible(control(inPanel))) << inPanel;
  for (const char* disabled : {"tabloolustur", "sorguolusturma", "kontrolet"})
    EXPECT_FALSE(IsWindowEnabled(control(disabled))) << disabled;
  for (const char* shown : {"yedekle", "basla", "kapat", "sonuc", "sonuc1", "renk", "say6"}) {
    EXPECT_TRUE(IsWindowVisible(control(shown))) << shown;
    EXPECT_TRUE(IsWindowEnabled(control(shown))) << shown;
  }
}

TEST_F(Win32Window, FocusStartsOnSonucAndTabWalksTheOrder) {
  t::showActive(view);
  EXPECT_EQ(focused(), "sonuc");
  std::vector<std::string> reached;
  for (int i = 0; i < 5; ++i) {
    t::pressKey(view, VK_TAB);
    reached.push_back(focused());
  }
  // The panel's controls are hidden and disabled, so Tab passes them by.
  EXPECT_EQ(reached, (std::vector<std::string>{"basla", "yedekle", "kapat", "sonuc1", "sonuc"}));
  t::holdShift(true);
  reached.clear();
  for (int i = 0; i < 3; ++i) {
    t::pressKey(view, VK_TAB);
    reached.push_back(focused());
  }
  t::holdShift(false);
  EXPECT_EQ(reached, (std::vector<std::string>{"sonuc1", "kapat", "yedekle"}));

  // With the panel opened, Tab goes through its controls in the layout's order.
  EnableWindow(control("Frame1"), TRUE);
  ShowWindow(control("Frame1"), SW_SHOW);
  EnableWindow(control("tabloolustur"), TRUE);
  SetFocus(control("yedekle"));
  reached.clear();
  for (int i = 0; i < 6; ++i) {
    t::pressKey(view, VK_TAB);
    reached.push_back(focused());
  }
  EXPECT_EQ(reached, (std::vector<std::string>{"sinir", "tabloismi", "verituru", "alanismi",
                                               "tabloolustur", "kapat"}));
}

TEST_F(Win32Window, SpaceAndEnterClickTheFocusedButton) {
  int backups = 0, runs = 0, quits = 0;
  view.setActions({.yedekle = [&] { ++backups; }, .basla = [&] { ++runs; },
                   .quit = [&] { ++quits; }});
  t::showActive(view);
  SetFocus(control("yedekle"));
  t::pressKey(view, VK_SPACE);
  EXPECT_EQ(backups, 1) << "Space on YEDEK AL (a graphical button)";
  t::pressKey(view, VK_RETURN);
  EXPECT_EQ(backups, 2) << "Enter on YEDEK AL";
  SetFocus(control("basla"));
  t::pressKey(view, VK_SPACE);
  t::pressKey(view, VK_RETURN);
  EXPECT_EQ(runs, 2) << "Space and Enter on TABLO VE ALANLARI GÜNCELLE";
  EXPECT_EQ(backups, 2) << "only the focused button runs";
  // Enter held down clicks once; Enter in a list clicks nothing.
  PostMessageW(control("basla"), WM_KEYDOWN, VK_RETURN, 1 | (1L << 30));
  t::pump(view);
  EXPECT_EQ(runs, 2);
  SetFocus(control("sonuc"));
  t::pressKey(view, VK_RETURN);
  t::pressKey(view, VK_SPACE);
  EXPECT_EQ(backups + runs + quits, 4);
  SetFocus(control("kapat"));
  t::pressKey(view, VK_RETURN);
  EXPECT_EQ(quits, 1) << "Enter on KAPAT";
}

TEST_F(Win32Window, KapatTheCloseBoxAndAltF4Quit) {
  int quits = 0;
  view.setActions({.yedekle = {}, .basla = {}, .quit = [&] { ++quits; }});
  t::showActive(view);
  SendMessageW(control("kapat"), BM_CLICK, 0, 0);
  t::pump(view);
  EXPECT_EQ(quits, 1) << "click on KAPAT";
  SendMessageW(view.hwnd(), WM_SYSCOMMAND, SC_CLOSE, 0);
  t::pump(view);
  EXPECT_EQ(quits, 2) << "close box";
  SetFocus(control("basla"));
  t::pressKey(view, VK_F4, /*alt=*/true);
  EXPECT_EQ(quits, 3) << "Alt+F4 with the focus on a button";
  EXPECT_TRUE(IsWindow(view.hwnd())) << "the quit action ends the program, not the window";

  // Without an action of its own, KAPAT ends the message loop.
  view.setActions({});
  SendMessageW(control("kapat"), BM_CLICK, 0, 0);
  MSG msg;
  bool quit = false;
  // Everything else is dispatched: an unpainted window would keep WM_PAINT
  // in the queue for ever.
  while (!quit && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    quit = msg.message == WM_QUIT;
    if (!quit) DispatchMessageW(&msg);
  }
  EXPECT_TRUE(quit);
}

TEST_F(Win32Window, MessageBoxOverTheCurrentState) {
  t::Box seen;
  LRESULT linesBehind = -1;
  std::string say1Behind;
  view.setActions({.yedekle = {},
                   .basla =
                       [&] {
                         model.sonuc1.push_back("TABLO ADI :fisno");
                         model.say[0] = "1";
                         view.messages().show(" Güncelleme Bitti   ");
                       },
                   .quit = {}});
  t::showActive(view);
  t::closeNextBox([&](const t::Box& box) {
    seen = box;
    linesBehind = SendMessageW(control("sonuc1"), LB_GETCOUNT, 0, 0);
    say1Behind = windowText(control("say1"));
  });
  SendMessageW(control("basla"), BM_CLICK, 0, 0);
  t::pump(view);
  EXPECT_EQ(seen.title, "KARVELTA");
  EXPECT_EQ(seen.text, " Güncelleme Bitti   ") << "the blanks are kept";
  EXPECT_EQ(seen.buttons, 1);
  EXPECT_EQ(seen.okText, "OK");
  EXPECT_FALSE(seen.iconShown);
  EXPECT_EQ(seen.owner, view.hwnd());
  EXPECT_FALSE(seen.ownerEnabled) << "modal over the window";
  EXPECT_EQ(linesBehind, 1);
  EXPECT_EQ(say1Behind, "1");
  EXPECT_TRUE(IsWindowEnabled(view.hwnd())) << "the window takes input again";
}

TEST_F(Win32Window, AClickWhileAnActionRunsWaitsForItsEnd) {
  std::vector<std::string> events;
  view.setActions({.yedekle = [&] { events.push_back("yedekle"); },
                   .basla =
                       [&] {
                         events.push_back("basla begins");
                         view.messages().show(" Güncelleme Bitti   ");
                         events.push_back("basla ends");
                       },
                   .quit = [&] { events.push_back("quit"); }});
  t::showActive(view);
  // Clicks delivered by the message box's own loop while it is open.
  t::closeNextBox([&](const t::Box&) {
    SendMessageW(control("yedekle"), BM_CLICK, 0, 0);
    SendMessageW(view.hwnd(), WM_CLOSE, 0, 0);
  });
  SendMessageW(control("basla"), BM_CLICK, 0, 0);
  t::pump(view);
  EXPECT_EQ(events, (std::vector<std::string>{"basla begins", "basla ends", "yedekle", "quit"}));
  SendMessageW(control("yedekle"), BM_CLICK, 0, 0);
  EXPECT_EQ(events.back(), "yedekle") << "the window takes clicks again";
}

TEST_F(Win32Window, ViewFollowsTheModelAndEditsGoIntoIt) {
  model.sonuc = {"TABLO ADI :fisno"};
  model.sonuc1 = {"TABLO ADI :satislar", "TABLO ADI :satislar SUTUN ADI :urun METİN"};
  model.say = {"1", "2", "3", "4", "5", "6"};
  model.tabloismi = "satışlar";
  model.sinir = "100";
  model.verituruIndex = 3;
  view.refresh();
  EXPECT_EQ(SendMessageW(control("sonuc"), LB_GETCOUNT, 0, 0), 1);
  ASSERT_EQ(SendMessageW(control("sonuc1"), LB_GETCOUNT, 0, 0), 2);
  wchar_t line[128] = {};
  SendMessageW(control("sonuc1"), LB_GETTEXT, 1, reinterpret_cast<LPARAM>(line));
  EXPECT_EQ(window::win32::narrow(line), "TABLO ADI :satislar SUTUN ADI :urun METİN");
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(windowText(control(("say" + std::to_string(i + 1)).c_str())), std::to_string(i + 1));
  EXPECT_EQ(windowText(control("tabloismi")), "satışlar");
  EXPECT_EQ(windowText(control("sinir")), "100");
  EXPECT_EQ(SendMessageW(control("verituru"), CB_GETCURSEL, 0, 0), 3);
  EXPECT_EQ(model.tabloismi, "satışlar") << "showing the model does not write it back";

  // The update run empties the lists.
  model.sonuc.clear();
  model.sonuc1 = {"other"};
  view.refresh();
  EXPECT_EQ(SendMessageW(control("sonuc"), LB_GETCOUNT, 0, 0), 0);
  EXPECT_EQ(SendMessageW(control("sonuc1"), LB_GETCOUNT, 0, 0), 1);

  // Typing into a box (the panel opened for the test) goes into the model,
  // Turkish letters included; so does a choice in verituru.
  EnableWindow(control("Frame1"), TRUE);
  ShowWindow(control("Frame1"), SW_SHOW);
  t::showActive(view);
  t::typeInto(view, control("alanismi"), L"fiyat\u015F");
  EXPECT_EQ(model.alanismi, "fiyatş");
  SendMessageW(control("verituru"), CB_SETCURSEL, 1, 0);
  SendMessageW(view.hwnd(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control("verituru")), CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(control("verituru")));
  EXPECT_EQ(model.verituruIndex, 1);
}

TEST_F(Win32Window, SinirTakesDigitsAndCommasFromTheKeyboard) {
  EnableWindow(control("Frame1"), TRUE);
  ShowWindow(control("Frame1"), SW_SHOW);
  t::showActive(view);
  HWND sinir = control("sinir");
  SetWindowTextW(sinir, L"");
  t::typeInto(view, sinir, L"1,0");
  EXPECT_EQ(windowText(sinir), "1,0");
  t::typeInto(view, sinir, L"a .-x\u015F\u0130\u011F");
  t::typeInto(view, sinir, std::wstring(1, 27));  // Escape
  EXPECT_EQ(windowText(sinir), "1,0");
  EXPECT_EQ(model.sinir, "1,0");
  t::typeInto(view, sinir, std::wstring(1, 8));  // Backspace
  EXPECT_EQ(windowText(sinir), "1,");
  // Keys typed through the keyboard's own path reach the filter too.
  t::pressKey(view, 'A');
  t::pressKey(view, '7');
  EXPECT_EQ(windowText(sinir), "1,7");
  // Text that reaches the box otherwise is not filtered.
  model.sinir = "100x";
  view.refresh();
  EXPECT_EQ(windowText(sinir), "100x");

  EXPECT_EQ(window::win32::keyPressCode(L'5'), '5');
  EXPECT_EQ(window::win32::keyPressCode(L'\u015F'), 0xFE) << "ş in code page 1254";
  EXPECT_EQ(window::win32::keyPressCode(L'\u0130'), 0xDD) << "İ in code page 1254";
  EXPECT_EQ(window::win32::keyPressCode(L'\u4E2D'), '?');
}

TEST_F(Win32Window, ButtonFacesAndTheLampAsDrawn) {
  t::showActive(view);
  // Near the left edge, inside the raised edge, where no caption is drawn.
  EXPECT_EQ(drawnPixel(control("yedekle"), 6, 20), RGB(128, 255, 128)) << "YEDEK AL light green";
  EXPECT_EQ(drawnPixel(control("kapat"), 8, 20), RGB(255, 0, 0)) << "KAPAT red";
  EXPECT_NE(drawnPixel(control("basla"), 8, 20), RGB(128, 255, 128)) << "standard face";
  HWND lamp = control("renk");
  EXPECT_EQ(drawnPixel(lamp, 20, 20), RGB(255, 0, 0)) << "lamp red at start";
  EXPECT_NE(drawnPixel(lamp, 1, 1), RGB(255, 0, 0)) << "round: the corner is background";
  model.renk = window::kGreen;
  view.refresh();
  EXPECT_EQ(drawnPixel(lamp, 20, 20), RGB(0, 255, 0)) << "lamp green";
  EXPECT_EQ(drawnPixel(control("Label3_0"), 2, 2), GetSysColor(COLOR_BTNFACE));
}

}  // namespace
