// Whether the independent readers (tools/readers: mdbtools and the npm
// package mdb-reader under node) can check the files a test writes. They are
// Linux programs: the cross-compiled suite under Wine leaves their part of a
// test to the native suite. Needs KARVELTA_SOURCE_DIR.
#pragma once

#include <cstdlib>
#include <string>

namespace engine::testing {

// Empty when the readers can run here; else why not, for the test's skip.
inline std::string whyNoReaders() {
#ifdef _WIN32
  return "the independent readers run in the native suite only";
#else
  static const bool found =
      std::system("command -v node >/dev/null 2>&1 && command -v mdb-schema >/dev/null 2>&1 && "
                  "command -v mdb-export >/dev/null 2>&1 && command -v mdb-prop >/dev/null 2>&1 && "
                  "test -d '" KARVELTA_SOURCE_DIR "/tools/readers/node_modules/mdb-reader'") == 0;
  return found ? "" : "node, mdbtools or tools/readers/node_modules missing (scripts/install-deps.sh)";
#endif
}

inline bool readersAvailable() { return whyNoReaders().empty(); }

}  // namespace engine::testing
