#include "engine/jet_database.h"

#include "engine/error.h"
#include "engine/long_value.h"
#include "engine/table_scan.h"

namespace engine {

JetDatabase::JetDatabase(Env& env, const std::string& path, bool readOnly,
                         std::string_view password)
    : file_(openDatabaseFile(env, path, readOnly)) {
  // The length as the file has it after any journal was rolled back.
  header_ = DatabaseHeader::read(*file_.channel, file_.channel->fileSize());
  header_.checkPassword(password);
}

Catalog JetDatabase::catalog() { return Catalog::read(channel()); }

std::vector<JetTable> JetDatabase::tables() {
  Catalog cat = catalog();
  std::vector<JetTable> out;
  for (const CatalogEntry* e : cat.userTables())
    out.emplace_back(*e, TableDefinition::shared(channel(), e->tableDefinitionPage()));
  return out;
}

std::optional<JetTable> JetDatabase::table(std::string_view name) {
  Catalog cat = catalog();
  const CatalogEntry* e = cat.findUserTable(name);
  if (e == nullptr) return std::nullopt;
  return JetTable(*e, TableDefinition::shared(channel(), e->tableDefinitionPage()));
}

PropertyMaps JetDatabase::properties(const CatalogEntry& entry) {
  if (entry.lvProp.empty()) return PropertyMaps::parse({});
  std::vector<std::uint8_t> blob = readLongValue(entry.lvProp, pageSourceOf(channel()));
  return PropertyMaps::parse(blob);
}

void JetDatabase::forEachRow(const TableDefinition& definition,
                             const std::function<bool(const std::vector<RawValue>&)>& visit) {
  scanRows(channel(), definition, [&](RowId, std::span<const std::uint8_t> bytes) {
    return visit(decodeRow(bytes, definition.columns()));
  });
}

}  // namespace engine
