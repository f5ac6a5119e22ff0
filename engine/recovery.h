// Bringing a database back to its last committed state.
//
// A change interrupted by a crash or a power cut leaves the database beside
// its rollback journal (page_channel.h) until the engine next opens it for
// writing. Anything that reads the file without the engine, the backup
// above all, must first have that journal dealt with, or it reads a
// half-written file. recoverDatabase does only that: under the lock rules of
// an open for writing (lock.h) it rolls a hot journal back, or removes one
// that was never complete, and touches nothing else.
#pragma once

#include <string>

#include "engine/env.h"
#include "engine/page_channel.h"

namespace engine {

// Returns what was done; None, without opening anything, when the database
// has no journal. Error when the database is missing, or when a journal is
// there but cannot be dealt with: the database is held by another program,
// the file or its folder cannot be written. When it returns, no journal is
// left.
JournalRecovery recoverDatabase(Env& env, const std::string& dbPath);

}  // namespace engine
