// Index entries of Jet 4 indexes: the key bytes of Long and Text columns in
// the "General" (legacy) sort order, and the entries of a leaf page.
//
// Layout and codes: FORMAT.md, section 3. Only the characters whose codes
// are known for certain are encoded (ASCII letters, digits, underscore);
// any other character makes a text key unknown, and callers refuse the name
// rather than write an entry the real engine would misread.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "engine/page_channel.h"

namespace engine {

using IndexEntry = std::vector<std::uint8_t>;

// Appends the ascending key of a non-null Long column: 0x7F, then the value
// big-endian with its sign bit flipped.
void appendLongKey(IndexEntry& out, std::int32_t value);

// Whether every character of the name has a known text key code.
bool textKeyKnown(std::string_view name);

// Appends the ascending key of a non-null Text column: 0x7F, the codes of
// the characters (letters case-folded), 0x01, 0x00. Error when
// textKeyKnown(name) is false.
void appendTextKey(IndexEntry& out, std::string_view name);

// Appends a leaf entry's row: page number (3 bytes big-endian), row number.
void appendRowPointer(IndexEntry& out, std::uint32_t page, std::uint8_t row);

// The whole entries of a leaf index page (type 0x04), in page order, with the
// shared prefix put back. Error when the page is not a leaf or its mask,
// prefix or entries do not fit the page.
std::vector<IndexEntry> readLeafEntries(const Page& page);

// Rewrites the entries of a leaf page (header fields other than the free
// space, prefix length and mask are kept), without prefix compression.
// Error when they do not fit on one page.
void writeLeafEntries(Page& page, const std::vector<IndexEntry>& entries);

// Puts the entry at its place in the ascending order of a single-leaf
// index (re-encoding the page without prefix compression); Error when the
// page holds it already or has no room (a page split is not supported).
void insertLeafEntry(Page& page, const IndexEntry& entry);
// Takes the entry off the page; Error when it is not there.
void removeLeafEntry(Page& page, const IndexEntry& entry);

// Bytes the entries take on a leaf page without prefix compression; a page
// holds kLeafEntrySpace of them.
inline constexpr std::size_t kLeafEntryStart = 27 + 453;
inline constexpr std::size_t kLeafEntrySpace = kPageSize - kLeafEntryStart;

}  // namespace engine
