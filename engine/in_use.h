// Whether another program holds a database open.
#pragma once

#include <string>

#include "engine/env.h"

namespace engine {

// The Jet lock file of a database: its path with the extension replaced by
// ".ldb" (or ".ldb" appended when it has none), in the same directory.
std::string lockFilePath(const std::string& dbPath);

// True when some other open file description, in practice another process,
// holds a lock on the database's lock file or on the database file itself.
bool isInUseElsewhere(Env& env, const std::string& dbPath);

}  // namespace engine
