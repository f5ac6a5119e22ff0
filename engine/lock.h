// The lock our engine holds while it has a database open, and the open of a
// database file under that lock.
//
// While a database is open, this process holds an exclusive lock on the
// database's lock file, lockFilePath(dbPath), created if missing: on Linux an
// open file description lock, on Windows a handle that shares nothing but
// removal, so that a client of the real engine cannot open the database in
// shared mode meanwhile (engine/FORMAT.md, section 12). All connections of this
// process to one database (found by canonical path) share that one lock
// through a process-wide registry, so a second connection is never blocked by
// the first. When the last connection closes, the lock file is removed while
// the lock is still held (so never while another process holds it) and the
// lock is dropped.
//
// Opening for writing is refused with "in use by another program" when
// another process holds the lock file or the database file itself. Opening
// for reading is allowed then, without a lock of our own; it is refused in the
// same words only when a rollback journal shows that the other program is in
// the middle of a change. A read-only open takes the shared lock like a
// writer when nobody else holds it (and goes on without one when the lock file
// cannot be created, e.g. in a read-only folder, where no writer can be at
// work: a journal there is a leftover and is judged as on any open).
//
// A database file without write permission opens for reading; opening it for
// writing is refused with an Error saying it is read-only.
#pragma once

#include <memory>
#include <string>

#include "engine/env.h"
#include "engine/page_cache.h"
#include "engine/page_channel.h"

namespace engine {

class DatabaseLock {
 public:
  // Takes this process's lock on the database, or shares it when another
  // connection of this process holds it already. forWriting: refuses with an
  // Error when another process holds the database. Otherwise returns a lock
  // that may not be held (held() false) when another process holds it.
  static std::shared_ptr<DatabaseLock> acquire(Env& env, const std::string& dbPath, bool forWriting);

  ~DatabaseLock();
  DatabaseLock(const DatabaseLock&) = delete;
  DatabaseLock& operator=(const DatabaseLock&) = delete;

  // Whether this process holds the lock file's lock through this object.
  bool held() const { return entry_ != nullptr; }
  // Not held because the lock file cannot be created (a read-only folder or
  // medium), rather than because another process holds it.
  bool lockFileUnavailable() const { return lockFileUnavailable_; }
  // The pages of the database cached for this process's connections while
  // it holds the lock; null when it does not.
  std::shared_ptr<PageCache> pageCache() const;
  // Whether the journal beside the database is the one this process's
  // connections keep, voided, between their commits (PageCache::journalKept).
  bool journalKept() const;

  struct Entry;  // the registry's shared record of one database

 private:
  explicit DatabaseLock(std::shared_ptr<Entry> entry) : entry_(std::move(entry)) {}
  std::shared_ptr<Entry> entry_;
  bool lockFileUnavailable_ = false;
};

// The canonical form of a database path, as the registry keys it.
std::string canonicalDatabasePath(const std::string& dbPath);

// A database file opened under the lock above. Members are released in
// reverse order: the channel closes before the lock is dropped.
struct OpenDatabaseFile {
  std::shared_ptr<DatabaseLock> lock;
  std::unique_ptr<PageChannel> channel;
};

// Locks (see DatabaseLock::acquire) and opens the file, rolling back a journal
// left by a crash. Refusals: missing file, in use by another program (for
// writing), read-only file (for writing), a half-written file that cannot be
// repaired.
OpenDatabaseFile openDatabaseFile(Env& env, const std::string& dbPath, bool readOnly);

}  // namespace engine
