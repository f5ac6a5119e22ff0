// The rollback journal: recovery on open, torn journals, and every cut point
// of a multi-page transaction through the fault-injecting Env.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/error.h"
#include "engine/page_channel.h"
#include "engine/testing/fault_env.h"
#include "engine/tests/write_test_util.h"

namespace engine {
namespace {

using testing::FaultEnv;
using testing::SimulatedCrash;
using testutil::fileBytes;
using testutil::TempDir;
using testutil::writeBytes;

Page filled(std::uint8_t value) {
  Page p{};
  p.fill(value);
  return p;
}

// The toy change: three existing pages rewritten (one of them twice), two
// pages allocated and written.
void toyChange(PageChannel& ch) {
  WriteTransaction tx(ch);
  ch.writePage(4, filled(0x44));
  ch.writePage(9, filled(0x99));
  std::uint32_t a = ch.allocatePage();
  std::uint32_t b = ch.allocatePage();
  ch.writePage(a, filled(0xAA));
  ch.writePage(b, filled(0xBB));
  ch.writePage(4, filled(0x45));
  tx.commit();
}

std::string journalOf(const std::string& db) { return PageChannel::journalPath(db); }

// Runs the toy change on a fresh copy under the fault, then reopens with the
// real Env. Returns whether the fault fired; `endedAfter` tells which state
// the file was left in.
bool runCut(const TempDir& dir, bool loseUnsynced, FaultEnv::Kind kind, FaultEnv::Mode mode, int n,
            const std::vector<std::uint8_t>& before, const std::vector<std::uint8_t>& after,
            bool& endedAfter) {
  std::string db = dir.copy("sales-small.mdb", "cut.mdb");
  std::filesystem::remove(journalOf(db));
  FaultEnv env(Env::system());
  env.loseUnsyncedOnCrash(loseUnsynced);
  bool fired = false;
  {
    PageChannel ch(env, db, false);
    env.arm(kind, mode, n);
    try {
      toyChange(ch);
    } catch (const SimulatedCrash&) {
      EXPECT_NE(mode, FaultEnv::Mode::Fail);
    } catch (const Error&) {
      EXPECT_EQ(mode, FaultEnv::Mode::Fail);
      // A failed commit has already put everything back.
      EXPECT_EQ(fileBytes(db), before);
      EXPECT_FALSE(std::filesystem::exists(journalOf(db)));
    }
    fired = env.fired();
  }
  { PageChannel reopened(Env::system(), db, true); }  // rolls back a hot journal
  auto now = fileBytes(db);
  EXPECT_TRUE(now == before || now == after);
  endedAfter = now == after;
  if (fired && mode == FaultEnv::Mode::Fail) {
    EXPECT_EQ(now, before);
  }
  if (!fired) {
    EXPECT_EQ(now, after);
  }
  EXPECT_FALSE(std::filesystem::exists(journalOf(db)));
  return fired;
}

TEST(Journal, EveryCutPointLeavesTheFileExactlyBeforeOrAfter) {
  TempDir dir;
  std::string ref = dir.copy("sales-small.mdb", "ref.mdb");
  auto before = fileBytes(ref);
  {
    PageChannel ch(Env::system(), ref, false);
    toyChange(ch);
  }
  auto after = fileBytes(ref);
  ASSERT_EQ(after.size(), before.size() + 2 * kPageSize);

  using K = FaultEnv::Kind;
  using M = FaultEnv::Mode;
  // Crashes either keep every write (the disk got everything) or lose every
  // write and directory change not yet flushed (the worst case).
  for (bool lose : {false, true})
  for (auto [kind, mode] : {std::pair{K::Write, M::Fail}, {K::Write, M::CrashAfter}, {K::Write, M::TornCrash},
                            {K::Sync, M::Fail}, {K::Sync, M::CrashAfter}}) {
    int n = 1;
    int cutsEndingAfter = 0;
    while (true) {
      SCOPED_TRACE(std::string(lose ? "losing unsynced, " : "") + "kind " +
                   std::to_string(static_cast<int>(kind)) + " mode " + std::to_string(static_cast<int>(mode)) +
                   " n " + std::to_string(n));
      bool endedAfter = false;
      if (!runCut(dir, lose, kind, mode, n, before, after, endedAfter)) break;
      cutsEndingAfter += endedAfter ? 1 : 0;
      ASSERT_LT(++n, 100);
      if (::testing::Test::HasFailure()) return;
    }
    EXPECT_GT(n, 2);  // the change has several writes and syncs to cut
    // A failure is always undone; a crash once the journal's removal is on
    // disk leaves the change in place (with unflushed changes lost, only the
    // final directory flush gets there).
    if (mode == M::Fail || (lose && kind == K::Write)) {
      EXPECT_EQ(cutsEndingAfter, 0);
    } else {
      EXPECT_GE(cutsEndingAfter, 1);
    }
  }
}

TEST(Journal, CrashAfterTheDatabaseWritesIsRolledBackOnOpen) {
  TempDir dir;
  std::string db = dir.copy("sales-small.mdb");
  auto before = fileBytes(db);
  FaultEnv env(Env::system());
  {
    PageChannel ch(env, db, false);
    // Writes: create journal, journal body, pages 1, 4, 9, 41, 42 -> crash after page 9.
    env.arm(FaultEnv::Kind::Write, FaultEnv::Mode::CrashAfter, 5);
    EXPECT_THROW(toyChange(ch), SimulatedCrash);
  }
  ASSERT_TRUE(std::filesystem::exists(journalOf(db)));
  EXPECT_NE(fileBytes(db), before);  // half-written
  // A writable open repairs it.
  {
    PageChannel ch(Env::system(), db, false);
    EXPECT_EQ(ch.readPage(4), PageChannel(Env::system(), db, true).readPage(4));
  }
  EXPECT_EQ(fileBytes(db), before);
  EXPECT_FALSE(std::filesystem::exists(journalOf(db)));
}

TEST(Journal, ReadOnlyOpenOfAHalfWrittenFile) {
  TempDir dir;
  std::string db = dir.copy("sales-small.mdb");
  auto before = fileBytes(db);
  auto halfWrite = [&] {
    FaultEnv env(Env::system());
    PageChannel ch(env, db, false);
    env.arm(FaultEnv::Kind::Write, FaultEnv::Mode::CrashAfter, 4);
    EXPECT_THROW(toyChange(ch), SimulatedCrash);
  };
  halfWrite();
  auto torn = fileBytes(db);
  ASSERT_NE(torn, before);
  {
    // Without write access: refused, nothing touched.
    FaultEnv env(Env::system());
    env.denyWriteAccess(db);
    EXPECT_THROW(PageChannel(env, db, true), Error);
    EXPECT_EQ(fileBytes(db), torn);
    EXPECT_TRUE(std::filesystem::exists(journalOf(db)));
  }
  {
    // With write access: rolled back, then read.
    PageChannel ch(Env::system(), db, true);
    EXPECT_EQ(fileBytes(db), before);
  }
}

TEST(Journal, TornOrForeignJournalIsDiscardedAndTheFileLeftAlone) {
  TempDir dir;
  std::string db = dir.copy("sales-small.mdb");
  auto before = fileBytes(db);
  // A whole journal to damage: crash right after the database writes began.
  {
    FaultEnv env(Env::system());
    PageChannel ch(env, db, false);
    env.arm(FaultEnv::Kind::Sync, FaultEnv::Mode::CrashAfter, 2);  // journal file, its directory
    EXPECT_THROW(toyChange(ch), SimulatedCrash);
  }
  auto journal = fileBytes(journalOf(db));
  ASSERT_EQ(fileBytes(db), before);  // the database was not touched yet
  ASSERT_EQ(journal.size(), 32 + 3 * (4 + kPageSize + 4));

  auto damaged = [&](auto change) {
    auto j = journal;
    change(j);
    return j;
  };
  std::vector<std::vector<std::uint8_t>> variants = {
      {},                                                                 // empty
      damaged([](auto& j) { j.resize(20); }),                             // torn header
      damaged([](auto& j) { j.resize(j.size() - 100); }),                 // torn last record
      damaged([](auto& j) { j.resize(j.size() + 7); }),                   // trailing bytes
      damaged([](auto& j) { j[0] ^= 1; }),                                // magic
      damaged([](auto& j) { j[12] ^= 1; }),                               // record count
      damaged([](auto& j) { j[32 + 4 + 100] ^= 0x80; }),                  // a record's content
      damaged([](auto& j) { j[32 + 4104 + 1] = 0x7F; }),                  // a page number
      std::vector<std::uint8_t>(5000, 0x5A),                              // something else
  };
  for (std::size_t i = 0; i < variants.size(); ++i) {
    SCOPED_TRACE(i);
    // Pages of the database differ from the journal's, so a wrong rollback shows.
    writeBytes(journalOf(db), variants[i]);
    { PageChannel ch(Env::system(), db, false); }
    EXPECT_EQ(fileBytes(db), before);
    EXPECT_FALSE(std::filesystem::exists(journalOf(db)));
  }
  // The undamaged journal is hot: applying it is harmless here (same pages).
  writeBytes(journalOf(db), journal);
  { PageChannel ch(Env::system(), db, false); }
  EXPECT_EQ(fileBytes(db), before);
  EXPECT_FALSE(std::filesystem::exists(journalOf(db)));
}

TEST(Journal, RollbackCutsAppendedPages) {
  TempDir dir;
  std::string db = dir.copy("sales-small.mdb");
  auto before = fileBytes(db);
  {
    FaultEnv env(Env::system());
    PageChannel ch(env, db, false);
    env.arm(FaultEnv::Kind::Sync, FaultEnv::Mode::CrashAfter, 3);  // the database's flush
    EXPECT_THROW(toyChange(ch), SimulatedCrash);
  }
  EXPECT_EQ(fileBytes(db).size(), before.size() + 2 * kPageSize);
  { PageChannel ch(Env::system(), db, false); }
  EXPECT_EQ(fileBytes(db), before);
}

}  // namespace
}  // namespace engine
