// Page-level access to a database file. Nothing above this class touches the
// file: reads are whole, bounds-checked pages; writes (with their rollback
// journal) go through here as well.
//
// Writing. Pages are changed only inside a write transaction (begin, then
// writePage / allocatePage, then commit or rollback; WriteTransaction does the
// bracketing). Until commit, written pages stay in memory and readPage and
// pageCount already show them. commit() makes the change atomic and durable
// with a rollback journal beside the database, named journalPath(dbPath) (the
// database path followed by "-journal"), in three flushes, or two:
//   1. the journal is written (the old content of every existing page about to
//      be overwritten, and checksums of the new content of every page written)
//      and flushed, under newJournalPath and then renamed to its name; then
//      its directory, so that the journal's name is on disk, unless the
//      journal is the one kept by an earlier commit (step 3), which is
//      written over in place;
//   2. the new pages are written into the database, appended pages at its
//      end, and the database is flushed: from here on the change is stored;
//   3. without a flush, the journal is voided (a marker over its header) and kept
//      for the next commit, which writes over it, while this process holds
//      the lock (a channel with a PageCache; the lock's holder removes it
//      when the last connection closes), else removed.
// Opening a database beside a journal judges the journal by the file
// (rollback_journal.h, engine/FORMAT.md 1.2): a voided journal and one
// whose every page is still as it was are removed; when every page of the change is in the file, the change
// stands and the journal is removed (a power cut took back the voiding of
// step 3); when every part of every page is either as it was or as the
// change left it, the old pages are written back and the file is cut to its
// original length (a cut in step 2). Anything the files do not prove (a
// damaged or cut journal beside a file the change reached, a page that
// matches neither state because someone else changed the file since, an
// empty journal or one whose header is zeros) refuses
// the open and leaves both files alone. A commit that fails with an error
// rolls back at once; if even that fails, the journal stays and the next
// open finishes the rollback. engine/FORMAT.md ("The commit protocol") says
// why each flush is needed.
//
// Reading. A channel given a PageCache (shared by this process's connections
// while it holds the database's lock, engine/page_cache.h) reads each page
// and the file's length from the file once and from memory after that; it
// puts the pages it commits there too. Without one every read goes to the
// file.
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
#include <utility>
#include <vector>

#include "engine/env.h"

namespace engine {

inline constexpr std::size_t kPageSize = 4096;
using Page = std::array<std::uint8_t, kPageSize>;

class PageCache;

// What opening a channel did with a rollback journal it found.
enum class JournalRecovery {
  None,        // there was no journal
  Discarded,   // voided, or the database not touched: every page as before
  RolledBack,  // a hot journal: the interrupted change was undone
  Completed,   // the change had reached the file; only its journal was left
};

class PageChannel {
 public:
  // Opens the file; readOnly opens it without write access. A hot journal is
  // rolled back first (see above). cache: see Reading above; may be null.
  PageChannel(Env& env, std::string path, bool readOnly, std::shared_ptr<PageCache> cache = nullptr);
  // The same over the database file opened already (for writing unless
  // readOnly), by env, at path.
  PageChannel(Env& env, std::string path, std::unique_ptr<File> file, bool readOnly,
              std::shared_ptr<PageCache> cache = nullptr);
  // Drops a transaction that was not committed (nothing was written to the
  // database by it).
  ~PageChannel();
  PageChannel(const PageChannel&) = delete;
  PageChannel& operator=(const PageChannel&) = delete;

  // A read-only channel of its own onto a file that nobody writes meanwhile
  // (a database under our lock, a compacted file before it has its name),
  // for one thread's pass over it: read ahead (ReadAheadFile, which also
  // keeps the file's length), without a page cache, as a pass reads most
  // pages once: caching them would cost an allocation and a hash insertion
  // each, and fresh memory for each pass.
  static std::unique_ptr<PageChannel> forOnePass(Env& env, const std::string& path);

  const std::string& path() const { return path_; }
  bool readOnly() const { return readOnly_; }
  Env& env() { return env_; }
  JournalRecovery journalRecovery() const { return recovery_; }

