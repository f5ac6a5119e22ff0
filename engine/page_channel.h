// Page-level access to a database file. Nothing above this class touches the
// file: reads are whole, bounds-checked pages; writes (with their rollback
// journal) go through here as well.
//
// Writing. Pages are changed only inside a write transaction (begin, then
// writePage / allocatePage, then commit or rollback; WriteTransaction does the
// bracketing). Until commit, written pages stay in memory and readPage and
// pageCount already show them. commit() makes the change atomic with a
// rollback journal beside the database, named journalPath(dbPath) (the
// database path followed by "-journal"):
//   1. the journal is written: a header (magic, page size, the database's
//      original length, the number of records, a checksum) and one record per
//      existing page about to be overwritten (page number, its old content, a
//      checksum); then the journal and its directory are flushed;
//   2. the new pages are written into the database, appended pages at its
//      end, and the database is flushed;
//   3. the journal is removed and the directory flushed.
// A crash before step 2 leaves the database untouched (a journal that is not
// complete and valid is simply removed when found); a crash during step 2 or 3
// leaves a complete journal, which the next open rolls back: the old pages
// are written back and the file is cut to its original length. A commit that
// fails with an error rolls back at once; if even that fails, the journal stays
// and the next open finishes the rollback.
//
// Opening a database that has a valid ("hot") journal always rolls it back
// first, also for a read-only open, through a second, writable handle. When
// the file cannot be opened for writing the open is refused with an Error, so
// that a half-written file is never read.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "engine/env.h"

namespace engine {

inline constexpr std::size_t kPageSize = 4096;
using Page = std::array<std::uint8_t, kPageSize>;

// What opening a channel did with a rollback journal it found.
enum class JournalRecovery {
  None,        // there was no journal
  Discarded,   // an incomplete journal: the database had not been touched
  RolledBack,  // a hot journal: the interrupted change was undone
};

class PageChannel {
 public:
  // Opens the file; readOnly opens it without write access. A hot journal is
  // rolled back first (see above).
  PageChannel(Env& env, std::string path, bool readOnly);
  // Drops a transaction that was not committed (nothing was written to the
  // database by it).
  ~PageChannel();
  PageChannel(const PageChannel&) = delete;
  PageChannel& operator=(const PageChannel&) = delete;

  const std::string& path() const { return path_; }
  bool readOnly() const { return readOnly_; }
  Env& env() { return env_; }
  JournalRecovery journalRecovery() const { return recovery_; }

  // Number of whole pages in the file, including pages appended by the open
  // transaction.
  std::uint32_t pageCount();
  // Reads page n; an Error when n is beyond the end of the file. Inside a
  // transaction the pages it wrote are returned as written.
  Page readPage(std::uint32_t n);

  // --- write side ---

  // The rollback journal of a database.
  static std::string journalPath(const std::string& dbPath);

  // Starts a write transaction. Error on a read-only channel or when one is
  // already open.
  void begin();
  bool inTransaction() const { return inTransaction_; }
  // Replaces page n (an existing page or one from allocatePage) within the
  // open transaction.
  void writePage(std::uint32_t n, const Page& page);
  // Gives the transaction a new page: a free page of the file as the global
  // usage map (page 1) records it, else a page appended at the end. The map
  // is updated within the transaction. The page reads as all zeros until it
  // is written.
  std::uint32_t allocatePage();
  // Stores the transaction's pages atomically (see above) and ends it.
  void commit();
  // Forgets the transaction's pages; the database was not touched.
  void rollback();

  // Whether the map marks page n free (true also for pages the map does not
  // cover, which lie beyond the end of the file in a consistent file). For
  // tests and checks; Error when page 1 is not a usage map we understand.
  bool globalMapSaysFree(std::uint32_t n);

 private:
  void recoverJournal();
  void writeJournal();
  void rollbackFromJournal();

  Env& env_;
  std::string path_;
  bool readOnly_;
  std::unique_ptr<File> file_;
  JournalRecovery recovery_ = JournalRecovery::None;

  bool inTransaction_ = false;
  std::uint32_t originalPages_ = 0;      // file pages when the transaction began
  std::uint64_t originalSize_ = 0;       // file length in bytes then
  std::uint32_t transactionPages_ = 0;   // page count including appended pages
  std::map<std::uint32_t, Page> dirty_;  // pages written in this transaction
};

// Brackets a write transaction: begins it, and rolls it back on destruction
// unless commit() was called.
class WriteTransaction {
 public:
  explicit WriteTransaction(PageChannel& channel);
  ~WriteTransaction();
  WriteTransaction(const WriteTransaction&) = delete;
  WriteTransaction& operator=(const WriteTransaction&) = delete;
  void commit();

 private:
  PageChannel& channel_;
  bool done_ = false;
};

}  // namespace engine
