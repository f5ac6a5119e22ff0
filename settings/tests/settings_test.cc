#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "engine/path.h"
#include "settings/settings.h"
#include "settings/text_1254.h"

namespace {

namespace fs = std::filesystem;

class SettingsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    dir_ = fs::temp_directory_path() /
           ("karvelta-settings-" + std::to_string(random()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string dir() const { return engine::fromFsPath(dir_); }
  std::string file() const { return engine::fromFsPath(dir_ / "PLX.dll"); }
  void write(const std::string& bytes) {
    std::ofstream out(dir_ / "PLX.dll", std::ios::binary | std::ios::trunc);
    out << bytes;
  }
  std::string ip() const { return settings::ayaroku("ayar", "ip", file()); }

 private:
  fs::path dir_;
};

TEST_F(SettingsFile, PlainEntryAndItsLocation) {
  write("[ayar]\r\nip=C:/satis/veri.mdb\r\n");
  EXPECT_EQ(ip(), "C:/satis/veri.mdb");
  const std::string separator(1, engine::kPathSeparator);
  EXPECT_EQ(settings::settingsPath(dir()), dir() + separator + "PLX.dll");
  EXPECT_EQ(settings::settingsPath(dir() + separator), dir() + separator + "PLX.dll");
  EXPECT_EQ(settings::databaseLocation(dir()), "C:/satis/veri.mdb");
  // A program whose directory is not known finds no settings, not those of
  // the working directory.
  fs::current_path(engine::toFsPath(dir()));
  EXPECT_EQ(settings::databaseLocation(std::nullopt), "");
  EXPECT_EQ(settings::databaseLocation(std::string()), "");
  fs::current_path(fs::temp_directory_path());
}

TEST_F(SettingsFile, NothingFoundGivesEmptyText) {
  EXPECT_EQ(ip(), "") << "no file";
  EXPECT_EQ(settings::databaseLocation(dir()), "");
  write("[ayar]\nport=1\n");
  EXPECT_EQ(ip(), "") << "section without the key";
  write("[baska]\nip=/x.mdb\n[ayar]\nport=1\n");
  EXPECT_EQ(ip(), "") << "key only in another section";
  write("ip=/x.mdb\n");
  EXPECT_EQ(ip(), "") << "key before any section";
  write("[ayar]\nip=\n");
  EXPECT_EQ(ip(), "") << "empty value";
  write("[ayar]\nip\n");
  EXPECT_EQ(ip(), "") << "key without an equals sign";
  write("[ayar]\nip=   \n");
  EXPECT_EQ(ip(), "") << "only blanks";
  write("");
  EXPECT_EQ(ip(), "") << "empty file";
}

TEST_F(SettingsFile, PrivateProfileSyntax) {
  write("  [ AYAR ]  \n  IP  =  \t/data/a b.mdb \t \n");
  EXPECT_EQ(ip(), "/data/a b.mdb") << "names case-insensitive, blanks trimmed";
  write("[ayar]\nip=\"  /q.mdb  \"\n");
  EXPECT_EQ(ip(), "  /q.mdb  ") << "matching quotes stripped, inner blanks kept";
  write("[ayar]\nip='/s.mdb'\n");
  EXPECT_EQ(ip(), "/s.mdb");
  write("[ayar]\nip=\"/half.mdb\n");
  EXPECT_EQ(ip(), "\"/half.mdb") << "an unmatched quote stays";
  write("[ayar]\n;ip=/commented.mdb\n  ; another\nip=/real.mdb\n");
  EXPECT_EQ(ip(), "/real.mdb") << "comment lines ignored";
  write("[ayar]\nip=/first.mdb\nip=/second.mdb\n");
  EXPECT_EQ(ip(), "/first.mdb") << "first key wins";
  write("[ayar]\nport=1\n[ayar]\nip=/second-section.mdb\n");
  EXPECT_EQ(ip(), "") << "only the first section of the name is searched";
  write("[ayar]\nip=a=b;c\n");
  EXPECT_EQ(ip(), "a=b;c") << "the value runs to the end of the line";
  write("\xEF\xBB\xBF[ayar]\nip=/bom.mdb");
  EXPECT_EQ(ip(), "/bom.mdb") << "byte-order mark, no final newline";
  EXPECT_EQ(settings::ayaroku("baska", "ip", file()), "");
}

TEST_F(SettingsFile, CutAt254Characters) {
  const std::string v254(254, 'a');
  write("[ayar]\nip=" + v254 + "\n");
  EXPECT_EQ(ip(), v254);
  const std::string v300 = std::string(250, 'b') + std::string(50, 'c');
  write("[ayar]\nip=" + v300 + "\n");
  EXPECT_EQ(ip(), v300.substr(0, 254));
  // Turkish letters in UTF-8 count as one character each.
  std::string turkish;
  for (int i = 0; i < 150; ++i) turkish += "\xC4\xB0";  // İ
  write("[ayar]\nip=" + turkish + turkish + "\n");
  std::string expected;
  for (int i = 0; i < 254; ++i) expected += "\xC4\xB0";
  EXPECT_EQ(ip(), expected);
  // In Windows-1254 one byte is one character.
  write("[ayar]\nip=" + std::string(300, '\xDD') + "\n");
  EXPECT_EQ(ip(), expected);
}

TEST_F(SettingsFile, ChangeBetweenTwoCallsIsSeen) {
  write("[ayar]\nip=/one.mdb\n");
  EXPECT_EQ(ip(), "/one.mdb");
  write("[ayar]\nip=/two.mdb\n");
  EXPECT_EQ(ip(), "/two.mdb");
  fs::remove(file());
  EXPECT_EQ(ip(), "");
}

TEST_F(SettingsFile, Windows1254BytesAreConverted) {
  // "C:\SATIŞ\VERİ ğüşıöç.mdb" written in code page 1254.
  write("[ayar]\nip=C:\\SAT\xDDI\xDE\\VER\xDD \xF0\xFC\xFE\xFD\xF6\xE7.mdb\n");
  EXPECT_EQ(ip(), "C:\\SAT\xC4\xB0I\xC5\x9E\\VER\xC4\xB0 \xC4\x9F\xC3\xBC\xC5\x9F\xC4\xB1\xC3\xB6\xC3\xA7.mdb");
  // The same name already in UTF-8 is taken as it is.
  write("[ayar]\nip=/SATI\xC5\x9E/VER\xC4\xB0.mdb\n");
  EXPECT_EQ(ip(), "/SATI\xC5\x9E/VER\xC4\xB0.mdb");
}

TEST(Windows1254, TableAndValidity) {
  EXPECT_EQ(settings::windows1254ToUtf8("\x80\x8A\x9F\xD0\xDE\xFE"),
            "\xE2\x82\xAC\xC5\xA0\xC5\xB8\xC4\x9E\xC5\x9E\xC5\x9F");
  EXPECT_EQ(settings::windows1254ToUtf8("\x81"), "\xC2\x81");
  EXPECT_EQ(settings::windows1254ToUtf8("\xE9\xFF"), "\xC3\xA9\xC3\xBF");
  EXPECT_TRUE(settings::isValidUtf8("plain"));
  EXPECT_TRUE(settings::isValidUtf8("\xF0\x9F\x98\x80"));
  EXPECT_FALSE(settings::isValidUtf8("\xC0\xAF")) << "overlong";
  EXPECT_FALSE(settings::isValidUtf8("\xED\xA0\x80")) << "surrogate";
  EXPECT_FALSE(settings::isValidUtf8("\xC4")) << "cut short";
  EXPECT_FALSE(settings::isValidUtf8("\xDD\x20")) << "1254 letter before a blank";
}

// A program folder with Turkish letters and a location in code page 1254:
// both arrive as the right UTF-8 text (on Windows the folder goes to the
// system as UTF-16, not through the ANSI code page).
TEST_F(SettingsFile, TurkishProgramFolderAndLocation) {
  const std::string folder = engine::joinPath(dir(), "Sat\xC4\xB1\xC5\x9F Program\xC4\xB1 \xC4\xB0\xC4\x9F\xC3\xBC");
  fs::create_directories(engine::toFsPath(folder));
  {
    std::ofstream out(engine::toFsPath(settings::settingsPath(folder)), std::ios::binary);
    out << "[ayar]\r\nip=C:\\Sat\xFD\xFE\\Veri\\sat\xFD\xFE.mdb\r\n";
  }
  EXPECT_EQ(settings::databaseLocation(folder), "C:\\Sat\xC4\xB1\xC5\x9F\\Veri\\sat\xC4\xB1\xC5\x9F.mdb");
}

TEST(ProgramDirectory, HoldsThisExecutable) {
  const std::optional<std::string> dir = settings::programDirectory();
  ASSERT_TRUE(dir.has_value());
  ASSERT_FALSE(dir->empty());
  EXPECT_FALSE(engine::isPathSeparator(dir->back()));
#ifdef _WIN32
  EXPECT_TRUE(fs::exists(engine::toFsPath(*dir) / "karvelta_settings_tests.exe")) << *dir;
#else
  EXPECT_TRUE(fs::exists(engine::toFsPath(*dir) / "karvelta_settings_tests")) << *dir;
#endif
}

}  // namespace
