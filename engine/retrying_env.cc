#include "engine/retrying_env.h"

#include <algorithm>
#include <exception>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "engine/error.h"
#include "engine/path.h"

namespace engine {

class RetryingEnv::Retrier {
 public:
  using Duration = std::chrono::steady_clock::duration;
  using TimePoint = std::chrono::steady_clock::time_point;

  Retrier(RetryPolicy policy, Clock clock, Sleep sleep)
      : policy_(policy), clock_(std::move(clock)), sleep_(std::move(sleep)) {
    if (!clock_) clock_ = [] { return std::chrono::steady_clock::now(); };
    if (!sleep_) sleep_ = [](Duration d) { std::this_thread::sleep_for(d); };
  }

  // Makes attempt() until it returns true (done) or the time is up; false
  // when it was still refused at the end. An exception from attempt() ends
  // it at once.
  bool run(const std::string& path, const std::function<bool()>& attempt) {
    if (attempt()) return true;  // the usual case: no key, no clock, no lock
    const std::string key = pathKey(path);
    const TimePoint start = clock_();
    if (stillHeld(key, start)) return false;
    Duration wait = policy_.firstWait;
    for (;;) {
      const Duration left = policy_.budget - (clock_() - start);
      if (left <= Duration::zero()) break;
      sleep_(std::min(wait, left));
      wait *= 2;
      if (attempt()) return true;
    }
    markHeld(key, clock_());
    return false;
  }

  // Calls f, again while it throws SharingViolation (see run); the last
  // refusal is thrown when the time is up.
  void call(const std::string& path, const std::function<void()>& f) {
    std::exception_ptr refusal;
    const bool done = run(path, [&] {
      try {
        f();
        return true;
      } catch (const SharingViolation&) {
        refusal = std::current_exception();
        return false;
      }
    });
    if (!done) std::rethrow_exception(refusal);
  }

 private:
  // Whether key's holder outlasted a budget within heldFor before now; if
  // so, this refusal counts as seen now.
  bool stillHeld(const std::string& key, TimePoint now) {
    std::lock_guard guard(mutex_);
    auto it = held_.find(key);
    if (it == held_.end() || now - it->second >= policy_.heldFor) return false;
    it->second = now;
    return true;
  }

  void markHeld(const std::string& key, TimePoint now) {
    std::lock_guard guard(mutex_);
    std::erase_if(held_, [&](const auto& entry) { return now - entry.second >= policy_.heldFor; });
    held_[key] = now;
  }

  const RetryPolicy policy_;
  Clock clock_;
  Sleep sleep_;
  std::mutex mutex_;
  std::map<std::string, TimePoint> held_;  // by pathKey: when a refusal on it was last final
};

namespace {

class RetryingFile final : public File {
 public:
  RetryingFile(std::unique_ptr<File> target, std::string path, std::shared_ptr<RetryingEnv::Retrier> retrier)
      : target_(std::move(target)), path_(std::move(path)), retrier_(std::move(retrier)) {}

  std::uint64_t size() override {
    std::uint64_t n = 0;
    retrier_->call(path_, [&] { n = target_->size(); });
    return n;
  }
  void read(std::uint64_t offset, std::span<std::uint8_t> out) override {
    retrier_->call(path_, [&] { target_->read(offset, out); });
  }
  // A write refused part of the way is made again whole: the same bytes at
  // the same offsets.
  void write(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    retrier_->call(path_, [&] { target_->write(offset, data); });
  }
  void sync() override {
    retrier_->call(path_, [&] { target_->sync(); });
  }
  void truncate(std::uint64_t size) override {
    retrier_->call(path_, [&] { target_->truncate(size); });
  }

 private:
  std::unique_ptr<File> target_;
  std::string path_;
  std::shared_ptr<RetryingEnv::Retrier> retrier_;
};

}  // namespace

RetryingEnv::RetryingEnv(Env& target, RetryPolicy policy, Clock clock, Sleep sleep)
    : EnvWrapper(target), retrier_(std::make_shared<Retrier>(policy, std::move(clock), std::move(sleep))) {}

std::unique_ptr<File> RetryingEnv::open(const std::string& path, OpenMode mode) {
  std::unique_ptr<File> file;
  retrier_->call(path, [&] { file = target().open(path, mode); });
  return std::make_unique<RetryingFile>(std::move(file), path, retrier_);
}

void RetryingEnv::remove(const std::string& path) {
  retrier_->call(path, [&] { target().remove(path); });
}

void RetryingEnv::renameNoReplace(const std::string& from, const std::string& to) {
  retrier_->call(from, [&] { target().renameNoReplace(from, to); });
}

void RetryingEnv::syncDirectory(const std::string& dir) {
  retrier_->call(dir, [&] { target().syncDirectory(dir); });
}

std::unique_ptr<FileLock> RetryingEnv::tryLockExclusive(const std::string& path) {
  std::unique_ptr<FileLock> lock;
  retrier_->run(path, [&] {
    lock = target().tryLockExclusive(path);
    return lock != nullptr;
  });
  return lock;
}

bool RetryingEnv::isLockedElsewhere(const std::string& path) {
  bool locked = true;
  retrier_->run(path, [&] {
    locked = target().isLockedElsewhere(path);
    return !locked;
  });
  return locked;
}

void RetryingEnv::copyFileContents(File& from, File& to) { Env::copyFileContents(from, to); }

}  // namespace engine
