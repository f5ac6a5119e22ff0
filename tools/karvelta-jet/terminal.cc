#include "tools/karvelta-jet/terminal.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace jettool {

bool standardErrorIsTerminal() {
#ifdef _WIN32
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
#else
  return isatty(STDERR_FILENO) == 1;
#endif
}

}  // namespace jettool
