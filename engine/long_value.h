// Long values: memo and OLE columns.
//
// A row holds a 12-byte header for a long value:
//   0  length (3 bytes) and flags (1 byte): 0x80 the data follows inline,
//      0x40 the data is one whole row of an LVAL page, 0x00 the data is a
//      chain of LVAL rows
//   4  row number (1 byte) and page number (3 bytes) of the first LVAL row
//   8  unused (4 bytes)
// then, for an inline value, the data itself. Each row of a chain starts with
// the 4-byte row/page pointer of the next row (0 at the last one), followed by
// that row's part of the data.
//
// Everything in a header and in the rows it points to is untrusted: the
// declared length is checked against the file size before anything is
// allocated, every page and row number is bounds-checked, and a chain may
// neither revisit a row nor carry more data than the header declares.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "engine/page_channel.h"

namespace engine {

inline constexpr std::size_t kLongValueHeaderSize = 12;
inline constexpr std::uint8_t kLongValueInline = 0x80;
inline constexpr std::uint8_t kLongValueSinglePage = 0x40;
inline constexpr std::uint8_t kLongValueChain = 0x00;

struct LongValueHeader {
  std::uint32_t length = 0;  // bytes of data
  std::uint8_t flags = 0;
  std::uint8_t row = 0;      // first LVAL row (single page and chain)
  std::uint32_t page = 0;
};

// Parses the header at the start of a stored long value; Error when shorter
// than 12 bytes or the flags are not one of the three kinds.
LongValueHeader parseLongValueHeader(std::span<const std::uint8_t> stored);

// Where the pages of LVAL rows come from: the number of pages in the file and
// a reader for one of them.
struct PageSource {
  std::uint32_t pageCount = 0;
  std::function<Page(std::uint32_t)> read;
};
PageSource pageSourceOf(PageChannel& channel);

// The bytes of row `row` on LVAL page `page` (a data page's row pointer
// table; row i ends where row i-1 starts, row 0 at the end of the page).
// Error for a page beyond the file, a page that is not a data page, a row
// number beyond the page's row count, a deleted row or an offset outside the
// page.
std::vector<std::uint8_t> readLongValueRow(const PageSource& pages, std::uint32_t page,
                                           std::uint8_t row);

// The data of a stored long value (header plus any inline data), following
// LVAL rows as needed.
std::vector<std::uint8_t> readLongValue(std::span<const std::uint8_t> stored,
                                        const PageSource& pages);

}  // namespace engine
