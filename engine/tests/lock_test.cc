// The database lock: seen by other processes, shared in-process, refusing a
// database another process holds; read-only files.
#include "engine/lock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "engine/error.h"
#include "engine/in_use.h"
#include "engine/path.h"
#include "engine/testing/fault_env.h"
#include "engine/rollback_journal.h"
#include "engine/testing/interrupted_change.h"
#include "engine/testing/other_process.h"
#include "engine/tests/write_test_util.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace engine {
namespace {

using testutil::fileBytes;
using testutil::TempDir;
using LockingChild = testutil::LockingProcess;

// Whether another process sees the database as in use.
bool childSeesInUse(const std::string& db) {
  return testing::OtherProcess::run(testing::OtherProcess::seesInUse(db)) == 0;
}

TEST(DatabaseLock, HeldWhileOpenSeenByOthersAndSharedInProcess) {
  TempDir dir;
  std::string db = dir.copy("sales-small.mdb");
  std::string ldb = lockFilePath(db);
  EXPECT_FALSE(childSeesInUse(db));
  {
    auto first = openDatabaseFile(Env::system(), db, false);
    EXPECT_TRUE(first.lock->held());
    EXPECT_TRUE(std::filesystem::exists(ldb));
    EXPECT_TRUE(childSeesInUse(db));
    {
      // A second connection (other spelling of the path) is not blocked.
      std::string other = dir.path("./sales-small.mdb");
      auto second = openDatabaseFile(Env::system(), other, false);
      auto reader = openDatabaseFile(Env::system(), db, true);
      EXPECT_TRUE(second.lock->held());
      EXPECT_TRUE(reader.lock->held());
      EXPECT_EQ(second.channel->readPage(2), first.channel->readPage(2));
    }
    EXPECT_TRUE(std::filesystem::exists(ldb));
    EXPECT_TRUE(childSeesInUse(db));
  }
  EXPECT_FALSE(std::filesystem::exists(ldb));  // the last close removes it
  EXPECT_FALSE(childSeesInUse(db));
}

TEST(DatabaseLock, ADatabaseHeldByAnotherProcessIsRefusedForWriting) {
  TempDir dir;
  std::string db = dir.copy("sales-small.mdb");
  std::string ldb = lockFilePath(db);
  auto before = fileBytes(db);
  for (const std::string& held : {ldb, db}) {
    SCOPED_TRACE(held);
    LockingChild child(held);
    try {
      openDatabaseFile(Env::system(), db, false);
      ADD_FAILURE() << "opened for writing";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find("in use by another program"), std::string::npos) << e.what();
    }
#ifdef _WIN32
    if (held == db) {
      // On Windows a program that holds the file itself shares nothing, not
      // even reading.
      EXPECT_THROW(openDatabaseFile(Env::system(), db, true), Error);
    } else
#endif
    {
      // Reading goes on, without a lock of ours; closing leaves their lock file.
      auto reader = openDatabaseFile(Env::system(), db, true);
      EXPECT_FALSE(reader.lock->held());
      EXPECT_NO_THROW(reader.channel->readPage(2));
    }
    EXPECT_EQ(std::filesystem::exists(ldb), held == ldb);
    // While the other program is in the middle of a change, reading is refused too.
    testutil::writeBytes(PageChannel::journalPath(db), {1, 2, 3});
    EXPECT_THROW(openDatabaseFile(Env::system(), db, true), Error);
    std::filesystem::remove(PageChannel::journalPath(db));
    child.release();
    auto writer = openDatabaseFile(Env::system(), db, false);  // free again
    EXPECT_TRUE(writer.lock->held());
  }
  EXPECT_EQ(fileBytes(db), before);
}

