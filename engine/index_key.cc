#include "engine/index_key.h"

#include <algorithm>

#include "engine/error.h"

namespace engine {
namespace {

constexpr std::uint8_t kAscendingNotNull = 0x7F;
constexpr std::uint8_t kEndText = 0x01;
constexpr std::uint8_t kEndExtraText = 0x00;

// General (legacy) codes of A..Z; a..z fold onto them.
constexpr std::uint8_t kLetterCodes[26] = {0x4A, 0x4C, 0x4D, 0x4F, 0x51, 0x53, 0x55, 0x57, 0x59,
                                           0x5B, 0x5C, 0x5E, 0x60, 0x62, 0x64, 0x66, 0x68, 0x69,
                                           0x6B, 0x6D, 0x6F, 0x71, 0x73, 0x75, 0x76, 0x78};

// Appends the codes of c; false when c has no known code.
bool appendCharCode(IndexEntry* out, char c) {
  std::uint8_t u = static_cast<std::uint8_t>(c);
  if (u >= '0' && u <= '9') {
    if (out) out->push_back(static_cast<std::uint8_t>(0x36 + 2 * (u - '0')));
    return true;
  }
  if (u >= 'a' && u <= 'z') u = static_cast<std::uint8_t>(u - 'a' + 'A');
  if (u >= 'A' && u <= 'Z') {
    if (out) out->push_back(kLetterCodes[u - 'A']);
    return true;
  }
  if (u == '_') {
    if (out) out->insert(out->end(), {0x2B, 0x03});
    return true;
  }
  return false;
}

}  // namespace

void appendLongKey(IndexEntry& out, std::int32_t value) {
  auto v = static_cast<std::uint32_t>(value) ^ 0x80000000u;
  out.push_back(kAscendingNotNull);
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

bool textKeyKnown(std::string_view name) {
  return std::all_of(name.begin(), name.end(), [](char c) { return appendCharCode(nullptr, c); });
}

void appendTextKey(IndexEntry& out, std::string_view name) {
  if (!textKeyKnown(name))
    throw Error("the name '" + std::string(name) + "' has characters whose index code is not known");
  out.push_back(kAscendingNotNull);
  for (char c : name) appendCharCode(&out, c);
  out.push_back(kEndText);
  out.push_back(kEndExtraText);
}

void appendRowPointer(IndexEntry& out, std::uint32_t page, std::uint8_t row) {
  if (page > 0xFFFFFFu) throw Error("page number too large for an index entry");
  out.push_back(static_cast<std::uint8_t>(page >> 16));
  out.push_back(static_cast<std::uint8_t>(page >> 8));
  out.push_back(static_cast<std::uint8_t>(page));
  out.push_back(row);
}

std::span<const std::uint8_t> entryKey(const IndexEntry& entry) {
  std::size_t n = entry.size() >= kRowPointerSize ? entry.size() - kRowPointerSize : entry.size();
  return std::span<const std::uint8_t>(entry.data(), n);
}

bool entryLess(const IndexEntry& a, const IndexEntry& b) {
  auto ka = entryKey(a), kb = entryKey(b);
  if (std::lexicographical_compare(ka.begin(), ka.end(), kb.begin(), kb.end())) return true;
  if (!std::equal(ka.begin(), ka.end(), kb.begin(), kb.end())) return false;
  return std::lexicographical_compare(a.begin() + static_cast<std::ptrdiff_t>(ka.size()), a.end(),
                                      b.begin() + static_cast<std::ptrdiff_t>(kb.size()), b.end());
}

bool sameKey(const IndexEntry& a, const IndexEntry& b) {
  auto ka = entryKey(a), kb = entryKey(b);
  return std::equal(ka.begin(), ka.end(), kb.begin(), kb.end());
}

}  // namespace engine
