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
  // <= page size.
  RowPointer row(std::uint16_t i) const;
  std::span<const std::uint8_t> rowBytes(std::uint16_t i) const;
  const Page& page() const { return page_; }

 private:
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
