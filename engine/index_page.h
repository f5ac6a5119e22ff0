// One page of a Jet 4 index B-tree, decoded: a leaf page (type 0x04) holds
// entries (key and row pointer), a node page (type 0x03) holds one entry per
// child page (that child's last entry, then the child's page number, 4 bytes
// big-endian) and names its last child in the tail field without an entry.
//
// Layout (FORMAT.md 3.1): type, 0x01, free space (2), owning table
// definition page (4), 4 unknown bytes, previous and next page at the same
// level (4 + 4), tail child (4), shared prefix length (2) at 24, byte 26
// (0 from Jackcess, 1 on an Access node page), the entry mask (453 bytes at
// 27, a bit set where an entry ends, counted from 480), the entries from 480.
// With a prefix, the first entry is stored whole and every later one without
// its first `prefix` bytes.
//
// decode() reads whatever prefix is stored; encode() writes the entries
// whole when they fit and otherwise with the prefix the first and last
// entries' keys share, as Jackcess does (IndexData.writeDataPage,
// IndexPageCache.preparePagesForWriting). Bytes 8..11 and 26 are kept as
// read; the free-space field follows the entries.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "engine/index_key.h"
#include "engine/page_channel.h"

namespace engine {

class IndexPage {
 public:
  static constexpr std::uint8_t kLeafType = 0x04;
  static constexpr std::uint8_t kNodeType = 0x03;
  static constexpr std::size_t kFreeSpaceOffset = 2;
  static constexpr std::size_t kOwnerOffset = 4;
  static constexpr std::size_t kPrevOffset = 12;
  static constexpr std::size_t kNextOffset = 16;
  static constexpr std::size_t kTailOffset = 20;
  static constexpr std::size_t kPrefixOffset = 24;
  static constexpr std::size_t kMaskOffset = 27;
  static constexpr std::size_t kMaskSize = 453;
  static constexpr std::size_t kEntryStart = kMaskOffset + kMaskSize;  // 480
  // Bytes of entries a page holds (4096 - 480).
  static constexpr std::size_t kEntrySpace = kPageSize - kEntryStart;
  static constexpr std::size_t kChildPointerSize = 4;

  // An empty page of the index of the table whose definition is at owner.
  static IndexPage empty(bool leaf, std::uint32_t owner);
  // Decodes page `number`. Error when it is not an index page, or its mask,
  // prefix or entries do not fit the page (each entry needs a key byte and
  // its row pointer, node entries their child page as well).
  static IndexPage decode(const Page& page, std::uint32_t number);

  // The page as encode() would write it: Error when the entries do not fit.
  Page encode() const;
  // Prefix length encode() writes: 0 when the entries fit whole.
  std::size_t prefixToWrite() const;
  // Bytes the entries take with that prefix.
  std::size_t encodedSize() const;
  bool fits() const { return encodedSize() <= kEntrySpace; }

  // Children of a node page: one per entry, then the tail (when set).
  std::size_t childCount() const { return children.size() + (tail != 0 ? 1 : 0); }
  std::uint32_t child(std::size_t slot) const { return slot < children.size() ? children[slot] : tail; }

  bool leaf = true;
  std::uint32_t owner = 0;
  std::uint32_t prev = 0;
  std::uint32_t next = 0;
  std::uint32_t tail = 0;  // node pages: the last child, which has no entry
  // Whole entries, prefix put back, in page order (key and row pointer; a
  // node entry's child is in `children`).
  std::vector<IndexEntry> entries;
  std::vector<std::uint32_t> children;

  // As decode() found them, for checks: byte 1, the free-space field, the
  // prefix length, and the bytes of entries as stored.
  std::uint8_t storedMarker = 1;
  std::uint16_t storedFreeSpace = 0;
  std::uint16_t storedPrefix = 0;
  std::size_t storedBytes = 0;

 private:
  std::array<std::uint8_t, kMaskOffset> header_{};
};

}  // namespace engine
