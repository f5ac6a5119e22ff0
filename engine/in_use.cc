#include "engine/in_use.h"

#include "engine/path.h"

namespace engine {

std::string lockFilePath(const std::string& dbPath) {
  std::size_t slash = std::string::npos;
  for (std::size_t i = 0; i < dbPath.size(); ++i)
    if (isPathSeparator(dbPath[i])) slash = i;
  std::size_t dot = dbPath.find_last_of('.');
  bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
  return (hasExtension ? dbPath.substr(0, dot) : dbPath) + ".ldb";
}

bool isInUseElsewhere(Env& env, const std::string& dbPath) {
  return env.isLockedElsewhere(lockFilePath(dbPath)) || env.isLockedElsewhere(dbPath);
}

}  // namespace engine
