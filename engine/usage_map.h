// Usage maps: which pages a table (or index, or long-value column) owns, or
// which of its pages have free space.
//
// A map is one row on a data page, pointed to from a table definition by a
// row number and a 3-byte page number. Type 0 (inline) holds a start page
// and a bitmap; type 1 (page-indirect) holds page numbers of usage-map pages
// (type 0x05), each a bitmap of 4092 * 8 pages.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/page_channel.h"

namespace engine {

// Where a usage map lies: row `row` of page `page`.
struct UsageMapRef {
  std::uint8_t row = 0;
  std::uint32_t page = 0;  // 24 bits
};

class UsageMap {
 public:
  enum class Kind : std::uint8_t { Inline = 0, Indirect = 1 };

  // Reads the map; every page number it lists lies inside the file.
  static UsageMap read(PageChannel& channel, UsageMapRef ref);
  // Decodes a map row already in memory (the row's bytes on its page);
  // pageCount bounds the page numbers it may list. Indirect maps read their
  // map pages through the channel.
  static UsageMap decode(std::span<const std::uint8_t> row, PageChannel& channel,
                         std::uint32_t pageCount);

  Kind kind() const { return kind_; }
  UsageMapRef where() const { return where_; }
  // Pages set in the map, ascending.
  const std::vector<std::uint32_t>& pages() const { return pages_; }
  bool contains(std::uint32_t page) const;
  // The usage-map pages (type 0x05) a page-indirect map keeps its bitmaps
  // on, in slot order; empty for an inline map.
  const std::vector<std::uint32_t>& mapPages() const { return mapPages_; }

 private:
  Kind kind_ = Kind::Inline;
  UsageMapRef where_;
  std::vector<std::uint32_t> pages_;
  std::vector<std::uint32_t> mapPages_;
};

}  // namespace engine
