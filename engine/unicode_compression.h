// Switching Unicode compression of a text or memo column on or off: the
// column's "compressed unicode" flag (bit 0x01 of byte 16 of its block in the
// table definition), as Access's table designer sets it. Values stored later
// in the column are compressed where encodeTextValue compresses them; values
// stored already keep their form (readers tell the two apart by the FF FE
// mark), so existing rows stay valid either way.
#pragma once

#include <cstdint>
#include <string_view>

#include "engine/page_channel.h"

namespace engine {

// In one write transaction of its own. Error when the table has no such
// column (letter case ignored) or the column is neither text nor memo.
void setUnicodeCompression(PageChannel& channel, std::uint32_t definitionPage,
                           std::string_view column, bool on);

}  // namespace engine
