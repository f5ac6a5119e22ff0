// The state of the main window, without any display.
//
// The operations (backup, table creation, field addition, the update run)
// read and write this model and show messages through a MessageService; the
// Qt window is a view of it. Tests drive the model directly.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace window {

inline constexpr const char* kTitle = "KARVELTA";

// Modal message box: one text, no icon, one OK button, titled kTitle.
// show() returns when the user has closed the box.
class MessageService {
 public:
  virtual ~MessageService() = default;
  virtual void show(const std::string& text) = 0;
};

struct Rgb {
  std::uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};
inline constexpr Rgb kRed{255, 0, 0};
inline constexpr Rgb kGreen{0, 255, 0};

// Items of the data-type list, in index order.
inline const std::vector<std::string>& dataTypeItems() {
  static const std::vector<std::string> items = {"METİN", "NOT",   "SAYI",
                                                 "PARA BİRİMİ", "TARİH", "EVET/HAYIR"};
  return items;
}

struct Model {
  // The hidden panel's input fields.
  std::string tabloismi;
  std::string alanismi;
  std::string sinir = "50";
  std::string sorgu;
  std::vector<std::string> verituruItems = dataTypeItems();
  std::int16_t verituruIndex = -1;  // -1: nothing selected

  // Result lists: sonuc holds refused entries, sonuc1 added ones.
  std::vector<std::string> sonuc;
  std::vector<std::string> sonuc1;

  // Captions of say1..say6 (index 0 is say1).
  std::array<std::string, 6> say = {"0", "0", "0", "0", "0", "0"};

  int backupFlag = 0;
  Rgb renk = kRed;

  // Text of the selected data-type item, empty when nothing is selected.
  std::string verituruText() const {
    if (verituruIndex < 0 || static_cast<std::size_t>(verituruIndex) >= verituruItems.size())
      return {};
    return verituruItems[static_cast<std::size_t>(verituruIndex)];
  }
};

}  // namespace window
