// The one error type of the engine and of the platform seam beneath it.
#pragma once

#include <stdexcept>
#include <string>

namespace engine {

// Every refusal of the engine (bad input, a file it does not understand, an
// I/O failure, a name already taken) is thrown as an Error whose message says
// what went wrong. Callers either catch it or let it pass; nothing inspects
// codes.
class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace engine
