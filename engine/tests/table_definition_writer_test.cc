// The table definition writer on the definitions of the test databases:
// unchanged definitions come back byte for byte, appended columns are
// numbered and placed as the engine numbers them, every other section keeps
// its bytes, and a definition that outgrows its page continues on a new one.
#include "engine/table_definition_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/catalog.h"
#include "engine/data_page.h"
#include "engine/error.h"
#include "engine/page_channel.h"
#include "engine/tests/write_test_util.h"

namespace engine {
namespace {

using testutil::TempDir;

std::uint16_t get16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

TableDefinition tableNamed(PageChannel& channel, const std::string& name) {
  const Catalog cat = Catalog::read(channel);
  for (const CatalogEntry& e : cat.entries())
    if (e.type == kObjectTypeTable && e.name == name)
      return TableDefinition::read(channel, e.tableDefinitionPage());
  throw Error("no table " + name);
}

ColumnSpec spec(const std::string& name, std::uint8_t type, std::uint16_t length = 0) {
  ColumnSpec s;
  s.name = name;
  s.type = type;
  s.length = length;
  return s;
}

TEST(TableDefinitionWriter, UnchangedDefinitionsAreWrittenBackAsStored) {
  for (const char* fixture : {"sales-small.mdb", "testV2000.mdb", "delColTestV2000.mdb",
                              "overflowTestV2000.mdb", "compIndexTestV2000.mdb"}) {
    TempDir dir;
    PageChannel channel(Env::system(), dir.copy(fixture), false);
    const Catalog cat = Catalog::read(channel);
    for (const CatalogEntry& e : cat.entries()) {
      if (e.type != kObjectTypeTable) continue;
      SCOPED_TRACE(std::string(fixture) + " " + e.name);
      const TableDefinition before = TableDefinition::read(channel, e.tableDefinitionPage());
      std::vector<Page> pagesBefore;
      for (std::uint32_t p : before.pages()) pagesBefore.push_back(channel.readPage(p));
      const std::vector<std::uint8_t> bytes = definitionBytes(before);
      ASSERT_EQ(bytes.size(), before.definitionLength());
      channel.begin();
      EXPECT_EQ(writeDefinitionPages(channel, before, bytes), before.pages());
      // Definition bytes, page headers, free space and links as the writing
      // engine left them.
      std::size_t pos = 0;
      for (std::size_t i = 0; i < before.pages().size(); ++i) {
        const Page now = channel.readPage(before.pages()[i]);
        const std::size_t skip = i == 0 ? 0 : 8;
        const std::size_t n = std::min(kPageSize - skip, bytes.size() - pos);
        EXPECT_TRUE(std::equal(now.begin() + static_cast<std::ptrdiff_t>(skip),
                               now.begin() + static_cast<std::ptrdiff_t>(skip + n),
                               pagesBefore[i].begin() + static_cast<std::ptrdiff_t>(skip)));
        EXPECT_TRUE(std::equal(now.begin(), now.begin() + 8, pagesBefore[i].begin())) << i;
        pos += n;
      }
      channel.rollback();
    }
  }
}

TEST(TableDefinitionWriter, ColumnsAreNumberedAndPlacedAfterDeletedOnes) {
  TempDir dir;
  PageChannel channel(Env::system(), dir.copy("delColTestV2000.mdb"), true);
  const TableDefinition d = tableNamed(channel, "Table1");
  // Columns 0, 2, 3, 5 remain of 6; variable slots 0 and 2 of 3.
  ASSERT_EQ(d.maxColumns(), 6);
  ASSERT_EQ(d.variableColumnCount(), 3);

  const Column text = placeColumn(d, spec("t", kTypeText, 200));
  EXPECT_EQ(text.number, 6);
  EXPECT_EQ(text.varIndex, 3);
  EXPECT_EQ(text.length, 200);
  EXPECT_EQ(text.flags, kColumnNullable);
  EXPECT_EQ(text.sortOrder, 0x0409);

  const Column number = placeColumn(d, spec("n", kTypeLong));
  EXPECT_EQ(number.number, 6);
  EXPECT_EQ(number.fixedOffset, 12);  // after id2 at 8..12
  EXPECT_EQ(number.length, 4);
  EXPECT_EQ(number.flags, kColumnNullable | kColumnFixedLength);
  EXPECT_EQ(get16({number.rawDefinition.begin(), number.rawDefinition.end()}, 7), 3);

  const Column yesNo = placeColumn(d, spec("b", kTypeBoolean));
  EXPECT_EQ(yesNo.fixedOffset, 0);
  EXPECT_EQ(yesNo.length, 1);

  ColumnSpec counter = spec("c", kTypeLong);
  counter.autoIncrement = true;
  EXPECT_TRUE(placeColumn(d, counter).autoIncrement());

  // The new definition: counts, the block and name at the end of theirs,
  // the index sections byte for byte after them.
  const std::vector<std::uint8_t> grown = definitionWithColumn(d, text, std::nullopt);
  EXPECT_EQ(grown.size(), d.definitionLength() + 25 + 2 + 2);
  const TableDefinition again = TableDefinition::parse(grown, d.pages());
  EXPECT_EQ(again.maxColumns(), 7);
  EXPECT_EQ(again.variableColumnCount(), 4);
  EXPECT_EQ(again.columns().size(), 5u);
  EXPECT_EQ(again.columns().back().name, "t");
  EXPECT_EQ(again.columns().back().varIndex, 3);
  EXPECT_EQ(again.definitionLength(), grown.size());
  ASSERT_EQ(again.realIndexes().size(), d.realIndexes().size());
  for (std::size_t i = 0; i < d.realIndexes().size(); ++i) {
    const ByteRange a = d.realIndexes()[i].block;
    const ByteRange b = again.realIndexes()[i].block;
    EXPECT_TRUE(std::equal(d.raw().begin() + static_cast<std::ptrdiff_t>(a.offset),
                           d.raw().begin() + static_cast<std::ptrdiff_t>(a.end()),
                           grown.begin() + static_cast<std::ptrdiff_t>(b.offset)));
  }
  ASSERT_EQ(again.logicalIndexes().size(), d.logicalIndexes().size());
  for (std::size_t i = 0; i < d.logicalIndexes().size(); ++i)
    EXPECT_EQ(again.logicalIndexes()[i].name, d.logicalIndexes()[i].name);
}

TEST(TableDefinitionWriter, MemoColumnsGetTheirUsageMaps) {
  TempDir dir;
  PageChannel channel(Env::system(), dir.copy("sales-small.mdb"), false);
  const TableDefinition d = tableNamed(channel, "satislar");
  channel.begin();
  const LongValueMapRefs maps = addLongValueUsageMaps(channel, d);
  // Beside the table's own maps, on page 27 after rows 0 to 3.
  EXPECT_EQ(maps.ownedPages.page, d.ownedPages().page);
  EXPECT_EQ(maps.ownedPages.row, 4);
  EXPECT_EQ(maps.freeSpacePages.row, 5);
  EXPECT_TRUE(UsageMap::read(channel, maps.ownedPages).pages().empty());
  const Column memo = placeColumn(d, spec("not", kTypeMemo));
  const TableDefinition again =
      TableDefinition::parse(definitionWithColumn(d, memo, maps), d.pages());
  ASSERT_EQ(again.columnUsageMaps().size(), 2u);
  EXPECT_EQ(again.columnUsageMaps()[0].columnNumber, 7);  // aciklama's, kept
  EXPECT_EQ(again.columnUsageMaps()[1].columnNumber, 8);
  EXPECT_EQ(again.columnUsageMaps()[1].freeSpacePages.row, 5);
  EXPECT_EQ(again.columns().back().length, 0);
  channel.rollback();
}

TEST(TableDefinitionWriter, ALongerDefinitionContinuesOnANewPage) {
  TempDir dir;
  const std::string path = dir.copy("sales-small.mdb");
  PageChannel channel(Env::system(), path, false);
  const TableDefinition d = tableNamed(channel, "urunler");  // with an index
  const std::uint32_t pagesInFile = channel.pageCount();
  TableDefinition grown = d;
  std::vector<std::uint8_t> bytes;
  for (int i = 0; bytes.size() <= kPageSize; ++i) {
    const Column c = placeColumn(grown, spec("sutun_adi_" + std::to_string(i), kTypeText, 100));
    bytes = definitionWithColumn(grown, c, std::nullopt);
    grown = TableDefinition::parse(bytes, d.pages());
  }
  channel.begin();
  const std::vector<std::uint32_t> pages = writeDefinitionPages(channel, d, bytes);
  channel.commit();
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[1], pagesInFile);  // appended
  EXPECT_FALSE(channel.globalMapSaysFree(pages[1]));
  const Page first = channel.readPage(pages[0]);
  const Page second = channel.readPage(pages[1]);
  EXPECT_EQ(first[2] | first[3] << 8, 0);  // full
  EXPECT_EQ(first[4] | first[5] << 8, static_cast<int>(pages[1]));
  EXPECT_EQ(second[0], kPageTypeTableDefinition);
  EXPECT_EQ(second[1], 0x01);
  EXPECT_EQ(second[2] | second[3] << 8,
            static_cast<int>(kPageSize - 8 - (8 + bytes.size() - kPageSize)));
  const TableDefinition read = TableDefinition::read(channel, d.page());
  EXPECT_EQ(read.pages(), pages);
  EXPECT_EQ(read.columns().size(), grown.columns().size());
  EXPECT_EQ(read.logicalIndexes().at(0).name, "PrimaryKey");
  // All but the free space and link of the first page, set on writing.
  EXPECT_TRUE(std::equal(bytes.begin() + 8, bytes.end(), read.raw().begin() + 8));
}

TEST(TableDefinitionWriter, RefusesWhatItDoesNotUnderstand) {
  TempDir dir;
  PageChannel channel(Env::system(), dir.copy("sales-small.mdb"), true);
  const TableDefinition d = tableNamed(channel, "fisno");
  std::vector<std::uint8_t> raw = d.raw();
  // No end marker.
  raw[d.layout().terminator.offset] = 0x00;
  raw[d.layout().terminator.offset + 1] = 0x00;
  EXPECT_THROW(definitionBytes(TableDefinition::parse(raw, d.pages())), Error);
  // A stored length short of the sections.
  raw = d.raw();
  raw[TableDefinition::kLengthOffset] = 10;
  raw[TableDefinition::kLengthOffset + 1] = 0;
  EXPECT_THROW(definitionBytes(TableDefinition::parse(raw, d.pages())), Error);
  EXPECT_THROW(placeColumn(d, spec("x", kTypeNumeric)), Error);
}

}  // namespace
}  // namespace engine
