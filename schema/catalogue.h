// The schema catalogue: which tables the update run sets aside and what it
// then builds, in the order in which it acts.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace schema {

// Indexes into the data-type list of verituru.
enum TypeIndex : std::int16_t {
  kMetin = 0,       // "METİN"       text
  kNot = 1,         // "NOT"         memo
  kSayi = 2,        // "SAYI"        32-bit integer
  kParaBirimi = 3,  // "PARA BİRİMİ" currency
  kTarih = 4,       // "TARİH"       date/time
  kEvetHayir = 5,   // "EVET/HAYIR"  yes/no
};

// A table that is renamed before anything is created.
struct Replacement {
  std::string_view table;
  std::string_view newName;
};

// One field step: the field to add to the table of its block.
struct FieldEntry {
  std::string_view name;
  std::int16_t typeIndex;
  std::optional<std::string_view> limit;  // put into sinir before the type
};

// One table step followed by the field steps that fill the new table.
struct Block {
  std::string_view table;
  std::span<const FieldEntry> fields;
};

struct Katalog {
  std::span<const Replacement> replacements;
  std::span<const Block> blocks;
};

// The catalogue, constant and in catalogue order.
const Katalog& katalog();

}  // namespace schema
