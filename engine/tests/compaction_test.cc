// Compaction (engine/compaction.h): every fixture the engine opens compacted
// and held against its source; the refusals; every cut of its writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/catalog.h"
#include "engine/compaction.h"
#include "engine/data_page.h"
#include "engine/engine.h"
#include "engine/error.h"
#include "engine/index_tree.h"
#include "engine/jet_database.h"
#include "engine/index_bulk_loader.h"
#include "engine/index_key.h"
#include "engine/index_page.h"
#include "engine/page_sink.h"
#include "engine/long_value.h"
#include "engine/table_definition.h"
#include "engine/testing/interrupted_change.h"
#include "engine/tests/catalog_write_util.h"
#include "engine/tests/cuts.h"
#include "engine/tests/integrity_util.h"
#include "engine/value.h"

namespace engine {
namespace {

using namespace testutil;

struct Fixture {
  const char* name;
  const char* password;
};

// Every fixture the engine opens.
const Fixture kFixtures[] = {
    {"access2000-blank.mdb", ""}, {"compIndexTestV2000.mdb", ""}, {"delColTestV2000.mdb", ""},
    {"overflowTestV2000.mdb", ""}, {"testV2000.mdb", ""},          {"sales-small.mdb", kSalesPassword},
    {"sales-nopass.mdb", ""},      {"sales-otherpass.mdb", "baska"}, {"sales-updated.mdb", kSalesPassword},
    {"sales-nofisno.mdb", kSalesPassword}, {"sales-manytables.mdb", kSalesPassword},
    {"sales-large.mdb", kSalesPassword},
};

// The values of a row, long values read whole.
std::string rowText(PageChannel& channel, const TableDefinition& d, std::span<const std::uint8_t> row) {
  const PageSource pages = pageSourceOf(channel);
  const std::vector<RawValue> raw = decodeRow(row, d.columns());
  std::string out;
  for (std::size_t i = 0; i < raw.size(); ++i) out += toJson(decodeValue(d.columns()[i], raw[i], pages)) + ",";
  return out;
}

// Tables by name with their definitions.
std::map<std::string, TableDefinition> tablesOf(PageChannel& channel) {
  std::map<std::string, TableDefinition> out;
  for (const CatalogEntry& e : Catalog::read(channel).entries())
    if (e.type == kObjectTypeTable) out.emplace(e.name, TableDefinition::read(channel, e.tableDefinitionPage()));
  return out;
}

bool holdsIds(const std::string& table) {
  return table == "MSysObjects" || table == "MSysACEs" || table == "MSysQueries";
}

// The compacted file against its source: the header page, each table's
// definition (columns, indexes, auto-number, row count), its rows, and each
// index entry by entry: the same keys in the same order, each naming the row
// with the same values in both files, and each row found through the tree.
void expectSameContent(const std::string& source, const std::string& target, const std::string& password) {
  JetDatabase src(Env::system(), source, true, password);
  JetDatabase dst(Env::system(), target, true, password);
  EXPECT_EQ(src.channel().readPage(0), dst.channel().readPage(0));
  const auto before = tablesOf(src.channel());
  const auto after = tablesOf(dst.channel());
  ASSERT_EQ(before.size(), after.size());
  for (const auto& [name, d] : before) {
    SCOPED_TRACE(source + " table " + name);
    ASSERT_TRUE(after.count(name));
    const TableDefinition& n = after.at(name);
    EXPECT_EQ(n.lastAutoNumber(), d.lastAutoNumber());
    EXPECT_EQ(n.tableType(), d.tableType());
    ASSERT_EQ(n.columns().size(), d.columns().size());
    for (std::size_t i = 0; i < d.columns().size(); ++i)
      EXPECT_EQ(n.columns()[i].rawDefinition, d.columns()[i].rawDefinition) << d.columns()[i].name;
    ASSERT_EQ(n.logicalIndexes().size(), d.logicalIndexes().size());
    for (std::size_t i = 0; i < d.logicalIndexes().size(); ++i) {
      EXPECT_EQ(n.logicalIndexes()[i].name, d.logicalIndexes()[i].name);
      EXPECT_EQ(n.logicalIndexes()[i].realIndex, d.logicalIndexes()[i].realIndex);
      EXPECT_EQ(n.logicalIndexes()[i].type, d.logicalIndexes()[i].type);
    }
    std::vector<std::string> rowsBefore, rowsAfter;
    scanRows(src.channel(), d, [&](RowId, std::span<const std::uint8_t> r) {
      rowsBefore.push_back(rowText(src.channel(), d, r));
      return true;
    });
    scanRows(dst.channel(), n, [&](RowId, std::span<const std::uint8_t> r) {
      rowsAfter.push_back(rowText(dst.channel(), n, r));
      return true;
    });
    EXPECT_EQ(n.rowCount(), rowsAfter.size());
    if (!holdsIds(name)) {
      // Rows in the order of the source's scan, every live one.
      EXPECT_EQ(rowsAfter, rowsBefore);
    } else {
      EXPECT_EQ(rowsAfter.size(), rowsBefore.size());
    }
    ASSERT_EQ(n.realIndexes().size(), d.realIndexes().size());
    for (std::size_t i = 0; i < d.realIndexes().size(); ++i) {
      SCOPED_TRACE("index " + std::to_string(i));
      EXPECT_EQ(n.realIndexes()[i].flags, d.realIndexes()[i].flags);
      IndexTree was(src.channel(), d, i), is(dst.channel(), n, i);
      const auto entriesBefore = was.entries(), entriesAfter = is.entries();
      ASSERT_EQ(entriesAfter.size(), entriesBefore.size());
      std::size_t distinct = 0;
      for (std::size_t k = 0; k < entriesAfter.size(); ++k) {
        const IndexEntry& e = entriesAfter[k];
        if (k == 0 || !sameKey(e, entriesAfter[k - 1])) ++distinct;
        const auto key = entryKey(e);
        const RowId at{std::uint32_t{e[e.size() - 4]} << 16 | std::uint32_t{e[e.size() - 3]} << 8 | e[e.size() - 2],
                       e[e.size() - 1]};
        const auto found = is.find(key);
        EXPECT_NE(std::find(found.begin(), found.end(), at), found.end()) << "entry " << k << " not found";
        if (holdsIds(name)) continue;
        const IndexEntry& o = entriesBefore[k];
        ASSERT_TRUE(std::equal(key.begin(), key.end(), entryKey(o).begin(), entryKey(o).end())) << "entry " << k;
        const RowId was_at{std::uint32_t{o[o.size() - 4]} << 16 | std::uint32_t{o[o.size() - 3]} << 8 | o[o.size() - 2],
                           o[o.size() - 1]};
        EXPECT_EQ(rowText(dst.channel(), n, *readRowData(dst.channel(), at)),
                  rowText(src.channel(), d, *readRowData(src.channel(), was_at)))
            << "entry " << k;
      }
      EXPECT_EQ(n.realIndexes()[i].uniqueEntryCount, distinct);
    }
  }
}

TEST(Compaction, EveryFixtureKeepsItsContentAndPassesTheCheck) {
  for (const Fixture& f : kFixtures) {
    SCOPED_TRACE(f.name);
    TempDir dir;
    const std::string source = dir.copy(f.name);
    const auto sourceBytes = fileBytes(source);
    const std::string target = dir.path("compacted.mdb");
    const CompactionResult r = compactDatabase(Env::system(), source, target, f.password);
    EXPECT_EQ(fileBytes(source), sourceBytes) << "the source was changed";
    EXPECT_FALSE(std::filesystem::exists(compactionTempPath(target)));
    EXPECT_EQ(r.sourceBytes, sourceBytes.size());
    EXPECT_EQ(r.targetBytes, std::filesystem::file_size(target));
    EXPECT_LE(r.targetPages, r.sourcePages);
    // No count drifts in the new file, whatever the source's.
    expectIntegrity(target, f.password);
    expectSameContent(source, target, f.password);
    if (std::string(f.name) == "sales-large.mdb") continue;  // the same again, at length
    // Compacting again gives the same bytes: the layout is a fixed point.
    const std::string again = dir.path("again.mdb");
    compactDatabase(Env::system(), target, again, f.password);
    EXPECT_EQ(fileBytes(again), fileBytes(target));
    if (readersAvailable()) expectReadersRead(target, f.password, "--same-as '" + source + "'");
  }
}

// Pages written out of order land in their places, in few writes: one page
// kept open past kHeld others (they go out without it), one handed out and
// never written (zeros), the pages before the numbered ones on their own.
TEST(Compaction, ThePageSinkPutsEveryPageInItsPlaceInRuns) {
  TempDir dir;
  const std::string path = dir.path("pages.bin");
  struct CountingFile final : FileWrapper {
    using FileWrapper::FileWrapper;
    int writes = 0;
    void write(std::uint64_t offset, std::span<const std::uint8_t> data) override {
      ++writes;
      FileWrapper::write(offset, data);
    }
  };
  const auto pageOf = [](std::uint32_t n) {
    Page p{};
    for (std::size_t i = 0; i < kPageSize; i += 512) p[i] = static_cast<std::uint8_t>(n + i / 512 + 1);
    return p;
  };
  constexpr std::uint32_t kLast = 3 + 3000;
  int writes = 0;
  {
    CountingFile file(Env::system().open(path, OpenMode::CreateNew));
    PageSink sink(file, 3);
    const std::uint32_t open = sink.reserve();  // 3, written last
    for (std::uint32_t n = 4; n < kLast; ++n) {
      ASSERT_EQ(sink.reserve(), n);
      sink.write(n, pageOf(n));
    }
    EXPECT_THROW(sink.write(kLast - 1, pageOf(kLast - 1)), Error);  // still held: written twice
    EXPECT_THROW(sink.write(kLast, pageOf(kLast)), Error);          // not handed out
    ASSERT_EQ(sink.reserve(), kLast);                               // never written
    sink.write(open, pageOf(open));
    sink.write(0, pageOf(0));
    sink.write(1, pageOf(1));
    sink.finish();
    EXPECT_EQ(sink.pageCount(), kLast + 1);
    writes = file.writes;
  }
  EXPECT_LE(writes, 3 + 2 * static_cast<int>(kLast / PageSink::kRun) + 2);
  const auto bytes = fileBytes(path);
  ASSERT_EQ(bytes.size(), std::size_t{kLast + 1} * kPageSize);
  for (std::uint32_t n = 0; n <= kLast; ++n) {
    if (n == 2) continue;  // never handed out
    const Page want = n == kLast ? Page{} : pageOf(n);
    ASSERT_TRUE(std::equal(want.begin(), want.end(), bytes.begin() + static_cast<std::ptrdiff_t>(std::size_t{n} * kPageSize)))
        << "page " << n;
  }
}

// The bulk loader alone, over enough entries for three levels: one root,
// each level one chain of pages in order, each node entry its child's last
// entry with the last child as the tail, the leaves holding every entry and
// full but for the last (the next leaf's first entry would not fit).
TEST(Compaction, TheBulkLoaderBuildsEveryLevelAsOneChain) {
  TempDir dir;
  std::vector<IndexEntry> entries;
  for (std::uint32_t i = 0; i < 40000; ++i) {
    IndexEntry e{0x7F};
    for (int k = 0; k < 18; ++k) e.push_back(static_cast<std::uint8_t>(0x36 + (i >> (k % 16)) % 7));
    appendLongKey(e, static_cast<std::int32_t>(i));
    appendRowPointer(e, 100 + i / 100, static_cast<std::uint8_t>(i % 100));
    entries.push_back(std::move(e));
  }
  std::sort(entries.begin(), entries.end(), entryLess);
  const std::string path = dir.path("index.bin");
  IndexBulkLoader::Result built;
  {
    auto file = Env::system().open(path, OpenMode::CreateNew);
    PageSink sink(*file, 3);
    IndexBulkLoader loader(sink, 77);
    for (const IndexEntry& e : entries) loader.add(e);
    built = loader.finish();
    sink.finish();
  }
  EXPECT_THROW(
      {
        auto file = Env::system().open(dir.path("other.bin"), OpenMode::CreateNew);
        PageSink sink(*file, 3);
        IndexBulkLoader loader(sink, 77);
        loader.add(entries[1]);
        loader.add(entries[0]);
      },
      Error);
  EXPECT_EQ(built.entries, entries.size());
  EXPECT_EQ(built.distinctKeys, entries.size());
  const auto bytes = fileBytes(path);
  auto pageAt = [&](std::uint32_t n) {
    Page p{};
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(std::size_t{n} * kPageSize), kPageSize, p.begin());
    return IndexPage::decode(p, n);
  };
  std::vector<std::uint32_t> level{built.root};
  std::size_t pages = 0, depth = 0;
  for (;;) {
    ++depth;
    // The level's chain from its first page: exactly the pages the level
    // above names, in order.
    const IndexPage first = pageAt(level.front());
    EXPECT_EQ(first.prev, 0u);
    std::vector<std::uint32_t> chain;
    for (std::uint32_t n = level.front(), prev = 0; n != 0;) {
      const IndexPage p = pageAt(n);
      EXPECT_EQ(p.prev, prev);
      EXPECT_EQ(p.owner, 77u);
      chain.push_back(n);
      prev = n;
      n = p.next;
    }
    EXPECT_EQ(chain, level);
    pages += chain.size();
    if (first.leaf) break;
    std::vector<std::uint32_t> below;
    for (std::uint32_t n : level) {
      const IndexPage p = pageAt(n);
      ASSERT_FALSE(p.leaf);
      EXPECT_NE(p.tail, 0u);
      for (std::size_t k = 0; k < p.children.size(); ++k) {
        IndexPage child = pageAt(p.children[k]);
        while (!child.leaf) child = pageAt(child.tail);
        EXPECT_EQ(p.entries[k], child.entries.back());
      }
      for (std::size_t k = 0; k < p.childCount(); ++k) below.push_back(p.child(k));
    }
    level = below;
  }
  EXPECT_EQ(depth, 3u);
  EXPECT_EQ(pages, built.pages.size());
  std::vector<IndexEntry> leaves;
  for (std::uint32_t n : level) {
    const IndexPage p = pageAt(n);
    if (p.next != 0) {
      IndexPage fuller = p;
      fuller.entries.push_back(pageAt(p.next).entries.front());
      EXPECT_FALSE(fuller.fits()) << "leaf " << n;
    }
    for (const IndexEntry& e : p.entries) leaves.push_back(e);
  }
  EXPECT_EQ(leaves, entries);
}

TEST(Compaction, RefusesWhatItCannotRebuildAndLeavesNoTarget) {
  TempDir dir;
  const std::string source = dir.copy("sales-small.mdb");
  const std::string target = dir.path("out.mdb");
  auto expectRefused = [&](const std::string& src, const std::string& dst, const std::string& words,
                           const std::string& password = kSalesPassword) {
    try {
      compactDatabase(Env::system(), src, dst, password);
      ADD_FAILURE() << "not refused: " << words;
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(words), std::string::npos) << e.what();
    }
    EXPECT_FALSE(std::filesystem::exists(compactionTempPath(dst)));
  };
  // An existing target, the source itself, a wrong password, another program.
  writeBytes(target, {1, 2, 3});
  expectRefused(source, target, "exists already");
  EXPECT_EQ(fileBytes(target), (std::vector<std::uint8_t>{1, 2, 3}));
  std::filesystem::remove(target);
  expectRefused(source, target, "wrong database password", "nein");
  {
    OtherProcessLock other(source);
    expectRefused(source, target, "in use by another program");
  }
  EXPECT_FALSE(std::filesystem::exists(target));

