// Whether the program's standard error is a terminal (a console on
// Windows), where a progress line updated in place can be shown.
#pragma once

namespace jettool {

bool standardErrorIsTerminal();

}  // namespace jettool
