#include "engine/table_writer.h"

#include <algorithm>
#include <string>

#include "engine/byte_reader.h"
#include "engine/data_page_writer.h"
#include "engine/error.h"
#include "engine/little_endian.h"
#include "engine/text_codec.h"
#include "engine/usage_map.h"

namespace engine {
namespace {

constexpr std::uint8_t kLeafPage = 0x04;
constexpr std::size_t kIndexPrevPage = 12;
constexpr std::size_t kIndexNextPage = 16;
constexpr std::size_t kIndexTailPage = 20;
constexpr std::size_t kRowPointerSize = 4;  // the row named at the end of a leaf entry
constexpr std::size_t kMapPageData = 4;
constexpr std::uint32_t kPagesPerMapPage = (kPageSize - kMapPageData) * 8;

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
  if (start > end || start < DataPage::kFirstRowPointer + 2 * std::size_t{dp.rowCount()})
    throw Error("row " + std::to_string(row) + " of " + pageText(number) + " has bad bounds");
  return {start, end};
}

bool sameKey(const IndexEntry& a, const IndexEntry& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end() - static_cast<std::ptrdiff_t>(kRowPointerSize), b.begin());
}

}  // namespace

namespace {

// Sets page's bit on the map page that slot `slot` of a page-indirect map
// row points to, allocating that map page when the slot is empty.
void setIndirectBit(PageChannel& channel, std::vector<std::uint8_t>& row, std::uint32_t page) {
  std::size_t slot = page / kPagesPerMapPage;
  std::size_t at = 1 + 4 * slot;
  if (at + 4 > row.size())
    throw Error("a usage map of " + std::to_string(row.size()) + " bytes cannot list page " +
                std::to_string(page));
  std::uint32_t mapPage = ByteReader(row, "usage map").u32(at);
  Page m{};
  if (mapPage == 0) {
    mapPage = channel.allocatePage();
    m[0] = kPageTypeUsageMap;
    m[1] = 0x01;
    for (std::size_t i = 0; i < 4; ++i) row[at + i] = static_cast<std::uint8_t>(mapPage >> (8 * i));
  } else {
    if (mapPage >= channel.pageCount()) throw Error("usage map page beyond the file");
    m = channel.readPage(mapPage);
    if (m[0] != kPageTypeUsageMap) throw Error(pageText(mapPage) + " is not a usage map page");
  }
  std::size_t bit = page % kPagesPerMapPage;
  m[kMapPageData + bit / 8] = static_cast<std::uint8_t>(m[kMapPageData + bit / 8] | 1u << (bit % 8));
  channel.writePage(mapPage, m);
}

}  // namespace

void addPageToUsageMap(PageChannel& channel, UsageMapRef ref, std::uint32_t page) {
  Page p = channel.readPage(ref.page);
  auto [start, end] = rowBounds(p, ref.page, ref.row);
  std::vector<std::uint8_t> row(p.begin() + static_cast<std::ptrdiff_t>(start),
                                p.begin() + static_cast<std::ptrdiff_t>(end));
  ByteReader r(row, "usage map");
  std::uint8_t type = r.u8(0);
  if (type == 0) {
    std::uint32_t first = r.u32(1);
    std::size_t bits = (row.size() - 5) * 8;
    if (bits == 0) throw Error("usage map without a bitmap");
    if (page >= first && page - first < bits) {
      std::size_t i = page - first;
      row[5 + i / 8] = static_cast<std::uint8_t>(row[5 + i / 8] | 1u << (i % 8));
    } else {
      std::vector<std::uint32_t> pages{page};
      for (std::size_t i = 0; i < bits; ++i)
        if (row[5 + i / 8] >> (i % 8) & 1) pages.push_back(first + static_cast<std::uint32_t>(i));
      auto [lo, hi] = std::minmax_element(pages.begin(), pages.end());
      std::fill(row.begin() + 1, row.end(), std::uint8_t{0});
      if (*hi - *lo < bits) {
        // The window moves to start at the lowest page listed.
        first = *lo;
        for (std::uint32_t q : pages) {
          std::size_t i = q - first;
          row[5 + i / 8] = static_cast<std::uint8_t>(row[5 + i / 8] | 1u << (i % 8));
        }
        for (std::size_t i = 0; i < 4; ++i) row[1 + i] = static_cast<std::uint8_t>(first >> (8 * i));
      } else {
        // Too far apart for the inline form: the map becomes page-indirect.
        row[0] = 1;
        for (std::uint32_t q : pages) setIndirectBit(channel, row, q);
        p = channel.readPage(ref.page);  // allocating may have changed the global map only
      }
    }
  } else if (type == 1) {
    setIndirectBit(channel, row, page);
    p = channel.readPage(ref.page);
  } else {
    throw Error("unknown usage map type " + std::to_string(type));
  }
  std::copy(row.begin(), row.end(), p.begin() + static_cast<std::ptrdiff_t>(start));
  channel.writePage(ref.page, p);
}

TableWriter::TableWriter(PageChannel& channel, std::uint32_t definitionPage)
    : channel_(channel), definitionPage_(definitionPage),
      definition_(TableDefinition::read(channel, definitionPage)) {
  if (!channel_.inTransaction()) throw Error("table rows are changed only in a write transaction");
}

void TableWriter::reloadDefinition() { definition_ = TableDefinition::read(channel_, definitionPage_); }

