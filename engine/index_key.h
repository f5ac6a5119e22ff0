// Index entries of Jet 4 indexes: the key bytes of Long and Text columns in
// the "General" sort order (version 0, sort_order.h), and the order of
// entries. The pages that hold them are index_page.h, the tree index_tree.h.
//
// Layout and codes: FORMAT.md, section 3. Only the characters whose codes
// are known for certain are encoded (ASCII letters, digits, underscore);
// any other character makes a text key unknown, and callers refuse the name
// rather than write an entry the real engine would misread.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

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

// A leaf entry is its key followed by the row: kRowPointerSize bytes.
inline constexpr std::size_t kRowPointerSize = 4;

// The key of an entry: every byte but its row pointer (the whole entry when
// it is shorter than one).
std::span<const std::uint8_t> entryKey(const IndexEntry& entry);

// The order of an index: by key bytes (unsigned, a key that is a prefix of
// another comes first), then by row pointer.
bool entryLess(const IndexEntry& a, const IndexEntry& b);
// Whether two entries have the same key.
bool sameKey(const IndexEntry& a, const IndexEntry& b);

}  // namespace engine
