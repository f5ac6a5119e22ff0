// karvelta-jet new-sample: the demo sales database and its settings file,
// read back through our engine and the independent readers, and the whole
// update run of the window over it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/data_page.h"
#include "engine/env.h"
#include "engine/error.h"
#include "engine/integrity_check.h"
#include "engine/jet_database.h"
#include "engine/long_value.h"
#include "engine/long_value_writer.h"
#include "engine/page_channel.h"
#include "engine/usage_map.h"
#include "engine/testing/readers.h"
#include "engine/testing/temp_dir.h"
#include "engine/value.h"
#include "schema/schema.h"
#include "schema/tests/expected_catalogue.h"
#include "tools/karvelta-jet/jet_tool.h"
#include "tools/karvelta-jet/sample_database.h"
#include "window/testing/recording_messages.h"

namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

using engine::testing::readersAvailable;

// verify-written over the file; extra: further arguments. Fails the test with
// its report unless it exits 0.
void expectReadersRead(const std::string& path, const std::string& extra = {}) {
  const std::string out = path + ".verify.txt";
  const std::string cmd = "node '" KARVELTA_SOURCE_DIR "/tools/readers/verify-written.mjs' '" + path +
                          "' --password zorpelnik " + extra + " > '" + out + "' 2>&1";
  const int rc = std::system(cmd.c_str());
  std::ifstream in(out);
  const std::string report((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(rc, 0) << report;
}

// The engine's integrity check finds nothing wrong, nor any count off (the
// sample is ours from its first byte).
void expectSound(const std::string& path) {
  const engine::IntegrityReport report =
      engine::checkDatabaseFile(engine::Env::system(), path, jettool::kSamplePassword);
  std::string lines;
  for (const engine::IntegrityProblem& p : report.problems) lines += engine::formatProblem(p) + "\n";
  EXPECT_TRUE(report.sound()) << lines;
  EXPECT_TRUE(report.drifts.empty());
}

std::string fileText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The rows of a table: column name to decoded value, in storage order.
using Row = std::map<std::string, engine::Value>;
std::vector<Row> rowsOf(const std::string& path, const std::string& table) {
  engine::JetDatabase db(engine::Env::system(), path, true, jettool::kSamplePassword);
  const auto t = db.table(table);
  EXPECT_TRUE(t.has_value()) << table;
  std::vector<Row> out;
  if (!t) return out;
  const engine::PageSource pages = engine::pageSourceOf(db.channel());
  db.forEachRow(t->definition, [&](const std::vector<engine::RawValue>& raw) {
    Row r;
    for (std::size_t i = 0; i < raw.size(); ++i)
      r[t->definition.columns()[i].name] = engine::decodeValue(t->definition.columns()[i], raw[i], pages);
    out.push_back(std::move(r));
    return true;
  });
  return out;
}

Strings jsonRows(const std::string& path, const std::string& table) {
  Strings out;
  for (const Row& r : rowsOf(path, table)) {
    std::string line;
    for (const auto& [name, value] : r) line += name + "=" + engine::toJson(value) + " ";
    out.push_back(line);
  }
  return out;
}

class NewSample : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = engine::testing::newTemporaryDirectory("karvelta-sample");
  }
  void TearDown() override { fs::remove_all(dir); }

  int tool(const Strings& args) {
    out.str("");
    err.str("");
    return jettool::run(args, out, err, engine::Env::system());
  }

  std::string dir;
  std::ostringstream out, err;
};

