#include <gtest/gtest.h>

#include "engine/catalog.h"
#include "engine/error.h"
#include "engine/tests/read_fixture.h"

namespace engine {
namespace {

using testing::CountingEnv;
using testing::TempDir;

std::vector<std::string> userTableNames(const Catalog& c) {
  std::vector<std::string> out;
  for (const CatalogEntry* e : c.userTables()) out.push_back(e->name);
  return out;
}

Catalog readCatalog(const std::string& fixture) {
  TempDir dir;
  PageChannel ch(Env::system(), dir.copy(fixture), true);
  return Catalog::read(ch);
}

TEST(CatalogTest, UserTablesInCatalogOrder) {
  EXPECT_TRUE(readCatalog("access2000-blank.mdb").userTables().empty());
  EXPECT_EQ(userTableNames(readCatalog("sales-small.mdb")),
            (std::vector<std::string>{"fisno", "satislar", "urunler"}));
  EXPECT_EQ(userTableNames(readCatalog("sales-nofisno.mdb")),
            (std::vector<std::string>{"satislar", "urunler"}));
  EXPECT_EQ(userTableNames(readCatalog("sales-updated.mdb")),
            (std::vector<std::string>{"fisno", "satislar", "urunler", "fisnoeski",
                                      "satislareski"}));
  EXPECT_EQ(userTableNames(readCatalog("testV2000.mdb")),
            (std::vector<std::string>{"Table1", "Table2", "Table3", "Table4"}));
}

TEST(CatalogTest, SystemObjectsAreNotUserTables) {
  Catalog c = readCatalog("sales-small.mdb");
  bool sawSystemTable = false;
  for (const CatalogEntry& e : c.entries()) {
    if (e.name.rfind("MSys", 0) == 0 && e.type == kObjectTypeTable) {
      sawSystemTable = true;
      EXPECT_FALSE(e.isUserTable()) << e.name;
    }
  }
  EXPECT_TRUE(sawSystemTable);
  EXPECT_EQ(c.findUserTable("MSysObjects"), nullptr);
  EXPECT_EQ(c.findUserTable("MSysAccessObjects"), nullptr);  // flagged 0x2 only
  EXPECT_EQ(c.definition().page(), kCatalogPage);
}

TEST(CatalogTest, LookupIgnoresLetterCase) {
  Catalog c = readCatalog("sales-small.mdb");
  const CatalogEntry* a = c.findUserTable("SATISLAR");
  const CatalogEntry* b = c.findUserTable("Satislar");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a, b);
  EXPECT_EQ(a->name, "satislar");
  EXPECT_EQ(c.findUserTable("satislar2"), nullptr);
  EXPECT_EQ(c.findUserTable(""), nullptr);
  // Parent is the Tables folder; the definition page comes from the id.
  const CatalogEntry* folder = nullptr;
  for (const CatalogEntry& e : c.entries())
    if (e.name == "Tables") folder = &e;
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(a->parentId, folder->id);
  EXPECT_EQ(a->tableDefinitionPage(), static_cast<std::uint32_t>(a->id));
}

TEST(CatalogTest, PropertyBlobsAreKept) {
  Catalog c = readCatalog("sales-small.mdb");
  // satislar and urunler have column properties, fisno none.
  EXPECT_TRUE(c.findUserTable("fisno")->lvProp.empty());
  EXPECT_EQ(c.findUserTable("satislar")->lvProp.size(), 12u);  // a long-value reference
  EXPECT_FALSE(c.findUserTable("urunler")->lvProp.empty());
}

TEST(CatalogTest, CostDoesNotGrowWithRows) {
  // The catalog of the large file reads no more than that of the small one.
  auto cost = [](const std::string& fixture) {
    TempDir dir;
    std::string path = dir.copy(fixture);
    CountingEnv env;
    PageChannel ch(env, path, true);
    std::uint64_t before = env.bytesRead;
    Catalog c = Catalog::read(ch);
    for (const CatalogEntry* e : c.userTables()) TableDefinition::read(ch, e->tableDefinitionPage());
    return env.bytesRead - before;
  };
  std::uint64_t small = cost("sales-small.mdb");
  std::uint64_t large = cost("sales-large.mdb");
  EXPECT_LE(large, small + 2 * kPageSize);
  EXPECT_LT(large, 64 * kPageSize);
}

}  // namespace
}  // namespace engine
