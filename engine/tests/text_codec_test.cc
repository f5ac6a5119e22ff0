#include "engine/text_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/error.h"

namespace engine {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(TextCodec, DecodesPlainAndCompressedValues) {
  // "Şu": U+015E U+0075 as plain UTF-16LE.
  EXPECT_EQ(decodeTextValue(Bytes{0x5E, 0x01, 0x75, 0x00}), "Şu");
  // Compressed: "ab", switch to two-byte units for "Ş", back for "c".
  EXPECT_EQ(decodeTextValue(Bytes{0xFF, 0xFE, 'a', 'b', 0x00, 0x5E, 0x01, 0x00, 'c'}), "abŞc");
  // One-byte characters are Latin-1.
  EXPECT_EQ(decodeTextValue(Bytes{0xFF, 0xFE, 0xE7, 0xFC}), "çü");
  EXPECT_EQ(decodeTextValue(Bytes{0xFF, 0xFE}), "");
  EXPECT_EQ(decodeTextValue(Bytes{}), "");
  // A dangling half unit at the end of a two-byte run is dropped.
  EXPECT_EQ(decodeTextValue(Bytes{0xFF, 0xFE, 'a', 0x00, 0x5E}), "a");
}

TEST(TextCodec, Utf16ReplacesUnpairedSurrogates) {
  EXPECT_EQ(utf16leToUtf8(Bytes{0x3D, 0xD8, 0x00, 0xDE}), "\xF0\x9F\x98\x80");  // U+1F600
  EXPECT_EQ(utf16leToUtf8(Bytes{0x3D, 0xD8, 'a', 0x00}), "\xEF\xBF\xBD" "a");
  EXPECT_EQ(utf16leToUtf8(Bytes{0x00, 0xDE}), "\xEF\xBF\xBD");
  EXPECT_EQ(utf16leToUtf8(Bytes{0x3D, 0xD8}), "\xEF\xBF\xBD");
  EXPECT_EQ(utf16leToUtf8(Bytes{'a', 0x00, 'b'}), "a");  // odd byte dropped
}

TEST(TextCodec, Utf8ToUtf16RefusesInvalidInput) {
  EXPECT_EQ(utf8ToUtf16le("İı"), (Bytes{0x30, 0x01, 0x31, 0x01}));
  EXPECT_EQ(utf8ToUtf16le("\xF0\x9F\x98\x80"), (Bytes{0x3D, 0xD8, 0x00, 0xDE}));
  for (const char* bad : {"\xC0\x80", "\x80", "\xED\xA0\x80", "\xE2\x82", "\xF4\x90\x80\x80", "a\xFF"})
    EXPECT_THROW(utf8ToUtf16le(bad), Error) << bad;
}

TEST(TextCodec, CompressesOnlyWhatTheEngineCompresses) {
  EXPECT_EQ(encodeTextValue("abc", true), (Bytes{0xFF, 0xFE, 'a', 'b', 'c'}));
  EXPECT_EQ(encodeTextValue("çöü", true), (Bytes{0xFF, 0xFE, 0xE7, 0xF6, 0xFC}));
  EXPECT_EQ(encodeTextValue("abc", false), (Bytes{'a', 0, 'b', 0, 'c', 0}));
  EXPECT_EQ(encodeTextValue("ab", true), (Bytes{'a', 0, 'b', 0}));       // too short to gain
  EXPECT_EQ(encodeTextValue("Şeker", true), utf8ToUtf16le("Şeker"));      // beyond Latin-1
  EXPECT_EQ(encodeTextValue(std::string("a\0b", 3), true), (Bytes{'a', 0, 0, 0, 'b', 0}));
  EXPECT_EQ(encodeTextValue(std::string(kMaxCompressedChars, 'x'), true).size(),
            kMaxCompressedChars + 2);
  EXPECT_EQ(encodeTextValue(std::string(kMaxCompressedChars + 1, 'x'), true).size(),
            2 * (kMaxCompressedChars + 1));
  EXPECT_THROW(encodeTextValue("\xC3", true), Error);
}

TEST(TextCodec, EncodedValuesDecodeBack) {
  for (const std::string s : {"", "a", "abc", "Ayşe Yılmaz", "İbrahim Çelik", "ğĞüÜşŞıİöÖçÇ",
                              "Masa 4\r\nhesap", "\xF0\x9F\x98\x80 x"}) {
    EXPECT_EQ(decodeTextValue(encodeTextValue(s, true)), s);
    EXPECT_EQ(decodeTextValue(encodeTextValue(s, false)), s);
  }
}

TEST(TextCodec, NamesMatchWithoutLetterCase) {
  EXPECT_TRUE(caseInsensitiveEqual("FISNO", "fisno"));
  EXPECT_TRUE(caseInsensitiveEqual("FİSNO", "fisno"));
  EXPECT_TRUE(caseInsensitiveEqual("fısno", "FISNO"));
  EXPECT_TRUE(caseInsensitiveEqual("ŞĞÇÖÜ", "şğçöü"));
  EXPECT_TRUE(caseInsensitiveEqual("ÀÉÎ", "àéî"));
  EXPECT_FALSE(caseInsensitiveEqual("fisno", "fisn"));
  EXPECT_FALSE(caseInsensitiveEqual("satislar", "satışlar2"));
  EXPECT_FALSE(caseInsensitiveEqual("\xD7", "\xF7"));  // invalid bytes stand for themselves
  EXPECT_FALSE(caseInsensitiveEqual("×", "÷"));        // not letters
  EXPECT_TRUE(caseInsensitiveEqual("", ""));
}

}  // namespace
}  // namespace engine
