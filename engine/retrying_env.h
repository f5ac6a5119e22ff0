// An Env that tries again, for a moment, what another program refused for a
// moment.
//
// On a shop's Windows workstation a virus scanner, the search indexer or a
// backup tool opens a file just written (our backup's copy, a rollback
// journal, the lock file) and keeps it open for some milliseconds; an open,
// read, write, flush, truncation, rename or removal of it fails meanwhile
// with a sharing or lock violation, which the Windows Env throws as a
// SharingViolation (engine/error.h). RetryingEnv gives each such call, and
// each call of the Files it opens, a short, bounded second chance:
//
//   - a call that throws SharingViolation is made again after 10, 20, 40 ...
//     ms (policy.firstWait, doubling) until it succeeds or policy.budget
//     (one second) has passed since its first refusal; then that refusal is
//     thrown. Any other Error is thrown at once;
//   - tryLockExclusive returning null and isLockedElsewhere returning true
//     are how another program's hold shows (engine/lock.cc decides "in use
//     by another program" by them), and a scanner's hold looks the same: they
//     are asked again in the same way while the answer stays so;
//   - a path whose holder outlasted a whole budget counts as held for
//     policy.heldFor (five seconds) after the last refusal seen on it: a
//     refusal then is final at once and starts those seconds anew. The sales
//     program keeping its database open thus costs one second per run of
//     refusals, not one for each of the ~33 opens of an update run; once it
//     lets go, the first call succeeds as before.
//
// The retries never hide a real holder for longer than the budget: a call
// ends at most one budget (plus its last attempt) after its first refusal.
// Paths are compared by pathKey. The clock and the sleep are injectable, so
// that tests take no real time.
//
// Env::system() is this layer over the raw Windows Env; on Linux, where
// advisory locks keep nobody out and no call fails this way, Env::system()
// is the raw Env and the layer serves tests over an injected one.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "engine/env.h"

namespace engine {

struct RetryPolicy {
  // The first wait after a refusal; each later one is twice the one before,
  // the last cut to what is left of the budget.
  std::chrono::milliseconds firstWait{10};
  // How long after its first refusal a call is still tried again.
  std::chrono::milliseconds budget{1000};
  // How long a path whose holder outlasted a whole budget counts as held.
  std::chrono::milliseconds heldFor{5000};
};

class RetryingEnv final : public EnvWrapper {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  using Sleep = std::function<void(std::chrono::steady_clock::duration)>;

  // clock and sleep default to the steady clock and the thread's sleep.
  explicit RetryingEnv(Env& target, RetryPolicy policy = {}, Clock clock = nullptr, Sleep sleep = nullptr);

  std::unique_ptr<File> open(const std::string& path, OpenMode mode) override;
  void remove(const std::string& path) override;
  // Keyed by `from`: the file a scanner may hold is the one just written.
  void renameNoReplace(const std::string& from, const std::string& to) override;
  void syncDirectory(const std::string& dir) override;
  std::unique_ptr<FileLock> tryLockExclusive(const std::string& path) override;
  bool isLockedElsewhere(const std::string& path) override;
  // Env's own chunked copy through the retrying Files, so that each chunk is
  // retried on its own rather than the whole copy.
  void copyFileContents(File& from, File& to) override;

  class Retrier;  // the policy, the clock and the held paths, shared with the Files

 private:
  std::shared_ptr<Retrier> retrier_;
};

}  // namespace engine
