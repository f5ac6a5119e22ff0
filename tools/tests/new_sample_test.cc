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
#include <sstream>
#include <string>
#include <vector>

#include "engine/env.h"
#include "engine/error.h"
#include "engine/integrity_check.h"
#include "engine/jet_database.h"
#include "engine/long_value.h"
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
  EXPECT_TRUE(fs::is_empty(dir));

  ASSERT_EQ(tool({"new-sample", dir, "--rows", "3"}), 0) << err.str();
  const fs::path db = fs::path(dir) / "satis.mdb";
  const std::string before = fileText(db);
  EXPECT_NE(tool({"new-sample", dir}), 0);
  EXPECT_NE(err.str().find("exists already"), std::string::npos) << err.str();
  EXPECT_EQ(fileText(db), before);
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
