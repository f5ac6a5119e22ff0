#include "engine/catalog.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <optional>
#include <string>

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

// Where the catalog's columns lie among its definition's columns, and a key
// that names the layout: the column blocks as stored (type, number, offsets,
// length, flags: all a row's decoding reads) and the positions found by name.
struct CatalogLayout {
  explicit CatalogLayout(const TableDefinition& d) {
    const auto& cols = d.columns();
    auto indexOf = [&cols](const Column& c) { return static_cast<std::size_t>(&c - cols.data()); };
    id = indexOf(need(d, "Id", kTypeLong));
    parentId = indexOf(need(d, "ParentId", kTypeLong));
    name = indexOf(need(d, "Name", kTypeText));
    type = indexOf(need(d, "Type", kTypeInteger));
    flags = indexOf(need(d, "Flags", kTypeLong));
    if (const Column* lv = d.findColumn("LvProp")) lvProp = indexOf(*lv);
    for (const Column& c : cols) key.append(c.rawDefinition.begin(), c.rawDefinition.end());
    for (std::size_t i : {id, parentId, name, type, flags, lvProp.value_or(cols.size())})
      key += std::to_string(i) + ",";
  }

  std::size_t id, parentId, name, type, flags;
  std::optional<std::size_t> lvProp;
  std::string key;
};

std::atomic<std::uint64_t> decodedRows{0};

// The catalog rows that start on one page of the catalog, decoded. They
// depend on that page, the pages its rows continue on, and the layout. A
// row stored byte for byte as the one in the same slot of previous (the
// page's rows before a change, in the same layout) is that row's entry,
// shared: the same slot and bytes make the same entry, its place included.
CatalogPageRows entriesOfPage(PageChannel& channel, const TableDefinition& d, const CatalogLayout& layout,
                              std::uint32_t number, const CatalogPageRows* previous) {
  if (previous != nullptr && previous->layoutKey != layout.key) previous = nullptr;
  const auto& cols = d.columns();
  CatalogPageRows out{layout.key, {}, {}, {}};
  std::vector<std::shared_ptr<const CatalogEntry>>& entries = out.entries;
  std::size_t k = 0;  // previous's rows are in slot order, as scanPageRows visits them
  scanPageRows(channel, d, number, [&](RowId where, std::span<const std::uint8_t> bytes) {
    out.rowBytes.insert(out.rowBytes.end(), bytes.begin(), bytes.end());
    out.rowEnds.push_back(out.rowBytes.size());
    if (previous != nullptr) {
      while (k < previous->entries.size() && previous->entries[k]->row.row < where.row) ++k;
      if (k < previous->entries.size() && previous->entries[k]->row == where) {
        const std::size_t from = k == 0 ? 0 : previous->rowEnds[k - 1];
        const std::size_t to = previous->rowEnds[k];
        if (to - from == bytes.size() &&
            std::equal(bytes.begin(), bytes.end(), previous->rowBytes.begin() + static_cast<std::ptrdiff_t>(from))) {
          entries.push_back(previous->entries[k]);
          return true;
        }
      }
    }
    ++decodedRows;
    RowValues values(bytes);
    CatalogEntry e;
    e.row = where;
    auto i32 = [&](std::size_t i) -> std::int32_t {
      const RawValue v = values.value(cols[i]);
      if (v.isNull()) return 0;
      return ByteReader(v.bytes, "catalog value").i32(0);
    };
    e.id = i32(layout.id);
    e.parentId = i32(layout.parentId);
    e.flags = static_cast<std::uint32_t>(i32(layout.flags));
    if (const RawValue type = values.value(cols[layout.type]); !type.isNull())
      e.type = ByteReader(type.bytes, "catalog value").i16(0);
    if (const RawValue name = values.value(cols[layout.name]); !name.isNull()) e.name = decodeTextValue(name.bytes);
    if (layout.lvProp) {
      const RawValue lv = values.value(cols[*layout.lvProp]);
      if (!lv.isNull()) e.lvProp.assign(lv.bytes.begin(), lv.bytes.end());
    }
    entries.push_back(std::make_shared<const CatalogEntry>(std::move(e)));
    return true;
  });
  return out;
}

}  // namespace

std::uint64_t Catalog::rowsDecoded() { return decodedRows.load(); }

Catalog Catalog::read(PageChannel& channel) {
  Catalog cat;
  // Kept whole while every page it was read from stays as it is: a change's
  // look-up and the change itself read the same catalog.
  cat.state_ = channel.derived<State>("catalog", [&] {
    State state;
    state.definition = TableDefinition::shared(channel, kCatalogPage);
    const TableDefinition& d = *state.definition;
    // Each page's rows are decoded once for this process's connections while
    // the page (and any page its rows continue on) stays as it is: a change
    // rewrites a page or two of a catalog of many. The definition's page
    // changes with every row added (its row count), so the rows are kept by
    // the layout of its columns instead of by that page.
    const CatalogLayout layout(d);
    const auto pages = channel.derived<std::vector<std::uint32_t>>("catalog pages", [&] {
      return UsageMap::read(channel, TableDefinition::shared(channel, kCatalogPage)->ownedPages()).pages();
    });
    // Keys carry a hash of the layout; the value carries the layout itself,
    // which settles the rare hash that two layouts share.
    const std::string suffix = " in layout " + std::to_string(std::hash<std::string>{}(layout.key));
    for (std::uint32_t number : *pages) {
      auto rows = channel.rederived<CatalogPageRows>(
          "catalog rows of page " + std::to_string(number) + suffix,
          [&](const CatalogPageRows* previous) { return entriesOfPage(channel, d, layout, number, previous); });
      if (rows->layoutKey != layout.key)
        rows = std::make_shared<const CatalogPageRows>(entriesOfPage(channel, d, layout, number, nullptr));
      for (const auto& e : rows->entries) state.entries.push_back(std::cref(*e));
      state.pages.push_back(std::move(rows));
    }
    return state;
  });
  return cat;
}

std::vector<const CatalogEntry*> Catalog::userTables() const {
  std::vector<const CatalogEntry*> out;
  for (const CatalogEntry& e : state_->entries)
    if (e.isUserTable()) out.push_back(&e);
  return out;
}

const CatalogEntry* Catalog::findUserTable(std::string_view name) const {
  for (const CatalogEntry& e : state_->entries)
    if (e.isUserTable() && caseInsensitiveEqual(e.name, name)) return &e;
  return nullptr;
}

}  // namespace engine
