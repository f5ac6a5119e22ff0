// Index keys and the order of entries.
#include "engine/index_key.h"

#include <gtest/gtest.h>

#include "engine/error.h"

namespace engine {
namespace {

IndexEntry bytes(std::initializer_list<int> list) {
  IndexEntry out;
  for (int b : list) out.push_back(static_cast<std::uint8_t>(b));
  return out;
}

TEST(IndexKey, LongAndTextKeys) {
  IndexEntry e;
  appendLongKey(e, 0x0F000001);
  EXPECT_EQ(e, bytes({0x7f, 0x8f, 0x00, 0x00, 0x01}));
  e.clear();
  appendLongKey(e, INT32_MIN);
  EXPECT_EQ(e, bytes({0x7f, 0x00, 0x00, 0x00, 0x00}));
  e.clear();
  appendLongKey(e, -1);
  EXPECT_EQ(e, bytes({0x7f, 0x7f, 0xff, 0xff, 0xff}));

  e.clear();
  appendTextKey(e, "Table1");
  EXPECT_EQ(e, bytes({0x7f, 0x6d, 0x4a, 0x4c, 0x5e, 0x51, 0x38, 0x01, 0x00}));
  IndexEntry folded;
  appendTextKey(folded, "tABLE1");
  EXPECT_EQ(folded, e);
  e.clear();
  appendTextKey(e, "z_9");
  EXPECT_EQ(e, bytes({0x7f, 0x78, 0x2b, 0x03, 0x48, 0x01, 0x00}));

  for (const char* unknown : {"a b", "x-y", "fi\xC5\x9F", "caf\xC3\xA9", "a.b", "[x]"}) {
    SCOPED_TRACE(unknown);
    EXPECT_FALSE(textKeyKnown(unknown));
    IndexEntry none;
    EXPECT_THROW(appendTextKey(none, unknown), Error);
  }
  e.clear();
  appendRowPointer(e, 0x0E, 4);
  EXPECT_EQ(e, bytes({0x00, 0x00, 0x0e, 0x04}));
  EXPECT_THROW(appendRowPointer(e, 0x1000000, 0), Error);
}

// Entries order by key first, a key before every longer key it begins,
// then by row pointer.
TEST(IndexKey, EntryOrder) {
  IndexEntry shortKey = bytes({0x7f, 0x4a, 0x60, 0x00, 0x0e, 0x09});
  IndexEntry longKey = bytes({0x7f, 0x4a, 0x4c, 0x00, 0x00, 0x0e, 0x01});
  IndexEntry laterRow = bytes({0x7f, 0x4a, 0x60, 0x00, 0x0f, 0x00});
  // Compared as whole byte strings, the row pointer of the shorter key would
  // meet the longer key's text and sort it first.
  EXPECT_TRUE(entryLess(shortKey, longKey));
  EXPECT_FALSE(entryLess(longKey, shortKey));
  EXPECT_TRUE(entryLess(shortKey, laterRow));
  EXPECT_TRUE(sameKey(shortKey, laterRow));
  EXPECT_FALSE(sameKey(shortKey, longKey));
  EXPECT_FALSE(entryLess(shortKey, shortKey));
}

}  // namespace
}  // namespace engine
