// Crash tests: an operation run once under each cut of its writes and
// flushes (see engine/testing/fault_env.h for what a cut does).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "engine/error.h"
#include "engine/jet_database.h"
#include "engine/page_channel.h"
#include "engine/testing/fault_env.h"
#include "engine/tests/integrity_util.h"
#include "engine/tests/write_test_util.h"

namespace engine::testutil {

// One cut: the nth write or flush fails, or is followed by a crash (which
// may also lose what was not flushed).
struct Cut {
  testing::FaultEnv::Kind kind;
  testing::FaultEnv::Mode mode;
  bool loseUnsynced;
  int n;

  std::string name() const {
    return "kind " + std::to_string(static_cast<int>(kind)) + " mode " +
           std::to_string(static_cast<int>(mode)) + " lose " + std::to_string(loseUnsynced) +
           " n " + std::to_string(n);
  }
};

// For every kind, mode and loss, cuts the 1st, 2nd, ... call until the
// operation runs to its end without meeting the cut (at most maxCalls).
// Before each run `prepare` restores the starting state; after it `check`
// sees the cut, whether the operation threw, and whether the cut fired. A run
// the cut did not reach must not throw.
inline void forEveryCut(Env& base, int maxCalls, const std::function<void()>& prepare,
                        const std::function<void(Env&)>& operation,
                        const std::function<void(const Cut&, bool threw, bool fired)>& check) {
  using testing::FaultEnv;
  for (FaultEnv::Kind kind : {FaultEnv::Kind::Write, FaultEnv::Kind::Sync}) {
    for (FaultEnv::Mode mode :
         {FaultEnv::Mode::Fail, FaultEnv::Mode::CrashAfter, FaultEnv::Mode::TornCrash}) {
      if (kind == FaultEnv::Kind::Sync && mode == FaultEnv::Mode::TornCrash) continue;
      for (bool lose : {false, true}) {
        if (lose && mode == FaultEnv::Mode::Fail) continue;
        bool completed = false;
        for (int n = 1; n <= maxCalls && !completed; ++n) {
          const Cut cut{kind, mode, lose, n};
          prepare();
          FaultEnv env(base);
          env.loseUnsyncedOnCrash(lose);
          env.arm(kind, mode, n);
          bool threw = false;
          try {
            operation(env);
          } catch (const Error&) {
            threw = true;
          } catch (const testing::SimulatedCrash&) {
            threw = true;
          }
          const bool fired = env.fired();
          env.disarm();
          check(cut, threw, fired);
          if (!fired) {
            EXPECT_FALSE(threw) << cut.name();
            completed = true;
          }
        }
        EXPECT_TRUE(completed) << "the operation makes more than " << maxCalls << " calls";
      }
    }
  }
}

// An operation on a database, under a fixed clock or a cut of it.
using DatabaseOperation = std::function<void(Env&, const std::string& path)>;

// Runs the operation on a copy of the fixture under every cut: after
// reopening with the real Env (which rolls back a journal left behind) the
// file is byte for byte as before or as after the uncut operation, passes the
// integrity check, and no journal is left. Returns the path of the copy the uncut operation changed,
// for further checks.
// The same from a database of these bytes (made from the fixture, whose
// count drifts it keeps) instead of the fixture itself.
inline std::string expectAllOrNothingFrom(const TempDir& dir, const std::vector<std::uint8_t>& start,
                                          const std::string& fixture, const std::string& password,
                                          const DatabaseOperation& op);

inline std::string expectAllOrNothing(const TempDir& dir, const std::string& fixture,
                                      const std::string& password, const DatabaseOperation& op) {
  return expectAllOrNothingFrom(dir, fileBytes(dir.copy(fixture, "before.mdb")), fixture, password, op);
}

inline std::string expectAllOrNothingFrom(const TempDir& dir, const std::vector<std::uint8_t>& start,
                                          const std::string& fixture, const std::string& password,
                                          const DatabaseOperation& op) {
  FixedClockEnv clock;
  const std::string reference = dir.path("after.mdb");
  writeBytes(reference, start);
  const auto before = start;
  op(clock, reference);
  const auto after = fileBytes(reference);
  EXPECT_NE(before, after);
  expectIntegrity(reference, password, fixture);
  const std::string path = dir.path("cut.mdb");
  int endedAfter = 0;
  forEveryCut(
      clock, 200,
      [&] {
        writeBytes(path, before);
        std::filesystem::remove(PageChannel::journalPath(path));
      },
      [&](Env& env) { op(env, path); },
      [&](const Cut& cut, bool, bool fired) {
        { JetDatabase reopened(Env::system(), path, true, password); }
        const auto now = fileBytes(path);
        EXPECT_TRUE(now == before || now == after) << fixture << " " << cut.name();
        EXPECT_FALSE(std::filesystem::exists(PageChannel::journalPath(path))) << cut.name();
        expectIntegrity(path, password, fixture);
        if (now == after) ++endedAfter;
        if (!fired) {
          EXPECT_EQ(now, after) << cut.name();
        }
      });
  EXPECT_GT(endedAfter, 0) << "no cut left the operation's result";
  return reference;
}

}  // namespace engine::testutil
