#include "engine/compaction.h"

#include <algorithm>
#include <array>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <utility>
#include <vector>

#include "engine/catalog.h"
#include "engine/data_page.h"
#include "engine/data_page_writer.h"
#include "engine/database_header.h"
#include "engine/error.h"
#include "engine/in_use.h"
#include "engine/index_bulk_loader.h"
#include "engine/index_page.h"
#include "engine/integrity_check.h"
#include "engine/little_endian.h"
#include "engine/lock.h"
#include "engine/long_value.h"
#include "engine/long_value_writer.h"
#include "engine/page_sink.h"
#include "engine/path.h"
#include "engine/row.h"
#include "engine/sort_order.h"
#include "engine/table_definition.h"
#include "engine/table_definition_writer.h"
#include "engine/table_indexes.h"
#include "engine/table_scan.h"
#include "engine/usage_map.h"

namespace engine {
namespace {

// Page numbers are 24 bits wherever the format stores them; object ids at
// or above this are no page (containers, MSysDb, Access's own objects).
constexpr std::uint32_t kPageNumberRange = 1u << 24;
// Every usage-map row written here: 5 + 64 bytes inline (512 pages from its
// start page), or 1 + 17 map-page slots of 32736 pages each (the format's
// 2 GB need 17).
constexpr std::size_t kMapRowSize = 69;
constexpr std::uint32_t kInlineMapPages = (kMapRowSize - 5) * 8;
constexpr std::size_t kMapPageData = 4;
constexpr std::uint32_t kPagesPerMapPage = (kPageSize - kMapPageData) * 8;
// Rows of 69 bytes and their 2-byte pointers a map page holds.
constexpr std::size_t kMapRowsPerPage = (kPageSize - 14) / (kMapRowSize + 2);
constexpr std::size_t kChainPartBytes = kMaxLongValueRow - 4;

using Bytes = std::vector<std::uint8_t>;

std::uint32_t bigEndian24(std::span<const std::uint8_t> b) {
  return std::uint32_t{b[0]} << 16 | std::uint32_t{b[1]} << 8 | b[2];
}

void putRef(Bytes& bytes, std::size_t at, UsageMapRef ref) {
  if (at + 4 > bytes.size()) throw Error("table definition too short for its usage maps");
  put32(bytes, at, ref.page << 8 | ref.row);
}

void put32At(Bytes& bytes, std::size_t at, std::uint32_t value) {
  if (at + 4 > bytes.size()) throw Error("table definition too short");
  put32(bytes, at, value);
}

// The columns whose values are object ids (definition pages, for tables):
// MSysObjects' Id and ParentId, MSysACEs' and MSysQueries' ObjectId.
std::vector<std::string> idColumnsOf(const std::string& table) {
  if (table == "MSysObjects") return {"Id", "ParentId"};
  if (table == "MSysACEs" || table == "MSysQueries") return {"ObjectId"};
  return {};
}

// A data page filled row after row in the layout insertRow keeps
// (data_page_writer.h: rows back to back from the end, the free-space field
// the gap above the pointer table), its room followed as rows are added
// instead of read back from the page each time.
struct FillingPage {
  Page page{};
  std::uint32_t number = 0;  // 0: no page open
  std::size_t lowest = kPageSize;
  std::uint16_t rows = 0;

