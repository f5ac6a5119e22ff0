// The update run through the Jet engine on copies of the test databases,
// with the independent readers reading what it wrote.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "backup/backup.h"
#include "engine/engine.h"
#include "engine/env.h"
#include "engine/integrity_check.h"
#include "engine/path.h"
#include "engine/testing/fake_env.h"
#include "engine/testing/fault_env.h"
#include "engine/testing/other_process.h"
#include "engine/testing/readers.h"
#include "engine/testing/temp_dir.h"
#include "schema/schema.h"
#include "schema/tests/expected_catalogue.h"

#ifdef _WIN32
#include <windows.h>
#endif

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

std::string fileBytes(const std::string& path) {
  std::ifstream in(engine::toFsPath(path), std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Names of the files in a folder (a lock file or journal left behind shows
// up here).
std::set<std::string> listing(const std::string& dir) {
  std::set<std::string> names;
  for (const fs::directory_entry& e : fs::directory_iterator(engine::toFsPath(dir)))
    names.insert(engine::fromFsPath(e.path().filename()));
  return names;
}

Strings allLines() {
  Strings lines;
  for (const Step& s : kExpectedSteps) lines.push_back(lineOf(s));
  return lines;
}

// A column as the readers' schema form holds it (required is false for
// every column of these files and of the catalogue).
struct Column {
  std::string name;
  std::string type;
  int size;
  bool autoIncrement = false;
  bool allowZeroLength = false;
};
struct Table {
  std::string name;
  int rowCount;
  std::vector<Column> columns;
};

// The tables of the sales files as they were made (fixtures/README.txt).
const std::vector<Column> kOldFisno{{"no", "long", 4, true},         {"fisno", "long", 4},
                                    {"tarih", "datetime", 8},        {"toplam", "currency", 8},
                                    {"musteriadi", "text", 50}};
const std::vector<Column> kOldSatislar{
    {"no", "long", 4, true},         {"tarih", "datetime", 8},        {"urun", "text", 100, false, true},
    {"fiyat", "currency", 8},        {"adet", "text", 20, false, true}, {"toplam", "currency", 8},
    {"fisno", "long", 4},            {"aciklama", "memo", 0, false, true}};
const std::vector<Column> kUrunler{
    {"kod", "text", 20, false, true}, {"ad", "text", 100, false, true}, {"stok", "long", 4}};

// The columns the catalogue gives a table, in catalogue order: the
// auto-increment "no" of the table step, then its fields. The limit of a
// text field is sinir at that moment: the model's "50" until an entry sets
// another, which then holds for every later entry of either table.
std::vector<Column> catalogueColumns(const std::string& table) {
  std::vector<Column> out;
  std::string limit = "50";
  for (const Step& s : kExpectedSteps) {
    if (!s.limitToSet.empty()) limit = s.limitToSet;
    if (s.table != table) continue;
    switch (s.typeIndex) {
      case -1: out.push_back({"no", "long", 4, true}); break;
      case 0: out.push_back({s.field, "text", std::stoi(limit), false, true}); break;
      case 1: out.push_back({s.field, "memo", 0, false, true}); break;
      case 2: out.push_back({s.field, "long", 4}); break;
      case 3: out.push_back({s.field, "currency", 8}); break;
      case 4: out.push_back({s.field, "datetime", 8}); break;
      default: ADD_FAILURE() << "no reader type for entry " << s.field;
    }
  }
  return out;
}

// The old columns followed by the catalogue's fields the table lacked.
std::vector<Column> extendedBy(std::vector<Column> old, const std::string& table) {
  for (const Column& c : catalogueColumns(table)) {
    if (std::none_of(old.begin(), old.end(), [&](const Column& o) { return o.name == c.name; }))
      old.push_back(c);
  }
  return old;
}

std::string schemaJson(const std::vector<Table>& tables) {
  std::string json = "{\"tables\":[";
  for (std::size_t t = 0; t < tables.size(); ++t) {
    json += std::string(t ? "," : "") + "{\"name\":\"" + tables[t].name +
            "\",\"rowCount\":" + std::to_string(tables[t].rowCount) + ",\"columns\":[";
    for (std::size_t i = 0; i < tables[t].columns.size(); ++i) {
      const Column& c = tables[t].columns[i];
      json += std::string(i ? "," : "") + "{\"name\":\"" + c.name + "\",\"type\":\"" + c.type +
              "\",\"size\":" + std::to_string(c.size) +
              ",\"autoIncrement\":" + (c.autoIncrement ? "true" : "false") +
              ",\"required\":false,\"allowZeroLength\":" + (c.allowZeroLength ? "true" : "false") + "}";
    }
    json += "]}";
  }
  return json + "]}";
}

// The real engine, counting the opens asked of it.
class CountingEngine : public engine::Engine {
 public:
  explicit CountingEngine(engine::Engine& real) : real_(real) {}
  std::unique_ptr<engine::Database> openDatabase(const std::string& path, bool exclusive, bool readOnly,
                                                 const std::string& connect) override {
    ++opens;
    return real_.openDatabase(path, exclusive, readOnly, connect);
  }
  int opens = 0;

 private:
  engine::Engine& real_;
};

using engine::testing::readersAvailable;
using engine::testing::whyNoReaders;

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    root = engine::testing::newTemporaryDirectory("karvelta-schema-e2e");
    programDir = engine::joinPath(root, "program");
    scratch = engine::joinPath(root, "scratch");
    fs::create_directory(programDir);
    fs::create_directory(scratch);
    ctx.programDir = programDir;
    model.backupFlag = 1;
  }
  void TearDown() override { fs::remove_all(root); }

  void writeSettings(const std::string& location) {
    std::ofstream(engine::toFsPath(engine::joinPath(programDir, "PLX.dll"))) << "[ayar]\nip=" << location << "\n";
  }
  // Copies the fixture to path (UTF-8).
  static void copyFixture(const std::string& name, const std::string& path) {
    fs::copy_file(fs::path(KARVELTA_FIXTURES_DIR) / name, engine::toFsPath(path));
    fs::permissions(engine::toFsPath(path), fs::perms::owner_read | fs::perms::owner_write);
  }
  // Copies the fixture beside the program and names it in the settings.
  std::string useFixture(const std::string& name) {
    const std::string copy = engine::joinPath(programDir, name);
    copyFixture(name, copy);
    writeSettings(copy);
    return copy;
  }
  // A copy of the fixture as it was, for the readers to compare rows with.
  std::string originalCopy(const std::string& name) {
    const std::string copy = engine::joinPath(scratch, "original-" + name);
    copyFixture(name, copy);
    return copy;
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

  // What every run past the gate leaves in the panel's fields: the last
  // catalogue entry's.
  void expectLastEntryInFields() {
    EXPECT_EQ(model.tabloismi, "satislar");
    EXPECT_EQ(model.alanismi, "tarih2");
    EXPECT_EQ(model.verituruIndex, 4);
    EXPECT_EQ(model.sinir, "100");
  }

  // The engine's integrity check finds nothing wrong (these files keep every
  // count exact, so nothing drifts either).
  void expectSound(const std::string& db) {
    const engine::IntegrityReport report = engine::checkDatabaseFile(engine::Env::system(), db, "zorpelnik");
    std::string lines;
    for (const engine::IntegrityProblem& p : report.problems) lines += engine::formatProblem(p) + "\n";
    EXPECT_TRUE(report.sound()) << lines;
    EXPECT_TRUE(report.drifts.empty());
  }

  // Both readers read the whole file cleanly and agree; its schema is the
  // expected one, and the rows of every table of the original (under its
  // name after the renames) are as they were there.
  void expectReadersRead(const std::string& db, const std::vector<Table>& expected,
                         const std::string& original, const std::string& renamed = {}) {
    const std::string expectFile = (fs::path(scratch) / "expect.json").string();
    const std::string outFile = (fs::path(scratch) / "verify.txt").string();
    std::ofstream(expectFile) << schemaJson(expected);
    std::string cmd = std::string("node '") + KARVELTA_SOURCE_DIR + "/tools/readers/verify-written.mjs' '" +
                      db + "' --password zorpelnik --expect '" + expectFile + "' --rows-like '" + original + "'";
    if (!renamed.empty()) cmd += " --renamed " + renamed;
    cmd += " > '" + outFile + "' 2>&1";
    const int rc = std::system(cmd.c_str());
    EXPECT_EQ(rc, 0) << fileBytes(outFile);
  }

  std::string root, programDir, scratch;
  std::unique_ptr<engine::Engine> engine = engine::makeJetEngine(engine::Env::system());
  CountingEngine counting{*engine};
  Closed messages;
  window::Model model;
  Context ctx{model, messages, counting, ""};
};

TEST_F(EndToEnd, SalesSmallSetAsideAndBuiltThenEverythingExists) {
  const std::string db = useFixture("sales-small.mdb");
  const std::string original = originalCopy("sales-small.mdb");
  const std::set<std::string> files = listing(programDir);

  basla(ctx);
  EXPECT_EQ(model.sonuc1, allLines());
  EXPECT_EQ(model.sonuc, Strings{});
  EXPECT_EQ(model.say, (Counters{"2", "30", "0", "0", "0", "0"}));
  EXPECT_EQ(messages.shown, Strings{" Güncelleme Bitti   "});
  expectLastEntryInFields();
  EXPECT_EQ(listing(programDir), files);  // no lock file or journal left
  EXPECT_EQ(tableNames(db), Strings({"fisnoeski", "satislareski", "urunler", "fisno", "satislar"}));
  EXPECT_EQ(fieldNames(db, "fisno"),
            Strings({"no", "fisno", "tarih", "saat", "odemesi", "musteriadi", "toplam", "musterikodu"}));

  // Again at once: every step is refused, and a refused step writes nothing.
  const std::string afterFirst = fileBytes(db);
  basla(ctx);
  EXPECT_EQ(model.sonuc, allLines());
  EXPECT_EQ(model.sonuc1, Strings{});
  EXPECT_EQ(model.say, (Counters{"0", "0", "2", "30", "0", "0"}));
  EXPECT_EQ(messages.shown, Strings(2, " Güncelleme Bitti   "));
  expectLastEntryInFields();
  EXPECT_TRUE(fileBytes(db) == afterFirst) << "the refused run changed the file";
  EXPECT_EQ(listing(programDir), files);
  expectSound(db);

  if (!readersAvailable()) GTEST_SKIP() << whyNoReaders();
  expectReadersRead(db,
                    {{"fisnoeski", 5, kOldFisno},
                     {"satislareski", 40, kOldSatislar},
                     {"urunler", 30, kUrunler},
                     {"fisno", 0, catalogueColumns("fisno")},
                     {"satislar", 0, catalogueColumns("satislar")}},
                    original, "fisno=fisnoeski,satislar=satislareski");
}

// After an earlier update both old copies exist: nothing is renamed or
// created, and the present tables get the catalogue fields they lack.
TEST_F(EndToEnd, SalesUpdatedKeepsItsTablesAndGainsTheMissingFields) {
  const std::string db = useFixture("sales-updated.mdb");
  const std::string original = originalCopy("sales-updated.mdb");

  basla(ctx);
  const Strings refused{
      "TABLO ADI :fisno",
      "TABLO ADI :fisno SUTUN ADI :fisno SAYI",
      "TABLO ADI :fisno SUTUN ADI :tarih TARİH",
      "TABLO ADI :fisno SUTUN ADI :musteriadi METİN",
      "TABLO ADI :fisno SUTUN ADI :toplam PARA BİRİMİ",
      "TABLO ADI :satislar",
      "TABLO ADI :satislar SUTUN ADI :tarih TARİH",
      "TABLO ADI :satislar SUTUN ADI :fiyat PARA BİRİMİ",
      "TABLO ADI :satislar SUTUN ADI :adet METİN",
      "TABLO ADI :satislar SUTUN ADI :toplam PARA BİRİMİ",
      "TABLO ADI :satislar SUTUN ADI :fisno METİN",
  };
  Strings added;
  for (const std::string& line : allLines())
    if (std::find(refused.begin(), refused.end(), line) == refused.end()) added.push_back(line);
  ASSERT_EQ(added.size(), 21u);
  EXPECT_EQ(model.sonuc, refused);
  EXPECT_EQ(model.sonuc1, added);
  EXPECT_EQ(model.say, (Counters{"0", "21", "2", "9", "0", "0"}));
  EXPECT_EQ(messages.shown, Strings{" Güncelleme Bitti   "});
  expectLastEntryInFields();
  EXPECT_EQ(tableNames(db), Strings({"fisno", "satislar", "urunler", "fisnoeski", "satislareski"}));
  EXPECT_EQ(fieldNames(db, "fisno"),
            Strings({"no", "fisno", "tarih", "toplam", "musteriadi", "saat", "odemesi", "musterikodu"}));
  EXPECT_EQ(fieldNames(db, "satislar").size(), 8u + 18u);
  EXPECT_EQ(fieldNames(db, "fisnoeski").size(), kOldFisno.size());

  // Once more: all of it exists now, and nothing is written.
  const std::string afterFirst = fileBytes(db);
  basla(ctx);
  EXPECT_EQ(model.sonuc, allLines());
  EXPECT_EQ(model.say, (Counters{"0", "0", "2", "30", "0", "0"}));
  EXPECT_TRUE(fileBytes(db) == afterFirst) << "the refused run changed the file";
  expectSound(db);

  if (!readersAvailable()) GTEST_SKIP() << whyNoReaders();
  expectReadersRead(db,
                    {{"fisno", 5, extendedBy(kOldFisno, "fisno")},
                     {"satislar", 40, extendedBy(kOldSatislar, "satislar")},
                     {"urunler", 30, kUrunler},
                     {"fisnoeski", 5, kOldFisno},
                     {"satislareski", 40, kOldSatislar}},
                    original);
}

// A database in use for years: 302 tables, the catalogue's name index a
// node page over several leaves. The run sets both tables aside, builds them
// anew with every field, and the old rows stay under the new names.
TEST_F(EndToEnd, SalesManyTablesSetAsideAndBuilt) {
  const std::string db = useFixture("sales-manytables.mdb");
  const std::string original = originalCopy("sales-manytables.mdb");
  // The tables as they were, in the readers' schema form.
  std::vector<Table> before;
  {
    auto open = engine->openDatabase(original, false, true, ";pwd=zorpelnik");
    for (const std::string& name : open->tableNames()) {
      Table t{name, name == "fisno" ? 12 : name == "satislar" ? 90 : 0, {}};
      for (const engine::FieldInfo& f : open->tableDef(name)->fields())
        t.columns.push_back({f.name, f.typeName, f.size, f.autoIncrement, f.allowZeroLength});
      before.push_back(std::move(t));
    }
  }
  ASSERT_EQ(before.size(), 302u);

  basla(ctx);
  EXPECT_EQ(model.sonuc1, allLines());
  EXPECT_EQ(model.sonuc, Strings{});
  EXPECT_EQ(model.say, (Counters{"2", "30", "0", "0", "0", "0"}));
  EXPECT_EQ(messages.shown, Strings{" Güncelleme Bitti   "});
  std::vector<Table> after = before;
  for (Table& t : after) {
    if (t.name == "fisno" || t.name == "satislar") t.name += "eski";
  }
  after.push_back({"fisno", 0, catalogueColumns("fisno")});
  after.push_back({"satislar", 0, catalogueColumns("satislar")});
  Strings names;
  for (const Table& t : after) names.push_back(t.name);
  EXPECT_EQ(tableNames(db), names);
  expectSound(db);

  if (!readersAvailable()) GTEST_SKIP() << "node, tools/readers/node_modules or mdbtools missing";
  expectReadersRead(db, after, original, "fisno=fisnoeski,satislar=satislareski");
}

TEST_F(EndToEnd, SalesWithoutFisnoRenamesOnlySatislar) {
  const std::string db = useFixture("sales-nofisno.mdb");
  const std::string original = originalCopy("sales-nofisno.mdb");

  basla(ctx);
  EXPECT_EQ(model.sonuc1, allLines());
  EXPECT_EQ(model.sonuc, Strings{});
  EXPECT_EQ(model.say, (Counters{"2", "30", "0", "0", "0", "0"}));
  EXPECT_EQ(messages.shown, Strings{" Güncelleme Bitti   "});
  expectLastEntryInFields();
  const Strings tables = tableNames(db);
  EXPECT_EQ(std::count(tables.begin(), tables.end(), "fisnoeski"), 0);
  EXPECT_EQ(std::set<std::string>(tables.begin(), tables.end()),
            (std::set<std::string>{"satislareski", "urunler", "fisno", "satislar"}));
  expectSound(db);

  if (!readersAvailable()) GTEST_SKIP() << whyNoReaders();
  expectReadersRead(db,
                    {{"satislareski", 40, kOldSatislar},
                     {"urunler", 30, kUrunler},
                     {"fisno", 0, catalogueColumns("fisno")},
                     {"satislar", 0, catalogueColumns("satislar")}},
                    original, "satislar=satislareski");
}

// Every way the run's database cannot be reached ends the same: no rename,
// every entry refused, the final message, and no file touched or made.
class Unreachable : public EndToEnd {
 protected:
  void expectEverythingRefused() {
    EXPECT_EQ(model.sonuc, allLines());
    EXPECT_EQ(model.sonuc1, Strings{});
    EXPECT_EQ(model.say, (Counters{"0", "0", "2", "30", "0", "0"}));
    EXPECT_EQ(messages.shown, Strings{" Güncelleme Bitti   "});
    expectLastEntryInFields();
  }
};

TEST_F(Unreachable, PasswordRefused) {
  const std::string db = useFixture("sales-otherpass.mdb");
  const std::set<std::string> files = listing(programDir);
  basla(ctx);
  expectEverythingRefused();
  EXPECT_TRUE(fileBytes(db) == fileBytes(std::string(KARVELTA_FIXTURES_DIR) + "/sales-otherpass.mdb"));
  EXPECT_EQ(listing(programDir), files);
}

TEST_F(Unreachable, NoSettingsFile) {
  const std::string db = useFixture("sales-small.mdb");
  fs::remove(fs::path(programDir) / "PLX.dll");
  const std::set<std::string> files = listing(programDir);
  basla(ctx);
  expectEverythingRefused();
  EXPECT_TRUE(fileBytes(db) == fileBytes(std::string(KARVELTA_FIXTURES_DIR) + "/sales-small.mdb"));
  EXPECT_EQ(listing(programDir), files);
}

// The sales program has the database open (through the real engine, in
// shared mode): the update run refuses every entry, the backup shows its
// failure message, and the file stays as it was.
TEST_F(Unreachable, HeldOpenByTheSalesProgram) {
  const std::string db = useFixture("sales-small.mdb");
  const std::set<std::string> files = listing(programDir);
  {
    engine::testing::OtherProcess salesProgram(engine::testing::OtherProcess::jetClient(db));
    basla(ctx);
    expectEverythingRefused();
    messages.shown.clear();
    model.backupFlag = 0;
    backup::yedekle(model, messages, engine::Env::system(), programDir);
    EXPECT_EQ(messages.shown, Strings{"TÜM PROGRAMLARI KAPATIP. TEKRAR DENEYİN.GÖREV YÖNETİCİSİNDE SATIŞ PROGRAMI KAPALI OLMALIDIR"});
    EXPECT_EQ(model.backupFlag, 0);
    std::set<std::string> withLockFile = files;
    withLockFile.insert("sales-small.ldb");
    EXPECT_EQ(listing(programDir), withLockFile) << "no backup, no journal, their lock file kept";
  }
  EXPECT_TRUE(fileBytes(db) == fileBytes(std::string(KARVELTA_FIXTURES_DIR) + "/sales-small.mdb"));
  EXPECT_EQ(listing(programDir), files);
}

// A database marked read-only, or on read-only media (a CD, a
// write-protected stick, a share this user may only read): YEDEK AL copies
// it, the update run reports every entry as existing as for any database it
// cannot change, and nothing is left beside it, no journal, no lock file.
TEST_F(Unreachable, ADatabaseMarkedReadOnlyOrOnReadOnlyMedia) {
  const std::string data = engine::joinPath(root, "data");
  fs::create_directory(engine::toFsPath(data));
  const std::string db = engine::joinPath(data, "satis.mdb");
  copyFixture("sales-small.mdb", db);
  writeSettings(db);
  const std::string before = fileBytes(db);
  auto backupThenUpdate = [&](engine::Env& env, int second) {
    engine::testing::ForwardingEnv clock(env);
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mday = 9;
    t.tm_sec = second;
    clock.setClock(t);
    model = window::Model{};
    messages.shown.clear();
    backup::yedekle(model, messages, clock, programDir);
    ASSERT_EQ(model.backupFlag, 1) << messages.shown.back();
    messages.shown.clear();
    const std::unique_ptr<engine::Engine> jet = engine::makeJetEngine(env);
    CountingEngine engineOverEnv{*jet};
    Context run{model, messages, engineOverEnv, programDir};
    basla(run);
    expectEverythingRefused();
    EXPECT_EQ(listing(data), std::set<std::string>{"satis.mdb"});
    EXPECT_TRUE(fileBytes(db) == before);
  };
  {
    SCOPED_TRACE("file");
    engine::testing::FaultEnv fault(engine::Env::system());
    fault.denyWriteAccess(db);
    backupThenUpdate(fault, 1);
  }
  {
    SCOPED_TRACE("media");
    engine::testing::FaultEnv fault(engine::Env::system());
    fault.denyWritesUnder(data);
    backupThenUpdate(fault, 2);
  }
#ifdef _WIN32
  {
    SCOPED_TRACE("the read-only attribute");
    ASSERT_TRUE(::SetFileAttributesW(engine::widen(db).c_str(), FILE_ATTRIBUTE_READONLY));
    backupThenUpdate(engine::Env::system(), 3);
    ::SetFileAttributesW(engine::widen(db).c_str(), FILE_ATTRIBUTE_NORMAL);
  }
#endif
}

TEST_F(Unreachable, SettingsNameAMissingDatabase) {
  const std::string missing = (fs::path(scratch) / "satis.mdb").string();
  writeSettings(missing);
  const std::set<std::string> files = listing(programDir);
  basla(ctx);
  expectEverythingRefused();
  EXPECT_FALSE(fs::exists(missing));
  EXPECT_EQ(listing(scratch), std::set<std::string>{});  // no lock file made for it either
  EXPECT_EQ(listing(programDir), files);
}

// The technician's layout with Turkish letters: the program in
// "Satış Programı", the database at Satış/Veri/satış.mdb, named in the
// settings in code page 1254. YEDEK AL and the update run work as anywhere.
TEST_F(EndToEnd, TurkishFolderNamesFromBackupToUpdate) {
  programDir = engine::joinPath(root, "Sat\xC4\xB1\xC5\x9F Program\xC4\xB1");
  ctx.programDir = programDir;
  const std::string data = engine::joinPath(engine::joinPath(root, "Sat\xC4\xB1\xC5\x9F"), "Veri");
  fs::create_directories(engine::toFsPath(programDir));
  fs::create_directories(engine::toFsPath(data));
  const std::string db = engine::joinPath(data, "sat\xC4\xB1\xC5\x9F.mdb");
  copyFixture("sales-small.mdb", db);
  const std::string in1254 = engine::joinPath(engine::joinPath(engine::joinPath(root, "Sat\xFD\xFE"), "Veri"),
                                              "sat\xFD\xFE.mdb");
  writeSettings(in1254);
  const std::string before = fileBytes(db);

  struct FixedClock : engine::EnvWrapper {
    using EnvWrapper::EnvWrapper;
    std::tm localTime() override {
      std::tm t{};
      t.tm_year = 2026 - 1900;
      t.tm_mon = 0;
      t.tm_mday = 9;
      t.tm_hour = 8;
      t.tm_min = 5;
      t.tm_sec = 3;
      return t;
    }
  } clock(engine::Env::system());
  model.backupFlag = 0;
  backup::yedekle(model, messages, clock, programDir);
  const std::string copy = engine::joinPath(programDir, "plx09012026080503.ocx");
  ASSERT_EQ(messages.shown, Strings{"VERİTABANI " + copy + " DİZİNE YEDEKLENDİ "});
  EXPECT_TRUE(fileBytes(copy) == before);

  basla(ctx);
  EXPECT_EQ(model.sonuc1, allLines());
  EXPECT_EQ(model.say, (Counters{"2", "30", "0", "0", "0", "0"}));
  EXPECT_EQ(tableNames(db), Strings({"fisnoeski", "satislareski", "urunler", "fisno", "satislar"}));
  EXPECT_EQ(listing(data), std::set<std::string>{"sat\xC4\xB1\xC5\x9F.mdb"});
  expectSound(db);
}

// Before a backup the run shows its message and nothing else: an earlier
// run's lists and counters, the panel's fields and the file all stay.
TEST_F(EndToEnd, BeforeABackupOnlyTheMessage) {
  const std::string db = useFixture("sales-small.mdb");
  basla(ctx);
  ASSERT_EQ(model.say, (Counters{"2", "30", "0", "0", "0", "0"}));
  model.tabloismi = "urunler";
  model.alanismi = "barkod";
  model.verituruIndex = 1;
  model.sinir = "20";
  const window::Model before = model;
  const std::string bytes = fileBytes(db);
  const std::set<std::string> files = listing(programDir);
  messages.shown.clear();
  counting.opens = 0;

  model.backupFlag = 0;
  basla(ctx);
  EXPECT_EQ(messages.shown, Strings{"ÖNCE VERİTABANINI YEDEK ALINIZ"});
  EXPECT_EQ(counting.opens, 0);
  EXPECT_EQ(model.sonuc1, before.sonuc1);
  EXPECT_EQ(model.sonuc, before.sonuc);
  EXPECT_EQ(model.say, before.say);
  EXPECT_EQ(model.tabloismi, "urunler");
  EXPECT_EQ(model.alanismi, "barkod");
  EXPECT_EQ(model.verituruIndex, 1);
  EXPECT_EQ(model.sinir, "20");
  EXPECT_TRUE(fileBytes(db) == bytes) << "the database changed";
  EXPECT_EQ(listing(programDir), files);
}

}  // namespace
}  // namespace schema::testing
