// Index pages and index B-trees: the pages of the test databases read and
// written back, every index of every fixture walked and verified, lookups,
// and random inserts and removals checked against a model after each step.
#include "engine/index_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "engine/catalog.h"
#include "engine/error.h"
#include "engine/index_page.h"
#include "engine/little_endian.h"
#include "engine/tests/write_test_util.h"
#include "engine/usage_map.h"
#include "engine/usage_map_writer.h"

namespace engine {
namespace {

using testutil::TempDir;

const char* const kAllFixtures[] = {"access2000-blank.mdb", "sales-small.mdb",      "sales-updated.mdb",
                                    "sales-nofisno.mdb",    "sales-nopass.mdb",     "sales-otherpass.mdb",
                                    "sales-manytables.mdb", "sales-large.mdb",      "testV2000.mdb",
                                    "delColTestV2000.mdb",  "overflowTestV2000.mdb", "compIndexTestV2000.mdb"};

std::vector<std::string> problemsOf(IndexTree& tree) {
  std::vector<std::string> out;
  tree.verify([&](std::uint32_t page, const std::string& problem) {
    out.push_back("page " + std::to_string(page) + ": " + problem);
  });
  return out;
}

// The ParentIdName and Id entries of every catalog row.
void catalogEntries(const Catalog& catalog, std::vector<IndexEntry>& byName, std::vector<IndexEntry>& byId) {
  for (const CatalogEntry& entry : catalog.entries()) {
    IndexEntry a, b;
    appendLongKey(a, entry.parentId);
    appendTextKey(a, entry.name);
    appendRowPointer(a, entry.row.page, static_cast<std::uint8_t>(entry.row.row));
    appendLongKey(b, entry.id);
    appendRowPointer(b, entry.row.page, static_cast<std::uint8_t>(entry.row.row));
    byName.push_back(a);
    byId.push_back(b);
  }
  std::sort(byName.begin(), byName.end(), entryLess);
  std::sort(byId.begin(), byId.end(), entryLess);
}

TEST(IndexPage, TheFixturesPagesComeBackAsWritten) {
  TempDir dir;
  struct Case {
    const char* file;
    std::uint32_t page;
  };
  // Leaves and nodes of Access (testV2000, compIndexTestV2000) and of
  // Jackcess (sales-manytables); compIndexTestV2000 page 32 holds 510
  // entries with a 3-byte prefix, page 29 is its root node.
  for (Case c : {Case{"testV2000.mdb", 7}, Case{"testV2000.mdb", 8}, Case{"testV2000.mdb", 9},
                 Case{"sales-manytables.mdb", 7}, Case{"sales-manytables.mdb", 601},
                 Case{"sales-manytables.mdb", 9}, Case{"compIndexTestV2000.mdb", 29},
                 Case{"compIndexTestV2000.mdb", 32}, Case{"compIndexTestV2000.mdb", 33}}) {
    SCOPED_TRACE(std::string(c.file) + " page " + std::to_string(c.page));
    PageChannel ch(Env::system(), dir.copy(c.file), true);
    const Page page = ch.readPage(c.page);
    const IndexPage p = IndexPage::decode(page, c.page);
    const Page again = p.encode();
    // Bytes past the entries are left over from earlier contents.
    const std::size_t used = kPageSize - get16(page, 2);
    EXPECT_TRUE(std::equal(page.begin(), page.begin() + static_cast<std::ptrdiff_t>(used), again.begin()));
    EXPECT_EQ(IndexPage::decode(again, c.page).entries, p.entries);
  }
  PageChannel comp(Env::system(), dir.copy("compIndexTestV2000.mdb"), true);
  const IndexPage root = IndexPage::decode(comp.readPage(29), 29);
  EXPECT_FALSE(root.leaf);
  EXPECT_EQ(root.children, std::vector<std::uint32_t>{32});
  EXPECT_EQ(root.tail, 33u);
  const IndexPage full = IndexPage::decode(comp.readPage(32), 32);
  EXPECT_EQ(full.storedPrefix, 3);
  ASSERT_EQ(full.entries.size(), 510u);
  EXPECT_EQ(root.entries[0], full.entries.back());  // a node entry is its child's last entry
  // Fewer entries fit whole: written without a prefix.
  IndexPage fewer = full;
  fewer.entries.resize(100);
  EXPECT_EQ(fewer.prefixToWrite(), 0u);
  EXPECT_EQ(IndexPage::decode(fewer.encode(), 32).entries, fewer.entries);
  // More than compression can hold does not encode.
  IndexPage more = full;
  for (int i = 0; i < 200; ++i) more.entries.push_back(more.entries.back());
  EXPECT_FALSE(more.fits());
  EXPECT_THROW(more.encode(), Error);
}

TEST(IndexPage, MalformedPagesAreRefused) {
  TempDir dir;
  PageChannel ch(Env::system(), dir.copy("sales-small.mdb"), true);
  const Page good = ch.readPage(8);
  Page p = good;
  p[0] = 0x01;
  EXPECT_THROW(IndexPage::decode(p, 8), Error);
  p = good;
  p[27 + 452] = 0x80;  // an entry ending past the page
  EXPECT_THROW(IndexPage::decode(p, 8), Error);
  p = good;
  p[24] = 10;  // a prefix longer than the first entry (9 bytes)
  EXPECT_THROW(IndexPage::decode(p, 8), Error);
  p = good;
  p[0] = 0x03;  // a node entry needs a key byte, a row and a child: 9 bytes
  EXPECT_NO_THROW(IndexPage::decode(p, 8));
  p[28] = 0x01;  // the first entry ends after 8 bytes
  EXPECT_THROW(IndexPage::decode(p, 8), Error);
  p = good;
  std::fill(p.begin() + 27, p.begin() + 480, std::uint8_t{0});
  EXPECT_TRUE(IndexPage::decode(p, 8).entries.empty());
}

// Every index of every table of every fixture walks and verifies clean; the
// catalog's two indexes hold exactly the entries its rows give.
TEST(IndexTree, EveryIndexOfTheFixturesVerifies) {
  TempDir dir;
  for (const char* name : kAllFixtures) {
    SCOPED_TRACE(name);
    PageChannel ch(Env::system(), dir.copy(name), true);
    Catalog catalog = Catalog::read(ch);
    std::vector<IndexEntry> byName, byId;
    catalogEntries(catalog, byName, byId);
    TableDefinition msysObjects = TableDefinition::read(ch, kCatalogPage);
    IndexTree names(ch, msysObjects, 0), ids(ch, msysObjects, 1);
    EXPECT_EQ(names.entries(), byName);
    EXPECT_EQ(ids.entries(), byId);
    for (const CatalogEntry& e : catalog.entries()) {
      if (e.type != kObjectTypeTable) continue;
      TableDefinition d = TableDefinition::read(ch, e.tableDefinitionPage());
      for (std::size_t i = 0; i < d.realIndexes().size(); ++i) {
        IndexTree tree(ch, d, i);
        EXPECT_EQ(problemsOf(tree), std::vector<std::string>{}) << e.name << " index " << i;
        const auto entries = tree.entries();
        EXPECT_TRUE(std::is_sorted(entries.begin(), entries.end(), entryLess));
        EXPECT_EQ(tree.pages(), UsageMap::read(ch, d.realIndexes()[i].usageMap).pages());
      }
    }
  }
}

// sales-manytables: the name index is a node page over four leaves, and
// every catalog name is found through it.
TEST(IndexTree, NamesAreFoundThroughAMultiPageIndex) {
  TempDir dir;
  PageChannel ch(Env::system(), dir.copy("sales-manytables.mdb"), true);
  TableDefinition d = TableDefinition::read(ch, kCatalogPage);
  IndexTree names(ch, d, 0);
  EXPECT_EQ(names.pages(), (std::vector<std::uint32_t>{7, 261, 262, 470, 601}));
  Catalog catalog = Catalog::read(ch);
  for (const CatalogEntry& e : catalog.entries()) {
    IndexEntry key;
    appendLongKey(key, e.parentId);
    appendTextKey(key, e.name);
    const auto rows = names.find(key);
    ASSERT_EQ(rows.size(), 1u) << e.name;
    EXPECT_EQ(rows[0].page, e.row.page);
    EXPECT_EQ(rows[0].row, e.row.row);
  }
  IndexEntry missing;
  appendLongKey(missing, 0x0F000001);
  appendTextKey(missing, "nosuchtable");
  EXPECT_TRUE(names.find(missing).empty());
  // Many rows share a key in MSysACEs' index (five leaves under page 9).
  TableDefinition aces = TableDefinition::read(ch, 3);
  IndexTree objectIds(ch, aces, 0);
  IndexEntry tables;
  appendLongKey(tables, 0x0F000001);
  EXPECT_EQ(objectIds.find(tables).size(), 4u);
  std::size_t all = 0;
  for (const CatalogEntry& e : catalog.entries()) {
    IndexEntry k;
    appendLongKey(k, e.id);
    all += objectIds.find(k).size();
  }
  EXPECT_EQ(all, objectIds.entries().size());
}

// Damage the readers would not notice is reported with its page.
TEST(IndexTree, VerifyReportsDamage) {
  TempDir dir;
  const std::string path = dir.copy("sales-manytables.mdb");
  auto problems = [&](const std::function<void(PageChannel&)>& damage) {
    PageChannel ch(Env::system(), path, false);
    ch.begin();
    damage(ch);
    TableDefinition d = TableDefinition::read(ch, kCatalogPage);
    IndexTree tree(ch, d, 0);
    auto out = problemsOf(tree);
    ch.rollback();
    return out;
  };
  auto rewrite = [](PageChannel& ch, std::uint32_t n, const std::function<void(IndexPage&)>& change) {
    IndexPage p = IndexPage::decode(ch.readPage(n), n);
    change(p);
    ch.writePage(n, p.encode());
  };
  auto mentions = [](const std::vector<std::string>& list, const std::string& what) {
    return std::any_of(list.begin(), list.end(), [&](const std::string& s) { return s.find(what) != std::string::npos; });
  };
  EXPECT_TRUE(problems([](PageChannel&) {}).empty());
  // Two entries swapped on a leaf.
  auto swapped = problems([&](PageChannel& ch) {
    rewrite(ch, 262, [](IndexPage& p) { std::swap(p.entries[3], p.entries[4]); });
  });
  EXPECT_TRUE(mentions(swapped, "page 262: entry 4 is not above"));
  // A node entry that no longer matches its child.
  EXPECT_TRUE(mentions(problems([&](PageChannel& ch) {
                         rewrite(ch, 601, [](IndexPage& p) { p.entries.pop_back(); });
                       }),
                       "page 7: entry 0 differs from the last entry of its child page 601"));
  // A broken link between leaves.
  auto unlinked = problems([&](PageChannel& ch) { rewrite(ch, 470, [](IndexPage& p) { p.next = 0; }); });
  EXPECT_TRUE(mentions(unlinked, "page 470: its next page is 0, not page 261"));
  // A wrong free-space field, owner, and a page reached twice.
  EXPECT_TRUE(mentions(problems([&](PageChannel& ch) {
                         Page p = ch.readPage(261);
                         put16(p, 2, 1000);
                         ch.writePage(261, p);
                       }),
                       "page 261: the free-space field says 1000"));
  EXPECT_TRUE(mentions(problems([&](PageChannel& ch) {
                         Page p = ch.readPage(261);
                         put32(p, 4, 3);
                         ch.writePage(261, p);
                       }),
                       "page 261 belongs to the table at page 3"));
  EXPECT_TRUE(mentions(problems([&](PageChannel& ch) {
                         rewrite(ch, 7, [](IndexPage& p) { p.tail = p.children[0]; });
                       }),
                       "reaches page 601 twice"));
  // A page of the tree its usage map does not list.
  EXPECT_TRUE(mentions(problems([&](PageChannel& ch) {
                         TableDefinition d = TableDefinition::read(ch, kCatalogPage);
                         removePageFromUsageMap(ch, d.realIndexes()[0].usageMap, 470);
                       }),
                       "usage map does not list page 470"));
  // entries() and pages() refuse what cannot be walked.
  {
    PageChannel ch(Env::system(), path, false);
    ch.begin();
    rewrite(ch, 7, [](IndexPage& p) { p.tail = 7; });
    TableDefinition d = TableDefinition::read(ch, kCatalogPage);
    IndexTree tree(ch, d, 0);
    EXPECT_THROW(tree.entries(), Error);
    EXPECT_THROW(tree.pages(), Error);
    IndexEntry e;
    appendLongKey(e, 0x0F000002);
    appendTextKey(e, "zzz");
    appendRowPointer(e, 14, 1);
    EXPECT_THROW(tree.insert(e), Error);  // descends into the root again
    ch.rollback();
  }
}

// A random name of 48 to 64 letters, digits and underscores, half of them
// underscores (two code bytes each): long keys make the tree deep with few
// entries.
std::string randomName(std::mt19937& rng) {
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::uniform_int_distribution<std::size_t> length(48, 64), pick(0, sizeof kChars - 2);
  std::string s(length(rng), '_');
  for (char& c : s)
    if (rng() % 2) c = kChars[pick(rng)];
  return s;
}

struct EntryOrder {
  bool operator()(const IndexEntry& a, const IndexEntry& b) const { return entryLess(a, b); }
};

// Random inserts and removals on the catalog's name index, checked after
// each step against a model: the entries, whether a key was new or gone,
// and the whole structure. The tree grows three levels deep, then shrinks
// to an empty root leaf; the pages it gives back are free in the global map.
TEST(IndexTree, RandomInsertsAndRemovalsFollowTheModel) {
  TempDir dir;
  PageChannel ch(Env::system(), dir.copy("sales-small.mdb"), false);
  ch.begin();
  TableDefinition d = TableDefinition::read(ch, kCatalogPage);
  IndexTree tree(ch, d, 0);
  std::set<IndexEntry, EntryOrder> model;
  for (const IndexEntry& e : tree.entries()) model.insert(e);
  std::mt19937 rng(20261207);
  std::vector<std::string> names;
  auto keyCount = [&](const IndexEntry& e) {
    return std::count_if(model.begin(), model.end(), [&](const IndexEntry& o) { return sameKey(o, e); });
  };
  auto check = [&](int step) {
    auto problems = problemsOf(tree);
    ASSERT_TRUE(problems.empty()) << "step " << step << ": " << problems.front();
    ASSERT_EQ(tree.entries(), std::vector<IndexEntry>(model.begin(), model.end())) << "step " << step;
  };
  std::size_t maxDepthSeen = 0;
  auto depth = [&] {
    std::size_t levels = 1;
    std::uint32_t page = tree.rootPage();
    for (IndexPage p = IndexPage::decode(ch.readPage(page), page); !p.leaf; ++levels) {
      page = p.child(0);
      p = IndexPage::decode(ch.readPage(page), page);
    }
    return levels;
  };
  int step = 0;
  // Grow: mostly inserts, some keys repeated on other rows, some removals.
  std::uniform_int_distribution<int> dice(0, 9);
  while (model.size() < 1300) {
    ++step;
    IndexEntry e;
    appendLongKey(e, 0x0F000001);
    std::string name = !names.empty() && dice(rng) == 0 ? names[rng() % names.size()] : randomName(rng);
    appendTextKey(e, name);
    appendRowPointer(e, 100 + static_cast<std::uint32_t>(rng() % 5000), static_cast<std::uint8_t>(rng()));
    if (dice(rng) < 2 && model.size() > 30) {
      auto victim = std::next(model.begin(), static_cast<std::ptrdiff_t>(rng() % model.size()));
      IndexEntry gone = *victim;
      model.erase(victim);
      EXPECT_EQ(tree.remove(gone), keyCount(gone) == 0) << "step " << step;
    } else if (!model.count(e)) {
      const bool fresh = keyCount(e) == 0;
      EXPECT_EQ(tree.insert(e), fresh) << "step " << step;
      model.insert(e);
      names.push_back(name);
      EXPECT_THROW(tree.insert(e), Error);
    }
    {
      check(step);
      if (HasFatalFailure()) return;
    }
    maxDepthSeen = std::max(maxDepthSeen, depth());
  }
  EXPECT_GE(maxDepthSeen, 3u);
  const auto grownPages = tree.pages();
  // Shrink to nothing, in random order.
  while (!model.empty()) {
    ++step;
    auto victim = std::next(model.begin(), static_cast<std::ptrdiff_t>(rng() % model.size()));
    IndexEntry gone = *victim;
    model.erase(victim);
    EXPECT_EQ(tree.remove(gone), keyCount(gone) == 0) << "step " << step;
    EXPECT_THROW(tree.remove(gone), Error);
    {
      check(step);
      if (HasFatalFailure()) return;
    }
  }
  EXPECT_EQ(tree.pages(), std::vector<std::uint32_t>{tree.rootPage()});
  EXPECT_TRUE(IndexPage::decode(ch.readPage(tree.rootPage()), tree.rootPage()).leaf);
  for (std::uint32_t p : grownPages) {
    if (p == tree.rootPage()) continue;
    EXPECT_TRUE(ch.globalMapSaysFree(p)) << "page " << p;
  }
  ch.rollback();
}

// The root keeps its page number through a split; a split costs a new page,
// the old one, the parent and the map pages.
TEST(IndexTree, RootSplitKeepsTheRootPage) {
  TempDir dir;
  PageChannel ch(Env::system(), dir.copy("sales-small.mdb"), false);
  ch.begin();
  TableDefinition d = TableDefinition::read(ch, kCatalogPage);
  IndexTree tree(ch, d, 1);  // Id: one leaf, page 8
  ASSERT_EQ(tree.rootPage(), 8u);
  std::int32_t id = 1000;
  const std::uint32_t before = ch.pageCount();
  while (IndexPage::decode(ch.readPage(8), 8).leaf) {
    IndexEntry e;
    appendLongKey(e, id++);
    appendRowPointer(e, 14, 0);
    tree.insert(e);
  }
  const IndexPage root = IndexPage::decode(ch.readPage(8), 8);
  EXPECT_EQ(root.children.size(), 1u);
  EXPECT_NE(root.tail, 0u);
  EXPECT_EQ(ch.pageCount(), before + 2);  // the two leaves below the root
  EXPECT_TRUE(problemsOf(tree).empty());
  // Appending at the end touches the last leaf only: the tail has no entry.
  const IndexPage tailBefore = IndexPage::decode(ch.readPage(root.tail), root.tail);
  IndexEntry e;
  appendLongKey(e, id++);
  appendRowPointer(e, 14, 0);
  tree.insert(e);
  EXPECT_EQ(ch.readPage(8), root.encode());
  EXPECT_EQ(IndexPage::decode(ch.readPage(root.tail), root.tail).entries.size(), tailBefore.entries.size() + 1);
  ch.rollback();
}

}  // namespace
}  // namespace engine
