// Text of names in the file: column, index and table names.
//
// Names in a table definition are stored as UCS-2 (UTF-16LE); names in
// catalog rows are text values, which may use the compressed form (leading
// FF FE). Both come out as UTF-8. Names compare without regard to letter case.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace engine {

// UTF-16LE to UTF-8; an odd length or an unpaired surrogate is an Error.
std::string nameFromUtf16(std::span<const std::uint8_t> bytes);
// A text value as stored in a row: compressed when it starts with FF FE.
std::string nameFromTextValue(std::span<const std::uint8_t> bytes);
// UTF-8 to UTF-16LE bytes; invalid UTF-8 is an Error.
std::string utf16FromUtf8(std::string_view text);
// Equal when the names differ at most in letter case.
bool sameName(std::string_view a, std::string_view b);

}  // namespace engine
