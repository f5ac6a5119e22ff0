#include <gtest/gtest.h>

#include <filesystem>
#include <algorithm>
#include <functional>
#include <random>

#include "engine/byte_reader.h"
#include "engine/catalog_writer.h"
#include "engine/engine.h"
#include "engine/error.h"
#include "engine/index_page.h"
#include "engine/index_tree.h"
#include "engine/jet_database.h"
#include "engine/table_writer.h"
#include "engine/testing/fault_env.h"
#include "engine/tests/catalog_write_util.h"
#include "engine/tests/cuts.h"
#include "engine/tests/integrity_util.h"

namespace engine {
namespace {

using testing::FaultEnv;
using testing::SimulatedCrash;
using namespace testutil;

// Table creation as the schema routines do it.
void createIn(Env& env, const std::string& path, const std::string& password,
              const std::string& name) {
  auto engine = makeJetEngine(env);
  auto db = engine->openDatabase(path, false, false, ";pwd=" + password);
  NewTableDef def = db->createTableDef(name);
  NewField no = createField("no", 4);
  no.attributes = kAutoIncrement;
  def.fields.push_back(no);
  db->appendTableDef(def);
}

void renameIn(Env& env, const std::string& path, const std::string& password,
              const std::string& from, const std::string& to) {
  auto engine = makeJetEngine(env);
  auto db = engine->openDatabase(path, false, false, ";pwd=" + password);
  db->tableDef(from)->rename(to);
}

struct AccessEntryRow {
  std::vector<std::uint8_t> sid;
  std::uint32_t rights = 0;
  bool inheritable = false;
  bool operator==(const AccessEntryRow&) const = default;
};

std::vector<AccessEntryRow> accessEntries(JetDatabase& db, std::int32_t objectId) {
  Catalog cat = db.catalog();
  std::uint32_t page = 0;
  for (const CatalogEntry& e : cat.entries())
    if (e.name == "MSysACEs") page = e.tableDefinitionPage();
  TableDefinition d = TableDefinition::read(db.channel(), page);
  std::vector<AccessEntryRow> out;
  db.forEachRow(d, [&](const std::vector<RawValue>& v) {
    if (ByteReader(v[0].bytes, "ace").i32(0) != objectId) return true;
    out.push_back({{v[1].bytes.begin(), v[1].bytes.end()}, ByteReader(v[2].bytes, "ace").u32(0),
                   v[3].boolean});
    return true;
  });
  return out;
}

// Creates the two tables of the update run and checks what it relies on and
// what the real engine writes.
void createAndCheck(const std::string& fixture, const std::string& password,
                    const std::vector<std::pair<std::string, std::string>>& renames) {
  TempDir dir;
  std::string path = dir.copy(fixture);
  std::string renamed;
  for (const auto& [from, to] : renames) {
    renameIn(Env::system(), path, password, from, to);
    renamed += (renamed.empty() ? "" : ",") + from + "=" + to;
  }
  TableRows before = allRows(path, password);
  std::vector<std::uint32_t> acesCountsBefore;
  {
    JetDatabase db(Env::system(), path, true, password);
    TableDefinition aces = TableDefinition::read(db.channel(), 3);
    for (const auto& x : aces.realIndexes()) acesCountsBefore.push_back(x.uniqueEntryCount);
  }
  FixedClockEnv clock(Env::system());
  createIn(clock, path, password, "fisno");
  createIn(clock, path, password, "satislar");

  JetDatabase db(Env::system(), path, true, password);
  auto engine = makeJetEngine(Env::system());
  auto open = engine->openDatabase(path, false, true, ";pwd=" + password);
  std::vector<AccessEntryRow> container = accessEntries(db, 0x0F000001);
  for (const std::string name : {"fisno", "satislar"}) {
    std::vector<FieldInfo> fields = open->tableDef(name)->fields();
    ASSERT_EQ(fields.size(), 1u) << fixture << " " << name;
    EXPECT_EQ(fields[0].name, "no");
    EXPECT_EQ(fields[0].typeCode, kTypeLong);
    EXPECT_TRUE(fields[0].autoIncrement);
    EXPECT_FALSE(fields[0].required);

    auto t = db.table(name);
    ASSERT_TRUE(t.has_value());
    EXPECT_EQ(t->definition.rowCount(), 0u);
    EXPECT_EQ(t->definition.nextAutoNumber(), 1u);
    EXPECT_TRUE(t->definition.realIndexes().empty());
    EXPECT_EQ(t->entry.id, static_cast<std::int32_t>(t->definition.page()));
    EXPECT_TRUE(db.properties(t->entry).names().empty());
    // The access entries the container passes on, creator entry left out.
    std::vector<AccessEntryRow> want;
    for (const AccessEntryRow& a : container)
      if (a.rights != 0x000F00FE) want.push_back({a.sid, a.rights, false});
    EXPECT_EQ(accessEntries(db, t->entry.id), want) << fixture << " " << name;
  }
  // Catalog dates: the clock's local time.
  Catalog cat = db.catalog();
  const TableDefinition& cd = cat.definition();
  const CatalogEntry* fisno = cat.findUserTable("fisno");
  std::vector<std::uint8_t> rowBytes = *readRowData(db.channel(), fisno->row);
  auto values = decodeRow(rowBytes, cd.columns());
  PageSource pages = pageSourceOf(db.channel());
  for (const char* column : {"DateCreate", "DateUpdate"}) {
    const Column* c = cd.findColumn(column);
    EXPECT_EQ(toJson(decodeValue(*c, values[static_cast<std::size_t>(c - cd.columns().data())], pages)),
              "\"2026-12-07 09:30:15\"") << column;
  }
  // Indexes and their counts.
  auto catalogCounts = expectIndexesMatchRows(db.channel(), kCatalogPage);
  TableDefinition catalogDef = TableDefinition::read(db.channel(), kCatalogPage);
  for (std::size_t i = 0; i < catalogCounts.size(); ++i)
    EXPECT_EQ(catalogDef.realIndexes()[i].uniqueEntryCount, catalogCounts[i]);
  expectIndexesMatchRows(db.channel(), 3);
  auto aces = TableDefinition::read(db.channel(), 3).realIndexes();
  for (std::size_t i = 0; i < aces.size(); ++i)
    EXPECT_EQ(aces[i].uniqueEntryCount, acesCountsBefore[i] + 2);
  // Nothing else changed.
  TableRows after = allRows(path, password);
  EXPECT_EQ(after["fisno"].size(), 0u);
  EXPECT_EQ(after["satislar"].size(), 0u);
  for (const char* t : {"fisno", "satislar", "MSysObjects", "MSysACEs"}) {
    after.erase(t);
    before.erase(t);
  }
  EXPECT_EQ(after, before);
  expectIntegrity(path, password, fixture);
  if (readersAvailable()) {
    std::string schema = commandOutput("mdb-schema '" + path + "' access", path + ".sql");
    EXPECT_NE(schema.find("CREATE TABLE [fisno]\n (\n\t[no]\t\t\tLong Integer\n);"), std::string::npos)
        << schema;
    expectReadersRead(path, password,
                      "--rows-like '" + std::string(KARVELTA_FIXTURES_DIR) + "/" + fixture + "'" +
                          (renamed.empty() ? "" : " --renamed " + renamed));
  }
}

TEST(CreateTable, SalesTablesAnewAfterTheRenames) {
  createAndCheck("sales-small.mdb", kSalesPassword,
                 {{"fisno", "fisnoeski"}, {"satislar", "satislareski"}});
}

TEST(CreateTable, OnAccessMadeFiles) {
  createAndCheck("testV2000.mdb", "", {});
  createAndCheck("access2000-blank.mdb", "", {});
}

TEST(CreateTable, TheFirstRowAppendedGetsNumberOne) {
  TempDir dir;
  for (const std::string fixture : {"sales-small.mdb", "testV2000.mdb"}) {
    std::string password = fixture == "sales-small.mdb" ? kSalesPassword : "";
    std::string path = dir.copy(fixture);
    if (fixture == "sales-small.mdb") renameIn(Env::system(), path, password, "fisno", "fisnoeski");
    createIn(Env::system(), path, password, "fisno");
    std::uint32_t page = 0;
    {
      JetDatabase db(Env::system(), path, false, password);
      page = db.table("fisno")->definition.page();
      EXPECT_EQ(appendRow(db.channel(), page, {}).autoNumbers, std::vector<std::int32_t>{1});
      EXPECT_EQ(appendRow(db.channel(), page, {}).autoNumbers, std::vector<std::int32_t>{2});
      EXPECT_THROW(appendRow(db.channel(), page, {{"no", RowValue::ofLong(7)}}), Error);
      EXPECT_THROW(appendRow(db.channel(), page, {{"yok", RowValue::ofLong(7)}}), Error);
    }
    JetDatabase db(Env::system(), path, true, password);
    auto t = db.table("fisno");
    EXPECT_EQ(t->definition.rowCount(), 2u);
    EXPECT_EQ(t->definition.lastAutoNumber(), 2u);
    std::vector<std::string> numbers;
    db.forEachRow(t->definition, [&](const std::vector<RawValue>& v) {
      numbers.push_back(std::to_string(ByteReader(v[0].bytes, "no").i32(0)));
      return true;
    });
    EXPECT_EQ(numbers, (std::vector<std::string>{"1", "2"})) << fixture;
    expectIntegrity(path, password, fixture);
    if (readersAvailable()) {
      EXPECT_EQ(commandOutput("mdb-export '" + path + "' fisno", path + ".csv"), "no\n1\n2\n");
      expectReadersRead(path, password);
    }
  }
}

TEST(CreateTable, RefusalsLeaveTheFileUnchanged) {
  TempDir dir;
  std::string path = dir.copy("sales-small.mdb");
  auto original = fileBytes(path);
  auto refused = [&](const std::string& name, const std::string& what) {
    EXPECT_THROW(createIn(Env::system(), path, kSalesPassword, name), Error) << what;
    EXPECT_EQ(fileBytes(path), original) << what;
  };
  refused("FISNO", "a taken name in other letter case");
  refused("urunler", "a taken name");
  refused("MSysACEs", "a system table's name");
  for (const std::string& bad : {std::string(), std::string(65, 'b'), std::string(" t"),
                                 std::string("a.b"), std::string("a!b"), std::string("a`b"),
                                 std::string("a[b"), std::string("a]b"), std::string("a\nb"),
                                 std::string("satış"), std::string("a b")})
    refused(bad, "bad name '" + bad + "'");
  {
    OtherProcessLock other(path);
    refused("yeni", "in use by another process");
  }
  FaultEnv readOnly(Env::system());
  readOnly.denyWriteAccess(path);
  EXPECT_THROW(createIn(readOnly, path, kSalesPassword, "yeni"), Error);
  EXPECT_EQ(fileBytes(path), original);
  // Other shapes of definition.
  auto engine = makeJetEngine(Env::system());
  auto db = engine->openDatabase(path, false, false, ";pwd=zorpelnik");
  NewTableDef none = db->createTableDef("yeni");
  EXPECT_THROW(db->appendTableDef(none), Error);
  NewTableDef plain = db->createTableDef("yeni");
  plain.fields.push_back(createField("no", 4));
  EXPECT_THROW(db->appendTableDef(plain), Error);
  NewTableDef text = db->createTableDef("yeni");
  text.fields.push_back(createField("ad", 10, "20"));
  text.fields.back().attributes = kAutoIncrement;
  EXPECT_THROW(db->appendTableDef(text), Error);
  NewTableDef badField = db->createTableDef("yeni");
  badField.fields.push_back(createField("n.o", 4));
  badField.fields.back().attributes = kAutoIncrement;
  EXPECT_THROW(db->appendTableDef(badField), Error);
  db.reset();
  EXPECT_EQ(fileBytes(path), original);
}

// Levels of an index tree, walking down its first children.
std::size_t treeLevels(PageChannel& channel, std::uint32_t root) {
  std::size_t levels = 1;
  for (IndexPage p = IndexPage::decode(channel.readPage(root), root); !p.leaf; ++levels) {
    const std::uint32_t child = p.child(0);
    p = IndexPage::decode(channel.readPage(child), child);
  }
  return levels;
}

// The system's files without their flushes, for tests that make many
// changes and do not cut any.
class UnsyncedEnv final : public EnvWrapper {
 public:
  UnsyncedEnv() : EnvWrapper(Env::system()) {}
  std::unique_ptr<File> open(const std::string& path, OpenMode mode) override {
    return std::make_unique<Unsynced>(EnvWrapper::open(path, mode));
  }
  void syncDirectory(const std::string&) override {}