std::vector<RowValue> TableWriter::readRow(RowId id) {
  auto data = readRowData(channel_, id);
  if (!data)
    throw Error("row " + std::to_string(id.row) + " of " + pageText(id.page) + " is deleted");
  return toRowValues(decodeRow(*data, definition_.columns()));
}

IndexEntry indexEntryOf(const TableDefinition& definition, std::size_t realIndex,
                        const std::vector<RowValue>& values, RowId at) {
  const RealIndex& x = definition.realIndexes().at(realIndex);
  const auto& cols = definition.columns();
  IndexEntry e;
  for (const IndexColumnRef& ref : x.columns) {
    auto c = std::find_if(cols.begin(), cols.end(),
                          [&ref](const Column& col) { return col.number == ref.columnNumber; });
    if (c == cols.end()) throw Error("index refers to a column the table does not have");
    std::size_t i = static_cast<std::size_t>(c - cols.begin());
    if ((ref.flags & 0x01) == 0)
      throw Error("index over column '" + c->name + "' is descending, which is not supported");
    if (i >= values.size() || values[i].kind != RawValue::Kind::Bytes)
      throw Error("index over column '" + c->name + "' would need a key for a null value");
    const auto& bytes = values[i].bytes;
    if (c->type == kTypeLong) {
      ByteReader r(bytes, "index key value");
      appendLongKey(e, r.i32(0));
    } else if (c->type == kTypeText) {
      appendTextKey(e, decodeTextValue(bytes));
    } else {
      throw Error("index over column '" + c->name + "' of type " + columnTypeName(c->type) +
                  " is not supported");
    }
  }
  if (at.row > 0xFF) throw Error("row number too large for an index entry");
  appendRowPointer(e, at.page, static_cast<std::uint8_t>(at.row));
  return e;
}

void TableWriter::changeIndexEntry(std::size_t realIndex, const IndexEntry* remove,
                                   const IndexEntry* add) {
  const RealIndex& x = definition_.realIndexes().at(realIndex);
  if (x.firstPage == 0 || x.firstPage >= channel_.pageCount())
    throw Error("index root " + pageText(x.firstPage) + " lies outside the file");
  Page page = channel_.readPage(x.firstPage);
  if (page[0] != kLeafPage || get32(page, kIndexPrevPage) != 0 || get32(page, kIndexNextPage) != 0 ||
      get32(page, kIndexTailPage) != 0)
    throw Error("an index of the table spans more than one page, which is not supported");
  std::vector<IndexEntry> entries = readLeafEntries(page);
  std::int64_t delta = 0;
  auto holdsKey = [&entries](const IndexEntry& e) {
    return std::any_of(entries.begin(), entries.end(),
                       [&e](const IndexEntry& o) { return sameKey(o, e); });
  };
  if (remove != nullptr) {
    auto it = std::find(entries.begin(), entries.end(), *remove);
    if (it == entries.end()) throw Error("the index lacks the entry of a row it should hold");
    entries.erase(it);
    if (!holdsKey(*remove)) --delta;
  }
  if (add != nullptr) {
    if (!holdsKey(*add)) ++delta;
    auto it = std::lower_bound(entries.begin(), entries.end(), *add);
    if (it != entries.end() && *it == *add) throw Error("the index holds this entry already");
    entries.insert(it, *add);
  }
  std::size_t total = 0;
  for (const auto& e : entries) total += e.size();
  if (total > kLeafEntrySpace)
    throw Error("the index page is full; splitting index pages is not supported");
  writeLeafEntries(page, entries);
  channel_.writePage(x.firstPage, page);
  if (delta != 0) {
    std::size_t at = x.countBlock.offset + 4;
    if (at + 4 > kPageSize) throw Error("index counts lie beyond the definition's first page");
    Page def = channel_.readPage(definitionPage_);
    std::int64_t count = std::int64_t{get32(def, at)} + delta;
    put32(def, at, static_cast<std::uint32_t>(std::max<std::int64_t>(count, 0)));
    channel_.writePage(definitionPage_, def);
  }
}

void TableWriter::addIndexEntries(const std::vector<RowValue>& values, RowId at) {
  std::vector<IndexEntry> entries;
  for (std::size_t i = 0; i < definition_.realIndexes().size(); ++i)
    entries.push_back(indexEntryOf(definition_, i, values, at));
  for (std::size_t i = 0; i < entries.size(); ++i) changeIndexEntry(i, nullptr, &entries[i]);
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
  RowId at = placeNewRow(row, 0, std::nullopt);
  addIndexEntries(values, at);
  addToRowCount(1);
  reloadDefinition();
  return at;
}

void TableWriter::updateRow(RowId id, const std::vector<RowValue>& values) {
  std::vector<RowValue> old = readRow(id);
  std::vector<std::uint8_t> row = encodeRow(definition_, values);
  // Index entries first: an index we cannot maintain refuses the change.
  std::vector<std::pair<IndexEntry, IndexEntry>> moves;
  for (std::size_t i = 0; i < definition_.realIndexes().size(); ++i)
    moves.emplace_back(indexEntryOf(definition_, i, old, id), indexEntryOf(definition_, i, values, id));

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
  for (std::size_t i = 0; i < moves.size(); ++i)
    if (moves[i].first != moves[i].second) changeIndexEntry(i, &moves[i].first, &moves[i].second);
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
