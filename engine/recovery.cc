#include "engine/recovery.h"

#include "engine/error.h"
#include "engine/lock.h"

namespace engine {

JournalRecovery recoverDatabase(Env& env, const std::string& dbPath) {
  if (!env.exists(dbPath)) throw Error("the database '" + dbPath + "' does not exist");
  const std::string journal = PageChannel::journalPath(dbPath);
  if (!env.exists(journal)) return JournalRecovery::None;
  JournalRecovery done = JournalRecovery::None;
  bool kept = false;
  try {
    // Opening for writing takes the lock and rolls the journal back.
    OpenDatabaseFile file = openDatabaseFile(env, dbPath, false);
    done = file.channel->journalRecovery();
    // Or the journal is the one this process's open connections keep,
    // voided, between their commits.
    kept = file.lock->journalKept();
  } catch (const Error& e) {
    throw Error("the interrupted change to '" + dbPath + "' cannot be rolled back: " + e.what());
  }
  // Another connection of this process may have dealt with it meanwhile;
  // what matters is that it is gone.
  if (!kept && env.exists(journal))
    throw Error("the rollback journal of '" + dbPath + "' could not be removed");
  return done;
}

}  // namespace engine
