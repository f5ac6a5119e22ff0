#include "window/win32/main_window.h"

#include <commctrl.h>

#include <algorithm>

#include "window/key_filter.h"
#include "window/win32/wide_text.h"

namespace window::win32 {

namespace {

constexpr wchar_t kWindowClass[] = L"KarveltaAnaform";
constexpr wchar_t kFrameClass[] = L"KarveltaFrame";
constexpr int kFirstId = 1000;
constexpr UINT_PTR kSinirSubclass = 1;

COLORREF colorRef(Rgb c) { return RGB(c.r, c.g, c.b); }

class BoxMessages final : public MessageService {
 public:
  explicit BoxMessages(MainWindow& window) : window_(window) {}
  void show(const std::string& text) override {
    window_.refresh();
    UpdateWindow(window_.hwnd());
    showMessageBox(window_.hwnd(), text);
  }

 private:
  MainWindow& window_;
};

// The panel `Frame1`: a captioned frame on its own background that hands
// its controls' notifications (commands, drawing, colours) to the window.
LRESULT CALLBACK frameProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
    case WM_DRAWITEM:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
      return SendMessageW(GetParent(hwnd), message, wParam, lParam);
    case WM_SETFONT:
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, static_cast<LONG_PTR>(wParam));
      if (LOWORD(lParam) != 0) InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    case WM_GETFONT:
      return GetWindowLongPtrW(hwnd, GWLP_USERDATA);
    case WM_ERASEBKGND: {
      RECT r;
      GetClientRect(hwnd, &r);
      const auto brush = reinterpret_cast<HBRUSH>(
          SendMessageW(GetParent(hwnd), WM_CTLCOLORSTATIC, wParam, reinterpret_cast<LPARAM>(hwnd)));
      FillRect(reinterpret_cast<HDC>(wParam), &r, brush);
      return 1;
    }
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      RECT r;
      GetClientRect(hwnd, &r);
      const auto font = reinterpret_cast<HFONT>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
      const HGDIOBJ old = font != nullptr ? SelectObject(dc, font) : nullptr;
      TEXTMETRICW tm{};
      GetTextMetricsW(dc, &tm);
      RECT edge = r;
      edge.top += tm.tmHeight / 2;
      DrawEdge(dc, &edge, EDGE_ETCHED, BF_RECT);
      const int length = GetWindowTextLengthW(hwnd);
      std::wstring caption(static_cast<std::size_t>(length) + 1, L'\0');
      caption.resize(static_cast<std::size_t>(GetWindowTextW(hwnd, caption.data(), length + 1)));
      // The window gives the panel's background colour, as for its labels.
      SendMessageW(GetParent(hwnd), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                   reinterpret_cast<LPARAM>(hwnd));
      SetBkMode(dc, OPAQUE);
      if (!IsWindowEnabled(hwnd)) SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
      RECT text{r.left + 8, r.top, r.right - 8, r.top + tm.tmHeight};
      DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &text,
                DT_LEFT | DT_SINGLELINE | DT_NOPREFIX | DT_CALCRECT);
      DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &text,
                DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
      if (old != nullptr) SelectObject(dc, old);
      EndPaint(hwnd, &ps);
      return 0;
    }
    default:
      return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

// The key filter of `sinir`, on the characters typed into it.
LRESULT CALLBACK sinirProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                           DWORD_PTR) {
  if (message == WM_CHAR &&
      sinirKeyFilter(keyPressCode(static_cast<wchar_t>(wParam))) == 0)
    return 0;
  if (message == WM_NCDESTROY) RemoveWindowSubclass(hwnd, sinirProc, kSinirSubclass);
  return DefSubclassProc(hwnd, message, wParam, lParam);
}

// Registers a window class of this program once per process.
void registerOnce(HINSTANCE instance, const wchar_t* name, WNDPROC proc, HBRUSH background, HICON icon) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  if (GetClassInfoExW(instance, name, &wc)) return;
  wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = background;
  wc.hIcon = icon;
  wc.lpszClassName = name;
  RegisterClassExW(&wc);
}

void registerClasses(HINSTANCE instance, WNDPROC windowProc) {
  registerOnce(instance, kWindowClass, windowProc, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1),
               LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION)));
  registerOnce(instance, kFrameClass, frameProc, nullptr, nullptr);
}

