// Sort orders (collations) of text: the order in which an index keeps the
// keys of a text column, and the database's own.
//
// A sort order is an LCID-like value and a version: in a column block at
// bytes 11..14 (u16 value at 11, version at 14), in the header page at 0x6E
// (u16 value, version at 0x71). Value 1033 (0x0409) with version 0 is
// "General" as Access 2000 to 2007 write it (the order whose key codes
// index_key.h knows); version 1 is the order Access 2010 introduced under
// the same name, with other codes. A column value of 0 means the database's
// own sort order. The engine writes text keys only in the General order of
// version 0; any other is refused by name (FORMAT.md 3.3).
#pragma once

#include <cstdint>
#include <string>

#include "engine/column.h"

namespace engine {

struct SortOrder {
  std::uint16_t value = 0;
  std::uint8_t version = 0;

  bool operator==(const SortOrder&) const = default;
  // The General order of Access 2000 to 2007, the only one written here.
  bool isGeneral() const { return value == 1033 && version == 0; }
  // "1033", or "1033 version 1" for a version other than 0.
  std::string text() const;
  // The name Access gives it where known ("General"), else empty.
  std::string name() const;
};

inline constexpr SortOrder kGeneralSortOrder{1033, 0};

// The sort order stored in a column block (bytes 11..14).
SortOrder columnSortOrder(const Column& column);
// The sort order the header page gives as its u32 at 0x6E.
SortOrder headerSortOrder(std::uint32_t stored);

}  // namespace engine