  void open(std::uint32_t owner, std::uint32_t n) {
    page = newDataPage(owner);
    number = n;
    lowest = kPageSize;
    rows = 0;
  }
  bool fits(std::size_t size) const {
    return number != 0 && rows < kMaxRowsOnDataPage &&
           size + 2 <= lowest - (DataPage::kFirstRowPointer + 2 * std::size_t{rows});
  }
  std::uint16_t add(std::span<const std::uint8_t> row) {
    if (row.empty() || !fits(row.size())) throw Error("a row does not fit its page");
    lowest -= row.size();
    std::copy(row.begin(), row.end(), page.begin() + static_cast<std::ptrdiff_t>(lowest));
    put16(page, DataPage::kFirstRowPointer + 2 * std::size_t{rows}, lowest);
    ++rows;
    put16(page, DataPage::kRowCountOffset, rows);
    put16(page, 2, lowest - (DataPage::kFirstRowPointer + 2 * std::size_t{rows}));
    return static_cast<std::uint16_t>(rows - 1);
  }
};

struct Table {
  std::string name;
  std::uint32_t sourcePage = 0;
  std::shared_ptr<const TableDefinition> definition;
  std::vector<std::uint32_t> pages;         // its definition's pages in the new file
  std::vector<const Column*> idColumns;     // of the list above
  std::size_t firstMapSlot = 0;             // owned, free, two per long-value column, one per index
};

// The zeros a row rewritten shorter in place keeps between its
// variable-length values and its variable-length table (section 8: padded
// to its old length, zeros before the trailer), as [first, second); empty
// when it has none. The table's offsets count from the row's start and none
// lies in the padding, so they stay as they are when it is dropped. A row
// without a variable part has none.
std::pair<std::size_t, std::size_t> paddingOf(std::span<const std::uint8_t> row) {
  const std::pair<std::size_t, std::size_t> none{0, 0};
  if (row.size() < 2) return none;
  const std::size_t columns = get16(row, 0);
  const std::size_t mask = (columns + 7) / 8;
  if (row.size() < mask + 6) return none;
  const std::size_t countAt = row.size() - mask - 2;
  const std::size_t count = get16(row, countAt);
  if (countAt < 2 * (count + 1) + 2) return none;
  const std::size_t endAt = countAt - 2 * (count + 1);  // the end offset of the variable values
  const std::size_t end = get16(row, endAt);
  if (end < 2 || end >= endAt) return none;
  for (std::size_t i = 0; i < count; ++i)
    if (get16(row, countAt - 2 * (i + 1)) > end) return none;
  if (!std::all_of(row.begin() + static_cast<std::ptrdiff_t>(end), row.begin() + static_cast<std::ptrdiff_t>(endAt),
                   [](std::uint8_t b) { return b == 0; }))
    return none;
  return {end, endAt};
}

std::size_t mapSlotsOf(const TableDefinition& d) {
  return 2 + 2 * d.columnUsageMaps().size() + d.realIndexes().size();
}

// What compaction refuses in a source that passed the check (FORMAT.md 13).
void refuseWhatCannotBeRebuilt(const std::vector<Table>& tables, const std::set<std::uint32_t>& tablePages,
                               SortOrder databaseOrder) {
  for (const Table& t : tables) {
    const TableDefinition& d = *t.definition;
    for (std::size_t i = 0; i < d.realIndexes().size(); ++i) {
      const RealIndex& x = d.realIndexes()[i];
      for (std::size_t k = 0; k < x.columns.size(); ++k) {
        const Column* c = nullptr;
        for (const Column& col : d.columns())
          if (col.number == x.columns[k].columnNumber) c = &col;
        if (c == nullptr) throw Error("table " + t.name + ": an index names a column it does not have");
        if (c->type == kTypeText || c->type == kTypeMemo) {
          SortOrder order = columnSortOrder(*c);
          if (order.value == 0) order = databaseOrder;
          if (!order.isGeneral())
            throw Error("table " + t.name + ", index " + std::to_string(i) + ": column '" + c->name +
                        "' uses sort order " + order.text() +
                        ", whose keys this engine cannot rebuild for certain");
        }
        const bool idColumn = std::find(t.idColumns.begin(), t.idColumns.end(), c) != t.idColumns.end();
        if (idColumn && k != 0)
          throw Error("table " + t.name + ", index " + std::to_string(i) + ": object ids in column '" +
                      c->name + "' after another column, a key this engine cannot remap");
      }
    }
    for (const LogicalIndex& l : d.logicalIndexes())
      if (l.relatedTablePage != 0 && tablePages.count(l.relatedTablePage) == 0)
        throw Error("table " + t.name + ", index '" + l.name + "': it relates to page " +
                    std::to_string(l.relatedTablePage) + ", which holds no table");
  }
}

// The leaf entries of a real index of the source in index order, page by
// page along the leaf chain (the check has verified the tree).
void forEachLeafEntry(PageChannel& channel, const TableDefinition& d, std::size_t realIndex,
                      const std::function<void(const IndexEntry&)>& visit) {
  std::uint32_t page = d.realIndexes()[realIndex].firstPage;
  const std::uint32_t pageCount = channel.pageCount();
  std::size_t depth = 0;
  for (;;) {
    if (page == 0 || page >= pageCount) throw Error("an index page outside the file");
    IndexPage p = IndexPage::decode(channel.readPage(page), page);
    if (p.leaf) break;
    if (++depth > 24 || p.childCount() == 0) throw Error("an index tree that cannot be walked");
    page = p.child(0);
  }
  std::uint64_t seen = 0;
  while (page != 0) {
    if (page >= pageCount || ++seen > pageCount) throw Error("an index leaf chain that cannot be walked");
    IndexPage p = IndexPage::decode(channel.readPage(page), page);
    if (!p.leaf || p.owner != d.page()) throw Error("index leaf chain leaves its index");
    for (const IndexEntry& e : p.entries) visit(e);
    page = p.next;
  }
}

class Compactor {
 public:
  Compactor(PageChannel& source, PageSink& sink, const std::function<void(const CompactionProgress&)>& report)
      : source_(source), sink_(sink), pages_(pageSourceOf(source)), report_(report) {}

