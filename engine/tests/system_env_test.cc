// The real Env of the platform (env_posix.cc on Linux, env_windows.cc on
// Windows): the promises of env.h that the layers above build on, checked
// against the system itself.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <vector>

#include "engine/env.h"
#include "engine/error.h"
#include "engine/path.h"
#include "engine/tests/write_test_util.h"

namespace engine {
namespace {

using testutil::fileBytes;
using testutil::TempDir;
using testutil::writeBytes;

std::vector<std::uint8_t> bytes(std::initializer_list<int> values) {
  std::vector<std::uint8_t> out;
  for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
  return out;
}

TEST(SystemEnv, OpenModesPositionedIoTruncateAndShortReads) {
  TempDir dir;
  Env& env = Env::system();
  const std::string path = dir.path("f.bin");
  EXPECT_THROW(env.open(path, OpenMode::ReadOnly), Error);
  EXPECT_THROW(env.open(path, OpenMode::ReadWrite), Error);
  EXPECT_FALSE(env.exists(path));
  {
    auto f = env.open(path, OpenMode::CreateNew);
    f->write(5, bytes({1, 2, 3}));  // past the end: the gap reads as zeros
    f->write(0, bytes({9}));
    EXPECT_EQ(f->size(), 8u);
    std::vector<std::uint8_t> got(8);
    f->read(0, got);
    EXPECT_EQ(got, bytes({9, 0, 0, 0, 0, 1, 2, 3}));
    std::vector<std::uint8_t> beyond(2);
    EXPECT_THROW(f->read(7, beyond), Error) << "a short read is an error";
    f->truncate(6);
    f->sync();
  }
  EXPECT_EQ(fileBytes(path), bytes({9, 0, 0, 0, 0, 1}));
  EXPECT_THROW(env.open(path, OpenMode::CreateNew), Error);
  env.open(path, OpenMode::CreateOrTruncate);
  EXPECT_EQ(fileBytes(path), bytes({}));
  // A folder is no file to open.
  EXPECT_THROW(env.open(dir.path(""), OpenMode::ReadOnly), Error);
}

TEST(SystemEnv, ConnectionsOfOneProcessWriteOneFileTogether) {
  TempDir dir;
  const std::string path = dir.copy("sales-small.mdb", "db.mdb");
  auto first = Env::system().open(path, OpenMode::ReadWrite);
  auto second = Env::system().open(path, OpenMode::ReadWrite);
  auto reader = Env::system().open(path, OpenMode::ReadOnly);
  first->write(0, bytes({0x11}));
  second->write(1, bytes({0x22}));
  std::vector<std::uint8_t> got(2);
  reader->read(0, got);
  EXPECT_EQ(got, bytes({0x11, 0x22}));
  EXPECT_FALSE(Env::system().isLockedElsewhere(path)) << "our own writers are not someone else";
}

TEST(SystemEnv, RenameNeverReplacesAndRemoveOfNothingIsFine) {
  TempDir dir;
  Env& env = Env::system();
  const std::string a = dir.path("a"), b = dir.path("b"), c = dir.path("c");
  writeBytes(a, bytes({1}));
  writeBytes(b, bytes({2}));
  EXPECT_THROW(env.renameNoReplace(a, b), Error);
  EXPECT_EQ(fileBytes(a), bytes({1}));
  EXPECT_EQ(fileBytes(b), bytes({2}));
  env.renameNoReplace(a, c);
  EXPECT_FALSE(env.exists(a));
  EXPECT_EQ(fileBytes(c), bytes({1}));
  env.syncDirectory(dir.path(""));
  env.remove(c);
  EXPECT_FALSE(env.exists(c));
  EXPECT_NO_THROW(env.remove(c));
}

TEST(SystemEnv, TurkishLettersInFolderAndFileNames) {
  TempDir dir;
  Env& env = Env::system();
  // Satış/Veri/satış.mdb, as the settings of a Turkish workstation name it.
  const std::string folder = joinPath(dir.path("Sat\xC4\xB1\xC5\x9F"), "Veri");
  std::filesystem::create_directories(toFsPath(folder));
  const std::string path = joinPath(folder, "sat\xC4\xB1\xC5\x9F \xC4\xB0\xC4\x9F\xC3\xBC\xC3\xB6\xC3\xA7.mdb");
  env.open(path, OpenMode::CreateNew)->write(0, bytes({7}));
  EXPECT_TRUE(env.exists(path));
  // The system holds the same name, letter for letter.
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(toFsPath(folder)))
    names.push_back(fromFsPath(e.path().filename()));
  EXPECT_EQ(names, std::vector<std::string>{"sat\xC4\xB1\xC5\x9F \xC4\xB0\xC4\x9F\xC3\xBC\xC3\xB6\xC3\xA7.mdb"});
  const std::string renamed = joinPath(folder, "\xC3\x96NCE.mdb");
  env.renameNoReplace(path, renamed);
  EXPECT_EQ(fileBytes(renamed), bytes({7}));
  auto lock = env.tryLockExclusive(joinPath(folder, "\xC3\x96NCE.ldb"));
  EXPECT_NE(lock, nullptr);
  // Text that is no UTF-8 is refused, never handed to the system as some
  // other name.
#ifdef _WIN32
  EXPECT_THROW(env.open(joinPath(folder, "sat\xFD\xFE.mdb"), OpenMode::CreateNew), Error);
#endif
}

TEST(SystemEnv, AnExclusiveLockIsOneHoldersAtATime) {
  TempDir dir;
  Env& env = Env::system();
  const std::string path = dir.path("x.ldb");
  auto held = env.tryLockExclusive(path);
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(env.tryLockExclusive(path), nullptr) << "a second lock, even of this process";
  env.remove(path);  // the holder may remove its lock file
  held.reset();
  EXPECT_FALSE(env.exists(path));
  auto again = env.tryLockExclusive(path);
  EXPECT_NE(again, nullptr);
  EXPECT_FALSE(env.isLockedElsewhere(dir.path("missing.mdb")));
}

TEST(SystemEnv, LocalTimeIsTheSystemClocks) {
  // The C runtime's view of the same moment, a second or two apart at most.
  const std::tm ours = Env::system().localTime();
  const std::time_t now = std::time(nullptr);
  std::tm theirs{};
#ifdef _WIN32
  ASSERT_EQ(localtime_s(&theirs, &now), 0);
#else
  ASSERT_NE(localtime_r(&now, &theirs), nullptr);
#endif
  std::tm a = ours, b = theirs;
  a.tm_isdst = b.tm_isdst = -1;
  const double apart = std::difftime(std::mktime(&a), std::mktime(&b));
  EXPECT_LE(std::abs(apart), 2.0) << "local time " << ours.tm_hour << ":" << ours.tm_min;
  EXPECT_GE(ours.tm_year, 2024 - 1900);
}

}  // namespace
}  // namespace engine
