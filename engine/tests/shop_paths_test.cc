// Paths of a shop's workstation: a folder on another machine
// (\\KASA1\Veri\satis.mdb), a mapped drive letter, and names longer than the
// plain Windows calls' MAX_PATH. The path functions on such names, and
// databases there opened, changed and locked as local ones are.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/env.h"
#include "engine/in_use.h"
#include "engine/page_channel.h"
#include "engine/path.h"
#include "engine/testing/other_process.h"
#include "engine/tests/integrity_util.h"
#include "engine/tests/write_test_util.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace engine {
namespace {

using testing::OtherProcess;
using testutil::TempDir;

constexpr const char* kConnect = ";pwd=zorpelnik";

bool otherProcessSeesInUse(const std::string& db) { return OtherProcess::run(OtherProcess::seesInUse(db)) == 0; }

std::vector<std::string> tableNames(const std::string& db) {
  return makeJetEngine(Env::system())->openDatabase(db, false, true, kConnect)->tableNames();
}

// A folder inside `base` whose path is exactly `length` characters long.
std::string folderOfLength(const std::string& base, std::size_t length) {
  std::string folder = base;
  while (folder.size() < length) {
    const std::size_t name = std::min<std::size_t>(100, length - folder.size() - 1);
    folder = joinPath(folder, std::string(std::max<std::size_t>(name, 1), 'k'));
  }
  std::filesystem::create_directories(toFsPath(folder));
  return folder;
}

TEST(ShopPaths, WhereTheRootOfEachKindOfNameEnds) {
#ifdef _WIN32
  EXPECT_EQ(directoryOf("C:\\Veri\\satis.mdb"), "C:\\Veri");
  EXPECT_EQ(directoryOf("C:\\satis.mdb"), "C:\\");
  EXPECT_EQ(directoryOf("C:satis.mdb"), "C:");
  EXPECT_EQ(directoryOf("\\\\KASA1\\Veri\\satis.mdb"), "\\\\KASA1\\Veri\\");
  EXPECT_EQ(directoryOf("\\\\KASA1\\Veri\\2024\\satis.mdb"), "\\\\KASA1\\Veri\\2024");
  EXPECT_EQ(directoryOf("//KASA1/Veri/satis.mdb"), "//KASA1/Veri/");
  EXPECT_EQ(directoryOf("\\\\?\\C:\\satis.mdb"), "\\\\?\\C:\\");
  EXPECT_EQ(directoryOf("\\\\?\\C:\\Veri\\satis.mdb"), "\\\\?\\C:\\Veri");
  EXPECT_EQ(directoryOf("\\\\?\\UNC\\KASA1\\Veri\\satis.mdb"), "\\\\?\\UNC\\KASA1\\Veri\\");
  EXPECT_EQ(directoryOf("\\\\?\\UNC\\KASA1\\Veri\\a\\satis.mdb"), "\\\\?\\UNC\\KASA1\\Veri\\a");
  EXPECT_EQ(directoryOf("K:\\satis.mdb"), "K:\\");
  EXPECT_EQ(joinPath("\\\\KASA1\\Veri\\", "plx.ocx"), "\\\\KASA1\\Veri\\plx.ocx");
  EXPECT_EQ(joinPath("\\\\KASA1\\Veri", "plx.ocx"), "\\\\KASA1\\Veri\\plx.ocx");
  EXPECT_EQ(lockFilePath("\\\\KASA1\\Veri\\satis.mdb"), "\\\\KASA1\\Veri\\satis.ldb");
  EXPECT_EQ(lockFilePath("\\\\KASA1.magaza\\Veri\\satis"), "\\\\KASA1.magaza\\Veri\\satis.ldb");
  EXPECT_EQ(lockFilePath("\\\\?\\UNC\\KASA1\\Veri\\satis.mdb"), "\\\\?\\UNC\\KASA1\\Veri\\satis.ldb");
  EXPECT_EQ(PageChannel::journalPath("\\\\KASA1\\Veri\\satis.mdb"), "\\\\KASA1\\Veri\\satis.mdb-journal");
#endif
  EXPECT_EQ(directoryOf("/veri/satis.mdb"), "/veri");
  EXPECT_EQ(directoryOf("/satis.mdb"), "/");
  EXPECT_EQ(directoryOf("satis.mdb"), ".");
  EXPECT_EQ(lockFilePath("/veri.d/satis"), "/veri.d/satis.ldb");
}

TEST(ShopPaths, OneFileUnderEverySpellingHasOneKey) {
  TempDir dir;
  const std::string folder = folderOfLength(dir.path("long"), 300);
  const std::string deep = joinPath(folder, "satis.mdb");
  // Up and back into the same folder, through "." and "..", with slashes.
  const std::string last = folder.substr(directoryOf(folder).size() + 1);
  const std::string dotted = folder + "/./../" + last + "/satis.mdb";
  EXPECT_EQ(pathKey(deep), pathKey(dotted)) << dotted;
  EXPECT_NE(pathKey(deep), pathKey(joinPath(folder, "satis2.mdb")));
#ifdef _WIN32
  EXPECT_EQ(pathKey(deep), pathKey("\\\\?\\" + deep));
  EXPECT_EQ(pathKey("\\\\KASA1\\Veri\\satis.mdb"), pathKey("\\\\?\\UNC\\KASA1\\Veri\\satis.mdb"));
  EXPECT_EQ(pathKey("\\\\KASA1\\Veri\\satis.mdb"), pathKey("//kasa1/veri/x/../SATIS.MDB"));
  EXPECT_EQ(pathKey("\\\\?\\C:\\Veri\\satis.mdb"), pathKey("c:/veri/./satis.mdb"));
  EXPECT_EQ(pathKey("C:\\Veri\\satis.mdb"), "C:\\VERI\\SATIS.MDB");
  EXPECT_NE(pathKey("\\\\KASA1\\Veri\\satis.mdb"), pathKey("\\\\KASA2\\Veri\\satis.mdb"));
#endif
}

#ifdef _WIN32
TEST(ShopPaths, LongNamesGoToTheSystemInExtendedLengthForm) {
  EXPECT_EQ(systemPath("C:\\Veri\\..\\satis.mdb"), L"C:\\satis.mdb");
  EXPECT_EQ(systemPath("c:/veri/satis.mdb"), L"c:\\veri\\satis.mdb");
  EXPECT_EQ(systemPath("\\\\KASA1\\Veri\\satis.mdb"), L"\\\\KASA1\\Veri\\satis.mdb");
  const std::string folders = "\\" + std::string(120, 'a') + "\\" + std::string(120, 'b');
  const std::wstring wide = widen(folders) + L"\\satis.mdb-journal";
  EXPECT_EQ(systemPath("C:" + folders + "\\.\\satis.mdb-journal"), L"\\\\?\\C:" + wide);
  EXPECT_EQ(systemPath("\\\\KASA1\\Veri" + folders + "\\satis.mdb-journal"),
            L"\\\\?\\UNC\\KASA1\\Veri" + wide);
  EXPECT_EQ(systemPath("\\\\?\\C:\\a\\..\\b"), L"\\\\?\\C:\\a\\..\\b") << "taken as it is";
  EXPECT_EQ(systemPath("\\\\.\\NUL"), L"\\\\.\\NUL");
  // A relative name is made absolute first, so that a short name in a deep
  // working folder is long too.
  wchar_t cwd[MAX_PATH];
  ASSERT_GT(::GetCurrentDirectoryW(MAX_PATH, cwd), 0u);
  std::wstring expected = cwd;
  if (expected.back() != L'\\') expected += L'\\';
  EXPECT_EQ(systemPath("satis.mdb"), expected + L"satis.mdb");
  EXPECT_THROW(systemPath("sat\xFD\xFE.mdb"), Error);
}
#endif

// The settings may name a database with up to 254 characters: its journal
// and its lock file lie beyond the plain calls' MAX_PATH of 260 then.
TEST(ShopPaths, ADatabaseBeyondMaxPathIsChangedAndLockedAsAnyOther) {
  TempDir dir;
  const std::string db = joinPath(folderOfLength(dir.path("long"), 254 - 10), "satis.mdb");
  ASSERT_EQ(db.size(), 254u);
  std::filesystem::copy_file(std::filesystem::path(KARVELTA_FIXTURES_DIR) / "sales-small.mdb", toFsPath(db));
  std::filesystem::permissions(toFsPath(db), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  const std::string journal = PageChannel::journalPath(db);
  EXPECT_GT(journal.size(), 260u);
  {
    auto writer = makeJetEngine(Env::system())->openDatabase(db, false, false, kConnect);
    writer->tableDef("fisno")->rename("fisnoeski");
    EXPECT_TRUE(Env::system().exists(journal)) << "kept between commits";
    EXPECT_TRUE(Env::system().exists(lockFilePath(db)));
    EXPECT_TRUE(otherProcessSeesInUse(db));
#ifdef _WIN32
    // A second connection under the extended-length spelling shares the lock.
    auto second = makeJetEngine(Env::system())->openDatabase("\\\\?\\" + db, false, false, kConnect);
    second->tableDef("satislar")->rename("satislareski");
#endif
  }
  EXPECT_FALSE(Env::system().exists(journal));
  EXPECT_FALSE(Env::system().exists(lockFilePath(db)));
  EXPECT_FALSE(otherProcessSeesInUse(db));
  const std::vector<std::string> names = tableNames(db);
  EXPECT_NE(std::find(names.begin(), names.end(), "fisnoeski"), names.end());
  testutil::expectIntegrity(db, "zorpelnik", "sales-small.mdb");
}

#ifdef _WIN32
// The tests' Wine prefix (cmake/wine-run.sh) has the share \\KASA1\Veri and
// drive K: mapped to it, as a shop's workstation has the cash desk's folder.
TEST(ShopPaths, ADatabaseOnAnotherMachineAndThroughAMappedDrive) {
  const std::string share = "\\\\KASA1\\Veri";
  if (!Env::system().exists(share + "\\") || !Env::system().exists("K:\\"))
    GTEST_SKIP() << "no share \\\\KASA1\\Veri mapped to K: here";
  std::random_device random;
  const std::string sub = "karvelta-" + std::to_string(random()) + "-" + std::to_string(random());
  const std::string overNet = share + "\\" + sub + "\\satis.mdb";
  const std::string onDrive = "K:\\" + sub + "\\satis.mdb";
  const std::string extended = "\\\\?\\UNC\\KASA1\\Veri\\" + sub + "\\satis.mdb";
  ASSERT_TRUE(::CreateDirectoryW(widen(share + "\\" + sub).c_str(), nullptr));
  std::filesystem::copy_file(std::filesystem::path(KARVELTA_FIXTURES_DIR) / "sales-small.mdb", toFsPath(onDrive));
  std::filesystem::permissions(toFsPath(onDrive), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  {
    auto writer = makeJetEngine(Env::system())->openDatabase(overNet, false, false, kConnect);
    writer->tableDef("fisno")->rename("fisnoeski");
    EXPECT_TRUE(Env::system().exists("K:\\" + sub + "\\satis.ldb"));
    // Another program sees it in use under either name, and a client of the
    // real engine cannot open it.
    EXPECT_TRUE(otherProcessSeesInUse(overNet));
    EXPECT_TRUE(otherProcessSeesInUse(onDrive));
    EXPECT_THROW(OtherProcess(OtherProcess::jetClient(onDrive)), std::runtime_error);
    // Our second connection under the extended-length name shares our lock.
    auto second = makeJetEngine(Env::system())->openDatabase(extended, false, false, kConnect);
    second->tableDef("satislar")->rename("satislareski");
  }
  EXPECT_FALSE(otherProcessSeesInUse(onDrive));
  {
    // Through the drive letter as through a local one; while a client of
    // the real engine has it open there, it is in use under the share's name.
    auto writer = makeJetEngine(Env::system())->openDatabase(onDrive, false, false, kConnect);
    writer->tableDef("fisnoeski")->rename("fisno");
  }
  {
    OtherProcess salesProgram(OtherProcess::jetClient(onDrive));
    EXPECT_THROW(makeJetEngine(Env::system())->openDatabase(overNet, false, false, kConnect), Error);
  }
  EXPECT_EQ(tableNames(overNet), (std::vector<std::string>{"fisno", "satislareski", "urunler"}));
  std::set<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(toFsPath("K:\\" + sub)))
    left.insert(fromFsPath(e.path().filename()));
  EXPECT_EQ(left, std::set<std::string>{"satis.mdb"}) << "no journal, no lock file";
  testutil::expectIntegrity(onDrive, "zorpelnik", "sales-small.mdb");
  std::filesystem::remove_all(toFsPath("K:\\" + sub));
}
#endif

}  // namespace
}  // namespace engine
