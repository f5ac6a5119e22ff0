#include "schema/catalogue.h"

#include <array>

namespace schema {
namespace {

constexpr std::array<Replacement, 2> kReplacements{{
    {"fisno", "fisnoeski"},
    {"satislar", "satislareski"},
}};

constexpr std::array<FieldEntry, 7> kFisnoFields{{
    {"fisno", kSayi, std::nullopt},
    {"tarih", kTarih, std::nullopt},
    {"saat", kTarih, std::nullopt},
    {"odemesi", kMetin, std::nullopt},  // takes whatever sinir holds at the start
    {"musteriadi", kMetin, "100"},      // the one limit the run sets
    {"toplam", kParaBirimi, std::nullopt},
    {"musterikodu", kMetin, std::nullopt},
}};

constexpr std::array<FieldEntry, 23> kSatislarFields{{
    {"tarih", kTarih, std::nullopt},
    {"musterikod", kMetin, std::nullopt},
    {"fiyat", kParaBirimi, std::nullopt},
    {"adet", kMetin, std::nullopt},
    {"toplam", kParaBirimi, std::nullopt},
    {"kar", kParaBirimi, std::nullopt},
    {"urunstok", kMetin, std::nullopt},
    {"musteriadi", kNot, std::nullopt},
    {"urun2", kMetin, std::nullopt},
    {"grub2", kMetin, std::nullopt},
    {"odemesi", kMetin, std::nullopt},
    {"satisiyapan", kNot, std::nullopt},
    {"saat", kTarih, std::nullopt},
    {"barkod2", kMetin, std::nullopt},
    {"urunlernosu", kSayi, std::nullopt},
    {"iskonto", kSayi, std::nullopt},
    {"tutar", kParaBirimi, std::nullopt},
    {"verilen", kParaBirimi, std::nullopt},
    {"kalan", kParaBirimi, std::nullopt},
    {"teslim", kSayi, std::nullopt},
    {"durum", kMetin, std::nullopt},
    {"fisno", kMetin, std::nullopt},
    {"tarih2", kTarih, std::nullopt},
}};

constexpr std::array<Block, 2> kBlocks{{
    {"fisno", kFisnoFields},
    {"satislar", kSatislarFields},
}};

constexpr Katalog kKatalog{kReplacements, kBlocks};

}  // namespace

const Katalog& katalog() { return kKatalog; }

}  // namespace schema
