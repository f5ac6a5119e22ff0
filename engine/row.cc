#include "engine/row.h"

#include <optional>
#include <string>

#include "engine/byte_reader.h"
#include "engine/error.h"

namespace engine {

std::vector<RawValue> decodeRow(std::span<const std::uint8_t> row,
                                const std::vector<Column>& columns) {
  ByteReader r(row, "row");
  std::size_t columnCount = r.u16(0);
  std::size_t maskSize = (columnCount + 7) / 8;
  if (2 + maskSize > row.size())
    throw Error("row of " + std::to_string(row.size()) + " bytes cannot hold the null mask of " +
                std::to_string(columnCount) + " columns");
  std::size_t maskStart = row.size() - maskSize;
  auto present = [&](std::uint16_t number) {
    if (number >= columnCount) return false;
    return (row[maskStart + number / 8] & (1u << (number % 8))) != 0;
  };

  // The variable part, read only when a variable value is present.
  struct VarTable {
    std::size_t count = 0;
    std::size_t countPos = 0;
  };
  std::optional<VarTable> vars;
  auto varTable = [&]() -> const VarTable& {
    if (!vars) {
      if (maskStart < 4) throw Error("row too short for its variable-length part");
      VarTable t;
      t.countPos = maskStart - 2;
      t.count = r.u16(t.countPos);
      // count offsets plus the end offset, before the count.
      if (t.countPos < 2 * (t.count + 1) + 2)
        throw Error("row's variable-length table does not fit the row");
      vars = t;
    }
    return *vars;
  };

  std::vector<RawValue> out(columns.size());
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const Column& c = columns[i];
    RawValue& v = out[i];
    bool set = present(c.number);
    if (c.isBoolean()) {
      v.kind = RawValue::Kind::Boolean;
      v.boolean = set;
      continue;
    }
    if (!set) continue;
    if (c.fixedLength()) {
      std::size_t size = fixedValueSize(c);
      std::size_t start = 2 + std::size_t{c.fixedOffset};
      if (start + size > maskStart)
        throw Error("column '" + c.name + "' lies outside its row");
      v.kind = RawValue::Kind::Bytes;
      v.bytes = row.subspan(start, size);
      continue;
    }
    const VarTable& t = varTable();
    if (c.varIndex >= t.count) continue;  // column added after the row was written
    std::size_t startPos = t.countPos - 2 * (std::size_t{c.varIndex} + 1);
    std::size_t endPos = startPos - 2;  // the next entry, or the end offset
    std::size_t start = r.u16(startPos);
    std::size_t end = r.u16(endPos);
    std::size_t limit = t.countPos - 2 * (t.count + 1);  // where the end offset lies
    if (start < 2 || start > end || end > limit)
      throw Error("column '" + c.name + "' has bad offsets " + std::to_string(start) + ".." +
                  std::to_string(end) + " in a row of " + std::to_string(row.size()) + " bytes");
    v.kind = RawValue::Kind::Bytes;
    v.bytes = row.subspan(start, end - start);
  }
  return out;
}

}  // namespace engine
