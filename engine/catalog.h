// The catalog: the rows of MSysObjects, whose table definition is on page 2.
//
// Each row describes one object: Id, ParentId, Name, Type (1 for a table),
// Flags (0x80000000 and 0x00000002 mark system objects) and LvProp, the
// object's property blob. A table's definition lies on the page given by the
// low 24 bits of its Id.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/data_page.h"
#include "engine/page_channel.h"
#include "engine/table_definition.h"

namespace engine {

inline constexpr std::uint32_t kCatalogPage = 2;
inline constexpr std::int16_t kObjectTypeTable = 1;
inline constexpr std::uint32_t kSystemObjectFlags = 0x80000002u;

struct CatalogEntry {
  std::int32_t id = 0;
  std::int32_t parentId = 0;
  std::string name;
  std::int16_t type = 0;
  std::uint32_t flags = 0;
  // The LvProp column's bytes as stored in the row (a long-value reference);
  // empty when null.
  std::vector<std::uint8_t> lvProp;
  RowId row;  // where the catalog row lies

  std::uint32_t tableDefinitionPage() const { return static_cast<std::uint32_t>(id) & 0xFFFFFFu; }
  bool isUserTable() const { return type == kObjectTypeTable && (flags & kSystemObjectFlags) == 0; }
};

// The catalog rows that start on one catalog page, decoded in one layout of
// the catalog's columns (Catalog::read keeps them in the page cache).
struct CatalogPageRows {
  std::string layoutKey;
  // Shared with the page's rows before a change where a row stayed as it was.
  std::vector<std::shared_ptr<const CatalogEntry>> entries;
  // Each entry's row as stored, one after the other: rows that a change left
  // as they were are not decoded again.
  std::vector<std::uint8_t> rowBytes;
  std::vector<std::size_t> rowEnds;
};

class Catalog {
 public:
  // Reads MSysObjects: its definition and its own pages, nothing else.
  static Catalog read(PageChannel& channel);
  // How many catalog rows this process has decoded (for its tests).
  static std::uint64_t rowsDecoded();

  const TableDefinition& definition() const { return *state_->definition; }
  // Every object in catalog order.
  const std::vector<std::reference_wrapper<const CatalogEntry>>& entries() const { return state_->entries; }
  // User tables in catalog order.
  std::vector<const CatalogEntry*> userTables() const;
  // The user table of that name, letter case ignored; null when none.
  const CatalogEntry* findUserTable(std::string_view name) const;

 private:
  // What read() found, kept in the page cache as one value while none of
  // the catalog's pages changes: the definition, the decoded rows of each
  // catalog page, and every entry of them in order.
  struct State {
    std::shared_ptr<const TableDefinition> definition;
    std::vector<std::shared_ptr<const CatalogPageRows>> pages;
    std::vector<std::reference_wrapper<const CatalogEntry>> entries;
  };
  std::shared_ptr<const State> state_ = std::make_shared<const State>();
};

}  // namespace engine
