#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "engine/catalog_writer.h"
#include "engine/engine.h"
#include "engine/error.h"
#include "engine/jet_database.h"
#include "engine/testing/fault_env.h"
#include "engine/tests/catalog_write_util.h"
#include "engine/tests/cuts.h"
#include "engine/tests/integrity_util.h"

namespace engine {
namespace {

using testing::FaultEnv;
using testing::SimulatedCrash;
using namespace testutil;

void renameIn(Env& env, const std::string& path, const std::string& password,
              const std::string& from, const std::string& to) {
  auto engine = makeJetEngine(env);
  auto db = engine->openDatabase(path, false, false, ";pwd=" + password);
  auto table = db->tableDef(from);
  table->rename(to);
  EXPECT_EQ(table->name(), to);
}

// Renames, then checks what the update run relies on: the table under its
// new name with the same rows, every other table untouched, the catalog
// indexes right, and the readers agreeing.
void renameAndCheck(const std::string& fixture, const std::string& password,
                    const std::vector<std::pair<std::string, std::string>>& renames) {
  TempDir dir;
  std::string path = dir.copy(fixture);
  TableRows before = allRows(path, password);
  std::string renamed;
  for (const auto& [from, to] : renames) {
    renameIn(Env::system(), path, password, from, to);
    renamed += (renamed.empty() ? "" : ",") + from + "=" + to;
  }
  TableRows after = allRows(path, password);
  for (const auto& [from, to] : renames) {
    ASSERT_TRUE(after.count(to)) << to;
    EXPECT_FALSE(after.count(from)) << from;
    EXPECT_EQ(after[to], before[from]) << fixture << " " << to;
    before.erase(from);
    after.erase(to);
  }
  // MSysObjects holds the new names; everything else is unchanged.
  before.erase("MSysObjects");
  after.erase("MSysObjects");
  EXPECT_EQ(after, before);
  {
    JetDatabase db(Env::system(), path, true, password);
    auto counts = expectIndexesMatchRows(db.channel(), kCatalogPage);
    TableDefinition d = TableDefinition::read(db.channel(), kCatalogPage);
    ASSERT_EQ(counts.size(), d.realIndexes().size());
    for (std::size_t i = 0; i < counts.size(); ++i)
      EXPECT_EQ(d.realIndexes()[i].uniqueEntryCount, counts[i]) << fixture << " index " << i;
    for (const auto& [from, to] : renames) {
      EXPECT_TRUE(db.table(to).has_value());
      EXPECT_FALSE(db.table(from).has_value());
    }
  }
  expectIntegrity(path, password, fixture);
  if (readersAvailable())
    expectReadersRead(path, password,
                      "--rows-like '" + std::string(KARVELTA_FIXTURES_DIR) + "/" + fixture +
                          "' --renamed " + renamed);
}

TEST(Rename, SalesTablesKeepTheirRowsUnderTheirNewNames) {
  renameAndCheck("sales-small.mdb", kSalesPassword,
                 {{"fisno", "fisnoeski"}, {"satislar", "satislareski"}});
}

TEST(Rename, TablesOfAccessMadeFiles) {
  renameAndCheck("testV2000.mdb", "", {{"Table1", "fisnoeski"}, {"Table3", "satislareski"}});
  renameAndCheck("delColTestV2000.mdb", "", {{"Table1", "Table1_eski"}});
}

TEST(Rename, LongNamesOnACatalogWithMovedRows) {
  // sales-updated's catalog holds rows that were moved (overflow rows);
  // every user table gets a name of 64 characters, three of them through
  // their overflow rows.
  TempDir dir;
  std::string path = dir.copy("sales-updated.mdb");
  TableRows before = allRows(path, kSalesPassword);
  std::string name(64, 'x');
  std::vector<std::string> order{"fisno", "satislar", "urunler", "fisnoeski", "satislareski"};
  std::string renamed;
  for (std::size_t i = 0; i < order.size(); ++i) {
    std::string to = name.substr(0, 62) + char('a' + i) + "1";
    renameIn(Env::system(), path, kSalesPassword, order[i], to);
    renamed += (renamed.empty() ? "" : ",") + order[i] + "=" + to;
  }
  JetDatabase db(Env::system(), path, true, kSalesPassword);
  expectIndexesMatchRows(db.channel(), kCatalogPage);
  EXPECT_EQ(db.tables().size(), order.size());
  TableRows after = allRows(path, kSalesPassword);
  EXPECT_EQ(after.size(), before.size());
  expectIntegrity(path, kSalesPassword, "sales-updated.mdb");
  if (readersAvailable())
    expectReadersRead(path, kSalesPassword,
                      "--rows-like '" KARVELTA_FIXTURES_DIR "/sales-updated.mdb' --renamed " + renamed);
}

TEST(Rename, SameNameInOtherLetterCaseIsTheSameTable) {
  TempDir dir;
  std::string path = dir.copy("sales-small.mdb");
  auto untouched = fileBytes(path);
  renameIn(Env::system(), path, kSalesPassword, "fisno", "fisno");
  EXPECT_EQ(fileBytes(path), untouched);  // the same spelling writes nothing
  renameIn(Env::system(), path, kSalesPassword, "fisno", "FisNo");
  JetDatabase db(Env::system(), path, true, kSalesPassword);
  auto t = db.table("fisno");
  ASSERT_TRUE(t.has_value());
  EXPECT_EQ(t->entry.name, "FisNo");
  expectIndexesMatchRows(db.channel(), kCatalogPage);
  expectIntegrity(path, kSalesPassword, "sales-small.mdb");
}

TEST(Rename, RefusalsLeaveTheFileUnchanged) {
  TempDir dir;
  std::string path = dir.copy("sales-small.mdb");
  auto original = fileBytes(path);
  auto refused = [&](const std::string& from, const std::string& to, const std::string& what) {
    EXPECT_THROW(renameIn(Env::system(), path, kSalesPassword, from, to), Error) << what;
    EXPECT_EQ(fileBytes(path), original) << what;
  };
  refused("fisno", "URUNLER", "a user table's name in other letter case");
  refused("fisno", "msysobjects", "a system table's name");
  refused("fisnoeski", "yeni", "a missing table");
  for (const std::string& bad :
       {std::string(), std::string(65, 'a'), std::string(" fis"), std::string("fis.no"),
        std::string("fis!no"), std::string("fis`no"), std::string("fis[no"), std::string("fis]no"),
        std::string("fis\tno"), std::string("fis no"), std::string("fişno"), std::string("f\xff")})
    refused("fisno", bad, "bad name '" + bad + "'");
  {
    OtherProcessLock other(path);
    refused("fisno", "fisnoeski", "in use by another process");
  }
  FaultEnv readOnly(Env::system());
  readOnly.denyWriteAccess(path);
  EXPECT_THROW(renameIn(readOnly, path, kSalesPassword, "fisno", "fisnoeski"), Error);
  EXPECT_EQ(fileBytes(path), original);
  // A name of 64 characters is accepted.
  EXPECT_NO_THROW(renameIn(Env::system(), path, kSalesPassword, "fisno", std::string(64, 'a')));
  expectIntegrity(path, kSalesPassword, "sales-small.mdb");
}

TEST(Rename, CostDoesNotDependOnTheRows) {
  // The operation reads and writes the same pages whatever the table holds:
  // on the large file it touches as many pages as on the small one.
  auto pagesWritten = [](const std::string& fixture) {
    TempDir dir;
    std::string path = dir.copy(fixture);
    FaultEnv env(Env::system());
    env.arm(FaultEnv::Kind::Write, FaultEnv::Mode::Fail, 1 << 30);
    renameIn(env, path, kSalesPassword, "satislar", "satislareski");
    return env.writes();
  };
  EXPECT_EQ(pagesWritten("sales-large.mdb"), pagesWritten("sales-small.mdb"));
}

// Cuts every write and every flush of a rename in turn: the file ends up
// exactly as before or as after, and the readers read the result.
TEST(Rename, CutWritesAndFlushes) {
  TempDir dir;
  const std::string after = expectAllOrNothing(dir, "sales-small.mdb", kSalesPassword,
                                               [](Env& env, const std::string& path) {
                                                 renameIn(env, path, kSalesPassword, "satislar", "satislareski");
                                               });
  if (readersAvailable())
    expectReadersRead(after, kSalesPassword,
                      "--rows-like '" KARVELTA_FIXTURES_DIR "/sales-small.mdb' --renamed satislar=satislareski");
}

}  // namespace
}  // namespace engine
