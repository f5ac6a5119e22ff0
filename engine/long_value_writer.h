// Writing long values (memo and OLE data; the catalog's property blobs) in
// the three forms long_value.h reads: inline in the row, one row of an LVAL
// page, or a chain of LVAL rows.
//
// LVAL pages are data pages whose owner field (offset 4) reads "LVAL". The
// pages of a long-value column are listed in its two usage maps (owned pages,
// pages with free space), whose references the table definition keeps. A
// value that takes one row goes on a page of the column with room (the page
// the caller prefers first), else on a new page that both maps then list; a
// page of the free-space map found without room for the row leaves that map
// (as Jackcess and the row appender keep it), so that full pages are not
// read again on every later write.
// Chain rows each take a new page. Freeing a value deletes its rows and gives
// their space back to the page (the rows after it move up; row numbers, and so
// every reference, stay).
//
// All of it happens inside the channel's open write transaction.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "engine/long_value.h"
#include "engine/page_channel.h"
#include "engine/usage_map.h"

namespace engine {

// Values of at most this many bytes may be stored inline in the row.
inline constexpr std::size_t kMaxInlineLongValue = 64;
// The longest value one LVAL row holds.
inline constexpr std::size_t kMaxLongValueRow = 4076;
// The owner field of an LVAL page: "LVAL".
inline constexpr std::uint32_t kLongValuePageOwner = 0x4C41564Cu;

struct LongValueColumnMaps {
  UsageMapRef ownedPages;
  UsageMapRef freeSpacePages;
};

// Stores `data` and returns what the row keeps for it: the 12-byte header,
// followed by the data itself when inline. Inline when data is at most
// maxInline bytes (0: never inline); one LVAL row when it fits one; else a
// chain. preferPage (0: none) is tried first for a one-row value.
std::vector<std::uint8_t> writeLongValue(PageChannel& channel, const LongValueColumnMaps& maps,
                                         std::span<const std::uint8_t> data,
                                         std::size_t maxInline, std::uint32_t preferPage = 0);

// Deletes the LVAL rows a stored value (header as the row keeps it) points
// to; nothing for an inline value. Error when a row is not where the header
// says.
void freeLongValue(PageChannel& channel, std::span<const std::uint8_t> stored);

// Adds a row to a data page when it fits (free space, row pointer table and
// a one-byte row number); returns the row's number. The page's free space
// field follows.
std::optional<std::uint16_t> addRowToPage(Page& page, std::span<const std::uint8_t> row);

}  // namespace engine
