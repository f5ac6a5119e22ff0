#include <gtest/gtest.h>

#include "engine/data_page.h"
#include "engine/error.h"
#include "engine/jet_database.h"
#include "engine/row.h"
#include "engine/table_scan.h"
#include "engine/text_codec.h"
#include "engine/tests/read_fixture.h"

namespace engine {
namespace {

using testing::TempDir;

Column fixed(std::uint16_t number, std::uint8_t type, std::uint16_t offset) {
  Column c;
  c.name = "f" + std::to_string(number);
  c.number = number;
  c.type = type;
  c.flags = kColumnFixedLength;
  c.fixedOffset = offset;
  c.length = static_cast<std::uint16_t>(fixedValueSize(c));
  return c;
}

Column variable(std::uint16_t number, std::uint16_t varIndex) {
  Column c;
  c.name = "v" + std::to_string(number);
  c.number = number;
  c.type = kTypeText;
  c.varIndex = varIndex;
  c.length = 20;
  return c;
}

// count, long 7, var "ab" and "" (second var empty), end, offsets, var count, mask
std::vector<std::uint8_t> sampleRow() {
  return {
      4, 0,              // column count
      7, 0, 0, 0,        // long at fixed offset 0
      'a', 'b',          // variable 0 at 6..8
      8, 0,              // end offset
      8, 0,              // offset of variable 1 (empty)
      6, 0,              // offset of variable 0
      2, 0,              // variable count
      0b00001111,        // null mask: columns 0..3 present
  };
}

TEST(RowTest, FixedVariableAndBoolean) {
  std::vector<Column> cols{fixed(0, kTypeLong, 0), variable(1, 0), variable(2, 1),
                           fixed(3, kTypeBoolean, 0)};
  auto row = sampleRow();
  auto v = decodeRow(row, cols);
  ASSERT_EQ(v.size(), 4u);
  ASSERT_EQ(v[0].kind, RawValue::Kind::Bytes);
  EXPECT_EQ(v[0].bytes.size(), 4u);
  EXPECT_EQ(v[0].bytes[0], 7);
  EXPECT_EQ(std::string(v[1].bytes.begin(), v[1].bytes.end()), "ab");
  EXPECT_EQ(v[2].kind, RawValue::Kind::Bytes);
  EXPECT_TRUE(v[2].bytes.empty());
  EXPECT_EQ(v[3].kind, RawValue::Kind::Boolean);
  EXPECT_TRUE(v[3].boolean);

  row.back() = 0b00000100;  // only column 2 present: boolean false, others null
  v = decodeRow(row, cols);
  EXPECT_TRUE(v[0].isNull());
  EXPECT_TRUE(v[1].isNull());
  EXPECT_FALSE(v[2].isNull());
  EXPECT_FALSE(v[3].boolean);
}

TEST(RowTest, ColumnsAddedAfterTheRowReadAsNull) {
  auto row = sampleRow();
  // The table now has a fixed column 4, a variable column 5 (index 2) and a
  // boolean 6, which the row does not know.
  std::vector<Column> cols{fixed(0, kTypeLong, 0), variable(1, 0), variable(2, 1),
                           fixed(3, kTypeBoolean, 0), fixed(4, kTypeCurrency, 4),
                           variable(5, 2), fixed(6, kTypeBoolean, 0)};
  auto v = decodeRow(row, cols);
  EXPECT_TRUE(v[4].isNull());
  EXPECT_TRUE(v[5].isNull());
  EXPECT_EQ(v[6].kind, RawValue::Kind::Boolean);
  EXPECT_FALSE(v[6].boolean);
  // A variable index beyond the row's table is null even when the mask bit
  // is set (mask for 8 columns, count 2 variables).
  row[0] = 6;
  row.back() = 0xFF;
  v = decodeRow(row, cols);
  EXPECT_TRUE(v[5].isNull());
}

TEST(RowTest, RowsWithoutVariablePart) {
  std::vector<std::uint8_t> row{2, 0, 9, 0, 0, 0, 0b11};
  std::vector<Column> cols{fixed(0, kTypeLong, 0), fixed(1, kTypeBoolean, 0)};
  auto v = decodeRow(row, cols);
  EXPECT_EQ(v[0].bytes[0], 9);
  EXPECT_TRUE(v[1].boolean);
}

// decodeRow and RowValues::requireAll (the integrity check's one pass over
// a row, with its shortcut for sound rows) refuse the same rows.
TEST(RowTest, ValuesOutsideTheRowAreRefused) {
  std::vector<Column> cols{fixed(0, kTypeLong, 0), variable(1, 0), variable(2, 1)};
  const auto agree = [](std::span<const std::uint8_t> r, const std::vector<Column>& c, bool sound) {
    const RowShape shape(c);
    if (sound) {
      EXPECT_NO_THROW(decodeRow(r, c));
      EXPECT_NO_THROW(RowValues(r).requireAll(c, shape));
    } else {
      EXPECT_THROW(decodeRow(r, c), Error);
      EXPECT_THROW(RowValues(r).requireAll(c, shape), Error);
    }
  };
  auto row = sampleRow();
  agree(row, cols, true);
  agree(std::span(row).first(1), cols, false);
  auto bad = row;
  bad[12] = 0x40;  // variable 0 starts beyond the end offset
  agree(bad, cols, false);
  // The same offset under a null column harms no value.
  bad.back() = 0b00000101;
  agree(bad, cols, true);
  bad = row;
  bad[8] = 0x40;  // the end offset beyond the variable table
  agree(bad, cols, false);
  bad = row;
  bad[14] = 0xFF;  // 255 variables do not fit
  agree(bad, cols, false);
  bad.back() = 0b00000001;  // ... which matters only while a variable value is present
  agree(bad, cols, true);
  bad = row;
  bad[0] = 0xFF;  // a null mask larger than the row
  bad[1] = 0xFF;
  agree(bad, cols, false);
  agree(row, {fixed(0, kTypeCurrency, 3000)}, false);
  // A fixed column beyond the row harms no row that holds it null.
  row.back() = 0b00000110;
  agree(row, {fixed(0, kTypeCurrency, 3000), variable(1, 0), variable(2, 1)}, true);
}

std::vector<std::vector<std::string>> textRows(const std::string& fixture,
                                               const std::string& table) {
  TempDir dir;
  JetDatabase db(Env::system(), dir.copy(fixture), true, "");
  auto t = db.table(table);
  std::vector<std::vector<std::string>> out;
  db.forEachRow(t->definition, [&](const std::vector<RawValue>& v) {
    std::vector<std::string> r;
    for (std::size_t i = 0; i < v.size(); ++i)
      r.push_back(v[i].isNull() ? "-" : decodeTextValue(v[i].bytes));
    out.push_back(r);
    return true;
  });
  return out;
}

TEST(RowTest, OverflowRowsAreFollowed) {
  auto rows = textRows("overflowTestV2000.mdb", "Table1");
  ASSERT_EQ(rows.size(), 7u);
  EXPECT_EQ(rows[2], (std::vector<std::string>{"-", "row3col3", "-", "-", "-", "-", "-",
                                               "row3col9", "-"}));
  EXPECT_EQ(rows[4], (std::vector<std::string>{"-", "row5col2", "-", "-", "-", "-", "-", "-",
                                               "-"}));
  EXPECT_EQ(rows[6][0], "row7col1");
}

TEST(RowTest, DeletedColumnsAndBooleans) {
  auto rows = textRows("delColTestV2000.mdb", "Table1");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][2], "foo");
  EXPECT_EQ(rows[0][3], "foo2");
  EXPECT_EQ(rows[1][3], "bar2");

