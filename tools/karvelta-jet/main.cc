#include <iostream>
#include <string>
#include <vector>

#include "engine/env.h"
#include "engine/program_arguments.h"
#include "tools/karvelta-jet/jet_tool.h"
#include "tools/karvelta-jet/terminal.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  std::vector<std::string> args = engine::programArguments(argc, argv);
  if (!args.empty()) args.erase(args.begin());
  return jettool::run(args, std::cout, std::cerr, engine::Env::system(),
                      jettool::standardErrorIsTerminal());
}
