#include "engine/long_value.h"

#include <algorithm>
#include <set>
#include <string>
#include <utility>

#include "engine/byte_reader.h"
#include "engine/error.h"

namespace engine {
namespace {

constexpr std::uint8_t kDataPageType = 0x01;
constexpr std::size_t kRowCountOffset = 12;
constexpr std::size_t kFirstRowPointer = 14;
constexpr std::uint16_t kDeletedRow = 0x8000;
constexpr std::uint16_t kRowOffsetMask = 0x1FFF;
constexpr std::size_t kChainPointerSize = 4;

std::string where(std::uint32_t page, std::uint8_t row) {
  return "long value row " + std::to_string(row) + " of page " + std::to_string(page);
}

}  // namespace

LongValueHeader parseLongValueHeader(std::span<const std::uint8_t> stored) {
  if (stored.size() < kLongValueHeaderSize)
    throw Error("long value: header of " + std::to_string(stored.size()) +
                " bytes, 12 expected");
  ByteReader r(stored, "long value header");
  LongValueHeader h;
  h.length = r.u24(0);
  h.flags = r.u8(3);
  h.row = r.u8(4);
  h.page = r.u24(5);
  if (h.flags != kLongValueInline && h.flags != kLongValueSinglePage && h.flags != kLongValueChain)
    throw Error("long value: unknown kind " + std::to_string(h.flags));
  return h;
}

PageSource pageSourceOf(PageChannel& channel) {
  PageSource s;
  s.pageCount = channel.pageCount();
  s.read = [&channel](std::uint32_t n) { return channel.readPage(n); };
  return s;
}

std::vector<std::uint8_t> readLongValueRow(const PageSource& pages, std::uint32_t page,
                                           std::uint8_t row) {
  if (page == 0 || page >= pages.pageCount)
    throw Error(where(page, row) + ": the page lies outside the file");
  const Page p = pages.read(page);
  ByteReader r(p, where(page, row));
  if (r.u8(0) != kDataPageType) throw Error(where(page, row) + ": not a data page");
  const std::uint16_t rows = r.u16(kRowCountOffset);
  if (row >= rows)
    throw Error(where(page, row) + ": the page has only " + std::to_string(rows) + " rows");
  const std::size_t tableEnd = kFirstRowPointer + 2 * std::size_t{rows};
  if (tableEnd > kPageSize) throw Error(where(page, row) + ": row pointer table too long");
  const std::uint16_t pointer = r.u16(kFirstRowPointer + 2 * std::size_t{row});
  if ((pointer & kDeletedRow) != 0) throw Error(where(page, row) + ": the row is deleted");
  const std::size_t start = pointer & kRowOffsetMask;
  const std::size_t end =
      row == 0 ? kPageSize : (r.u16(kFirstRowPointer + 2 * (std::size_t{row} - 1)) & kRowOffsetMask);
  if (start < tableEnd || start > end || end > kPageSize)
    throw Error(where(page, row) + ": row bounds " + std::to_string(start) + ".." +
                std::to_string(end) + " are not valid");
  const auto bytes = r.bytes(start, end - start);
  return {bytes.begin(), bytes.end()};
}

std::vector<std::uint8_t> readLongValue(std::span<const std::uint8_t> stored,
                                        const PageSource& pages) {
  const LongValueHeader h = parseLongValueHeader(stored);
  if (h.flags == kLongValueInline) {
    const auto data = stored.subspan(kLongValueHeaderSize);
    if (h.length > data.size())
      throw Error("long value: " + std::to_string(h.length) + " inline bytes declared, " +
                  std::to_string(data.size()) + " present");
    return {data.begin(), data.begin() + h.length};
  }

  // The data lies in the file: it cannot be longer than the file.
  const std::uint64_t fileBytes = std::uint64_t{pages.pageCount} * kPageSize;
  if (h.length > fileBytes)
    throw Error("long value: " + std::to_string(h.length) + " bytes declared in a file of " +
                std::to_string(fileBytes));

  if (h.flags == kLongValueSinglePage) {
    std::vector<std::uint8_t> row = readLongValueRow(pages, h.page, h.row);
    if (row.size() < h.length)
      throw Error(where(h.page, h.row) + ": " + std::to_string(h.length) +
                  " bytes declared, the row holds " + std::to_string(row.size()));
    row.resize(h.length);
    return row;
  }

  std::vector<std::uint8_t> out;
  out.reserve(h.length);
  std::set<std::pair<std::uint32_t, std::uint8_t>> seen;
  std::uint32_t page = h.page;
  std::uint8_t row = h.row;
  while (out.size() < h.length) {
    if (page == 0)
      throw Error("long value: chain ends after " + std::to_string(out.size()) + " of " +
                  std::to_string(h.length) + " bytes");
    if (!seen.emplace(page, row).second) throw Error(where(page, row) + ": the chain loops");
    const std::vector<std::uint8_t> bytes = readLongValueRow(pages, page, row);
    ByteReader r(bytes, where(page, row));
    const std::uint32_t next = r.u32(0);
    // A last row longer than the rest of the value contributes only what
    // the header declares.
    const std::size_t part =
        std::min<std::size_t>(bytes.size() - kChainPointerSize, h.length - out.size());
    const auto first = bytes.begin() + kChainPointerSize;
    out.insert(out.end(), first, first + static_cast<std::ptrdiff_t>(part));
    row = static_cast<std::uint8_t>(next & 0xFF);
    page = next >> 8;
  }
  return out;
}

}  // namespace engine
