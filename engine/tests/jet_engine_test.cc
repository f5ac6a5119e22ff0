#include <gtest/gtest.h>

#include <random>

#include "engine/engine.h"
#include "engine/error.h"
#include "engine/jet_database.h"
#include "engine/jet_engine.h"
#include "engine/long_value.h"
#include "engine/tests/read_fixture.h"

namespace engine {
namespace {

using testing::TempDir;
using testing::fileBytes;
using testing::writeBytes;

const std::string kConnect = ";pwd=zorpelnik";

TEST(JetEngineTest, OpensAndListsTables) {
  TempDir dir;
  std::string path = dir.copy("sales-small.mdb");
  auto before = fileBytes(path);
  {
    auto engine = makeJetEngine(Env::system());
    auto db = engine->openDatabase(path, false, false, kConnect);
    EXPECT_EQ(db->tableNames(), (std::vector<std::string>{"fisno", "satislar", "urunler"}));
    auto t = db->tableDef("SATISLAR");
    EXPECT_EQ(t->name(), "satislar");
    auto f = t->fields();
    ASSERT_EQ(f.size(), 8u);
    EXPECT_EQ(f[0].name, "no");
    EXPECT_EQ(f[0].typeCode, 4);
    EXPECT_TRUE(f[0].autoIncrement);
    EXPECT_EQ(f[2].name, "urun");
    EXPECT_EQ(f[2].typeName, "text");
    EXPECT_EQ(f[2].size, 100);
    EXPECT_FALSE(f[2].required);
    EXPECT_TRUE(f[2].allowZeroLength);
    EXPECT_EQ(f[7].typeCode, 12);
    EXPECT_TRUE(f[7].allowZeroLength);
    EXPECT_THROW(db->tableDef("yok"), Error);
    EXPECT_THROW(db->tableDef("MSysObjects"), Error);
  }
  EXPECT_EQ(fileBytes(path), before);
}

TEST(JetEngineTest, PasswordsThroughTheConnectText) {
  TempDir dir;
  auto engine = makeJetEngine(Env::system());
  std::string small = dir.copy("sales-small.mdb");
  EXPECT_NO_THROW(engine->openDatabase(small, false, false, "; PWD=zorpelnik"));
  EXPECT_THROW(engine->openDatabase(small, false, false, ";pwd=baska"), Error);
  EXPECT_THROW(engine->openDatabase(small, false, false, ""), Error);
  std::string other = dir.copy("sales-otherpass.mdb");
  EXPECT_THROW(engine->openDatabase(other, false, false, kConnect), Error);
  EXPECT_NO_THROW(engine->openDatabase(other, false, false, ";pwd=baska"));
  std::string nopass = dir.copy("sales-nopass.mdb");
  EXPECT_NO_THROW(engine->openDatabase(nopass, false, false, kConnect));
  EXPECT_THROW(engine->openDatabase(dir.path("missing.mdb"), false, false, kConnect), Error);
  EXPECT_THROW(engine->openDatabase(dir.copy("testV1997.mdb"), false, false, ""), Error);
  EXPECT_THROW(engine->openDatabase(dir.copy("testV2007.accdb"), false, false, ""), Error);
}

TEST(JetEngineTest, TwoDatabasesOnOneFile) {
  TempDir dir;
  std::string path = dir.copy("sales-updated.mdb");
  auto engine = makeJetEngine(Env::system());
  auto a = engine->openDatabase(path, false, false, kConnect);
  auto b = engine->openDatabase(path, false, false, kConnect);
  EXPECT_EQ(a->tableNames(), b->tableNames());
  EXPECT_EQ(a->tableDef("fisnoeski")->fields().size(), 5u);
  EXPECT_EQ(b->tableDef("satislareski")->fields().size(), 8u);
}

TEST(JetEngineTest, EveryFixtureReads) {
  struct Case {
    const char* file;
    std::vector<std::pair<std::string, std::uint32_t>> tables;
  } cases[] = {
      {"access2000-blank.mdb", {}},
      {"testV2000.mdb", {{"Table1", 2}, {"Table2", 0}, {"Table3", 0}, {"Table4", 0}}},
      {"delColTestV2000.mdb", {{"Table1", 2}}},
      {"overflowTestV2000.mdb", {{"Table1", 7}}},
      {"compIndexTestV2000.mdb", {{"Table1", 512}}},
      {"sales-nofisno.mdb", {{"satislar", 40}, {"urunler", 30}}},
  };
  TempDir dir;
  for (const auto& c : cases) {
    std::string path = dir.copy(c.file);
    auto before = fileBytes(path);
    {
      JetDatabase db(Env::system(), path, false, "zorpelnik");
      std::vector<std::pair<std::string, std::uint32_t>> got;
      for (const JetTable& t : db.tables()) got.emplace_back(t.entry.name, t.definition.rowCount());
      EXPECT_EQ(got, c.tables) << c.file;
    }
    EXPECT_EQ(fileBytes(path), before) << c.file;
  }
}

TEST(JetEngineTest, WriteSideIsDeclared) {
  TempDir dir;
  auto engine = makeJetEngine(Env::system());
  auto db = engine->openDatabase(dir.copy("sales-small.mdb"), false, false, kConnect);
  NewTableDef def = db->createTableDef("yeni");
  EXPECT_EQ(def.name, "yeni");
  EXPECT_TRUE(def.fields.empty());
}

// Reads everything a database offers; only engine::Error may come out.
void readAll(const std::string& path) {
  JetDatabase db(Env::system(), path, true, "zorpelnik");
  for (const JetTable& t : db.tables()) {
    db.properties(t.entry);
    std::size_t n = 0;
    db.forEachRow(t.definition, [&](const std::vector<RawValue>& v) {
      for (std::size_t i = 0; i < v.size(); ++i)
        if (!v[i].isNull() && t.definition.columns()[i].isLongValue())
          readLongValue(v[i].bytes, pageSourceOf(db.channel()));
      return ++n < 100000;
    });
  }
}

TEST(JetEngineTest, DamagedCopiesAreRefusedWithoutHarm) {
  TempDir dir;
  std::mt19937 rng(20241207);
  for (const char* fixture : {"sales-small.mdb", "testV2000.mdb", "overflowTestV2000.mdb"}) {
    std::string original = dir.copy(fixture);
    const auto good = fileBytes(original);
    const std::size_t pages = good.size() / kPageSize;
    for (int round = 0; round < 60; ++round) {
      auto bytes = good;
      // Flip bits in the pages that matter most: header, catalog, and a
      // few others; sometimes cut the file.
      int flips = 1 + static_cast<int>(rng() % 8);
      for (int k = 0; k < flips; ++k) {
        std::size_t page = (rng() % 3 == 0) ? 2 : rng() % std::min<std::size_t>(pages, 24);
        std::size_t at = page * kPageSize + rng() % kPageSize;
        bytes[at] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
      }
      if (round % 10 == 9) bytes.resize(rng() % bytes.size());
      std::string path = dir.path("damaged.mdb");
      writeBytes(path, bytes);
      try {
        readAll(path);
      } catch (const Error&) {
        // refused: fine
      } catch (const std::exception& e) {
        ADD_FAILURE() << fixture << " round " << round << ": not an engine error: " << e.what();
      }
      EXPECT_EQ(fileBytes(path), bytes) << "reading changed the file";
    }
  }
}

}  // namespace
}  // namespace engine
