// The window's layout as the views' tests expect it, written out control by
// control in twips (inside the panel: relative to the panel), apart from the
// table the views are built from.
#pragma once

#include <map>
#include <string>

namespace window::testing {

struct ExpectedBox {
  int left, top, width, height;  // twips
};

inline const std::map<std::string, ExpectedBox>& expectedLayout() {
  static const std::map<std::string, ExpectedBox> boxes = {
      {"Label2_0", {0, 120, 9735, 495}},       {"Label2_1", {0, 600, 4815, 255}},
      {"Label2_2", {4920, 600, 4815, 255}},    {"sonuc", {120, 840, 4815, 2205}},
      {"sonuc1", {4920, 840, 4815, 7080}},     {"Label2_9", {120, 3240, 4575, 1455}},
      {"Label3_0", {9960, 0, 735, 615}},       {"Label3_1", {12480, 0, 735, 615}},
      {"renk", {13680, 0, 615, 615}},          {"yedekle", {9840, 600, 975, 735}},
      {"basla", {10920, 600, 3375, 735}},      {"Label2_3", {9840, 1560, 2655, 375}},
      {"say1", {12480, 1560, 1815, 375}},      {"Label2_4", {9840, 2040, 2655, 375}},
      {"say2", {12480, 2040, 1815, 375}},      {"Label2_5", {9840, 2520, 2655, 375}},
      {"say3", {12480, 2520, 1815, 375}},      {"Label2_6", {9840, 3000, 2655, 375}},
      {"say4", {12480, 3000, 1815, 375}},      {"Label2_7", {9840, 3480, 2655, 375}},
      {"say5", {12480, 3480, 1815, 375}},      {"Label2_8", {9840, 3960, 2655, 375}},
      {"say6", {12480, 3960, 1815, 375}},      {"kapat", {9840, 4440, 4695, 615}},
      {"Frame1", {9840, 4440, 4575, 2775}},    {"Label1_1", {120, 360, 975, 255}},
      {"tabloismi", {1560, 240, 1455, 285}},   {"tabloolustur", {3000, 240, 1455, 375}},
      {"Label1_0", {120, 720, 975, 255}},      {"alanismi", {1560, 600, 1455, 285}},
      {"Label1_2", {120, 1080, 1335, 255}},    {"verituru", {1560, 960, 1455, 315}},
      {"Label1_3", {120, 1440, 1575, 255}},    {"sinir", {1560, 1320, 1455, 330}},
      {"sorgu", {120, 1680, 3375, 525}},       {"sorguolusturma", {3600, 1680, 855, 615}},
      {"kontrolet", {3600, 2280, 855, 375}},
  };
  return boxes;
}

// The controls inside the panel Frame1.
inline constexpr const char* kPanelControls[] = {
    "Label1_0", "Label1_1", "Label1_2", "Label1_3", "tabloismi", "tabloolustur",
    "alanismi", "verituru", "sinir",    "sorgu",    "sorguolusturma", "kontrolet"};

// Captions of the labels and buttons, and the items of verituru.
inline const std::map<std::string, std::string>& expectedCaptions() {
  static const std::map<std::string, std::string> captions = {
      {"Label2_0", "SADECE TEKNİK ELMEMAN TARAFINDAN YAPILMALIDIR"},
      {"Label2_1", "MEVCUT TABLO ve  ALANLAR"},
      {"Label2_2", "EKLENEN TABLO ve  ALANLAR"},
      {"Label2_9", "FİSNO ve SATIŞLAR tablosu silinir yeni tablo oluşur. 1  fiş nosuyla başlanır"},
      {"Label3_0", "1"}, {"Label3_1", "2"},
      {"Label2_3", "EKLENEN TABLO"}, {"Label2_4", "EKLENEN ALAN"}, {"Label2_5", "MEVCUT TABLO"},
      {"Label2_6", "MEVCUT ALAN"}, {"Label2_7", "TOPLAM TABLO"}, {"Label2_8", "TOPLAM ALAN"},
      {"say1", "0"}, {"say2", "0"}, {"say3", "0"}, {"say4", "0"}, {"say5", "0"}, {"say6", "0"},
      {"Label1_1", "TABLO ADI"}, {"Label1_0", "ALAN ADI"}, {"Label1_2", "SUTUN ÖZELİĞİ"},
      {"Label1_3", "KARAKTER SINIRI"},
      {"yedekle", "YEDEK AL"}, {"basla", "TABLO VE ALANLARI GÜNCELLE"}, {"kapat", "KAPAT"},
      {"tabloolustur", "TABLO OLUŞTUR"}, {"sorguolusturma", "SORGU OLUŞTUR"},
      {"kontrolet", "KONTROL"}, {"Frame1", "MANUEL İŞLEMLER"},
  };
  return captions;
}

inline constexpr const char* kDataTypeItems[] = {"METİN", "NOT",   "SAYI",
                                                 "PARA BİRİMİ", "TARİH", "EVET/HAYIR"};

// The focus order over every control that takes the focus.
inline constexpr const char* kFocusChain[] = {
    "sonuc",        "basla", "yedekle", "sinir", "tabloismi", "verituru",       "alanismi",
    "tabloolustur", "kapat", "sonuc1",  "sorgu", "sorguolusturma", "kontrolet"};

}  // namespace window::testing
