#include <gtest/gtest.h>

#include "engine/catalog.h"
#include "engine/error.h"
#include "engine/table_definition.h"
#include "engine/tests/read_fixture.h"

namespace engine {
namespace {

using testing::TempDir;

struct Opened {
  TempDir dir;
  std::unique_ptr<PageChannel> channel;
  Catalog catalog;
  explicit Opened(const std::string& fixture) {
    channel = std::make_unique<PageChannel>(Env::system(), dir.copy(fixture), true);
    catalog = Catalog::read(*channel);
  }
  TableDefinition table(const std::string& name) {
    const CatalogEntry* e = catalog.findUserTable(name);
    if (e == nullptr) throw Error("no table " + name);
    return TableDefinition::read(*channel, e->tableDefinitionPage());
  }
};

std::vector<std::string> names(const TableDefinition& d) {
  std::vector<std::string> out;
  for (const auto& c : d.columns()) out.push_back(c.name);
  return out;
}

// The sections follow one another without gaps and end where the stored
// definition length says.
void expectContiguous(const TableDefinition& d) {
  const auto& L = d.layout();
  EXPECT_EQ(L.header.end(), L.realIndexCounts.offset);
  EXPECT_EQ(L.realIndexCounts.end(), L.columns.offset);
  EXPECT_EQ(L.columns.end(), L.columnNames.offset);
  EXPECT_EQ(L.columnNames.end(), L.realIndexes.offset);
  EXPECT_EQ(L.realIndexes.end(), L.logicalIndexes.offset);
  EXPECT_EQ(L.logicalIndexes.end(), L.logicalIndexNames.offset);
  EXPECT_EQ(L.logicalIndexNames.end(), L.columnUsageMaps.offset);
  EXPECT_EQ(L.columnUsageMaps.end(), L.terminator.offset);
  EXPECT_EQ(L.terminator.length, 2u);
  EXPECT_EQ(L.terminator.end(), d.definitionLength());
}

TEST(TableDefinitionTest, ManyColumnTypes) {
  Opened db("testV2000.mdb");
  TableDefinition t = db.table("Table1");
  EXPECT_EQ(t.rowCount(), 2u);
  EXPECT_EQ(names(t), (std::vector<std::string>{"A", "B", "C", "D", "E", "F", "G", "H", "I"}));
  std::vector<std::uint8_t> types;
  for (const auto& c : t.columns()) types.push_back(c.type);
  EXPECT_EQ(types, (std::vector<std::uint8_t>{kTypeText, kTypeText, kTypeByte, kTypeInteger,
                                              kTypeLong, kTypeDouble, kTypeDateTime,
                                              kTypeCurrency, kTypeBoolean}));
  EXPECT_EQ(t.columns()[0].length, 100);  // 50 characters
  EXPECT_TRUE(t.columns()[0].variableLength());
  EXPECT_EQ(t.columns()[3].fixedOffset, 1);
  EXPECT_EQ(t.realIndexes().size(), 2u);
  ASSERT_EQ(t.logicalIndexes().size(), 2u);
  expectContiguous(t);
}

TEST(TableDefinitionTest, DefinitionOverTwoPagesWithIndexes) {
  Opened db("testV2000.mdb");
  TableDefinition t = db.table("Table2");
  EXPECT_EQ(t.pages().size(), 2u);
  EXPECT_GT(t.raw().size(), kPageSize);
  ASSERT_EQ(t.columns().size(), 89u);
  for (std::size_t i = 0; i < 89; ++i) {
    EXPECT_EQ(t.columns()[i].name, "column" + std::to_string(i + 1));
    EXPECT_EQ(t.columns()[i].varIndex, i);
  }
  std::vector<std::string> idx;
  for (const auto& x : t.logicalIndexes()) idx.push_back(x.name);
  EXPECT_EQ(idx, (std::vector<std::string>{"column10", "column14", "column75", "id",
                                           "PrimaryKey"}));
  EXPECT_TRUE(t.logicalIndexes()[4].primaryKey());
  expectContiguous(t);
}

TEST(TableDefinitionTest, DeletedColumnsLeaveGaps) {
  Opened db("delColTestV2000.mdb");
  TableDefinition t = db.table("Table1");
  std::vector<int> numbers;
  for (const auto& c : t.columns()) numbers.push_back(c.number);
  EXPECT_EQ(numbers, (std::vector<int>{0, 2, 3, 5}));
  EXPECT_EQ(names(t), (std::vector<std::string>{"id", "id2", "data", "data2"}));
  EXPECT_EQ(t.maxColumns(), 6);
  EXPECT_EQ(t.findColumn("data2")->varIndex, 2);
  expectContiguous(t);
}

TEST(TableDefinitionTest, SalesTables) {
  Opened db("sales-small.mdb");
  TableDefinition fisno = db.table("fisno");
  EXPECT_EQ(fisno.rowCount(), 5u);
  EXPECT_EQ(fisno.nextAutoNumber(), 6u);
  EXPECT_EQ(names(fisno),
            (std::vector<std::string>{"no", "fisno", "tarih", "toplam", "musteriadi"}));
  EXPECT_TRUE(fisno.columns()[0].autoIncrement());
  EXPECT_FALSE(fisno.columns()[1].autoIncrement());
  EXPECT_TRUE(fisno.columns()[4].compressedUnicode());
  EXPECT_EQ(fisno.columns()[4].length, 100);
  EXPECT_TRUE(fisno.logicalIndexes().empty());
  expectContiguous(fisno);

  TableDefinition satislar = db.table("satislar");
  EXPECT_EQ(satislar.rowCount(), 40u);
  EXPECT_EQ(satislar.nextAutoNumber(), 41u);
  // The memo column has its own usage maps.
  ASSERT_EQ(satislar.columnUsageMaps().size(), 1u);
  EXPECT_EQ(satislar.columnUsageMaps()[0].columnNumber, satislar.findColumn("aciklama")->number);
  expectContiguous(satislar);

  TableDefinition urunler = db.table("urunler");
  ASSERT_EQ(urunler.logicalIndexes().size(), 1u);
  EXPECT_EQ(urunler.logicalIndexes()[0].name, "PrimaryKey");
  ASSERT_EQ(urunler.realIndexes()[0].columns.size(), 1u);
  EXPECT_EQ(urunler.realIndexes()[0].columns[0].columnNumber, urunler.findColumn("KOD")->number);
  expectContiguous(urunler);

  // Each column block is kept as stored.
  const Column& c = satislar.columns()[2];
  auto at = satislar.layout().columns.offset + c.definitionIndex * kColumnBlockSize;
  EXPECT_TRUE(std::equal(c.rawDefinition.begin(), c.rawDefinition.end(),
                         satislar.raw().begin() + static_cast<std::ptrdiff_t>(at)));
}

TEST(TableDefinitionTest, LargeTableCounts) {
  Opened db("sales-large.mdb");
  EXPECT_EQ(db.table("satislar").rowCount(), 200000u);
  EXPECT_EQ(db.table("fisno").rowCount(), 20000u);
  EXPECT_EQ(db.table("fisno").nextAutoNumber(), 20001u);
}

TEST(TableDefinitionTest, RefusesDamagedDefinitions) {
  Opened db("sales-small.mdb");
  const std::vector<std::uint8_t> raw = db.table("urunler").raw();
  auto parse = [](std::vector<std::uint8_t> bytes) {
    return TableDefinition::parse(std::move(bytes), {99});
  };
  EXPECT_NO_THROW(parse(raw));
  EXPECT_THROW(parse({raw.begin(), raw.begin() + 40}), Error);
  EXPECT_THROW(parse({raw.begin(), raw.begin() + 120}), Error);  // inside the columns

  auto bad = raw;
  bad[TableDefinition::kColumnCountOffset] = 0xFF;
  bad[TableDefinition::kColumnCountOffset + 1] = 0xFF;
  EXPECT_THROW(parse(bad), Error);

  bad = raw;
  bad[TableDefinition::kRealIndexCountOffset + 3] = 0x10;  // 2^28 indexes
  EXPECT_THROW(parse(bad), Error);

  bad = raw;  // a name length running past the end
  bad[db.table("urunler").layout().columnNames.offset + 1] = 0x7F;
  EXPECT_THROW(parse(bad), Error);

  bad = raw;  // the index refers to a column that does not exist
  bad[db.table("urunler").layout().realIndexes.offset + 4] = 0x33;
  EXPECT_THROW(parse(bad), Error);

  // A continuation pointer back to the first page is a loop.
  TempDir dir;
  std::string path = dir.copy("sales-small.mdb");
  auto bytes = testing::fileBytes(path);
  std::uint32_t page = db.catalog.findUserTable("fisno")->tableDefinitionPage();
  std::size_t at = std::size_t{page} * kPageSize + TableDefinition::kNextPageOffset;
  bytes[at] = static_cast<std::uint8_t>(page);
  bytes[at + 1] = static_cast<std::uint8_t>(page >> 8);
  testing::writeBytes(path, bytes);
  PageChannel ch(Env::system(), path, true);
  EXPECT_THROW(TableDefinition::read(ch, page), Error);
  EXPECT_THROW(TableDefinition::read(ch, 0), Error);  // not a definition page
}

}  // namespace
}  // namespace engine
