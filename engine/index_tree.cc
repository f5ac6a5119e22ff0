#include "engine/index_tree.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "engine/error.h"
#include "engine/usage_map.h"
#include "engine/usage_map_writer.h"

namespace engine {
namespace {

std::string pageText(std::uint32_t page) { return "page " + std::to_string(page); }

// The first page that may belong to an index: 0 is the header, 1 the global
// usage map, 2 the catalog's definition.
constexpr std::uint32_t kFirstIndexPage = 3;

// Neighbouring leaves looked at past empty ones (which our writer never
// leaves, but Jackcess reads past).
constexpr std::size_t kMaxEmptyNeighbours = 8;

RowId rowOf(const IndexEntry& e) {
  const std::size_t at = e.size() - kRowPointerSize;
  return RowId{std::uint32_t{e[at]} << 16 | std::uint32_t{e[at + 1]} << 8 | e[at + 2], e[at + 3]};
}

// One walk of the whole tree, for entries(), pages() and verify().
class Walk {
 public:
  Walk(PageChannel& channel, std::uint32_t owner, bool throwing,
       const IndexTree::Reporter& report)
      : channel_(channel), owner_(owner), throwing_(throwing), report_(report),
        pageCount_(channel.pageCount()) {}

  std::vector<IndexEntry> entries;
  std::set<std::uint32_t> seen;

  // Walks the subtree at page; returns its last entry (none when it has
  // none or could not be read).
  std::optional<IndexEntry> visit(std::uint32_t page, std::size_t depth, std::uint32_t parent) {
    if (depth >= IndexTree::kMaxDepth) {
      fail(page, "the index is deeper than " + std::to_string(IndexTree::kMaxDepth) + " levels");
      return std::nullopt;
    }
    if (page < kFirstIndexPage || page >= pageCount_) {
      fail(parent, "index page " + std::to_string(page) + " lies outside the file's index pages");
      return std::nullopt;
    }
    if (!seen.insert(page).second) {
      fail(page, "the index reaches " + pageText(page) + " twice");
      return std::nullopt;
    }
    IndexPage p;
    try {
      p = IndexPage::decode(channel_.readPage(page), page);
    } catch (const Error& e) {
      fail(page, e.what());
      return std::nullopt;
    }
    if (p.owner != owner_) {
      fail(page, pageText(page) + " belongs to the table at " + pageText(p.owner) + ", not to " +
                     pageText(owner_));
      return std::nullopt;
    }
    if (levels_.size() <= depth) levels_.resize(depth + 1);
    levels_[depth].push_back({page, parent, p.leaf, p.prev, p.next});

    if (p.storedMarker != 0x01)
      note(page, "byte 1 of the index page is " + std::to_string(p.storedMarker) + ", not 1");
    if (p.storedFreeSpace != IndexPage::kEntrySpace - p.storedBytes)
      note(page, "the free-space field says " + std::to_string(p.storedFreeSpace) +
                     ", the entries leave " + std::to_string(IndexPage::kEntrySpace - p.storedBytes));
    for (std::size_t i = 1; i < p.entries.size(); ++i)
      if (!entryLess(p.entries[i - 1], p.entries[i])) {
        note(page, "entry " + std::to_string(i) + " is not above the entry before it");
        break;
      }

    if (p.leaf) {
      if (p.tail != 0) note(page, "a leaf page names a tail page (" + std::to_string(p.tail) + ")");
      if (leafDepth_ && *leafDepth_ != depth)
        note(page, "a leaf at depth " + std::to_string(depth) + ", another at depth " +
                       std::to_string(*leafDepth_));
      if (!leafDepth_) leafDepth_ = depth;
      if (p.entries.empty() && depth > 0) note(page, "an empty index page below the root");
      if (!p.entries.empty() && previous_ && !entryLess(*previous_, p.entries.front()))
        note(page, "the first entry is not above the last entry of the page before it");
      if (!p.entries.empty()) previous_ = p.entries.back();
      entries.insert(entries.end(), p.entries.begin(), p.entries.end());
      if (p.entries.empty()) return std::nullopt;
      return p.entries.back();
    }

    if (p.childCount() == 0) {
      note(page, "a node page without children");
      return std::nullopt;
    }
    if (p.tail == 0 && p.children.size() > 1)
      note(page, "a node page with several children names no tail");
    if (p.tail != 0 && p.children.empty())
      note(page, "a node page's only child is its tail, without an entry");
    std::optional<IndexEntry> last;
    for (std::size_t slot = 0; slot < p.childCount(); ++slot) {
      const std::uint32_t child = p.child(slot);
      last = visit(child, depth + 1, page);
      if (slot < p.entries.size() && last && *last != p.entries[slot])
        note(page, "entry " + std::to_string(slot) + " differs from the last entry of its child " +
                       pageText(child));
    }
    return last;
  }