  std::map<std::uint32_t, std::uint32_t> idMap;  // a table's definition page: source -> new
  std::vector<Bytes> mapRows;                   // by slot
  std::vector<std::uint32_t> mapPages;          // the pages the rows go on
  CompactionProgress progress;

  void copy(Table& t);
  UsageMapRef slotRef(std::size_t slot) const {
    return UsageMapRef{static_cast<std::uint8_t>(slot % kMapRowsPerPage), mapPages[slot / kMapRowsPerPage]};
  }

 private:
  struct LongValueColumn {
    const Column* column = nullptr;
    std::optional<std::size_t> mapSlot;  // owned; free is the next slot
    FillingPage page;
    std::vector<std::uint32_t> pages;
  };
  // Where the rows went: the source row pointers in scan order (ascending),
  // and the new page each run of them starts (by position in that order).
  struct RowMap {
    std::vector<std::uint32_t> source;
    std::vector<std::pair<std::size_t, std::uint32_t>> starts;
    std::uint32_t find(std::uint32_t sourcePointer) const;
  };

  void copyRows(Table& t, std::vector<LongValueColumn>& longValues, RowMap* rows,
                std::vector<std::uint32_t>& dataPages, std::uint32_t& rowCount);
  std::array<std::uint8_t, kLongValueHeaderSize> storeLongValue(LongValueColumn& lv, const Bytes& data);
  void closeLongValuePage(LongValueColumn& lv);
  IndexBulkLoader::Result copyIndex(const Table& t, std::size_t realIndex, const RowMap& rows);
  void setMap(std::size_t slot, const std::vector<std::uint32_t>& pages);
  std::uint32_t mapId(std::uint32_t id) const {
    const auto it = idMap.find(id);
    return it == idMap.end() ? id : it->second;
  }
  void tick() {
    if (report_) report_(progress);
  }

