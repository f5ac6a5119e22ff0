#include "engine/long_value_writer.h"

#include <algorithm>
#include <set>
#include <string>
#include <utility>

#include "engine/data_page.h"
#include "engine/data_page_writer.h"
#include "engine/error.h"
#include "engine/little_endian.h"
#include "engine/table_writer.h"

namespace engine {
namespace {

constexpr std::size_t kChainPointerSize = 4;
constexpr std::uint16_t kDeletedRowFlags = DataPage::kDeletedFlag | DataPage::kOverflowFlag;

std::vector<std::uint8_t> header(std::size_t length, std::uint8_t kind, std::uint8_t row,
                                 std::uint32_t page) {
  std::vector<std::uint8_t> h(kLongValueHeaderSize, 0);
  h[0] = static_cast<std::uint8_t>(length & 0xFF);
  h[1] = static_cast<std::uint8_t>((length >> 8) & 0xFF);
  h[2] = static_cast<std::uint8_t>((length >> 16) & 0xFF);
  h[3] = kind;
  h[4] = row;
  h[5] = static_cast<std::uint8_t>(page & 0xFF);
  h[6] = static_cast<std::uint8_t>((page >> 8) & 0xFF);
  h[7] = static_cast<std::uint8_t>((page >> 16) & 0xFF);
  return h;
}

Page newLongValuePage() {
  Page page{};
  page[0] = kPageTypeData;
  page[1] = 0x01;
  put16(page, 2, kPageSize - DataPage::kFirstRowPointer);
  put32(page, 4, kLongValuePageOwner);
  return page;
}

bool isLongValuePage(const Page& page) {
  return page[0] == kPageTypeData && get32(page, 4) == kLongValuePageOwner;
}

std::string where(std::uint32_t page, std::uint16_t row) {
  return "long value row " + std::to_string(row) + " of page " + std::to_string(page);
}

// Deletes a row and gives its bytes back to the page (data_page_writer.h).
// When the page's rows are not laid out in row order, the row is only
// flagged deleted.
void deleteLongValueRow(PageChannel& channel, std::uint32_t pageNo, std::uint16_t row) {
  if (pageNo == 0 || pageNo >= channel.pageCount())
    throw Error(where(pageNo, row) + ": the page lies outside the file");
  Page page = channel.readPage(pageNo);
  const DataPage dp(page, pageNo);
  if (dp.row(row).deleted) throw Error(where(pageNo, row) + ": the row is deleted already");
  if (rowsLieBackToBack(page)) {
    deleteRow(page, row);
  } else {
    const std::size_t at = DataPage::kFirstRowPointer + 2 * std::size_t{row};
    put16(page, at, get16(page, at) | kDeletedRowFlags);
  }
  channel.writePage(pageNo, page);
}

// A new LVAL page holding `row`, listed in the given maps.
std::pair<std::uint32_t, std::uint16_t> rowOnNewPage(PageChannel& channel,
                                                     std::span<const std::uint8_t> row,
                                                     const std::vector<UsageMapRef>& maps) {
  const std::uint32_t n = channel.allocatePage();
  Page page = newLongValuePage();
  const auto number = addRowToPage(page, row);
  if (!number) throw Error("a long value row does not fit on a new page");
  channel.writePage(n, page);
  for (const UsageMapRef& m : maps) addPageToUsageMap(channel, m, n);
  return {n, *number};
}

}  // namespace

std::optional<std::uint16_t> addRowToPage(Page& page, std::span<const std::uint8_t> row) {
  const std::uint16_t rows = get16(page, DataPage::kRowCountOffset);
  const std::uint16_t free = get16(page, 2);
  if (rows >= 255 || row.empty()) return std::nullopt;
  std::size_t low = kPageSize;
  for (std::size_t i = 0; i < rows; ++i)
    low = std::min<std::size_t>(
        low, get16(page, DataPage::kFirstRowPointer + 2 * i) & DataPage::kOffsetMask);
  const std::size_t tableEnd = DataPage::kFirstRowPointer + 2 * (std::size_t{rows} + 1);
  if (low > kPageSize || free < row.size() + 2 || low < row.size() || low - row.size() < tableEnd)
    return std::nullopt;
  const std::size_t start = low - row.size();
  std::copy(row.begin(), row.end(), page.begin() + static_cast<std::ptrdiff_t>(start));
  put16(page, DataPage::kFirstRowPointer + 2 * std::size_t{rows}, start);
  put16(page, DataPage::kRowCountOffset, rows + 1u);
  put16(page, 2, free - row.size() - 2);
  return rows;
}

std::vector<std::uint8_t> writeLongValue(PageChannel& channel, const LongValueColumnMaps& maps,
                                         std::span<const std::uint8_t> data,
                                         std::size_t maxInline, std::uint32_t preferPage) {
  if (data.size() > 0xFFFFFF) throw Error("a long value of more than 16 MB");
  if (maxInline > 0 && data.size() <= maxInline) {
    std::vector<std::uint8_t> out = header(data.size(), kLongValueInline, 0, 0);
    out.insert(out.end(), data.begin(), data.end());
    return out;
  }
  if (data.size() <= kMaxLongValueRow) {
    std::vector<std::uint32_t> candidates;
    if (preferPage != 0) candidates.push_back(preferPage);
    const UsageMap withRoom = UsageMap::read(channel, maps.freeSpacePages);
    for (std::uint32_t p : withRoom.pages())
      if (p != preferPage) candidates.push_back(p);
    for (std::uint32_t p : candidates) {
      if (p < 3 || p >= channel.pageCount()) continue;
      Page page = channel.readPage(p);
      if (!isLongValuePage(page)) continue;
      if (const auto row = addRowToPage(page, data)) {
        channel.writePage(p, page);
        return header(data.size(), kLongValueSinglePage, static_cast<std::uint8_t>(*row), p);
      }
      if (withRoom.contains(p)) removePageFromUsageMap(channel, maps.freeSpacePages, p);
    }
    const auto [p, row] = rowOnNewPage(channel, data, {maps.ownedPages, maps.freeSpacePages});
    return header(data.size(), kLongValueSinglePage, static_cast<std::uint8_t>(row), p);
  }

  // A chain, one row a page, written from the last part back so that each
  // row knows the next.
  constexpr std::size_t part = kMaxLongValueRow - kChainPointerSize;
  const std::size_t parts = (data.size() + part - 1) / part;
  std::uint32_t next = 0;  // row pointer of the following row
  for (std::size_t i = parts; i-- > 0;) {
    const std::size_t from = i * part;
    const std::size_t n = std::min(part, data.size() - from);
    std::vector<std::uint8_t> row(kChainPointerSize);
    put32(row, 0, next);
    row.insert(row.end(), data.begin() + static_cast<std::ptrdiff_t>(from),
               data.begin() + static_cast<std::ptrdiff_t>(from + n));
    const auto [p, r] = rowOnNewPage(channel, row, {maps.ownedPages});
    next = p << 8 | r;
  }
  return header(data.size(), kLongValueChain, static_cast<std::uint8_t>(next & 0xFF), next >> 8);
}

void freeLongValue(PageChannel& channel, std::span<const std::uint8_t> stored) {
  const LongValueHeader h = parseLongValueHeader(stored);
  if (h.flags == kLongValueInline) return;
  if (h.flags == kLongValueSinglePage) {
    deleteLongValueRow(channel, h.page, h.row);
    return;
  }
  // Collect the chain first (bounded, no loops), then delete its rows.
  const PageSource pages = pageSourceOf(channel);
  std::vector<std::pair<std::uint32_t, std::uint8_t>> chain;
  std::set<std::pair<std::uint32_t, std::uint8_t>> seen;
  std::size_t collected = 0;
  std::uint32_t page = h.page;
  std::uint8_t row = h.row;
  while (collected < h.length) {
    if (page == 0 || !seen.emplace(page, row).second)
      throw Error("long value chain is broken at page " + std::to_string(page));
    const std::vector<std::uint8_t> bytes = readLongValueRow(pages, page, row);
    if (bytes.size() < kChainPointerSize) throw Error(where(page, row) + ": too short");
    chain.emplace_back(page, row);
    collected += bytes.size() - kChainPointerSize;
    const std::uint32_t next = get32(bytes, 0);
    row = static_cast<std::uint8_t>(next & 0xFF);
    page = next >> 8;
  }
  for (const auto& [p, r] : chain) deleteLongValueRow(channel, p, r);
}

}  // namespace engine