TEST_F(NewSample, WritesTheSalesTablesAndTheSettingsFile) {
  ASSERT_EQ(tool({"new-sample", dir, "--rows", "255"}), 0) << err.str();
  const std::string db = (fs::path(dir) / "satis.mdb").string();
  EXPECT_EQ(out.str(), db + "\n");
  EXPECT_EQ(err.str(), "");
  EXPECT_EQ(fileText(fs::path(dir) / "PLX.dll"), "[ayar]\r\nip=" + db + "\r\n");
  Strings left;
  for (const auto& e : fs::directory_iterator(dir)) left.push_back(e.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (Strings{"PLX.dll", "satis.mdb"}));

  EXPECT_THROW(engine::JetDatabase(engine::Env::system(), db, true, "baska"), engine::Error);
  {
    engine::JetDatabase jet(engine::Env::system(), db, true, jettool::kSamplePassword);
    Strings tables;
    for (const auto& t : jet.tables()) tables.push_back(t.entry.name);
    EXPECT_EQ(tables, (Strings{"fisno", "satislar", "urunler"}));
    const auto satislar = jet.table("satislar");
    Strings columns;
    for (const auto& c : satislar->definition.columns()) columns.push_back(c.name);
    EXPECT_EQ(columns, (Strings{"no", "tarih", "urun", "fiyat", "adet", "toplam", "fisno", "aciklama"}));
    EXPECT_TRUE(satislar->definition.columns()[2].compressedUnicode());
    EXPECT_EQ(satislar->definition.rowCount(), 255u);
    EXPECT_EQ(satislar->definition.lastAutoNumber(), 255u);
    EXPECT_EQ(jet.table("fisno")->definition.rowCount(), 26u);
    EXPECT_EQ(jet.table("urunler")->definition.rowCount(), 30u);
    const auto props = jet.properties(satislar->entry);
    EXPECT_FALSE(props.required("urun"));
    EXPECT_TRUE(props.allowZeroLength("aciklama"));
    // urunler's primary key on kod, as in the sales files.
    const engine::TableDefinition urunler = jet.table("urunler")->definition;
    ASSERT_EQ(urunler.logicalIndexes().size(), 1u);
    EXPECT_EQ(urunler.logicalIndexes()[0].name, "PrimaryKey");
    EXPECT_TRUE(urunler.logicalIndexes()[0].primaryKey());
    EXPECT_EQ(urunler.realIndexes()[0].columns.at(0).columnNumber, urunler.findColumn("kod")->number);
    EXPECT_EQ(urunler.realIndexes()[0].uniqueEntryCount, 30u);
  }

  // Receipts: one per ten sales, numbered from 1001, totals matching.
  std::map<std::int64_t, std::int64_t> sums;
  bool turkish = false;
  std::size_t longestMemo = 0;
  for (const Row& r : rowsOf(db, "satislar")) {
    sums[r.at("fisno").integer] += r.at("toplam").integer;
    turkish = turkish || r.at("urun").text.find("ş") != std::string::npos;
    if (r.at("aciklama").kind == engine::Value::Kind::Text)
      longestMemo = std::max(longestMemo, r.at("aciklama").text.size());
  }
  EXPECT_TRUE(turkish);
  EXPECT_GT(longestMemo, 5000u);
  const auto receipts = rowsOf(db, "fisno");
  ASSERT_EQ(receipts.size(), 26u);
  for (std::size_t i = 0; i < receipts.size(); ++i) {
    EXPECT_EQ(receipts[i].at("no").integer, static_cast<std::int64_t>(i + 1));
    EXPECT_EQ(receipts[i].at("fisno").integer, static_cast<std::int64_t>(1001 + i));
    EXPECT_EQ(receipts[i].at("toplam").integer, sums[receipts[i].at("fisno").integer]) << i;
  }
  expectSound(db);
  if (readersAvailable()) expectReadersRead(db);
}

TEST_F(NewSample, RefusalsLeaveNoFiles) {
  EXPECT_NE(tool({"new-sample", (fs::path(dir) / "yok").string()}), 0);
  EXPECT_NE(err.str().find("not an existing folder"), std::string::npos) << err.str();
  EXPECT_NE(tool({"new-sample", dir, "--rows", "beş"}), 0);
  EXPECT_NE(tool({"new-sample"}), 0);
  EXPECT_NE(tool({"new-sample", dir, "--bloat", "--twin"}), 0);
  EXPECT_NE(tool({"new-sample", dir, "--bloat=yes"}), 0);
  EXPECT_TRUE(fs::is_empty(dir));

  ASSERT_EQ(tool({"new-sample", dir, "--rows", "3"}), 0) << err.str();
  const fs::path db = fs::path(dir) / "satis.mdb";
  const std::string before = fileText(db);
  EXPECT_NE(tool({"new-sample", dir}), 0);
  EXPECT_NE(err.str().find("exists already"), std::string::npos) << err.str();
  EXPECT_EQ(fileText(db), before);
}