bool isDescendant(HWND ancestor, HWND hwnd) {
  return hwnd != nullptr && (hwnd == ancestor || IsChild(ancestor, hwnd));
}

DWORD alignStyle(layout::Align align) {
  switch (align) {
    case layout::Align::Centre: return SS_CENTER;
    case layout::Align::Right: return SS_RIGHT;
    case layout::Align::Left: break;
  }
  return SS_LEFT;
}

// Makes a drop-down list `height` pixels high when closed, through the
// height of its selection field. The closed box is the field plus its
// frame; the field's reported height need not be the one last set (Wine
// reports two more), so the setting is corrected by what the box measures.
void fitClosedHeight(HWND combo, int height) {
  auto field = static_cast<int>(SendMessageW(combo, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0));
  for (int attempt = 0; attempt < 3; ++attempt) {
    RECT r;
    GetWindowRect(combo, &r);
    const int off = height - (r.bottom - r.top);
    if (off == 0 || field + off <= 0) return;
    field += off;
    SendMessageW(combo, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), field);
  }
}

}  // namespace

std::int16_t keyPressCode(wchar_t character) {
  if (character < 0x80) return static_cast<std::int16_t>(character);
  char code = '?';
  BOOL unmapped = FALSE;
  const int n = WideCharToMultiByte(1254, WC_NO_BEST_FIT_CHARS, &character, 1, &code, 1, "?",
                                    &unmapped);
  if (n != 1 || unmapped) return '?';
  return static_cast<std::int16_t>(static_cast<unsigned char>(code));
}

void showMessageBox(HWND owner, const std::string& text) {
  MessageBoxW(owner, widen(text).c_str(), widen(kTitle).c_str(), MB_OK | MB_APPLMODAL);
}

MainWindow::MainWindow(Model& model, HINSTANCE instance)
    : model_(model), instance_(instance), messages_(std::make_unique<BoxMessages>(*this)) {
  registerClasses(instance_, windowProc);
  if (HDC screen = GetDC(nullptr)) {
    dpiX_ = GetDeviceCaps(screen, LOGPIXELSX);
    dpiY_ = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
  }

  // A fixed window: caption, system menu and minimise box, no sizing frame
  // and no menu; the client area is the layout's, centred on the work area.
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  RECT frame{0, 0, px(layout::kClientArea.width), py(layout::kClientArea.height)};
  AdjustWindowRectEx(&frame, style, FALSE, 0);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int left = work.left + (work.right - work.left - width) / 2;
  const int top = work.top + (work.bottom - work.top - height) / 2;
  hwnd_ = CreateWindowExW(0, kWindowClass, widen(kTitle).c_str(), style, left, top, width, height,
                          nullptr, nullptr, instance_, this);
  if (hwnd_ == nullptr) return;
  SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font(layout::kDefaultFont)), FALSE);

  HWND frameHwnd = nullptr;
  int id = kFirstId;
  for (const layout::Control& c : layout::controls()) {
    make(c, c.inFrame ? frameHwnd : hwnd_, id++);
    if (c.kind == layout::Kind::Frame) frameHwnd = children_.back().hwnd;
  }
  refresh();
  lastFocus_ = control(layout::kFirstFocus);
}

