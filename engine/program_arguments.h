// The program's command line as the rest of the program holds text: UTF-8.
//
// On Windows, main's argv is the command line in the ANSI code page, where
// every letter outside that page is already replaced by a look-alike or a
// question mark (a folder "Satış" arrives as "Satis" under code page 1252),
// so there the arguments are read again from the wide command line of the
// process. Elsewhere argv is UTF-8 already and is taken as it is.
#pragma once

#include <string>
#include <vector>

namespace engine {

// All the arguments, the program's own name first; argc and argv are main's.
std::vector<std::string> programArguments(int argc, char** argv);

}  // namespace engine
