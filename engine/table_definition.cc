#include "engine/table_definition.h"

#include <algorithm>
#include <set>

#include "engine/byte_reader.h"
#include "engine/data_page.h"
#include "engine/error.h"
#include "engine/text_codec.h"

namespace engine {
namespace {

UsageMapRef usageMapRef(const ByteReader& r, std::size_t offset) {
  return UsageMapRef{r.u8(offset), r.u24(offset + 1)};
}

// Reads a 2-byte length and a UCS-2 name at `pos`; advances pos.
std::string readName(const ByteReader& r, std::size_t& pos, const char* what) {
  std::size_t length = r.u16(pos);
  if (length > TableDefinition::kMaxNameBytes)
    throw Error(std::string("table definition: ") + what + " name of " + std::to_string(length) +
                " bytes is too long");
  std::string name = utf16leToUtf8(r.bytes(pos + 2, length));
  pos += 2 + length;
  return name;
}

}  // namespace

TableDefinition TableDefinition::read(PageChannel& channel, std::uint32_t page) { return *shared(channel, page); }

std::shared_ptr<const TableDefinition> TableDefinition::shared(PageChannel& channel, std::uint32_t page) {
  return channel.derived<TableDefinition>("table definition " + std::to_string(page),
                                          [&] { return readPages(channel, page); });
}

TableDefinition TableDefinition::readPages(PageChannel& channel, std::uint32_t page) {
  std::vector<std::uint32_t> pages;
  std::vector<std::uint8_t> raw;
  std::set<std::uint32_t> seen;
  std::uint32_t next = page;
  while (next != 0) {
    if (!seen.insert(next).second)
      throw Error("table definition at page " + std::to_string(page) + " loops back to page " +
                  std::to_string(next));
    if (pages.size() >= kMaxPages)
      throw Error("table definition at page " + std::to_string(page) + " spans more than " +
                  std::to_string(kMaxPages) + " pages");
    Page p = channel.readPage(next);
    if (p[0] != kPageTypeTableDefinition)
      throw Error("page " + std::to_string(next) + " is not a table definition page");
    pages.push_back(next);
    std::size_t skip = raw.empty() ? 0 : 8;
    raw.insert(raw.end(), p.begin() + static_cast<std::ptrdiff_t>(skip), p.end());
    next = ByteReader(p, "table definition page").u32(kNextPageOffset);
  }
  return parse(std::move(raw), std::move(pages));
}

TableDefinition TableDefinition::parse(std::vector<std::uint8_t> raw,
                                       std::vector<std::uint32_t> pages) {
  TableDefinition d;
  d.raw_ = std::move(raw);
  d.pages_ = std::move(pages);
  ByteReader r(d.raw_, "table definition" +
                           (d.pages_.empty() ? std::string() : " at page " +
                                                                   std::to_string(d.pages_[0])));
  r.require(0, kHeaderSize);
  if (r.u8(0) != kPageTypeTableDefinition) throw Error("not a table definition");

  d.definitionLength_ = r.u32(kLengthOffset);
  d.rowCount_ = r.u32(kRowCountOffset);
  d.autoNumber_ = r.u32(kAutoNumberOffset);
  d.tableType_ = r.u8(kTableTypeOffset);
  d.maxColumns_ = r.u16(kMaxColumnsOffset);
  d.varColumns_ = r.u16(kVarColumnsOffset);
  std::size_t columnCount = r.u16(kColumnCountOffset);
  std::size_t logicalCount = r.u32(kLogicalIndexCountOffset);
  std::size_t realCount = r.u32(kRealIndexCountOffset);
  d.ownedPages_ = usageMapRef(r, kOwnedPagesOffset);
  d.freeSpacePages_ = usageMapRef(r, kFreeSpacePagesOffset);

  if (columnCount > kMaxColumns)
    throw Error("table definition declares " + std::to_string(columnCount) + " columns");
  if (realCount > kMaxIndexes || logicalCount > kMaxIndexes)
    throw Error("table definition declares " + std::to_string(realCount) + " indexes and " +
                std::to_string(logicalCount) + " logical indexes");
  if (columnCount > d.maxColumns_)
    throw Error("table definition has more columns than its maximum column count");

  TableDefinitionLayout& L = d.layout_;
  L.header = {0, kHeaderSize};
  std::size_t pos = kHeaderSize;

  // Row counts of the real indexes.
  L.realIndexCounts = {pos, realCount * kRealIndexCountSize};
  r.require(pos, L.realIndexCounts.length);
  d.realIndexes_.resize(realCount);
  for (std::size_t i = 0; i < realCount; ++i) {
    d.realIndexes_[i].countBlock = {pos, kRealIndexCountSize};
    d.realIndexes_[i].uniqueEntryCount = r.u32(pos + 4);
    pos += kRealIndexCountSize;
  }

  // Column blocks.
  L.columns = {pos, columnCount * kColumnBlockSize};
  r.require(pos, L.columns.length);
  std::vector<Column> cols(columnCount);
  for (std::size_t i = 0; i < columnCount; ++i) {
    Column& c = cols[i];
    auto block = r.bytes(pos, kColumnBlockSize);
    std::copy(block.begin(), block.end(), c.rawDefinition.begin());
    c.type = r.u8(pos);
    c.number = r.u16(pos + 5);
    c.varIndex = r.u16(pos + 7);
    c.displayIndex = r.u16(pos + 9);
    c.sortOrder = r.u16(pos + 11);
    c.precision = r.u8(pos + 11);
    c.scale = r.u8(pos + 12);
    c.flags = r.u8(pos + 15);
    c.extFlags = r.u8(pos + 16);
    c.fixedOffset = r.u16(pos + 21);
    c.length = r.u16(pos + 23);
    c.definitionIndex = static_cast<std::uint16_t>(i);
    if (c.number >= d.maxColumns_)
      throw Error("column number " + std::to_string(c.number) +
                  " is not below the table's maximum column count");
    if (c.variableLength()) {
      c.fixedOffset = 0;
    } else {
      c.varIndex = 0;
      if (c.fixedOffset + fixedValueSize(c) > kPageSize)
        throw Error("fixed column lies beyond any row");
    }
    pos += kColumnBlockSize;
  }

  // Column names.
  L.columnNames.offset = pos;
  for (std::size_t i = 0; i < columnCount; ++i) cols[i].name = readName(r, pos, "column");
  L.columnNames.length = pos - L.columnNames.offset;

  // Column numbers must be distinct, and so must names.
  for (std::size_t i = 0; i < columnCount; ++i)
    for (std::size_t j = i + 1; j < columnCount; ++j)
      if (cols[i].number == cols[j].number)
        throw Error("two columns share column number " + std::to_string(cols[i].number));

  // Real index blocks.
  L.realIndexes = {pos, realCount * kRealIndexSize};
  r.require(pos, L.realIndexes.length);
  for (std::size_t i = 0; i < realCount; ++i) {
    RealIndex& x = d.realIndexes_[i];
    x.block = {pos, kRealIndexSize};
    for (std::size_t k = 0; k < 10; ++k) {
      std::uint16_t number = r.u16(pos + 4 + 3 * k);
      std::uint8_t flags = r.u8(pos + 6 + 3 * k);
      if (number == 0xFFFF) continue;
      bool known = std::any_of(cols.begin(), cols.end(),
                               [number](const Column& c) { return c.number == number; });
      if (!known)
        throw Error("index refers to column number " + std::to_string(number) +
                    ", which the table does not have");
      x.columns.push_back({number, flags});
    }
    x.usageMap = usageMapRef(r, pos + 34);
    x.firstPage = r.u32(pos + 38);
    x.flags = r.u8(pos + 46);
    pos += kRealIndexSize;
  }

  // Logical index blocks and names.
  L.logicalIndexes = {pos, logicalCount * kLogicalIndexSize};
  r.require(pos, L.logicalIndexes.length);
  d.logicalIndexes_.resize(logicalCount);
  for (std::size_t i = 0; i < logicalCount; ++i) {
    LogicalIndex& x = d.logicalIndexes_[i];
    x.block = {pos, kLogicalIndexSize};
    x.number = r.u32(pos + 4);
    x.realIndex = r.u32(pos + 8);
    x.relatedTableType = r.u8(pos + 12);
    x.relatedIndex = r.i32(pos + 13);
    x.relatedTablePage = r.u32(pos + 17);
    x.cascadeUpdates = r.u8(pos + 21) != 0;
    x.cascadeDeletes = r.u8(pos + 22) != 0;
    x.type = r.u8(pos + 23);
    if (x.realIndex >= realCount)
      throw Error("logical index refers to index data " + std::to_string(x.realIndex) +
                  " of " + std::to_string(realCount));
    pos += kLogicalIndexSize;
  }
  L.logicalIndexNames.offset = pos;
  for (auto& x : d.logicalIndexes_) {
    std::size_t start = pos;
    x.name = readName(r, pos, "index");
    x.nameRange = {start, pos - start};
  }
  L.logicalIndexNames.length = pos - L.logicalIndexNames.offset;

  // Usage maps of long-value columns, ended by FF FF. Definitions written
  // without the terminator simply end here.
  L.columnUsageMaps.offset = pos;
  while (r.contains(pos, 2)) {
    std::uint16_t number = r.u16(pos);
    if (number == 0xFFFF) {
      L.terminator = {pos, 2};
      break;
    }
    if (!r.contains(pos, 10) || d.columnUsageMaps_.size() >= columnCount) break;
    ColumnUsageMaps m;
    m.columnNumber = number;
    m.ownedPages = usageMapRef(r, pos + 2);
    m.freeSpacePages = usageMapRef(r, pos + 6);
    m.range = {pos, 10};
    d.columnUsageMaps_.push_back(m);
    pos += 10;
  }
  L.columnUsageMaps.length = pos - L.columnUsageMaps.offset;
  if (L.terminator.length == 0) {
    // No terminator: what was taken for usage maps was something else.
    d.columnUsageMaps_.clear();
    L.columnUsageMaps.length = 0;
  }

  std::sort(cols.begin(), cols.end(),
            [](const Column& a, const Column& b) { return a.number < b.number; });
  d.columns_ = std::move(cols);
  return d;
}

const Column* TableDefinition::findColumn(std::string_view name) const {
  for (const Column& c : columns_)
    if (caseInsensitiveEqual(c.name, name)) return &c;
  return nullptr;
}

}  // namespace engine
