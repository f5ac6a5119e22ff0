#include "engine/lock.h"

#include <map>
#include <mutex>

#include "engine/error.h"
#include "engine/in_use.h"
#include "engine/path.h"

namespace engine {

struct DatabaseLock::Entry {
  Entry(Env& e, std::string path, std::string journal, std::unique_ptr<FileLock> l)
      : env(e), lockPath(std::move(path)), journalPath(std::move(journal)), lock(std::move(l)) {}
  ~Entry() {
    // Removed while our exclusive lock still stands, so never while another
    // process holds the lock file. The journal kept between commits is voided
    // (its header zeroed): should its removal be lost or fail, the next open
    // removes it.
    try {
      if (cache->journalKept()) env.remove(journalPath);
    } catch (...) {
    }
    try {
      env.remove(lockPath);
    } catch (...) {
      // A lock file left behind is harmless: nobody holds its lock.
    }
    lock.reset();
  }
  Env& env;
  std::string lockPath;
  std::string journalPath;
  std::unique_ptr<FileLock> lock;
  std::shared_ptr<PageCache> cache = std::make_shared<PageCache>();
};

std::shared_ptr<PageCache> DatabaseLock::pageCache() const { return entry_ ? entry_->cache : nullptr; }

bool DatabaseLock::journalKept() const { return entry_ && entry_->cache->journalKept(); }

namespace {

std::mutex registryMutex;
std::map<std::string, std::weak_ptr<DatabaseLock::Entry>>& registry() {
  static std::map<std::string, std::weak_ptr<DatabaseLock::Entry>> r;
  return r;
}

Error inUse(const std::string& dbPath) {
  return Error("the database '" + dbPath + "' is in use by another program");
}

}  // namespace

std::string canonicalDatabasePath(const std::string& dbPath) { return pathKey(dbPath); }

DatabaseLock::~DatabaseLock() {
  std::lock_guard guard(registryMutex);
  entry_.reset();  // the last one removes the lock file and drops the lock
}

std::shared_ptr<DatabaseLock> DatabaseLock::acquire(Env& env, const std::string& dbPath,
                                                    bool forWriting) {
  const std::string key = canonicalDatabasePath(dbPath);
  std::lock_guard guard(registryMutex);
  auto& reg = registry();
  for (auto it = reg.begin(); it != reg.end();) it = it->second.expired() ? reg.erase(it) : std::next(it);

  // Our own connections first: the lock system reports our own lock as held
  // "elsewhere" too.
  if (auto it = reg.find(key); it != reg.end()) {
    if (auto entry = it->second.lock()) {
      if (forWriting && env.isLockedElsewhere(dbPath)) throw inUse(dbPath);
      return std::shared_ptr<DatabaseLock>(new DatabaseLock(std::move(entry)));
    }
  }
  auto unheld = [] { return std::shared_ptr<DatabaseLock>(new DatabaseLock(nullptr)); };

  if (env.isLockedElsewhere(dbPath)) {
    if (forWriting) throw inUse(dbPath);
    return unheld();
  }
  const std::string lockPath = lockFilePath(dbPath);
  std::unique_ptr<FileLock> fileLock;
  try {
    fileLock = env.tryLockExclusive(lockPath);
  } catch (const Error& e) {
    if (forWriting)
      throw Error("the database '" + dbPath + "' cannot be changed: its lock file cannot be created (" +
                  e.what() + ")");
    auto lock = unheld();
    lock->lockFileUnavailable_ = true;
    return lock;
  }
  if (!fileLock) {
    if (forWriting) throw inUse(dbPath);
    return unheld();
  }
  auto entry = std::make_shared<Entry>(env, lockPath, PageChannel::journalPath(dbPath), std::move(fileLock));
  reg[key] = entry;
  return std::shared_ptr<DatabaseLock>(new DatabaseLock(std::move(entry)));
}

OpenDatabaseFile openDatabaseFile(Env& env, const std::string& dbPath, bool readOnly) {
  if (!env.exists(dbPath)) throw Error("the database '" + dbPath + "' does not exist");
  OpenDatabaseFile out;
  out.lock = DatabaseLock::acquire(env, dbPath, !readOnly);
  // A journal beside a database another program holds may be that
  // program's change under way: not ours to judge.
  if (!out.lock->held() && !out.lock->lockFileUnavailable() && env.exists(PageChannel::journalPath(dbPath)))
    throw Error("the database '" + dbPath + "' is in use by another program, which is changing it");
  // Opened once, here, and given to the channel.
  std::unique_ptr<File> file;
  if (readOnly) {
    file = env.open(dbPath, OpenMode::ReadOnly);
  } else {
    try {
      file = env.open(dbPath, OpenMode::ReadWrite);
    } catch (const Error&) {
      // Windows: another program that opened the file since our check keeps
      // us out by its share mode.
      if (env.isLockedElsewhere(dbPath)) throw inUse(dbPath);
      env.open(dbPath, OpenMode::ReadOnly);  // a missing or unreadable file: its own Error
      throw Error("the database '" + dbPath + "' is read-only and cannot be changed");
    }
  }
  out.channel = std::make_unique<PageChannel>(env, dbPath, std::move(file), readOnly, out.lock->pageCache());
  return out;
}

}  // namespace engine