// The sales program has the database open through the real engine, in
// shared mode: we neither write nor let it in while we write.
TEST(DatabaseLock, ASharedModeJetClientAndUsExcludeEachOther) {
  TempDir dir;
  std::string db = dir.copy("sales-small.mdb");
  auto before = fileBytes(db);
  {
    testing::OtherProcess client(testing::OtherProcess::jetClient(db));
    EXPECT_TRUE(isInUseElsewhere(Env::system(), db));
    try {
      openDatabaseFile(Env::system(), db, false);
      ADD_FAILURE() << "opened for writing";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find("in use by another program"), std::string::npos) << e.what();
    }
    auto reader = openDatabaseFile(Env::system(), db, true);
    EXPECT_FALSE(reader.lock->held());
    EXPECT_NO_THROW(reader.channel->readPage(2));
  }
  EXPECT_FALSE(std::filesystem::exists(lockFilePath(db))) << "the client removes its .ldb";
  EXPECT_EQ(fileBytes(db), before);
  {
    auto writer = openDatabaseFile(Env::system(), db, false);
    EXPECT_THROW(testing::OtherProcess(testing::OtherProcess::jetClient(db)), std::runtime_error);
  }
  EXPECT_FALSE(childSeesInUse(db));
}

// A virus scanner or the search indexer holding the database or its lock
// file for a moment is waited for; a holder that stays beyond the retrying
// layer's second is another program with the database in use.
TEST(DatabaseLock, AMomentaryHolderIsWaitedForALastingOneRefused) {
  TempDir dir;
  const std::string db = dir.copy("sales-small.mdb");
  const std::string ldb = lockFilePath(db);
  Env& env = testutil::retryingSystemEnv();
  for (const std::string& held : {db, ldb}) {
    SCOPED_TRACE(held);
    testutil::writeBytes(ldb, {});  // one left by a crash, for the holder to open
    {
      testing::OtherProcess scanner(testing::OtherProcess::holdFor(held, 200));
      auto writer = openDatabaseFile(env, db, false);
      EXPECT_TRUE(writer.lock->held());
    }
    EXPECT_FALSE(std::filesystem::exists(ldb));
  }
#ifdef _WIN32
  {
    // The raw open refused by the holder's share mode, tried again.
    testing::OtherProcess scanner(testing::OtherProcess::holdFor(db, 200));
    EXPECT_NO_THROW(env.open(db, OpenMode::ReadOnly));
  }
#endif
  for (const std::string& held : {db, ldb}) {
    SCOPED_TRACE(held);
    LockingChild holder(held);
    try {
      openDatabaseFile(env, db, false);
      ADD_FAILURE() << "opened for writing";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find("in use by another program"), std::string::npos) << e.what();
    }
  }
}

TEST(DatabaseLock, ReadOnlyAndMissingFiles) {
  TempDir dir;
  std::string db = dir.copy("sales-small.mdb");
  auto before = fileBytes(db);
  testing::FaultEnv env(Env::system());
  env.denyWriteAccess(db);
  try {
    openDatabaseFile(env, db, false);
    ADD_FAILURE() << "opened for writing";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("read-only"), std::string::npos) << e.what();
  }
  {
    auto reader = openDatabaseFile(env, db, true);
    EXPECT_THROW(reader.channel->begin(), Error);
  }
  EXPECT_EQ(fileBytes(db), before);
  EXPECT_FALSE(std::filesystem::exists(lockFilePath(db)));
  {
    // On read-only media (or a share this user may only read) the lock file
    // cannot be created either: reading goes on without it.
    testing::FaultEnv media(Env::system());
    media.denyWritesUnder(dir.path(""));
    try {
      openDatabaseFile(media, db, false);
      ADD_FAILURE() << "opened for writing";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find("cannot be changed: its lock file cannot be created"),
                std::string::npos) << e.what();
    }
    auto reader = openDatabaseFile(media, db, true);
    EXPECT_FALSE(reader.lock->held());
    EXPECT_NO_THROW(reader.channel->readPage(2));
  }
