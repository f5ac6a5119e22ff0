#include "engine/data_page.h"

#include <array>
#include <string>

#include "engine/byte_reader.h"
#include "engine/error.h"

namespace engine {
namespace {

constexpr int kMaxOverflowHops = 4;

std::string where(std::uint32_t page, std::uint16_t row) {
  return "row " + std::to_string(row) + " of page " + std::to_string(page);
}

}  // namespace

DataPage::DataPage(const Page& page, std::uint32_t number) : page_(page), number_(number) {
  if (page_[0] != kPageTypeData)
    throw Error("page " + std::to_string(number) + " is not a data page");
  rowCount_ = ByteReader(page_, "data page").u16(kRowCountOffset);
  if (kFirstRowPointer + 2 * std::size_t{rowCount_} > kPageSize)
    throw Error("page " + std::to_string(number) + " claims " + std::to_string(rowCount_) +
                " rows, more than a page holds");
}

std::uint32_t DataPage::tableDefinitionPage() const {
  return ByteReader(page_, "data page").u32(4);
}

void DataPage::refuseRow(std::uint16_t i) const { throw Error("no " + where(number_, i)); }

void DataPage::refuseBounds(std::uint16_t i, const RowPointer& p) const {
  throw Error(where(number_, i) + " has bad bounds " + std::to_string(p.start) + ".." + std::to_string(p.end));
}

std::span<const std::uint8_t> DataPage::rowBytes(std::uint16_t i) const {
  RowPointer p = row(i);
  if (p.deleted) throw Error(where(number_, i) + " is deleted");
  return std::span<const std::uint8_t>(page_).subspan(p.start, p.end - p.start);
}

std::optional<RowBytes> rowBytesOf(PageChannel& channel, const DataPage& page, std::uint16_t row) {
  RowPointer p = page.row(row);
  if (p.deleted) return std::nullopt;
  if (!p.overflow) return RowBytes{nullptr, page.rowBytes(row)};
  // Follow the pointer; the target rows are flagged deleted, which is
  // ignored here (only the first row's flag counts).
  RowId at{page.number(), row};
  auto span = std::span<const std::uint8_t>(page.page()).subspan(p.start, p.end - p.start);
  std::array<RowId, kMaxOverflowHops + 1> seen{};
  std::size_t seenCount = 0;
  seen[seenCount++] = at;
  std::shared_ptr<const Page> current;
  for (int hop = 0;; ++hop) {
    if (hop >= kMaxOverflowHops)
      throw Error("overflow rows from " + where(page.number(), row) + " go on too long");
    if (span.size() < 4) throw Error("the overflow pointer of " + where(at.page, at.row) + " is cut short");
    ByteReader r(span, "overflow pointer");
    RowId next{r.u24(1), r.u8(0)};
    for (std::size_t i = 0; i < seenCount; ++i)
      if (seen[i].page == next.page && seen[i].row == next.row)
        throw Error("overflow rows from " + where(page.number(), row) + " form a loop");
    seen[seenCount++] = next;
    current = channel.pageView(next.page);
    DataPage target(*current, next.page);
    if (next.row >= target.rowCount())
      throw Error("overflow pointer leads to missing " + where(next.page, next.row));
    // Bounds of the target row are checked as if it were not deleted.
    ByteReader tr(*current, "data page");
    std::uint16_t rawPtr = tr.u16(DataPage::kFirstRowPointer + 2 * std::size_t{next.row});
    std::uint16_t start = rawPtr & DataPage::kOffsetMask;
    std::uint16_t end =
        next.row == 0 ? static_cast<std::uint16_t>(kPageSize)
                      : static_cast<std::uint16_t>(
                            tr.u16(DataPage::kFirstRowPointer + 2 * std::size_t{next.row - 1u}) &
                            DataPage::kOffsetMask);
    std::size_t headerEnd = DataPage::kFirstRowPointer + 2 * std::size_t{target.rowCount()};
    if (start < headerEnd || start > end || end > kPageSize)
      throw Error(where(next.page, next.row) + " has bad bounds");
    span = std::span<const std::uint8_t>(*current).subspan(start, end - start);
    at = next;
    if ((rawPtr & DataPage::kOverflowFlag) == 0) return RowBytes{current, span};
  }
}

std::optional<std::vector<std::uint8_t>> readRowData(PageChannel& channel, const DataPage& page,
                                                     std::uint16_t row) {
  std::optional<RowBytes> found = rowBytesOf(channel, page, row);
  if (!found) return std::nullopt;
  return std::vector<std::uint8_t>(found->bytes.begin(), found->bytes.end());
}

std::optional<std::vector<std::uint8_t>> readRowData(PageChannel& channel, RowId id) {
  Page page = channel.readPage(id.page);
  DataPage dp(page, id.page);
  return readRowData(channel, dp, id.row);
}

}  // namespace engine
