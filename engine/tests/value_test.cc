#include "engine/value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "engine/error.h"
#include "engine/table_definition.h"
#include "engine/table_scan.h"
#include "engine/tests/fixture_copy.h"

namespace engine {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(ValueFormat, Currency) {
  EXPECT_EQ(formatCurrency(0), "0.0000");
  EXPECT_EQ(formatCurrency(-123400), "-12.3400");
  EXPECT_EQ(formatCurrency(26530200), "2653.0200");
  EXPECT_EQ(formatCurrency(5), "0.0005");
  EXPECT_EQ(formatCurrency(-5), "-0.0005");
  EXPECT_EQ(formatCurrency(std::numeric_limits<std::int64_t>::min()), "-922337203685477.5808");
  EXPECT_EQ(formatCurrency(std::numeric_limits<std::int64_t>::max()), "922337203685477.5807");
}

TEST(ValueFormat, DateTime) {
  EXPECT_EQ(formatDateTime(0), "1899-12-30 00:00:00");
  EXPECT_EQ(formatDateTime(1.5), "1899-12-31 12:00:00");
  EXPECT_EQ(formatDateTime(45000.5), "2023-03-15 12:00:00");
  EXPECT_EQ(formatDateTime(2.0 + 1.0 / 86400 * 0.49), "1900-01-01 00:00:00");  // rounds down
  EXPECT_EQ(formatDateTime(2.0 + 1.0 / 86400 * 0.51), "1900-01-01 00:00:01");  // rounds up
  EXPECT_EQ(formatDateTime(1.9999999), "1900-01-01 00:00:00");  // carries into the next day
  // Before 1899-12-30 the whole part counts days back and the fraction is
  // still the time of day.
  EXPECT_EQ(formatDateTime(-1.25), "1899-12-29 06:00:00");
  EXPECT_EQ(formatDateTime(-0.5), "1899-12-30 12:00:00");
  EXPECT_EQ(formatDateTime(-36522), "1800-01-01 00:00:00");
  EXPECT_EQ(formatDateTime(-657434), "0100-01-01 00:00:00");
  EXPECT_EQ(formatDateTime(2958465.5), "9999-12-31 12:00:00");
  EXPECT_EQ(formatDateTime(2958465.999999999), "");  // would round into the year 10000
  EXPECT_EQ(formatDateTime(-700000), "");
  EXPECT_EQ(formatDateTime(1e300), "");
  EXPECT_EQ(formatDateTime(std::nan("")), "");
}

TEST(ValueFormat, GuidNumericHexAndNumbers) {
  const Bytes guid = {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66,
                      0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
  EXPECT_EQ(formatGuid(guid), "{00112233-4455-6677-8899-AABBCCDDEEFF}");
  EXPECT_THROW(formatGuid(Bytes(15)), Error);

  Bytes numeric(17, 0);
  numeric[13] = 0xD2;
  numeric[14] = 0x04;
  EXPECT_EQ(formatNumeric(numeric, 2), "12.34");
  EXPECT_EQ(formatNumeric(numeric, 0), "1234");
  EXPECT_EQ(formatNumeric(numeric, 6), "0.001234");
  numeric[0] = 0x80;
  EXPECT_EQ(formatNumeric(numeric, 2), "-12.34");
  EXPECT_EQ(formatNumeric(Bytes(17, 0), 2), "0.00");
  Bytes big(17, 0);
  big[1] = 0x01;  // 2^96
  EXPECT_EQ(formatNumeric(big, 0), "79228162514264337593543950336");

  EXPECT_EQ(formatHex(Bytes{0x00, 0xAB, 0x0F}), "00ab0f");
  EXPECT_EQ(formatDouble(0.1), "0.1");
  EXPECT_EQ(formatDouble(444.555), "444.555");
  EXPECT_EQ(formatDouble(-0.0), "-0");
  EXPECT_EQ(formatFloat(0.1f), "0.1");
  EXPECT_EQ(formatDouble(1e21), "1e+21");
}

TEST(ValueFormat, JsonStrings) {
  EXPECT_EQ(jsonString("a\"b\\c"), R"("a\"b\\c")");
  EXPECT_EQ(jsonString("Masa 4\r\nhesap\t."), R"("Masa 4\r\nhesap\t.")");
  EXPECT_EQ(jsonString(std::string("\x01\x1f\b\f\0", 5)), R"("\u0001\u001f\b\f\u0000")");
  EXPECT_EQ(jsonString("İğ/"), "\"İğ/\"");
}

TEST(ValueFormat, ToJson) {
  Value v;
  EXPECT_EQ(toJson(v), "null");
  v.kind = Value::Kind::Currency;
  v.integer = -123400;
  EXPECT_EQ(toJson(v), "\"-12.3400\"");
  v.kind = Value::Kind::DateTime;
  v.real = 1.5;
  EXPECT_EQ(toJson(v), "\"1899-12-31 12:00:00\"");
  v.real = -1e9;  // no calendar date: printed as the number
  EXPECT_EQ(toJson(v), "-1e+09");
  v.kind = Value::Kind::Double;
  v.real = std::numeric_limits<double>::infinity();
  EXPECT_EQ(toJson(v), "null");
  EXPECT_EQ(columnTypeName(kTypeFloat), "float");
  EXPECT_EQ(columnTypeName(0x11), "type17");
}

TEST(ValueDecode, FixedValuesMustHaveTheirSize) {
  const PageSource none{};
  Column c;
  c.name = "x";
  c.type = kTypeLong;
  EXPECT_EQ(decodeBytes(c, Bytes{0xFE, 0xFF, 0xFF, 0xFF}, none).integer, -2);
  EXPECT_THROW(decodeBytes(c, Bytes{1, 2, 3}, none), Error);
  c.type = kTypeCurrency;
  EXPECT_EQ(decodeBytes(c, Bytes{0x18, 0x1D, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, none).integer, -123624);
  c.type = kTypeByte;
  EXPECT_EQ(decodeBytes(c, Bytes{0xFF}, none).integer, 255);
  c.type = kTypeInteger;
  EXPECT_EQ(decodeBytes(c, Bytes{0xFF, 0xFF}, none).integer, -1);
  c.type = kTypeGuid;
  EXPECT_THROW(decodeBytes(c, Bytes(8), none), Error);
  c.type = kTypeMemo;  // a long value that points outside the (empty) file
  EXPECT_THROW(decodeBytes(c, Bytes{5, 0, 0, 0x40, 0, 3, 0, 0, 0, 0, 0, 0}, none), Error);
  EXPECT_EQ(decodeBytes(c, Bytes{}, none).text, "");
}

// Values of one table of a fixture copy, by column name.
std::vector<std::map<std::string, Value>> readTable(testing::FixtureCopy& db,
                                                    const std::string& name) {
  const auto table = TableDefinition::read(db.channel(), db.table(name).tableDefinitionPage());
  const PageSource pages = pageSourceOf(db.channel());
  std::vector<std::map<std::string, Value>> rows;
  scanRows(db.channel(), table, [&](RowId, std::span<const std::uint8_t> bytes) {
    const auto raw = decodeRow(bytes, table.columns());
    auto& row = rows.emplace_back();
    for (std::size_t i = 0; i < raw.size(); ++i)
      row[table.columns()[i].name] = decodeValue(table.columns()[i], raw[i], pages);
    return true;
  });
  return rows;
}

std::size_t codePoints(const std::string& s) {
  std::size_t n = 0;
  for (const char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

TEST(ValueFixture, SalesMemosAndTurkishText) {
  testing::FixtureCopy db("sales-small.mdb");
  const auto satislar = readTable(db, "satislar");
  ASSERT_EQ(satislar.size(), 40u);
  bool longMemo = false, crlfMemo = false, emptyMemo = false;
  for (const auto& row : satislar) {
    const Value& memo = row.at("aciklama");
    if (memo.kind == Value::Kind::Null) continue;
    ASSERT_EQ(memo.kind, Value::Kind::Text);
    if (codePoints(memo.text) == 5321) {
      longMemo = true;
      EXPECT_EQ(memo.text.rfind("1. satır: Müşteri", 0), 0u);
    }
    if (memo.text == "Masa 4\r\nhesap ayrı ödendi") crlfMemo = true;
    if (memo.text.empty()) emptyMemo = true;
  }
  EXPECT_TRUE(longMemo);
  EXPECT_TRUE(crlfMemo);
  EXPECT_TRUE(emptyMemo);

  const auto fisno = readTable(db, "fisno");
  ASSERT_EQ(fisno.size(), 5u);
  EXPECT_EQ(fisno[1].at("musteriadi").text, "İbrahim Çelik");
  EXPECT_EQ(fisno[0].at("musteriadi").text, "Ayşe Yılmaz");
  EXPECT_EQ(toJson(fisno[0].at("toplam")), "\"2653.0200\"");
  EXPECT_EQ(toJson(fisno[0].at("tarih")), "\"2024-03-01 09:00:00\"");
  EXPECT_EQ(toJson(fisno[0].at("no")), "1");
}

TEST(ValueFixture, AccessMadeColumnTypes) {
  testing::FixtureCopy db("testV2000.mdb");
  const auto rows = readTable(db, "Table1");
  ASSERT_EQ(rows.size(), 2u);
  const auto& r = rows[0];
  EXPECT_EQ(r.at("A").text, "abcdefg");
  EXPECT_EQ(toJson(r.at("C")), "2");
  EXPECT_EQ(toJson(r.at("D")), "222");
  EXPECT_EQ(toJson(r.at("E")), "333333333");
  EXPECT_EQ(toJson(r.at("F")), "444.555");
  EXPECT_EQ(toJson(r.at("G")), "\"1974-09-21 00:00:00\"");
  EXPECT_EQ(toJson(r.at("H")), "\"3.5000\"");
  EXPECT_EQ(toJson(r.at("I")), "true");
  EXPECT_EQ(toJson(rows[1].at("I")), "false");
}

}  // namespace
}  // namespace engine
