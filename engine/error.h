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

// An Error that may pass by itself: on Windows a sharing or lock violation,
// another program (a virus scanner, the search indexer, a backup tool) having
// the file open in a way that excludes ours. Only the retrying layer
// (engine/retrying_env.h) tells it apart, to try the call again for a moment;
// whatever it lets through is an Error like any other.
class SharingViolation : public Error {
 public:
  using Error::Error;
};

}  // namespace engine
