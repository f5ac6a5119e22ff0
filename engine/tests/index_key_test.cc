// Index keys and leaf pages, checked against the MSysObjects indexes of the
// test databases.
#include "engine/index_key.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "engine/catalog.h"
#include "engine/error.h"
#include "engine/page_channel.h"

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

// The two MSysObjects indexes hold exactly the entries our encoding gives for
// the catalog's rows, in ascending order.
TEST(IndexKey, MatchesTheCatalogIndexesOfTheTestDatabases) {
  for (const char* name : {"access2000-blank.mdb", "sales-small.mdb", "sales-updated.mdb", "sales-nofisno.mdb",
                           "testV2000.mdb", "delColTestV2000.mdb", "overflowTestV2000.mdb",
                           "compIndexTestV2000.mdb", "sales-large.mdb"}) {
    SCOPED_TRACE(name);
    PageChannel ch(Env::system(), std::string(KARVELTA_FIXTURES_DIR) + "/" + name, true);
    Catalog catalog = Catalog::read(ch);
    std::vector<IndexEntry> byName, byId;
    for (const CatalogEntry& entry : catalog.entries()) {
      ASSERT_TRUE(textKeyKnown(entry.name)) << entry.name;
      IndexEntry a, b;
      appendLongKey(a, entry.parentId);
      appendTextKey(a, entry.name);
      appendRowPointer(a, entry.row.page, static_cast<std::uint8_t>(entry.row.row));
      appendLongKey(b, entry.id);
      appendRowPointer(b, entry.row.page, static_cast<std::uint8_t>(entry.row.row));
      byName.push_back(a);
      byId.push_back(b);
    }
    std::sort(byName.begin(), byName.end());
    std::sort(byId.begin(), byId.end());
    auto onPage7 = readLeafEntries(ch.readPage(7));
    auto onPage8 = readLeafEntries(ch.readPage(8));
    EXPECT_TRUE(std::is_sorted(onPage7.begin(), onPage7.end()));
    EXPECT_TRUE(std::is_sorted(onPage8.begin(), onPage8.end()));
    EXPECT_EQ(onPage7, byName);
    EXPECT_EQ(onPage8, byId);
  }
}

TEST(IndexLeaf, RewritingGivesThePageBack) {
  PageChannel ch(Env::system(), std::string(KARVELTA_FIXTURES_DIR) + "/testV2000.mdb", true);
  for (std::uint32_t n : {7u, 8u, 9u}) {
    Page page = ch.readPage(n);
    Page copy = page;
    writeLeafEntries(copy, readLeafEntries(page));
    // Bytes past the entries are left over from earlier contents; compare the
    // used part.
    std::size_t used = kPageSize - (page[2] | page[3] << 8);
    EXPECT_TRUE(std::equal(page.begin(), page.begin() + static_cast<std::ptrdiff_t>(used), copy.begin()))
        << "page " << n;
  }
  // A compressed page reads back to the same entries without compression.
  PageChannel comp(Env::system(), std::string(KARVELTA_FIXTURES_DIR) + "/compIndexTestV2000.mdb", true);
  Page page = comp.readPage(32);
  ASSERT_EQ(page[24], 3);
  auto entries = readLeafEntries(page);
  ASSERT_GT(entries.size(), 100u);
  for (const auto& e : entries) EXPECT_TRUE(std::equal(e.begin(), e.begin() + 3, entries[0].begin()));
  Page rewritten = page;
  EXPECT_THROW(writeLeafEntries(rewritten, entries), Error);  // too big without compression
  entries.resize(100);
  writeLeafEntries(rewritten, entries);
  EXPECT_EQ(rewritten[24], 0);
  EXPECT_EQ(readLeafEntries(rewritten), entries);
}

TEST(IndexLeaf, InsertAndRemoveKeepTheOrder) {
  PageChannel ch(Env::system(), std::string(KARVELTA_FIXTURES_DIR) + "/sales-small.mdb", true);
  Page original = ch.readPage(7);
  Page page = original;
  IndexEntry added;
  appendLongKey(added, 0x0F000001);
  appendTextKey(added, "fisnoeski");
  appendRowPointer(added, 14, 23);
  insertLeafEntry(page, added);
  auto entries = readLeafEntries(page);
  EXPECT_EQ(entries.size(), readLeafEntries(original).size() + 1);
  EXPECT_TRUE(std::is_sorted(entries.begin(), entries.end()));
  EXPECT_NE(std::find(entries.begin(), entries.end(), added), entries.end());
  EXPECT_EQ(page[2] | page[3] << 8, (original[2] | original[3] << 8) - static_cast<int>(added.size()));
  EXPECT_THROW(insertLeafEntry(page, added), Error);
  removeLeafEntry(page, added);
  EXPECT_EQ(readLeafEntries(page), readLeafEntries(original));
  EXPECT_THROW(removeLeafEntry(page, added), Error);
}

TEST(IndexLeaf, MalformedPagesAreRefused) {
  PageChannel ch(Env::system(), std::string(KARVELTA_FIXTURES_DIR) + "/sales-small.mdb", true);
  Page good = ch.readPage(8);
  Page p = good;
  p[0] = 0x03;
  EXPECT_THROW(readLeafEntries(p), Error);
  p = good;
  p[27 + 452] = 0x80;  // an entry ending past the page
  EXPECT_THROW(readLeafEntries(p), Error);
  p = good;
  p[24] = 10;  // prefix longer than the first entry (9 bytes)
  EXPECT_THROW(readLeafEntries(p), Error);
  p = good;
  std::fill(p.begin() + 27, p.begin() + 480, std::uint8_t{0});
  EXPECT_TRUE(readLeafEntries(p).empty());
}

}  // namespace
}  // namespace engine
