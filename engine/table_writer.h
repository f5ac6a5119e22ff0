// Changing the rows of a table: adding a row, replacing one, with the
// table's indexes and the counts of its definition kept right.
//
// Everything happens inside the channel's open write transaction; an Error
// leaves pages half-changed in that transaction only, so callers throw it on
// and let WriteTransaction roll the whole operation back.
//
// Where a new row goes: the last page the table owns that its free-space map
// lists and that has room; else a new data page (PageChannel::allocatePage)
// added to both maps.
//
// Replacing a row: a row that comes out no longer than before is written in
// place, padded to its old length (so no other row moves); a longer row is
// written in place too when its page has room, the rows below it moving down;
// otherwise it moves to another page and its old place becomes an overflow
// row (pointer flag 0x4000) whose 4 bytes (row number, 3-byte page number)
// point to the data; the data row carries the deleted flag 0x8000, as Access
// marks such rows, so that table scans see the row once, at its old place. A
// row that has moved already moves again by pointing its overflow row
// elsewhere; the data row left behind is marked 0xC000, which every reader
// skips. The row keeps its RowId in every case, so index entries stay valid.
//
// Deleting a row marks it as Access does (FORMAT.md 8.1): its pointer, and
// that of every overflow row its data lies on, flagged 0xC000, and their
// bytes given back to their pages (data_page_writer.h deleteRow). Row
// numbers stay; the pages stay the table's, and the free-space map is left
// as it is: a full page that left it does not rejoin it, so new rows do not
// go into the space given back there, which stays dead until the file is
// compacted. Its long values are freed (long_value_writer.h
// freeLongValue). The auto-increment counter is left alone: a number handed
// out once is never handed out again.
//
// Indexes: every real index of the table is kept through TableIndexes
// (table_indexes.h: which keys can be written, unique indexes, distinct-key
// counts) and its IndexTree, of any depth. An index that cannot be kept, or
// a key a unique index holds already, makes the change an Error before any
// page changes; a replaced row whose indexed columns keep their values
// computes no key. The definition's row count (offset 16) follows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/data_page.h"
#include "engine/index_key.h"
#include "engine/page_channel.h"
#include "engine/row_writer.h"
#include "engine/table_definition.h"
#include "engine/table_indexes.h"
#include "engine/usage_map_writer.h"

namespace engine {

class TableWriter {
 public:
  // The table whose definition starts at definitionPage. The channel must be
  // in a write transaction.
  TableWriter(PageChannel& channel, std::uint32_t definitionPage);
  TableWriter(const TableWriter&) = delete;
  TableWriter& operator=(const TableWriter&) = delete;

  const TableDefinition& definition() const { return definition_; }

  // The values of the live row at id (overflow followed), one per
  // definition().columns() entry. Error when the row is deleted or missing.
  std::vector<RowValue> readRow(RowId id);

  // Adds a row: data, index entries, row count. Auto-increment columns are
  // not numbered here (see appendRow). Returns where the row lies.
  RowId insertRow(const std::vector<RowValue>& values);

  // Replaces the values of the row at id (see above); index entries whose
  // key changes are moved.
  void updateRow(RowId id, const std::vector<RowValue>& values);

  // Deletes the live row at id (see above): its rows, its long values, its
  // index entries (emptied index pages given back), one less in the row
  // count. Error, before any page changes, when the row is deleted or
  // missing or an index cannot take the change (table_indexes.h: a
  // foreign-key index, a key that cannot be computed).
  void deleteRow(RowId id);

  // Sets the stored auto-increment counter (the last number handed out).
  void setLastAutoNumber(std::uint32_t last);


 private:
  void addToRowCount(std::int64_t delta);
  RowId placeNewRow(std::span<const std::uint8_t> row, std::uint16_t flags,
                    std::optional<std::uint32_t> avoidPage);
  void reloadDefinition();

  PageChannel& channel_;
  std::uint32_t definitionPage_;
  TableDefinition definition_;
  TableIndexes indexes_;  // over definition_, which reloads in place
};

// Appends a row to a table in one write transaction of its own: values by
// column name (letter case ignored), unnamed columns null (yes/no false).
// Auto-increment Long columns take the next number of the definition's
// counter, which is stored back; giving them a value is an Error, as is an
// unknown column name. Returns where the row lies and the numbers given (in
// column order).
struct AppendedRow {
  RowId id;
  std::vector<std::int32_t> autoNumbers;
};
AppendedRow appendRow(PageChannel& channel, std::uint32_t definitionPage,
                      const std::vector<std::pair<std::string, RowValue>>& values);

}  // namespace engine
