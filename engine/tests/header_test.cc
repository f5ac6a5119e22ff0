#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "engine/database_header.h"
#include "engine/error.h"
#include "engine/jet_database.h"
#include "engine/tests/read_fixture.h"

namespace engine {
namespace {

using testing::TempDir;
using testing::fileBytes;
using testing::writeBytes;

Page pageOf(const std::vector<std::uint8_t>& bytes) {
  Page p{};
  std::copy(bytes.begin(), bytes.begin() + kPageSize, p.begin());
  return p;
}

TEST(HeaderTest, MaskStreamIsTheJetKeyStream) {
  // The first and last bytes of the masked region's key stream.
  const auto& m = DatabaseHeader::maskStream();
  const std::uint8_t head[] = {0xB5, 0x6F, 0x03, 0x62, 0x61, 0x08, 0xC2, 0x55};
  for (std::size_t i = 0; i < sizeof head; ++i) EXPECT_EQ(m[i], head[i]) << i;
  EXPECT_EQ(m[126], 0x62);
  EXPECT_EQ(m[127], 0xD4);
}

TEST(HeaderTest, PasswordMaskComesFromTheCreationDay) {
  EXPECT_EQ(DatabaseHeader::passwordMask(38143.546),
            (std::array<std::uint8_t, 4>{0xFF, 0x94, 0x00, 0x00}));
  EXPECT_EQ(DatabaseHeader::passwordMask(45000.5),
            (std::array<std::uint8_t, 4>{0xC8, 0xAF, 0x00, 0x00}));
  // Dates a damaged header may hold give a mask, not undefined behaviour.
  EXPECT_EQ(DatabaseHeader::passwordMask(std::nan("")), (std::array<std::uint8_t, 4>{}));
  EXPECT_EQ(DatabaseHeader::passwordMask(1e300),
            (std::array<std::uint8_t, 4>{0xFF, 0xFF, 0xFF, 0x7F}));
  EXPECT_EQ(DatabaseHeader::passwordMask(-std::numeric_limits<double>::infinity()),
            (std::array<std::uint8_t, 4>{0x00, 0x00, 0x00, 0x80}));
}

TEST(HeaderTest, ReadsPasswordAndSettingsOfTheSalesFiles) {
  struct Case {
    const char* file;
    const char* password;
  } cases[] = {{"sales-small.mdb", "zorpelnik"},
               {"sales-otherpass.mdb", "baska"},
               {"sales-nopass.mdb", ""},
               {"access2000-blank.mdb", ""}};
  for (const auto& c : cases) {
    auto bytes = fileBytes(std::string(KARVELTA_FIXTURES_DIR) + "/" + c.file);
    DatabaseHeader h = DatabaseHeader::parse(pageOf(bytes), bytes.size());
    EXPECT_EQ(h.password(), c.password) << c.file;
    EXPECT_EQ(h.hasPassword(), *c.password != 0) << c.file;
    EXPECT_EQ(h.codePage(), 1252) << c.file;
    EXPECT_EQ(h.sortOrder(), 1033u) << c.file;
  }
  auto other = fileBytes(std::string(KARVELTA_FIXTURES_DIR) + "/sales-otherpass.mdb");
  EXPECT_DOUBLE_EQ(DatabaseHeader::parse(pageOf(other), other.size()).creationDate(), 45000.5);
}

TEST(HeaderTest, PasswordMustMatchExactlyWhenSet) {
  auto bytes = fileBytes(std::string(KARVELTA_FIXTURES_DIR) + "/sales-small.mdb");
  DatabaseHeader h = DatabaseHeader::parse(pageOf(bytes), bytes.size());
  EXPECT_TRUE(h.accepts("zorpelnik"));
  EXPECT_FALSE(h.accepts("Zorpelnik"));
  EXPECT_FALSE(h.accepts("zorpelnik "));
  EXPECT_FALSE(h.accepts(""));
  EXPECT_FALSE(h.accepts("baska"));
  EXPECT_THROW(h.checkPassword("baska"), Error);

  auto none = fileBytes(std::string(KARVELTA_FIXTURES_DIR) + "/sales-nopass.mdb");
  DatabaseHeader n = DatabaseHeader::parse(pageOf(none), none.size());
  EXPECT_TRUE(n.accepts(""));
  EXPECT_TRUE(n.accepts("anything"));
}

TEST(HeaderTest, ConnectTextGivesThePassword) {
  EXPECT_EQ(passwordFromConnect(";pwd=zorpelnik"), "zorpelnik");
  EXPECT_EQ(passwordFromConnect(";PWD=zorpelnik"), "zorpelnik");
  EXPECT_EQ(passwordFromConnect("MS Access; Pwd =zorpelnik"), "zorpelnik");
  EXPECT_EQ(passwordFromConnect(";\tpWd\t=a b;"), "a b");
  EXPECT_EQ(passwordFromConnect(";pwd= x"), " x");
  EXPECT_EQ(passwordFromConnect(";pwd=a=b"), "a=b");
  EXPECT_EQ(passwordFromConnect(";pwd=first;pwd=second"), "second");
  EXPECT_EQ(passwordFromConnect(";uid=admin"), "");
  EXPECT_EQ(passwordFromConnect(""), "");
  EXPECT_EQ(passwordFromConnect(";pwd="), "");
  EXPECT_EQ(passwordFromConnect(";password=x"), "");
}

std::string refusal(const std::string& path, const std::string& password = "") {
  try {
    JetDatabase db(Env::system(), path, true, password);
  } catch (const Error& e) {
    return e.what();
  }
  return "";
}

TEST(HeaderTest, RefusesOtherFormatsAndDamagedFiles) {
  TempDir dir;
  EXPECT_NE(refusal(dir.copy("testV1997.mdb")).find("Jet 3"), std::string::npos);
  EXPECT_NE(refusal(dir.copy("testV2007.accdb")).find("ACE"), std::string::npos);

  auto good = fileBytes(std::string(KARVELTA_FIXTURES_DIR) + "/sales-nopass.mdb");
  auto write = [&](const std::string& name, std::vector<std::uint8_t> bytes) {
    std::string p = dir.path(name);
    writeBytes(p, bytes);
    return p;
  };
  EXPECT_NE(refusal(write("empty.mdb", {})).find("empty"), std::string::npos);
  EXPECT_NE(refusal(write("short.mdb", {good.begin(), good.begin() + 1000})).find("truncated"),
            std::string::npos);
  EXPECT_NE(refusal(write("cut.mdb", {good.begin(), good.begin() + 3 * 4096 + 17}))
                .find("4096-byte pages"),
            std::string::npos);
  EXPECT_NE(refusal(write("two.mdb", {good.begin(), good.begin() + 2 * 4096})).find("truncated"),
            std::string::npos);
  std::vector<std::uint8_t> text(8192, 'x');
  EXPECT_NE(refusal(write("text.mdb", text)).find("not a Jet database"), std::string::npos);

  // A database key in the header means RC4-encrypted pages.
  auto keyed = good;
  keyed[DatabaseHeader::kDatabaseKeyOffset] ^= 0x5A;
  EXPECT_NE(refusal(write("keyed.mdb", keyed)).find("encrypted"), std::string::npos);

  // Another page size: a Jet 4 signature on a file of 2048-byte pages.
  std::vector<std::uint8_t> small(good.begin(), good.begin() + 2048 * 5);
  EXPECT_NE(refusal(write("2k.mdb", small)).find("4096"), std::string::npos);

  EXPECT_NE(refusal(dir.path("missing.mdb")), "");
}

TEST(HeaderTest, PasswordIsCheckedOnOpen) {
  TempDir dir;
  std::string small = dir.copy("sales-small.mdb");
  std::string other = dir.copy("sales-otherpass.mdb");
  std::string nopass = dir.copy("sales-nopass.mdb");
  EXPECT_EQ(refusal(small, "zorpelnik"), "");
  EXPECT_NE(refusal(small, "baska"), "");
  EXPECT_NE(refusal(small, ""), "");
  EXPECT_EQ(refusal(other, "baska"), "");
  EXPECT_NE(refusal(other, "zorpelnik"), "");
  EXPECT_EQ(refusal(nopass, "zorpelnik"), "");
  EXPECT_EQ(refusal(nopass, ""), "");
}

}  // namespace
}  // namespace engine
