// Changing the rows of a data page (layout in data_page.h).
//
// Rows lie back to back from the end of the page: row 0 at the end, each
// further row right before the previous one, so that row i ends where row
// i-1 starts. The free space field (offset 2) is the room between the row
// pointer table and the lowest row. These functions keep all of that, and
// leave the page unchanged when they throw.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "engine/page_channel.h"

namespace engine {

// Free space of a fresh data page: the page less its 14-byte header.
inline constexpr std::size_t kEmptyDataPageFreeSpace = kPageSize - 14;
// Rows a data page may hold: an index entry names the row in one byte.
inline constexpr std::size_t kMaxRowsOnDataPage = 255;

// A data page of the table whose definition starts at tableDefinitionPage,
// without rows.
Page newDataPage(std::uint32_t tableDefinitionPage);

// Room left on the page for row bytes and their pointers, from the actual
// layout (not the stored field). Error when the page is not a data page or
// its rows do not lie back to back.
std::size_t dataPageFreeSpace(const Page& page);

// Whether a new row of rowSize bytes (plus its 2-byte pointer) fits, and
// the page holds fewer than kMaxRowsOnDataPage rows.
bool rowFits(const Page& page, std::size_t rowSize);

// Adds a row at the end of the pointer table, its bytes right below the
// lowest row; flags (DataPage::kDeletedFlag, kOverflowFlag) go into its
// pointer. Returns the new row's number. Error when rowFits is false.
std::uint16_t insertRow(Page& page, std::span<const std::uint8_t> row, std::uint16_t flags = 0);

// Replaces the bytes of row `row` (its pointer flags kept) with bytes of any
// length; the rows below it move so that the page stays packed. Error when
// the row does not exist or the page lacks room.
void replaceRow(Page& page, std::uint16_t row, std::span<const std::uint8_t> bytes);

// Sets or clears flag bits in the pointer of row `row`.
void setRowFlags(Page& page, std::uint16_t row, std::uint16_t set, std::uint16_t clear = 0);

// Whether the rows lie back to back from the end of the page in row order
// (what the functions here need; every page they write is so).
bool rowsLieBackToBack(const Page& page);

// Deletes row `row` as Access deletes rows (FORMAT.md 8.1): its pointer is
// flagged deleted and overflow (0xC000) and its bytes go back to the page,
// the rows after it moving up by its length; it keeps its number, now with
// no bytes, and so does every other row (index entries and overflow
// pointers stay valid). Error when the row does not exist.
void deleteRow(Page& page, std::uint16_t row);

}  // namespace engine
