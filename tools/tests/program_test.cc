// The karvelta-jet program itself, started as a technician starts it: its
// arguments pass through the system's command line. On Windows that line is
// UTF-16 and a program reading main's ANSI argv loses the letters that the
// ANSI code page lacks; these tests run under the code page 1252, which has
// none of ş, ı, ğ and İ (see tools/CMakeLists.txt).
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/path.h"
#include "engine/testing/other_process.h"
#include "engine/testing/temp_dir.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

namespace fs = std::filesystem;
using engine::testing::runProgram;

constexpr const char* kFolder = "Satış İğdır";

#ifdef _WIN32
// Whether text survives the trip through the ANSI code page that main's argv
// takes.
bool survivesAnsiCodePage(const std::string& utf8) {
  const int n = static_cast<int>(utf8.size());
  std::wstring wide(utf8.size(), L'\0');
  wide.resize(static_cast<std::size_t>(::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), n, wide.data(), n)));
  const int length = static_cast<int>(wide.size());
  std::string ansi(wide.size() * 2, '\0');
  ansi.resize(static_cast<std::size_t>(::WideCharToMultiByte(CP_ACP, 0, wide.data(), length, ansi.data(),
                                                             static_cast<int>(ansi.size()), nullptr, nullptr)));
  std::wstring back(ansi.size(), L'\0');
  back.resize(static_cast<std::size_t>(::MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()),
                                                             back.data(), static_cast<int>(back.size()))));
  return back == wide;
}
#endif

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef _WIN32
    if (survivesAnsiCodePage(kFolder))
      GTEST_SKIP() << "the ANSI code page (" << ::GetACP() << ") holds the letters of '" << kFolder
                   << "': wide and ANSI arguments cannot be told apart here";
#endif
    dir_ = engine::testing::newTemporaryDirectory("karvelta-program");
    const std::string folder = engine::joinPath(dir_, kFolder);
    fs::create_directories(engine::toFsPath(folder));
    db_ = engine::joinPath(folder, "satış.mdb");
    fs::copy_file(fs::path(KARVELTA_FIXTURES_DIR) / "sales-small.mdb", engine::toFsPath(db_));
    fs::permissions(engine::toFsPath(db_), fs::perms::owner_read | fs::perms::owner_write);
  }
  void TearDown() override {
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(engine::toFsPath(dir_), ec);
  }
  int jet(const std::vector<std::string>& args) { return runProgram(KARVELTA_JET_BINARY, args, out_); }

  std::string dir_, db_, out_;
};

TEST_F(ProgramTest, ReadsAndChecksADatabaseInAFolderWithTurkishLetters) {
  ASSERT_EQ(jet({"schema", db_, "--password", "zorpelnik"}), 0) << out_;
  EXPECT_NE(out_.find("{\"name\":\"satislar\",\"rowCount\":40,"), std::string::npos) << out_;
  EXPECT_EQ(jet({"check", db_, "--password", "zorpelnik"}), 0) << out_;
  EXPECT_EQ(out_, "");
}

TEST_F(ProgramTest, AFieldNameWithTurkishLettersReachesTheDatabaseWhole) {
  ASSERT_EQ(jet({"add-field", db_, "satislar", "Açıklama İğş", "10", "50", "--password", "zorpelnik"}), 0)
      << out_;
  ASSERT_EQ(jet({"schema", db_, "--password", "zorpelnik"}), 0) << out_;
  EXPECT_NE(out_.find("{\"name\":\"Açıklama İğş\",\"type\":\"text\",\"size\":50,"), std::string::npos)
      << out_;
}

}  // namespace

namespace {

// FNV-1a, 64 bits, of a whole file.
std::uint64_t fileDigest(const std::string& path) {
  std::ifstream in(engine::toFsPath(path), std::ios::binary);
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (char c; in.get(c);) h = (h ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
  return h;
}

// What the Linux build writes for sales-small.mdb: the Windows build must
// write the same bytes (the compacted file holds no time of its own).
constexpr std::uint64_t kCompactedSalesSmall = 0x01cfc48ca64f3ec7ull;

TEST_F(ProgramTest, CompactsADatabaseInAFolderWithTurkishLettersToTheSameBytesEverywhere) {
  const std::string target = engine::joinPath(engine::directoryOf(db_), "sıkıştırılmış.mdb");
  ASSERT_EQ(jet({"compact", db_, target, "--password", "zorpelnik"}), 0) << out_;
  EXPECT_NE(out_.find("compacted 41 pages (0.2 MiB) into "), std::string::npos) << out_;
  EXPECT_EQ(jet({"check", target, "--password", "zorpelnik"}), 0) << out_;
  EXPECT_EQ(fileDigest(target), kCompactedSalesSmall) << std::hex << fileDigest(target);
  // A second compaction to the same name is refused, and leaves the first.
  EXPECT_EQ(jet({"compact", db_, target, "--password", "zorpelnik"}), 1);
  EXPECT_EQ(fileDigest(target), kCompactedSalesSmall);
}

}  // namespace
