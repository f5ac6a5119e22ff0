// Page-level access to a database file. Nothing above this class touches the
// file: reads are whole, bounds-checked pages; writes (with their rollback
// journal) go through here as well.
//
// Writing. Pages are changed only inside a write transaction (begin, then
// writePage / allocatePage, then commit or rollback; WriteTransaction does the
// bracketing). Until commit, written pages stay in memory and readPage and
// pageCount already show them. commit() makes the change atomic and durable
// with a rollback journal beside the database, named journalPath(dbPath) (the
// database path followed by "-journal"), in three flushes:
//   1. the journal is written (the old content of every existing page about to
//      be overwritten, and checksums of the new content of every page written)
//      and flushed; then its directory, so that the journal's name is on disk;
//   2. the new pages are written into the database, appended pages at its
//      end, and the database is flushed: from here on the change is stored;
//   3. the journal is removed, without a flush.
// Opening a database with a valid journal ("hot") judges it by the file: when
// every page of the change is in the file, the change stands and the journal
// is removed (a power cut took back the removal of step 3); when every part of
// every page is either as it was or as the change left it, the old pages are
// written back and the file is cut to its original length (a cut in step 2);
// a journal that is not complete and valid is removed (a cut in step 1, the
// database untouched). A page that matches neither means the file was changed
// since by someone else: the open is refused and both are left alone. A
// commit that fails with an error rolls back at once; if even that fails, the
// journal stays and the next open finishes the rollback. engine/FORMAT.md
// ("The commit protocol") says why each flush is needed.
//
// The rollback on open happens also for a read-only open, through a second,
// writable handle. When the file cannot be opened for writing the open is
// refused with an Error, so that a half-written file is never read.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/env.h"

namespace engine {

inline constexpr std::size_t kPageSize = 4096;
using Page = std::array<std::uint8_t, kPageSize>;

// What opening a channel did with a rollback journal it found.
enum class JournalRecovery {
  None,        // there was no journal
  Discarded,   // an incomplete journal: the database had not been touched
  RolledBack,  // a hot journal: the interrupted change was undone
  Completed,   // the change had reached the file; only its journal was left
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

  // What the global usage map records for each page of the file, by page
  // number: Used, Free, or NotCovered when the map's range leaves the page
  // out (an inline map's start moves forward as the file grows, so the pages
  // below it are no longer recorded; a reference map may lack the map page of
  // a range). Error as for globalMapSaysFree.
  enum class MapState : std::uint8_t { Used, Free, NotCovered };
  std::vector<MapState> globalMapStates();

 private:
  void recoverJournal();

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
