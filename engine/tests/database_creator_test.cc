// New databases: what createDatabase writes, compared with the blank
// database Access makes, read by the independent readers, changed by our own
// schema operations, and cut at every write and flush.
#include <gtest/gtest.h>

#include <bit>
#include <filesystem>
#include <map>
#include <set>

#include "engine/byte_reader.h"
#include "engine/catalog.h"
#include "engine/catalog_writer.h"
#include "engine/database_creator.h"
#include "engine/engine.h"
#include "engine/error.h"
#include "engine/jet_database.h"
#include "engine/table_writer.h"
#include "engine/testing/fault_env.h"
#include "engine/tests/catalog_write_util.h"
#include "engine/tests/cuts.h"
#include "engine/tests/integrity_util.h"
#include "engine/text_codec.h"

namespace engine {
namespace {

using testing::FaultEnv;
using testing::SimulatedCrash;
using namespace testutil;

constexpr const char* kBlank = "access2000-blank.mdb";
const std::vector<std::string> kSystemTables = {"MSysObjects", "MSysACEs", "MSysQueries",
                                                "MSysRelationships"};
// What Access adds to a file when it opens it; a new file lacks them.
const std::vector<std::string> kAddedByAccess = {"AccessLayout", "SummaryInfo", "UserDefined",
                                                 "MSysAccessObjects"};

bool addedByAccess(const std::string& name) {
  return std::find(kAddedByAccess.begin(), kAddedByAccess.end(), name) != kAddedByAccess.end();
}

const CatalogEntry& entryNamed(const Catalog& cat, const std::string& name) {
  for (const CatalogEntry& e : cat.entries())
    if (e.name == name) return e;
  throw Error("no catalog row " + name);
}

// The decoded rows of a table (by column name), in storage order; long
// values (memo, OLE) left out: Access's own blobs in the blank file are of
// kinds the engine does not decode.
using Row = std::map<std::string, std::string>;
std::vector<Row> rowsOf(JetDatabase& db, std::uint32_t tdef) {
  TableDefinition d = TableDefinition::read(db.channel(), tdef);
  PageSource pages = pageSourceOf(db.channel());
  std::vector<Row> out;
  db.forEachRow(d, [&](const std::vector<RawValue>& raw) {
    Row r;
    for (std::size_t i = 0; i < raw.size(); ++i)
      if (!d.columns()[i].isLongValue())
        r[d.columns()[i].name] = toJson(decodeValue(d.columns()[i], raw[i], pages));
    out.push_back(std::move(r));
    return true;
  });
  return out;
}

TEST(NewDatabase, OpensWithItsPasswordOnly) {
  TempDir dir;
  FixedClockEnv clock(Env::system());
  const std::string locked = dir.path("locked.mdb");
  createDatabase(clock, locked, kSalesPassword);
  {
    JetDatabase db(Env::system(), locked, true, kSalesPassword);
    EXPECT_EQ(db.header().password(), kSalesPassword);
    EXPECT_EQ(db.header().creationDate(), jetDate(clock.now()));
    EXPECT_EQ(db.header().codePage(), 1252);
    EXPECT_EQ(db.header().sortOrder(), 0x0409u);
    EXPECT_TRUE(db.tables().empty());
  }
  for (const char* wrong : {"", "Zorpelnik", "zorpelni", "zorpelnikk"})
    EXPECT_THROW(JetDatabase(Env::system(), locked, true, wrong), Error) << wrong;
  EXPECT_FALSE(std::filesystem::exists(creationTempPath(locked)));

  const std::string open = dir.path("open.mdb");
  createDatabase(clock, open, "");
  for (const char* any : {"", "zorpelnik", "x"}) {
    JetDatabase db(Env::system(), open, true, any);
    EXPECT_FALSE(db.header().hasPassword());
    EXPECT_TRUE(db.tables().empty());
  }

  // The longest password, with letters outside ASCII.
  const std::string turkish = dir.path("turkish.mdb");
  const std::string twenty = "şifreŞİFREığüöçĞÜÖÇ12";  // 21 characters
  EXPECT_THROW(createDatabase(clock, turkish, twenty), Error);
  EXPECT_FALSE(std::filesystem::exists(turkish));
  const std::string longest = twenty.substr(0, twenty.size() - 1);
  createDatabase(clock, turkish, longest);
  EXPECT_EQ(JetDatabase(Env::system(), turkish, true, longest).header().password(), longest);
  EXPECT_THROW(createDatabase(clock, dir.path("nul.mdb"), std::string("a\0b", 3)), Error);
  for (const auto& [file, password] : std::vector<std::pair<std::string, std::string>>{
           {locked, kSalesPassword}, {open, ""}, {turkish, longest}})
    expectIntegrity(file, password);

  if (readersAvailable()) {
    EXPECT_EQ(commandOutput("mdb-ver '" + locked + "'", dir.path("ver.txt")), "JET4\n");
    expectReadersRead(locked, kSalesPassword);
    expectReadersRead(open, "");
    EXPECT_EQ(commandOutput("mdb-tables -1 '" + locked + "'", dir.path("tables.txt")), "");
  }
}

TEST(NewDatabase, RefusesToReplaceAFile) {
  TempDir dir;
  FixedClockEnv clock(Env::system());
  const std::string path = dir.copy("sales-small.mdb", "there.mdb");
  const auto before = fileBytes(path);
  EXPECT_THROW(createDatabase(clock, path, ""), Error);
  EXPECT_EQ(fileBytes(path), before);

  // A journal without its database would be rolled into the new file.
  const std::string orphan = dir.path("orphan.mdb");
  writeBytes(PageChannel::journalPath(orphan), {1, 2, 3});
  EXPECT_THROW(createDatabase(clock, orphan, ""), Error);
  EXPECT_FALSE(std::filesystem::exists(orphan));

  // Leftovers of an interrupted creation are cleared.
  const std::string fresh = dir.path("fresh.mdb");
  writeBytes(creationTempPath(fresh), std::vector<std::uint8_t>(4096, 0xEE));
  writeBytes(PageChannel::journalPath(creationTempPath(fresh)), std::vector<std::uint8_t>(64, 0xEE));
  createDatabase(clock, fresh, "");
  EXPECT_FALSE(std::filesystem::exists(creationTempPath(fresh)));
  EXPECT_FALSE(std::filesystem::exists(PageChannel::journalPath(creationTempPath(fresh))));
  EXPECT_TRUE(JetDatabase(Env::system(), fresh, true, "").tables().empty());

  // A directory that does not exist: an Error, nothing written.
  EXPECT_THROW(createDatabase(clock, dir.path("no/such/dir.mdb"), ""), Error);
}

// A new database (no password, made at a fixed time) beside a copy of
// Access's blank file, both open for reading.
class NewBesideBlank : public ::testing::Test {
 protected:
  static std::string created(const TempDir& dir, Env& env) {
    const std::string path = dir.path("new.mdb");
    createDatabase(env, path, "");
    return path;
  }

