// The catalogue as the tests expect it, entry by entry (1 and 9 are the
// table steps), written out independently of the program's own table.
#pragma once

#include <array>
#include <string>

namespace schema::testing {

struct Step {
  std::string table;
  std::string field;       // empty for a table step
  int typeIndex;           // -1 for a table step
  std::string limitToSet;  // empty when the entry sets none
};

inline const std::array<Step, 32> kExpectedSteps{{
    {"fisno", "", -1, ""},
    {"fisno", "fisno", 2, ""},
    {"fisno", "tarih", 4, ""},
    {"fisno", "saat", 4, ""},
    {"fisno", "odemesi", 0, ""},
    {"fisno", "musteriadi", 0, "100"},
    {"fisno", "toplam", 3, ""},
    {"fisno", "musterikodu", 0, ""},
    {"satislar", "", -1, ""},
    {"satislar", "tarih", 4, ""},
    {"satislar", "musterikod", 0, ""},
    {"satislar", "fiyat", 3, ""},
    {"satislar", "adet", 0, ""},
    {"satislar", "toplam", 3, ""},
    {"satislar", "kar", 3, ""},
    {"satislar", "urunstok", 0, ""},
    {"satislar", "musteriadi", 1, ""},
    {"satislar", "urun2", 0, ""},
    {"satislar", "grub2", 0, ""},
    {"satislar", "odemesi", 0, ""},
    {"satislar", "satisiyapan", 1, ""},
    {"satislar", "saat", 4, ""},
    {"satislar", "barkod2", 0, ""},
    {"satislar", "urunlernosu", 2, ""},
    {"satislar", "iskonto", 2, ""},
    {"satislar", "tutar", 3, ""},
    {"satislar", "verilen", 3, ""},
    {"satislar", "kalan", 3, ""},
    {"satislar", "teslim", 2, ""},
    {"satislar", "durum", 0, ""},
    {"satislar", "fisno", 0, ""},
    {"satislar", "tarih2", 4, ""},
}};

inline const std::array<const char*, 6> kItemTexts{"METİN", "NOT", "SAYI", "PARA BİRİMİ", "TARİH",
                                                   "EVET/HAYIR"};

// The result line of an entry.
inline std::string lineOf(const Step& s) {
  if (s.field.empty()) return "TABLO ADI :" + s.table;
  return "TABLO ADI :" + s.table + " SUTUN ADI :" + s.field + " " +
         kItemTexts[static_cast<std::size_t>(s.typeIndex)];
}

}  // namespace schema::testing
