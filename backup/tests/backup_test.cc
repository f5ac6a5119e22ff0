#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "backup/backup.h"
#include "engine/engine.h"
#include "engine/in_use.h"
#include "engine/page_channel.h"
#include "engine/path.h"
#include "engine/testing/fake_env.h"
#include "engine/testing/interrupted_change.h"
#include "window/testing/recording_messages.h"

namespace {

namespace fs = std::filesystem;
using engine::OpenMode;

constexpr const char* kFailed =
    "TÜM PROGRAMLARI KAPATIP. TEKRAR DENEYİN.GÖREV YÖNETİCİSİNDE SATIŞ PROGRAMI KAPALI OLMALIDIR";

std::tm at(int day, int month, int year, int hour, int minute, int second) {
  std::tm t{};
  t.tm_mday = day;
  t.tm_mon = month - 1;
  t.tm_year = year - 1900;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

// A path as the program holds it: UTF-8 text.
std::string u8(const fs::path& p) { return engine::fromFsPath(p); }

std::string readAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeAll(const fs::path& p, const std::string& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string randomBytes(std::size_t n) {
  std::mt19937_64 rng(12345);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng());
  return s;
}

// A program directory with a settings file and a database elsewhere.
class Backup : public ::testing::Test {
 public:
  void SetUp() override {
    std::random_device random;
    root_ = fs::temp_directory_path() /
            ("karvelta-backup-" + std::to_string(random()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(program());
    fs::create_directories(root_ / "data");
    database_ = randomBytes(3 * 1024 * 1024 + 777);  // several chunks and an odd tail
    writeAll(databasePath(), database_);
    pointSettingsAt(u8(databasePath()));
    env_.setClock(at(5, 12, 2026, 18, 37, 31));
  }
  void TearDown() override {
    fs::permissions(program(), fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(root_);
  }

  fs::path program() const { return root_ / "prog"; }
  fs::path databasePath() const { return root_ / "data" / "satis.mdb"; }
  void pointSettingsAt(const std::string& location) {
    writeAll(program() / "PLX.dll", "[ayar]\r\nip=" + location + "\r\n");
  }
  void run() { backup::yedekle(model_, messages_, env_, u8(program())); }

  // Every file in the program directory other than the settings file.
  std::set<std::string> producedFiles() const {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(program()))
      if (e.path().filename() != "PLX.dll") names.insert(u8(e.path().filename()));
    return names;
  }

  void expectFailedUnchanged(int flag, window::Rgb lamp, const std::set<std::string>& files) {
    ASSERT_FALSE(messages_.texts.empty());
    EXPECT_EQ(messages_.texts.back(), kFailed);
    EXPECT_EQ(model_.backupFlag, flag);
    EXPECT_EQ(model_.renk, lamp);
    EXPECT_EQ(producedFiles(), files);
  }

  fs::path root_;
  std::string database_;
  engine::testing::ForwardingEnv env_;
  window::Model model_;
  window::testing::RecordingMessages messages_;
};

TEST(BackupFileName, StampWithLeadingZerosAndMidnight) {
  EXPECT_EQ(backup::backupFileName(at(5, 12, 2026, 18, 37, 31)), "plx05122026183731.ocx");
  EXPECT_EQ(backup::backupFileName(at(1, 3, 2027, 9, 5, 7)), "plx01032027090507.ocx");
  EXPECT_EQ(backup::backupFileName(at(6, 12, 2026, 0, 0, 0)), "plx06122026000000.ocx");
  EXPECT_EQ(backup::backupFileName(at(31, 12, 1999, 23, 59, 59)), "plx31121999235959.ocx");
}

TEST_F(Backup, SuccessCopiesByteForByteThenFlagMessageLamp) {
  const std::string name = "plx05122026183731.ocx";
  const std::string expectedPath = u8(program() / name);
  bool checkedWhileOpen = false;
  messages_.whileOpen = [&](const std::string&) {
    // The flag is set before the box opens; the lamp turns only after it closes.
    EXPECT_EQ(model_.backupFlag, 1);
    EXPECT_EQ(model_.renk, window::kRed);
    EXPECT_EQ(readAll(program() / name), database_) << "the copy is complete while the box shows";
    checkedWhileOpen = true;
  };
  run();
  ASSERT_EQ(messages_.texts.size(), 1u);
  EXPECT_EQ(messages_.texts[0], "VERİTABANI " + expectedPath + " DİZİNE YEDEKLENDİ ");
  EXPECT_TRUE(checkedWhileOpen);
  EXPECT_EQ(model_.backupFlag, 1);
  EXPECT_EQ(model_.renk, window::kGreen);
  EXPECT_EQ(producedFiles(), std::set<std::string>{name}) << "no temporary file left";
  EXPECT_EQ(readAll(program() / name), database_);
  EXPECT_EQ(readAll(databasePath()), database_) << "source untouched";
}

TEST_F(Backup, ChunkedCopyThroughInjectedFilesIsExactAndFlat) {
  env_.failWritesAfter(UINT64_MAX - 1);  // wraps files; never fails
  run();
  EXPECT_EQ(model_.backupFlag, 1);
  EXPECT_EQ(readAll(program() / "plx05122026183731.ocx"), database_);
  EXPECT_LE(env_.largestRead(), engine::Env::kCopyChunk) << "never the whole file at once";
  EXPECT_EQ(env_.bytesWritten(), database_.size());
}

TEST_F(Backup, EmptyDatabaseCopiesToEmptyFile) {
  writeAll(databasePath(), "");
  run();
  EXPECT_EQ(model_.backupFlag, 1);
  EXPECT_EQ(fs::file_size(program() / "plx05122026183731.ocx"), 0u);
}

TEST_F(Backup, TwoBackupsSecondsApartThenAFailureKeepsTheFlag) {
  run();
  env_.setClock(at(5, 12, 2026, 18, 37, 34));
  writeAll(databasePath(), "changed in between");
  run();
  ASSERT_EQ(messages_.texts.size(), 2u);
  EXPECT_EQ(producedFiles(),
            (std::set<std::string>{"plx05122026183731.ocx", "plx05122026183734.ocx"}));
  EXPECT_EQ(readAll(program() / "plx05122026183731.ocx"), database_) << "first left untouched";
  EXPECT_EQ(readAll(program() / "plx05122026183734.ocx"), "changed in between");

  fs::remove(databasePath());
  env_.setClock(at(5, 12, 2026, 18, 40, 0));
  run();
  expectFailedUnchanged(1, window::kGreen,
                        {"plx05122026183731.ocx", "plx05122026183734.ocx"});
}

TEST_F(Backup, SameSecondNeverReplacesTheEarlierBackup) {
  run();
  writeAll(databasePath(), "newer");
  run();
  expectFailedUnchanged(1, window::kGreen, {"plx05122026183731.ocx"});
  EXPECT_EQ(readAll(program() / "plx05122026183731.ocx"), database_);
}

TEST_F(Backup, FailureCases) {
  struct Case {
    const char* what;
    std::function<void(Backup&)> arrange;
  };
  // Each case starts from a fresh directory state in its own sub-test.
  const std::vector<Case> cases = {
      {"no settings file", [](Backup& t) { fs::remove(t.program() / "PLX.dll"); }},
      {"no ip entry", [](Backup& t) { writeAll(t.program() / "PLX.dll", "[ayar]\nport=1\n"); }},
      {"database missing", [](Backup& t) { fs::remove(t.databasePath()); }},
      {"location is a directory", [](Backup& t) { t.pointSettingsAt(u8(t.root_ / "data")); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    messages_.texts.clear();
    c.arrange(*this);
    run();
    expectFailedUnchanged(0, window::kRed, {});
  }
}

TEST_F(Backup, UnwritableProgramDirectory) {
  env_.failOpen = [](const std::string&, OpenMode mode) { return mode == OpenMode::CreateNew; };
  run();
  expectFailedUnchanged(0, window::kRed, {});
}

TEST_F(Backup, ReadOnlyDirectoryForAnOrdinaryUser) {
#ifdef _WIN32
  GTEST_SKIP() << "a folder's read-only attribute does not stop writing on Windows";
#else
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only directories";
#endif
  fs::permissions(program(), fs::perms::owner_read | fs::perms::owner_exec);
  run();
  expectFailedUnchanged(0, window::kRed, {});
}

TEST_F(Backup, MissingProgramDirectory) {
  backup::yedekle(model_, messages_, env_, u8(root_ / "nowhere"));
  ASSERT_EQ(messages_.texts.size(), 1u);
  EXPECT_EQ(messages_.texts[0], kFailed);
  EXPECT_EQ(model_.backupFlag, 0);
}

TEST_F(Backup, UnknownProgramDirectoryNeverFallsBackToTheWorkingDirectory) {
  // The working directory holds a settings file naming the database: it is
  // not taken, and nothing is written there.
  const fs::path before = fs::current_path();
  fs::current_path(program());
  backup::yedekle(model_, messages_, env_, std::nullopt);
  backup::yedekle(model_, messages_, env_, std::string());
  fs::current_path(before);
  EXPECT_EQ(messages_.texts, (std::vector<std::string>{kFailed, kFailed}));
  EXPECT_EQ(model_.backupFlag, 0);
  EXPECT_EQ(producedFiles(), std::set<std::string>{});
}

TEST_F(Backup, TurkishFolderNamesAndALocationInCodePage1254) {
  // C:\...\Satış Programı\ holds the program, ...\Satış\Veri\satış.mdb the
  // database, named in the settings in code page 1254.
  const fs::path prog = root_ / engine::toFsPath("Sat\xC4\xB1\xC5\x9F Program\xC4\xB1");
  const fs::path data = root_ / engine::toFsPath("Sat\xC4\xB1\xC5\x9F") / "Veri";
  fs::create_directories(prog);
  fs::create_directories(data);
  const fs::path db = data / engine::toFsPath("sat\xC4\xB1\xC5\x9F.mdb");
  writeAll(db, database_);
  std::string location = u8(root_) + engine::kPathSeparator + "Sat\xFD\xFE" + engine::kPathSeparator +
                         "Veri" + engine::kPathSeparator + "sat\xFD\xFE.mdb";
  writeAll(prog / "PLX.dll", "[ayar]\r\nip=" + location + "\r\n");
  backup::yedekle(model_, messages_, env_, u8(prog));
  const fs::path copy = prog / "plx05122026183731.ocx";
  ASSERT_EQ(messages_.texts.size(), 1u);
  EXPECT_EQ(messages_.texts[0], "VERİTABANI " + u8(copy) + " DİZİNE YEDEKLENDİ ");
  EXPECT_EQ(model_.backupFlag, 1);
  EXPECT_EQ(readAll(copy), database_);
}

TEST_F(Backup, DiskFullReadErrorFlushErrorLeaveNoFile) {
  struct Case {
    const char* what;
    std::function<void(engine::testing::ForwardingEnv&)> inject;
  };
  const std::vector<Case> cases = {
      {"disk full half way", [](auto& e) { e.failWritesAfter(1024 * 1024 + 5); }},
      {"disk full at once", [](auto& e) { e.failWritesAfter(0); }},
      {"read error", [](auto& e) { e.failReadsAfter(2 * 1024 * 1024); }},
      {"flush fails", [](auto& e) { e.failSync = [](const std::string&) { return true; }; }},
      {"rename fails", [](auto& e) { e.failRename = [](auto&, auto&) { return true; }; }},
      {"directory flush fails",
       [](auto& e) { e.failSyncDirectory = [](const std::string&) { return true; }; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    engine::testing::ForwardingEnv env;
    env.setClock(at(5, 12, 2026, 18, 37, 31));
    c.inject(env);
    window::Model model;
    window::testing::RecordingMessages messages;
    backup::yedekle(model, messages, env, u8(program()));
    ASSERT_EQ(messages.texts.size(), 1u);
    EXPECT_EQ(messages.texts[0], kFailed);
    EXPECT_EQ(model.backupFlag, 0);
    EXPECT_EQ(model.renk, window::kRed);
    EXPECT_EQ(producedFiles(), std::set<std::string>{});
  }
}

TEST_F(Backup, DatabaseHeldOpenByAnotherProgram) {
  {
    // Another program's lock on the Jet lock file beside the database.
    auto held = engine::Env::system().tryLockExclusive(engine::lockFilePath(u8(databasePath())));
    ASSERT_NE(held, nullptr);
    run();
    expectFailedUnchanged(0, window::kRed, {});
  }
  fs::remove(engine::lockFilePath(u8(databasePath())));
  {
    // A lock on the database file itself.
    auto held = engine::Env::system().tryLockExclusive(u8(databasePath()));
    ASSERT_NE(held, nullptr);
    run();
    expectFailedUnchanged(0, window::kRed, {});
  }
  // A lock file nobody holds (left over after a crash) does not stop the copy.
  writeAll(engine::lockFilePath(u8(databasePath())), "stale");
  run();
  EXPECT_EQ(model_.backupFlag, 1);
  EXPECT_EQ(readAll(program() / "plx05122026183731.ocx"), database_);
}

TEST_F(Backup, FixtureDatabaseIsCopiedExactly) {
  const fs::path fixture = fs::path(KARVELTA_FIXTURES_DIR) / "sales-small.mdb";
  if (!fs::exists(fixture)) GTEST_SKIP() << "no fixture " << fixture;
  const fs::path copy = root_ / "data" / "sales.mdb";
  fs::copy_file(fixture, copy);
  // The fixtures are read-only, and on Windows a read-only file cannot be removed.
  fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write);
  pointSettingsAt(u8(copy));
  run();
  EXPECT_EQ(model_.backupFlag, 1);
  EXPECT_EQ(readAll(program() / "plx05122026183731.ocx"), readAll(fixture));
}

// A copy of a real database whose rename was cut off by a crash after the
// journal was written and a changed page reached the file.
class BackupAfterCrash : public Backup {
 public:
  void SetUp() override {
    Backup::SetUp();
    const fs::path fixture = fs::path(KARVELTA_FIXTURES_DIR) / "sales-small.mdb";
    if (!fs::exists(fixture)) GTEST_SKIP() << "no fixture " << fixture;
    committed_ = readAll(fixture);
    writeAll(salesPath(), committed_);
    pointSettingsAt(salesPath().string());

    ASSERT_TRUE(engine::testing::leaveInterruptedChange(salesPath().string(), [&](engine::Env& env) {
      auto db = engine::makeJetEngine(env)->openDatabase(salesPath().string(), false, false,
                                                        ";pwd=zorpelnik");
      db->tableDef("fisno")->rename("fisnoeski");
    }));
  }

  fs::path salesPath() const { return root_ / "data" / "sales.mdb"; }
  fs::path journal() const { return engine::PageChannel::journalPath(salesPath().string()); }

  std::string committed_;
};

TEST_F(BackupAfterCrash, InterruptedChangeIsRolledBackBeforeTheCopy) {
  run();
  EXPECT_EQ(model_.backupFlag, 1);
  EXPECT_TRUE(readAll(program() / "plx05122026183731.ocx") == committed_);
  EXPECT_TRUE(readAll(salesPath()) == committed_);
  EXPECT_FALSE(fs::exists(journal()));
  EXPECT_FALSE(fs::exists(engine::lockFilePath(salesPath().string())));
}

TEST_F(BackupAfterCrash, JournalThatCannotBeRolledBackOrIsDamagedFailsTheBackup) {
  const std::string halfWritten = readAll(salesPath());
  const std::string db = salesPath().string();
  env_.failOpen = [db](const std::string& path, OpenMode mode) {
    return path == db && mode == OpenMode::ReadWrite;
  };
  run();
  expectFailedUnchanged(0, window::kRed, {});
  EXPECT_TRUE(readAll(salesPath()) == halfWritten);
  EXPECT_TRUE(fs::exists(journal()));

  // A journal damaged where the rollback needs it (its header): no copy of
  // the half-changed file, and both files left as they are.
  env_.failOpen = nullptr;
  const std::string journalBytes = readAll(journal());
  std::string damaged = journalBytes;
  damaged[20] ^= 0x01;
  writeAll(journal(), damaged);
  run();
  expectFailedUnchanged(0, window::kRed, {});
  EXPECT_TRUE(readAll(salesPath()) == halfWritten);
  EXPECT_TRUE(readAll(journal()) == damaged);

  // Once the file can be written again, and the journal is whole, the next
  // backup repairs and copies.
  writeAll(journal(), journalBytes);
  run();
  EXPECT_EQ(model_.backupFlag, 1);
  EXPECT_TRUE(readAll(program() / "plx05122026183731.ocx") == committed_);
}

TEST_F(BackupAfterCrash, JournalOfADatabaseHeldByAnotherProgramIsLeftAlone) {
  const std::string halfWritten = readAll(salesPath());
  auto held = engine::Env::system().tryLockExclusive(engine::lockFilePath(salesPath().string()));
  ASSERT_NE(held, nullptr);
  run();
  expectFailedUnchanged(0, window::kRed, {});
  EXPECT_TRUE(readAll(salesPath()) == halfWritten);
  EXPECT_TRUE(fs::exists(journal()));
}

}  // namespace