#ifdef _WIN32
  {
    // The read-only attribute, as Explorer's Properties sets it (Wine run as
    // root would let a write through it; our Env does not).
    ASSERT_TRUE(::SetFileAttributesW(widen(db).c_str(), FILE_ATTRIBUTE_READONLY));
    try {
      openDatabaseFile(Env::system(), db, false);
      ADD_FAILURE() << "opened for writing";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find("read-only and cannot be changed"), std::string::npos) << e.what();
    }
    EXPECT_NO_THROW(openDatabaseFile(Env::system(), db, true).channel->readPage(2));
    ::SetFileAttributesW(widen(db).c_str(), FILE_ATTRIBUTE_NORMAL);
  }
#endif
  EXPECT_EQ(fileBytes(db), before);
  EXPECT_FALSE(std::filesystem::exists(lockFilePath(db)));
  EXPECT_FALSE(std::filesystem::exists(PageChannel::journalPath(db)));
  EXPECT_THROW(openDatabaseFile(Env::system(), dir.path("missing.mdb"), true), Error);
  EXPECT_THROW(openDatabaseFile(Env::system(), dir.path("missing.mdb"), false), Error);
  EXPECT_FALSE(std::filesystem::exists(dir.path("missing.ldb")));
}

// A database in a folder nothing may be written to (read-only media): no
// lock file, no removal, no file opened for writing.
class ReadOnlyFolder final : public EnvWrapper {
 public:
  using EnvWrapper::EnvWrapper;
  std::unique_ptr<File> open(const std::string& path, OpenMode mode) override {
    if (mode != OpenMode::ReadOnly) throw Error("cannot open '" + path + "': Read-only file system");
    return target().open(path, mode);
  }
  void remove(const std::string& path) override { throw Error("cannot remove '" + path + "': Read-only file system"); }
  std::unique_ptr<FileLock> tryLockExclusive(const std::string& path) override {
    throw Error("cannot open lock file '" + path + "': Read-only file system");
  }
};

// A journal left in such a folder is judged like any other by a read-only
// open, which cannot take the lock there: a needless one is left in place
// and the database read; one that needs a rollback refuses the open, both
// files untouched. Writing is refused outright.
TEST(DatabaseLock, AJournalLeftOnReadOnlyMediaIsJudgedNotMistakenForAnotherProgram) {
  TempDir dir;
  const std::string db = dir.copy("sales-small.mdb");
  const std::string journal = PageChannel::journalPath(db);
  const auto before = fileBytes(db);
  ReadOnlyFolder folder(Env::system());

  std::vector<std::uint8_t> voided(48 + 4104, 0x5A);
  const auto marker = voidedJournalMarker(1);
  std::copy(marker.begin(), marker.end(), voided.begin());
  testutil::writeBytes(journal, voided);
  {
    OpenDatabaseFile reader = openDatabaseFile(folder, db, true);
    EXPECT_FALSE(reader.lock->held());
    EXPECT_EQ(reader.channel->readPage(2), PageChannel(Env::system(), dir.copy("sales-small.mdb", "ref.mdb"), true).readPage(2));
  }
  EXPECT_EQ(fileBytes(journal), voided);
  EXPECT_THROW(openDatabaseFile(folder, db, false), Error);

  ASSERT_TRUE(testing::leaveInterruptedChange(db, [&](Env& env) {
    OpenDatabaseFile file = openDatabaseFile(env, db, false);
    WriteTransaction tx(*file.channel);
    Page page = file.channel->readPage(4);
    page[100] ^= 0xFF;
    file.channel->writePage(4, page);
    file.channel->writePage(file.channel->allocatePage(), page);
    tx.commit();
  }));
  const auto half = fileBytes(db);
  const auto halfJournal = fileBytes(journal);
  try {
    openDatabaseFile(folder, db, true);
    ADD_FAILURE() << "a half-written file was read";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("without write access"), std::string::npos) << e.what();
  }
  EXPECT_EQ(fileBytes(db), half);
  EXPECT_EQ(fileBytes(journal), halfJournal);
  { OpenDatabaseFile repaired = openDatabaseFile(Env::system(), db, true); }
  EXPECT_EQ(fileBytes(db), before);
  EXPECT_FALSE(std::filesystem::exists(journal));
}

}  // namespace
}  // namespace engine
