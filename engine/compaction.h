// Compaction: a new database that holds everything a database holds, laid
// out afresh, without its dead rows, dead long values and free or orphaned
// pages (FORMAT.md, section 13).
//
// The source is opened for reading under the usual lock rules (lock.h; a
// rollback journal beside it is settled first) and refused while another
// program has it open; it must pass the integrity check, and it is never
// written. The new database is written straight into a temporary file in
// the target's folder (compactionTempPath), flushed, checked, renamed into
// place without replacing anything, and the folder flushed: a crash leaves
// no target or the complete one. The target must not exist; any failure
// removes the temporary file.
//
// Layout of the new file: page 0 the source's header page as it is (format,
// code page, sort order, creation date, password); page 1 the global usage
// map; page 2 MSysObjects' definition; the definitions of the other tables,
// in the order of their source pages; the pages of every usage-map row;
// then table after table (in the same order) its data pages with its live
// rows in scan order (overflow rows resolved), its long values on LVAL pages
// of their column, and its indexes, each bulk-loaded from the source's
// entries with their row pointers mapped (index_bulk_loader.h).
//
// Refused, naming the cause, before the target is created: a source that
// fails the check (its first problem), an index over text in a sort order
// other than General, and structures whose references the compaction could
// not map for certain (section 13 lists them).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "engine/env.h"

namespace engine {

struct CompactionProgress {
  std::size_t tablesDone = 0;
  std::size_t tables = 0;
  std::uint64_t pagesDone = 0;  // pages the tables own (their usage maps) read so far
  std::uint64_t pages = 0;      // pages the tables own
};

struct CompactionResult {
  std::uint32_t sourcePages = 0;
  std::uint64_t sourceBytes = 0;
  std::uint32_t targetPages = 0;
  std::uint64_t targetBytes = 0;
};

// Compacts the database at source into a new database at target (password:
// the source's database password, kept in the target).
CompactionResult compactDatabase(Env& env, const std::string& source, const std::string& target,
                                 std::string_view password,
                                 const std::function<void(const CompactionProgress&)>& progress = {});

// The temporary name the target is written under.
std::string compactionTempPath(const std::string& target);

}  // namespace engine
