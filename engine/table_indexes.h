// The real indexes of one table kept in step with its rows: the entry a row
// has in each index (its key, index_key.h, then its row pointer), the checks
// an entry must pass before anything is written, and the changes themselves
// through each index's IndexTree (index_tree.h), with the definition's count
// of distinct keys of each index following (a key counts once however many
// rows have it; TDEF 63 + 12 i + 4).
//
// Keys are computed for ascending Long and Text columns whose values are
// present; text in the General sort order only (sort_order.h; a column of
// sort order 0 takes the database's, from the header) and with known key
// codes. Anything else is an Error naming it, for a sort order "the
// catalogue uses sort order 1055, which this engine cannot write" (the
// database, or the column, for other tables). A unique index (flag 0x01)
// refuses a second row with the same key. A table with a foreign-key index
// (a relationship whose rules would have to be checked) takes no new row,
// no change of an indexed column and no deletion.
//
// All changes happen in the channel's open write transaction; the checks
// (entriesOf, checkUnique) only read, so a caller that runs them first is
// refused before any page changes.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <vector>

#include "engine/data_page.h"
#include "engine/index_key.h"
#include "engine/page_channel.h"
#include "engine/row_writer.h"
#include "engine/sort_order.h"
#include "engine/table_definition.h"

namespace engine {

// The entry of the row at `at` with these values in real index i of the
// table, or an Error naming why the index cannot be maintained. Text columns
// of sort order 0 take databaseOrder (the header's).
IndexEntry indexEntryOf(const TableDefinition& definition, std::size_t realIndex,
                        const std::vector<RowValue>& values, RowId at,
                        SortOrder databaseOrder = kGeneralSortOrder);
// The same from the values as a row holds them (decodeRow).
IndexEntry indexEntryOf(const TableDefinition& definition, std::size_t realIndex,
                        const std::vector<RawValue>& values, RowId at,
                        SortOrder databaseOrder = kGeneralSortOrder);

// The sort order the database's header names (text columns of sort order 0
// use it).
SortOrder databaseSortOrder(PageChannel& channel);

class TableIndexes {
 public:
  // The indexes of the table with this definition, which must outlive the
  // object (a caller that reloads it in place keeps it valid).
  TableIndexes(PageChannel& channel, const TableDefinition& definition);

  std::size_t count() const { return definition_.realIndexes().size(); }

  // The row's entry in every real index (see indexEntryOf).
  std::vector<IndexEntry> entriesOf(const std::vector<RowValue>& values, RowId at) const;
  // The entries of real index i that change when the row at `at` goes from
  // `before` to `after`: none when the index's columns keep their values.
  struct Change {
    std::size_t index;
    IndexEntry remove, add;
  };
  std::vector<Change> changesOf(const std::vector<RowValue>& before, const std::vector<RowValue>& after,
                                RowId at) const;

  // Error when a unique index holds the key of entries[i] already (under a
  // row other than the entry's own).
  void checkUnique(const std::vector<IndexEntry>& entries);
  void checkUnique(const std::vector<Change>& changes);

  // Puts a row's entries (one per real index) in.
  void add(const std::vector<IndexEntry>& entries);
  // Takes a deleted row's entries (one per real index) out; pages left
  // empty are given back (index_tree.h).
  void remove(const std::vector<IndexEntry>& entries);
  // Moves entries as changesOf gave them.
  void apply(const std::vector<Change>& changes);

  // Index pages written since construction, counted once each (a bound for
  // callers that size their transactions).
  std::size_t pagesWritten() const { return written_.size(); }
  void forgetPagesWritten() { written_.clear(); }

 private:
  void checkUniqueKey(std::size_t index, const IndexEntry& entry);
  void refuseRelationships() const;
  void change(std::size_t index, const IndexEntry* remove, const IndexEntry* add);

  PageChannel& channel_;
  const TableDefinition& definition_;
  SortOrder databaseOrder_;
  std::set<std::uint32_t> written_;
};

}  // namespace engine
