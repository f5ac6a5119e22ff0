// The update run through the Jet engine on copies of the test databases.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/env.h"
#include "schema/schema.h"
#include "schema/tests/expected_catalogue.h"

namespace schema::testing {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;
using Counters = std::array<std::string, 6>;

class Closed : public window::MessageService {
 public:
  void show(const std::string& text) override { shown.push_back(text); }
  Strings shown;
};

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "karvelta-schema-e2e-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    programDir = pattern;
    model.backupFlag = 1;
  }
  void TearDown() override { fs::remove_all(programDir); }

  // Copies the fixture beside the program and names it in the settings.
  std::string useFixture(const std::string& name) {
    const fs::path copy = fs::path(programDir) / name;
    fs::copy_file(fs::path(KARVELTA_FIXTURES_DIR) / name, copy);
    std::ofstream(fs::path(programDir) / "PLX.dll") << "[ayar]\nip=" << copy.string() << "\n";
    return copy.string();
  }
  Strings tableNames(const std::string& path) {
    return engine->openDatabase(path, false, true, ";pwd=zorpelnik")->tableNames();
  }
  Strings fieldNames(const std::string& path, const std::string& table) {
    auto db = engine->openDatabase(path, false, true, ";pwd=zorpelnik");
    Strings names;
    for (const engine::FieldInfo& f : db->tableDef(table)->fields()) names.push_back(f.name);
    return names;
  }

  static Strings allLines() {
    Strings lines;
    for (const Step& s : kExpectedSteps) lines.push_back(lineOf(s));
    return lines;
  }

  std::string programDir;
  std::unique_ptr<engine::Engine> engine = engine::makeJetEngine(engine::Env::system());
  Closed messages;
  window::Model model;
  Context ctx{model, messages, *engine, ""};
};

TEST_F(EndToEnd, SalesSmallTwice) {
  ctx.programDir = programDir;
  const std::string db = useFixture("sales-small.mdb");
  const Strings oldFisno = fieldNames(db, "fisno");
  const Strings oldSatislar = fieldNames(db, "satislar");

  basla(ctx);
  EXPECT_EQ(model.sonuc1, allLines());
  EXPECT_EQ(model.sonuc, Strings{});
  EXPECT_EQ(model.say, (Counters{"2", "30", "0", "0", "0", "0"}));
  EXPECT_EQ(messages.shown, Strings{" Güncelleme Bitti   "});
  EXPECT_EQ(fieldNames(db, "fisnoeski"), oldFisno);
  EXPECT_EQ(fieldNames(db, "satislareski"), oldSatislar);
  EXPECT_EQ(fieldNames(db, "fisno"),
            Strings({"no", "fisno", "tarih", "saat", "odemesi", "musteriadi", "toplam", "musterikodu"}));
  EXPECT_EQ(fieldNames(db, "satislar").size(), 24u);

  const Strings tables = tableNames(db);
  basla(ctx);
  EXPECT_EQ(model.sonuc, allLines());
  EXPECT_EQ(model.say, (Counters{"0", "0", "2", "30", "0", "0"}));
  EXPECT_EQ(tableNames(db), tables);
}

TEST_F(EndToEnd, PasswordRefused) {
  ctx.programDir = programDir;
  useFixture("sales-otherpass.mdb");
  basla(ctx);
  EXPECT_EQ(model.sonuc, allLines());
  EXPECT_EQ(model.say, (Counters{"0", "0", "2", "30", "0", "0"}));
}

}  // namespace
}  // namespace schema::testing
