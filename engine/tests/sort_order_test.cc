// Sort orders: text keys are written in the General order only. A catalogue,
// a database or a column in another order refuses every change that would
// write a text key, naming the order, and leaves the file byte-identical;
// changes that write no text key go on.
#include "engine/sort_order.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "engine/catalog.h"
#include "engine/database_header.h"
#include "engine/engine.h"
#include "engine/error.h"
#include "engine/jet_database.h"
#include "engine/little_endian.h"
#include "engine/table_definition.h"
#include "engine/table_writer.h"
#include "engine/text_codec.h"
#include "engine/tests/catalog_write_util.h"
#include "engine/tests/integrity_util.h"

namespace engine {
namespace {

using namespace testutil;

// Sets bytes 11..14 of the column blocks of the table at definitionPage:
// `value` and `version` on every text column (or only on `only`).
void setColumnSortOrder(const std::string& path, std::uint32_t definitionPage, std::uint16_t value,
                        std::uint8_t version, const std::string& only = {}) {
  std::vector<std::uint8_t> bytes = fileBytes(path);
  TableDefinition d = [&] {
    JetDatabase db(Env::system(), path, true, kSalesPassword);
    return TableDefinition::read(db.channel(), definitionPage);
  }();
  std::span<std::uint8_t> page(bytes.data() + std::size_t{definitionPage} * kPageSize, kPageSize);
  for (const Column& c : d.columns()) {
    if (c.type != kTypeText || (!only.empty() && c.name != only)) continue;
    const std::size_t at = d.layout().columns.offset + kColumnBlockSize * c.definitionIndex;
    ASSERT_LT(at + 15, kPageSize);
    put16(page, at + 11, value);
    page[at + 14] = version;
  }
  writeBytes(path, bytes);
}

// Sets the header's sort order (u32 at 0x6E, inside the masked region).
void setDatabaseSortOrder(const std::string& path, std::uint32_t order) {
  std::vector<std::uint8_t> bytes = fileBytes(path);
  const auto& mask = DatabaseHeader::maskStream();
  for (std::size_t i = 0; i < 4; ++i) {
    const std::size_t at = DatabaseHeader::kSortOrderOffset + i;
    bytes[at] = static_cast<std::uint8_t>((order >> (8 * i)) ^ mask[at - 0x18]);
  }
  writeBytes(path, bytes);
}

std::unique_ptr<Database> open(const std::string& path) {
  static std::unique_ptr<Engine> engine = makeJetEngine(Env::system());
  return engine->openDatabase(path, false, false, ";pwd=" + std::string(kSalesPassword));
}

NewTableDef tableWithNo(Database& db, const std::string& name) {
  NewTableDef def = db.createTableDef(name);
  NewField no = createField("no", 4);
  no.attributes = kAutoIncrement;
  def.fields.push_back(no);
  return def;
}

// The operation is refused with exactly this message and the file keeps
// every byte.
void expectRefused(const std::string& path, const std::function<void(Database&)>& operation,
                   const std::string& message) {
  const auto before = fileBytes(path);
  try {
    auto db = open(path);
    operation(*db);
    ADD_FAILURE() << "not refused; expected: " << message;
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), message);
  }
  EXPECT_EQ(fileBytes(path), before);
}

