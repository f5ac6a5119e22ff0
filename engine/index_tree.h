// The B-tree of one real index of a table: its lookups, its inserts and
// removals, and a walk of the whole tree for checks. This class is the only
// code that changes index pages; their encoding is index_page.h, the keys
// index_key.h. Layout and the rules followed: FORMAT.md 3.1 and 3.4.
//
// Shape, as Jackcess keeps it (IndexPageCache.java) and as the Access-made
// and Jackcess-made test files show it:
//   * the root page is the one the table definition names and stays so: when
//     the root must split, its entries move to a new page below it, which is
//     then split (the root becomes a node page over the two);
//   * a node page holds, for each child but the last, that child's last
//     entry and page number; the last child is named by the tail field and
//     has no entry; a node with a single child holds an entry for it and no
//     tail;
//   * a page that no longer fits its entries is split: the first half of
//     its entries (by count) go to a new page placed before it at its level,
//     and the parent gets an entry for the new page;
//   * leaves are linked by prev/next from the first to the last; node pages
//     only to their siblings under the same parent;
//   * a page left without entries is given back (global usage map and the
//     index's own map) and taken out of its parent and its level's links;
//     an empty root becomes an empty leaf. Pages are never merged.
// New pages come from PageChannel::allocatePage and are listed in the
// index's usage map (RealIndex::usageMap), which lists every page of the
// index, root included.
//
// Every read is checked: a page that is not an index page of the table, a
// link outside the file or a cycle is an Error; insert() and remove() then
// change nothing that the caller's transaction keeps. The writing calls need
// the channel in a write transaction and change pages only within it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "engine/data_page.h"
#include "engine/index_key.h"
#include "engine/index_page.h"
#include "engine/page_channel.h"
#include "engine/table_definition.h"

namespace engine {

class IndexTree {
 public:
  // A problem verify() found, on the page where it shows.
  using Reporter = std::function<void(std::uint32_t page, const std::string& problem)>;
  // Deepest tree walked: far more levels than any file of 2 GB can need.
  static constexpr std::size_t kMaxDepth = 24;

  // Real index `realIndex` of the table with this definition.
  IndexTree(PageChannel& channel, const TableDefinition& definition, std::size_t realIndex);

  std::uint32_t rootPage() const { return root_; }

  // --- reading ---

  // Every entry in index order, walking the tree from the root through node
  // entries and tails. Error when the tree cannot be walked (a page that is
  // not an index page of the table, one reached twice, a tree deeper than
  // kMaxDepth); the order itself is not judged here (see verify).
  std::vector<IndexEntry> entries();
  // Every page of the tree, ascending. Error as for entries().
  std::vector<std::uint32_t> pages();
  // Checks the whole tree and reports each problem with its page; never
  // throws for anything the file holds. Checked: each page's type, byte 1,
  // owner (the table definition page), free-space field, mask and prefix;
  // entries in strict order within and across pages; every node entry equal
  // to the last entry of its child; a tail on every node with several
  // children and none on a node with one; no empty page below the root;
  // prev/next links at every level (leaves one chain from first to last,
  // node pages linked at least to their siblings under the same parent,
  // links always both ways); no page reached twice; every leaf at the same
  // depth; the index's usage map listing exactly the pages of the tree.
  // The distinct-key count of the definition is not checked (Access leaves
  // it approximate at times, FORMAT.md 3).
  void verify(const Reporter& report);

  // Whether the index holds exactly this entry (found by descending).
  bool contains(const IndexEntry& entry);
  // The rows of every entry whose key is `key` (an entry less its row
  // pointer), in index order, found by descending and then along the leaves.
  std::vector<RowId> find(std::span<const std::uint8_t> key);

  // --- writing ---

  // Puts the entry at its place; returns whether its key is new to the
  // index. Error when the index holds the entry already.
  bool insert(const IndexEntry& entry);
  // Takes the entry out; returns whether no entry with its key is left.
  // Error when the index lacks it.
  bool remove(const IndexEntry& entry);
  // The pages the last insert() or remove() wrote or gave back.
  const std::vector<std::uint32_t>& lastWritten() const { return written_; }

 private:
  struct Step {
    std::uint32_t page = 0;
    std::size_t slot = 0;  // which child of the page the path goes on to
  };
  using Path = std::vector<Step>;

  IndexPage& load(std::uint32_t page);
  void touch(std::uint32_t page);
  // The path from the root to the leaf where `entry` lies or belongs; the
  // leaf is returned, the nodes above it fill `path`.
  std::uint32_t descend(const IndexEntry& entry, Path& path);
  IndexEntry lastEntryOf(std::uint32_t page);
  bool keyBeside(std::uint32_t leaf, std::size_t position, const IndexEntry& entry);
  void replaceLastEntry(const Path& path, IndexEntry last);
  void fixTail(std::uint32_t page);
  void splitWhileFull(Path path, std::uint32_t page);
  std::size_t slotOf(std::uint32_t parent, std::uint32_t page);
  std::uint32_t splitPage(Path& path, std::uint32_t& page);
  void dropPage(Path path, std::uint32_t page);
  std::uint32_t newPage(bool leaf);
  void begin();
  void flush();

  PageChannel& channel_;
  std::uint32_t owner_;
  std::uint32_t root_;
  UsageMapRef usageMap_;
  // Pages read in the current call, those it changed, those it gave back.
  std::map<std::uint32_t, IndexPage> pages_;
  std::set<std::uint32_t> changed_;
  std::set<std::uint32_t> freed_;
  std::vector<std::uint32_t> written_;
};

}  // namespace engine