  PageChannel& source_;
  PageSink& sink_;
  PageSource pages_;
  const std::function<void(const CompactionProgress&)>& report_;
};

std::uint32_t Compactor::RowMap::find(std::uint32_t sourcePointer) const {
  const auto it = std::lower_bound(source.begin(), source.end(), sourcePointer);
  if (it == source.end() || *it != sourcePointer)
    throw Error("an index entry names row " + std::to_string(sourcePointer & 0xFF) + " of page " +
                std::to_string(sourcePointer >> 8) + ", which is no live row of its table");
  const std::size_t k = static_cast<std::size_t>(it - source.begin());
  const auto run = std::upper_bound(starts.begin(), starts.end(), k,
                                    [](std::size_t v, const auto& s) { return v < s.first; }) - 1;
  return run->second << 8 | static_cast<std::uint32_t>(k - run->first);
}

void Compactor::closeLongValuePage(LongValueColumn& lv) {
  if (lv.page.number == 0) return;
  sink_.write(lv.page.number, lv.page.page);
  lv.page.number = 0;
}

std::array<std::uint8_t, kLongValueHeaderSize> Compactor::storeLongValue(LongValueColumn& lv, const Bytes& data) {
  std::array<std::uint8_t, kLongValueHeaderSize> h{};
  h[0] = static_cast<std::uint8_t>(data.size());
  h[1] = static_cast<std::uint8_t>(data.size() >> 8);
  h[2] = static_cast<std::uint8_t>(data.size() >> 16);
  std::uint32_t first = 0;
  if (data.empty()) {
    // No LVAL row holds nothing: the header alone, inline, in the same 12 bytes.
    h[3] = kLongValueInline;
  } else if (data.size() <= kMaxLongValueRow) {
    const std::span<const std::uint8_t> bytes(data);
    if (!lv.page.fits(bytes.size())) {
      closeLongValuePage(lv);
      lv.page.open(kLongValuePageOwner, sink_.reserve());
      lv.pages.push_back(lv.page.number);
    }
    const std::uint16_t row = lv.page.add(bytes);
    h[3] = kLongValueSinglePage;
    first = lv.page.number << 8 | row;
  } else {
    // A chain, one part a page on consecutive new pages, each row 0.
    const std::size_t parts = (data.size() + kChainPartBytes - 1) / kChainPartBytes;
    std::vector<std::uint32_t> numbers;
    for (std::size_t i = 0; i < parts; ++i) numbers.push_back(sink_.reserve());
    for (std::size_t i = 0; i < parts; ++i) {
      const std::size_t from = i * kChainPartBytes;
      const std::size_t n = std::min(kChainPartBytes, data.size() - from);
      Bytes row(4, 0);
      if (i + 1 < parts) put32(row, 0, numbers[i + 1] << 8);
      row.insert(row.end(), data.begin() + static_cast<std::ptrdiff_t>(from),
                 data.begin() + static_cast<std::ptrdiff_t>(from + n));
      Page page = newDataPage(kLongValuePageOwner);
      insertRow(page, row);
      sink_.write(numbers[i], page);
      lv.pages.push_back(numbers[i]);
    }
    h[3] = kLongValueChain;
    first = numbers.front() << 8;
  }
  put32(h, 4, first);
  return h;
}

void Compactor::copyRows(Table& t, std::vector<LongValueColumn>& longValues, RowMap* rows,
                         std::vector<std::uint32_t>& dataPages, std::uint32_t& rowCount) {
  const TableDefinition& d = *t.definition;
  const std::uint32_t owner = t.pages.front();
  FillingPage page;
  Bytes row;
  struct Patch {
    std::size_t at;
    std::array<std::uint8_t, kLongValueHeaderSize> bytes;
    std::size_t size;
  };
  std::vector<Patch> patches;
  bool hasVariablePart = false;
  for (const Column& c : d.columns()) hasVariablePart = hasVariablePart || (c.variableLength() && !c.isBoolean());
  const UsageMap owned = UsageMap::read(source_, d.ownedPages());
  for (std::uint32_t sourcePage : owned.pages()) {
    scanPageRows(source_, d, sourcePage, [&](RowId id, std::span<const std::uint8_t> bytes) {
      // What changes in the row: the headers of long values stored anew and
      // the ids mapped to new pages, each where it lies in the row.
      patches.clear();
      if (!longValues.empty() || !t.idColumns.empty()) {
        RowValues values(bytes);
        const auto offsetOf = [&](std::span<const std::uint8_t> v) {
          return static_cast<std::size_t>(v.data() - bytes.data());
        };
        for (LongValueColumn& lv : longValues) {
          const RawValue v = values.value(*lv.column);
          if (v.kind != RawValue::Kind::Bytes || v.bytes.size() < kLongValueHeaderSize) continue;
          if (parseLongValueHeader(v.bytes).flags == kLongValueInline) continue;
          patches.push_back({offsetOf(v.bytes), storeLongValue(lv, readLongValue(v.bytes, pages_)),
                             kLongValueHeaderSize});
        }
        for (const Column* c : t.idColumns) {
          const RawValue v = values.value(*c);
          if (v.kind != RawValue::Kind::Bytes || v.bytes.size() != 4) continue;
          Patch p{offsetOf(v.bytes), {}, 4};
          put32(p.bytes, 0, mapId(get32(v.bytes, 0)));
          patches.push_back(p);
        }
      }
      const auto padding = hasVariablePart ? paddingOf(bytes) : std::pair<std::size_t, std::size_t>{};
      // Most rows go to the new page as they are, straight from the source's.
      std::span<const std::uint8_t> out = bytes;
      if (!patches.empty() || padding.first != padding.second) {
        row.assign(bytes.begin(), bytes.end());
        for (const Patch& p : patches)
          std::copy_n(p.bytes.begin(), p.size, row.begin() + static_cast<std::ptrdiff_t>(p.at));
        row.erase(row.begin() + static_cast<std::ptrdiff_t>(padding.first),
                  row.begin() + static_cast<std::ptrdiff_t>(padding.second));
        out = row;
      }
      if (!page.fits(out.size())) {
        if (page.number != 0) sink_.write(page.number, page.page);
        page.open(owner, sink_.reserve());
        dataPages.push_back(page.number);
        if (rows) rows->starts.emplace_back(rows->source.size(), page.number);
      }
      page.add(out);
      ++rowCount;
      if (rows) rows->source.push_back(id.page << 8 | id.row);
      return true;
    });
    ++progress.pagesDone;
    if ((progress.pagesDone & 63) == 0) tick();
  }
  if (page.number != 0) sink_.write(page.number, page.page);
  for (LongValueColumn& lv : longValues) closeLongValuePage(lv);
}

IndexBulkLoader::Result Compactor::copyIndex(const Table& t, std::size_t realIndex, const RowMap& rows) {
  const TableDefinition& d = *t.definition;
  const RealIndex& x = d.realIndexes()[realIndex];
  bool remapped = false;
  for (const Column* c : t.idColumns)
    if (!x.columns.empty() && x.columns[0].columnNumber == c->number) remapped = true;
  IndexBulkLoader loader(sink_, t.pages.front());
  std::vector<IndexEntry> gathered;
  forEachLeafEntry(source_, d, realIndex, [&](const IndexEntry& e) {
    if (e.size() <= kRowPointerSize) throw Error("table " + t.name + ": an index entry without a key");
    const std::size_t keyEnd = e.size() - kRowPointerSize;
    const std::uint32_t at = rows.find(bigEndian24(std::span(e).subspan(keyEnd)) << 8 | e[keyEnd + 3]);
    IndexEntry out(e.begin(), e.begin() + static_cast<std::ptrdiff_t>(keyEnd));
    appendRowPointer(out, at >> 8, static_cast<std::uint8_t>(at & 0xFF));
    if (!remapped) {
      loader.add(std::move(out));
      return;
    }
    // An id key: flag byte, then the value big-endian with its sign bit
    // flipped (ascending) or all bits (descending).
    if (keyEnd >= 5 && (out[0] == 0x7F || out[0] == 0x80)) {
      const std::uint32_t invert = out[0] == 0x80 ? 0xFFFFFFFFu : 0;
      const std::uint32_t stored = (std::uint32_t{out[1]} << 24 | std::uint32_t{out[2]} << 16 |
                                    std::uint32_t{out[3]} << 8 | out[4]) ^ invert;
      const std::uint32_t id = mapId(stored ^ 0x80000000u) ^ 0x80000000u ^ invert;
      for (int i = 0; i < 4; ++i) out[1 + i] = static_cast<std::uint8_t>(id >> (24 - 8 * i));
    }
    gathered.push_back(std::move(out));
  });
  if (remapped) {
    std::sort(gathered.begin(), gathered.end(), entryLess);
    for (IndexEntry& e : gathered) loader.add(std::move(e));
  }
  return loader.finish();
}

void Compactor::setMap(std::size_t slot, const std::vector<std::uint32_t>& pages) {
  Bytes row(kMapRowSize, 0);
  if (pages.empty() || pages.back() - pages.front() < kInlineMapPages) {
    const std::uint32_t start = pages.empty() ? 0 : pages.front();
    put32(row, 1, start);
    for (std::uint32_t p : pages) row[5 + (p - start) / 8] |= static_cast<std::uint8_t>(1u << ((p - start) % 8));
  } else {
    // Page-indirect: a map page (type 0x05) for each range of 32736 pages
    // that holds any.
    row[0] = 1;
    std::size_t i = 0;
    while (i < pages.size()) {
      const std::uint32_t range = pages[i] / kPagesPerMapPage;
      Page m{};
      m[0] = kPageTypeUsageMap;
      m[1] = 0x01;
      for (; i < pages.size() && pages[i] / kPagesPerMapPage == range; ++i) {
        const std::uint32_t bit = pages[i] % kPagesPerMapPage;
        m[kMapPageData + bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
      }
      const std::uint32_t n = sink_.reserve();
      if (1 + 4 * (range + 1) > kMapRowSize) throw Error("a usage map beyond the format's 2 GB");
      put32(row, 1 + 4 * range, n);
      sink_.write(n, m);
    }
  }
  mapRows[slot] = std::move(row);
}

void Compactor::copy(Table& t) {
  const TableDefinition& d = *t.definition;
  std::vector<LongValueColumn> longValues;
  for (const Column& c : d.columns()) {
    if (!c.isLongValue()) continue;
    LongValueColumn lv;
    lv.column = &c;
    for (std::size_t m = 0; m < d.columnUsageMaps().size(); ++m)
      if (d.columnUsageMaps()[m].columnNumber == c.number) lv.mapSlot = t.firstMapSlot + 2 + 2 * m;
    longValues.push_back(std::move(lv));
  }
  RowMap rows;
  std::vector<std::uint32_t> dataPages;
  std::uint32_t rowCount = 0;
  copyRows(t, longValues, d.realIndexes().empty() ? nullptr : &rows, dataPages, rowCount);

  Bytes bytes = definitionBytes(d);
  put32At(bytes, TableDefinition::kRowCountOffset, rowCount);
  setMap(t.firstMapSlot, dataPages);
  setMap(t.firstMapSlot + 1, dataPages.empty() ? std::vector<std::uint32_t>{}
                                               : std::vector<std::uint32_t>{dataPages.back()});
  putRef(bytes, TableDefinition::kOwnedPagesOffset, slotRef(t.firstMapSlot));
  putRef(bytes, TableDefinition::kFreeSpacePagesOffset, slotRef(t.firstMapSlot + 1));
  // Long-value columns without maps in the source keep none.
  for (std::size_t m = 0; m < d.columnUsageMaps().size(); ++m) {
    const std::size_t slot = t.firstMapSlot + 2 + 2 * m;
    std::vector<std::uint32_t> lvPages;
    for (const LongValueColumn& lv : longValues)
      if (lv.mapSlot == slot) lvPages = lv.pages;
    std::sort(lvPages.begin(), lvPages.end());
    setMap(slot, lvPages);
    std::vector<std::uint32_t> withRoom;
    for (const LongValueColumn& lv : longValues)
      if (lv.mapSlot == slot && !lv.pages.empty()) withRoom.push_back(lv.pages.back());
    setMap(slot + 1, withRoom);
    putRef(bytes, d.columnUsageMaps()[m].range.offset + 2, slotRef(slot));
    putRef(bytes, d.columnUsageMaps()[m].range.offset + 6, slotRef(slot + 1));
  }
  const std::size_t indexSlots = t.firstMapSlot + 2 + 2 * d.columnUsageMaps().size();
  for (std::size_t i = 0; i < d.realIndexes().size(); ++i) {
    const RealIndex& x = d.realIndexes()[i];
    const IndexBulkLoader::Result built = copyIndex(t, i, rows);
    setMap(indexSlots + i, built.pages);
    put32At(bytes, x.countBlock.offset + 4, built.distinctKeys);
    putRef(bytes, x.block.offset + 34, slotRef(indexSlots + i));
    put32At(bytes, x.block.offset + 38, built.root);
  }
  for (const LogicalIndex& l : d.logicalIndexes())
    if (l.relatedTablePage != 0) put32At(bytes, l.block.offset + 17, idMap.at(l.relatedTablePage));
  const std::vector<Page> encoded = encodeDefinitionPages(bytes, t.pages);
  for (std::size_t i = 0; i < t.pages.size(); ++i) sink_.write(t.pages[i], encoded[i]);
  ++progress.tablesDone;
  tick();
}

// Page 1: row 0 the global map from `start` (set bits: free pages), row 1
// an empty map, as every Access-made file has it.
Page globalMapPage(std::uint32_t pageCount, const std::set<std::uint32_t>& unused) {
  const std::uint32_t start =
      pageCount <= kInlineMapPages ? 0 : pageCount / kInlineMapPages * kInlineMapPages;
  Bytes map(kMapRowSize, 0);
  put32(map, 1, start);
  for (std::uint32_t p = start; p < start + kInlineMapPages; ++p)
    if (p >= pageCount || unused.count(p) != 0)
      map[5 + (p - start) / 8] |= static_cast<std::uint8_t>(1u << ((p - start) % 8));
  Page page = newDataPage(1);
  insertRow(page, map);
  Bytes empty(kMapRowSize, 0);
  insertRow(page, empty);
  return page;
}

// Writes the compacted database into file (new and empty), complete but not
// yet flushed. Returns its page count.
std::uint32_t writeCompacted(PageChannel& source, File& file,
                             const std::function<void(const CompactionProgress&)>& progress) {
  const Catalog catalog = Catalog::read(source);
  const SortOrder databaseOrder = databaseSortOrder(source);
  std::vector<Table> tables;
  std::set<std::uint32_t> tablePages;
  std::set<std::uint32_t> keptIds;  // ids of other objects that could pass for pages
  for (const CatalogEntry& e : catalog.entries()) {
    const auto id = static_cast<std::uint32_t>(e.id);
    if (e.type != kObjectTypeTable) {
      if (id == 0 || id >= kPageNumberRange) continue;
      if (id < source.pageCount() && source.readPage(id)[0] == kPageTypeTableDefinition)
        throw Error("object '" + e.name + "' (type " + std::to_string(e.type) + ") has id " +
                    std::to_string(id) + ", the page of a table definition: a reference this engine cannot map");
      keptIds.insert(id);
      continue;
    }
    if (id >= kPageNumberRange)
      throw Error("table '" + e.name + "' has id " + std::to_string(id) + ", which names no page");
    Table t;
    t.name = e.name;
    t.sourcePage = id;
    t.definition = std::make_shared<const TableDefinition>(TableDefinition::read(source, id));
    for (const std::string& name : idColumnsOf(e.name)) {
      if ((e.flags & kSystemObjectFlags) == 0) break;
      const Column* c = t.definition->findColumn(name);
      if (c == nullptr || c->type != kTypeLong)
        throw Error("system table " + e.name + " lacks the Long column " + name);
      t.idColumns.push_back(c);
    }
    tablePages.insert(id);
    tables.push_back(std::move(t));
  }
  std::sort(tables.begin(), tables.end(), [](const Table& a, const Table& b) { return a.sourcePage < b.sourcePage; });
  if (tables.empty() || tables.front().sourcePage != kCatalogPage)
    throw Error("the catalog lists no table at page 2 (MSysObjects)");
  refuseWhatCannotBeRebuilt(tables, tablePages, databaseOrder);

  PageSink sink(file, kCatalogPage);
  Compactor compactor(source, sink, progress);
  std::set<std::uint32_t> unused;
  std::size_t slots = 0;
  for (Table& t : tables) {
    std::uint32_t first = sink.reserve();
    while (keptIds.count(first) != 0) {
      unused.insert(first);
      sink.write(first, Page{});
      first = sink.reserve();
    }
    t.pages.push_back(first);
    const std::size_t length = definitionBytes(*t.definition).size();
    while (t.pages.size() < definitionPageCount(length)) t.pages.push_back(sink.reserve());
    compactor.idMap[t.sourcePage] = first;
    t.firstMapSlot = slots;
    slots += mapSlotsOf(*t.definition);
  }
  compactor.mapRows.resize(slots);
  for (std::size_t i = 0; i < (slots + kMapRowsPerPage - 1) / kMapRowsPerPage; ++i)
    compactor.mapPages.push_back(sink.reserve());

  compactor.progress.tables = tables.size();
  for (const Table& t : tables) compactor.progress.pages += UsageMap::read(source, t.definition->ownedPages()).pages().size();
  for (Table& t : tables) compactor.copy(t);

  for (std::size_t i = 0; i < compactor.mapPages.size(); ++i) {
    Page p = newDataPage(0);
    for (std::size_t s = i * kMapRowsPerPage; s < std::min(slots, (i + 1) * kMapRowsPerPage); ++s)
      insertRow(p, compactor.mapRows[s]);
    sink.write(compactor.mapPages[i], p);
  }
  sink.write(1, globalMapPage(sink.pageCount(), unused));
  sink.write(0, source.readPage(0));
  sink.finish();
  return sink.pageCount();
}

// The source is checked beside the copy, on one thread, so as not to slow the
// copy down; the result, once written, with a second thread's help.
IntegrityReport checkFile(Env& env, const std::string& path, bool helped) {
  return checkIntegrity(*PageChannel::forOnePass(env, path),
                        helped ? CheckHelp::onePassChannels(env, path) : CheckHelp{});
}

}  // namespace

std::string compactionTempPath(const std::string& target) { return target + ".compacting"; }

CompactionResult compactDatabase(Env& env, const std::string& source, const std::string& target,
                                 std::string_view password,
                                 const std::function<void(const CompactionProgress&)>& progress) {
  if (env.exists(target)) throw Error("a file named '" + target + "' exists already");
  if (env.exists(PageChannel::journalPath(target)))
    throw Error("a rollback journal '" + PageChannel::journalPath(target) +
                "' of an earlier database lies at that place");
  if (!env.exists(source)) throw Error("database '" + source + "' not found");
  if (pathKey(canonicalDatabasePath(source)) == pathKey(canonicalDatabasePath(target)))
    throw Error("the compacted database must be another file than its source");

  OpenDatabaseFile src = openDatabaseFile(env, source, true);
  if (!src.lock->held() && isInUseElsewhere(env, source))
    throw Error("database '" + source + "' is in use by another program");
  PageChannel& channel = *src.channel;
  CompactionResult result;
  result.sourceBytes = channel.fileSize();
  result.sourcePages = channel.pageCount();
  DatabaseHeader::read(channel, result.sourceBytes).checkPassword(password);

  // The source's check runs on a thread of its own while the copy is
  // written; nothing is renamed into place before it has passed, and a copy
  // that fails on a damaged source reports the check's finding, which names
  // the damage.
  std::future<IntegrityReport> sourceCheck =
      std::async(std::launch::async, [&env, &source] { return checkFile(env, source, false); });
  const auto requireSoundSource = [&sourceCheck] {
    if (!sourceCheck.valid()) return;
    const IntegrityReport report = sourceCheck.get();
    if (!report.sound())
      throw Error("the database fails the integrity check (" + formatProblem(report.problems.front()) +
                  "); it is not compacted");
  };

  const std::string temp = compactionTempPath(target);
  try {
    // What an interrupted compaction left behind.
    env.remove(temp);
    std::unique_ptr<File> file = env.open(temp, OpenMode::CreateNew);
    try {
      result.targetPages = writeCompacted(*PageChannel::forOnePass(env, source), *file, progress);
    } catch (...) {
      requireSoundSource();
      throw;
    }
    result.targetBytes = std::uint64_t{result.targetPages} * kPageSize;
    // The result is flushed while it is checked (from the system's cache),
    // beside what remains of the source's check; the source's finding comes
    // first, since a damaged source explains a damaged result.
    IntegrityReport report;
    {
      std::future<void> flushed = std::async(std::launch::async, [&file] { file->sync(); });
      try {
        report = checkFile(env, temp, true);
      } catch (...) {
        requireSoundSource();
        throw;
      }
      requireSoundSource();
      flushed.get();
    }
    file.reset();
    if (!report.sound())
      throw Error("the compacted database fails the integrity check (" + formatProblem(report.problems.front()) +
                  "); nothing was written at '" + target + "'");
    env.renameNoReplace(temp, target);
  } catch (...) {
    try {
      env.remove(temp);
    } catch (...) {
      // the original failure is what the caller needs to see
    }
    throw;
  }
  env.syncDirectory(directoryOf(target));
  return result;
}

}  // namespace engine
