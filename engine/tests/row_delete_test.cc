// Row deletion on copies of fixtures: deleted rows leave both independent
// readers and every index while the rest stays as it was; their long values
// are freed, counts follow (the auto-increment counter excepted); the check
// passes with the drifts the file had; cuts leave all or nothing. (The
// bloated sample, tools/tests/new_sample_test.cc, deletes rows of an
// engine-made file on a large scale, emptying index pages.)
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "engine/data_page.h"
#include "engine/jet_database.h"
#include "engine/little_endian.h"
#include "engine/table_scan.h"
#include "engine/table_writer.h"
#include "engine/tests/catalog_write_util.h"
#include "engine/tests/cuts.h"
#include "engine/tests/integrity_util.h"
#include "engine/tests/write_test_util.h"
#include "engine/value.h"

namespace engine {
namespace {

using namespace testutil;
using Lines = std::vector<std::string>;

// The rows of a table as one independent reader prints them (the form of
// `karvelta-jet rows`), sorted.
Lines readerRows(const std::string& script, const std::string& path, const std::string& table,
                 const std::string& password) {
  std::string cmd = "node '" KARVELTA_SOURCE_DIR "/tools/readers/" + script + "' rows '" + path + "' '" +
                    table + "'";
  if (!password.empty()) cmd += " --password " + password;
  const std::string out = commandOutput(cmd, path + ".rows.txt");
  Lines lines;
  std::size_t from = 0;
  for (std::size_t at; (at = out.find('\n', from)) != std::string::npos; from = at + 1)
    lines.push_back(out.substr(from, at - from));
  std::sort(lines.begin(), lines.end());
  return lines;
}

// Both readers' rows of each table, to compare before and after a deletion.
struct ReaderView {
  std::map<std::string, Lines> rows;  // "script table" -> rows
  static ReaderView of(const std::string& path, const std::vector<std::string>& tables,
                       const std::string& password) {
    ReaderView v;
    for (const char* script : {"dump.mjs", "mdbtools.mjs"})
      for (const std::string& t : tables) v.rows[std::string(script) + " " + t] = readerRows(script, path, t, password);
    return v;
  }
};

// Each reader lost exactly the rows whose line starts with one of the
// prefixes given for the table (one row each) and kept every other row.
void expectOnlyRemoved(const ReaderView& before, const ReaderView& after,
                       const std::map<std::string, Lines>& removedByTable) {
  for (const auto& [key, was] : before.rows) {
    const std::string table = key.substr(key.find(' ') + 1);
    const Lines& now = after.rows.at(key);
    EXPECT_TRUE(std::includes(was.begin(), was.end(), now.begin(), now.end())) << key;
    Lines gone;
    std::set_difference(was.begin(), was.end(), now.begin(), now.end(), std::back_inserter(gone));
    const Lines& prefixes = removedByTable.at(table);
    ASSERT_EQ(gone.size(), prefixes.size()) << key;
    for (const std::string& prefix : prefixes)
      EXPECT_EQ(std::count_if(gone.begin(), gone.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }), 1)
          << key << ": " << prefix;
  }
}

// The row is flagged 0xC000 and holds no bytes.
void expectDeletedInPlace(PageChannel& channel, RowId at) {
  const Page page = channel.readPage(at.page);
  const std::uint16_t raw = get16(page, DataPage::kFirstRowPointer + 2 * std::size_t{at.row});
  EXPECT_EQ(raw & 0xC000, 0xC000) << "row " << at.row << " of page " << at.page;
  const RowPointer p = DataPage(page, at.page).row(at.row);
  EXPECT_EQ(p.start, p.end) << "row " << at.row << " of page " << at.page;
}

// The live rows of a table with their decoded values, by column name.
using Values = std::map<std::string, Value>;
std::vector<std::pair<RowId, Values>> rowsOf(JetDatabase& db, const std::string& table) {
  const TableDefinition d = db.table(table)->definition;
  const PageSource pages = pageSourceOf(db.channel());
  std::vector<std::pair<RowId, Values>> out;
  scanRows(db.channel(), d, [&](RowId id, std::span<const std::uint8_t> bytes) {
    const std::vector<RawValue> raw = decodeRow(bytes, d.columns());
    Values values;
    for (std::size_t i = 0; i < raw.size(); ++i) values[d.columns()[i].name] = decodeValue(d.columns()[i], raw[i], pages);
    out.emplace_back(id, std::move(values));
    return true;
  });
  return out;
}

// The rows whose values satisfy `pick`.
std::vector<std::pair<RowId, Values>> rowsWhere(JetDatabase& db, const std::string& table,
                                                const std::function<bool(const Values&)>& pick) {
  std::vector<std::pair<RowId, Values>> out = rowsOf(db, table);
  out.erase(std::remove_if(out.begin(), out.end(), [&](const auto& r) { return !pick(r.second); }), out.end());
  return out;
}

bool memoLonger(const Values& v, std::size_t n) {
  return v.at("aciklama").kind == Value::Kind::Text && v.at("aciklama").text.size() > n;
}

void deleteRows(PageChannel& channel, std::uint32_t table, const std::vector<RowId>& ids) {
  WriteTransaction tx(channel);
  TableWriter w(channel, table);
  for (const RowId id : ids) w.deleteRow(id);
  tx.commit();
}

// sales-small: sales rows with a chained memo (5321 characters), an empty
// memo and a short one, three products of urunler's primary key, the
// receipt with the highest number.
TEST(RowDelete, RowsLeaveEveryReaderAndIndexWithTheirLongValues) {
  TempDir dir;
  const std::string path = dir.copy("sales-small.mdb");
  const std::vector<std::string> tables{"satislar", "urunler", "fisno"};
  ReaderView before;
  if (readersAvailable()) before = ReaderView::of(path, tables, kSalesPassword);
  std::map<std::string, Lines> removed;
  std::vector<RowId> sales, products, receipts;
  {
    JetDatabase db(Env::system(), path, false, kSalesPassword);
    const std::uint32_t satislar = db.table("satislar")->definition.page();
    const std::uint32_t urunler = db.table("urunler")->definition.page();
    const std::uint32_t fisno = db.table("fisno")->definition.page();
    for (const auto& pick : std::vector<std::function<bool(const Values&)>>{
             [](const Values& v) { return memoLonger(v, 5000); },
             [](const Values& v) { return v.at("aciklama").kind == Value::Kind::Text && v.at("aciklama").text.empty(); },
             [](const Values& v) { return v.at("no").integer == 3; }}) {
      const auto found = rowsWhere(db, "satislar", pick);
      ASSERT_EQ(found.size(), 1u);
      sales.push_back(found[0].first);
      removed["satislar"].push_back("{\"no\":" + std::to_string(found[0].second.at("no").integer) + ",");
    }
    for (const char* kod : {"U002", "U017", "U030"}) {
      products.push_back(rowsWhere(db, "urunler", [&](const Values& v) { return v.at("kod").text == kod; }).at(0).first);
      removed["urunler"].push_back(std::string("{\"kod\":\"") + kod + "\"");
    }
    receipts.push_back(rowsWhere(db, "fisno", [](const Values& v) { return v.at("no").integer == 5; }).at(0).first);
    removed["fisno"].push_back("{\"no\":5,");
    const std::uint32_t lastNumber = TableDefinition::read(db.channel(), fisno).lastAutoNumber();
    {
      WriteTransaction tx(db.channel());
      TableWriter salesWriter(db.channel(), satislar);
      for (const RowId id : sales) salesWriter.deleteRow(id);
      TableWriter productWriter(db.channel(), urunler);
      for (const RowId id : products) productWriter.deleteRow(id);
      TableWriter(db.channel(), fisno).deleteRow(receipts[0]);
      tx.commit();
    }
    for (const auto& ids : {sales, products, receipts})
      for (const RowId id : ids) expectDeletedInPlace(db.channel(), id);
    EXPECT_EQ(TableDefinition::read(db.channel(), satislar).rowCount(), 37u);
    EXPECT_EQ(TableDefinition::read(db.channel(), fisno).rowCount(), 4u);
    const TableDefinition u = TableDefinition::read(db.channel(), urunler);
    EXPECT_EQ(u.rowCount(), 27u);
    EXPECT_EQ(u.realIndexes()[0].uniqueEntryCount, 27u);
    EXPECT_EQ(expectIndexesMatchRows(db.channel(), urunler), (std::vector<std::size_t>{27}));

    // A row deleted already is refused, and nothing changes.
    const auto bytes = fileBytes(path);
    EXPECT_THROW(deleteRows(db.channel(), fisno, {receipts[0]}), Error);
    EXPECT_EQ(fileBytes(path), bytes);
    if (readersAvailable()) expectOnlyRemoved(before, ReaderView::of(path, tables, kSalesPassword), removed);

    // The highest receipt number was deleted: it is not handed out again.
    EXPECT_EQ(TableDefinition::read(db.channel(), fisno).lastAutoNumber(), lastNumber);
    EXPECT_EQ(appendRow(db.channel(), fisno, {}).autoNumbers, (std::vector<std::int32_t>{6}));
  }
  expectIntegrity(path, kSalesPassword, "sales-small.mdb");
  if (readersAvailable()) expectReadersRead(path, kSalesPassword);
}

// overflowTestV2000 (Access): the row and its data row on another page both
// go; the file keeps the drifts Access left in it.
TEST(RowDelete, OverflowRowsGoWithTheirDataRows) {
  TempDir dir;
  const std::string overflow = dir.copy("overflowTestV2000.mdb");
  ReaderView before;
  if (readersAvailable()) before = ReaderView::of(overflow, {"Table1"}, "");
  {
    JetDatabase db(Env::system(), overflow, false, "");
    const std::uint32_t table = db.table("Table1")->definition.page();
    std::vector<RowId> headers, targets;
    for (const auto& [id, values] : rowsOf(db, "Table1")) {
      const Page page = db.channel().readPage(id.page);
      const RowPointer p = DataPage(page, id.page).row(id.row);
      if (!p.overflow) continue;
      headers.push_back(id);
      targets.push_back(RowId{get32(page, p.start) >> 8, page[p.start]});
    }
    ASSERT_EQ(headers.size(), 2u);
    deleteRows(db.channel(), table, headers);
    for (const auto& ids : {headers, targets})
      for (const RowId id : ids) expectDeletedInPlace(db.channel(), id);
    EXPECT_EQ(TableDefinition::read(db.channel(), table).rowCount(), 5u);
  }
  if (readersAvailable()) {
    const ReaderView after = ReaderView::of(overflow, {"Table1"}, "");
    for (const auto& [key, was] : before.rows) {
      EXPECT_EQ(after.rows.at(key).size(), was.size() - 2) << key;
      EXPECT_TRUE(std::includes(was.begin(), was.end(), after.rows.at(key).begin(), after.rows.at(key).end()));
    }
  }
  expectIntegrity(overflow, "", "overflowTestV2000.mdb");
  if (readersAvailable()) expectReadersRead(overflow, "");
}

// A table with a foreign-key index (urunler's primary key made one in a
// copy) refuses a deletion before any page changes.
TEST(RowDelete, AForeignKeyIndexRefuses) {
  TempDir dir;
  const std::string path = dir.copy("sales-small.mdb");
  JetDatabase db(Env::system(), path, false, kSalesPassword);
  const TableDefinition d = db.table("urunler")->definition;
  {
    WriteTransaction tx(db.channel());
    Page def = db.channel().readPage(d.page());
    def[d.logicalIndexes().at(0).block.offset + 23] = 2;  // foreign key
    db.channel().writePage(d.page(), def);
    tx.commit();
  }
  const auto bytes = fileBytes(path);
  try {
    deleteRows(db.channel(), d.page(), {rowsOf(db, "urunler").at(0).first});
    ADD_FAILURE() << "deleted";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("relationship"), std::string::npos) << e.what();
  }
  EXPECT_EQ(fileBytes(path), bytes);
}

// A deletion that frees a chained memo and takes a key out of a primary
// key, under every cut of its writes and flushes: all or nothing.
TEST(RowDelete, CutsLeaveAllOrNothing) {
  TempDir dir;
  expectAllOrNothing(dir, "sales-small.mdb", kSalesPassword, [](Env& env, const std::string& path) {
    JetDatabase db(env, path, false, kSalesPassword);
    const auto chained = rowsWhere(db, "satislar", [](const Values& v) { return memoLonger(v, 5000); });
    const auto product = rowsWhere(db, "urunler", [](const Values& v) { return v.at("kod").text == "U001"; });
    WriteTransaction tx(db.channel());
    TableWriter(db.channel(), db.table("satislar")->definition.page()).deleteRow(chained.at(0).first);
    TableWriter(db.channel(), db.table("urunler")->definition.page()).deleteRow(product.at(0).first);
    tx.commit();
  });
}

}  // namespace
}  // namespace engine
