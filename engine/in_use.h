// Whether another program holds a database open.
#pragma once

#include <string>

#include "engine/env.h"

namespace engine {

// The Jet lock file of a database: its path with the extension replaced by
// ".ldb" (or ".ldb" appended when it has none), in the same directory.
std::string lockFilePath(const std::string& dbPath);

// True when another program holds the database's lock file or the database
// file itself (Env::isLockedElsewhere of each): on Linux a lock through some
// other open file description, on Windows an open of either for writing, as a
// client of the real engine keeps both while it has the database open.
bool isInUseElsewhere(Env& env, const std::string& dbPath);

}  // namespace engine