  // The links of each level: leaves one chain; node pages linked to their
  // siblings under one parent, and across parents either linked both ways
  // or not at all.
  void checkLinks() {
    for (std::size_t depth = 0; depth < levels_.size(); ++depth) {
      const auto& level = levels_[depth];
      const bool leaves = std::all_of(level.begin(), level.end(), [](const Seen& s) { return s.leaf; });
      if (level.empty()) continue;
      if (level.front().prev != 0)
        note(level.front().page, "the first page of its level names a previous page (" +
                                     std::to_string(level.front().prev) + ")");
      if (level.back().next != 0)
        note(level.back().page, "the last page of its level names a next page (" +
                                    std::to_string(level.back().next) + ")");
      for (std::size_t i = 0; i + 1 < level.size(); ++i) {
        const Seen& a = level[i];
        const Seen& b = level[i + 1];
        const bool linked = a.next == b.page, back = b.prev == a.page;
        if (leaves || a.parent == b.parent) {
          if (!linked)
            note(a.page, "its next page is " + std::to_string(a.next) + ", not " + pageText(b.page));
          if (!back)
            note(b.page, "its previous page is " + std::to_string(b.prev) + ", not " + pageText(a.page));
        } else {
          if ((a.next != 0 && !linked) || (b.prev != 0 && !back) || linked != back)
            note(a.page, "the link to the next node page " + pageText(b.page) + " is not the same both ways");
        }
      }
    }
  }

 private:
  struct Seen {
    std::uint32_t page, parent;
    bool leaf;
    std::uint32_t prev, next;
  };

  // A problem that stops the walk of a subtree.
  void fail(std::uint32_t page, const std::string& problem) {
    if (throwing_) throw Error("index: " + problem + " (" + pageText(page) + ")");
    report_(page, problem);
  }
  // A problem the walk can go past.
  void note(std::uint32_t page, const std::string& problem) {
    if (!throwing_) report_(page, problem);
  }