// What a file holds that its live rows do not need, page by page.
struct DeadParts {
  std::size_t deletedRows = 0;      // on data pages of the user tables
  std::size_t deadLongValues = 0;   // deleted rows of their memos' LVAL pages
  std::size_t deadLvalPages = 0;    // such pages without a live row
  std::size_t freePages = 0;        // inside the file, free in the global map
};
DeadParts deadPartsOf(const std::string& path) {
  engine::JetDatabase db(engine::Env::system(), path, true, jettool::kSamplePassword);
  engine::PageChannel& channel = db.channel();
  std::set<std::uint32_t> tables, lvalPages;  // of the user tables' memo columns
  for (const auto& t : db.tables()) {
    tables.insert(t.definition.page());
    for (const engine::ColumnUsageMaps& m : t.definition.columnUsageMaps()) {
      const engine::UsageMap owned = engine::UsageMap::read(channel, m.ownedPages);
      lvalPages.insert(owned.pages().begin(), owned.pages().end());
    }
  }
  DeadParts d;
  const auto states = channel.globalMapStates();
  for (std::uint32_t n = 3; n < channel.pageCount(); ++n) {
    if (states.at(n) == engine::PageChannel::MapState::Free) {
      ++d.freePages;
      continue;
    }
    const engine::Page page = channel.readPage(n);
    if (page[0] != engine::kPageTypeData) continue;
    const engine::DataPage dp(page, n);
    const bool lval = lvalPages.count(n) != 0;
    if (!lval && tables.count(dp.tableDefinitionPage()) == 0) continue;
    std::size_t live = 0;
    for (std::uint16_t r = 0; r < dp.rowCount(); ++r) {
      const engine::RowPointer p = dp.row(r);
      if (!p.deleted) ++live;
      else if (lval) ++d.deadLongValues;
      else if (p.overflow) ++d.deletedRows;
    }
    if (lval && live == 0) ++d.deadLvalPages;
  }
  return d;
}

