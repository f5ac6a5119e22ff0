// Which names our engine accepts for tables and fields.
//
// A name is refused when it is empty, longer than 64 characters, starts with
// a blank, holds any of . ! ` [ ] or a control character (U+0000..U+001F,
// U+007F), or is not valid UTF-8. A table name is keyed in the catalog's
// ParentIdName index, so it is refused as well when any of its characters has
// an index code we do not know for certain (index_key.h textKeyKnown).
#pragma once

#include <string_view>

namespace engine {

inline constexpr std::size_t kMaxObjectNameChars = 64;

// Throws Error naming the reason when `name` is not a valid field name.
void checkFieldName(std::string_view name);
// Throws Error naming the reason when `name` is not a valid table name.
void checkTableName(std::string_view name);

}  // namespace engine
