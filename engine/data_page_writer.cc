#include "engine/data_page_writer.h"

#include <algorithm>
#include <string>

#include "engine/data_page.h"
#include "engine/error.h"
#include "engine/little_endian.h"

namespace engine {
namespace {

// The row pointers of a data page, checked to lie back to back.
struct Layout {
  std::uint16_t rowCount = 0;
  std::size_t lowest = kPageSize;  // start of the lowest row
  std::size_t headerEnd = DataPage::kFirstRowPointer;
};

Layout layoutOf(const Page& page) {
  if (page[0] != kPageTypeData) throw Error("not a data page");
  Layout L;
  L.rowCount = get16(page, DataPage::kRowCountOffset);
  L.headerEnd = DataPage::kFirstRowPointer + 2 * std::size_t{L.rowCount};
  if (L.headerEnd > kPageSize) throw Error("data page claims more rows than it holds");
  std::size_t end = kPageSize;
  for (std::uint16_t i = 0; i < L.rowCount; ++i) {
    std::size_t start = get16(page, DataPage::kFirstRowPointer + 2 * std::size_t{i}) &
                        DataPage::kOffsetMask;
    if (start > end || start < L.headerEnd)
      throw Error("the rows of the data page do not lie back to back");
    end = start;
  }
  L.lowest = end;
  return L;
}

}  // namespace

Page newDataPage(std::uint32_t tableDefinitionPage) {
  Page p{};
  p[0] = kPageTypeData;
  p[1] = 0x01;
  put16(p, 2, kEmptyDataPageFreeSpace);
  for (int i = 0; i < 4; ++i)
    p[4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(tableDefinitionPage >> (8 * i));
  return p;
}

std::size_t dataPageFreeSpace(const Page& page) {
  Layout L = layoutOf(page);
  return L.lowest - L.headerEnd;
}

bool rowFits(const Page& page, std::size_t rowSize) {
  Layout L = layoutOf(page);
  return L.rowCount < kMaxRowsOnDataPage && rowSize + 2 <= L.lowest - L.headerEnd;
}

std::uint16_t insertRow(Page& page, std::span<const std::uint8_t> row, std::uint16_t flags) {
  Layout L = layoutOf(page);
  if (row.empty()) throw Error("an empty row");
  if (row.size() + 2 > L.lowest - L.headerEnd)
    throw Error("the data page has " + std::to_string(L.lowest - L.headerEnd) +
                " bytes free, too few for a row of " + std::to_string(row.size()) + " bytes");
  if (L.rowCount >= kMaxRowsOnDataPage)
    throw Error("the data page holds " + std::to_string(L.rowCount) + " rows already");
  std::size_t start = L.lowest - row.size();
  std::copy(row.begin(), row.end(), page.begin() + static_cast<std::ptrdiff_t>(start));
  put16(page, L.headerEnd, start | (flags & (DataPage::kDeletedFlag | DataPage::kOverflowFlag)));
  put16(page, DataPage::kRowCountOffset, L.rowCount + 1u);
  put16(page, 2, start - (L.headerEnd + 2));
  return L.rowCount;
}

void replaceRow(Page& page, std::uint16_t row, std::span<const std::uint8_t> bytes) {
  Layout L = layoutOf(page);
  if (row >= L.rowCount) throw Error("no row " + std::to_string(row) + " on the data page");
  if (bytes.empty()) throw Error("an empty row");
  auto startOf = [&page](std::uint16_t i) -> std::size_t {
    return get16(page, DataPage::kFirstRowPointer + 2 * std::size_t{i}) & DataPage::kOffsetMask;
  };
  std::size_t oldStart = startOf(row);
  std::size_t oldEnd = row == 0 ? kPageSize : startOf(static_cast<std::uint16_t>(row - 1));
  std::size_t oldSize = oldEnd - oldStart;
  std::size_t free = L.lowest - L.headerEnd;
  if (bytes.size() > oldSize && bytes.size() - oldSize > free)
    throw Error("the data page has " + std::to_string(free) + " bytes free, too few to grow a row by " +
                std::to_string(bytes.size() - oldSize) + " bytes");
  // Rows below the replaced one (rows row+1 ..) shift by the difference.
  Page out = page;
  std::size_t newStart = oldEnd - bytes.size();
  std::size_t below = oldStart - L.lowest;  // bytes of the rows below
  std::size_t newLowest = newStart - below;
  std::copy(page.begin() + static_cast<std::ptrdiff_t>(L.lowest),
            page.begin() + static_cast<std::ptrdiff_t>(oldStart),
            out.begin() + static_cast<std::ptrdiff_t>(newLowest));
  std::copy(bytes.begin(), bytes.end(), out.begin() + static_cast<std::ptrdiff_t>(newStart));
  // Clear what lies between the pointer table and the new lowest row.
  std::fill(out.begin() + static_cast<std::ptrdiff_t>(L.headerEnd),
            out.begin() + static_cast<std::ptrdiff_t>(newLowest), std::uint8_t{0});
  for (std::uint16_t i = row; i < L.rowCount; ++i) {
    std::size_t at = DataPage::kFirstRowPointer + 2 * std::size_t{i};
    std::uint16_t raw = get16(page, at);
    std::size_t start = (raw & DataPage::kOffsetMask) + newStart - oldStart;
    std::size_t flags = raw & (DataPage::kDeletedFlag | DataPage::kOverflowFlag);
    put16(out, at, start | flags);
  }
  put16(out, 2, newLowest - L.headerEnd);
  page = out;
}

void setRowFlags(Page& page, std::uint16_t row, std::uint16_t set, std::uint16_t clear) {
  Layout L = layoutOf(page);
  if (row >= L.rowCount) throw Error("no row " + std::to_string(row) + " on the data page");
  std::size_t at = DataPage::kFirstRowPointer + 2 * std::size_t{row};
  std::size_t raw = get16(page, at);
  put16(page, at, (raw | set) & ~std::size_t{clear});
}

bool rowsLieBackToBack(const Page& page) {
  try {
    layoutOf(page);
    return true;
  } catch (const Error&) {
    return false;
  }
}

void deleteRow(Page& page, std::uint16_t row) {
  const Layout L = layoutOf(page);
  if (row >= L.rowCount) throw Error("no row " + std::to_string(row) + " on the data page");
  auto startOf = [&page](std::uint16_t i) -> std::size_t {
    return get16(page, DataPage::kFirstRowPointer + 2 * std::size_t{i}) & DataPage::kOffsetMask;
  };
  const std::size_t start = startOf(row);
  const std::size_t end = row == 0 ? kPageSize : startOf(static_cast<std::uint16_t>(row - 1));
  const std::size_t length = end - start;
  const auto first = page.begin();
  std::copy_backward(first + static_cast<std::ptrdiff_t>(L.lowest), first + static_cast<std::ptrdiff_t>(start),
                     first + static_cast<std::ptrdiff_t>(end));
  std::fill(first + static_cast<std::ptrdiff_t>(L.lowest),
            first + static_cast<std::ptrdiff_t>(L.lowest + length), std::uint8_t{0});
  for (std::uint16_t i = static_cast<std::uint16_t>(row + 1); i < L.rowCount; ++i) {
    const std::size_t at = DataPage::kFirstRowPointer + 2 * std::size_t{i};
    const std::uint16_t raw = get16(page, at);
    put16(page, at, (raw & ~DataPage::kOffsetMask) | ((raw & DataPage::kOffsetMask) + length));
  }
  put16(page, DataPage::kFirstRowPointer + 2 * std::size_t{row},
        end | DataPage::kDeletedFlag | DataPage::kOverflowFlag);
  put16(page, 2, L.lowest + length - L.headerEnd);
}

}  // namespace engine