// The bloated sample and its twin, at 1000 sales: both sound and read alike
// by both readers; the same tables, columns, index and rows, auto-increment
// numbers included; the bloated one has every kind of dead part (and the
// highest numbers among its dead rows), the twin none.
TEST_F(NewSample, ABloatedSampleAndItsTwinHoldTheSameLiveRows) {
  const std::string bloatedDir = (fs::path(dir) / "bloated").string();
  const std::string twinDir = (fs::path(dir) / "twin").string();
  fs::create_directories(bloatedDir);
  fs::create_directories(twinDir);
  ASSERT_EQ(tool({"new-sample", bloatedDir, "--rows", "1000", "--bloat"}), 0) << err.str();
  ASSERT_EQ(tool({"new-sample", twinDir, "--rows", "1000", "--twin"}), 0) << err.str();
  const std::string bloated = (fs::path(bloatedDir) / "satis.mdb").string();
  const std::string twin = (fs::path(twinDir) / "satis.mdb").string();

  for (const char* table : {"fisno", "satislar", "urunler"}) {
    Strings a = jsonRows(bloated, table), b = jsonRows(twin, table);
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    EXPECT_EQ(a, b) << table;
    EXPECT_FALSE(a.empty()) << table;
  }
  ASSERT_EQ(tool({"schema", bloated, "--password", jettool::kSamplePassword}), 0) << err.str();
  const std::string schema = out.str();
  ASSERT_EQ(tool({"schema", twin, "--password", jettool::kSamplePassword}), 0) << err.str();
  EXPECT_EQ(out.str(), schema);
  {
    engine::JetDatabase a(engine::Env::system(), bloated, true, jettool::kSamplePassword);
    engine::JetDatabase b(engine::Env::system(), twin, true, jettool::kSamplePassword);
    // 100 receipts, the last cancelled: its number stays used up.
    EXPECT_EQ(a.table("fisno")->definition.lastAutoNumber(), 100u);
    EXPECT_EQ(a.table("satislar")->definition.lastAutoNumber(), 1000u);
    EXPECT_EQ(a.table("urunler")->definition.lastAutoNumber(), 2430u);
    EXPECT_LT(b.table("fisno")->definition.lastAutoNumber(), 100u);
    EXPECT_LT(b.table("satislar")->definition.lastAutoNumber(), 1000u);
    EXPECT_LT(b.table("urunler")->definition.lastAutoNumber(), 2430u);
    EXPECT_EQ(a.table("urunler")->definition.realIndexes()[0].uniqueEntryCount, 430u);
  }
  const DeadParts dead = deadPartsOf(bloated);
  EXPECT_GT(dead.deletedRows, 2000u);  // sales, receipts, products
  EXPECT_GT(dead.deadLongValues, 50u);
  EXPECT_GE(dead.deadLvalPages, 2u);
  EXPECT_GE(dead.freePages, 5u);  // urunler's emptied index pages
  const DeadParts none = deadPartsOf(twin);
  EXPECT_EQ(none.deletedRows + none.deadLongValues + none.deadLvalPages + none.freePages, 0u);
  EXPECT_GT(fs::file_size(bloated), fs::file_size(twin) + 40 * 4096);
  EXPECT_LT(fs::file_size(bloated), 1024u * 1024u);

  expectSound(bloated);
  expectSound(twin);
  if (readersAvailable()) {
    expectReadersRead(bloated);
    expectReadersRead(twin, "--rows-like '" + bloated + "'");
  }
}

TEST_F(NewSample, GoesThroughTheWholeUpdateRun) {
  ASSERT_EQ(tool({"new-sample", dir}), 0) << err.str();
  const std::string db = (fs::path(dir) / "satis.mdb").string();
  const std::string original = db + ".before";
  fs::copy_file(db, original);
  const Strings fisno = jsonRows(db, "fisno");
  const Strings satislar = jsonRows(db, "satislar");
  const Strings urunler = jsonRows(db, "urunler");
  ASSERT_EQ(satislar.size(), jettool::kSampleDefaultRows);

  auto engine = engine::makeJetEngine(engine::Env::system());
  window::Model model;
  model.backupFlag = 1;
  window::testing::RecordingMessages messages;
  schema::Context ctx{model, messages, *engine, dir};
  schema::basla(ctx);

  Strings all;
  for (const auto& s : schema::testing::kExpectedSteps) all.push_back(schema::testing::lineOf(s));
  EXPECT_EQ(model.sonuc1, all);
  EXPECT_EQ(model.sonuc, Strings{});
  EXPECT_EQ(model.say, (std::array<std::string, 6>{"2", "30", "0", "0", "0", "0"}));
  EXPECT_EQ(messages.texts, Strings{schema::kUpdateDone});
  EXPECT_EQ(jsonRows(db, "fisnoeski"), fisno);
  EXPECT_EQ(jsonRows(db, "satislareski"), satislar);
  EXPECT_EQ(jsonRows(db, "urunler"), urunler);
  EXPECT_TRUE(jsonRows(db, "fisno").empty());
  EXPECT_TRUE(jsonRows(db, "satislar").empty());
  {
    auto database = engine->openDatabase(db, false, true, ";pwd=zorpelnik");
    EXPECT_EQ(database->tableNames(),
              (Strings{"fisnoeski", "satislareski", "urunler", "fisno", "satislar"}));
    EXPECT_EQ(database->tableDef("satislar")->fields().size(), 24u);
  }
  expectSound(db);
  if (readersAvailable())
    expectReadersRead(db, "--rows-like '" + original + "' --renamed fisno=fisnoeski,satislar=satislareski");
}

}  // namespace
