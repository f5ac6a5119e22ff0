#include "engine/long_value.h"

#include <gtest/gtest.h>

#include <vector>

#include "engine/error.h"

namespace engine {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A file of LVAL pages built in memory.
class Pages {
 public:
  explicit Pages(std::size_t count) : pages_(count) {
    for (std::size_t i = 1; i < count; ++i) pages_[i][0] = 0x01;  // data pages
  }
  // Adds a row of the given bytes to page n (rows grow down from the end).
  std::uint8_t addRow(std::uint32_t n, const Bytes& row) {
    Page& p = pages_[n];
    const std::uint16_t rows = static_cast<std::uint16_t>(p[12] | (p[13] << 8));
    const std::size_t end = rows == 0 ? kPageSize : (p[14 + 2 * (rows - 1)] | ((p[15 + 2 * (rows - 1)] & 0x1F) << 8));
    const std::size_t start = end - row.size();
    std::copy(row.begin(), row.end(), p.begin() + static_cast<std::ptrdiff_t>(start));
    set16(p, 14 + 2 * std::size_t{rows}, start);
    set16(p, 12, rows + 1u);
    return static_cast<std::uint8_t>(rows);
  }
  Page& page(std::uint32_t n) { return pages_[n]; }
  PageSource source() {
    return PageSource{static_cast<std::uint32_t>(pages_.size()),
                      [this](std::uint32_t n) { return pages_.at(n); }};
  }
  static void set16(Page& p, std::size_t at, std::size_t v) {
    p[at] = static_cast<std::uint8_t>(v & 0xFF);
    p[at + 1] = static_cast<std::uint8_t>(v >> 8);
  }

 private:
  std::vector<Page> pages_;
};

Bytes header(std::uint32_t length, std::uint8_t flags, std::uint32_t page = 0, std::uint8_t row = 0) {
  return Bytes{static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
               static_cast<std::uint8_t>(length >> 16), flags, row,
               static_cast<std::uint8_t>(page), static_cast<std::uint8_t>(page >> 8),
               static_cast<std::uint8_t>(page >> 16), 0, 0, 0, 0};
}

Bytes pointer(std::uint32_t page, std::uint8_t row) {
  return Bytes{row, static_cast<std::uint8_t>(page), static_cast<std::uint8_t>(page >> 8),
               static_cast<std::uint8_t>(page >> 16)};
}

Bytes concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(LongValue, InlineValues) {
  Pages pages(2);
  EXPECT_EQ(readLongValue(concat(header(3, kLongValueInline), {'a', 'b', 'c'}), pages.source()),
            (Bytes{'a', 'b', 'c'}));
  EXPECT_EQ(readLongValue(header(0, kLongValueInline), pages.source()), Bytes{});
  EXPECT_THROW(readLongValue(concat(header(4, kLongValueInline), {'a'}), pages.source()), Error);
  EXPECT_THROW(readLongValue(Bytes{1, 0, 0, 0x80}, pages.source()), Error);  // short header
  EXPECT_THROW(readLongValue(header(1, 0x20), pages.source()), Error);       // unknown kind
}

TEST(LongValue, SinglePageAndChain) {
  Pages pages(4);
  pages.addRow(1, {'x'});
  const std::uint8_t single = pages.addRow(1, {'h', 'e', 'l', 'l', 'o'});
  EXPECT_EQ(readLongValue(header(5, kLongValueSinglePage, 1, single), pages.source()),
            (Bytes{'h', 'e', 'l', 'l', 'o'}));
  EXPECT_EQ(readLongValue(header(4, kLongValueSinglePage, 1, single), pages.source()),
            (Bytes{'h', 'e', 'l', 'l'}));
  EXPECT_THROW(readLongValue(header(6, kLongValueSinglePage, 1, single), pages.source()), Error);

  // Three parts over two pages: page 2 row 0 -> page 3 row 0 -> page 2 row 1.
  const std::uint8_t last = 1;
  pages.addRow(2, concat(pointer(3, 0), {'a', 'b'}));
  pages.addRow(3, concat(pointer(2, last), {'c', 'd', 'e'}));
  pages.addRow(2, concat(pointer(0, 0), {'f', 'g', 'h', 'i'}));
  EXPECT_EQ(readLongValue(header(9, kLongValueChain, 2, 0), pages.source()),
            (Bytes{'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i'}));
  // A declared length within the last part takes only what is declared.
  EXPECT_EQ(readLongValue(header(6, kLongValueChain, 2, 0), pages.source()).size(), 6u);
  // Declared longer than the chain.
  EXPECT_THROW(readLongValue(header(10, kLongValueChain, 2, 0), pages.source()), Error);
}

TEST(LongValue, HostileChainsAreRefused) {
  Pages pages(4);
  pages.addRow(2, concat(pointer(3, 0), {'a', 'b'}));
  pages.addRow(3, concat(pointer(2, 0), {'c', 'd'}));  // back to the start: a loop
  EXPECT_THROW(readLongValue(header(100, kLongValueChain, 2, 0), pages.source()), Error);
  // A self loop with an empty part does not spin.
  const std::uint8_t self = pages.addRow(1, pointer(1, 0));
  ASSERT_EQ(self, 0);
  EXPECT_THROW(readLongValue(header(1, kLongValueChain, 1, 0), pages.source()), Error);
  // A declared length beyond the file is refused before anything is read.
  EXPECT_THROW(readLongValue(header(0xFFFFFF, kLongValueChain, 2, 0), pages.source()), Error);
  // Pages outside the file, page 0, a row beyond the row count.
  EXPECT_THROW(readLongValue(header(2, kLongValueSinglePage, 9, 0), pages.source()), Error);
  EXPECT_THROW(readLongValue(header(2, kLongValueSinglePage, 0, 0), pages.source()), Error);
  EXPECT_THROW(readLongValue(header(2, kLongValueSinglePage, 2, 5), pages.source()), Error);
}

TEST(LongValue, DamagedRowTablesAreRefused) {
  Pages pages(3);
  pages.addRow(1, {'a', 'b', 'c'});
  const PageSource src = pages.source();
  EXPECT_EQ(readLongValueRow(src, 1, 0), (Bytes{'a', 'b', 'c'}));

  pages.page(2) = pages.page(1);
  pages.page(2)[0] = 0x02;  // not a data page
  EXPECT_THROW(readLongValueRow(src, 2, 0), Error);

  pages.page(2) = pages.page(1);
  Pages::set16(pages.page(2), 14, 0x8000 | (kPageSize - 3));  // deleted
  EXPECT_THROW(readLongValueRow(src, 2, 0), Error);

  pages.page(2) = pages.page(1);
  Pages::set16(pages.page(2), 14, 4);  // starts inside the row table
  EXPECT_THROW(readLongValueRow(src, 2, 0), Error);

  pages.page(2) = pages.page(1);
  Pages::set16(pages.page(2), 12, 0xFFFF);  // row table larger than the page
  EXPECT_THROW(readLongValueRow(src, 2, 0), Error);

  pages.page(2) = pages.page(1);
  pages.addRow(2, {'d'});
  Pages::set16(pages.page(2), 16, kPageSize - 2);  // row 1 would end before it starts
  EXPECT_THROW(readLongValueRow(src, 2, 1), Error);
}

}  // namespace
}  // namespace engine
