// A Jet 4 database opened for reading: header checked, catalog, tables and
// their rows. The engine's Database sits on it, and so do the karvelta-jet
// tool and the tests.
//
// Nothing is decoded once for several calls beyond the header: every call
// reads the catalog, definitions and rows it needs through the page channel,
// so that several databases open on one file see each other's changes (the
// pages themselves may come from the process's page cache, which every
// connection's commits keep up to date).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/catalog.h"
#include "engine/database_header.h"
#include "engine/env.h"
#include "engine/lock.h"
#include "engine/page_channel.h"
#include "engine/property_map.h"
#include "engine/row.h"
#include "engine/table_definition.h"

namespace engine {

// A user table: its catalog row and its definition. The definition is the
// decoded value kept beside the page cache, shared rather than copied.
struct JetTable {
  JetTable(CatalogEntry e, std::shared_ptr<const TableDefinition> d)
      : entry(std::move(e)), shared(std::move(d)), definition(*shared) {}

  CatalogEntry entry;
  std::shared_ptr<const TableDefinition> shared;
  const TableDefinition& definition;
};

class JetDatabase {
 public:
  // Opens the file (under the database lock, journal recovered) and checks
  // the header and the password. Error when the file is missing, is not an
  // unencrypted Jet 4 file, or the password is wrong.
  JetDatabase(Env& env, const std::string& path, bool readOnly, std::string_view password);

  PageChannel& channel() { return *file_.channel; }
  const DatabaseHeader& header() const { return header_; }

  // The catalog as the file holds it now.
  Catalog catalog();
  // The user tables with their definitions, in catalog order.
  std::vector<JetTable> tables();
  // The user table of that name (letter case ignored), or none.
  std::optional<JetTable> table(std::string_view name);
  // The object's property maps (its LvProp blob); empty maps when it has none.
  PropertyMaps properties(const CatalogEntry& entry);

  // Calls visit with each live row's values (one per definition.columns()
  // entry); the values point into bytes valid only during the call. visit
  // returns false to stop.
  void forEachRow(const TableDefinition& definition,
                  const std::function<bool(const std::vector<RawValue>&)>& visit);

 private:
  OpenDatabaseFile file_;
  DatabaseHeader header_;
};

}  // namespace engine