  PageChannel& channel_;
  std::uint32_t owner_;
  bool throwing_;
  const IndexTree::Reporter& report_;
  std::uint32_t pageCount_;
  std::vector<std::vector<Seen>> levels_;
  std::optional<std::size_t> leafDepth_;
  std::optional<IndexEntry> previous_;
};

}  // namespace

IndexTree::IndexTree(PageChannel& channel, const TableDefinition& definition, std::size_t realIndex)
    : channel_(channel), owner_(definition.page()) {
  if (realIndex >= definition.realIndexes().size())
    throw Error("the table has no index " + std::to_string(realIndex));
  const RealIndex& x = definition.realIndexes()[realIndex];
  root_ = x.firstPage;
  usageMap_ = x.usageMap;
}

// --- reading ---

std::vector<IndexEntry> IndexTree::entries() {
  const Reporter none = [](std::uint32_t, const std::string&) {};
  Walk walk(channel_, owner_, true, none);
  walk.visit(root_, 0, root_);
  return std::move(walk.entries);
}

std::vector<std::uint32_t> IndexTree::pages() {
  const Reporter none = [](std::uint32_t, const std::string&) {};
  Walk walk(channel_, owner_, true, none);
  walk.visit(root_, 0, root_);
  return {walk.seen.begin(), walk.seen.end()};
}

void IndexTree::verify(const Reporter& report) {
  Walk walk(channel_, owner_, false, report);
  walk.visit(root_, 0, root_);
  walk.checkLinks();
  if (usageMap_.page == 0) {
    report(root_, "the index has no usage map");
    return;
  }
  try {
    UsageMap map = UsageMap::read(channel_, usageMap_);
    const auto& listed = map.pages();
    for (std::uint32_t p : walk.seen)
      if (!map.contains(p)) report(p, "the index's usage map does not list " + pageText(p));
    for (std::uint32_t p : listed)
      if (!walk.seen.count(p)) report(p, "the index's usage map lists " + pageText(p) + ", which the index does not use");
  } catch (const Error& e) {
    report(usageMap_.page, std::string("the index's usage map cannot be read: ") + e.what());
  }
}

bool IndexTree::contains(const IndexEntry& entry) {
  begin();
  Path path;
  const IndexPage& leaf = load(descend(entry, path));
  return std::binary_search(leaf.entries.begin(), leaf.entries.end(), entry, entryLess);
}

std::vector<RowId> IndexTree::find(std::span<const std::uint8_t> key) {
  begin();
  IndexEntry probe(key.begin(), key.end());
  probe.insert(probe.end(), kRowPointerSize, 0);  // below every row of the key
  Path path;
  std::uint32_t page = descend(probe, path);
  std::vector<RowId> out;
  std::set<std::uint32_t> seen;
  bool first = true;
  while (page != 0) {
    if (!seen.insert(page).second) throw Error("index: the leaves form a cycle at " + pageText(page));
    const IndexPage& p = load(page);
    if (!p.leaf) throw Error("index: a leaf links to the node " + pageText(page));
    auto it = first ? std::lower_bound(p.entries.begin(), p.entries.end(), probe, entryLess) : p.entries.begin();
    first = false;
    for (; it != p.entries.end(); ++it) {
      if (!sameKey(*it, probe)) return out;
      out.push_back(rowOf(*it));
    }
    page = p.next;
  }
  return out;
}

// --- the pages of one call ---

void IndexTree::begin() {
  pages_.clear();
  changed_.clear();
  freed_.clear();
}

IndexPage& IndexTree::load(std::uint32_t page) {
  if (freed_.count(page)) throw Error("index: " + pageText(page) + " was given back");
  auto it = pages_.find(page);
  if (it != pages_.end()) return it->second;
  if (page < kFirstIndexPage || page >= channel_.pageCount())
    throw Error("index: " + pageText(page) + " lies outside the file's index pages");
  IndexPage p = IndexPage::decode(channel_.readPage(page), page);
  if (p.owner != owner_)
    throw Error("index: " + pageText(page) + " belongs to the table at " + pageText(p.owner));
  if (!p.leaf && p.childCount() == 0) throw Error("index: the node " + pageText(page) + " has no children");
  return pages_.emplace(page, std::move(p)).first->second;
}

void IndexTree::touch(std::uint32_t page) { changed_.insert(page); }

std::uint32_t IndexTree::newPage(bool leaf) {
  const std::uint32_t n = channel_.allocatePage();
  if (usageMap_.page != 0) addPageToUsageMap(channel_, usageMap_, n);
  pages_[n] = IndexPage::empty(leaf, owner_);
  freed_.erase(n);
  touch(n);
  return n;
}

void IndexTree::flush() {
  written_.assign(changed_.begin(), changed_.end());
  written_.insert(written_.end(), freed_.begin(), freed_.end());
  std::vector<std::pair<std::uint32_t, Page>> out;
  for (std::uint32_t n : changed_)
    if (!freed_.count(n)) out.emplace_back(n, pages_.at(n).encode());
  for (const auto& [n, page] : out) channel_.writePage(n, page);
  for (std::uint32_t n : freed_) {
    channel_.freePage(n);
    if (usageMap_.page != 0) removePageFromUsageMap(channel_, usageMap_, n);
  }
  begin();
}

// --- the tree ---

std::uint32_t IndexTree::descend(const IndexEntry& entry, Path& path) {
  path.clear();
  std::uint32_t page = root_;
  for (std::size_t depth = 0;; ++depth) {
    if (depth >= kMaxDepth)
      throw Error("index: deeper than " + std::to_string(kMaxDepth) + " levels");
    const IndexPage& p = load(page);
    if (p.leaf) return page;
    auto it = std::lower_bound(p.entries.begin(), p.entries.end(), entry, entryLess);
    std::size_t slot = static_cast<std::size_t>(it - p.entries.begin());
    if (slot == p.entries.size() && p.tail == 0) slot = p.entries.size() - 1;
    path.push_back({page, slot});
    const std::uint32_t child = p.child(slot);
    for (const Step& s : path)
      if (s.page == child) throw Error("index: its pages form a cycle at " + pageText(child));
    page = child;
  }
}

IndexEntry IndexTree::lastEntryOf(std::uint32_t page) {
  for (std::size_t depth = 0; depth < kMaxDepth; ++depth) {
    const IndexPage& p = load(page);
    if (p.leaf) {
      if (p.entries.empty()) throw Error("index: the empty " + pageText(page) + " has no last entry");
      return p.entries.back();
    }
    page = p.child(p.childCount() - 1);
  }
  throw Error("index: deeper than " + std::to_string(kMaxDepth) + " levels");
}

bool IndexTree::keyBeside(std::uint32_t leaf, std::size_t position, const IndexEntry& entry) {
  const IndexPage& p = load(leaf);
  if (position > 0 && sameKey(p.entries[position - 1], entry)) return true;
  if (position < p.entries.size() && sameKey(p.entries[position], entry)) return true;
  if (position == 0) {
    std::uint32_t n = p.prev;
    for (std::size_t i = 0; n != 0 && i < kMaxEmptyNeighbours; ++i) {
      const IndexPage& q = load(n);
      if (!q.entries.empty()) return sameKey(q.entries.back(), entry);
      n = q.prev;
    }
  }
  if (position == p.entries.size()) {
    std::uint32_t n = p.next;
    for (std::size_t i = 0; n != 0 && i < kMaxEmptyNeighbours; ++i) {
      const IndexPage& q = load(n);
      if (!q.entries.empty()) return sameKey(q.entries.front(), entry);
      n = q.next;
    }
  }
  return false;
}

// The subtree at the end of path has a new last entry: the node entries
// that stand for it follow, up to the first that is not its page's last.
void IndexTree::replaceLastEntry(const Path& path, IndexEntry last) {
  for (std::size_t i = path.size(); i-- > 0;) {
    IndexPage& n = load(path[i].page);
    const std::size_t slot = path[i].slot;
    if (slot < n.entries.size()) {
      n.entries[slot] = last;
      touch(path[i].page);
      if (slot + 1 < n.entries.size() || n.tail != 0) return;
    }
    // A tail has no entry: the node's own last entry changed with it.
  }
}

// A node with several children names the last as its tail; a node with one
// holds an entry for it.
void IndexTree::fixTail(std::uint32_t page) {
  IndexPage& p = load(page);
  if (p.leaf) return;
  if (p.tail == 0 && p.children.size() > 1) {
    p.tail = p.children.back();
    p.children.pop_back();
    p.entries.pop_back();
    touch(page);
  } else if (p.tail != 0 && p.children.empty()) {
    IndexEntry last = lastEntryOf(p.tail);
    IndexPage& again = load(page);
    again.entries.push_back(std::move(last));
    again.children.push_back(again.tail);
    again.tail = 0;
    touch(page);
  }
}

// Splits every page from `page` up that no longer fits its entries, level by
// level: each page of a level fits (a half that is still too large is split
// again) before its parent is looked at, so that the path above stays right.
// path leads from the root to page's parent.
void IndexTree::splitWhileFull(Path path, std::uint32_t page) {
  std::vector<std::uint32_t> level{page};
  for (;;) {
    while (!level.empty()) {
      std::uint32_t p = level.back();
      level.pop_back();
      if (load(p).fits()) continue;
      const std::uint32_t head = splitPage(path, p);
      level.push_back(p);
      level.push_back(head);
    }
    if (path.empty()) return;
    level.push_back(path.back().page);
    path.pop_back();
  }
}

// Which child of the node `parent` page is: its slot, or the tail's.
std::size_t IndexTree::slotOf(std::uint32_t parent, std::uint32_t page) {
  const IndexPage& n = load(parent);
  auto it = std::find(n.children.begin(), n.children.end(), page);
  if (it != n.children.end()) return static_cast<std::size_t>(it - n.children.begin());
  if (n.tail == page) return n.children.size();
  throw Error("index: " + pageText(page) + " is not a child of " + pageText(parent));
}

// Moves the first half of page's entries to a new page before it at its
// level and gives the parent (the end of path) an entry for it; a root is
// first nested below itself (path and page then lead to the page below).
// Returns the new page.
std::uint32_t IndexTree::splitPage(Path& path, std::uint32_t& page) {
  if (page == root_) {
    IndexPage& r = load(root_);
    const std::uint32_t below = newPage(r.leaf);
    IndexPage& q = load(below);
    IndexPage& root = load(root_);
    q.entries = std::move(root.entries);
    q.children = std::move(root.children);
    q.tail = root.tail;
    root.leaf = false;
    root.entries.clear();
    root.children.clear();
    root.tail = 0;
    IndexEntry last = lastEntryOf(below);
    IndexPage& top = load(root_);
    top.entries.push_back(std::move(last));
    top.children.push_back(below);
    touch(root_);
    path.push_back({root_, 0});
    page = below;
  }
  const std::size_t count = load(page).entries.size();
  if (count < 2) throw Error("index: an entry too large for an index page");
  const bool leaf = load(page).leaf;
  const std::uint32_t head = newPage(leaf);
  IndexPage& h = load(head);
  IndexPage& p = load(page);
  const auto half = static_cast<std::ptrdiff_t>((count + 1) / 2);
  h.entries.assign(p.entries.begin(), p.entries.begin() + half);
  p.entries.erase(p.entries.begin(), p.entries.begin() + half);
  if (!leaf) {
    h.children.assign(p.children.begin(), p.children.begin() + half);
    p.children.erase(p.children.begin(), p.children.begin() + half);
  }
  h.prev = p.prev;
  h.next = page;
  if (p.prev != 0) {
    load(p.prev).next = head;
    touch(p.prev);
  }
  load(page).prev = head;
  touch(page);
  IndexEntry headLast = load(head).entries.back();
  if (!leaf) {
    // Below the two, node pages are linked only under one parent.
    IndexPage& hp = load(head);
    const std::uint32_t lastChild = hp.children.back();
    IndexPage& c = load(lastChild);
    if (!c.leaf && c.next != 0) {
      const std::uint32_t following = c.next;
      c.next = 0;
      touch(lastChild);
      load(following).prev = 0;
      touch(following);
    }
  }
  fixTail(head);
  fixTail(page);
  const std::uint32_t parentPage = path.back().page;
  const std::size_t slot = slotOf(parentPage, page);
  IndexPage& parent = load(parentPage);
  parent.entries.insert(parent.entries.begin() + static_cast<std::ptrdiff_t>(slot), std::move(headLast));
  parent.children.insert(parent.children.begin() + static_cast<std::ptrdiff_t>(slot), head);
  touch(parentPage);
  fixTail(parentPage);
  return head;
}

// Gives back an empty page that is not the root: out of its level's links,
// out of its parent (which may empty in turn), and its page freed.
void IndexTree::dropPage(Path path, std::uint32_t page) {
  const IndexPage& p = load(page);
  const std::uint32_t prev = p.prev, next = p.next;
  if (prev != 0) {
    load(prev).next = next;
    touch(prev);
  }
  if (next != 0) {
    load(next).prev = prev;
    touch(next);
  }
  freed_.insert(page);
  changed_.erase(page);

  const Step up = path.back();
  path.pop_back();
  IndexPage& parent = load(up.page);
  const bool wasLast = up.slot + 1 == parent.childCount();
  if (up.slot < parent.children.size()) {
    parent.entries.erase(parent.entries.begin() + static_cast<std::ptrdiff_t>(up.slot));
    parent.children.erase(parent.children.begin() + static_cast<std::ptrdiff_t>(up.slot));
  } else {
    parent.tail = 0;
  }
  touch(up.page);
  if (parent.childCount() == 0) {
    if (up.page == root_) {
      parent.leaf = true;  // an empty root is an empty leaf
      return;
    }
    dropPage(path, up.page);
    return;
  }
  std::optional<IndexEntry> last;
  if (wasLast) last = parent.entries.back();  // the child before it is the last now
  fixTail(up.page);
  if (last) replaceLastEntry(path, *last);
}

// --- writing ---

bool IndexTree::insert(const IndexEntry& entry) {
  begin();
  if (entry.size() <= kRowPointerSize) throw Error("an index entry without a key");
  Path path;
  const std::uint32_t leaf = descend(entry, path);
  IndexPage& p = load(leaf);
  auto it = std::lower_bound(p.entries.begin(), p.entries.end(), entry, entryLess);
  if (it != p.entries.end() && *it == entry) throw Error("the index holds this entry already");
  const auto position = static_cast<std::size_t>(it - p.entries.begin());
  const bool newKey = !keyBeside(leaf, position, entry);
  IndexPage& l = load(leaf);
  l.entries.insert(l.entries.begin() + static_cast<std::ptrdiff_t>(position), entry);
  touch(leaf);
  if (position + 1 == l.entries.size()) replaceLastEntry(path, entry);
  splitWhileFull(path, leaf);
  flush();
  return newKey;
}

bool IndexTree::remove(const IndexEntry& entry) {
  begin();
  Path path;
  const std::uint32_t leaf = descend(entry, path);
  IndexPage& p = load(leaf);
  auto it = std::lower_bound(p.entries.begin(), p.entries.end(), entry, entryLess);
  if (it == p.entries.end() || *it != entry)
    throw Error("the index lacks the entry of a row it should hold");
  const auto position = static_cast<std::size_t>(it - p.entries.begin());
  const bool wasLast = position + 1 == p.entries.size();
  p.entries.erase(it);
  touch(leaf);
  const bool keyGone = !keyBeside(leaf, position, entry);
  const IndexPage& l = load(leaf);
  if (l.entries.empty()) {
    if (leaf != root_) dropPage(path, leaf);
  } else if (wasLast) {
    replaceLastEntry(path, l.entries.back());
  }
  flush();
  return keyGone;
}

}  // namespace engine
