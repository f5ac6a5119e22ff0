// Adding fields to stored tables through the engine: the schema catalogue's
// fields on the sales database and on Access-made files, growth onto a
// further definition page, refusals that leave the file untouched, and cut
// writes and flushes that leave it exactly before or exactly after.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/data_page.h"
#include "engine/data_page_writer.h"
#include "engine/engine.h"
#include "engine/catalog.h"
#include "engine/row.h"
#include "engine/error.h"
#include "engine/field_addition.h"
#include "engine/in_use.h"
#include "engine/jet_engine.h"
#include "engine/text_codec.h"
#include "engine/jet_database.h"
#include "engine/long_value.h"
#include "engine/page_channel.h"
#include "engine/testing/fault_env.h"
#include "engine/tests/cuts.h"
#include "engine/tests/integrity_util.h"
#include "engine/tests/write_test_util.h"
#include "engine/value.h"

namespace engine {
namespace {

using testing::FaultEnv;
using testing::SimulatedCrash;
using testutil::expectIntegrity;
using testutil::FixedClockEnv;
using testutil::fileBytes;
using testutil::OtherProcessLock;
using testutil::readersAvailable;
using testutil::whyNoReaders;
using testutil::TempDir;

constexpr const char* kPassword = "zorpelnik";

struct CatalogueField {
  const char* name;
  int typeCode;
  const char* size;
};

// The schema catalogue's fields, with the limits the update run passes.
const std::vector<CatalogueField> kSatislarFields = {
    {"tarih", 8, ""},        {"musterikod", 10, "100"}, {"fiyat", 5, ""},
    {"adet", 10, "100"},     {"toplam", 5, ""},         {"kar", 5, ""},
    {"urunstok", 10, "100"}, {"musteriadi", 12, "100"}, {"urun2", 10, "100"},
    {"grub2", 10, "100"},    {"odemesi", 10, "100"},    {"satisiyapan", 12, "100"},
    {"saat", 8, ""},         {"barkod2", 10, "100"},    {"urunlernosu", 4, ""},
    {"iskonto", 4, ""},      {"tutar", 5, ""},          {"verilen", 5, ""},
    {"kalan", 5, ""},        {"teslim", 4, ""},         {"durum", 10, "100"},
    {"fisno", 10, "100"},    {"tarih2", 8, ""},
};
const std::vector<CatalogueField> kFisnoFields = {
    {"fisno", 4, ""},        {"tarih", 8, ""},          {"saat", 8, ""},
    {"odemesi", 10, "50"},   {"musteriadi", 10, "100"}, {"toplam", 5, ""},
    {"musterikodu", 10, "100"},
};

// A field as the schema routines make it: attributes 0, Required false, and
// AllowZeroLength true on text and memo.
NewField catalogueField(const CatalogueField& f) {
  NewField field = createField(f.name, f.typeCode, f.size);
  field.attributes = 0;
  field.required = false;
  if (f.typeCode == 10 || f.typeCode == 12) field.allowZeroLength = true;
  return field;
}

void appendField(Env& env, const std::string& path, const std::string& password,
                 const std::string& table, const NewField& field) {
  auto engine = makeJetEngine(env);
  auto db = engine->openDatabase(path, false, false, ";pwd=" + password);
  db->tableDef(table)->appendField(field);
}

// Every row of every user table, as JSON values by column name.
using Rows = std::map<std::string, std::vector<std::map<std::string, std::string>>>;
Rows readRows(const std::string& path, const std::string& password) {
  JetDatabase db(Env::system(), path, true, password);
  const PageSource pages = pageSourceOf(db.channel());
  Rows out;
  for (const JetTable& t : db.tables()) {
    auto& rows = out[t.entry.name];
    db.forEachRow(t.definition, [&](const std::vector<RawValue>& raw) {
      std::map<std::string, std::string> row;
      for (std::size_t i = 0; i < raw.size(); ++i)
        row[t.definition.columns()[i].name] =
            toJson(decodeValue(t.definition.columns()[i], raw[i], pages));
      rows.push_back(std::move(row));
      return true;
    });
  }
  return out;
}

// Old values unchanged, added columns null, nothing else different.
void expectRowsKept(const Rows& before, const Rows& after, const std::string& what) {
  ASSERT_EQ(before.size(), after.size()) << what;
  for (const auto& [table, rows] : before) {
    const auto& now = after.at(table);
    ASSERT_EQ(rows.size(), now.size()) << what << " " << table;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      for (const auto& [column, value] : now[i]) {
        auto old = rows[i].find(column);
        if (old == rows[i].end())  // an added column: null (a yes/no reads false)
          EXPECT_TRUE(value == "null" || value == "false")
              << what << " " << table << " row " << i << " " << column << ": " << value;
        else
          EXPECT_EQ(value, old->second) << what << " " << table << " row " << i << " " << column;
      }
      EXPECT_GE(now[i].size(), rows[i].size());
    }
  }
}

// The independent readers read the file and agree with each other (and with
// the expected schema, when given).
// With `original`, every table's rows must read as there, the added
// columns as null.
void expectReadersRead(const std::string& path, const std::string& password,
                       const std::string& expectJson = {}, const std::string& original = {},
                       const std::string& allowStderr = {}) {
  std::string extra;
  if (!expectJson.empty()) {
    const std::string file = path + ".expect.json";
    std::ofstream(file) << expectJson;
    extra += " --expect '" + file + "'";
  }
  if (!original.empty()) extra += " --rows-like '" + original + "'";
  if (!allowStderr.empty()) extra += " --allow-stderr '" + allowStderr + "'";
  testutil::expectReadersRead(path, password, extra);
}

// The schema as `karvelta-jet schema` prints it, from our own reader, with
// the text and memo fields' expectations added: what the readers must see.
std::string schemaJson(const std::string& path, const std::string& password) {
  JetDatabase jet(Env::system(), path, true, password);
  std::string json = "{\"tables\":[";
  bool firstTable = true;
  for (const JetTable& t : jet.tables()) {
    json += std::string(firstTable ? "" : ",") + "{\"name\":" + jsonString(t.entry.name) +
            ",\"rowCount\":" + std::to_string(t.definition.rowCount()) + ",\"columns\":[";
    firstTable = false;
    bool first = true;
    for (const FieldInfo& f : fieldInfos(jet, t)) {
      const int size = f.typeCode == kTypeMemo || f.typeCode == kTypeOle ? 0 : f.size;
      json += std::string(first ? "" : ",") + "{\"name\":" + jsonString(f.name) +
              ",\"type\":" + jsonString(columnTypeName(static_cast<std::uint8_t>(f.typeCode))) +
              ",\"size\":" + std::to_string(size) + ",\"required\":" +
              (f.required ? "true" : "false") + ",\"allowZeroLength\":" +
              (f.allowZeroLength ? "true" : "false") + "}";
      first = false;
    }
    json += "]}";
  }
  return json + "]}";
}

std::string fixturePath(const std::string& name) {
  return (std::filesystem::path(KARVELTA_FIXTURES_DIR) / name).string();
}

const FieldInfo* findField(const std::vector<FieldInfo>& fields, const std::string& name) {
  for (const FieldInfo& f : fields)
    if (f.name == name) return &f;
  return nullptr;
}

int expectedTypeByte(int code) { return code; }  // the codes are the column type bytes

// Adds the catalogue's fields to `table`: those the table has already are
// refused without a byte changing; the others read back with their type,
// size, Required false and, on text and memo, AllowZeroLength true.
void addCatalogue(const std::string& path, const std::string& password, const std::string& table,
                  const std::vector<CatalogueField>& fields) {
  std::vector<std::string> existing, added;
  {
    auto engine = makeJetEngine(Env::system());
    auto db = engine->openDatabase(path, false, true, ";pwd=" + password);
    for (const FieldInfo& f : db->tableDef(table)->fields()) existing.push_back(f.name);
  }
  for (const CatalogueField& f : fields) {
    const bool taken = std::any_of(existing.begin(), existing.end(), [&](const std::string& n) {
      return caseInsensitiveEqual(n, f.name);
    });
    const auto before = fileBytes(path);
    if (taken) {
      EXPECT_THROW(appendField(Env::system(), path, password, table, catalogueField(f)), Error)
          << f.name;
      EXPECT_EQ(fileBytes(path), before) << f.name;
      continue;
    }
    ASSERT_NO_THROW(appendField(Env::system(), path, password, table, catalogueField(f)))
        << table << "." << f.name;
    existing.push_back(f.name);
    added.push_back(f.name);
  }
  auto engine = makeJetEngine(Env::system());
  auto db = engine->openDatabase(path, false, true, ";pwd=" + password);
  const std::vector<FieldInfo> now = db->tableDef(table)->fields();
  EXPECT_EQ(now.size(), existing.size());
  for (const CatalogueField& f : fields) {
    const FieldInfo* info = findField(now, f.name);
    ASSERT_NE(info, nullptr) << f.name;
    if (std::find(added.begin(), added.end(), f.name) == added.end()) continue;
    EXPECT_FALSE(info->required) << f.name;
    if (info->typeCode == kTypeText || info->typeCode == kTypeMemo) {
      EXPECT_TRUE(info->allowZeroLength) << f.name;
    }
  }
  // The added ones, in order at the end, with their types and sizes.
  std::size_t at = now.size();
  for (auto it = fields.rbegin(); it != fields.rend(); ++it) {
    const FieldInfo* info = findField(now, it->name);
    if (info == nullptr) continue;
    const auto index = static_cast<std::size_t>(info - now.data());
    if (index + 1 != at) continue;  // one the table had before
    at = index;
    EXPECT_EQ(info->typeCode, expectedTypeByte(it->typeCode)) << it->name;
    if (it->typeCode == 10) {
      EXPECT_EQ(info->size, std::stoi(it->size)) << it->name;
    }
    EXPECT_FALSE(info->autoIncrement);
  }
}

TEST(AddField, CatalogueOnTheSalesDatabase) {
  TempDir dir;
  const std::string path = dir.copy("sales-small.mdb");
  const Rows before = readRows(path, kPassword);
  addCatalogue(path, kPassword, "satislar", kSatislarFields);
  addCatalogue(path, kPassword, "fisno", kFisnoFields);
  expectRowsKept(before, readRows(path, kPassword), "sales-small");
  expectIntegrity(path, kPassword, "sales-small.mdb");
  {
    JetDatabase db(Env::system(), path, true, kPassword);
    const auto satislar = db.table("satislar");
    ASSERT_TRUE(satislar);
    EXPECT_EQ(satislar->definition.columns().size(), 8u + 18u);  // 5 of 23 were there
    const auto fisno = db.table("fisno");
    EXPECT_EQ(fisno->definition.columns().size(), 5u + 3u);
    EXPECT_EQ(fisno->definition.findColumn("odemesi")->length, 100);  // 50 characters
    EXPECT_FALSE(fisno->definition.findColumn("odemesi")->compressedUnicode());
    // The property blobs read as a whole and keep the old columns' properties.
    EXPECT_TRUE(db.properties(satislar->entry).allowZeroLength("aciklama"));
    EXPECT_TRUE(db.properties(fisno->entry).allowZeroLength("musterikodu"));
  }
  if (!readersAvailable()) GTEST_SKIP() << whyNoReaders();
  expectReadersRead(path, kPassword, schemaJson(path, kPassword), fixturePath("sales-small.mdb"));
}

TEST(AddField, CatalogueOnAccessMadeFiles) {
  for (const char* fixture : {"testV2000.mdb", "delColTestV2000.mdb", "overflowTestV2000.mdb"}) {
    SCOPED_TRACE(fixture);
    TempDir dir;
    const std::string path = dir.copy(fixture);
    const Rows before = readRows(path, "");
    addCatalogue(path, "", "Table1", kSatislarFields);
    addCatalogue(path, "", "Table1", kFisnoFields);
    if (std::string(fixture) == "testV2000.mdb") {
      // 89 columns on two pages already; Table3 has an index and no rows.
      addCatalogue(path, "", "Table2", kSatislarFields);
      addCatalogue(path, "", "Table3", kFisnoFields);
    }
    expectRowsKept(before, readRows(path, ""), fixture);
    expectIntegrity(path, "", fixture);
    if (readersAvailable())
      expectReadersRead(path, "", schemaJson(path, ""), fixturePath(fixture));
  }
}

TEST(AddField, DefinitionGrowsOntoAFurtherPage) {
  TempDir dir;
  const std::string path = dir.copy("sales-small.mdb");
  const Rows before = readRows(path, kPassword);
  std::size_t pagesBefore = 0;
  {
    JetDatabase db(Env::system(), path, true, kPassword);
    pagesBefore = db.table("satislar")->definition.pages().size();
  }
  ASSERT_EQ(pagesBefore, 1u);
  // Long names and every type, until the definition needs a second page.
  std::size_t pages = pagesBefore;
  int added = 0;
  const int codes[] = {10, 4, 12, 5, 8, 1};
  while (pages < 2 && added < 150) {
    const int code = codes[added % 6];
    NewField f = createField("alan_numarasi_oldukca_uzun_bir_ad_" + std::to_string(added), code,
                             code == 10 ? "255" : "");
    if (code == 10 || code == 12) f.allowZeroLength = true;
    appendField(Env::system(), path, kPassword, "satislar", f);
    ++added;
    JetDatabase db(Env::system(), path, true, kPassword);
    pages = db.table("satislar")->definition.pages().size();
  }
  ASSERT_EQ(pages, 2u) << "after " << added << " fields";
  // And further additions go on the new page.
  for (int i = 0; i < 3; ++i)
    appendField(Env::system(), path, kPassword, "satislar",
                createField("sonra" + std::to_string(i), 4));
  {
    JetDatabase db(Env::system(), path, true, kPassword);
    const auto t = db.table("satislar");
    EXPECT_EQ(t->definition.columns().size(), 8u + static_cast<std::size_t>(added) + 3u);
    EXPECT_EQ(t->definition.columns().back().name, "sonra2");
    EXPECT_EQ(t->definition.definitionLength(),
              t->definition.layout().terminator.end());
  }
  expectRowsKept(before, readRows(path, kPassword), "grown");
  expectIntegrity(path, kPassword, "sales-small.mdb");
  if (!readersAvailable()) GTEST_SKIP() << whyNoReaders();
  expectReadersRead(path, kPassword, schemaJson(path, kPassword), fixturePath("sales-small.mdb"));
}

TEST(AddField, TheCatalogRowMovesWhenItsPageIsFull) {
  TempDir dir;
  const std::string path = dir.copy("sales-small.mdb");
  // Fill the catalog's page 14 with a deleted row (which every reader
  // skips), leaving too little room for fisno's row to take its first
  // property blob.
  {
    PageChannel channel(Env::system(), path, false);
    channel.begin();
    Page page = channel.readPage(14);
    const std::size_t room = dataPageFreeSpace(page);
    ASSERT_GT(room, 10u);
    insertRow(page, std::vector<std::uint8_t>(room - 2 - 4, 0),
              DataPage::kDeletedFlag | DataPage::kOverflowFlag);
    channel.writePage(14, page);
    channel.commit();
  }
  const std::string filled = dir.path("filled.mdb");
  std::filesystem::copy_file(path, filled);
  if (readersAvailable()) expectReadersRead(filled, kPassword);
  const Rows before = readRows(path, kPassword);
  NewField f = createField("odemesi", 10, "50");
  f.allowZeroLength = true;
  appendField(Env::system(), path, kPassword, "fisno", f);
  {
    JetDatabase db(Env::system(), path, true, kPassword);
    const auto fisno = db.table("fisno");
    ASSERT_TRUE(fisno);
    EXPECT_EQ(fisno->entry.row.page, 14u);  // the row keeps its place in the indexes
    EXPECT_EQ(fisno->entry.row.row, 18);
    EXPECT_TRUE(db.properties(fisno->entry).allowZeroLength("odemesi"));
    const Page page = db.channel().readPage(14);
    EXPECT_TRUE(DataPage(page, 14).row(18).overflow);
  }
  expectRowsKept(before, readRows(path, kPassword), "moved");
  expectIntegrity(path, kPassword, "sales-small.mdb");
  if (!readersAvailable()) GTEST_SKIP() << whyNoReaders();
  expectReadersRead(path, kPassword, schemaJson(path, kPassword), filled);
}

TEST(AddField, RefusalsLeaveTheFileUnchanged) {
  TempDir dir;
  const std::string path = dir.copy("sales-small.mdb");
  const auto original = fileBytes(path);
  auto refused = [&](const std::string& table, NewField f, const std::string& what) {
    EXPECT_THROW(appendField(Env::system(), path, kPassword, table, f), Error) << what;
    EXPECT_EQ(fileBytes(path), original) << what;
  };
  refused("satislar", createField("TARIH", 8), "taken name, other case");
  refused("satislar", createField("Aciklama", 12, "100"), "taken memo name");
  refused("satislar", createField("URUN", 10, "100"), "taken text name");
  refused("yok", createField("yeni", 4), "missing table");
  refused("fisnoeski", createField("yeni", 4), "missing table");
  for (const char* size : {"", "50,5", "0", "300", " 50", "+5", "256", "-1", "1000", "50 ", "0x10",
                           "٥"})
    refused("satislar", createField("yeni", 10, size), std::string("size '") + size + "'");
  for (const std::string& name :
       {std::string(), std::string(" yeni"), std::string("a.b"), std::string("a!b"),
        std::string("a`b"), std::string("a[b"), std::string("a]b"), std::string("a\x01" "b"),
        std::string(65, 'x'), std::string("\xff\xfe")})
    refused("satislar", createField(name, 4), "name '" + name + "'");
  NewField autoText = createField("yeni", 10, "50");
  autoText.attributes = kAutoIncrement;
  refused("satislar", autoText, "auto-increment text");
  NewField autoLong = createField("yeni", 4);
  autoLong.attributes = kAutoIncrement;
  refused("satislar", autoLong, "auto-increment on a table with rows");
  NewField otherFlags = createField("yeni", 4);
  otherFlags.attributes = 8;
  refused("satislar", otherFlags, "other attributes");
  NewField zeroLengthLong = createField("yeni", 4);
  zeroLengthLong.allowZeroLength = true;
  refused("satislar", zeroLengthLong, "AllowZeroLength on a Long");

  {
    OtherProcessLock other(path);
    refused("satislar", createField("yeni", 4), "in use by another program");
  }
  {
    FaultEnv env(Env::system());
    env.denyWriteAccess(path);
    EXPECT_THROW(appendField(env, path, kPassword, "satislar", createField("yeni", 4)), Error);
    EXPECT_EQ(fileBytes(path), original);
  }
  // A read-only open refuses as well.
  {
    auto engine = makeJetEngine(Env::system());
    auto db = engine->openDatabase(path, false, true, ";pwd=zorpelnik");
    EXPECT_THROW(db->tableDef("satislar")->appendField(createField("yeni", 4)), Error);
  }
  EXPECT_EQ(fileBytes(path), original);
  // The same field is accepted once nothing stands in the way, and only once.
  appendField(Env::system(), path, kPassword, "satislar", createField("yeni", 4));
  const auto once = fileBytes(path);
  EXPECT_THROW(appendField(Env::system(), path, kPassword, "satislar", createField("YENI", 10, "5")),
               Error);
  EXPECT_EQ(fileBytes(path), once);
}

TEST(AddField, ASecondConnectionOfThisProgramAddsAndTheFirstSeesIt) {
  TempDir dir;
  const std::string path = dir.copy("sales-small.mdb");
  auto engine = makeJetEngine(Env::system());
  auto first = engine->openDatabase(path, false, false, ";pwd=zorpelnik");
  auto satislar = first->tableDef("satislar");
  appendField(Env::system(), path, kPassword, "satislar", createField("kar", 5));
  const auto fields = satislar->fields();
  ASSERT_FALSE(fields.empty());
  EXPECT_EQ(fields.back().name, "kar");
  // And the first connection adds one of its own after it.
  satislar->appendField(createField("teslim", 4));
  EXPECT_EQ(first->tableDef("SATISLAR")->fields().back().name, "teslim");
  expectIntegrity(path, kPassword, "sales-small.mdb");
}

TEST(AddField, AutoIncrementOnAnEmptyTable) {
  TempDir dir;
  const std::string path = dir.copy("testV2000.mdb");
  // Table2 has no rows and no auto-increment column; Table3 has one already.
  NewField f = createField("sayac", 4);
  f.attributes = kAutoIncrement;
  appendField(Env::system(), path, "", "Table2", f);
  EXPECT_THROW(appendField(Env::system(), path, "", "Table3", f), Error);
  auto engine = makeJetEngine(Env::system());
  auto db = engine->openDatabase(path, false, true, "");
  const auto fields = db->tableDef("Table2")->fields();
  ASSERT_FALSE(fields.empty());
  EXPECT_EQ(fields.back().name, "sayac");
  EXPECT_TRUE(fields.back().autoIncrement);
  expectIntegrity(path, "", "testV2000.mdb");
}

TEST(AddField, TextSizes) {
  EXPECT_EQ(textFieldSize("1"), 1);
  EXPECT_EQ(textFieldSize("50"), 50);
  EXPECT_EQ(textFieldSize("100"), 100);
  EXPECT_EQ(textFieldSize("255"), 255);
  EXPECT_EQ(textFieldSize("007"), 7);
  EXPECT_EQ(textFieldSize("0100"), 100);
  for (const char* bad : {"", "0", "256", "50,5", " 50", "+5", "5 ", "1e2", "0000",
                          "99999999999999999999", "-5"})
    EXPECT_THROW(textFieldSize(bad), Error) << bad;
}

// Damaged bytes where an addition reads (catalog pages, the property
// column's maps and LVAL page, the table's definition and usage maps): the
// addition is refused with an Error or goes through, never anything worse.
TEST(AddField, DamagedFilesAreRefusedNotTrusted) {
  TempDir dir;
  const std::string original = dir.copy("sales-small.mdb", "original.mdb");
  const auto bytes = fileBytes(original);
  std::mt19937 random(4);
  const std::uint32_t pages[] = {2, 6, 14, 23, 26, 27};
  int refused = 0;
  for (int round = 0; round < 240; ++round) {
    auto damaged = bytes;
    const std::uint32_t page = pages[static_cast<std::size_t>(round) % std::size(pages)];
    for (int k = 0; k < 3; ++k) {
      const std::size_t at = page * kPageSize + random() % kPageSize;
      damaged[at] = static_cast<std::uint8_t>(random());
    }
    const std::string path = dir.path("damaged.mdb");
    testutil::writeBytes(path, damaged);
    NewField memo = createField("musteriadi", 12, "100");
    memo.allowZeroLength = true;
    try {
      appendField(Env::system(), path, kPassword, "satislar", memo);
    } catch (const Error&) {
      ++refused;
      EXPECT_EQ(fileBytes(path), damaged) << "round " << round;
    }
  }
  EXPECT_GT(refused, 0);
}

// The dates of a table's catalog row, as JSON values.
std::pair<std::string, std::string> catalogDates(const std::string& path, const std::string& table) {
  JetDatabase db(Env::system(), path, true, kPassword);
  const Catalog cat = db.catalog();
  const CatalogEntry* e = cat.findUserTable(table);
  if (e == nullptr) throw Error("no table");
  const auto row = readRowData(db.channel(), e->row);
  if (!row) throw Error("no row");
  const auto& cols = cat.definition().columns();
  const std::vector<RawValue> values = decodeRow(*row, cols);
  const PageSource pages = pageSourceOf(db.channel());
  std::string created, updated;
  for (std::size_t i = 0; i < cols.size(); ++i) {
    if (cols[i].name == "DateCreate") created = toJson(decodeValue(cols[i], values[i], pages));
    if (cols[i].name == "DateUpdate") updated = toJson(decodeValue(cols[i], values[i], pages));
  }
  return {created, updated};
}

TEST(AddField, TheTablesUpdateDateIsTheTimeOfTheChange) {
  TempDir dir;
  const std::string path = dir.copy("sales-small.mdb");
  const auto [created, updated] = catalogDates(path, "fisno");
  FixedClockEnv clock;
  appendField(clock, path, kPassword, "fisno", createField("saat", 8));
  const auto [createdNow, updatedNow] = catalogDates(path, "fisno");
  EXPECT_EQ(createdNow, created);
  EXPECT_NE(updatedNow, updated);
  EXPECT_EQ(updatedNow, "\"2026-12-07 09:30:15\"");
}

// Cuts every write and every flush of an addition in turn: the file ends up
// exactly as before or as after, and the readers read the result with every
// old row kept.
void cutEveryStep(const std::string& fixture, const std::string& password,
                  const std::string& table, const NewField& field) {
  TempDir dir;
  const std::string after = testutil::expectAllOrNothing(
      dir, fixture, password,
      [&](Env& env, const std::string& path) { appendField(env, path, password, table, field); });
  if (readersAvailable()) expectReadersRead(after, password, {}, fixturePath(fixture));
}

TEST(AddField, CutWritesAndFlushesOfAMemoAddition) {
  NewField memo = createField("musteriadi", 12, "100");
  memo.allowZeroLength = true;
  cutEveryStep("sales-small.mdb", kPassword, "satislar", memo);
}

TEST(AddField, CutWritesAndFlushesOfATextAdditionOnAnAccessFile) {
  NewField text = createField("musterikod", 10, "100");
  text.allowZeroLength = true;
  cutEveryStep("testV2000.mdb", "", "Table2", text);  // a two-page definition
}

}  // namespace
}  // namespace engine
