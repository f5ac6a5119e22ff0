// Adding a primary key to a stored user table that holds no rows yet, as
// Access's table designer stores one (FORMAT.md 8.2): one real index over the
// column, unique and required, an empty leaf as its root, its usage map on
// the table's usage-map page, and the logical index "PrimaryKey" over it.
//
// In one write transaction of its own. Refused, with nothing changed: a
// column the table lacks or whose keys the engine does not write (Long and
// Text only, table_indexes.h), a table with rows or with a primary key
// already, a definition the writer cannot extend (table_definition_writer.h),
// a channel that is read-only or in a transaction.
#pragma once

#include <cstdint>
#include <string>

#include "engine/page_channel.h"

namespace engine {

inline constexpr const char* kPrimaryKeyName = "PrimaryKey";

void addPrimaryKey(PageChannel& channel, std::uint32_t definitionPage, const std::string& columnName);

}  // namespace engine