MainWindow::~MainWindow() {
  if (hwnd_ != nullptr) {
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
  for (auto& [f, handle] : fonts_) DeleteObject(handle);
  for (auto& [c, handle] : brushes_) DeleteObject(handle);
}

void MainWindow::make(const layout::Control& c, HWND parent, int id) {
  const wchar_t* className = L"STATIC";
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
  DWORD exStyle = 0;
  int height = py(c.box.height);
  switch (c.kind) {
    case layout::Kind::Label:
      style |= alignStyle(c.align) | SS_NOPREFIX;
      if (!c.wordWrap && c.align == layout::Align::Left) style |= SS_LEFTNOWORDWRAP;
      break;
    case layout::Kind::List:
      className = L"LISTBOX";
      style |= WS_VSCROLL | LBS_NOINTEGRALHEIGHT | LBS_NOTIFY;
      exStyle = WS_EX_CLIENTEDGE;
      break;
    case layout::Kind::Text:
      className = L"EDIT";
      style |= ES_AUTOHSCROLL;
      exStyle = WS_EX_CLIENTEDGE;
      break;
    case layout::Kind::DropDown:
      className = L"COMBOBOX";
      style |= CBS_DROPDOWNLIST | WS_VSCROLL;
      // A combo box's height is that of its open list; the closed box is
      // set to the layout's height below.
      height += py(2400);
      break;
    case layout::Kind::Button:
      className = L"BUTTON";
      style |= c.face ? BS_OWNERDRAW : BS_PUSHBUTTON;
      break;
    case layout::Kind::Lamp:
      style |= SS_OWNERDRAW;
      break;
    case layout::Kind::Frame:
      className = kFrameClass;
      exStyle = WS_EX_CONTROLPARENT;
      break;
  }
  if (c.tab >= 0 && c.kind != layout::Kind::Frame) style |= WS_TABSTOP;
  if (c.visible) style |= WS_VISIBLE;
  if (!c.enabled) style |= WS_DISABLED;
  HWND hwnd = CreateWindowExW(exStyle, className, widen(c.text).c_str(), style, px(c.box.left),
                              py(c.box.top), px(c.box.width), height, parent,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_,
                              nullptr);
  if (hwnd == nullptr) return;
  children_.push_back({&c, hwnd});
  SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font(c.font.value_or(layout::kDefaultFont))),
               FALSE);
  if (c.kind == layout::Kind::DropDown) fitClosedHeight(hwnd, py(c.box.height));
  if (c.binding == layout::Binding::Sinir) SetWindowSubclass(hwnd, sinirProc, kSinirSubclass, 0);
}

HFONT MainWindow::font(const layout::Font& f) {
  for (auto& [known, handle] : fonts_)
    if (known == f) return handle;
  HFONT handle = CreateFontW(-layout::pointsToPixels(f.points, dpiY_), 0, 0, 0,
                             f.bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, TURKISH_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                             DEFAULT_PITCH | FF_DONTCARE, widen(f.face).c_str());
  fonts_.emplace_back(f, handle);
  return handle;
}

HBRUSH MainWindow::brush(COLORREF colour) {
  for (auto& [known, handle] : brushes_)
    if (known == colour) return handle;
  HBRUSH handle = CreateSolidBrush(colour);
  brushes_.emplace_back(colour, handle);
  return handle;
}

void MainWindow::setActions(Actions actions) { actions_ = std::move(actions); }

MessageService& MainWindow::messages() { return *messages_; }

HWND MainWindow::control(std::string_view name) const {
  for (const Child& child : children_)
    if (child.control->name == name) return child.hwnd;
  return nullptr;
}

const layout::Control* MainWindow::controlOf(HWND hwnd) const {
  for (const Child& child : children_)
    if (child.hwnd == hwnd) return child.control;
  return nullptr;
}

void MainWindow::show(int showCommand) {
  ShowWindow(hwnd_, showCommand);
  UpdateWindow(hwnd_);
  SetFocus(control(layout::kFirstFocus));
}

