// The karvelta-jet command line: a thin layer over the engine for
// technicians and tests.
//
//   karvelta-jet schema DB [--password P]
//   karvelta-jet rows DB TABLE [--password P]
//   karvelta-jet add-field DB TABLE FIELD TYPECODE [SIZE] [--password P]
//   karvelta-jet compact SRC DST [--password P] [--quiet]
//
// Output is JSON (see jet_tool.cc for the exact shape). On a refusal the
// engine's message goes to `err` and the result is non-zero.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace engine {
class Env;
}

namespace jettool {

// args excludes the program name. errIsTerminal: `err` is a terminal, where
// long commands (compact) show their progress.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        engine::Env& env, bool errIsTerminal = false);

}  // namespace jettool