  TempDir dir;
  FixedClockEnv clock;
  JetDatabase ours{Env::system(), created(dir, clock), true, ""};
  JetDatabase blank{Env::system(), dir.copy(kBlank), true, ""};
};

TEST_F(NewBesideBlank, SystemTablesAreDefinedAsAccessDefinesThem) {
  Catalog oc = ours.catalog(), bc = blank.catalog();
  for (const std::string& name : kSystemTables) {
    SCOPED_TRACE(name);
    const std::uint32_t page = entryNamed(oc, name).tableDefinitionPage();
    ASSERT_EQ(page, entryNamed(bc, name).tableDefinitionPage());
    TableDefinition o = TableDefinition::read(ours.channel(), page);
    TableDefinition b = TableDefinition::read(blank.channel(), page);
    EXPECT_EQ(o.tableType(), 0x53);
    EXPECT_EQ(o.tableType(), b.tableType());
    EXPECT_EQ(o.maxColumns(), b.maxColumns());
    EXPECT_EQ(o.variableColumnCount(), b.variableColumnCount());
    EXPECT_EQ(o.definitionLength(), b.definitionLength());
    EXPECT_EQ(o.ownedPages().page, b.ownedPages().page);
    EXPECT_EQ(o.ownedPages().row, b.ownedPages().row);
    EXPECT_EQ(o.freeSpacePages().row, b.freeSpacePages().row);
    ASSERT_EQ(o.columns().size(), b.columns().size());
    for (std::size_t i = 0; i < o.columns().size(); ++i) {
      const Column &x = o.columns()[i], &y = b.columns()[i];
      SCOPED_TRACE(y.name);
      EXPECT_EQ(x.name, y.name);
      EXPECT_EQ(x.type, y.type);
      EXPECT_EQ(x.number, y.number);
      EXPECT_EQ(x.varIndex, y.varIndex);
      EXPECT_EQ(x.length, y.length);
      EXPECT_EQ(x.flags, y.flags);
      EXPECT_EQ(x.extFlags, y.extFlags);
      EXPECT_EQ(x.sortOrder, y.sortOrder);
      EXPECT_EQ(x.definitionIndex, y.definitionIndex);  // the stored order
      if (x.fixedLength()) {
        EXPECT_EQ(x.fixedOffset, y.fixedOffset);
      }
    }
    ASSERT_EQ(o.realIndexes().size(), b.realIndexes().size());
    for (std::size_t i = 0; i < o.realIndexes().size(); ++i) {
      const RealIndex &x = o.realIndexes()[i], &y = b.realIndexes()[i];
      EXPECT_EQ(x.firstPage, y.firstPage);
      EXPECT_EQ(x.flags, y.flags);
      EXPECT_EQ(x.usageMap.row, y.usageMap.row);
      ASSERT_EQ(x.columns.size(), y.columns.size());
      for (std::size_t k = 0; k < x.columns.size(); ++k) {
        EXPECT_EQ(x.columns[k].columnNumber, y.columns[k].columnNumber);
        EXPECT_EQ(x.columns[k].flags, y.columns[k].flags);
      }
      // Each index is one leaf that lists exactly the rows.
      Page leaf = ours.channel().readPage(x.firstPage);
      EXPECT_EQ(leaf[0], 0x04);
      EXPECT_EQ(ByteReader(leaf, "leaf").u32(4), page);
    }
    ASSERT_EQ(o.logicalIndexes().size(), b.logicalIndexes().size());
    for (std::size_t i = 0; i < o.logicalIndexes().size(); ++i) {
      const LogicalIndex &x = o.logicalIndexes()[i], &y = b.logicalIndexes()[i];
      EXPECT_EQ(x.name, y.name);
      EXPECT_EQ(x.number, y.number);
      EXPECT_EQ(x.realIndex, y.realIndex);
      EXPECT_EQ(x.type, y.type);
      EXPECT_EQ(x.relatedIndex, y.relatedIndex);
      EXPECT_EQ(x.foreignKey(), false);
    }
    ASSERT_EQ(o.columnUsageMaps().size(), b.columnUsageMaps().size());
    for (std::size_t i = 0; i < o.columnUsageMaps().size(); ++i) {
      EXPECT_EQ(o.columnUsageMaps()[i].columnNumber, b.columnUsageMaps()[i].columnNumber);
      EXPECT_EQ(o.columnUsageMaps()[i].ownedPages.row, b.columnUsageMaps()[i].ownedPages.row);
      EXPECT_EQ(o.columnUsageMaps()[i].freeSpacePages.row,
                b.columnUsageMaps()[i].freeSpacePages.row);
    }
    // Row and distinct-key counts follow the rows.
    const auto distinct = expectIndexesMatchRows(ours.channel(), page);
    for (std::size_t i = 0; i < distinct.size(); ++i)
      EXPECT_EQ(o.realIndexes()[i].uniqueEntryCount, distinct[i]);
    EXPECT_EQ(o.rowCount(), rowsOf(ours, page).size());
  }
}

TEST_F(NewBesideBlank, CatalogAndAccessEntriesAreThoseAccessWrites) {

  // Catalog rows: those of the blank file less what Access adds, same
  // order, same values but the dates and LvProp (compared below).
  auto catalogRows = [](JetDatabase& db) {
    std::vector<Row> rows;
    for (Row r : rowsOf(db, kCatalogPage)) {
      bool added = false;
      for (const std::string& name : kAddedByAccess) added = added || r["Name"] == jsonString(name);
      if (added) continue;
      r.erase("DateCreate");
      r.erase("DateUpdate");
      rows.push_back(r);
    }
    return rows;
  };
  EXPECT_EQ(catalogRows(ours), catalogRows(blank));

  // Every object was made now.
  const TableDefinition cd = ours.catalog().definition();
  const double created = jetDate(clock.now());
  int rows = 0;
  ours.forEachRow(cd, [&](const std::vector<RawValue>& raw) {
    for (const char* column : {"DateCreate", "DateUpdate"}) {
      const auto at = static_cast<std::size_t>(cd.findColumn(column) - cd.columns().data());
      EXPECT_EQ(ByteReader(raw[at].bytes, "date").f64(0), created);
    }
    ++rows;
    return true;
  });
  EXPECT_EQ(rows, 14);

  // The database object's properties, byte for byte.
  const Catalog ourCatalog = ours.catalog(), blankCatalog = blank.catalog();
  const CatalogEntry& ourDb = entryNamed(ourCatalog, "MSysDb");
  const CatalogEntry& blankDb = entryNamed(blankCatalog, "MSysDb");
  EXPECT_EQ(ours.properties(ourDb).serialize(), blank.properties(blankDb).serialize());

  // Access entries: those of the blank file whose object we write, in order.
  std::set<std::string> omittedIds;
  for (const CatalogEntry& e : blankCatalog.entries())
    if (addedByAccess(e.name)) omittedIds.insert(std::to_string(e.id));
  std::vector<Row> wanted;
  for (const Row& r : rowsOf(blank, 3))
    if (!omittedIds.count(r.at("ObjectId"))) wanted.push_back(r);
  EXPECT_EQ(rowsOf(ours, 3), wanted);
}

// What the update run and the sample writer do to a new file: create tables,
// add fields of every kind, rename, append rows.
TEST(NewDatabase, TakesTablesFieldsRenamesAndRows) {
  TempDir dir;
  FixedClockEnv clock(Env::system());
  const std::string path = dir.path("new.mdb");
  createDatabase(clock, path, kSalesPassword);
  {
    auto engine = makeJetEngine(clock);
    auto db = engine->openDatabase(path, false, false, std::string(";pwd=") + kSalesPassword);
    for (const char* table : {"fisno", "satislar"}) {
      NewTableDef def = db->createTableDef(table);
      NewField no = createField("no", 4);
      no.attributes = kAutoIncrement;
      def.fields.push_back(no);
      db->appendTableDef(def);
    }
    auto fisno = db->tableDef("fisno");
    for (const auto& [name, code, size] :
         {std::tuple{"tarih", 8, ""}, {"toplam", 5, ""}, {"musteriadi", 10, "50"},
          {"aciklama", 12, ""}, {"odendi", 1, ""}, {"adet", 4, ""}}) {
      NewField f = createField(name, code, size);
      f.required = false;
      if (code == 10 || code == 12) f.allowZeroLength = true;
      fisno->appendField(f);
    }
    db->tableDef("fisno")->rename("fisnoeski");
    EXPECT_THROW(db->tableDef("satislar")->rename("fisnoeski"), Error);
  }
  {
    JetDatabase db(clock, path, false, kSalesPassword);
    const auto table = db.table("fisnoeski");
    ASSERT_TRUE(table);
    const std::uint32_t page = table->definition.page();
    const std::string text = "Çağrı Öztürk";
    const auto first = appendRow(db.channel(), page,
                                 {{"musteriadi", RowValue::of(encodeTextValue(text, false))},
                                  {"odendi", RowValue::ofBoolean(true)},
                                  {"adet", RowValue::ofLong(-3)}});
    EXPECT_EQ(first.autoNumbers, std::vector<std::int32_t>{1});
    EXPECT_EQ(appendRow(db.channel(), page, {}).autoNumbers, std::vector<std::int32_t>{2});
    const auto rows = rowsOf(db, page);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].at("musteriadi"), jsonString(text));
    EXPECT_EQ(rows[0].at("adet"), "-3");
    EXPECT_EQ(rows[1].at("musteriadi"), "null");
    EXPECT_EQ(db.catalog().userTables().size(), 2u);
    for (const std::string& name : kSystemTables) {
      const std::uint32_t tdef = entryNamed(db.catalog(), name).tableDefinitionPage();
      const auto distinct = expectIndexesMatchRows(db.channel(), tdef);
      const TableDefinition d = TableDefinition::read(db.channel(), tdef);
      for (std::size_t i = 0; i < distinct.size(); ++i)
        EXPECT_EQ(d.realIndexes()[i].uniqueEntryCount, distinct[i]) << name;
    }
  }
  expectIntegrity(path, kSalesPassword);
  if (readersAvailable()) {
    expectReadersRead(path, kSalesPassword);
    const std::string tables = commandOutput("mdb-tables -1 '" + path + "'", dir.path("t.txt"));
    EXPECT_EQ(tables, "fisnoeski\nsatislar\n");
  }
}

