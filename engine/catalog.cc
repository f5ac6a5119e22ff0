#include "engine/catalog.h"

#include "engine/byte_reader.h"
#include "engine/error.h"
#include "engine/text_codec.h"
#include "engine/row.h"
#include "engine/table_scan.h"

namespace engine {
namespace {

const Column& need(const TableDefinition& d, std::string_view name, std::uint8_t type) {
  const Column* c = d.findColumn(name);
  if (c == nullptr || c->type != type)
    throw Error("the catalog has no column " + std::string(name) + " of the expected type");
  return *c;
}

}  // namespace

Catalog Catalog::read(PageChannel& channel) {
  Catalog cat;
  cat.definition_ = TableDefinition::read(channel, kCatalogPage);
  const TableDefinition& d = cat.definition_;
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

  scanRows(channel, d, [&](RowId where, std::span<const std::uint8_t> bytes) {
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
    cat.entries_.push_back(std::move(e));
    return true;
  });
  return cat;
}

std::vector<const CatalogEntry*> Catalog::userTables() const {
  std::vector<const CatalogEntry*> out;
  for (const auto& e : entries_)
    if (e.isUserTable()) out.push_back(&e);
  return out;
}

const CatalogEntry* Catalog::findUserTable(std::string_view name) const {
  for (const auto& e : entries_)
    if (e.isUserTable() && caseInsensitiveEqual(e.name, name)) return &e;
  return nullptr;
}

}  // namespace engine
