// Building a whole index B-tree from its entries in index order, bottom up,
// onto new pages of a PageSink: leaves filled one after the other, each
// full page giving its last entry to the level above (FORMAT.md 3.1, 3.4):
//   * a node page holds, for each child but the last, the child's last
//     entry and page number; its last child is the tail, without an entry;
//     a node with a single child holds an entry for it and no tail;
//   * every level is one chain by prev/next from first to last;
//   * the root is the one page of the top level; an index without entries is
//     one empty leaf.
// Pages are filled as far as IndexPage::fits allows (prefix compression
// included), and written as soon as they are full: one page per level is
// held in memory. The caller gives entries strictly ascending (entryLess);
// anything else is an Error.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/index_key.h"
#include "engine/index_page.h"
#include "engine/page_sink.h"

namespace engine {

class IndexBulkLoader {
 public:
  // Pages of the index of the table whose definition starts at owner.
  IndexBulkLoader(PageSink& sink, std::uint32_t owner);

  // The next leaf entry (key, then the row pointer).
  void add(IndexEntry entry);

  struct Result {
    std::uint32_t root = 0;
    std::vector<std::uint32_t> pages;  // every page of the tree, ascending
    std::uint32_t distinctKeys = 0;
    std::uint64_t entries = 0;
  };
  // Writes the pages still open and returns the tree.
  Result finish();

 private:
  struct Level {
    IndexPage page;
    std::uint32_t number = 0;
    std::size_t wholeBytes = 0;  // the entries' bytes without a prefix
  };
  void addAt(std::size_t level, IndexEntry entry, std::uint32_t child);
  // Writes the open page of a level: next is the page after it (0: last).
  // Returns the entry that stands for it in the level above.
  IndexEntry close(std::size_t level, std::uint32_t next);
  Level openLevel(bool leaf, std::uint32_t prev);

  PageSink& sink_;
  std::uint32_t owner_;
  std::vector<Level> levels_;
  Result result_;
  IndexEntry last_;
};

}  // namespace engine