// A cut at any write or flush of the creation leaves either nothing at the
// path or the whole database, byte for byte what an uncut run writes; a new
// attempt then succeeds.
TEST(NewDatabase, CutCreationLeavesNoFileOrAWholeOne) {
  TempDir dir;
  FixedClockEnv clock;
  const std::string reference = dir.path("reference.mdb");
  createDatabase(clock, reference, kSalesPassword);
  const auto whole = fileBytes(reference);
  const std::string path = dir.path("cut.mdb");
  int ended = 0, absent = 0;
  forEveryCut(
      clock, 200, [&] { std::filesystem::remove(path); },
      [&](Env& env) { createDatabase(env, path, kSalesPassword); },
      [&](const Cut& cut, bool threw, bool) {
        if (std::filesystem::exists(path)) {
          EXPECT_EQ(fileBytes(path), whole) << cut.name();
          expectIntegrity(path, kSalesPassword);
          ++ended;
        } else {
          ++absent;
          EXPECT_TRUE(threw) << cut.name();
          if (cut.mode == FaultEnv::Mode::Fail) {  // an error cleans up after itself
            EXPECT_FALSE(std::filesystem::exists(creationTempPath(path))) << cut.name();
          }
          createDatabase(clock, path, kSalesPassword);
          EXPECT_EQ(fileBytes(path), whole) << cut.name();
        }
        EXPECT_FALSE(std::filesystem::exists(PageChannel::journalPath(path))) << cut.name();
      });
  EXPECT_GT(ended, 0);
  EXPECT_GT(absent, 0);
}

}  // namespace
}  // namespace engine