  // A change a crash interrupted is rolled back first; the compacted file
  // holds the database as it was before that change.
  {
    const auto before = fileBytes(source);
    ASSERT_TRUE(testing::leaveInterruptedChange(source, [&](Env& env) {
      engine::makeJetEngine(env)->openDatabase(source, false, false, ";pwd=zorpelnik")->tableDef("fisno")->rename("fisyeni");
    }));
    const std::string settled = dir.path("settled.mdb");
    compactDatabase(Env::system(), source, settled, kSalesPassword);
    EXPECT_EQ(fileBytes(source), before);
    EXPECT_FALSE(std::filesystem::exists(PageChannel::journalPath(source)));
    JetDatabase db(Env::system(), settled, true, kSalesPassword);
    EXPECT_TRUE(db.table("fisno").has_value());
  }

  // The primary key of urunler over text in sort order 1055.
  auto bytes = fileBytes(source);
  TableDefinition d = [&] {
    JetDatabase db(Env::system(), source, true, kSalesPassword);
    return db.table("urunler").value().definition;
  }();
  const Column& kod = *d.findColumn("kod");
  const std::size_t block = std::size_t{d.page()} * kPageSize + d.layout().columns.offset +
                            kColumnBlockSize * kod.definitionIndex;
  const std::string sorted = dir.path("sorted.mdb");
  auto changed = bytes;
  changed[block + 11] = 0x1F;  // 0x041F
  writeBytes(sorted, changed);
  expectRefused(sorted, target, "sort order 1055");

