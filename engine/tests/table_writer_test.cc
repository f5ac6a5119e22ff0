#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "engine/byte_reader.h"
#include "engine/data_page.h"
#include "engine/data_page_writer.h"
#include "engine/engine.h"
#include "engine/error.h"
#include "engine/jet_database.h"
#include "engine/table_scan.h"
#include "engine/table_writer.h"
#include "engine/text_codec.h"
#include "engine/tests/catalog_write_util.h"
#include "engine/tests/integrity_util.h"

namespace engine {
namespace {

using namespace testutil;

RowValue text(const std::string& s) { return RowValue::of(encodeTextValue(s, true)); }

std::string urunOf(const TableDefinition& d, std::span<const std::uint8_t> row) {
  auto v = decodeRow(row, d.columns());
  const Column* c = d.findColumn("urun");
  return decodeTextValue(v[static_cast<std::size_t>(c - d.columns().data())].bytes);
}

// Rows that no longer fit their page move and keep their place in scans;
// the row count stays, the readers read the table.
TEST(TableWriter, ARowThatOutgrowsItsFullPageMoves) {
  TempDir dir;
  std::string path = dir.copy("sales-small.mdb");
  JetDatabase db(Env::system(), path, false, kSalesPassword);
  std::uint32_t page = db.table("satislar")->definition.page();
  // Fill pages with rows of a long product name.
  std::vector<RowId> added;
  for (int i = 0; i < 120; ++i)
    added.push_back(appendRow(db.channel(), page,
                              {{"urun", text("urun" + std::to_string(i))},
                               {"fisno", RowValue::ofLong(2000 + i)}})
                        .id);
  // A row on a page with less room than the growth.
  std::optional<RowId> target;
  for (RowId id : added) {
    Page p = db.channel().readPage(id.page);
    if (dataPageFreeSpace(p) < 150 && id.page != added.back().page) {
      target = id;
      break;
    }
  }
  ASSERT_TRUE(target.has_value());
  std::size_t rowsBefore = 0;
  TableDefinition d = TableDefinition::read(db.channel(), page);
  scanRows(db.channel(), d, [&](RowId, std::span<const std::uint8_t>) { return ++rowsBefore, true; });

  auto update = [&](const std::string& urun) {
    WriteTransaction tx(db.channel());
    TableWriter w(db.channel(), page);
    auto values = w.readRow(*target);
    const Column* c = w.definition().findColumn("urun");
    values[static_cast<std::size_t>(c - w.definition().columns().data())] = text(urun);
    w.updateRow(*target, values);
    tx.commit();
  };
  auto check = [&](const std::string& urun, bool moved) {
    Page p = db.channel().readPage(target->page);
    EXPECT_EQ(DataPage(p, target->page).row(target->row).overflow, moved);
    std::size_t rows = 0, seen = 0;
    TableDefinition now = TableDefinition::read(db.channel(), page);
    EXPECT_EQ(now.rowCount(), 160u);
    scanRows(db.channel(), now, [&](RowId id, std::span<const std::uint8_t> bytes) {
      ++rows;
      if (id.page == target->page && id.row == target->row) {
        ++seen;
        EXPECT_EQ(urunOf(now, bytes), urun);
      }
      return true;
    });
    EXPECT_EQ(rows, rowsBefore);
    EXPECT_EQ(seen, 1u);
  };
  std::string wide;  // 100 characters outside Latin-1: 200 bytes
  for (int i = 0; i < 100; ++i) wide += "\xC4\x9F";
  update(wide);
  check(wide, true);
  update("kisa");  // shorter: in place, where the data now lies
  check("kisa", true);
  update(wide);
  check(wide, true);
  expectIntegrity(path, kSalesPassword, "sales-small.mdb");
  if (readersAvailable()) expectReadersRead(path, kSalesPassword);
}

TEST(TableWriter, AppendKeepsAPrimaryKeyIndexAndItsCounts) {
  TempDir dir;
  std::string path = dir.copy("sales-small.mdb");
  JetDatabase db(Env::system(), path, false, kSalesPassword);
  std::uint32_t page = db.table("urunler")->definition.page();
  auto before = TableDefinition::read(db.channel(), page);
  ASSERT_EQ(before.realIndexes().size(), 1u);
  appendRow(db.channel(), page, {{"kod", text("U031")}, {"ad", text("Boza")}, {"stok", RowValue::ofLong(3)}});
  appendRow(db.channel(), page, {{"kod", text("A000")}});
  auto counts = expectIndexesMatchRows(db.channel(), page);
  auto after = TableDefinition::read(db.channel(), page);
  EXPECT_EQ(after.rowCount(), before.rowCount() + 2);
  EXPECT_EQ(after.realIndexes()[0].uniqueEntryCount, before.realIndexes()[0].uniqueEntryCount + 2);
  EXPECT_EQ(counts[0], after.realIndexes()[0].uniqueEntryCount);
  // A key without known codes, and a null key, are refused; nothing stored.
  auto bytes = fileBytes(path);
  EXPECT_THROW(appendRow(db.channel(), page, {{"kod", text("Ç01")}}), Error);
  EXPECT_THROW(appendRow(db.channel(), page, {{"ad", text("adsiz")}}), Error);
  EXPECT_EQ(fileBytes(path), bytes);
  expectIntegrity(path, kSalesPassword, "sales-small.mdb");
  if (readersAvailable()) expectReadersRead(path, kSalesPassword);
}

void expectErrorContaining(const std::function<void()>& operation, const std::string& text) {
  try {
    operation();
    ADD_FAILURE() << "no Error; expected one containing: " << text;
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find(text), std::string::npos) << e.what();
  }
}

// Access's descending index over several pages: the keys are not written.
TEST(TableWriter, DescendingIndexesAreRefused) {
  TempDir dir;
  std::string path = dir.copy("compIndexTestV2000.mdb");
  auto bytes = fileBytes(path);
  JetDatabase db(Env::system(), path, false, "");
  auto t = db.table("Table1");
  ASSERT_TRUE(t.has_value());
  expectErrorContaining([&] { appendRow(db.channel(), t->definition.page(), {}); }, "is descending");
  EXPECT_EQ(fileBytes(path), bytes);
}

// A unique index takes a key once: a second row with it (in any letter
// case, which the key folds) is refused, as is a change of a row onto
// another row's key; a row that keeps its key may change.
TEST(TableWriter, AUniqueIndexRefusesAKeyItHolds) {
  TempDir dir;
  std::string path = dir.copy("sales-small.mdb");
  JetDatabase db(Env::system(), path, false, kSalesPassword);
  const std::uint32_t page = db.table("urunler")->definition.page();
  ASSERT_EQ(TableDefinition::read(db.channel(), page).realIndexes()[0].flags & 0x01, 0x01);
  const RowId one = appendRow(db.channel(), page, {{"kod", text("YENI1")}}).id;
  const RowId two = appendRow(db.channel(), page, {{"kod", text("YENI2")}}).id;
  const auto bytes = fileBytes(path);
  expectErrorContaining([&] { appendRow(db.channel(), page, {{"kod", text("yeni1")}}); },
                        "the unique index 'PrimaryKey' holds this key already");
  EXPECT_EQ(fileBytes(path), bytes);
  const RowId rows[] = {one, two};
  {
    WriteTransaction tx(db.channel());
    TableWriter w(db.channel(), page);
    std::vector<RowValue> first = w.readRow(rows[0]);
    std::vector<RowValue> second = w.readRow(rows[1]);
    second[0] = first[0];
    EXPECT_THROW(w.updateRow(rows[1], second), Error);
  }
  EXPECT_EQ(fileBytes(path), bytes);
  {
    WriteTransaction tx(db.channel());
    TableWriter w(db.channel(), page);
    std::vector<RowValue> first = w.readRow(rows[0]);
    first[2] = RowValue::ofLong(99);
    w.updateRow(rows[0], first);
    tx.commit();
  }
  expectIndexesMatchRows(db.channel(), page);
  expectIntegrity(path, kSalesPassword, "sales-small.mdb");
}

TEST(TableWriter, UsageMapsMoveTheirStartOrChangeForm) {
  Page p = newDataPage(0);
  std::vector<std::uint8_t> map(69, 0);
  insertRow(p, map);
  TempDir dir;
  std::string path = dir.copy("access2000-blank.mdb");
  JetDatabase db(Env::system(), path, false, "");
  WriteTransaction tx(db.channel());
  std::uint32_t n = db.channel().allocatePage();
  db.channel().writePage(n, p);
  UsageMapRef ref{0, n};
  auto pagesOf = [&] {
    auto page = db.channel().readPage(n);
    auto row = DataPage(page, n).rowBytes(0);
    std::vector<std::uint32_t> out;
    std::uint32_t first = ByteReader(row, "map").u32(1);
    for (std::size_t i = 0; i < 64 * 8; ++i)
      if (row[5 + i / 8] >> (i % 8) & 1) out.push_back(first + static_cast<std::uint32_t>(i));
    return out;
  };
  addPageToUsageMap(db.channel(), ref, 100);
  addPageToUsageMap(db.channel(), ref, 560);  // beyond the map: its start moves to 100
  EXPECT_EQ(pagesOf(), (std::vector<std::uint32_t>{100, 560}));
  addPageToUsageMap(db.channel(), ref, 50);
  EXPECT_EQ(pagesOf(), (std::vector<std::uint32_t>{50, 100, 560}));
  // Beyond the window: the map turns page-indirect and keeps its pages.
  addPageToUsageMap(db.channel(), ref, 50 + 512);
  EXPECT_EQ(db.channel().readPage(n)[DataPage(db.channel().readPage(n), n).row(0).start], 1);
  // (compared bit by bit: the read side refuses pages beyond the file)
  Page row0 = db.channel().readPage(n);
  auto bytes = DataPage(row0, n).rowBytes(0);
  std::uint32_t mapPage = ByteReader(bytes, "map").u32(1);
  Page m = db.channel().readPage(mapPage);
  EXPECT_EQ(m[0], kPageTypeUsageMap);
  std::vector<std::uint32_t> set;
  for (std::uint32_t q = 0; q < 700; ++q)
    if (m[4 + q / 8] >> (q % 8) & 1) set.push_back(q);
  EXPECT_EQ(set, (std::vector<std::uint32_t>{50, 100, 560, 562}));
  addPageToUsageMap(db.channel(), ref, 7);
  m = db.channel().readPage(mapPage);
  EXPECT_TRUE(m[4] >> 7 & 1);
  // A page whose range has no slot in the row is refused.
  EXPECT_THROW(addPageToUsageMap(db.channel(), ref, 17u * (kPageSize - 4) * 8), Error);
}

}  // namespace
}  // namespace engine

