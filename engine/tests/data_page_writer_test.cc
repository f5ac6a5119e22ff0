#include <gtest/gtest.h>

#include "engine/data_page.h"
#include "engine/data_page_writer.h"
#include "engine/error.h"
#include "engine/tests/fixture_copy.h"

namespace engine {
namespace {

// The bytes of a row by its pointers, deleted or not.
std::vector<std::uint8_t> bytesOf(const Page& page, std::uint16_t row) {
  auto at = [&page](std::size_t i) {
    return static_cast<std::size_t>((page[14 + 2 * i] | page[15 + 2 * i] << 8) & 0x1FFF);
  };
  std::size_t end = row == 0 ? kPageSize : at(row - 1u);
  return {page.begin() + static_cast<std::ptrdiff_t>(at(row)),
          page.begin() + static_cast<std::ptrdiff_t>(end)};
}

std::uint16_t storedFree(const Page& p) { return static_cast<std::uint16_t>(p[2] | p[3] << 8); }

// The first data page of MSysObjects in sales-small.
Page catalogPage(testing::FixtureCopy& f) {
  return f.channel().readPage(f.catalog().entries().front().get().row.page);
}

TEST(DataPageWriterTest, FreshPageInsertAndFreeSpace) {
  Page p = newDataPage(0x123456);
  EXPECT_EQ(dataPageFreeSpace(p), kEmptyDataPageFreeSpace);
  EXPECT_EQ(storedFree(p), kEmptyDataPageFreeSpace);
  std::vector<std::uint8_t> a(100, 0xAA), b(7, 0xBB);
  EXPECT_EQ(insertRow(p, a), 0);
  EXPECT_EQ(insertRow(p, b, DataPage::kDeletedFlag), 1);
  DataPage dp(p, 9);
  EXPECT_EQ(dp.tableDefinitionPage(), 0x123456u);
  EXPECT_EQ(dp.rowCount(), 2);
  EXPECT_EQ(dp.row(0).start, kPageSize - 100);
  EXPECT_TRUE(dp.row(1).deleted);
  EXPECT_EQ(bytesOf(p, 0), a);
  EXPECT_EQ(storedFree(p), kEmptyDataPageFreeSpace - 111);
  EXPECT_EQ(dataPageFreeSpace(p), storedFree(p));
}

TEST(DataPageWriterTest, FullPageRefusesAndStaysUnchanged) {
  Page p = newDataPage(5);
  std::vector<std::uint8_t> big(kEmptyDataPageFreeSpace - 2, 1);
  insertRow(p, big);
  EXPECT_EQ(dataPageFreeSpace(p), 0u);
  Page before = p;
  EXPECT_FALSE(rowFits(p, 1));
  EXPECT_THROW(insertRow(p, std::vector<std::uint8_t>{1}), Error);
  EXPECT_THROW(replaceRow(p, 0, std::vector<std::uint8_t>(big.size() + 1, 2)), Error);
  EXPECT_THROW(replaceRow(p, 1, std::vector<std::uint8_t>{1}), Error);
  EXPECT_EQ(p, before);
}

TEST(DataPageWriterTest, ReplaceGrowsAndShrinksKeepingTheOtherRows) {
  testing::FixtureCopy f("sales-small.mdb");
  Page p = catalogPage(f);
  DataPage dp0(p, 0);
  std::uint16_t n = dp0.rowCount();
  ASSERT_GT(n, 3);
  std::vector<std::vector<std::uint8_t>> rows;
  std::vector<std::uint16_t> flags;
  for (std::uint16_t i = 0; i < n; ++i) {
    rows.push_back(bytesOf(p, i));
    flags.push_back(static_cast<std::uint16_t>((p[14 + 2 * i] | p[15 + 2 * i] << 8) & 0xC000));
  }
  std::size_t free = dataPageFreeSpace(p);
  EXPECT_EQ(free, storedFree(p));

  for (std::size_t delta : {std::size_t{10}, std::size_t{0}}) {
    std::uint16_t target = 2;
    std::vector<std::uint8_t> grown = rows[target];
    grown.insert(grown.end(), delta + 5, 0xEE);
    replaceRow(p, target, grown);
    rows[target] = grown;
    DataPage dp(p, 0);
    for (std::uint16_t i = 0; i < n; ++i) {
      EXPECT_EQ(bytesOf(p, i), rows[i]) << i;
      EXPECT_EQ((p[14 + 2 * i] | p[15 + 2 * i] << 8) & 0xC000, flags[i]);
    }
    EXPECT_EQ(dataPageFreeSpace(p), storedFree(p));
    // Shrink back to the original.
    grown.resize(grown.size() - delta - 5);
    replaceRow(p, target, grown);
    rows[target] = grown;
    for (std::uint16_t i = 0; i < n; ++i) EXPECT_EQ(bytesOf(p, i), rows[i]) << i;
    EXPECT_EQ(dataPageFreeSpace(p), free);
  }
  // The last row and the first too.
  replaceRow(p, static_cast<std::uint16_t>(n - 1), std::vector<std::uint8_t>{1, 2, 3});
  replaceRow(p, 0, std::vector<std::uint8_t>(300, 4));
  EXPECT_EQ(bytesOf(p, static_cast<std::uint16_t>(n - 1)), (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(bytesOf(p, 0), std::vector<std::uint8_t>(300, 4));
  EXPECT_EQ(bytesOf(p, 1), rows[1]);
  EXPECT_EQ(dataPageFreeSpace(p), storedFree(p));
}

TEST(DataPageWriterTest, RowsThatDoNotLieBackToBackAreRefused) {
  Page p = newDataPage(5);
  insertRow(p, std::vector<std::uint8_t>(10, 1));
  insertRow(p, std::vector<std::uint8_t>(10, 2));
  p[16] = 0xFA;  // row 1 starts above row 0
  p[17] = 0x0F;
  EXPECT_THROW(dataPageFreeSpace(p), Error);
  EXPECT_THROW(insertRow(p, std::vector<std::uint8_t>{1}), Error);
  Page notData{};
  EXPECT_THROW(dataPageFreeSpace(notData), Error);
}

}  // namespace
}  // namespace engine