void MainWindow::refresh() {
  refreshing_ = true;
  auto syncList = [](HWND list, const std::vector<std::string>& lines,
                     std::vector<std::string>& shown) {
    if (lines.size() < shown.size() || !std::equal(shown.begin(), shown.end(), lines.begin())) {
      SendMessageW(list, LB_RESETCONTENT, 0, 0);
      shown.clear();
    }
    for (std::size_t i = shown.size(); i < lines.size(); ++i) {
      const std::wstring line = widen(lines[i]);
      SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
      shown.push_back(lines[i]);
    }
  };
  auto syncText = [](HWND hwnd, const std::string& text) {
    if (windowText(hwnd) != text) SetWindowTextW(hwnd, widen(text).c_str());
  };
  for (const Child& child : children_) {
    using layout::Binding;
    const Binding b = child.control->binding;
    switch (b) {
      case Binding::Sonuc: syncList(child.hwnd, model_.sonuc, shownSonuc_); break;
      case Binding::Sonuc1: syncList(child.hwnd, model_.sonuc1, shownSonuc1_); break;
      case Binding::Tabloismi: syncText(child.hwnd, model_.tabloismi); break;
      case Binding::Alanismi: syncText(child.hwnd, model_.alanismi); break;
      case Binding::Sinir: syncText(child.hwnd, model_.sinir); break;
      case Binding::Sorgu: syncText(child.hwnd, model_.sorgu); break;
      case Binding::Verituru: {
        if (shownItems_ != model_.verituruItems) {
          SendMessageW(child.hwnd, CB_RESETCONTENT, 0, 0);
          for (const std::string& item : model_.verituruItems) {
            const std::wstring text = widen(item);
            SendMessageW(child.hwnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
          }
          shownItems_ = model_.verituruItems;
        }
        const int index = model_.verituruIndex;
        const int count = static_cast<int>(model_.verituruItems.size());
        SendMessageW(child.hwnd, CB_SETCURSEL,
                     static_cast<WPARAM>(index >= 0 && index < count ? index : -1), 0);
        break;
      }
      case Binding::Renk:
        if (!(shownRenk_ == model_.renk)) {
          shownRenk_ = model_.renk;
          InvalidateRect(child.hwnd, nullptr, TRUE);
        }
        break;
      case Binding::None: break;
      default: {
        const auto i = static_cast<std::size_t>(layout::counterIndex(b));
        if (shownSay_[i] != model_.say[i] || windowText(child.hwnd) != model_.say[i]) {
          SetWindowTextW(child.hwnd, widen(model_.say[i]).c_str());
          shownSay_[i] = model_.say[i];
        }
      }
    }
  }
  refreshing_ = false;
}

void MainWindow::run(layout::Command command) {
  if (running_) {
    pending_.push_back(command);
    return;
  }
  running_ = true;
  for (std::size_t next = 0;; ++next) {
    if (command == layout::Command::Kapat && !actions_.quit)
      PostQuitMessage(0);
    else if (const std::function<void()>* action = actionFor(actions_, command))
      runAction(*action);
    refresh();
    if (next == pending_.size()) break;
    command = pending_[next];
  }
  pending_.clear();
  running_ = false;
}

void MainWindow::onEdit(HWND edit) {
  if (refreshing_) return;
  const layout::Control* c = controlOf(edit);
  if (c == nullptr) return;
  switch (c->binding) {
    case layout::Binding::Tabloismi: model_.tabloismi = windowText(edit); break;
    case layout::Binding::Alanismi: model_.alanismi = windowText(edit); break;
    case layout::Binding::Sinir: model_.sinir = windowText(edit); break;
    case layout::Binding::Sorgu: model_.sorgu = windowText(edit); break;
    default: break;
  }
}

bool MainWindow::preTranslate(const MSG& msg) {
  if (msg.message != WM_KEYDOWN || !isDescendant(hwnd_, msg.hwnd)) return false;
  if (GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_MENU) < 0) return false;
  if (msg.wParam == VK_TAB) {
    moveFocus(GetKeyState(VK_SHIFT) < 0);
    return true;
  }
  if (msg.wParam == VK_RETURN) {
    const layout::Control* c = controlOf(msg.hwnd);
    if (c == nullptr || c->kind != layout::Kind::Button) return false;
    // The first press clicks; held down, Enter does not repeat the click.
    if ((msg.lParam & (1L << 30)) == 0 && IsWindowEnabled(msg.hwnd)) run(c->command);
    return true;
  }
  return false;
}

void MainWindow::moveFocus(bool backwards) {
  const std::vector<const layout::Control*> order = layout::focusOrder();
  const auto n = static_cast<int>(order.size());
  HWND focus = GetFocus();
  int at = -1;
  for (int i = 0; i < n; ++i)
    if (isDescendant(control(order[static_cast<std::size_t>(i)]->name), focus)) at = i;
  for (int step = 1; step <= n; ++step) {
    const int i = at < 0 ? (backwards ? n - step : step - 1)
                         : ((at + (backwards ? -step : step)) % n + n) % n;
    HWND next = control(order[static_cast<std::size_t>(i)]->name);
    if (next != nullptr && IsWindowVisible(next) && IsWindowEnabled(next)) {
      SetFocus(next);
      return;
    }
  }
}

LRESULT MainWindow::colourStatic(HDC dc, HWND child) {
  const layout::Control* c = controlOf(child);
  COLORREF background = GetSysColor(COLOR_BTNFACE);
  if (c != nullptr && c->kind == layout::Kind::Frame && c->face) background = colorRef(*c->face);
  if (c != nullptr && c->inFrame) {
    const layout::Control* frame = layout::find("Frame1");
    if (frame != nullptr && frame->face) background = colorRef(*frame->face);
  }
  SetTextColor(dc, c != nullptr && c->textColour ? colorRef(*c->textColour)
                                                  : GetSysColor(COLOR_BTNTEXT));
  SetBkColor(dc, background);
  return reinterpret_cast<LRESULT>(brush(background));
}

