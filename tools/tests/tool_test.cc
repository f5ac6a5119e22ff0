#include "tools/karvelta-jet/jet_tool.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/env.h"
#include "engine/page_channel.h"
#include "engine/testing/interrupted_change.h"

namespace {

namespace fs = std::filesystem;

class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    dir_ = fs::temp_directory_path() / ("karvelta-tool-" + std::to_string(rd()) + "-" + std::to_string(rd()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string copy(const std::string& name) {
    const fs::path target = dir_ / name;
    fs::copy_file(fs::path(KARVELTA_FIXTURES_DIR) / name, target);
    // The fixtures are read-only, and a copy keeps that: on Windows the
    // read-only attribute, which the engine refuses to write through.
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
    return target.string();
  }
  static std::string bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  int run(const std::vector<std::string>& args) {
    out_.str("");
    err_.str("");
    return jettool::run(args, out_, err_, engine::Env::system());
  }
  std::vector<std::string> lines() const {
    std::vector<std::string> v;
    std::istringstream in(out_.str());
    for (std::string l; std::getline(in, l);) v.push_back(l);
    return v;
  }

  fs::path dir_;
  std::ostringstream out_, err_;
};

TEST_F(ToolTest, SchemaOfTheSalesDatabase) {
  const std::string db = copy("sales-small.mdb");
  ASSERT_EQ(run({"schema", db, "--password", "zorpelnik"}), 0) << err_.str();
  const std::string json = out_.str();
  EXPECT_EQ(json.rfind("{\"tables\":[{\"name\":\"fisno\",\"rowCount\":5,\"columns\":[{\"name\":\"no\","
                       "\"type\":\"long\",\"size\":4,\"autoIncrement\":true,\"required\":false,"
                       "\"allowZeroLength\":false},",
                       0),
            0u)
      << json;
  EXPECT_NE(json.find("{\"name\":\"musteriadi\",\"type\":\"text\",\"size\":50,\"autoIncrement\":false,"
                      "\"required\":false,\"allowZeroLength\":false}"),
            std::string::npos);
  EXPECT_NE(json.find("{\"name\":\"aciklama\",\"type\":\"memo\",\"size\":0,\"autoIncrement\":false,"
                      "\"required\":false,\"allowZeroLength\":true}"),
            std::string::npos);
  EXPECT_NE(json.find("{\"name\":\"satislar\",\"rowCount\":40,"), std::string::npos);
  EXPECT_NE(json.find("{\"name\":\"urunler\",\"rowCount\":30,"), std::string::npos);
  EXPECT_NE(json.find("}]}],\"sortOrder\":{\"value\":1033,\"version\":0,\"name\":\"General\"}}\n"),
            std::string::npos)
      << json;
  EXPECT_EQ(json.back(), '\n');
}

TEST_F(ToolTest, SchemaOfAnAccessMadeDatabase) {
  ASSERT_EQ(run({"schema", copy("testV2000.mdb")}), 0) << err_.str();
  const std::string json = out_.str();
  EXPECT_NE(json.find("{\"name\":\"data\",\"type\":\"guid\",\"size\":16,\"autoIncrement\":true,"),
            std::string::npos);
  EXPECT_NE(json.find("{\"name\":\"I\",\"type\":\"boolean\","), std::string::npos);
  EXPECT_NE(json.find("{\"name\":\"Table2\",\"rowCount\":0,"), std::string::npos);
}

TEST_F(ToolTest, RowsAsJsonLines) {
  const std::string db = copy("sales-small.mdb");
  const std::string before = bytesOf(db);
  ASSERT_EQ(run({"rows", db, "FISNO", "--password=zorpelnik"}), 0) << err_.str();
  const auto fisno = lines();
  ASSERT_EQ(fisno.size(), 5u);
  EXPECT_EQ(fisno[1],
            "{\"no\":2,\"fisno\":1002,\"tarih\":\"2024-03-01 09:56:00\",\"toplam\":\"2823.2200\","
            "\"musteriadi\":\"İbrahim Çelik\"}");
  ASSERT_EQ(run({"rows", db, "satislar", "--password", "zorpelnik"}), 0) << err_.str();
  EXPECT_EQ(lines().size(), 40u);
  EXPECT_NE(out_.str().find("\"aciklama\":\"Masa 4\\r\\nhesap ayrı ödendi\""), std::string::npos);
  EXPECT_NE(out_.str().find("\"aciklama\":\"\""), std::string::npos);
  EXPECT_EQ(bytesOf(db), before);
}

TEST_F(ToolTest, PasswordsAreChecked) {
  const std::string small = copy("sales-small.mdb");
  EXPECT_NE(run({"schema", small, "--password", "baska"}), 0);
  EXPECT_NE(err_.str().find("password"), std::string::npos) << err_.str();
  EXPECT_TRUE(out_.str().empty());
  EXPECT_NE(run({"schema", small}), 0);
  const std::string other = copy("sales-otherpass.mdb");
  EXPECT_EQ(run({"schema", other, "--password", "baska"}), 0) << err_.str();
  EXPECT_NE(run({"schema", other, "--password", "zorpelnik"}), 0);
  // A database without a password opens whatever password is given.
  const std::string nopass = copy("sales-nopass.mdb");
  EXPECT_EQ(run({"rows", nopass, "urunler", "--password", "herhangi"}), 0) << err_.str();
  EXPECT_EQ(lines().size(), 30u);
  EXPECT_EQ(run({"rows", nopass, "urunler"}), 0) << err_.str();
}

TEST_F(ToolTest, RefusalsExitNonZeroWithAMessage) {
  EXPECT_NE(run({"schema", copy("testV1997.mdb")}), 0);
  EXPECT_FALSE(err_.str().empty());
  EXPECT_NE(run({"schema", (dir_ / "missing.mdb").string()}), 0);
  EXPECT_FALSE(err_.str().empty());
  const std::string db = copy("sales-small.mdb");
  EXPECT_NE(run({"rows", db, "yok", "--password", "zorpelnik"}), 0);
  EXPECT_NE(err_.str().find("yok"), std::string::npos);
  EXPECT_NE(run({"schema"}), 0);
  EXPECT_NE(run({"schema", db, "--password"}), 0);
  EXPECT_NE(run({"schema", db, "--colour", "red"}), 0);
  EXPECT_NE(run({"frobnicate", db}), 0);
  EXPECT_NE(run({}), 0);
}

TEST_F(ToolTest, RenameAndCreateTable) {
  const std::string db = copy("sales-small.mdb");
  EXPECT_EQ(run({"rename", db, "fisno", "fisnoeski", "--password", "zorpelnik"}), 0) << err_.str();
  EXPECT_TRUE(out_.str().empty());
  EXPECT_EQ(run({"create-table", db, "fisno", "--password", "zorpelnik"}), 0) << err_.str();
  EXPECT_TRUE(out_.str().empty());
  ASSERT_EQ(run({"schema", db, "--password", "zorpelnik"}), 0);
  EXPECT_NE(out_.str().find("{\"name\":\"fisnoeski\",\"rowCount\":5,"), std::string::npos);
  EXPECT_NE(out_.str().find("{\"name\":\"fisno\",\"rowCount\":0,\"columns\":[{\"name\":\"no\","
                            "\"type\":\"long\",\"size\":4,\"autoIncrement\":true"),
            std::string::npos)
      << out_.str();
  // Refusals: the engine's message, a non-zero exit, the file unchanged.
  const std::string before = bytesOf(db);
  EXPECT_NE(run({"create-table", db, "FISNO", "--password", "zorpelnik"}), 0);
  EXPECT_NE(err_.str().find("'fisno' already"), std::string::npos) << err_.str();
  EXPECT_NE(run({"rename", db, "satislar", "Urunler", "--password", "zorpelnik"}), 0);
  EXPECT_NE(err_.str().find("urunler"), std::string::npos) << err_.str();
  EXPECT_NE(run({"rename", db, "yok", "yeni", "--password", "zorpelnik"}), 0);
  EXPECT_NE(run({"rename", db, "satislar", "--password", "zorpelnik"}), 0);
  EXPECT_TRUE(out_.str().empty());
  EXPECT_EQ(bytesOf(db), before);
}

TEST_F(ToolTest, RecoverRollsBackAnInterruptedChangeAndNothingElse) {
  const std::string db = copy("sales-small.mdb");
  const std::string committed = bytesOf(db);
  EXPECT_EQ(run({"recover", db}), 0) << err_.str();
  EXPECT_TRUE(out_.str().empty()) << "nothing to do, nothing said";
  EXPECT_TRUE(bytesOf(db) == committed);

  ASSERT_TRUE(engine::testing::leaveInterruptedChange(db, [&](engine::Env& env) {
    std::ostringstream out, err;
    jettool::run({"create-table", db, "yeni", "--password", "zorpelnik"}, out, err, env);
  }));
  EXPECT_EQ(run({"recover", db}), 0) << err_.str();
  EXPECT_EQ(out_.str(), "rolled back an interrupted change\n");
  EXPECT_TRUE(bytesOf(db) == committed);
  EXPECT_FALSE(fs::exists(engine::PageChannel::journalPath(db)));

  // Interrupted again, its journal then damaged where the rollback needs it,
  // as a failing disk or a broken copy leaves it (a byte of its header
  // changed, the journal cut short): neither recover nor any open settles
  // it; both files stay as they are, and the message names the journal and
  // the way out.
  const std::string journal = engine::PageChannel::journalPath(db);
  const std::vector<std::function<void(std::string&)>> damages = {
      [](std::string& j) { j[20] ^= 0x01; },
      [](std::string& j) { j.resize(100); },
  };
  for (const auto& damage : damages) {
    ASSERT_TRUE(engine::testing::leaveInterruptedChange(db, [&](engine::Env& env) {
      std::ostringstream out, err;
      jettool::run({"create-table", db, "yeni", "--password", "zorpelnik"}, out, err, env);
    }));
    std::string j = bytesOf(journal);
    damage(j);
    std::ofstream(journal, std::ios::binary | std::ios::trunc) << j;
    const std::string half = bytesOf(db);
    EXPECT_EQ(run({"recover", db}), 1);
    EXPECT_NE(err_.str().find("may be half-changed"), std::string::npos) << err_.str();
    EXPECT_NE(err_.str().find(journal), std::string::npos) << err_.str();
    EXPECT_NE(err_.str().find("restore the database from a backup"), std::string::npos) << err_.str();
    EXPECT_NE(run({"schema", db, "--password", "zorpelnik"}), 0);
    EXPECT_TRUE(bytesOf(db) == half);
    EXPECT_TRUE(bytesOf(journal) == j);
    std::ofstream(db, std::ios::binary | std::ios::trunc) << committed;
    fs::remove(journal);
  }

  // A power cut while the journal itself was written, before its flush: it
  // never took its name, the database is untouched, and there is nothing to
  // recover; what is left of it goes with the next change.
  engine::testing::FaultEnv crashing(engine::Env::system());
  crashing.arm(engine::testing::FaultEnv::Kind::Write, engine::testing::FaultEnv::Mode::TornCrash, 2);
  {
    std::ostringstream out, err;
    jettool::run({"create-table", db, "yeni", "--password", "zorpelnik"}, out, err, crashing);
  }
  ASSERT_TRUE(crashing.fired());
  EXPECT_FALSE(fs::exists(journal));
  EXPECT_TRUE(bytesOf(db) == committed);
  EXPECT_EQ(run({"recover", db}), 0) << err_.str();
  EXPECT_TRUE(out_.str().empty());
  EXPECT_EQ(run({"create-table", db, "yeni", "--password", "zorpelnik"}), 0) << err_.str();
  EXPECT_FALSE(fs::exists(engine::PageChannel::newJournalPath(db)));

  EXPECT_NE(run({"recover", (dir_ / "missing.mdb").string()}), 0);
}

// check: silent on a sound file, one line a problem and exit 1 on a damaged
// one, a refusal beside a journal; the file is never changed.
TEST_F(ToolTest, CheckReportsProblemsAndChangesNothing) {
  const std::string db = copy("sales-small.mdb");
  EXPECT_EQ(run({"check", db, "--password", "zorpelnik"}), 0) << err_.str();
  EXPECT_EQ(out_.str(), "");
  EXPECT_EQ(err_.str(), "");

  // fisno's definition (page 24) counts one row more than the table holds.
  std::string bytes = bytesOf(db);
  bytes[24 * 4096 + 16] = 6;
  std::ofstream(db, std::ios::binary | std::ios::trunc) << bytes;
  EXPECT_EQ(run({"check", db, "--password", "zorpelnik"}), 1);
  EXPECT_EQ(lines(), std::vector<std::string>{"page 24, table fisno: the definition counts 6 rows, the table holds 5"});
  EXPECT_TRUE(bytesOf(db) == bytes);

  ASSERT_TRUE(engine::testing::leaveInterruptedChange(db, [&](engine::Env& env) {
    std::ostringstream out, err;
    jettool::run({"create-table", db, "yeni", "--password", "zorpelnik"}, out, err, env);
  }));
  const std::string halfWritten = bytesOf(db);
  EXPECT_EQ(run({"check", db, "--password", "zorpelnik"}), 1);
  EXPECT_NE(err_.str().find("rollback journal"), std::string::npos) << err_.str();
  EXPECT_TRUE(bytesOf(db) == halfWritten);
  EXPECT_TRUE(fs::exists(engine::PageChannel::journalPath(db)));
  EXPECT_NE(run({"check", db, "extra"}), 0);
}

}  // namespace

namespace {

// compact on a terminal shows its progress on standard error, updated in
// place, and nothing with --quiet or off a terminal; standard output gets
// the one line of pages and sizes.
TEST(CompactTool, ProgressOnATerminalOnlyAndOneFinalLine) {
  std::random_device rd;
  const fs::path dir = fs::temp_directory_path() / ("karvelta-compact-" + std::to_string(rd()));
  fs::create_directories(dir);
  const std::string source = (dir / "src.mdb").string();
  fs::copy_file(fs::path(KARVELTA_FIXTURES_DIR) / "sales-manytables.mdb", source);
  struct Case {
    bool terminal;
    bool quiet;
  };
  int n = 0;
  for (const Case c : {Case{true, false}, Case{true, true}, Case{false, false}}) {
    std::ostringstream out, err;
    const std::string target = (dir / ("out" + std::to_string(n++) + ".mdb")).string();
    std::vector<std::string> args{"compact", source, target, "--password", "zorpelnik"};
    if (c.quiet) args.push_back("--quiet");
    ASSERT_EQ(jettool::run(args, out, err, engine::Env::system(), c.terminal), 0) << err.str();
    EXPECT_EQ(out.str(), "compacted 703 pages (2.7 MiB) into 394 pages (1.5 MiB)\n");
    if (c.terminal && !c.quiet) {
      EXPECT_EQ(err.str().rfind("\rcompacting: table ", 0), 0u) << err.str();
      EXPECT_NE(err.str().find("table 307 of 307, page 38 of 38"), std::string::npos) << err.str();
      EXPECT_EQ(err.str().back(), '\n');
    } else {
      EXPECT_EQ(err.str(), "");
    }
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
}

}  // namespace