  TempDir dir;
  JetDatabase db(Env::system(), dir.copy("testV2000.mdb"), true, "");
  auto t = db.table("Table1");
  std::vector<bool> flags;
  db.forEachRow(t->definition, [&](const std::vector<RawValue>& v) {
    EXPECT_EQ(v[8].kind, RawValue::Kind::Boolean);
    flags.push_back(v[8].boolean);
    EXPECT_EQ(decodeTextValue(v[0].bytes).size(), flags.size() == 1 ? 7u : 1u);
    return true;
  });
  EXPECT_EQ(flags, (std::vector<bool>{true, false}));
}

TEST(RowTest, RowCountsMatchTheDefinitions) {
  TempDir dir;
  for (const char* f : {"compIndexTestV2000.mdb", "sales-small.mdb", "sales-large.mdb"}) {
    JetDatabase db(Env::system(), dir.copy(f), true, "zorpelnik");
    for (const JetTable& t : db.tables()) {
      std::uint32_t n = 0;
      db.forEachRow(t.definition, [&](const std::vector<RawValue>&) {
        ++n;
        return true;
      });
      EXPECT_EQ(n, t.definition.rowCount()) << f << " " << t.entry.name;
    }
  }
}

TEST(RowTest, OverflowLoopsAreRefused) {
  // A data page whose row 0 points to itself.
  Page page{};
  page[0] = kPageTypeData;
  page[1] = 1;
  page[12] = 1;  // one row
  std::uint16_t start = kPageSize - 4;
  page[14] = static_cast<std::uint8_t>(start);
  page[15] = static_cast<std::uint8_t>((start >> 8) | 0x40);  // overflow
  page[start] = 0;      // row 0
  page[start + 1] = 3;  // page 3
  TempDir dir;
  std::vector<std::uint8_t> file(4 * kPageSize, 0);
  std::copy(page.begin(), page.end(), file.begin() + 3 * kPageSize);
  std::string path = dir.path("loop.bin");
  testing::writeBytes(path, file);
  PageChannel ch(Env::system(), path, true);
  EXPECT_THROW(readRowData(ch, RowId{3, 0}), Error);
  EXPECT_THROW(readRowData(ch, RowId{3, 1}), Error);
  EXPECT_THROW(readRowData(ch, RowId{2, 0}), Error);  // not a data page
}

}  // namespace
}  // namespace engine
