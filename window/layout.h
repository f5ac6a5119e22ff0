// The layout of the main window `anaform`, shared by every view.
//
// One table names each control with its kind, caption, place and size in
// twips, font, colours, alignment and place in the focus order. A view walks
// the table in order and makes one control per row; it converts twips with
// toPixels() at the display's dots per inch. Controls inside the panel
// `Frame1` are placed relative to the panel, all others relative to the
// client area.
#pragma once

#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "window/model.h"

namespace window::layout {

// 1440 twips to the logical inch.
inline constexpr int kTwipsPerInch = 1440;

// twips at `dpi` dots per inch, rounded to the nearest pixel (halves away
// from zero); 15 twips a pixel at 96.
constexpr int toPixels(int twips, int dpi) {
  const long long scaled = static_cast<long long>(twips) * dpi;
  const long long half = kTwipsPerInch / 2;
  return static_cast<int>(scaled >= 0 ? (scaled + half) / kTwipsPerInch
                                      : -((-scaled + half) / kTwipsPerInch));
}

// A font of the layout; every font uses the Turkish character set.
struct Font {
  std::string_view face;
  double points = 0;
  bool bold = false;
  friend bool operator==(const Font&, const Font&) = default;
};

// Character height in pixels for `points` at `dpi` (72 points to the inch),
// rounded to the nearest pixel.
constexpr int pointsToPixels(double points, int dpi) {
  return static_cast<int>(points * dpi / 72.0 + 0.5);
}

struct Twips {
  int left = 0, top = 0, width = 0, height = 0;
  friend bool operator==(const Twips&, const Twips&) = default;
};

enum class Kind {
  Label,     // caption only, takes no focus
  List,      // list box: sonuc, sonuc1
  Text,      // one-line text box
  DropDown,  // drop-down list, choice only
  Button,    // push button; with `face` a graphical button of that colour
  Lamp,      // the filled round shape `renk`
  Frame,     // the panel `Frame1`; its controls follow it in the table
};

enum class Align { Left, Centre, Right };

// Which part of the model a control shows.
enum class Binding {
  None,
  Sonuc, Sonuc1,
  Say1, Say2, Say3, Say4, Say5, Say6,
  Tabloismi, Alanismi, Sinir, Sorgu, Verituru,
  Renk,
};

// What a button starts.
enum class Command { None, Yedekle, Basla, Kapat };

struct Control {
  std::string_view name;   // `Label2_0` stands for Label2(0)
  Kind kind = Kind::Label;
  std::string_view text;   // caption or initial text, UTF-8
  Twips box;
  bool inFrame = false;    // placed relative to Frame1 and shown with it
  std::optional<Font> font;  // none: the window's default font
  std::optional<Rgb> face;   // button face, panel background
  std::optional<Rgb> textColour;
  Align align = Align::Left;
  bool wordWrap = false;
  int tab = -1;             // place in the focus order; -1 takes no focus
  bool enabled = true;
  bool visible = true;
  Binding binding = Binding::None;
  Command command = Command::None;
};

inline constexpr Twips kClientArea{0, 0, 14460, 4980};
// The window's default font, for every control without a font of its own.
inline constexpr Font kDefaultFont{"MS Sans Serif", 8.25, false};

inline constexpr Rgb kLightGreen{128, 255, 128};
inline constexpr Rgb kLightRed{255, 128, 128};
inline constexpr Rgb kGrey{192, 192, 192};

// Every control, in the order a view makes them: the panel before KAPAT, so
// that KAPAT stands above it; the panel's controls right after the panel.
std::span<const Control> controls();

// The control of that name; nullptr when there is none.
const Control* find(std::string_view name);

// The controls that take the focus, in the layout's focus order (the panel's
// included; a view skips what is hidden or disabled).
std::vector<const Control*> focusOrder();

// The control that has the focus when the window opens.
inline constexpr std::string_view kFirstFocus = "sonuc";

// The index into Model::say of a counter binding, or -1.
constexpr int counterIndex(Binding b) {
  const int i = static_cast<int>(b) - static_cast<int>(Binding::Say1);
  return i >= 0 && i < 6 ? i : -1;
}

}  // namespace window::layout
