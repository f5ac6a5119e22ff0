// Encoding a Jet 4 row (the layout is described in row.h).
//
// The row is built for a table definition: its column count is the table's
// maximum column count (the null mask has a bit per column number, deleted
// columns included); each fixed-length value lies at its column's fixed
// offset, the fixed area reaching to the end of the furthest fixed column;
// variable-length values follow in variable-index order, with one offset
// entry per variable index (gaps of deleted columns get the offset of the
// next value); booleans are only their null-mask bit. A table without
// variable-length columns gets no variable part.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "engine/row.h"
#include "engine/table_definition.h"

namespace engine {

// A column value to be written; it owns its bytes.
struct RowValue {
  RawValue::Kind kind = RawValue::Kind::Null;
  std::vector<std::uint8_t> bytes;  // the stored form (text encoded, long values as references)
  bool boolean = false;

  static RowValue null() { return {}; }
  static RowValue of(std::vector<std::uint8_t> stored) {
    return RowValue{RawValue::Kind::Bytes, std::move(stored), false};
  }
  static RowValue ofBoolean(bool b) { return RowValue{RawValue::Kind::Boolean, {}, b}; }
  static RowValue ofLong(std::int32_t v);
  bool isNull() const { return kind == RawValue::Kind::Null; }
};

// The largest row a data page takes (Jet 4).
inline constexpr std::size_t kMaxRowSize = 4060;

// Owned copies of decoded values (decodeRow's order: definition.columns()).
std::vector<RowValue> toRowValues(const std::vector<RawValue>& values);

// The row bytes of `values`, one per definition.columns() entry in that
// order. When the row comes out shorter than minSize it is padded to it
// (zeros before the trailer), so that it can replace a row of that size in
// place. Error when a value does not suit its column (a fixed value of the
// wrong length, bytes for a boolean) or the row exceeds kMaxRowSize.
std::vector<std::uint8_t> encodeRow(const TableDefinition& definition,
                                    const std::vector<RowValue>& values,
                                    std::size_t minSize = 0);

}  // namespace engine