  // A foreign-key index (urunler's primary key made one) names its related
  // table's definition page: mapped to satislar's new page; a page that
  // holds no table is refused.
  {
    const LogicalIndex& key = d.logicalIndexes().at(0);
    const std::size_t at = std::size_t{d.page()} * kPageSize + key.block.offset;
    auto related = [&](std::uint32_t page) {
      auto b = bytes;
      b[at + 23] = 2;
      for (int i = 0; i < 4; ++i) b[at + 17 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(page >> (8 * i));
      return b;
    };
    const std::string foreign = dir.path("foreign.mdb"), mapped = dir.path("mapped.mdb");
    std::uint32_t satislar = 0;
    {
      JetDatabase db(Env::system(), source, true, kSalesPassword);
      satislar = db.table("satislar").value().entry.tableDefinitionPage();
    }
    writeBytes(foreign, related(satislar));
    compactDatabase(Env::system(), foreign, mapped, kSalesPassword);
    JetDatabase db(Env::system(), mapped, true, kSalesPassword);
    EXPECT_EQ(db.table("urunler").value().definition.logicalIndexes().at(0).relatedTablePage,
              db.table("satislar").value().entry.tableDefinitionPage());
    EXPECT_NE(db.table("satislar").value().entry.tableDefinitionPage(), satislar);
    writeBytes(foreign, related(7));
    expectRefused(foreign, target, "which holds no table");
  }

  // A damaged source: the check's first problem is named.
  const std::string damaged = dir.path("damaged.mdb");
  changed = bytes;
  changed[std::size_t{d.page()} * kPageSize + TableDefinition::kRowCountOffset] ^= 0x40;
  writeBytes(damaged, changed);
  expectRefused(damaged, target, "fails the integrity check (page ");
  EXPECT_FALSE(std::filesystem::exists(target));
}

// Damaged copies of two fixtures: refused with a message and no target, or
// compacted into a file that passes the check; never a crash.
TEST(Compaction, DamagedSourcesAreRefusedOrCompactedSoundly) {
  std::mt19937 random(20261209);
  int refused = 0;
  // A fuzzing corpus kept in the tree (database images), when there is one.
  const std::filesystem::path corpus = std::filesystem::path(KARVELTA_SOURCE_DIR) / "engine" / "fuzz" / "corpus";
  if (std::filesystem::is_directory(corpus)) {
    TempDir dir;
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
      if (!entry.is_regular_file()) continue;
      const std::string source = dir.path("input.mdb"), target = dir.path("out.mdb");
      std::filesystem::copy_file(entry.path(), source, std::filesystem::copy_options::overwrite_existing);
      std::filesystem::remove(target);
      try {
        compactDatabase(Env::system(), source, target, "");
        expectIntegrity(target, "");
      } catch (const Error&) {
        EXPECT_FALSE(std::filesystem::exists(target)) << entry.path();
      }
    }
  }
  for (const Fixture& f : {Fixture{"sales-small.mdb", kSalesPassword}, Fixture{"compIndexTestV2000.mdb", ""}}) {
    TempDir dir;
    const auto bytes = fileBytes(dir.copy(f.name, "original.mdb"));
    for (int round = 0; round < 60; ++round) {
      auto changed = bytes;
      for (int k = 0; k < 1 + round % 4; ++k)
        changed[std::uniform_int_distribution<std::size_t>(kPageSize, changed.size() - 1)(random)] ^=
            static_cast<std::uint8_t>(1 + random() % 255);
      const std::string source = dir.path("damaged.mdb"), target = dir.path("out.mdb");
      writeBytes(source, changed);
      std::filesystem::remove(target);
      try {
        compactDatabase(Env::system(), source, target, f.password);
        expectIntegrity(target, f.password);
      } catch (const Error& e) {
        ++refused;
        EXPECT_FALSE(std::string(e.what()).empty());
        EXPECT_FALSE(std::filesystem::exists(target));
      }
      EXPECT_EQ(fileBytes(source), changed);
      EXPECT_FALSE(std::filesystem::exists(compactionTempPath(target)));
    }
  }
  EXPECT_GT(refused, 0);
}

// Every cut of every write and flush: the source byte for byte as it was,
// and no target, or one that passes the check.
TEST(Compaction, EveryCutLeavesTheSourceAndNoTargetOrASoundOne) {
  for (const Fixture& f : {Fixture{"sales-small.mdb", kSalesPassword}, Fixture{"compIndexTestV2000.mdb", ""}}) {
    SCOPED_TRACE(f.name);
    TempDir dir;
    const std::string source = dir.copy(f.name);
    const auto sourceBytes = fileBytes(source);
    const std::string target = dir.path("out.mdb");
    int complete = 0;
    forEveryCut(
        Env::system(), 200,
        [&] {
          std::filesystem::remove(target);
          std::filesystem::remove(compactionTempPath(target));
        },
        [&](Env& env) { compactDatabase(env, source, target, f.password); },
        [&](const Cut& cut, bool, bool fired) {
          EXPECT_EQ(fileBytes(source), sourceBytes) << cut.name();
          if (std::filesystem::exists(target)) {
            ++complete;
            expectIntegrity(target, f.password);
          } else {
            EXPECT_TRUE(fired) << cut.name();
          }
        });
    EXPECT_GT(complete, 0);
  }
}

}  // namespace
}  // namespace engine
