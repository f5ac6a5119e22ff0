// The Jet 4 row layout.
//
//   column count (2) | fixed-length values | variable-length values |
//   end offset (2) | variable offsets, last first (2 each) |
//   variable count (2) | null mask ((count + 7) / 8 bytes)
//
// The null mask has one bit per column number, set when the value is
// present; a boolean's value is its bit. A row written before columns were
// added has a smaller column count: the columns it lacks read as null (a
// boolean as false). Tables without variable-length columns may store rows
// without the variable part.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "engine/column.h"

namespace engine {

struct RawValue {
  enum class Kind : std::uint8_t { Null, Bytes, Boolean };
  Kind kind = Kind::Null;
  std::span<const std::uint8_t> bytes;  // into the row given to decodeRow
  bool boolean = false;

  bool isNull() const { return kind == Kind::Null; }
};

// What RowValues::requireAll needs to know of a table's columns, worked out
// once for all its rows.
struct RowShape {
  RowShape() = default;
  explicit RowShape(const std::vector<Column>& columns);
  std::size_t fixedEnd = 2;  // where the furthest fixed-length value ends
  bool variable = false;     // whether any column is of variable length
};

// The values of one row, read column by column as they are asked for: a
// reader that needs a few columns of many rows decodes no others. The spans
// point into `row`, which must outlive them. The row's null mask is checked
// at once, its variable-length table when a variable value is first asked
// for; a value that lies outside the row is an Error.
class RowValues {
 public:
  // Inline, with the fixed-length values: a reader of every row calls them
  // for each.
  explicit RowValues(std::span<const std::uint8_t> row) : row_(row) {
    if (row.size() < 2) refuseHeader();
    columnCount_ = std::size_t{row[0]} | std::size_t{row[1]} << 8;
    const std::size_t maskSize = (columnCount_ + 7) / 8;
    if (2 + maskSize > row.size()) refuseHeader();
    maskStart_ = row.size() - maskSize;
  }
  RawValue value(const Column& column) {
    const bool set = present(column.number);
    if (column.isBoolean()) return RawValue{RawValue::Kind::Boolean, {}, set};
    if (!set) return RawValue{};
    if (!column.fixedLength()) return variableValue(column);
    const std::size_t size = fixedValueSize(column);
    const std::size_t start = 2 + std::size_t{column.fixedOffset};
    if (start + size > maskStart_) refuseFixed(column);
    return RawValue{RawValue::Kind::Bytes, row_.subspan(start, size), false};
  }
  // An Error when any of the columns' values lies outside the row, as
  // value() would find for one of them; nothing is handed out. Cheaper than
  // asking for every value, for a reader that checks every row but needs
  // only some of its values. `shape` is that of `columns`.
  void requireAll(const std::vector<Column>& columns, const RowShape& shape);

 private:
  bool present(std::uint16_t number) const {
    return number < columnCount_ && (row_[maskStart_ + number / 8] & (1u << (number % 8))) != 0;
  }
  [[noreturn]] void refuseHeader() const;
  [[noreturn]] static void refuseFixed(const Column& column);
  RawValue variableValue(const Column& column);
  void readVarTable();
  // Finds the variable-length table; false when it does not fit the row.
  bool locateVarTable();
  // Whether the variable-length offsets rise from 2 to the end offset,
  // within the row: then every present variable value lies inside it.
  bool varOffsetsRise() const;
  std::span<const std::uint8_t> row_;
  std::size_t columnCount_ = 0;
  std::size_t maskStart_ = 0;
  bool varsRead_ = false;
  std::size_t varCount_ = 0;
  std::size_t varCountPos_ = 0;
};

// One value per column, in the order of `columns`. The spans point into
// `row`, which must outlive them. A value that lies outside the row is an
// Error.
std::vector<RawValue> decodeRow(std::span<const std::uint8_t> row,
                                const std::vector<Column>& columns);

}  // namespace engine
