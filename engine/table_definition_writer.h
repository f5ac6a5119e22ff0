// Appending a column to a stored table definition (TDEF) and writing the
// definition back over its pages.
//
// The definition is changed as bytes: the new 25-byte column block goes after
// the last block, its name after the last name, and for a memo or OLE column a
// long-value usage-map entry before the FF FF trailer; the header counts and
// the definition length follow. Everything else (index blocks, index names,
// other usage-map entries, bytes we do not interpret) moves down unchanged.
//
// A definition longer than its pages continues on a new definition page,
// allocated through PageChannel::allocatePage and linked from the last one.
// The first page holds 4096 bytes of the definition, every further page 4088
// after its 8-byte header (02 01 | free space | next page).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/column.h"
#include "engine/page_channel.h"
#include "engine/table_definition.h"
#include "engine/usage_map.h"

namespace engine {

// A column to be added, before the definition numbers and places it.
struct ColumnSpec {
  std::string name;
  std::uint8_t type = 0;       // a ColumnType
  std::uint16_t length = 0;    // bytes: 2 a character for text, 0 for memo
  bool autoIncrement = false;  // Long only
  bool compressedUnicode = false;
};

// The two usage maps of a long-value column.
struct LongValueMapRefs {
  UsageMapRef ownedPages;
  UsageMapRef freeSpacePages;
};

// The largest number of columns a table may have had (deleted ones count).
inline constexpr std::uint16_t kMaxTableColumns = 255;

// The column as it will be appended: number = the old maximum column count,
// variable index = the next free slot of the variable offset table, fixed
// offset = just after the furthest fixed column (0 for yes/no, whose value is
// its null-mask bit), flags and length by type, and its 25-byte block. Error
// when the table already has had kMaxTableColumns columns or the row's fixed
// area would leave a page.
Column placeColumn(const TableDefinition& definition, const ColumnSpec& spec);

// The definition's bytes as stored: offset 0 through the end of its
// definition length (header included, nothing after). Error when the
// definition length does not cover the sections, or the FF FF trailer is
// missing (a definition we do not understand well enough to extend).
std::vector<std::uint8_t> definitionBytes(const TableDefinition& definition);

// The definition's bytes with `column` (from placeColumn) appended; `maps`
// for a long-value column.
std::vector<std::uint8_t> definitionWithColumn(const TableDefinition& definition,
                                               const Column& column,
                                               const std::optional<LongValueMapRefs>& maps);

// Writes definition bytes over the definition's pages (first page first),
// within the channel's open transaction; when they need more pages, new ones
// are allocated and linked from the last. Returns the pages used. Page
// headers, free-space fields and next-page links are set; the rest of each
// page after the definition is zero.
std::vector<std::uint32_t> writeDefinitionPages(PageChannel& channel,
                                                const TableDefinition& definition,
                                                std::span<const std::uint8_t> bytes);

// Pages a definition of that many bytes takes: the first page holds 4096
// bytes of it, every further one 4088.
std::size_t definitionPageCount(std::size_t bytes);

// The definition pages for these bytes, to be stored at `pages` (at least
// definitionPageCount of them), as writeDefinitionPages writes them.
std::vector<Page> encodeDefinitionPages(std::span<const std::uint8_t> bytes,
                                        const std::vector<std::uint32_t>& pages);

// Adds two empty inline usage-map rows for a new long-value column: on the
// page of the table's own usage maps when it has room, else on a new page.
// Within the channel's open transaction.
LongValueMapRefs addLongValueUsageMaps(PageChannel& channel, const TableDefinition& definition);

}  // namespace engine