 private:
  struct Unsynced final : FileWrapper {
    using FileWrapper::FileWrapper;
    void sync() override {}
  };
};

NewTableDef autoNumbered(Database& db, const std::string& name) {
  NewTableDef def = db.createTableDef(name);
  NewField no = createField("no", 4);
  no.attributes = kAutoIncrement;
  def.fields.push_back(no);
  return def;
}

// A name of 64 characters, most of them underscores (two key bytes each):
// few tables fill an index page.
std::string longName(int i) {
  std::string s = "t" + std::to_string(10000 + i);
  return s + std::string(64 - s.size(), '_');
}

// Tables enough to grow the catalog's name index to a root over node pages
// over leaves (and its other indexes over several leaves), made in random
// order through the engine: every name and every id is found through the
// indexes at its catalog row, a taken name (in other letter case) is still
// refused, the check passes and the readers read the file.
TEST(CreateTable, TablesEnoughForThreeIndexLevels) {
  TempDir dir;
  const std::string path = dir.copy("sales-small.mdb");
  constexpr int kTables = 720;
  std::vector<int> order(kTables);
  for (int i = 0; i < kTables; ++i) order[static_cast<std::size_t>(i)] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(7));
  {
    UnsyncedEnv unsynced;
    auto engine = makeJetEngine(unsynced);
    auto db = engine->openDatabase(path, false, false, ";pwd=zorpelnik");
    for (int i : order) {
      db->appendTableDef(autoNumbered(*db, longName(i)));
    }
    EXPECT_THROW(db->appendTableDef(autoNumbered(*db, "T10007" + std::string(58, '_'))), Error);
  }
  EXPECT_FALSE(std::filesystem::exists(PageChannel::journalPath(path)));
  {
    JetDatabase jet(Env::system(), path, true, kSalesPassword);
    const TableDefinition d = TableDefinition::read(jet.channel(), kCatalogPage);
    IndexTree names(jet.channel(), d, 0), ids(jet.channel(), d, 1);
    EXPECT_GE(treeLevels(jet.channel(), names.rootPage()), 3u);
    EXPECT_GE(treeLevels(jet.channel(), ids.rootPage()), 2u);
    const Catalog catalog = jet.catalog();
    std::size_t found = 0;
    for (const CatalogEntry& e : catalog.entries()) {
      IndexEntry name, id;
      appendLongKey(name, e.parentId);
      appendTextKey(name, e.name);
      appendLongKey(id, e.id);
      for (IndexTree* tree : {&names, &ids}) {
        const std::vector<RowId> rows = tree->find(tree == &names ? name : id);
        ASSERT_EQ(rows.size(), 1u) << e.name;
        EXPECT_EQ(rows[0].page, e.row.page) << e.name;
        EXPECT_EQ(rows[0].row, e.row.row) << e.name;
      }
      ++found;
    }
    EXPECT_EQ(found, 21u + kTables);
    expectIndexesMatchRows(jet.channel(), kCatalogPage);
    const auto aces = jet.catalog().entries();
    for (const CatalogEntry& e : aces)
      if (e.name == "MSysACEs") expectIndexesMatchRows(jet.channel(), e.tableDefinitionPage());
  }
  expectIntegrity(path, kSalesPassword, "sales-small.mdb");
  if (readersAvailable())
    expectReadersRead(path, kSalesPassword, "--rows-like '" KARVELTA_FIXTURES_DIR "/sales-small.mdb'");
}

// Pages of the catalog's name index in the database at path.
std::size_t namePages(const std::string& path) {
  JetDatabase jet(Env::system(), path, true, kSalesPassword);
  const TableDefinition d = TableDefinition::read(jet.channel(), kCatalogPage);
  return IndexTree(jet.channel(), d, 0).pages().size();
}

// Cuts of a creation that splits the root of the name index (a leaf becomes
// a node over two leaves), of one that splits a leaf under the root, and of
// a rename that splits a leaf: each cut leaves the file as before or as
// after, and the check passes on it.
TEST(CreateTable, CutsOfChangesThatSplitTheNameIndex) {
  TempDir dir;
  const std::string path = dir.copy("sales-small.mdb", "grown.mdb");
  UnsyncedEnv unsynced;
  // Tables until a creation splits the root, then until one splits a leaf.
  std::vector<std::uint8_t> rootSplit, leafSplit;
  std::string rootSplitter, leafSplitter;
  for (int i = 0; leafSplit.empty(); ++i) {
    ASSERT_LT(i, 200);
    const auto before = fileBytes(path);
    const std::size_t pages = namePages(path);
    createIn(unsynced, path, kSalesPassword, longName(i));
    if (namePages(path) == pages) continue;
    if (pages == 1) {
      EXPECT_EQ(namePages(path), 3u);
      rootSplit = before;
      rootSplitter = longName(i);
    } else {
      EXPECT_EQ(namePages(path), pages + 1);
      leafSplit = before;
      leafSplitter = longName(i);
    }
  }
  auto creation = [](const std::string& name) {
    return [name](Env& env, const std::string& at) { createIn(env, at, kSalesPassword, name); };
  };
  std::string after = expectAllOrNothingFrom(dir, rootSplit, "sales-small.mdb", kSalesPassword,
                                             creation(rootSplitter));
  EXPECT_EQ(namePages(after), 3u);
  after = expectAllOrNothingFrom(dir, leafSplit, "sales-small.mdb", kSalesPassword, creation(leafSplitter));
  EXPECT_EQ(namePages(after), 4u);
  after = expectAllOrNothingFrom(dir, leafSplit, "sales-small.mdb", kSalesPassword,
                                 [&](Env& env, const std::string& at) {
                                   renameIn(env, at, kSalesPassword, "fisno", leafSplitter);
                                 });
  EXPECT_EQ(namePages(after), 4u);
  if (readersAvailable())
    expectReadersRead(after, kSalesPassword,
                      "--rows-like '" KARVELTA_FIXTURES_DIR "/sales-small.mdb' --renamed fisno=" + leafSplitter);
}

TEST(CreateTable, CutWritesAndFlushes) {
  for (const std::string fixture : {"sales-small.mdb", "access2000-blank.mdb"}) {
    const std::string password = fixture == "sales-small.mdb" ? kSalesPassword : "";
    TempDir dir;
    const std::string after = expectAllOrNothing(
        dir, fixture, password,
        [&](Env& env, const std::string& path) { createIn(env, path, password, "yeni"); });
    if (readersAvailable())
      expectReadersRead(after, password,
                        "--rows-like '" + std::string(KARVELTA_FIXTURES_DIR) + "/" + fixture + "'");
  }
}

}  // namespace
}  // namespace engine
