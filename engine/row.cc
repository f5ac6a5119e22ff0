#include "engine/row.h"

#include <algorithm>
#include <string>

#include "engine/byte_reader.h"
#include "engine/error.h"
#include "engine/little_endian.h"

namespace engine {

void RowValues::refuseHeader() const {
  ByteReader(row_, "row").u16(0);  // names a row too short for its column count
  throw Error("row of " + std::to_string(row_.size()) + " bytes cannot hold the null mask of " +
              std::to_string(columnCount_) + " columns");
}

void RowValues::refuseFixed(const Column& c) { throw Error("column '" + c.name + "' lies outside its row"); }

// The variable part, read only when a variable value is present.
void RowValues::readVarTable() {
  if (varsRead_) return;
  if (maskStart_ < 4) throw Error("row too short for its variable-length part");
  if (!locateVarTable()) throw Error("row's variable-length table does not fit the row");
}

bool RowValues::locateVarTable() {
  if (varsRead_) return true;
  if (maskStart_ < 4) return false;
  const std::size_t countPos = maskStart_ - 2;
  const std::size_t count = get16(row_, countPos);
  // count offsets plus the end offset, before the count.
  if (countPos < 2 * (count + 1) + 2) return false;
  varCountPos_ = countPos;
  varCount_ = count;
  varsRead_ = true;
  return true;
}

bool RowValues::varOffsetsRise() const {
  // locateVarTable has found the whole table inside the row: the offsets
  // are read without a check each.
  const std::size_t limit = varCountPos_ - 2 * (varCount_ + 1);
  const std::uint8_t* entry = row_.data() + varCountPos_;
  std::size_t previous = 2;
  for (std::size_t i = 0; i <= varCount_; ++i) {
    entry -= 2;
    const std::size_t offset = std::size_t{entry[0]} | std::size_t{entry[1]} << 8;
    if (offset < previous || offset > limit) return false;
    previous = offset;
  }
  return true;
}

RawValue RowValues::variableValue(const Column& c) {
  RawValue v;
  readVarTable();
  if (c.varIndex >= varCount_) return v;  // column added after the row was written
  // readVarTable has found the whole table inside the row.
  const std::size_t startPos = varCountPos_ - 2 * (std::size_t{c.varIndex} + 1);
  const std::size_t start = get16(row_, startPos);
  const std::size_t end = get16(row_, startPos - 2);  // the next entry, or the end offset
  const std::size_t limit = varCountPos_ - 2 * (varCount_ + 1);  // where the end offset lies
  if (start < 2 || start > end || end > limit)
    throw Error("column '" + c.name + "' has bad offsets " + std::to_string(start) + ".." + std::to_string(end) +
                " in a row of " + std::to_string(row_.size()) + " bytes");
  v.kind = RawValue::Kind::Bytes;
  v.bytes = row_.subspan(start, end - start);
  return v;
}

RowShape::RowShape(const std::vector<Column>& columns) {
  for (const Column& c : columns) {
    if (c.isBoolean()) continue;
    if (c.fixedLength())
      fixedEnd = std::max(fixedEnd, 2 + std::size_t{c.fixedOffset} + fixedValueSize(c));
    else
      variable = true;
  }
}

void RowValues::requireAll(const std::vector<Column>& columns, const RowShape& shape) {
  // Most rows hold room for every fixed value and a sound variable table,
  // whichever values they hold.
  if (shape.fixedEnd <= maskStart_ && (!shape.variable || (locateVarTable() && varOffsetsRise()))) return;
  bool variable = false;
  for (const Column& c : columns) {
    if (c.isBoolean() || !present(c.number)) continue;
    if (!c.fixedLength()) {
      variable = true;
    } else if (2 + std::size_t{c.fixedOffset} + fixedValueSize(c) > maskStart_) {
      refuseFixed(c);
    }
  }
  if (!variable) return;
  readVarTable();
  // Otherwise value() names the column at fault.
  if (varOffsetsRise()) return;
  for (const Column& c : columns)
    if (!c.isBoolean() && !c.fixedLength()) value(c);
}

std::vector<RawValue> decodeRow(std::span<const std::uint8_t> row, const std::vector<Column>& columns) {
  RowValues values(row);
  std::vector<RawValue> out;
  out.reserve(columns.size());
  for (const Column& c : columns) out.push_back(values.value(c));
  return out;
}

}  // namespace engine
