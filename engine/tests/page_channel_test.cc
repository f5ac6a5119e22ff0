// The page channel's write side: transactions and page allocation.
#include "engine/page_channel.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/error.h"
#include "engine/tests/write_test_util.h"

namespace engine {
namespace {

using testutil::fileBytes;
using testutil::TempDir;

Page filled(std::uint8_t value) {
  Page p{};
  p.fill(value);
  return p;
}

// Bitmap of the inline global usage map (row 0 of page 1), as the fixtures
// store it: offset of row 0 at byte 14, map type, first page, bits.
struct MapView {
  std::size_t row;
  std::uint32_t first(const Page& p) const {
    return p[row + 1] | p[row + 2] << 8 | p[row + 3] << 16 | static_cast<std::uint32_t>(p[row + 4]) << 24;
  }
};
MapView mapOf(const Page& p) { return MapView{static_cast<std::size_t>((p[14] | p[15] << 8) & 0x1FFF)}; }

TEST(PageChannelWrite, TransactionShowsItsPagesAndRollbackForgetsThem) {
  TempDir dir;
  std::string db = dir.copy("sales-small.mdb");
  auto before = fileBytes(db);
  PageChannel ch(Env::system(), db, false);
  EXPECT_THROW(ch.writePage(5, filled(1)), Error);  // no transaction
  ch.begin();
  EXPECT_THROW(ch.begin(), Error);
  ch.writePage(5, filled(0xAB));
  EXPECT_EQ(ch.readPage(5), filled(0xAB));
  EXPECT_THROW(ch.writePage(ch.pageCount(), filled(1)), Error);  // appending goes through allocatePage
  ch.rollback();
  EXPECT_NE(ch.readPage(5), filled(0xAB));
  EXPECT_EQ(fileBytes(db), before);
  {
    WriteTransaction tx(ch);
    ch.writePage(6, filled(0xCD));
  }  // not committed
  EXPECT_EQ(fileBytes(db), before);
  EXPECT_FALSE(std::filesystem::exists(PageChannel::journalPath(db)));
}

TEST(PageChannelWrite, CommitStoresPagesAndRemovesTheJournal) {
  TempDir dir;
  std::string db = dir.copy("sales-small.mdb");
  auto before = fileBytes(db);
  {
    PageChannel ch(Env::system(), db, false);
    WriteTransaction tx(ch);
    ch.writePage(7, filled(0x11));
    ch.writePage(3, filled(0x22));
    tx.commit();
    EXPECT_FALSE(ch.inTransaction());
  }
  auto after = fileBytes(db);
  ASSERT_EQ(after.size(), before.size());
  for (std::size_t i = 0; i < after.size(); ++i) {
    std::size_t page = i / kPageSize;
    std::uint8_t want = page == 7 ? 0x11 : page == 3 ? 0x22 : before[i];
    ASSERT_EQ(after[i], want) << "byte " << i;
  }
  EXPECT_FALSE(std::filesystem::exists(PageChannel::journalPath(db)));
  EXPECT_EQ(PageChannel::journalPath("/x/y.mdb"), "/x/y.mdb-journal");
}

TEST(PageChannelWrite, ReadOnlyChannelRefusesToWrite) {
  TempDir dir;
  std::string db = dir.copy("sales-small.mdb");
  PageChannel ch(Env::system(), db, true);
  EXPECT_THROW(ch.begin(), Error);
}

TEST(PageAllocation, AppendsAndMarksThePageUsedInTheGlobalMap) {
  TempDir dir;
  for (const char* name : {"sales-small.mdb", "access2000-blank.mdb", "testV2000.mdb", "sales-large.mdb"}) {
    SCOPED_TRACE(name);
    std::string db = dir.copy(name);
    auto before = fileBytes(db);
    PageChannel ch(Env::system(), db, false);
    std::uint32_t pages = ch.pageCount();
    EXPECT_TRUE(ch.globalMapSaysFree(pages));
    EXPECT_FALSE(ch.globalMapSaysFree(pages - 1));
    WriteTransaction tx(ch);
    std::uint32_t a = ch.allocatePage();
    std::uint32_t b = ch.allocatePage();
    EXPECT_EQ(a, pages);
    EXPECT_EQ(b, pages + 1);
    EXPECT_EQ(ch.pageCount(), pages + 2);
    EXPECT_EQ(ch.readPage(a), Page{});
    ch.writePage(a, filled(0x42));
    tx.commit();
    EXPECT_EQ(ch.pageCount(), pages + 2);
    EXPECT_FALSE(ch.globalMapSaysFree(a));
    EXPECT_FALSE(ch.globalMapSaysFree(b));
    EXPECT_TRUE(ch.globalMapSaysFree(pages + 2));
    EXPECT_EQ(ch.readPage(a), filled(0x42));
    // Only page 1 changed among the old pages, and only in the two bits.
    auto after = fileBytes(db);
    int changedBits = 0;
    for (std::size_t i = 0; i < before.size(); ++i) {
      if (before[i] == after[i]) continue;
      EXPECT_EQ(i / kPageSize, 1u) << "byte " << i;
      changedBits += __builtin_popcount(before[i] ^ after[i]);
    }
    EXPECT_EQ(changedBits, 2);
  }
}

TEST(PageAllocation, TakesAFreePageTheMapRecords) {
  TempDir dir;
  std::string db = dir.copy("sales-small.mdb");
  PageChannel ch(Env::system(), db, false);
  std::uint32_t pages = ch.pageCount();
  Page map = ch.readPage(1);
  MapView v = mapOf(map);
  ASSERT_EQ(map[v.row], 0);
  ASSERT_EQ(v.first(map), 0u);
  {
    WriteTransaction tx(ch);
    map[v.row + 5 + 20 / 8] |= 1 << (20 % 8);  // page 20 free
    ch.writePage(1, map);
    tx.commit();
  }
  WriteTransaction tx(ch);
  EXPECT_EQ(ch.allocatePage(), 20u);
  EXPECT_EQ(ch.readPage(20), Page{});
  EXPECT_EQ(ch.allocatePage(), pages);
  tx.commit();
  EXPECT_FALSE(ch.globalMapSaysFree(20));
}

TEST(PageAllocation, AMapThatCallsTheCatalogFreeIsNotTrusted) {
  TempDir dir;
  std::string db = dir.copy("sales-small.mdb");
  PageChannel ch(Env::system(), db, false);
  std::uint32_t pages = ch.pageCount();
  Page map = ch.readPage(1);
  MapView v = mapOf(map);
  {
    WriteTransaction tx(ch);
    map[v.row + 5] |= 1 << 2;                   // page 2, the catalog's definition
    map[v.row + 5 + 20 / 8] |= 1 << (20 % 8);  // page 20
    ch.writePage(1, map);
    tx.commit();
  }
  WriteTransaction tx(ch);
  EXPECT_EQ(ch.allocatePage(), pages);
}

TEST(PageAllocation, APageBeyondTheMapsRangeMovesTheMap) {
  TempDir dir;
  std::string db = dir.copy("sales-small.mdb");
  PageChannel ch(Env::system(), db, false);
  std::uint32_t pages = ch.pageCount();
  Page map = ch.readPage(1);
  MapView v = mapOf(map);
  {
    // A map covering pages 1000.. only: the end of the file lies before it.
    WriteTransaction tx(ch);
    map[v.row + 1] = 1000 & 0xFF;
    map[v.row + 2] = 1000 >> 8;
    ch.writePage(1, map);
    tx.commit();
  }
  WriteTransaction tx(ch);
  std::uint32_t n = ch.allocatePage();
  EXPECT_EQ(n, pages);
  tx.commit();
  map = ch.readPage(1);
  EXPECT_EQ(v.first(map), n);
  EXPECT_EQ(map[v.row + 5], 0xFE);
  for (std::size_t i = v.row + 6; i < kPageSize; ++i) EXPECT_EQ(map[i], 0xFF);
  EXPECT_FALSE(ch.globalMapSaysFree(n));
  EXPECT_TRUE(ch.globalMapSaysFree(n + 1));
}

TEST(PageAllocation, AReferenceMapIsKeptRight) {
  TempDir dir;
  std::string db = dir.copy("sales-small.mdb");
  PageChannel ch(Env::system(), db, false);
  std::uint32_t pages = ch.pageCount();
  Page map = ch.readPage(1);
  MapView v = mapOf(map);
  const std::uint32_t mapPage = pages - 1;  // turned into a usage-map page (type 0x05)
  {
    WriteTransaction tx(ch);
    Page bits{};
    bits[0] = 0x05;
    bits[1] = 0x01;
    std::fill(bits.begin() + 4, bits.end(), std::uint8_t{0xFF});
    ch.writePage(mapPage, bits);
    std::fill(map.begin() + static_cast<std::ptrdiff_t>(v.row), map.end(), std::uint8_t{0});
    map[v.row] = 1;
    map[v.row + 1] = static_cast<std::uint8_t>(mapPage);
    ch.writePage(1, map);
    tx.commit();
  }
  EXPECT_TRUE(ch.globalMapSaysFree(pages));
  WriteTransaction tx(ch);
  EXPECT_EQ(ch.allocatePage(), pages);  // appended: free pages are not taken from such a map
  tx.commit();
  EXPECT_FALSE(ch.globalMapSaysFree(pages));
  EXPECT_TRUE(ch.globalMapSaysFree(pages + 1));
  EXPECT_EQ(ch.readPage(1), map);
}

TEST(PageAllocation, RefusesWhenPage1IsNoUsageMap) {
  TempDir dir;
  std::string db = dir.copy("sales-small.mdb");
  PageChannel ch(Env::system(), db, false);
  Page map = ch.readPage(1);
  for (auto [at, value] : {std::pair{0, 0x02}, {12, 0}, {13, 0x10}, {15, 0x80}, {14, 0xFF}}) {
    SCOPED_TRACE(at);
    Page bad = map;
    bad[static_cast<std::size_t>(at)] = static_cast<std::uint8_t>(value);
    if (at == 14) bad[15] = 0x0F;  // row starting 4 bytes before the end
    WriteTransaction tx(ch);
    ch.writePage(1, bad);
    EXPECT_THROW(ch.allocatePage(), Error);
  }
}

}  // namespace
}  // namespace engine
