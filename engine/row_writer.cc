#include "engine/row_writer.h"

#include <algorithm>
#include <string>

#include "engine/error.h"
#include "engine/little_endian.h"

namespace engine {
namespace {

}  // namespace

RowValue RowValue::ofLong(std::int32_t v) {
  auto u = static_cast<std::uint32_t>(v);
  return of({static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8),
             static_cast<std::uint8_t>(u >> 16), static_cast<std::uint8_t>(u >> 24)});
}

std::vector<RowValue> toRowValues(const std::vector<RawValue>& values) {
  std::vector<RowValue> out;
  out.reserve(values.size());
  for (const RawValue& v : values) {
    RowValue r;
    r.kind = v.kind;
    r.bytes.assign(v.bytes.begin(), v.bytes.end());
    r.boolean = v.boolean;
    out.push_back(std::move(r));
  }
  return out;
}

std::vector<std::uint8_t> encodeRow(const TableDefinition& definition,
                                    const std::vector<RowValue>& values, std::size_t minSize) {
  const std::vector<Column>& columns = definition.columns();
  if (values.size() != columns.size())
    throw Error("a row of " + std::to_string(values.size()) + " values for a table of " +
                std::to_string(columns.size()) + " columns");
  std::size_t columnCount = definition.maxColumns();
  std::vector<std::uint8_t> mask((columnCount + 7) / 8, 0);
  auto markPresent = [&mask](std::uint16_t number) {
    mask[number / 8] = static_cast<std::uint8_t>(mask[number / 8] | 1u << (number % 8));
  };

  // Fixed area.
  std::size_t fixedEnd = 0;
  std::size_t varCount = definition.variableColumnCount();
  for (const Column& c : columns) {
    if (c.fixedLength())
      fixedEnd = std::max(fixedEnd, std::size_t{c.fixedOffset} + fixedValueSize(c));
    else
      varCount = std::max(varCount, std::size_t{c.varIndex} + 1);
  }
  // The column count, then the fixed area, zeroed.
  std::vector<std::uint8_t> row(2 + fixedEnd, 0);
  put16(row, 0, columnCount);
  // Variable values by variable index.
  std::vector<std::pair<std::uint16_t, std::size_t>> varColumns;  // (var index, position)
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const Column& c = columns[i];
    const RowValue& v = values[i];
    if (c.number >= columnCount) throw Error("column number beyond the table's column count");
    if (c.isBoolean()) {
      if (v.kind == RawValue::Kind::Bytes)
        throw Error("a yes/no column '" + c.name + "' takes a boolean, not bytes");
      if (v.kind == RawValue::Kind::Boolean && v.boolean) markPresent(c.number);
      continue;
    }
    if (v.kind == RawValue::Kind::Boolean)
      throw Error("column '" + c.name + "' is not a yes/no column");
    if (c.variableLength()) {
      varColumns.emplace_back(c.varIndex, i);
      continue;
    }
    if (v.isNull()) continue;
    std::size_t size = fixedValueSize(c);
    if (v.bytes.size() != size)
      throw Error("a value of " + std::to_string(v.bytes.size()) + " bytes for column '" +
                  c.name + "' of " + std::to_string(size) + " bytes");
    std::copy(v.bytes.begin(), v.bytes.end(),
              row.begin() + static_cast<std::ptrdiff_t>(2 + std::size_t{c.fixedOffset}));
    markPresent(c.number);
  }

  std::size_t trailer = mask.size() + (varCount > 0 ? 4 + 2 * varCount : 0);
  if (varCount > 0) {
    std::sort(varColumns.begin(), varColumns.end());
    std::vector<std::size_t> offsets(varCount, 0);
    std::size_t next = 0;  // next variable index without an offset
    for (const auto& [varIndex, i] : varColumns) {
      std::size_t at = row.size();
      const RowValue& v = values[i];
      if (!v.isNull()) {
        row.insert(row.end(), v.bytes.begin(), v.bytes.end());
        markPresent(columns[i].number);
      }
      while (next <= varIndex) offsets[next++] = at;
    }
    while (next < varCount) offsets[next++] = row.size();
    std::size_t end = row.size();
    if (end + trailer > kMaxRowSize)
      throw Error("the row of " + std::to_string(end + trailer) + " bytes is larger than " +
                  std::to_string(kMaxRowSize));
    if (end + trailer < minSize) row.resize(minSize - trailer, 0);
    append16(row, end);
    for (std::size_t k = varCount; k-- > 0;) append16(row, offsets[k]);
    append16(row, varCount);
  } else {
    if (row.size() + trailer > kMaxRowSize)
      throw Error("the row is larger than " + std::to_string(kMaxRowSize) + " bytes");
    if (row.size() + trailer < minSize) row.resize(minSize - trailer, 0);
  }
  row.insert(row.end(), mask.begin(), mask.end());
  return row;
}

}  // namespace engine
