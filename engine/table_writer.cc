#include "engine/table_writer.h"

#include <algorithm>
#include <string>

#include "engine/byte_reader.h"
#include "engine/data_page_writer.h"
#include "engine/error.h"
#include "engine/little_endian.h"
#include "engine/long_value_writer.h"
#include "engine/text_codec.h"
#include "engine/usage_map.h"

namespace engine {
namespace {


std::string pageText(std::uint32_t page) { return "page " + std::to_string(page); }

// Start and end of row `row` on a page, by its pointers, whatever its flags.
std::pair<std::size_t, std::size_t> rowBounds(const Page& page, std::uint32_t number,
                                              std::uint16_t row) {
  DataPage dp(page, number);
  if (row >= dp.rowCount()) throw Error("no row " + std::to_string(row) + " on " + pageText(number));
  ByteReader r(page, "data page");
  std::size_t start = r.u16(DataPage::kFirstRowPointer + 2 * std::size_t{row}) & DataPage::kOffsetMask;
  std::size_t end = row == 0 ? kPageSize
                             : r.u16(DataPage::kFirstRowPointer + 2 * std::size_t{row - 1u}) &
                                   DataPage::kOffsetMask;
  if (start > end || end > kPageSize || start < DataPage::kFirstRowPointer + 2 * std::size_t{dp.rowCount()})
    throw Error("row " + std::to_string(row) + " of " + pageText(number) + " has bad bounds");
  return {start, end};
}


// Where the row at id lies: the row itself, then each overflow row its
// pointers lead to (the data last). The chain was read whole already
// (readRow), which refuses loops and long chains.
std::vector<RowId> rowPlaces(PageChannel& channel, RowId id) {
  constexpr std::size_t kMaxPlaces = 5;
  std::vector<RowId> out{id};
  for (;;) {
    const Page page = channel.readPage(out.back().page);
    const RowPointer p = DataPage(page, out.back().page).row(out.back().row);
    if (!p.overflow) return out;
    if (p.end - p.start < 4 || out.size() >= kMaxPlaces)
      throw Error("the overflow rows of row " + std::to_string(id.row) + " of " + pageText(id.page) +
                  " cannot be followed");
    ByteReader r(std::span<const std::uint8_t>(page).subspan(p.start, p.end - p.start), "overflow pointer");
    const RowId next{r.u24(1), r.u8(0)};
    if (next.page >= channel.pageCount()) throw Error("overflow pointer beyond the file");
    out.push_back(next);
  }
}

}  // namespace

TableWriter::TableWriter(PageChannel& channel, std::uint32_t definitionPage)
    : channel_(channel), definitionPage_(definitionPage),
      definition_(TableDefinition::read(channel, definitionPage)), indexes_(channel, definition_) {
  if (!channel_.inTransaction()) throw Error("table rows are changed only in a write transaction");
}

void TableWriter::reloadDefinition() { definition_ = TableDefinition::read(channel_, definitionPage_); }

std::vector<RowValue> TableWriter::readRow(RowId id) {
  auto data = readRowData(channel_, id);
  if (!data)
    throw Error("row " + std::to_string(id.row) + " of " + pageText(id.page) + " is deleted");
  return toRowValues(decodeRow(*data, definition_.columns()));
}

void TableWriter::addToRowCount(std::int64_t delta) {
  Page def = channel_.readPage(definitionPage_);
  std::int64_t count = std::int64_t{get32(def, TableDefinition::kRowCountOffset)} + delta;
  put32(def, TableDefinition::kRowCountOffset, static_cast<std::uint32_t>(std::max<std::int64_t>(count, 0)));
  channel_.writePage(definitionPage_, def);
}

void TableWriter::setLastAutoNumber(std::uint32_t last) {
  Page def = channel_.readPage(definitionPage_);
  put32(def, TableDefinition::kAutoNumberOffset, last);
  channel_.writePage(definitionPage_, def);
  reloadDefinition();
}

RowId TableWriter::placeNewRow(std::span<const std::uint8_t> row, std::uint16_t flags,
                               std::optional<std::uint32_t> avoidPage) {
  UsageMap owned = UsageMap::read(channel_, definition_.ownedPages());
  UsageMap free = UsageMap::read(channel_, definition_.freeSpacePages());
  const auto& pages = owned.pages();
  for (auto it = pages.rbegin(); it != pages.rend(); ++it) {
    std::uint32_t n = *it;
    if (!free.contains(n) || (avoidPage && *avoidPage == n)) continue;
    Page p = channel_.readPage(n);
    if (p[0] != kPageTypeData) continue;
    if (DataPage(p, n).tableDefinitionPage() != definitionPage_) continue;
    if (!rowFits(p, row.size())) continue;
    std::uint16_t number = engine::insertRow(p, row, flags);
    channel_.writePage(n, p);
    return RowId{n, number};
  }
  std::uint32_t n = channel_.allocatePage();
  Page p = newDataPage(definitionPage_);
  std::uint16_t number = engine::insertRow(p, row, flags);
  channel_.writePage(n, p);
  addPageToUsageMap(channel_, definition_.ownedPages(), n);
  addPageToUsageMap(channel_, definition_.freeSpacePages(), n);
  return RowId{n, number};
}

RowId TableWriter::insertRow(const std::vector<RowValue>& values) {
  std::vector<std::uint8_t> row = encodeRow(definition_, values);
  // The keys are checked before the row is placed (where it lies changes
  // only the row pointers).
  indexes_.checkUnique(indexes_.entriesOf(values, RowId{}));
  RowId at = placeNewRow(row, 0, std::nullopt);
  indexes_.add(indexes_.entriesOf(values, at));
  addToRowCount(1);
  reloadDefinition();
  return at;
}

void TableWriter::updateRow(RowId id, const std::vector<RowValue>& values) {
  std::vector<RowValue> old = readRow(id);
  std::vector<std::uint8_t> row = encodeRow(definition_, values);
  // Index entries first: an index we cannot maintain refuses the change.
  const std::vector<TableIndexes::Change> moves = indexes_.changesOf(old, values, id);
  indexes_.checkUnique(moves);

  Page header = channel_.readPage(id.page);
  RowPointer hp = DataPage(header, id.page).row(id.row);
  RowId dataAt = id;
  if (hp.overflow) {
    ByteReader r(DataPage(header, id.page).rowBytes(id.row), "overflow pointer");
    dataAt = RowId{r.u24(1), r.u8(0)};
    if (dataAt.page >= channel_.pageCount()) throw Error("overflow pointer beyond the file");
  }
  Page data = dataAt.page == id.page ? header : channel_.readPage(dataAt.page);
  auto [start, end] = rowBounds(data, dataAt.page, dataAt.row);
  std::size_t oldSize = end - start;
  if (row.size() <= oldSize) {
    replaceRow(data, dataAt.row, encodeRow(definition_, values, oldSize));
    channel_.writePage(dataAt.page, data);
  } else if (row.size() - oldSize <= dataPageFreeSpace(data)) {
    replaceRow(data, dataAt.row, row);
    channel_.writePage(dataAt.page, data);
  } else {
    if (hp.end - hp.start < 4) throw Error("a row too short to point to its moved data");
    RowId moved = placeNewRow(row, DataPage::kDeletedFlag, std::nullopt);
    if (hp.overflow) {
      // The data row left behind: skipped by every reader.
      Page left = channel_.readPage(dataAt.page);
      setRowFlags(left, dataAt.row, DataPage::kDeletedFlag | DataPage::kOverflowFlag);
      channel_.writePage(dataAt.page, left);
    }
    header = channel_.readPage(id.page);
    std::vector<std::uint8_t> pointer(hp.end - hp.start, 0);
    if (moved.row > 0xFF) throw Error("row number too large for an overflow pointer");
    pointer[0] = static_cast<std::uint8_t>(moved.row);
    pointer[1] = static_cast<std::uint8_t>(moved.page);
    pointer[2] = static_cast<std::uint8_t>(moved.page >> 8);
    pointer[3] = static_cast<std::uint8_t>(moved.page >> 16);
    replaceRow(header, id.row, pointer);
    setRowFlags(header, id.row, DataPage::kOverflowFlag);
    channel_.writePage(id.page, header);
  }
  indexes_.apply(moves);
  reloadDefinition();
}

void TableWriter::deleteRow(RowId id) {
  const std::vector<RowValue> values = readRow(id);
  // The keys first: an index we cannot maintain refuses the deletion.
  const std::vector<IndexEntry> entries = indexes_.entriesOf(values, id);
  const std::vector<RowId> places = rowPlaces(channel_, id);
  const auto& cols = definition_.columns();
  for (std::size_t i = 0; i < cols.size() && i < values.size(); ++i)
    if (cols[i].isLongValue() && values[i].kind == RawValue::Kind::Bytes)
      freeLongValue(channel_, values[i].bytes);
  for (const RowId at : places) {
    Page page = channel_.readPage(at.page);
    engine::deleteRow(page, at.row);
    channel_.writePage(at.page, page);
  }
  indexes_.remove(entries);
  addToRowCount(-1);
  reloadDefinition();
}

AppendedRow appendRow(PageChannel& channel, std::uint32_t definitionPage,
                      const std::vector<std::pair<std::string, RowValue>>& values) {
  WriteTransaction tx(channel);
  TableWriter writer(channel, definitionPage);
  const TableDefinition& d = writer.definition();
  const auto& cols = d.columns();
  std::vector<RowValue> row(cols.size());
  for (std::size_t i = 0; i < cols.size(); ++i)
    if (cols[i].isBoolean()) row[i] = RowValue::ofBoolean(false);
  for (const auto& entry : values) {
    const std::string& name = entry.first;
    const RowValue& value = entry.second;
    auto c = std::find_if(cols.begin(), cols.end(),
                          [&name](const Column& col) { return caseInsensitiveEqual(col.name, name); });
    if (c == cols.end()) throw Error("the table has no column '" + name + "'");
    if (c->autoIncrement()) throw Error("column '" + c->name + "' is numbered by the engine");
    row[static_cast<std::size_t>(c - cols.begin())] = value;
  }
  AppendedRow out;
  std::uint32_t last = d.lastAutoNumber();
  bool numbered = false;
  for (std::size_t i = 0; i < cols.size(); ++i) {
    if (!cols[i].autoIncrement()) continue;
    if (cols[i].type != kTypeLong) throw Error("only Long columns are numbered by the engine");
    if (!numbered) {
      if (last >= 0x7FFFFFFFu) throw Error("the table's numbers are used up");
      ++last;
      numbered = true;
    }
    row[i] = RowValue::ofLong(static_cast<std::int32_t>(last));
    out.autoNumbers.push_back(static_cast<std::int32_t>(last));
  }
  out.id = writer.insertRow(row);
  if (numbered) writer.setLastAutoNumber(last);
  tx.commit();
  return out;
}

}  // namespace engine
