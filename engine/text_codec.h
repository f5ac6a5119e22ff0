// Text as Jet 4 stores it: UTF-16LE, optionally in the "compressed unicode"
// form, and the name matching rule of the engine.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

// UTF-16LE to UTF-8. Unpaired surrogates become U+FFFD; a trailing odd byte
// is dropped.
std::string utf16leToUtf8(std::span<const std::uint8_t> bytes);

// UTF-8 to UTF-16LE; Error on invalid UTF-8 (overlong forms, surrogates,
// truncated sequences, code points above U+10FFFF).
std::vector<std::uint8_t> utf8ToUtf16le(std::string_view utf8);

// Decodes a stored text or memo value. A value that starts with FF FE is
// compressed: what follows is a sequence of runs, starting with a run of
// one-byte characters (U+0001..U+00FF); every 00 byte switches between that
// and a run of UTF-16LE code units. Anything else is plain UTF-16LE.
std::string decodeTextValue(std::span<const std::uint8_t> stored);

// Encodes text for storage. With compress set (the column has Unicode
// compression switched on) the value is written compressed exactly when it
// has more than 2 and at most kMaxCompressedChars UTF-16 code units, all of
// them in U+0001..U+00FF: FF FE followed by one byte per character.
// Otherwise, or when compress is false, it is plain UTF-16LE.
inline constexpr std::size_t kMaxCompressedChars = 1024;
std::vector<std::uint8_t> encodeTextValue(std::string_view utf8, bool compress);

// Name comparison of the engine (table and column names). Two names are equal
// when they have the same code points after folding each one:
//   - ASCII A-Z fold to a-z;
//   - Latin-1 capitals U+00C0..U+00DE (except U+00D7) fold to their small
//     letters U+00E0..U+00FE;
//   - Turkish: G-breve U+011E folds to U+011F, S-cedilla U+015E to U+015F,
//     and the four letters I, i, U+0130 (capital I with dot) and U+0131
//     (small dotless i) all fold to i, so the name matches under both the
//     Turkish and the Western casing of i;
//   - everything else stands for itself.
// Invalid UTF-8 bytes compare as themselves.
bool caseInsensitiveEqual(std::string_view a, std::string_view b);
// The folded form of a name: two names are caseInsensitiveEqual exactly when
// their folded forms are equal (a key for sets of names).
std::u32string foldedName(std::string_view name);

}  // namespace engine
