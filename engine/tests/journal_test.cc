// The rollback journal: recovery on open, torn journals, and every cut point
// of a multi-page transaction through the fault-injecting Env.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <vector>

#include <zlib.h>
#define XXH_INLINE_ALL
#include <xxhash.h>

#include "engine/error.h"
#include "engine/lock.h"
#include "engine/page_channel.h"
#include "engine/recovery.h"
#include "engine/rollback_journal.h"
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

// A change of more pages than the toy change: the journal it leaves kept is
// longer than the toy change's, which is then written over its start.
void widerChange(PageChannel& ch) {
  WriteTransaction tx(ch);
  for (std::uint32_t n : {4u, 5u, 9u, 10u}) ch.writePage(n, filled(static_cast<std::uint8_t>(0x10 + n)));
  for (int i = 0; i < 4; ++i) ch.writePage(ch.allocatePage(), filled(static_cast<std::uint8_t>(0xC0 + i)));
  tx.commit();
}

std::string journalOf(const std::string& db) { return PageChannel::journalPath(db); }

// A kept journal between commits: there, its header the voided marker.
bool voided(const std::string& journal) {
  if (!std::filesystem::exists(journal)) return false;
  const auto bytes = fileBytes(journal);
  const auto marker = voidedJournalMarker(0);
  // The marker's salt (bytes 32..35) and checksum differ from commit to commit.
  return bytes.size() >= 48 && std::equal(marker.begin(), marker.begin() + 16, bytes.begin());
}

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
    // A failure is always undone; a crash keeps the change once the
    // database's pages are in the file, whether or not the journal's removal
    // survived.
    if (mode == M::Fail) {
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
    // Writes: create the new journal, its body, its rename, pages 1, 4, 9,
    // 41, 42 -> crash after page 9.
    env.arm(FaultEnv::Kind::Write, FaultEnv::Mode::CrashAfter, 6);
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

// The toy change cut on a fresh copy of sales-small by the fault: the
// database and the journal as the crash left them.
struct Interrupted {
  std::vector<std::uint8_t> db;
  std::vector<std::uint8_t> journal;
};
Interrupted interruptToyChange(const TempDir& dir, FaultEnv::Kind kind, FaultEnv::Mode mode, int n) {
  const std::string db = dir.copy("sales-small.mdb", "interrupted.mdb");
  std::filesystem::remove(journalOf(db));
  {
    FaultEnv env(Env::system());
    PageChannel ch(env, db, false);
    env.arm(kind, mode, n);
    EXPECT_THROW(toyChange(ch), SimulatedCrash);
  }
  Interrupted out{fileBytes(db), fileBytes(journalOf(db))};
  std::filesystem::remove(db);
  std::filesystem::remove(journalOf(db));
  return out;
}

// Journals written by earlier versions, which have no page list and one
// record per page ("PGJRNL04" with XXH3 checksums, "PGJRNL03" with CRC-32,
// "PGJRNL02" with FNV-1a), are still judged and rolled back; a damaged one
// is refused, since only its records tell which pages the change wrote.
TEST(Journal, JournalsOfEarlierVersionsAreStillRolledBack) {
  TempDir dir;
  std::string whole = dir.copy("sales-small.mdb", "whole.mdb");
  const std::vector<std::uint8_t> before = fileBytes(whole);
  {
    PageChannel ch(Env::system(), whole, false);
    toyChange(ch);
  }
  const std::vector<std::uint8_t> after = fileBytes(whole);
  // Writes: create the new journal, its body, its rename, pages 1, 4, 9, 41,
  // 42 -> crash after page 9.
  const Interrupted half = interruptToyChange(dir, FaultEnv::Kind::Write, FaultEnv::Mode::CrashAfter, 6);

  using Sum = std::function<std::uint32_t(const std::uint8_t*, std::size_t, std::uint32_t salt)>;
  const Sum fnv = [](const std::uint8_t* p, std::size_t n, std::uint32_t salt) {
    std::uint32_t h = 2166136261u ^ salt;
    for (std::size_t i = 0; i < n; ++i) {
      h ^= p[i];
      h *= 16777619u;
    }
    return h;
  };
  const Sum crc = [](const std::uint8_t* p, std::size_t n, std::uint32_t salt) {
    const std::uint8_t seed[4] = {static_cast<std::uint8_t>(salt), static_cast<std::uint8_t>(salt >> 8),
                                  static_cast<std::uint8_t>(salt >> 16), static_cast<std::uint8_t>(salt >> 24)};
    return static_cast<std::uint32_t>(crc32_z(crc32_z(0, seed, 4), p, n));
  };
  const Sum xxh3 = [](const std::uint8_t* p, std::size_t n, std::uint32_t salt) {
    return static_cast<std::uint32_t>(XXH3_64bits_withSeed(p, n, salt));
  };
  struct Version {
    char digit;
    Sum sum;                                                    // of the header and the records
    std::function<std::uint32_t(const std::uint8_t*)> sector;  // of 512 bytes of new content
  };
  const Version versions[] = {
      {'4', xxh3, [](const std::uint8_t* p) { return static_cast<std::uint32_t>(XXH3_64bits(p, 512)); }},
      {'3', crc, [](const std::uint8_t* p) { return static_cast<std::uint32_t>(crc32_z(0, p, 512)); }},
      {'2', fnv, [fnv](const std::uint8_t* p) { return fnv(p, 512, 0); }},
  };
  const std::uint32_t pages[] = {1, 4, 9, 41, 42};
  constexpr std::size_t kRecord = 4140;
  for (const auto& [version, sum, unsalted] : versions) {
    SCOPED_TRACE(std::string("PGJRNL0") + version);
    std::vector<std::uint8_t> j(48 + std::size(pages) * kRecord);
    auto put32 = [&j](std::size_t at, std::uint64_t v) {
      for (std::size_t i = 0; i < 4; ++i) j[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    const std::uint32_t salt = 0x5EED5EED;
    std::copy_n("PGJRNL0", 7, j.begin());
    j[7] = static_cast<std::uint8_t>(version);
    put32(8, kPageSize);
    put32(12, std::size(pages));
    put32(16, before.size());
    put32(24, after.size());
    put32(32, salt);
    put32(44, sum(j.data(), 44, salt));
    for (std::size_t r = 0; r < std::size(pages); ++r) {
      const std::size_t at = 48 + r * kRecord;
      const std::size_t n = pages[r];
      put32(at, n);
      if (n * kPageSize < before.size()) {
        put32(at + 4, 1);
        std::copy_n(before.begin() + static_cast<std::ptrdiff_t>(n * kPageSize), kPageSize, j.begin() + static_cast<std::ptrdiff_t>(at + 8));
      }
      for (std::size_t k = 0; k < 8; ++k)
        put32(at + 8 + kPageSize + 4 * k, unsalted(&after[n * kPageSize + k * 512]));
      put32(at + kRecord - 4, sum(j.data() + at, kRecord - 4, salt));
    }
    const std::string db = dir.path(std::string("v") + version + ".mdb");
    auto damaged = j;
    damaged[48 + kRecord + 8 + 300] ^= 1;  // page 4's old content
    writeBytes(db, half.db);
    writeBytes(journalOf(db), damaged);
    EXPECT_THROW(PageChannel(Env::system(), db, false), Error);
    EXPECT_EQ(fileBytes(db), half.db);
    EXPECT_EQ(fileBytes(journalOf(db)), damaged);

    writeBytes(journalOf(db), j);
    {
      PageChannel ch(Env::system(), db, false);
      EXPECT_EQ(ch.journalRecovery(), JournalRecovery::RolledBack);
    }
    EXPECT_TRUE(fileBytes(db) == before);
    EXPECT_FALSE(std::filesystem::exists(journalOf(db)));
  }
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

// A journal is removed only where the file proves it needless. Beside a
// database the change never reached (the power went off before the
// database was written), a journal whose header and page list are whole is
// settled silently, however damaged or cut its records: the page list shows
// every page as it was. Beside a half-changed database, any damage to what
// the rollback needs (a byte changed, the journal cut short) refuses the
// open and leaves both files exactly as they are, with a message that names
// the journal and the way out. A damaged header or page list is refused in
// both cases (unless, for a damaged list, every record shows its page
// untouched), and so is an empty journal or one whose header is zeros.
TEST(Journal, ADamagedJournalIsRemovedOnlyWhereTheFileShowsItNeedless) {
  TempDir dir;
  const std::vector<std::uint8_t> before = fileBytes(dir.copy("sales-small.mdb", "before.mdb"));
  // Syncs: the journal, its directory -> crash before the database writes.
  const Interrupted untouched = interruptToyChange(dir, FaultEnv::Kind::Sync, FaultEnv::Mode::CrashAfter, 2);
  ASSERT_EQ(untouched.db, before);
  // Writes: create the new journal, its body, its rename, pages 1, 4, 9 ->
  // crash; 41 and 42 are not appended yet.
  const Interrupted half = interruptToyChange(dir, FaultEnv::Kind::Write, FaultEnv::Mode::CrashAfter, 6);
  ASSERT_NE(half.db, before);
  constexpr std::size_t kHeader = 48, kList = 5 * 72, kRecord = 4104;
  ASSERT_EQ(untouched.journal.size(), kHeader + kList + 3 * kRecord);  // records of pages 1, 4, 9

  enum Outcome { Removed, RolledBack, Refused };
  const std::string db = dir.path("cut.mdb");
  auto settle = [&](const std::vector<std::uint8_t>& dbBytes, const std::vector<std::uint8_t>& journal) {
    writeBytes(db, dbBytes);
    writeBytes(journalOf(db), journal);
    try {
      PageChannel ch(Env::system(), db, false);
    } catch (const Error& e) {
      EXPECT_EQ(fileBytes(db), dbBytes);
      EXPECT_EQ(fileBytes(journalOf(db)), journal);
      const std::string message = e.what();
      EXPECT_NE(message.find(journalOf(db)), std::string::npos) << message;
      EXPECT_NE(message.find("backup"), std::string::npos) << message;
      EXPECT_NE(message.find("by hand"), std::string::npos) << message;
      return Refused;
    }
    EXPECT_FALSE(std::filesystem::exists(journalOf(db)));
    EXPECT_EQ(fileBytes(db), before);
    return dbBytes == before ? Removed : RolledBack;
  };
  using Damage = std::function<void(std::vector<std::uint8_t>&)>;
  struct Variant {
    const char* what;
    Damage damage;
    Outcome untouched, half;
  };
  const Variant variants[] = {
      {"whole", [](auto&) {}, Removed, RolledBack},
      {"trailing bytes", [](auto& j) { j.resize(j.size() + 7, 0x5A); }, Removed, RolledBack},
      {"cut inside its header", [](auto& j) { j.resize(20); }, Refused, Refused},
      {"cut inside its page list", [](auto& j) { j.resize(kHeader + 100); }, Refused, Refused},
      {"cut inside its records", [](auto& j) { j.resize(j.size() - 100); }, Removed, Refused},
      {"magic", [](auto& j) { j[0] ^= 1; }, Refused, Refused},
      {"page count", [](auto& j) { j[12] ^= 1; }, Refused, Refused},
      {"salt", [](auto& j) { j[32] ^= 1; }, Refused, Refused},
      // The records, all whole, show the untouched file as it was.
      {"a page number in the list", [](auto& j) { j[kHeader + 72] ^= 1; }, Removed, Refused},
      {"a sector checksum in the list", [](auto& j) { j[kHeader + 72 + 40] ^= 1; }, Removed, Refused},
      {"the list and a record", [](auto& j) { j[kHeader + 72] ^= 1; j[kHeader + kList + 9] ^= 1; }, Refused, Refused},
      {"page 1's old content", [](auto& j) { j[kHeader + kList + 4 + 100] ^= 0x80; }, Removed, Refused},
      {"page 9's record number", [](auto& j) { j[kHeader + kList + 2 * kRecord] ^= 1; }, Removed, Refused},
      {"something else", [](auto& j) { j.assign(5000, 0x5A); }, Refused, Refused},
  };
  for (const Variant& v : variants) {
    SCOPED_TRACE(v.what);
    auto j = untouched.journal;
    v.damage(j);
    EXPECT_EQ(settle(untouched.db, j), v.untouched);
    j = half.journal;
    v.damage(j);
    EXPECT_EQ(settle(half.db, j), v.half);
  }

  // A power cut that tore a journal's own write, before its flush: a new
  // journal never takes its name then, and the kept one a connection's
  // second change writes over in place is left with its first half: header
  // and list whole, records cut, the database untouched. Settled silently.
  {
    const std::string kept = dir.copy("sales-small.mdb", "kept.mdb");
    std::vector<std::uint8_t> stored;
    FaultEnv env(Env::system());
    {
      OpenDatabaseFile file = openDatabaseFile(env, kept, false);
      widerChange(*file.channel);
      stored = fileBytes(kept);
      env.arm(FaultEnv::Kind::Write, FaultEnv::Mode::TornCrash, 1);
      EXPECT_THROW(toyChange(*file.channel), SimulatedCrash);
    }
    ASSERT_TRUE(std::filesystem::exists(journalOf(kept)));
    EXPECT_EQ(fileBytes(kept), stored);
    {
      PageChannel ch(Env::system(), kept, false);
      EXPECT_EQ(ch.journalRecovery(), JournalRecovery::Discarded);
    }
    EXPECT_EQ(fileBytes(kept), stored);
    EXPECT_FALSE(std::filesystem::exists(journalOf(kept)));

    const Interrupted fresh = interruptToyChange(dir, FaultEnv::Kind::Write, FaultEnv::Mode::TornCrash, 2);
    EXPECT_EQ(fresh.db, before);
    EXPECT_TRUE(fresh.journal.empty()) << "no journal of that name";
  }
  // A journal takes its name only once it is whole and flushed, and is
  // voided by a marker: an empty one, or one with a header of zeros, is
  // damage, beside an untouched database as beside a half-changed one. The
  // marker itself says the change was stored.
  auto zeroed = untouched.journal;
  std::fill_n(zeroed.begin(), kHeader, 0);
  for (const auto& dbBytes : {untouched.db, half.db}) {
    EXPECT_EQ(settle(dbBytes, {}), Refused);
    EXPECT_EQ(settle(dbBytes, zeroed), Refused);
  }
  auto voided = untouched.journal;
  const auto marker = voidedJournalMarker(7);
  std::copy(marker.begin(), marker.begin() + kHeader, voided.begin());
  EXPECT_EQ(settle(before, voided), Removed);

  // Bytes changed all over the half-written change's journal, and cuts
  // anywhere in it: each refused, since the rollback needs every part of it.
  for (std::size_t at = 0; at < half.journal.size(); at += 61) {
    SCOPED_TRACE(at);
    auto flipped = half.journal;
    flipped[at] ^= 0x10;
    EXPECT_EQ(settle(half.db, flipped), Refused);
    EXPECT_EQ(settle(half.db, std::vector<std::uint8_t>(half.journal.begin(),
                                                        half.journal.begin() + static_cast<std::ptrdiff_t>(at))),
              Refused);
    if (::testing::Test::HasFailure()) return;
  }
}

TEST(Journal, RollbackCutsAppendedPages) {
  TempDir dir;
  std::string db = dir.copy("sales-small.mdb");
  auto before = fileBytes(db);
  {
    FaultEnv env(Env::system());
    PageChannel ch(env, db, false);
    // Writes: create the new journal, its body, its rename, pages 1, 4, 9,
    // 41 -> crash before page 42.
    env.arm(FaultEnv::Kind::Write, FaultEnv::Mode::CrashAfter, 7);
    EXPECT_THROW(toyChange(ch), SimulatedCrash);
  }
  EXPECT_EQ(fileBytes(db).size(), before.size() + kPageSize);
  {
    PageChannel ch(Env::system(), db, false);
    EXPECT_EQ(ch.journalRecovery(), JournalRecovery::RolledBack);
  }
  EXPECT_EQ(fileBytes(db), before);
}

// Once every page of the change is in the file, the change stands: a journal
// left beside it (its removal cut off, or lost in a power cut) is only removed.
TEST(Journal, JournalOfAChangeThatReachedTheFileIsOnlyRemoved) {
  TempDir dir;
  std::string ref = dir.copy("sales-small.mdb", "ref.mdb");
  { PageChannel ch(Env::system(), ref, false); toyChange(ch); }
  const auto after = fileBytes(ref);
  for (bool lose : {false, true}) {
    SCOPED_TRACE(lose);
    std::string db = dir.copy("sales-small.mdb");
    {
      FaultEnv env(Env::system());
      env.loseUnsyncedOnCrash(lose);
      PageChannel ch(env, db, false);
      // Syncs: journal, its directory, the database -> crash after the last.
      env.arm(FaultEnv::Kind::Sync, FaultEnv::Mode::CrashAfter, 3);
      EXPECT_THROW(toyChange(ch), SimulatedCrash);
    }
    ASSERT_TRUE(std::filesystem::exists(journalOf(db)));
    {
      PageChannel ch(Env::system(), db, true);
      EXPECT_EQ(ch.journalRecovery(), JournalRecovery::Completed);
    }
    EXPECT_EQ(fileBytes(db), after);
    EXPECT_FALSE(std::filesystem::exists(journalOf(db)));
  }
}

// A journal that another program's later change has overtaken is neither
// applied nor removed: rolling it back would undo that change.
TEST(Journal, JournalOvertakenByAnotherChangeIsRefusedAndLeftAlone) {
  TempDir dir;
  std::string db = dir.copy("sales-small.mdb");
  {
    FaultEnv env(Env::system());
    PageChannel ch(env, db, false);
    // Writes: create the new journal, its body, its rename, page 1 -> crash.
    env.arm(FaultEnv::Kind::Write, FaultEnv::Mode::CrashAfter, 4);
    EXPECT_THROW(toyChange(ch), SimulatedCrash);
  }
  auto bytes = fileBytes(db);
  bytes[4 * kPageSize + 1000] ^= 0xFF;  // page 4: neither its old nor its new content
  writeBytes(db, bytes);
  const auto journal = fileBytes(journalOf(db));
  EXPECT_THROW(PageChannel(Env::system(), db, false), Error);
  EXPECT_EQ(fileBytes(db), bytes);
  EXPECT_EQ(fileBytes(journalOf(db)), journal);
}

// An Env that leaves out one of the flushes a commit asks for: the flush of
// the journal, of its directory entry, or of the database.
class SkipOneFlush final : public EnvWrapper {
 public:
  enum class Flush { None, Journal, JournalDirectory, Database };
  SkipOneFlush(Env& base, Flush skip, std::string db)
      : EnvWrapper(base), skip_(skip), db_(std::move(db)) {}
  // While not active, every flush is carried out.
  void setActive(bool active) { active_ = active; }

  std::unique_ptr<File> open(const std::string& path, OpenMode mode) override {
    const bool skipped = (skip_ == Flush::Journal && (path == PageChannel::journalPath(db_) ||
                                                     path == PageChannel::newJournalPath(db_))) ||
                         (skip_ == Flush::Database && path == db_);
    auto file = target().open(path, mode);
    if (!skipped) return file;
    return std::make_unique<NoSync>(std::move(file), active_);
  }
  void syncDirectory(const std::string& dir) override {
    if (!active_ || skip_ != Flush::JournalDirectory) target().syncDirectory(dir);
  }

 private:
  struct NoSync final : FileWrapper {
    NoSync(std::unique_ptr<File> f, const bool& active) : FileWrapper(std::move(f)), active_(active) {}
    void sync() override {
      if (!active_) FileWrapper::sync();
    }
    const bool& active_;
  };
  Flush skip_;
  std::string db_;
  bool active_ = true;
};

// Power cuts at every write and flush of a commit, and right after it ends
// and the connection closes, each losing what was not flushed (of every
// file, of the journal only, or of the database only): whether some cut
// leaves the file neither before nor after the change, or loses a change
// already reported stored. secondChange: the change cut is a connection's
// second, written over the start of the longer journal its first one kept.
bool somePowerCutBreaksTheChange(SkipOneFlush::Flush skip, bool secondChange = false) {
  TempDir dir;
  std::string ref = dir.copy("sales-small.mdb", "ref.mdb");
  const auto initial = fileBytes(ref);
  std::vector<std::uint8_t> before = initial;
  {
    OpenDatabaseFile file = openDatabaseFile(Env::system(), ref, false);
    if (secondChange) {
      widerChange(*file.channel);
      before = fileBytes(ref);
    }
    toyChange(*file.channel);
  }
  const auto after = fileBytes(ref);
  const std::string db = dir.path("cut.mdb");
  const std::string journal = journalOf(db);
  const std::vector<std::function<bool(const std::string&)>> losses = {
      [](const std::string&) { return true; },
      [db](const std::string& p) { return p == journalOf(db) || p == PageChannel::newJournalPath(db); },
      [db](const std::string& p) { return p == db; },
  };
  for (const auto& loses : losses)
  for (auto [kind, mode] : {std::pair{FaultEnv::Kind::Write, FaultEnv::Mode::CrashAfter},
                            {FaultEnv::Kind::Write, FaultEnv::Mode::TornCrash},
                            {FaultEnv::Kind::Sync, FaultEnv::Mode::CrashAfter}}) {
    for (int n = 1; n < 100; ++n) {
      writeBytes(db, initial);
      std::filesystem::remove(journal);
      FaultEnv faults(Env::system());
      faults.loseUnsyncedOnlyOf(loses);
      SkipOneFlush env(faults, skip, db);
      env.setActive(!secondChange);
      if (!secondChange) faults.arm(kind, mode, n);
      try {
        OpenDatabaseFile file = openDatabaseFile(env, db, false);
        if (secondChange) {
          widerChange(*file.channel);
          env.setActive(true);
          faults.arm(kind, mode, n);
        }
        toyChange(*file.channel);
      } catch (const SimulatedCrash&) {
      }
      const bool completed = !faults.fired();
      if (completed) faults.powerCut();
      try {
        PageChannel reopened(Env::system(), db, false);
      } catch (const Error&) {
        return true;
      }
      const auto now = fileBytes(db);
      if (completed ? now != after : now != before && now != after) return true;
      if (completed) break;
    }
  }
  return false;
}

// Each flush of the commit is needed: without it some power cut breaks the
// change; with all of them none does.
TEST(Journal, EveryFlushOfACommitIsNeeded) {
  using F = SkipOneFlush::Flush;
  EXPECT_FALSE(somePowerCutBreaksTheChange(F::None));
  EXPECT_TRUE(somePowerCutBreaksTheChange(F::Journal)) << "the journal's flush";
  EXPECT_TRUE(somePowerCutBreaksTheChange(F::JournalDirectory)) << "the journal's directory entry";
  EXPECT_TRUE(somePowerCutBreaksTheChange(F::Database)) << "the database's flush";
}

// A connection's later commits write into the journal its first one kept,
// whose name is in the directory already: they flush the journal and the
// database, each needed, and not the directory.
TEST(Journal, ALaterCommitNeedsNoFlushOfTheDirectory) {
  using F = SkipOneFlush::Flush;
  EXPECT_FALSE(somePowerCutBreaksTheChange(F::None, true));
  EXPECT_FALSE(somePowerCutBreaksTheChange(F::JournalDirectory, true));
  EXPECT_TRUE(somePowerCutBreaksTheChange(F::Journal, true)) << "the journal's flush";
  EXPECT_TRUE(somePowerCutBreaksTheChange(F::Database, true)) << "the database's flush";
}

// The journal is kept, voided, while this process holds the lock: a
// connection's later commits flush it and the database only; other
// connections of the process neither roll it back nor refuse it; a commit
// that fails removes it, and the next one makes it anew; the last connection
// to close removes it. One left behind by a process that ended without
// removing it is removed by the next open, the file untouched.
TEST(Journal, TheKeptJournalLastsAsLongAsTheLock) {
  TempDir dir;
  const std::string db = dir.copy("sales-small.mdb", "kept.mdb");
  const std::string journal = journalOf(db);
  FaultEnv env(Env::system());
  auto countingFlushes = [&] { env.arm(FaultEnv::Kind::Sync, FaultEnv::Mode::Fail, 1000); };
  {
    OpenDatabaseFile first = openDatabaseFile(env, db, false);
    countingFlushes();
    toyChange(*first.channel);
    EXPECT_EQ(env.syncs(), 3) << "the journal, its directory, the database";
    EXPECT_TRUE(voided(journal));
    {
      OpenDatabaseFile second = openDatabaseFile(env, db, false);
      EXPECT_EQ(second.channel->journalRecovery(), JournalRecovery::None);
      countingFlushes();
      toyChange(*second.channel);
      EXPECT_EQ(env.syncs(), 2) << "the journal's name is on disk already";
      EXPECT_EQ(recoverDatabase(env, db), JournalRecovery::None);
    }
    EXPECT_TRUE(voided(journal)) << "the first connection still holds the lock";

    // Writes of a later commit: the journal's contents, then the database's
    // first page, which fails.
    const auto stored = fileBytes(db);
    env.arm(FaultEnv::Kind::Write, FaultEnv::Mode::Fail, 2);
    EXPECT_THROW(toyChange(*first.channel), Error);
    EXPECT_TRUE(env.fired());
    EXPECT_FALSE(std::filesystem::exists(journal));
    EXPECT_EQ(fileBytes(db), stored);
    countingFlushes();
    toyChange(*first.channel);
    EXPECT_EQ(env.syncs(), 3) << "the journal is made anew";
  }
  EXPECT_FALSE(std::filesystem::exists(journal));

  // Left behind voided, with an earlier change's records after the marker.
  const auto bytes = fileBytes(db);
  std::vector<std::uint8_t> voidedJournal(48 + 2 * 4140, 0x5A);
  const auto marker = voidedJournalMarker(99);
  std::copy(marker.begin(), marker.end(), voidedJournal.begin());
  writeBytes(journal, voidedJournal);
  { OpenDatabaseFile again = openDatabaseFile(Env::system(), db, false); }
  EXPECT_FALSE(std::filesystem::exists(journal));
  EXPECT_EQ(fileBytes(db), bytes);
}

}  // namespace
}  // namespace engine
