#include "engine/index_bulk_loader.h"

#include <algorithm>
#include <utility>

#include "engine/error.h"

namespace engine {
namespace {

// Far more levels than any file of 2 GB can need.
constexpr std::size_t kMaxLevels = 24;

}  // namespace


IndexBulkLoader::IndexBulkLoader(PageSink& sink, std::uint32_t owner) : sink_(sink), owner_(owner) {}

IndexBulkLoader::Level IndexBulkLoader::openLevel(bool leaf, std::uint32_t prev) {
  Level l;
  l.page = IndexPage::empty(leaf, owner_);
  l.page.prev = prev;
  l.number = sink_.reserve();
  result_.pages.push_back(l.number);
  return l;
}

void IndexBulkLoader::add(IndexEntry entry) {
  if (entry.size() <= kRowPointerSize) throw Error("an index entry without a key");
  if (result_.entries > 0) {
    if (!entryLess(last_, entry)) throw Error("index entries are not in ascending order");
    if (!sameKey(last_, entry)) ++result_.distinctKeys;
  } else {
    result_.distinctKeys = 1;
  }
  ++result_.entries;
  last_ = entry;
  addAt(0, std::move(entry), 0);
}

void IndexBulkLoader::addAt(std::size_t level, IndexEntry entry, std::uint32_t child) {
  if (level >= kMaxLevels) throw Error("an index deeper than any file can hold");
  if (levels_.size() == level) levels_.push_back(openLevel(level == 0, 0));
  const std::size_t size = entry.size() + (level == 0 ? 0 : IndexPage::kChildPointerSize);
  {
    Level& l = levels_[level];
    l.page.entries.push_back(std::move(entry));
    if (level > 0) l.page.children.push_back(child);
    l.wholeBytes += size;
    // Entries that fit whole fit; beyond that the prefix decides.
    if (l.wholeBytes <= IndexPage::kEntrySpace || l.page.fits()) return;
    if (l.page.entries.size() == 1) throw Error("an index entry longer than a page");
    entry = std::move(l.page.entries.back());
    l.page.entries.pop_back();
    if (level > 0) l.page.children.pop_back();
    l.wholeBytes -= size;
  }
  const std::uint32_t next = sink_.reserve();
  const std::uint32_t closed = levels_[level].number;
  IndexEntry up = close(level, next);
  Level fresh;
  fresh.page = IndexPage::empty(level == 0, owner_);
  fresh.page.prev = closed;
  fresh.number = next;
  result_.pages.push_back(next);
  fresh.page.entries.push_back(std::move(entry));
  if (level > 0) fresh.page.children.push_back(child);
  fresh.wholeBytes = size;
  levels_[level] = std::move(fresh);
  addAt(level + 1, std::move(up), closed);
}

IndexEntry IndexBulkLoader::close(std::size_t level, std::uint32_t next) {
  Level& l = levels_[level];
  IndexPage& p = l.page;
  p.next = next;
  IndexEntry up = p.entries.back();
  // A node's last child is its tail, unless it is its only child.
  if (!p.leaf && p.entries.size() > 1) {
    p.tail = p.children.back();
    p.children.pop_back();
    p.entries.pop_back();
  }
  sink_.write(l.number, p.encode());
  return up;
}

IndexBulkLoader::Result IndexBulkLoader::finish() {
  if (levels_.empty()) {
    levels_.push_back(openLevel(true, 0));
    sink_.write(levels_[0].number, levels_[0].page.encode());
    result_.root = levels_[0].number;
  } else {
    for (std::size_t level = 0; level < levels_.size(); ++level) {
      const std::uint32_t number = levels_[level].number;
      const bool top = level + 1 == levels_.size();
      IndexEntry up = close(level, 0);
      if (top) {
        result_.root = number;
        break;
      }
      addAt(level + 1, std::move(up), number);
    }
  }
  std::sort(result_.pages.begin(), result_.pages.end());
  levels_.clear();
  return std::move(result_);
}

}  // namespace engine