  // Number of whole pages in the file, including pages appended by the open
  // transaction.
  std::uint32_t pageCount();
  // The file's length in bytes, as it is on disk (without the open
  // transaction's appended pages).
  std::uint64_t fileSize();
  // Reads page n; an Error when n is beyond the end of the file. Inside a
  // transaction the pages it wrote are returned as written.
  Page readPage(std::uint32_t n);
  // The same page shared rather than copied: the cache's own when it holds
  // it. For reading many rows of a page, or one row of many pages.
  std::shared_ptr<const Page> pageView(std::uint32_t n);
  // The first out.size() bytes (at most a page) of page n, as readPage has
  // them, read on their own where no cache holds the page: for a pass over
  // every page's header that reads most of them again later, or never.
  void readPageHead(std::uint32_t n, std::span<std::uint8_t> out);

  // The value make() decodes from pages it reads through this channel, kept
  // in the cache under key and given out from there to this process's later
  // reads while none of those pages has changed (engine/page_cache.h); an
  // Error from make() is thrown and nothing kept. Without a cache, or inside
  // a transaction (whose pages are not the file's yet), make() runs every
  // time. Keys name the kind of value: one key, one type T.
  template <class T, class Make>
  std::shared_ptr<const T> derived(const std::string& key, Make&& make) {
    if (std::shared_ptr<const void> kept = keptValue(key)) return std::static_pointer_cast<const T>(kept);
    if (!keeps()) return std::make_shared<const T>(make());
    Recording recording(*this);
    auto value = std::make_shared<const T>(make());
    keepValue(key, recording, value);
    return value;
  }
  // As derived(), with make(previous) given the value last kept under key
  // when a change to its pages retired it (null when there is none): a hint
  // that lets make decode again only what changed, to be checked against the
  // pages before anything of it is used.
  template <class T, class Make>
  std::shared_ptr<const T> rederived(const std::string& key, Make&& make) {
    std::shared_ptr<const void> retired;
    if (std::shared_ptr<const void> kept = keptValue(key, &retired)) return std::static_pointer_cast<const T>(kept);
    const auto previous = std::static_pointer_cast<const T>(retired);
    if (!keeps()) return std::make_shared<const T>(make(previous.get()));
    Recording recording(*this);
    auto value = std::make_shared<const T>(make(previous.get()));
    keepValue(key, recording, value);
    return value;
  }

  // --- write side ---

  // The rollback journal of a database.
  static std::string journalPath(const std::string& dbPath);
  // The name a new journal is written and flushed under before it takes
  // the journal's name.
  static std::string newJournalPath(const std::string& dbPath);

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
  // Gives page n (3 or later, inside the file) back within the open
  // transaction: it is written as zeros (page type 0, no longer any
  // structure's page) and the global map marks it free, so that a later
  // allocatePage may hand it out again. Pages outside an inline map's range
  // count as free already; a reference map marks it where a map page covers
  // it.
  void freePage(std::uint32_t n);
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

  // The pages (with their cache versions) read while a derived value is
  // made; nested values add theirs to every recording open.
  struct Recording {
    explicit Recording(PageChannel& channel);
    ~Recording();
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;
    PageChannel& channel;
    std::vector<std::pair<std::uint32_t, std::uint64_t>> sources;
  };
  bool keeps() const;
  std::shared_ptr<const void> keptValue(const std::string& key, std::shared_ptr<const void>* retired = nullptr);
  void keepValue(const std::string& key, Recording& recording, std::shared_ptr<const void> value);
  void record(std::uint32_t n, std::uint64_t version);
  // Page n as the channel has it without reading the file: as the open
  // transaction wrote it, or from the cache (recorded); null otherwise.
  std::shared_ptr<const Page> heldPage(std::uint32_t n);
  std::vector<Recording*> recordings_;

  Env& env_;
  std::string path_;
  bool readOnly_;
  std::unique_ptr<File> file_;
  std::shared_ptr<PageCache> cache_;
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