namespace engine {
namespace {

// Damaged copies: every catalog write either succeeds or refuses with an
// Error and leaves the file as it was; nothing crashes (the suite also runs
// under the address and undefined-behaviour sanitizers).
TEST(CatalogWrites, DamagedCopiesGiveErrorsNotCrashes) {
  using namespace testutil;
  TempDir dir;
  std::string original = dir.copy("sales-small.mdb", "original.mdb");
  auto clean = fileBytes(original);
  std::uint32_t catalogData = 0;
  {
    JetDatabase db(Env::system(), original, true, kSalesPassword);
    catalogData = db.catalog().entries().front().get().row.page;
  }
  // The pages the operations read: global map, catalog and ACE definitions,
  // the catalog's maps and indexes, its data page, the ACE data page.
  std::vector<std::uint32_t> pages{1, 2, 3, 6, 7, 8, 9, catalogData, catalogData + 1};
  std::mt19937 random(4711);
  std::string path = dir.path("damaged.mdb");
  int refused = 0;
  for (int round = 0; round < 240; ++round) {
    auto bytes = clean;
    std::uint32_t page = pages[static_cast<std::size_t>(round) % pages.size()];
    int count = 1 + round % 4;
    for (int k = 0; k < count; ++k) {
      std::size_t at = page * kPageSize + random() % kPageSize;
      bytes[at] = static_cast<std::uint8_t>(random());
    }
    writeBytes(path, bytes);
    auto attempt = [&](const std::function<void(Database&)>& op) {
      try {
        auto engine = makeJetEngine(Env::system());
        auto db = engine->openDatabase(path, false, false, ";pwd=zorpelnik");
        op(*db);
      } catch (const Error&) {
        ++refused;
        EXPECT_EQ(fileBytes(path), bytes) << "round " << round;
      }
      bytes = fileBytes(path);
    };
    attempt([](Database& db) { db.tableDef("fisno")->rename("fisnoeski"); });
    attempt([](Database& db) {
      NewTableDef def = db.createTableDef("yeni");
      NewField no = createField("no", 4);
      no.attributes = kAutoIncrement;
      def.fields.push_back(no);
      db.appendTableDef(def);
    });
  }
  EXPECT_GT(refused, 0);
}

}  // namespace
}  // namespace engine
