// Data pages (type 0x01) and their row pointer table.
//
// Header: type, 1, free space (2), owning TDEF page (4), 4 unknown, row
// count (2) at offset 12, then one 2-byte row pointer per row. A pointer's
// low 13 bits give the row's start; row i ends where row i-1 starts (row 0 at
// the end of the page). Flag 0x8000 marks a deleted row, 0x4000 a row whose
// 4 bytes point to where its data really lies (an overflow row).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "engine/page_channel.h"

namespace engine {

inline constexpr std::uint8_t kPageTypeData = 0x01;
inline constexpr std::uint8_t kPageTypeTableDefinition = 0x02;
inline constexpr std::uint8_t kPageTypeUsageMap = 0x05;

struct RowPointer {
  std::uint16_t start = 0;
  std::uint16_t end = 0;
  bool deleted = false;
  bool overflow = false;
};

// A row's address: page and row number on it.
struct RowId {
  std::uint32_t page = 0;
  std::uint16_t row = 0;
  bool operator==(const RowId&) const = default;
};

class DataPage {
 public:
  static constexpr std::size_t kRowCountOffset = 12;
  static constexpr std::size_t kFirstRowPointer = 14;
  static constexpr std::uint16_t kDeletedFlag = 0x8000;
  static constexpr std::uint16_t kOverflowFlag = 0x4000;
  static constexpr std::uint16_t kOffsetMask = 0x1FFF;

  // Checks the page type and that the row pointer table fits the page.
  DataPage(const Page& page, std::uint32_t number);

  std::uint32_t number() const { return number_; }
  std::uint32_t tableDefinitionPage() const;
  std::uint16_t rowCount() const { return rowCount_; }
  // The pointer of row i with its bounds checked: header end <= start <= end
  // <= page size. Inline: a scan asks for every row's, and a pointer
  // returned from a call is stored member by member and read back as one
  // word, a store the processor cannot forward.
  RowPointer row(std::uint16_t i) const {
    if (i >= rowCount_) [[unlikely]]
      refuseRow(i);
    const std::uint16_t raw = pointerAt(i);
    RowPointer p;
    p.deleted = (raw & kDeletedFlag) != 0;
    p.overflow = (raw & kOverflowFlag) != 0;
    p.start = raw & kOffsetMask;
    p.end = i == 0 ? static_cast<std::uint16_t>(kPageSize) : pointerAt(i - 1u) & kOffsetMask;
    if (!p.deleted && (p.start < kFirstRowPointer + 2 * std::size_t{rowCount_} || p.start > p.end ||
                       p.end > kPageSize)) [[unlikely]]
      refuseBounds(i, p);
    return p;
  }
  std::span<const std::uint8_t> rowBytes(std::uint16_t i) const;
  const Page& page() const { return page_; }

 private:
  // Within the page for every row i < rowCount_: the constructor held the
  // pointer table against the page.
  std::uint16_t pointerAt(std::size_t i) const {
    return static_cast<std::uint16_t>(page_[kFirstRowPointer + 2 * i] | page_[kFirstRowPointer + 2 * i + 1] << 8);
  }
  [[noreturn]] void refuseRow(std::uint16_t i) const;
  [[noreturn]] void refuseBounds(std::uint16_t i, const RowPointer& p) const;

  const Page& page_;
  std::uint32_t number_;
  std::uint16_t rowCount_;
};

// The bytes of a row, following overflow pointers (at most a few hops, never
// in a loop). Empty when the row is deleted.
std::optional<std::vector<std::uint8_t>> readRowData(PageChannel& channel, RowId id);
// The same for a row whose page is already read.
std::optional<std::vector<std::uint8_t>> readRowData(PageChannel& channel, const DataPage& page,
                                                     std::uint16_t row);

// A row's bytes where they lie, without a copy: in `page`'s own bytes, or in
// the page the row's overflow pointers lead to, which `holds` keeps alive.
struct RowBytes {
  std::shared_ptr<const Page> holds;
  std::span<const std::uint8_t> bytes;
};
// As readRowData, the bytes left in place.
std::optional<RowBytes> rowBytesOf(PageChannel& channel, const DataPage& page, std::uint16_t row);

}  // namespace engine