bool MainWindow::drawItem(const DRAWITEMSTRUCT& item) {
  const layout::Control* c = controlOf(item.hwndItem);
  if (c == nullptr) return false;
  HDC dc = item.hDC;
  RECT r = item.rcItem;
  if (c->kind == layout::Kind::Lamp) {
    // A round lamp filling its square, on the window's background.
    FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
    const HGDIOBJ oldBrush = SelectObject(dc, brush(colorRef(model_.renk)));
    const HGDIOBJ oldPen = SelectObject(dc, GetStockObject(BLACK_PEN));
    Ellipse(dc, r.left, r.top, r.right, r.bottom);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    return true;
  }
  if (c->kind != layout::Kind::Button) return false;
  // A graphical button: the face in its colour inside a raised edge (sunken
  // while pressed), a black frame and a dotted focus rectangle while it has
  // the focus, the caption centred and greyed when disabled.
  const bool pressed = (item.itemState & ODS_SELECTED) != 0;
  const bool focused = (item.itemState & ODS_FOCUS) != 0;
  const bool disabled = (item.itemState & ODS_DISABLED) != 0;
  if (focused) {
    FrameRect(dc, &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    InflateRect(&r, -1, -1);
  }
  FillRect(dc, &r, brush(colorRef(c->face.value_or(Rgb{192, 192, 192}))));
  DrawEdge(dc, &r, pressed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);

  const std::wstring caption = widen(c->text);
  const HGDIOBJ oldFont =
      SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(item.hwndItem, WM_GETFONT, 0, 0)));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(disabled ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
  RECT text = r;
  InflateRect(&text, -3, -3);
  RECT measured = text;
  DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &measured,
            DT_CENTER | DT_WORDBREAK | DT_NOPREFIX | DT_CALCRECT);
  const int lift = ((text.bottom - text.top) - (measured.bottom - measured.top)) / 2;
  text.top += std::max(lift, 0);
  if (pressed) OffsetRect(&text, 1, 1);
  DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &text,
            DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
  SelectObject(dc, oldFont);
  if (focused) {
    RECT dots = r;
    InflateRect(&dots, -4, -4);
    DrawFocusRect(dc, &dots);
  }
  return true;
}

LRESULT CALLBACK MainWindow::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
  return self->handle(message, wParam, lParam);
}

LRESULT MainWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND: {
      auto* from = reinterpret_cast<HWND>(lParam);
      const layout::Control* c = controlOf(from);
      if (c == nullptr) break;
      const WORD code = HIWORD(wParam);
      if (c->kind == layout::Kind::Button && code == BN_CLICKED) run(c->command);
      if (c->kind == layout::Kind::Text && code == EN_CHANGE) onEdit(from);
      if (c->kind == layout::Kind::DropDown && code == CBN_SELCHANGE && !refreshing_)
        model_.verituruIndex =
            static_cast<std::int16_t>(SendMessageW(from, CB_GETCURSEL, 0, 0));
      return 0;
    }
    case WM_DRAWITEM:
      if (drawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam))) return TRUE;
      break;
    case WM_CTLCOLORSTATIC:
      return colourStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_ACTIVATE:
      // The focus leaves with the window and comes back to where it was.
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus != hwnd_ && isDescendant(hwnd_, focus)) lastFocus_ = focus;
      } else if (lastFocus_ != nullptr && IsWindow(lastFocus_)) {
        SetFocus(lastFocus_);
        return 0;
      }
      break;
    case WM_CLOSE:
      // The close box, Alt+F4 and the system menu end the program like KAPAT.
      run(layout::Command::Kapat);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd_, message, wParam, lParam);
}

void dispatch(MainWindow& window, const MSG& msg) {
  if (window.preTranslate(msg)) return;
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
}

int runMessageLoop(MainWindow& window) {
  MSG msg{};
  BOOL got;
  while ((got = GetMessageW(&msg, nullptr, 0, 0)) != 0) {
    if (got == -1) return 1;
    dispatch(window, msg);
  }
  return static_cast<int>(msg.wParam);
}

}  // namespace window::win32
