// Table creation and field addition, driven through the window model.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "schema/schema.h"
#include "schema/tests/schema_fixture.h"

namespace schema::testing {
namespace {

using Strings = std::vector<std::string>;
using Counters = std::array<std::string, 6>;

class Guards : public SchemaTest {};

TEST_F(Guards, BeforeABackupOnlyTheMessageIsShown) {
  model.backupFlag = 0;
  model.tabloismi = "fisno";
  model.alanismi = "tarih";
  model.verituruIndex = 4;
  model.sonuc = {"earlier"};
  model.say[0] = "3";

  tabloolustur(ctx);
  alanekle(ctx);

  EXPECT_EQ(messages.shown, Strings({"ÖNCE VERİTABANINI YEDEK ALINIZ", "ÖNCE VERİTABANINI YEDEK ALINIZ"}));
  EXPECT_TRUE(engine.calls.empty());
  EXPECT_EQ(model.sonuc, Strings{"earlier"});
  EXPECT_TRUE(model.sonuc1.empty());
  EXPECT_EQ(model.say, (Counters{"3", "0", "0", "0", "0", "0"}));
}

TEST_F(Guards, TheBackupFlagComesBeforeEmptyNames) {
  model.backupFlag = 0;
  tabloolustur(ctx);
  alanekle(ctx);
  EXPECT_EQ(messages.shown.size(), 2u);
  EXPECT_TRUE(engine.calls.empty());
}

TEST_F(Guards, EmptyNamesStopSilently) {
  model.alanismi = "tarih";
  model.verituruIndex = 4;
  tabloolustur(ctx);  // no table name
  alanekle(ctx);      // no table name
  model.tabloismi = "satislar";
  model.alanismi = "";
  alanekle(ctx);      // no field name

  EXPECT_TRUE(messages.shown.empty());
  EXPECT_TRUE(engine.calls.empty());
  EXPECT_TRUE(model.sonuc.empty());
  EXPECT_TRUE(model.sonuc1.empty());
  EXPECT_EQ(model.say, (Counters{"0", "0", "0", "0", "0", "0"}));
}

TEST_F(Guards, ABlankNameIsNotEmpty) {
  model.tabloismi = " ";
  tabloolustur(ctx);
  EXPECT_EQ(model.sonuc1, Strings{"TABLO ADI : "});
}

class TableCreation : public SchemaTest {};

TEST_F(TableCreation, CreatesTheTableWithItsAutoIncrementField) {
  model.tabloismi = "yeni";
  model.alanismi = "ignored";
  model.verituruIndex = 0;
  model.sinir = "7";
  tabloolustur(ctx);

  EXPECT_EQ(engine.calls, Strings({openCall(), "createTableDef yeni", "appendTableDef yeni"}));
  FakeTable* t = engine.find(dbPath, "yeni");
  ASSERT_NE(t, nullptr);
  ASSERT_EQ(t->fields.size(), 1u);
  EXPECT_EQ(t->fields[0].name, "no");
  EXPECT_EQ(t->fields[0].type, engine::FieldType::Long);
  EXPECT_EQ(t->fields[0].attributes, engine::kAutoIncrement);
  EXPECT_EQ(t->fields[0].size, "");
  EXPECT_EQ(model.sonuc1, Strings{"TABLO ADI :yeni"});
  EXPECT_TRUE(model.sonuc.empty());
  EXPECT_EQ(model.say, (Counters{"1", "0", "0", "0", "0", "0"}));
  EXPECT_EQ(engine.openNow, 0);
}

TEST_F(TableCreation, ATakenNameIsReportedAsExisting) {
  model.tabloismi = "yeni";
  tabloolustur(ctx);
  tabloolustur(ctx);
  EXPECT_EQ(model.sonuc1, Strings{"TABLO ADI :yeni"});
  EXPECT_EQ(model.sonuc, Strings{"TABLO ADI :yeni"});
  EXPECT_EQ(model.say, (Counters{"1", "0", "1", "0", "0", "0"}));
  EXPECT_EQ(db().tables.size(), 1u);
}

TEST_F(TableCreation, EveryFailureAfterTheGuardsLandsInSonuc) {
  model.tabloismi = "yeni";
  engine.failOpens = true;
  tabloolustur(ctx);
  engine.failOpens = false;
  engine.throwForeign = true;  // not an engine::Error: still caught
  tabloolustur(ctx);
  engine.throwForeign = false;
  db().password = "baska";
  tabloolustur(ctx);
  removeSettings();
  tabloolustur(ctx);

  EXPECT_EQ(model.sonuc, Strings(4, "TABLO ADI :yeni"));
  EXPECT_EQ(model.say, (Counters{"0", "0", "4", "0", "0", "0"}));
  EXPECT_TRUE(db().tables.empty());
  EXPECT_EQ(engine.calls.back(), "open  shared read-write ;pwd=zorpelnik");  // empty location
}

class FieldAddition : public SchemaTest {
 protected:
  void SetUp() override {
    SchemaTest::SetUp();
    addTable("satislar");
    model.tabloismi = "satislar";
    model.alanismi = "tarih";
  }
  const engine::NewField& added() { return engine.find(dbPath, "satislar")->fields.back(); }
};

TEST_F(FieldAddition, ResultLinesForEachTypeAndTheStoredFields) {
  struct Case {
    std::int16_t index;
    std::string line;
    engine::FieldType type;
    std::string size;
    std::optional<bool> allowZeroLength;
  };
  const std::vector<Case> cases = {
      {0, "TABLO ADI :satislar SUTUN ADI :f0 METİN", engine::FieldType::Text, "50", true},
      {1, "TABLO ADI :satislar SUTUN ADI :f1 NOT", engine::FieldType::Memo, "50", true},
      {2, "TABLO ADI :satislar SUTUN ADI :f2 SAYI", engine::FieldType::Long, "", std::nullopt},
      {3, "TABLO ADI :satislar SUTUN ADI :f3 PARA BİRİMİ", engine::FieldType::Currency, "", std::nullopt},
      {4, "TABLO ADI :satislar SUTUN ADI :f4 TARİH", engine::FieldType::DateTime, "", std::nullopt},
      {5, "TABLO ADI :satislar SUTUN ADI :f5 EVET/HAYIR", engine::FieldType::Boolean, "", std::nullopt},
  };
  Strings lines;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    model.alanismi = "f" + std::to_string(c.index);
    model.verituruIndex = c.index;
    alanekle(ctx);
    lines.push_back(c.line);
    EXPECT_EQ(model.sonuc1, lines);
    const engine::NewField& f = added();
    EXPECT_EQ(f.name, model.alanismi);
    EXPECT_EQ(f.type, c.type);
    EXPECT_EQ(f.size, c.size);
    EXPECT_EQ(f.attributes, 0);
    EXPECT_FALSE(f.required);
    EXPECT_EQ(f.allowZeroLength, c.allowZeroLength);
  }
  EXPECT_TRUE(model.sonuc.empty());
  EXPECT_EQ(model.say, (Counters{"0", "6", "0", "0", "0", "0"}));
  EXPECT_EQ(engine.openNow, 0);
}

TEST_F(FieldAddition, NoSelectionCreatesNoFieldAndEndsTheLineInABlank) {
  model.verituruIndex = -1;
  alanekle(ctx);
  EXPECT_EQ(model.sonuc, Strings{"TABLO ADI :satislar SUTUN ADI :tarih "});
  EXPECT_EQ(model.say, (Counters{"0", "0", "0", "1", "0", "0"}));
  EXPECT_EQ(engine.countCalls("appendField"), 0u);
  EXPECT_EQ(engine.find(dbPath, "satislar")->fields.size(), 1u);
}

TEST_F(FieldAddition, CallsTheEngineInOrder) {
  model.verituruIndex = 4;
  alanekle(ctx);
  EXPECT_EQ(engine.calls, Strings({openCall(), "tableDef satislar", "appendField satislar tarih"}));
}

TEST_F(FieldAddition, RefusalsAreReportedAsExisting) {
  model.verituruIndex = 4;
  alanekle(ctx);
  alanekle(ctx);  // the name is taken now
  model.tabloismi = "yok";
  alanekle(ctx);  // no such table
  model.tabloismi = "satislar";
  model.alanismi = "aciklama";
  model.verituruIndex = 0;
  model.sinir = "300";
  alanekle(ctx);  // size refused

  EXPECT_EQ(model.sonuc1, Strings{"TABLO ADI :satislar SUTUN ADI :tarih TARİH"});
  EXPECT_EQ(model.sonuc, Strings({"TABLO ADI :satislar SUTUN ADI :tarih TARİH",
                                  "TABLO ADI :yok SUTUN ADI :tarih TARİH",
                                  "TABLO ADI :satislar SUTUN ADI :aciklama METİN"}));
  EXPECT_EQ(model.say, (Counters{"0", "1", "0", "3", "0", "0"}));
  EXPECT_EQ(engine.find(dbPath, "yok"), nullptr);
}

TEST_F(FieldAddition, OpenFailuresAreReportedAsExisting) {
  model.verituruIndex = 2;
  engine.failOpens = true;
  alanekle(ctx);
  engine.failOpens = false;
  engine.throwForeign = true;
  alanekle(ctx);
  engine.throwForeign = false;
  removeSettings();
  alanekle(ctx);
  EXPECT_EQ(model.sonuc, Strings(3, "TABLO ADI :satislar SUTUN ADI :tarih SAYI"));
  EXPECT_EQ(model.say, (Counters{"0", "0", "0", "3", "0", "0"}));
}

TEST_F(FieldAddition, ReadsTheSettingsAfreshOnEveryCall) {
  const std::string other = (std::filesystem::path(programDir) / "diger.mdb").string();
  engine.files[other].tables.push_back(FakeTable{"satislar", {}});
  model.verituruIndex = 4;
  alanekle(ctx);
  writeSettings(other);
  model.alanismi = "saat";
  alanekle(ctx);
  EXPECT_EQ(engine.find(dbPath, "satislar")->fields.back().name, "tarih");
  ASSERT_EQ(engine.find(other, "satislar")->fields.size(), 1u);
  EXPECT_EQ(engine.find(other, "satislar")->fields[0].name, "saat");
}

}  // namespace
}  // namespace schema::testing
