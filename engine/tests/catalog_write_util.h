// Helpers of the catalog write tests: index checks and a table-by-table dump
// of the rows (with those of write_test_util.h).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/catalog.h"
#include "engine/env.h"
#include "engine/in_use.h"
#include "engine/index_key.h"
#include "engine/index_tree.h"
#include "engine/jet_database.h"
#include "engine/lock.h"
#include "engine/table_scan.h"
#include "engine/table_writer.h"
#include "engine/tests/write_test_util.h"
#include "engine/value.h"

namespace engine::testutil {

inline constexpr const char* kSalesPassword = "zorpelnik";

// The output of a shell command (stdout only).
inline std::string commandOutput(const std::string& cmd, const std::string& scratch) {
  int rc = std::system((cmd + " > '" + scratch + "' 2>/dev/null").c_str());
  std::ifstream in(scratch);
  std::string out((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return rc == 0 ? out : "exit " + std::to_string(rc) + ": " + out;
}

// Every table's rows (system tables too) as JSON values, by table name.
using TableRows = std::map<std::string, std::vector<std::string>>;
inline TableRows allRows(const std::string& path, const std::string& password) {
  JetDatabase db(Env::system(), path, true, password);
  Catalog cat = db.catalog();
  TableRows out;
  PageSource pages = pageSourceOf(db.channel());
  for (const CatalogEntry& e : cat.entries()) {
    if (e.type != kObjectTypeTable || e.name == "MSysAccessObjects") continue;
    TableDefinition d = TableDefinition::read(db.channel(), e.tableDefinitionPage());
    auto& rows = out[e.name];
    db.forEachRow(d, [&](const std::vector<RawValue>& raw) {
      std::string line;
      for (std::size_t i = 0; i < raw.size(); ++i)
        line += d.columns()[i].name + "=" + toJson(decodeValue(d.columns()[i], raw[i], pages)) + " ";
      rows.push_back(line);
      return true;
    });
  }
  return out;
}

// Every index of the table passes IndexTree::verify and holds exactly the
// entries of its rows; returns the number of distinct keys of each index.
inline std::vector<std::size_t> expectIndexesMatchRows(PageChannel& channel, std::uint32_t tdef) {
  TableDefinition d = TableDefinition::read(channel, tdef);
  std::vector<std::vector<IndexEntry>> want(d.realIndexes().size());
  scanRows(channel, d, [&](RowId id, std::span<const std::uint8_t> bytes) {
    auto values = toRowValues(decodeRow(bytes, d.columns()));
    for (std::size_t i = 0; i < want.size(); ++i) want[i].push_back(indexEntryOf(d, i, values, id));
    return true;
  });
  std::vector<std::size_t> distinct;
  for (std::size_t i = 0; i < want.size(); ++i) {
    std::sort(want[i].begin(), want[i].end(), entryLess);
    IndexTree tree(channel, d, i);
    tree.verify([&](std::uint32_t page, const std::string& problem) {
      ADD_FAILURE() << "index " << i << " of the table at page " << tdef << ", page " << page << ": "
                    << problem;
    });
    auto have = tree.entries();
    EXPECT_EQ(have, want[i]) << "index " << i << " of the table at page " << tdef;
    std::size_t keys = 0;
    for (std::size_t k = 0; k < have.size(); ++k)
      if (k == 0 || !sameKey(have[k], have[k - 1])) ++keys;
    distinct.push_back(keys);
  }
  return distinct;
}

}  // namespace engine::testutil
