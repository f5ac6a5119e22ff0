#include "engine/table_indexes.h"

#include <algorithm>
#include <string>

#include "engine/byte_reader.h"
#include "engine/catalog.h"
#include "engine/database_header.h"
#include "engine/error.h"
#include "engine/index_tree.h"
#include "engine/little_endian.h"
#include "engine/text_codec.h"

namespace engine {
namespace {

constexpr std::uint8_t kAscending = 0x01;
constexpr std::uint8_t kUniqueIndex = 0x01;
// The distinct-key count of a real index, within its 12-byte count block.
constexpr std::size_t kDistinctKeysAt = 4;

// Text keys are written in the General order only.
void checkSortOrder(const TableDefinition& definition, const Column& column, SortOrder database) {
  SortOrder order = columnSortOrder(column);
  const bool ofDatabase = order.value == 0;
  if (ofDatabase) order = database;
  if (order.isGeneral()) return;
  const std::string who = ofDatabase                          ? "the database"
                          : definition.page() == kCatalogPage ? "the catalogue"
                                                              : "column '" + column.name + "'";
  throw Error(who + " uses sort order " + order.text() + ", which this engine cannot write");
}

const Column& indexColumn(const TableDefinition& definition, const IndexColumnRef& ref) {
  const auto& cols = definition.columns();
  auto c = std::find_if(cols.begin(), cols.end(),
                        [&ref](const Column& col) { return col.number == ref.columnNumber; });
  if (c == cols.end()) throw Error("index refers to a column the table does not have");
  return *c;
}

std::string indexText(const TableDefinition& definition, std::size_t i) {
  for (const LogicalIndex& x : definition.logicalIndexes())
    if (x.realIndex == i && !x.name.empty()) return "index '" + x.name + "'";
  return "index " + std::to_string(i);
}

}  // namespace

namespace {

// Values: RowValue or RawValue, each with its kind and its stored bytes.
template <typename Value>
IndexEntry entryOf(const TableDefinition& definition, std::size_t realIndex, const std::vector<Value>& values,
                   RowId at, SortOrder databaseOrder) {
  const RealIndex& x = definition.realIndexes().at(realIndex);
  IndexEntry e;
  for (const IndexColumnRef& ref : x.columns) {
    const Column& c = indexColumn(definition, ref);
    const auto i = static_cast<std::size_t>(&c - definition.columns().data());
    if (c.type == kTypeText) checkSortOrder(definition, c, databaseOrder);
    if ((ref.flags & kAscending) == 0)
      throw Error("index over column '" + c.name + "' is descending, which is not supported");
    if (i >= values.size() || values[i].kind != RawValue::Kind::Bytes)
      throw Error("index over column '" + c.name + "' would need a key for a null value");
    const std::span<const std::uint8_t> bytes(values[i].bytes);
    if (c.type == kTypeLong) {
      ByteReader r(bytes, "index key value");
      appendLongKey(e, r.i32(0));
    } else if (c.type == kTypeText) {
      appendTextKey(e, decodeTextValue(bytes));
    } else {
      throw Error("index over column '" + c.name + "' of type " + columnTypeName(c.type) +
                  " is not supported");
    }
  }
  if (at.row > 0xFF) throw Error("row number too large for an index entry");
  appendRowPointer(e, at.page, static_cast<std::uint8_t>(at.row));
  return e;
}

}  // namespace

IndexEntry indexEntryOf(const TableDefinition& definition, std::size_t realIndex,
                        const std::vector<RowValue>& values, RowId at, SortOrder databaseOrder) {
  return entryOf(definition, realIndex, values, at, databaseOrder);
}

IndexEntry indexEntryOf(const TableDefinition& definition, std::size_t realIndex,
                        const std::vector<RawValue>& values, RowId at, SortOrder databaseOrder) {
  return entryOf(definition, realIndex, values, at, databaseOrder);
}

SortOrder databaseSortOrder(PageChannel& channel) {
  const std::uint64_t size = std::uint64_t{channel.pageCount()} * kPageSize;
  return headerSortOrder(DatabaseHeader::parse(channel.readPage(0), size).sortOrder());
}

TableIndexes::TableIndexes(PageChannel& channel, const TableDefinition& definition)
    : channel_(channel), definition_(definition), databaseOrder_(databaseSortOrder(channel)) {}

void TableIndexes::refuseRelationships() const {
  for (const LogicalIndex& x : definition_.logicalIndexes())
    if (x.foreignKey())
      throw Error("the table takes part in a relationship (index '" + x.name +
                  "'), whose rules this engine does not check");
}

std::vector<IndexEntry> TableIndexes::entriesOf(const std::vector<RowValue>& values, RowId at) const {
  refuseRelationships();
  std::vector<IndexEntry> out;
  for (std::size_t i = 0; i < count(); ++i) out.push_back(indexEntryOf(definition_, i, values, at, databaseOrder_));
  return out;
}

std::vector<TableIndexes::Change> TableIndexes::changesOf(const std::vector<RowValue>& before,
                                                          const std::vector<RowValue>& after,
                                                          RowId at) const {
  std::vector<Change> out;
  for (std::size_t i = 0; i < count(); ++i) {
    bool same = true;
    for (const IndexColumnRef& ref : definition_.realIndexes()[i].columns) {
      const auto c = static_cast<std::size_t>(&indexColumn(definition_, ref) - definition_.columns().data());
      const bool have = c < before.size() && c < after.size();
      if (!have || before[c].kind != after[c].kind || before[c].bytes != after[c].bytes ||
          before[c].boolean != after[c].boolean) {
        same = false;
        break;
      }
    }
    if (same) continue;  // no key is computed, nor written
    refuseRelationships();
    IndexEntry remove = indexEntryOf(definition_, i, before, at, databaseOrder_);
    IndexEntry add = indexEntryOf(definition_, i, after, at, databaseOrder_);
    if (remove != add) out.push_back({i, std::move(remove), std::move(add)});
  }
  return out;
}

void TableIndexes::checkUniqueKey(std::size_t index, const IndexEntry& entry) {
  if ((definition_.realIndexes()[index].flags & kUniqueIndex) == 0) return;
  IndexTree tree(channel_, definition_, index);
  const std::vector<RowId> rows = tree.find(entryKey(entry));
  const RowId own{static_cast<std::uint32_t>(entry[entry.size() - 4]) << 16 |
                      static_cast<std::uint32_t>(entry[entry.size() - 3]) << 8 | entry[entry.size() - 2],
                  entry[entry.size() - 1]};
  for (RowId r : rows)
    if (r.page != own.page || r.row != own.row)
      throw Error("the unique " + indexText(definition_, index) +
                  " holds this key already, for the row at row " + std::to_string(r.row) + " of page " +
                  std::to_string(r.page));
}

void TableIndexes::checkUnique(const std::vector<IndexEntry>& entries) {
  for (std::size_t i = 0; i < entries.size(); ++i) checkUniqueKey(i, entries[i]);
}

void TableIndexes::checkUnique(const std::vector<Change>& changes) {
  for (const Change& c : changes) checkUniqueKey(c.index, c.add);
}

void TableIndexes::add(const std::vector<IndexEntry>& entries) {
  for (std::size_t i = 0; i < entries.size(); ++i) change(i, nullptr, &entries[i]);
}

void TableIndexes::remove(const std::vector<IndexEntry>& entries) {
  for (std::size_t i = 0; i < entries.size(); ++i) change(i, &entries[i], nullptr);
}

void TableIndexes::apply(const std::vector<Change>& changes) {
  for (const Change& c : changes) change(c.index, &c.remove, &c.add);
}

void TableIndexes::change(std::size_t index, const IndexEntry* remove, const IndexEntry* add) {
  const RealIndex& x = definition_.realIndexes().at(index);
  IndexTree tree(channel_, definition_, index);
  std::int64_t delta = 0;
  if (remove != nullptr) {
    if (tree.remove(*remove)) --delta;
    written_.insert(tree.lastWritten().begin(), tree.lastWritten().end());
  }
  if (add != nullptr) {
    if (tree.insert(*add)) ++delta;
    written_.insert(tree.lastWritten().begin(), tree.lastWritten().end());
  }
  if (delta == 0) return;
  const std::size_t at = x.countBlock.offset + kDistinctKeysAt;
  if (at + 4 > kPageSize) throw Error("index counts lie beyond the definition's first page");
  Page def = channel_.readPage(definition_.page());
  const std::int64_t n = std::int64_t{get32(def, at)} + delta;
  put32(def, at, static_cast<std::uint32_t>(std::max<std::int64_t>(n, 0)));
  channel_.writePage(definition_.page(), def);
}

}  // namespace engine
