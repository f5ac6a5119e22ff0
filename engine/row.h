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

// The values of one row, read column by column as they are asked for: a
// reader that needs a few columns of many rows decodes no others. The spans
// point into `row`, which must outlive them. The row's null mask is checked
// at once, its variable-length table when a variable value is first asked
// for; a value that lies outside the row is an Error.
class RowValues {
 public:
  explicit RowValues(std::span<const std::uint8_t> row);
  RawValue value(const Column& column);
  // An Error when any of the columns' values lies outside the row, as
  // value() would find for one of them; nothing is handed out. Cheaper than
  // asking for every value, for a reader that checks every row but needs
  // only some of its values.
  void requireAll(const std::vector<Column>& columns);

 private:
  bool present(std::uint16_t number) const {
    return number < columnCount_ && (row_[maskStart_ + number / 8] & (1u << (number % 8))) != 0;
  }
  void readVarTable();
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
