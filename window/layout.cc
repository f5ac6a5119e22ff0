#include "window/layout.h"

#include <algorithm>
#include <array>
#include <tuple>

namespace window::layout {

namespace {

constexpr Font kMsSansSerif135Bold{"MS Sans Serif", 13.5, true};
constexpr Font kMsSansSerif24Bold{"MS Sans Serif", 24, true};
constexpr Font kArialNarrow975Bold{"Arial Narrow", 9.75, true};
constexpr Font kArialNarrow825{"Arial Narrow", 8.25, false};
constexpr Font kArial1575Bold{"Arial", 15.75, true};
constexpr Font kArial825Bold{"Arial", 8.25, true};
constexpr Font kArial1425{"Arial", 14.25, false};

Control control(std::string_view name, Kind kind, Twips box, int tab, Binding binding,
                std::string_view text = {}) {
  Control c;
  c.name = name;
  c.kind = kind;
  c.box = box;
  c.tab = tab;
  c.binding = binding;
  c.text = text;
  return c;
}

Control label(std::string_view name, std::string_view text, Twips box, std::optional<Font> font,
              Align align) {
  Control c = control(name, Kind::Label, box, -1, Binding::None, text);
  c.font = font;
  c.align = align;
  return c;
}

Control counterCaption(int row, std::string_view name, std::string_view text) {
  return label(name, text, {9840, 1560 + 480 * row, 2655, 375}, kArial1425, Align::Left);
}

Control counter(int row, std::string_view name) {
  Control c = label(name, "0", {12480, 1560 + 480 * row, 1815, 375}, kArial1425, Align::Right);
  c.binding = static_cast<Binding>(static_cast<int>(Binding::Say1) + row);
  return c;
}

Control inFrame(Control c) {
  c.inFrame = true;
  return c;
}

Control button(std::string_view name, std::string_view caption, Twips box, int tab,
               std::optional<Rgb> face, std::optional<Font> font, Command command,
               bool enabled = true) {
  Control c = control(name, Kind::Button, box, tab, Binding::None, caption);
  c.face = face;
  c.font = font;
  c.command = command;
  c.enabled = enabled;
  return c;
}

std::vector<Control> makeControls() {
  std::vector<Control> v;
  // Across the top and the two lists.
  v.push_back(label("Label2_0", "SADECE TEKNİK ELMEMAN TARAFINDAN YAPILMALIDIR",
                    {0, 120, 9735, 495}, kMsSansSerif135Bold, Align::Centre));
  v.push_back(label("Label2_1", "MEVCUT TABLO ve  ALANLAR", {0, 600, 4815, 255},
                    kArialNarrow975Bold, Align::Centre));
  v.push_back(label("Label2_2", "EKLENEN TABLO ve  ALANLAR", {4920, 600, 4815, 255},
                    kArialNarrow975Bold, Align::Centre));
  v.push_back(control("sonuc", Kind::List, {120, 840, 4815, 2205}, 0, Binding::Sonuc));
  // Runs on below the client area: only its top 4140 twips show.
  v.push_back(control("sonuc1", Kind::List, {4920, 840, 4815, 7080}, 15, Binding::Sonuc1));
  Control notice = label(
      "Label2_9", "FİSNO ve SATIŞLAR tablosu silinir yeni tablo oluşur. 1  fiş nosuyla başlanır",
      {120, 3240, 4575, 1455}, kArial1575Bold, Align::Centre);
  notice.wordWrap = true;
  v.push_back(notice);

  // The two steps and the lamp.
  for (auto [name, text, left] : {std::tuple{"Label3_0", "1", 9960}, {"Label3_1", "2", 12480}}) {
    Control step = label(name, text, {left, 0, 735, 615}, kMsSansSerif24Bold, Align::Centre);
    step.textColour = kRed;
    v.push_back(step);
  }
  Control lamp = control("renk", Kind::Lamp, {13680, 0, 615, 615}, -1, Binding::Renk);
  lamp.face = kRed;
  v.push_back(lamp);
  v.push_back(button("yedekle", "YEDEK AL", {9840, 600, 975, 735}, 3, kLightGreen, std::nullopt,
                     Command::Yedekle));
  v.push_back(button("basla", "TABLO VE ALANLARI GÜNCELLE", {10920, 600, 3375, 735}, 1,
                     std::nullopt, kArial825Bold, Command::Basla));

  // The counters, one row each, 480 twips apart.
  v.push_back(counterCaption(0, "Label2_3", "EKLENEN TABLO"));
  v.push_back(counter(0, "say1"));
  v.push_back(counterCaption(1, "Label2_4", "EKLENEN ALAN"));
  v.push_back(counter(1, "say2"));
  v.push_back(counterCaption(2, "Label2_5", "MEVCUT TABLO"));
  v.push_back(counter(2, "say3"));
  v.push_back(counterCaption(3, "Label2_6", "MEVCUT ALAN"));
  v.push_back(counter(3, "say4"));
  v.push_back(counterCaption(4, "Label2_7", "TOPLAM TABLO"));
  v.push_back(counter(4, "say5"));
  v.push_back(counterCaption(5, "Label2_8", "TOPLAM ALAN"));
  v.push_back(counter(5, "say6"));

  // The panel, hidden and disabled, where KAPAT is and mostly below the
  // client area; its controls are placed relative to it.
  Control frame;
  frame.name = "Frame1";
  frame.kind = Kind::Frame;
  frame.text = "MANUEL İŞLEMLER";
  frame.box = {9840, 4440, 4575, 2775};
  frame.face = kGrey;
  frame.tab = 4;
  frame.enabled = false;
  frame.visible = false;
  v.push_back(frame);
  v.push_back(inFrame(label("Label1_1", "TABLO ADI", {120, 360, 975, 255}, std::nullopt,
                            Align::Left)));
  v.push_back(inFrame(control("tabloismi", Kind::Text, {1560, 240, 1455, 285}, 6,
                              Binding::Tabloismi)));
  v.push_back(inFrame(button("tabloolustur", "TABLO OLUŞTUR", {3000, 240, 1455, 375}, 13,
                             kLightGreen, kArialNarrow825, Command::None, false)));
  v.push_back(inFrame(label("Label1_0", "ALAN ADI", {120, 720, 975, 255}, std::nullopt,
                            Align::Left)));
  v.push_back(inFrame(control("alanismi", Kind::Text, {1560, 600, 1455, 285}, 8,
                              Binding::Alanismi)));
  v.push_back(inFrame(label("Label1_2", "SUTUN ÖZELİĞİ", {120, 1080, 1335, 255}, std::nullopt,
                            Align::Left)));
  v.push_back(inFrame(control("verituru", Kind::DropDown, {1560, 960, 1455, 315}, 7,
                              Binding::Verituru)));
  v.push_back(inFrame(label("Label1_3", "KARAKTER SINIRI", {120, 1440, 1575, 255}, std::nullopt,
                            Align::Left)));
  Control sinir = control("sinir", Kind::Text, {1560, 1320, 1455, 330}, 5, Binding::Sinir, "50");
  sinir.font = Font{"MS Sans Serif", 9.75, false};
  v.push_back(inFrame(sinir));
  v.push_back(inFrame(control("sorgu", Kind::Text, {120, 1680, 3375, 525}, 30, Binding::Sorgu)));
  v.push_back(inFrame(button("sorguolusturma", "SORGU OLUŞTUR", {3600, 1680, 855, 615}, 31,
                             kLightGreen, kArialNarrow825, Command::None, false)));
  v.push_back(inFrame(button("kontrolet", "KONTROL", {3600, 2280, 855, 375}, 32, kLightRed,
                             std::nullopt, Command::None, false)));

  // Reaches 75 twips past the right and the bottom edge; those strips are
  // clipped.
  v.push_back(button("kapat", "KAPAT", {9840, 4440, 4695, 615}, 14, kRed, std::nullopt,
                     Command::Kapat));
  return v;
}

}  // namespace

std::span<const Control> controls() {
  static const std::vector<Control> table = makeControls();
  return table;
}

const Control* find(std::string_view name) {
  for (const Control& c : controls())
    if (c.name == name) return &c;
  return nullptr;
}

std::vector<const Control*> focusOrder() {
  std::vector<const Control*> order;
  for (const Control& c : controls())
    if (c.tab >= 0 && c.kind != Kind::Frame) order.push_back(&c);
  std::ranges::sort(order, {}, &Control::tab);
  return order;
}

}  // namespace window::layout
