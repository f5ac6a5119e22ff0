// The retrying layer over an injected Env whose calls are refused for a
// while as by a virus scanner, on a clock of the test's own: what is tried
// again, how often, for how long, and what a lasting holder costs.
#include "engine/retrying_env.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "engine/error.h"
#include "engine/in_use.h"
#include "engine/lock.h"
#include "engine/tests/write_test_util.h"

namespace engine {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;
using testutil::TempDir;

// The system's Env, with every call refused by a sharing violation (or, for
// the two lock probes, answered "held") while `refusals` is above zero; each
// refused call takes one off, and never does anything. With `forever` every
// call is refused.
class ScannedEnv final : public EnvWrapper {
 public:
  ScannedEnv() : EnvWrapper(Env::system()) {}
  int refusals = 0;
  bool forever = false;
  int attempts = 0;

  std::unique_ptr<File> open(const std::string& path, OpenMode mode) override {
    refuseNow(path);
    return std::make_unique<ScannedFile>(*this, target().open(path, mode), path);
  }
  void remove(const std::string& path) override {
    refuseNow(path);
    target().remove(path);
  }
  void renameNoReplace(const std::string& from, const std::string& to) override {
    refuseNow(from);
    target().renameNoReplace(from, to);
  }
  std::unique_ptr<FileLock> tryLockExclusive(const std::string& path) override {
    return refused() ? nullptr : target().tryLockExclusive(path);
  }
  bool isLockedElsewhere(const std::string& path) override {
    return refused() || target().isLockedElsewhere(path);
  }

  bool refused() {
    ++attempts;
    if (!forever && refusals == 0) return false;
    if (refusals > 0) --refusals;
    return true;
  }
  void refuseNow(const std::string& path) {
    if (refused()) throw SharingViolation("cannot open '" + path + "': in use by another process");
  }

 private:
  class ScannedFile final : public FileWrapper {
   public:
    ScannedFile(ScannedEnv& env, std::unique_ptr<File> target, std::string path)
        : FileWrapper(std::move(target)), env_(env), path_(std::move(path)) {}
    void read(std::uint64_t offset, std::span<std::uint8_t> out) override {
      env_.refuseNow(path_);
      target().read(offset, out);
    }
    void write(std::uint64_t offset, std::span<const std::uint8_t> data) override {
      env_.refuseNow(path_);
      target().write(offset, data);
    }
    void sync() override {
      env_.refuseNow(path_);
      target().sync();
    }
    void truncate(std::uint64_t size) override {
      env_.refuseNow(path_);
      target().truncate(size);
    }

   private:
    ScannedEnv& env_;
    std::string path_;
  };
};

class Retrying : public ::testing::Test {
 protected:
  // The layer on a clock that moves only when it sleeps.
  RetryingEnv env{scanned, RetryPolicy{}, [this] { return now; },
                  [this](std::chrono::steady_clock::duration d) {
                    waits.push_back(std::chrono::duration_cast<milliseconds>(d));
                    now += d;
                  }};
  milliseconds waited() const {
    milliseconds sum{0};
    for (milliseconds w : waits) sum += w;
    return sum;
  }

  TempDir dir;
  ScannedEnv scanned;
  std::chrono::steady_clock::time_point now{};
  std::vector<milliseconds> waits;
};

TEST_F(Retrying, EveryCallRefusedForAMomentSucceedsAfterWaitsThatDouble) {
  const std::string path = dir.path("f.bin");
  const std::string other = dir.path("g.bin");
  testutil::writeBytes(path, {1, 2, 3, 4});
  testutil::writeBytes(other, {6});
  std::unique_ptr<File> file = env.open(path, OpenMode::ReadWrite);
  std::vector<std::uint8_t> four(4);
  const std::vector<std::pair<const char*, std::function<void()>>> calls = {
      {"open", [&] { env.open(path, OpenMode::ReadOnly); }},
      {"read", [&] { file->read(0, four); }},
      {"write", [&] { file->write(4, std::vector<std::uint8_t>{5}); }},
      {"sync", [&] { file->sync(); }},
      {"truncate", [&] { file->truncate(5); }},
      {"rename",
       [&] {
         env.renameNoReplace(other, dir.path("h.bin"));
         env.renameNoReplace(dir.path("h.bin"), other);
       }},
      {"lock", [&] { EXPECT_NE(env.tryLockExclusive(dir.path("f.ldb")), nullptr); }},
      {"probe", [&] { EXPECT_FALSE(env.isLockedElsewhere(path)); }},
      {"remove", [&] { env.remove(dir.path("f.ldb")); }},
  };
  for (const auto& [what, call] : calls) {
    SCOPED_TRACE(what);
    waits.clear();
    scanned.refusals = 3;
    EXPECT_NO_THROW(call());
    EXPECT_EQ(scanned.refusals, 0);
    EXPECT_EQ(waits, (std::vector<milliseconds>{10ms, 20ms, 40ms}));
  }
  EXPECT_EQ(testutil::fileBytes(path), (std::vector<std::uint8_t>{1, 2, 3, 4, 5}));
  EXPECT_FALSE(scanned.exists(dir.path("f.ldb")));
}

TEST_F(Retrying, ALastingHolderIsReportedAfterOneSecondAndThenAtOnceForSeconds) {
  const std::string db = dir.copy("sales-small.mdb");
  scanned.forever = true;
  // The full budget: waits of 10, 20 ... ms, the last cut to what is left.
  try {
    env.open(db, OpenMode::ReadWrite);
    ADD_FAILURE() << "opened";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("in use by another process"), std::string::npos) << e.what();
  }
  EXPECT_EQ(waits, (std::vector<milliseconds>{10ms, 20ms, 40ms, 80ms, 160ms, 320ms, 370ms}));
  EXPECT_EQ(waited(), 1000ms);

  // The update run's ~33 opens while the sales program holds the database:
  // the first took the second above, the rest are refused as in use at
  // once, under any spelling of the path.
  for (int i = 0; i < 33; ++i) {
    try {
      openDatabaseFile(env, i % 2 ? db : dir.path("./sales-small.mdb"), false);
      ADD_FAILURE() << "opened";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find("in use by another program"), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(waited(), 1000ms);
  EXPECT_FALSE(scanned.exists(lockFilePath(db))) << "no lock file made for a held database";

  // Held still four seconds after the last of them; tried again in full five
  // seconds after the last refusal; another file is tried in full too.
  now += 4999ms;
  EXPECT_TRUE(env.isLockedElsewhere(db));
  EXPECT_EQ(waited(), 1000ms);
  now += 5000ms;
  EXPECT_TRUE(env.isLockedElsewhere(db));
  EXPECT_EQ(waited(), 2000ms);
  EXPECT_EQ(env.tryLockExclusive(dir.path("other.ldb")), nullptr);
  EXPECT_EQ(waited(), 3000ms);

  // Once the holder lets go, the first call goes through.
  scanned.forever = false;
  EXPECT_NO_THROW(openDatabaseFile(env, db, false));
}

TEST_F(Retrying, OtherFailuresAreNotTriedAgain) {
  EXPECT_THROW(env.open(dir.path("missing.mdb"), OpenMode::ReadOnly), Error);
  EXPECT_THROW(env.renameNoReplace(dir.path("missing.mdb"), dir.path("b")), Error);
  EXPECT_EQ(scanned.attempts, 2);
  EXPECT_TRUE(waits.empty());
}

}  // namespace
}  // namespace engine