TEST(SortOrder, ReadFromColumnsAndHeader) {
  EXPECT_TRUE(headerSortOrder(0x0409).isGeneral());
  EXPECT_EQ(headerSortOrder(0x01000409).text(), "1033 version 1");
  EXPECT_FALSE(headerSortOrder(0x01000409).isGeneral());
  EXPECT_EQ(headerSortOrder(1055).text(), "1055");
  EXPECT_EQ(headerSortOrder(1055).name(), "");
  EXPECT_EQ(kGeneralSortOrder.name(), "General");
  // Every text column of every table of the sales file and of Access's
  // files is in the General order, and so are the headers.
  TempDir dir;
  for (const char* fixture : {"sales-small.mdb", "testV2000.mdb", "compIndexTestV2000.mdb"}) {
    SCOPED_TRACE(fixture);
    JetDatabase db(Env::system(), dir.copy(fixture), true,
                   std::string(fixture).starts_with("sales") ? kSalesPassword : "");
    EXPECT_TRUE(headerSortOrder(db.header().sortOrder()).isGeneral());
    const Catalog catalog = db.catalog();
    for (const CatalogEntry& e : catalog.entries()) {
      if (e.type != kObjectTypeTable) continue;
      const TableDefinition d = TableDefinition::read(db.channel(), e.tableDefinitionPage());
      for (const Column& c : d.columns()) {
        if (c.type == kTypeText) {
          EXPECT_TRUE(columnSortOrder(c).isGeneral()) << e.name << "." << c.name;
        }
      }
    }
  }
}

// The catalogue's text columns (Name) in the Turkish order: no rename, no
// new table; a field is still added (the catalogue's keys stay as stored),
// and the check passes.
TEST(SortOrder, ACatalogueInAnotherOrderRefusesRenamesAndNewTables) {
  TempDir dir;
  const std::string path = dir.copy("sales-small.mdb");
  setColumnSortOrder(path, kCatalogPage, 1055, 0);
  const std::string message = "the catalogue uses sort order 1055, which this engine cannot write";
  expectRefused(path, [](Database& db) { db.tableDef("fisno")->rename("fisnoeski"); }, message);
  expectRefused(path, [](Database& db) { db.appendTableDef(tableWithNo(db, "yeni")); }, message);
  {
    auto db = open(path);
    db->tableDef("satislar")->appendField(createField("kdv", 5));
  }
  expectIntegrity(path, kSalesPassword, "sales-small.mdb");
  // Access's later General order (1033, version 1) has other codes too.
  setColumnSortOrder(path, kCatalogPage, 1033, 1);
  expectRefused(path, [](Database& db) { db.tableDef("fisno")->rename("fisnoeski"); },
                "the catalogue uses sort order 1033 version 1, which this engine cannot write");
}

// Columns of sort order 0 take the database's, from the header.
TEST(SortOrder, ColumnsWithoutOneTakeTheDatabases) {
  TempDir dir;
  const std::string path = dir.copy("sales-small.mdb");
  setColumnSortOrder(path, kCatalogPage, 0, 0);
  {
    auto db = open(path);
    db->tableDef("fisno")->rename("fisnoeski");  // 0 under a General header
  }
  setDatabaseSortOrder(path, 1055);
  expectRefused(path, [](Database& db) { db.tableDef("satislar")->rename("satislareski"); },
                "the database uses sort order 1055, which this engine cannot write");
  JetDatabase db(Env::system(), path, true, kSalesPassword);
  EXPECT_EQ(headerSortOrder(db.header().sortOrder()).text(), "1055");
}

// A user table's indexed text column in another order: its rows take no new
// keys; its fields can still be added.
TEST(SortOrder, AnIndexedColumnInAnotherOrderRefusesNewRows) {
  TempDir dir;
  const std::string path = dir.copy("sales-small.mdb");
  std::uint32_t urunler = 0;
  {
    JetDatabase db(Env::system(), path, true, kSalesPassword);
    urunler = db.table("urunler")->definition.page();
  }
  setColumnSortOrder(path, urunler, 1055, 0, "kod");
  const auto before = fileBytes(path);
  {
    JetDatabase db(Env::system(), path, false, kSalesPassword);
    try {
      appendRow(db.channel(), urunler, {{"kod", RowValue::of(encodeTextValue("U999", true))}});
      ADD_FAILURE() << "not refused";
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), "column 'kod' uses sort order 1055, which this engine cannot write");
    }
  }
  EXPECT_EQ(fileBytes(path), before);
  auto db = open(path);
  db->tableDef("urunler")->appendField(createField("birim", 10, "10"));
}

}  // namespace
}  // namespace engine
