#include "engine/catalog.h"

#include "engine/byte_reader.h"
#include "engine/error.h"
#include "engine/text_codec.h"
#include "engine/row.h"
#include "engine/table_scan.h"
#include "engine/usage_map.h"

namespace engine {
namespace {

const Column& need(const TableDefinition& d, std::string_view name, std::uint8_t type) {
  const Column* c = d.findColumn(name);
  if (c == nullptr || c->type != type)
    throw Error("the catalog has no column " + std::string(name) + " of the expected type");
  return *c;
}

// The catalog rows that start on one page of the catalog, decoded.
std::vector<CatalogEntry> entriesOfPage(PageChannel& channel, std::uint32_t number) {
  // Read through the channel so that the definition's pages count among
  // those the rows were decoded from.
  const std::shared_ptr<const TableDefinition> definition = TableDefinition::shared(channel, kCatalogPage);
  const TableDefinition& d = *definition;
  // Columns by position in d.columns().
  const auto& cols = d.columns();
  auto indexOf = [&cols](const Column& c) {
    return static_cast<std::size_t>(&c - cols.data());
  };
  std::size_t id = indexOf(need(d, "Id", kTypeLong));
  std::size_t parentId = indexOf(need(d, "ParentId", kTypeLong));
  std::size_t name = indexOf(need(d, "Name", kTypeText));
  std::size_t type = indexOf(need(d, "Type", kTypeInteger));
  std::size_t flags = indexOf(need(d, "Flags", kTypeLong));
  const Column* lv = d.findColumn("LvProp");
  std::optional<std::size_t> lvProp;
  if (lv != nullptr) lvProp = indexOf(*lv);

  std::vector<CatalogEntry> entries;
  scanPageRows(channel, d, number, [&](RowId where, std::span<const std::uint8_t> bytes) {
    std::vector<RawValue> v = decodeRow(bytes, cols);
    CatalogEntry e;
    e.row = where;
    auto i32 = [&v](std::size_t i) -> std::int32_t {
      if (v[i].isNull()) return 0;
      return ByteReader(v[i].bytes, "catalog value").i32(0);
    };
    e.id = i32(id);
    e.parentId = i32(parentId);
    e.flags = static_cast<std::uint32_t>(i32(flags));
    if (!v[type].isNull()) e.type = ByteReader(v[type].bytes, "catalog value").i16(0);
    if (!v[name].isNull()) e.name = decodeTextValue(v[name].bytes);
    if (lvProp && !v[*lvProp].isNull())
      e.lvProp.assign(v[*lvProp].bytes.begin(), v[*lvProp].bytes.end());
    entries.push_back(std::move(e));
    return true;
  });
  return entries;
}

}  // namespace

Catalog Catalog::read(PageChannel& channel) {
  Catalog cat;
  cat.definition_ = *TableDefinition::shared(channel, kCatalogPage);
  // Each page's rows are decoded once for this process's connections while
  // the page (and any page its rows continue on) stays as it is: a change
  // rewrites a page or two of a catalog of many.
  const auto pages = channel.derived<std::vector<std::uint32_t>>("catalog pages", [&] {
    return UsageMap::read(channel, TableDefinition::shared(channel, kCatalogPage)->ownedPages()).pages();
  });
  for (std::uint32_t number : *pages) {
    auto rows = channel.derived<std::vector<CatalogEntry>>("catalog rows of page " + std::to_string(number),
                                                           [&] { return entriesOfPage(channel, number); });
    for (const CatalogEntry& e : *rows) cat.entries_.push_back(std::cref(e));
    cat.pages_.push_back(std::move(rows));
  }
  return cat;
}

std::vector<const CatalogEntry*> Catalog::userTables() const {
  std::vector<const CatalogEntry*> out;
  for (const CatalogEntry& e : entries_)
    if (e.isUserTable()) out.push_back(&e);
  return out;
}

const CatalogEntry* Catalog::findUserTable(std::string_view name) const {
  for (const CatalogEntry& e : entries_)
    if (e.isUserTable() && caseInsensitiveEqual(e.name, name)) return &e;
  return nullptr;
}

}  // namespace engine
