#include "engine/index_page.h"

#include <algorithm>
#include <bit>
#include <span>
#include <string>

#include "engine/error.h"
#include "engine/little_endian.h"

namespace engine {
namespace {

std::uint32_t getBigEndian32(std::span<const std::uint8_t> b) {
  return std::uint32_t{b[0]} << 24 | std::uint32_t{b[1]} << 16 | std::uint32_t{b[2]} << 8 | b[3];
}

}  // namespace

IndexPage IndexPage::empty(bool leaf, std::uint32_t owner) {
  IndexPage p;
  p.leaf = leaf;
  p.owner = owner;
  p.storedFreeSpace = kEntrySpace;
  return p;
}

IndexPage IndexPage::decode(const Page& page, std::uint32_t number) {
  const std::string where = "index page " + std::to_string(number);
  if (page[0] != kLeafType && page[0] != kNodeType)
    throw Error("page " + std::to_string(number) + " is not an index page");
  IndexPage p;
  std::copy(page.begin(), page.begin() + kMaskOffset, p.header_.begin());
  p.leaf = page[0] == kLeafType;
  p.storedMarker = page[1];
  p.storedFreeSpace = get16(page, kFreeSpaceOffset);
  p.owner = get32(page, kOwnerOffset);
  p.prev = get32(page, kPrevOffset);
  p.next = get32(page, kNextOffset);
  p.tail = get32(page, kTailOffset);
  p.storedPrefix = get16(page, kPrefixOffset);

  const std::size_t minimum = 1 + kRowPointerSize + (p.leaf ? 0 : kChildPointerSize);
  std::size_t last = 0;  // stored bytes of the entries before the current one
  std::span<const std::uint8_t> prefix;  // the first `storedPrefix` bytes of the first entry
  // The mask a byte at a time, each set bit in turn: an entry ends there.
  for (std::size_t byte = 0; byte < kMaskSize; ++byte) {
    for (unsigned bits = page[kMaskOffset + byte]; bits != 0; bits &= bits - 1) {
      const std::size_t end = byte * 8 + static_cast<std::size_t>(std::countr_zero(bits));
      if (end > kEntrySpace) throw Error(where + ": its entry mask points past the page");
      auto from = page.begin() + static_cast<std::ptrdiff_t>(kEntryStart + last);
      auto to = page.begin() + static_cast<std::ptrdiff_t>(kEntryStart + end);
      IndexEntry e;
      if (p.entries.empty()) {
        if (p.storedPrefix > end) throw Error(where + ": its prefix is longer than its first entry");
        prefix = std::span<const std::uint8_t>(&*from, p.storedPrefix);
        e.assign(from, to);
      } else {
        e.reserve(prefix.size() + (end - last));
        e.assign(prefix.begin(), prefix.end());
        e.insert(e.end(), from, to);
      }
      if (e.size() < minimum)
        throw Error(where + ": an entry of " + std::to_string(e.size()) + " bytes is too short");
      if (!p.leaf) {
        p.children.push_back(getBigEndian32(std::span<const std::uint8_t>(e).last(kChildPointerSize)));
        e.resize(e.size() - kChildPointerSize);
      }
      p.entries.push_back(std::move(e));
      last = end;
    }
  }
  p.storedBytes = last;
  return p;
}

std::size_t IndexPage::prefixToWrite() const {
  std::size_t whole = 0;
  for (const auto& e : entries) whole += e.size() + (leaf ? 0 : kChildPointerSize);
  if (whole <= kEntrySpace || entries.size() < 2) return 0;
  auto a = entryKey(entries.front()), b = entryKey(entries.back());
  auto diff = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
  return static_cast<std::size_t>(diff.first - a.begin());
}

std::size_t IndexPage::encodedSize() const {
  std::size_t prefix = prefixToWrite();
  std::size_t total = 0;
  for (const auto& e : entries) total += e.size() + (leaf ? 0 : kChildPointerSize);
  return entries.empty() ? 0 : total - prefix * (entries.size() - 1);
}

Page IndexPage::encode() const {
  if (!leaf && children.size() != entries.size())
    throw Error("an index node page with " + std::to_string(entries.size()) + " entries and " +
                std::to_string(children.size()) + " children");
  const std::size_t prefix = prefixToWrite();
  const std::size_t size = encodedSize();
  if (size > kEntrySpace) throw Error("the index entries do not fit on one page");
  Page page{};
  std::copy(header_.begin(), header_.end(), page.begin());
  page[0] = leaf ? kLeafType : kNodeType;
  page[1] = 0x01;
  put16(page, kFreeSpaceOffset, kEntrySpace - size);
  put32(page, kOwnerOffset, owner);
  put32(page, kPrevOffset, prev);
  put32(page, kNextOffset, next);
  put32(page, kTailOffset, leaf ? 0 : tail);
  put16(page, kPrefixOffset, prefix);
  std::fill(page.begin() + kMaskOffset, page.begin() + kEntryStart, std::uint8_t{0});
  std::size_t at = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const IndexEntry& e = entries[i];
    std::size_t skip = i == 0 ? 0 : prefix;
    auto out = page.begin() + static_cast<std::ptrdiff_t>(kEntryStart + at);
    out = std::copy(e.begin() + static_cast<std::ptrdiff_t>(skip), e.end(), out);
    at += e.size() - skip;
    if (!leaf) {
      std::uint32_t c = children[i];
      for (int shift = 24; shift >= 0; shift -= 8) *out++ = static_cast<std::uint8_t>(c >> shift);
      at += kChildPointerSize;
    }
    page[kMaskOffset + at / 8] = static_cast<std::uint8_t>(page[kMaskOffset + at / 8] | 1u << (at % 8));
  }
  return page;
}

}  // namespace engine
