#include "engine/index_key.h"

#include <algorithm>

#include "engine/error.h"
#include "engine/little_endian.h"

namespace engine {
namespace {

constexpr std::uint8_t kAscendingNotNull = 0x7F;
constexpr std::uint8_t kEndText = 0x01;
constexpr std::uint8_t kEndExtraText = 0x00;
constexpr std::uint8_t kLeafPage = 0x04;
constexpr std::size_t kPrefixLengthOffset = 24;
constexpr std::size_t kMaskOffset = 27;
constexpr std::size_t kMaskSize = 453;

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

std::vector<IndexEntry> readLeafEntries(const Page& page) {
  if (page[0] != kLeafPage) throw Error("not a leaf index page");
  std::size_t prefixLength = get16(page, kPrefixLengthOffset);
  std::vector<IndexEntry> entries;
  std::size_t last = 0;  // bytes of entries before the current one
  IndexEntry prefix;
  for (std::size_t bit = 0; bit < kMaskSize * 8; ++bit) {
    if (!((page[kMaskOffset + bit / 8] >> (bit % 8)) & 1)) continue;
    std::size_t end = bit;  // the entry ends `end` bytes after kLeafEntryStart
    if (end <= last || kLeafEntryStart + end > kPageSize)
      throw Error("index page entry mask points outside the page");
    auto from = page.begin() + static_cast<std::ptrdiff_t>(kLeafEntryStart + last);
    auto to = page.begin() + static_cast<std::ptrdiff_t>(kLeafEntryStart + end);
    IndexEntry entry;
    if (entries.empty()) {
      if (prefixLength > end - last) throw Error("index page prefix longer than its first entry");
      prefix.assign(from, from + static_cast<std::ptrdiff_t>(prefixLength));
    } else {
      entry = prefix;
    }
    entry.insert(entry.end(), from, to);
    entries.push_back(std::move(entry));
    last = end;
  }
  return entries;
}

void writeLeafEntries(Page& page, const std::vector<IndexEntry>& entries) {
  if (page[0] != kLeafPage) throw Error("not a leaf index page");
  std::size_t total = 0;
  for (const auto& e : entries) {
    if (e.empty()) throw Error("an empty index entry");
    total += e.size();
  }
  if (total > kLeafEntrySpace) throw Error("the index entries do not fit on one page");
  std::fill(page.begin() + static_cast<std::ptrdiff_t>(kMaskOffset), page.end(), std::uint8_t{0});
  std::size_t at = 0;
  for (const auto& e : entries) {
    std::copy(e.begin(), e.end(), page.begin() + static_cast<std::ptrdiff_t>(kLeafEntryStart + at));
    at += e.size();
    page[kMaskOffset + at / 8] = static_cast<std::uint8_t>(page[kMaskOffset + at / 8] | 1u << (at % 8));
  }
  put16(page, kPrefixLengthOffset, 0);
  put16(page, 2, kLeafEntrySpace - total);
}

void insertLeafEntry(Page& page, const IndexEntry& entry) {
  auto entries = readLeafEntries(page);
  auto at = std::lower_bound(entries.begin(), entries.end(), entry);
  if (at != entries.end() && *at == entry) throw Error("the index holds this entry already");
  entries.insert(at, entry);
  writeLeafEntries(page, entries);
}

void removeLeafEntry(Page& page, const IndexEntry& entry) {
  auto entries = readLeafEntries(page);
  auto at = std::find(entries.begin(), entries.end(), entry);
  if (at == entries.end()) throw Error("the index does not hold this entry");
  entries.erase(at);
  writeLeafEntries(page, entries);
}

}  // namespace engine
