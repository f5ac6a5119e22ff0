// Long values written in their three forms read back through the reader;
// freed rows give their space back; usage maps take new pages.
#include "engine/long_value_writer.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "engine/catalog.h"
#include "engine/data_page.h"
#include "engine/error.h"
#include "engine/table_definition_writer.h"
#include "engine/tests/write_test_util.h"

namespace engine {
namespace {

using testutil::TempDir;

std::vector<std::uint8_t> pattern(std::size_t n) {
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>((i * 7 + 3) & 0xFF);
  return v;
}

// The usage maps of MSysObjects' LvProp column.
LongValueColumnMaps propertyMaps(PageChannel& channel) {
  const Catalog cat = Catalog::read(channel);
  const Column* lv = cat.definition().findColumn("LvProp");
  for (const auto& m : cat.definition().columnUsageMaps())
    if (m.columnNumber == lv->number) return {m.ownedPages, m.freeSpacePages};
  throw Error("no maps");
}

std::uint16_t freeSpace(const Page& p) { return static_cast<std::uint16_t>(p[2] | p[3] << 8); }

TEST(LongValueWriter, TheThreeFormsReadBack) {
  TempDir dir;
  PageChannel channel(Env::system(), dir.copy("sales-small.mdb"), false);
  const LongValueColumnMaps maps = propertyMaps(channel);
  const std::uint32_t pagesBefore = channel.pageCount();
  channel.begin();

  const auto small = pattern(40);
  const auto inlineValue = writeLongValue(channel, maps, small, kMaxInlineLongValue);
  EXPECT_EQ(parseLongValueHeader(inlineValue).flags, kLongValueInline);
  EXPECT_EQ(readLongValue(inlineValue, pageSourceOf(channel)), small);
  // Never inline when the caller says so: then on the column's page 23.
  const auto onPage = writeLongValue(channel, maps, small, 0);
  EXPECT_EQ(parseLongValueHeader(onPage).flags, kLongValueSinglePage);
  EXPECT_EQ(parseLongValueHeader(onPage).page, 23u);
  EXPECT_EQ(readLongValue(onPage, pageSourceOf(channel)), small);

  const auto big = pattern(kMaxLongValueRow);
  const auto single = writeLongValue(channel, maps, big, kMaxInlineLongValue);
  EXPECT_EQ(parseLongValueHeader(single).flags, kLongValueSinglePage);
  EXPECT_EQ(parseLongValueHeader(single).page, pagesBefore);  // page 23 has no room: a new one
  EXPECT_EQ(readLongValue(single, pageSourceOf(channel)), big);

  const auto huge = pattern(3 * kMaxLongValueRow);
  const auto chain = writeLongValue(channel, maps, huge, kMaxInlineLongValue);
  EXPECT_EQ(parseLongValueHeader(chain).flags, kLongValueChain);
  EXPECT_EQ(readLongValue(chain, pageSourceOf(channel)), huge);
  EXPECT_EQ(channel.pageCount(), pagesBefore + 5);  // one single, four chain pages

  // The new pages are the column's: listed in its owned map, LVAL pages.
  const UsageMap owned = UsageMap::read(channel, maps.ownedPages);
  for (std::uint32_t p = pagesBefore; p < channel.pageCount(); ++p) {
    EXPECT_TRUE(owned.contains(p)) << p;
    const Page page = channel.readPage(p);
    EXPECT_EQ(DataPage(page, p).tableDefinitionPage(), kLongValuePageOwner);
  }
  channel.commit();
  // And after the commit, from the file.
  EXPECT_EQ(readLongValue(chain, pageSourceOf(channel)), huge);
}

TEST(LongValueWriter, FreedRowsGiveTheirSpaceBack) {
  TempDir dir;
  PageChannel channel(Env::system(), dir.copy("sales-small.mdb"), false);
  const LongValueColumnMaps maps = propertyMaps(channel);
  channel.begin();
  const Page before = channel.readPage(23);
  // The rows already there, as the reader gives them.
  const PageSource source = pageSourceOf(channel);
  std::vector<std::vector<std::uint8_t>> rows;
  for (std::uint8_t r = 0; r < 5; ++r) rows.push_back(readLongValueRow(source, 23, r));

  const auto value = writeLongValue(channel, maps, pattern(300), 0, 23);
  EXPECT_EQ(parseLongValueHeader(value).row, 5);
  EXPECT_EQ(freeSpace(channel.readPage(23)), freeSpace(before) - 302);
  freeLongValue(channel, value);
  EXPECT_EQ(freeSpace(channel.readPage(23)), freeSpace(before) - 2);  // the pointer stays
  EXPECT_THROW(readLongValueRow(pageSourceOf(channel), 23, 5), Error);  // deleted

  // Freeing a row in the middle moves the rows after it, which still read
  // the same.
  const auto first = writeLongValue(channel, maps, pattern(100), 0, 23);
  const auto second = writeLongValue(channel, maps, pattern(200), 0, 23);
  freeLongValue(channel, first);
  EXPECT_EQ(readLongValue(second, pageSourceOf(channel)), pattern(200));
  for (std::uint8_t r = 0; r < 5; ++r)
    EXPECT_EQ(readLongValueRow(pageSourceOf(channel), 23, r), rows[r]);
  EXPECT_THROW(freeLongValue(channel, first), Error);  // not twice

  // A listed page without room for the row leaves the free-space map, so
  // that later writes do not read it again.
  ASSERT_TRUE(UsageMap::read(channel, maps.freeSpacePages).contains(23));
  const auto wide = writeLongValue(channel, maps, pattern(kMaxLongValueRow), 0, 23);
  EXPECT_NE(parseLongValueHeader(wide).page, 23u);
  EXPECT_FALSE(UsageMap::read(channel, maps.freeSpacePages).contains(23));
  channel.rollback();
}

TEST(LongValueWriter, UsageMapsTakePagesFarApart) {
  TempDir dir;
  PageChannel channel(Env::system(), dir.copy("testV2000.mdb"), false);
  const std::uint32_t pagesBefore = channel.pageCount();
  ASSERT_GT(pagesBefore, 740u);
  channel.begin();
  // A fresh, empty inline map moves its window to the first page it gets.
  const LongValueMapRefs refs = addLongValueUsageMaps(channel, TableDefinition::read(channel, 24));
  const LongValueColumnMaps fresh{refs.ownedPages, refs.freeSpacePages};
  const auto value = writeLongValue(channel, fresh, pattern(1000), 0);
  const std::uint32_t newPage = parseLongValueHeader(value).page;
  EXPECT_GE(newPage, pagesBefore - 1);
  EXPECT_EQ(UsageMap::read(channel, fresh.ownedPages).pages(), std::vector<std::uint32_t>{newPage});
  EXPECT_EQ(UsageMap::read(channel, fresh.freeSpacePages).pages(),
            std::vector<std::uint32_t>{newPage});

  // The catalog's property column lists pages from 22 to 706 inline; a chain
  // of new pages beyond 743 no longer fits its window: the map turns
  // page-indirect and still lists every page.
  const LongValueColumnMaps maps = propertyMaps(channel);
  const std::vector<std::uint32_t> listed = UsageMap::read(channel, maps.ownedPages).pages();
  ASSERT_FALSE(listed.empty());
  EXPECT_EQ(UsageMap::read(channel, maps.ownedPages).kind(), UsageMap::Kind::Inline);
  const auto huge = pattern(20 * kMaxLongValueRow);
  const std::uint32_t chainFrom = channel.pageCount();
  const auto chain = writeLongValue(channel, maps, huge, 0);
  EXPECT_EQ(readLongValue(chain, pageSourceOf(channel)), huge);
  channel.commit();

  const UsageMap owned = UsageMap::read(channel, maps.ownedPages);
  EXPECT_EQ(owned.kind(), UsageMap::Kind::Indirect);
  for (std::uint32_t p : listed) EXPECT_TRUE(owned.contains(p)) << p;
  std::size_t chainPages = 0;
  for (std::uint32_t p = chainFrom; p < channel.pageCount(); ++p) {
    const Page page = channel.readPage(p);
    if (page[0] == kPageTypeUsageMap) continue;  // the new map page itself
    EXPECT_TRUE(owned.contains(p)) << p;
    ++chainPages;
  }
  EXPECT_EQ(chainPages, 21u);
  EXPECT_EQ(readLongValue(chain, pageSourceOf(channel)), huge);
}

}  // namespace
}  // namespace engine
