// The update run over a fake database.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "schema/schema.h"
#include "schema/tests/expected_catalogue.h"
#include "schema/tests/schema_fixture.h"

namespace schema::testing {
namespace {

using Strings = std::vector<std::string>;
using Counters = std::array<std::string, 6>;

Strings allLines() {
  Strings lines;
  for (const Step& s : kExpectedSteps) lines.push_back(lineOf(s));
  return lines;
}

Strings fieldNames(const FakeTable& t) {
  Strings names;
  for (const engine::NewField& f : t.fields) names.push_back(f.name);
  return names;
}

const engine::NewField& fieldOf(FakeTable* t, const std::string& name) {
  auto it = std::find_if(t->fields.begin(), t->fields.end(),
                         [&](const engine::NewField& f) { return f.name == name; });
  if (it == t->fields.end()) throw std::runtime_error("no field " + name);
  return *it;
}

class UpdateRun : public SchemaTest {
 protected:
  void SetUp() override {
    SchemaTest::SetUp();
    addTable("fisno", {"no", "fisno", "tarih", "toplam", "musteriadi"});
    addTable("satislar", {"no", "tarih", "urun", "fiyat", "adet", "toplam", "fisno", "aciklama"});
    addTable("urunler", {"kod", "ad", "stok"});
  }
};

TEST_F(UpdateRun, BeforeABackupOnlyTheMessage) {
  model.backupFlag = 0;
  model.sonuc = {"a"};
  model.sonuc1 = {"b"};
  model.say = {"1", "2", "3", "4", "5", "6"};
  basla(ctx);
  EXPECT_EQ(messages.shown, Strings{"ÖNCE VERİTABANINI YEDEK ALINIZ"});
  EXPECT_TRUE(engine.calls.empty());
  EXPECT_EQ(model.sonuc, Strings{"a"});
  EXPECT_EQ(model.sonuc1, Strings{"b"});
  EXPECT_EQ(model.say, (Counters{"1", "2", "3", "4", "5", "6"}));
  EXPECT_EQ(model.tabloismi, "");
}

TEST_F(UpdateRun, SetsTheOldTablesAsideAndBuildsTheCatalogue) {
  model.sonuc = {"left from before"};
  model.sonuc1 = {"left from before"};
  model.say = {"7", "7", "7", "7", "7", "7"};
  basla(ctx);

  EXPECT_EQ(model.sonuc1, allLines());
  EXPECT_EQ(model.sonuc1.front(), "TABLO ADI :fisno");
  EXPECT_TRUE(model.sonuc.empty());
  EXPECT_EQ(model.say, (Counters{"2", "30", "0", "0", "0", "0"}));
  EXPECT_EQ(messages.shown, Strings{" Güncelleme Bitti   "});

  // The panel's fields as the last entry left them.
  EXPECT_EQ(model.tabloismi, "satislar");
  EXPECT_EQ(model.alanismi, "tarih2");
  EXPECT_EQ(model.verituruIndex, 4);
  EXPECT_EQ(model.sinir, "100");

  EXPECT_EQ(engine.tableNames(dbPath),
            Strings({"fisnoeski", "satislareski", "urunler", "fisno", "satislar"}));
  EXPECT_EQ(fieldNames(*engine.find(dbPath, "fisnoeski")),
            Strings({"no", "fisno", "tarih", "toplam", "musteriadi"}));
  EXPECT_EQ(fieldNames(*engine.find(dbPath, "satislareski")),
            Strings({"no", "tarih", "urun", "fiyat", "adet", "toplam", "fisno", "aciklama"}));
  EXPECT_EQ(fieldNames(*engine.find(dbPath, "fisno")),
            Strings({"no", "fisno", "tarih", "saat", "odemesi", "musteriadi", "toplam", "musterikodu"}));
  EXPECT_EQ(fieldNames(*engine.find(dbPath, "satislar")),
            Strings({"no", "tarih", "musterikod", "fiyat", "adet", "toplam", "kar", "urunstok",
                     "musteriadi", "urun2", "grub2", "odemesi", "satisiyapan", "saat", "barkod2",
                     "urunlernosu", "iskonto", "tutar", "verilen", "kalan", "teslim", "durum", "fisno",
                     "tarih2"}));

  FakeTable* fisno = engine.find(dbPath, "fisno");
  EXPECT_EQ(fieldOf(fisno, "no").attributes, engine::kAutoIncrement);
  EXPECT_EQ(fieldOf(fisno, "fisno").type, engine::FieldType::Long);
  EXPECT_EQ(fieldOf(fisno, "toplam").type, engine::FieldType::Currency);
  FakeTable* satislar = engine.find(dbPath, "satislar");
  EXPECT_EQ(fieldOf(satislar, "fisno").type, engine::FieldType::Text);
  EXPECT_EQ(fieldOf(satislar, "fisno").size, "100");
  EXPECT_EQ(fieldOf(satislar, "musteriadi").type, engine::FieldType::Memo);
  EXPECT_EQ(fieldOf(satislar, "tarih2").type, engine::FieldType::DateTime);
}

TEST_F(UpdateRun, RenamesBothTablesBeforeCreatingAnything) {
  model.tabloismi = "elsewhere";
  std::string tableAtFirstOpen;
  engine.onOpen = [&] {
    if (tableAtFirstOpen.empty()) tableAtFirstOpen = model.tabloismi;
  };
  basla(ctx);
  EXPECT_EQ(tableAtFirstOpen, "fisno");
  const Strings firstCalls(engine.calls.begin(), engine.calls.begin() + 5);
  EXPECT_EQ(firstCalls, Strings({openCall(), "tableDef fisno", "rename fisno fisnoeski", "tableDef satislar",
                                 "rename satislar satislareski"}));
  EXPECT_EQ(engine.countCalls("rename"), 2u);
}

TEST_F(UpdateRun, TheLimitIsSetOnceSoOdemesiOfFisnoTakesTheStartValue) {
  model.sinir = "30";
  basla(ctx);
  FakeTable* fisno = engine.find(dbPath, "fisno");
  EXPECT_EQ(fieldOf(fisno, "odemesi").size, "30");
  EXPECT_EQ(fieldOf(fisno, "musteriadi").size, "100");
  EXPECT_EQ(fieldOf(fisno, "musterikodu").size, "100");
  EXPECT_EQ(fieldOf(engine.find(dbPath, "satislar"), "odemesi").size, "100");
  EXPECT_EQ(model.sinir, "100");
}

TEST_F(UpdateRun, RepeatedAtOnceEverythingExists) {
  basla(ctx);
  const auto before = db().tables;
  basla(ctx);

  EXPECT_EQ(model.sonuc, allLines());
  EXPECT_TRUE(model.sonuc1.empty());
  EXPECT_EQ(model.say, (Counters{"0", "0", "2", "30", "0", "0"}));
  ASSERT_EQ(db().tables.size(), before.size());
  for (std::size_t i = 0; i < before.size(); ++i) {
    EXPECT_EQ(db().tables[i].name, before[i].name);
    EXPECT_EQ(fieldNames(db().tables[i]), fieldNames(before[i]));
  }
  EXPECT_EQ(messages.shown, Strings(2, " Güncelleme Bitti   "));
}

TEST_F(UpdateRun, WhenTheDatabaseCannotBeOpenedEveryEntryExists) {
  engine.failOpens = true;
  basla(ctx);
  EXPECT_EQ(model.sonuc, allLines());
  EXPECT_TRUE(model.sonuc1.empty());
  EXPECT_EQ(model.say, (Counters{"0", "0", "2", "30", "0", "0"}));
  EXPECT_EQ(engine.countCalls("open"), 33u);  // the run's own and one per entry
  EXPECT_EQ(engine.countCalls("rename"), 0u);
  EXPECT_EQ(messages.shown, Strings{" Güncelleme Bitti   "});
  EXPECT_EQ(engine.tableNames(dbPath), Strings({"fisno", "satislar", "urunler"}));
}

TEST_F(UpdateRun, WithoutASettingsFileEveryEntryExists) {
  removeSettings();
  basla(ctx);
  EXPECT_EQ(model.sonuc, allLines());
  EXPECT_EQ(model.say, (Counters{"0", "0", "2", "30", "0", "0"}));
  EXPECT_EQ(messages.shown, Strings{" Güncelleme Bitti   "});
}

TEST_F(UpdateRun, AFailedLookupRenamesNothing) {
  db().tables.erase(db().tables.begin());  // no fisno
  basla(ctx);
  EXPECT_EQ(engine.countCalls("rename"), 1u);
  EXPECT_EQ(engine.tableNames(dbPath), Strings({"satislareski", "urunler", "fisno", "satislar"}));
  EXPECT_EQ(model.say, (Counters{"2", "30", "0", "0", "0", "0"}));
}

TEST_F(UpdateRun, OldCopiesPresentKeepTheTablesAndTheirFields) {
  addTable("fisnoeski", {"no"});
  addTable("satislareski", {"no"});
  basla(ctx);
  // Both renames refused, both creations refused; only the catalogue's
  // fields the old tables lack are added.
  EXPECT_EQ(engine.countCalls("rename"), 2u);
  EXPECT_EQ(engine.tableNames(dbPath), Strings({"fisno", "satislar", "urunler", "fisnoeski", "satislareski"}));
  EXPECT_EQ(model.sonuc.front(), "TABLO ADI :fisno");
  EXPECT_EQ(model.say[0], "0");
  EXPECT_EQ(model.say[2], "2");
  // fisno already had fisno, tarih, musteriadi, toplam; satislar had tarih,
  // fiyat, adet, toplam, fisno.
  EXPECT_EQ(model.say[3], "9");
  EXPECT_EQ(model.say[1], "21");
  EXPECT_EQ(model.sonuc.size() + model.sonuc1.size(), 32u);
}

TEST_F(UpdateRun, HoldsItsConnectionOpenUntilTheFinalMessageClosed) {
  std::size_t linesWhileShown = 0;
  messages.onShow = [&] { linesWhileShown = model.sonuc1.size(); };
  basla(ctx);
  ASSERT_EQ(engine.openBefore.size(), 33u);
  EXPECT_EQ(engine.openBefore.front(), 0);  // the run's own
  for (std::size_t i = 1; i < engine.openBefore.size(); ++i)
    EXPECT_EQ(engine.openBefore[i], 1) << "routine open " << i;
  EXPECT_EQ(messages.openWhileShown, std::vector<int>{1});
  EXPECT_EQ(linesWhileShown, 32u);
  EXPECT_EQ(engine.openNow, 0);
}

TEST_F(UpdateRun, ReadsTheLocationOnceWhileTheRoutinesReadItAfresh) {
  // After the run's own open the settings name another file: the renames
  // still act on the first, every routine opens the second.
  const std::string other = (std::filesystem::path(programDir) / "diger.mdb").string();
  engine.files[other] = FakeFile{};
  bool moved = false;
  engine.onOpen = [&] {
    if (!moved) writeSettings(other);
    moved = true;
  };
  basla(ctx);
  EXPECT_EQ(engine.tableNames(dbPath), Strings({"fisnoeski", "satislareski", "urunler"}));
  EXPECT_EQ(engine.tableNames(other), Strings({"fisno", "satislar"}));
  EXPECT_EQ(model.say, (Counters{"2", "30", "0", "0", "0", "0"}));
}

}  // namespace
}  // namespace schema::testing
