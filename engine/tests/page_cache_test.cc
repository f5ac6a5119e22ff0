// The page cache that this process's connections to one database share while
// it holds the database's lock: what one connection commits, the others see
// without reading the file again; a commit that fails leaves nothing of
// itself in memory.
#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <map>
#include <string>

#include "engine/catalog.h"
#include "engine/catalog_writer.h"
#include "engine/jet_database.h"
#include "engine/lock.h"
#include "engine/engine.h"
#include "engine/page_channel.h"
#include "engine/testing/fault_env.h"
#include "engine/tests/integrity_util.h"
#include "engine/tests/write_test_util.h"

namespace engine {
namespace {

using testing::FaultEnv;
using testutil::TempDir;

// Counts the reads made of any file.
class ReadCountingEnv final : public EnvWrapper {
 public:
  explicit ReadCountingEnv(Env& inner) : EnvWrapper(inner) {}
  int reads = 0;
  std::unique_ptr<File> open(const std::string& path, OpenMode mode) override {
    return std::make_unique<CountingFile>(EnvWrapper::open(path, mode), reads);
  }

 private:
  class CountingFile final : public FileWrapper {
   public:
    CountingFile(std::unique_ptr<File> f, int& reads) : FileWrapper(std::move(f)), reads_(reads) {}
    void read(std::uint64_t offset, std::span<std::uint8_t> out) override {
      ++reads_;
      FileWrapper::read(offset, out);
    }

   private:
    int& reads_;
  };
};

Page filled(std::uint8_t value) {
  Page p{};
  p.fill(value);
  return p;
}

TEST(PageCache, ConnectionsSeeEachOthersCommitsFromMemory) {
  TempDir dir;
  const std::string db = dir.copy("sales-small.mdb");
  ReadCountingEnv env(Env::system());
  OpenDatabaseFile first = openDatabaseFile(env, db, false);
  ASSERT_NE(first.lock->pageCache(), nullptr);
  const Page before = first.channel->readPage(4);
  const std::uint32_t pages = first.channel->pageCount();

  std::uint32_t appended = 0;
  {
    OpenDatabaseFile second = openDatabaseFile(env, db, false);
    EXPECT_TRUE(second.channel->readPage(4) == before);
    WriteTransaction tx(*second.channel);
    second.channel->writePage(4, filled(0x44));
    appended = second.channel->allocatePage();
    second.channel->writePage(appended, filled(0x55));
    tx.commit();
  }
  const int readsBefore = env.reads;
  EXPECT_TRUE(first.channel->readPage(4) == filled(0x44));
  EXPECT_EQ(first.channel->pageCount(), pages + 1);
  EXPECT_TRUE(first.channel->readPage(appended) == filled(0x55));
  EXPECT_EQ(env.reads, readsBefore);

  // And the file agrees: a channel of its own, reading the disk.
  first = OpenDatabaseFile{};
  PageChannel fresh(Env::system(), db, true);
  EXPECT_TRUE(fresh.readPage(4) == filled(0x44));
  EXPECT_TRUE(fresh.readPage(appended) == filled(0x55));
}

// A commit that fails part-way through writing the database puts the old
// pages back; a connection that had the pages in memory must not go on with
// the ones that never made it, nor with the length of a file that did not
// grow.
TEST(PageCache, AFailedCommitLeavesNothingOfItselfInMemory) {
  TempDir dir;
  const std::string db = dir.copy("sales-small.mdb");
  const std::vector<std::uint8_t> original = testutil::fileBytes(db);
  FaultEnv env(Env::system());
  OpenDatabaseFile first = openDatabaseFile(env, db, false);
  const Page before4 = first.channel->readPage(4);
  const Page before9 = first.channel->readPage(9);
  const std::uint32_t pages = first.channel->pageCount();
  {
    OpenDatabaseFile second = openDatabaseFile(env, db, false);
    WriteTransaction tx(*second.channel);
    second.channel->writePage(4, filled(0x44));
    second.channel->writePage(9, filled(0x99));
    second.channel->writePage(second.channel->allocatePage(), filled(0x55));
    // Writes: the journal, page 4 into the database, then page 9 fails.
    env.arm(FaultEnv::Kind::Write, FaultEnv::Mode::Fail, 3);
    EXPECT_THROW(tx.commit(), Error);
    EXPECT_TRUE(env.fired());
  }
  EXPECT_TRUE(first.channel->readPage(4) == before4);
  EXPECT_TRUE(first.channel->readPage(9) == before9);
  EXPECT_EQ(first.channel->pageCount(), pages);
  first = OpenDatabaseFile{};
  EXPECT_TRUE(testutil::fileBytes(db) == original);
}

// Commits page n as it stands: the file keeps its bytes, the cache gives the
// page a new version, as any commit that writes it does.
void rewrite(PageChannel& channel, std::uint32_t n) {
  WriteTransaction tx(channel);
  channel.writePage(n, channel.readPage(n));
  tx.commit();
}

TEST(PageCache, DerivedValuesLastAsLongAsThePagesTheyWereMadeFrom) {
  TempDir dir;
  const std::string db = dir.copy("sales-small.mdb");
  const std::vector<std::uint8_t> original = testutil::fileBytes(db);
  ReadCountingEnv env(Env::system());
  OpenDatabaseFile first = openDatabaseFile(env, db, false);
  OpenDatabaseFile second = openDatabaseFile(env, db, false);
  PageChannel& a = *first.channel;
  PageChannel& b = *second.channel;

  int madeSum = 0, madeInner = 0, madeOuter = 0;
  auto sum = [&](PageChannel& c) {
    return *c.derived<int>("sum of pages 4 and 5", [&] {
      ++madeSum;
      return c.readPage(4)[0] + c.readPage(5)[0];
    });
  };
  // A value made from page 8 and another value, itself made from page 7.
  auto outer = [&](PageChannel& c) {
    return *c.derived<int>("outer", [&] {
      ++madeOuter;
      const int inner = *c.derived<int>("inner", [&] {
        ++madeInner;
        return int{c.readPage(7)[0]};
      });
      return inner + c.readPage(8)[0];
    });
  };

  const int expected = a.readPage(4)[0] + a.readPage(5)[0];
  EXPECT_EQ(sum(a), expected);
  const int reads = env.reads;
  EXPECT_EQ(sum(a), expected);
  EXPECT_EQ(sum(b), expected) << "the connections share the value";
  EXPECT_EQ(madeSum, 1);
  EXPECT_EQ(env.reads, reads);

  rewrite(b, 6);
  sum(a);
  EXPECT_EQ(madeSum, 1) << "a page the value was not made from changed";
  rewrite(b, 5);
  sum(a);
  EXPECT_EQ(madeSum, 2) << "a page the value was made from changed";

  outer(a);
  rewrite(b, 8);
  outer(a);
  EXPECT_EQ(madeOuter, 2);
  EXPECT_EQ(madeInner, 1);
  rewrite(b, 7);
  outer(a);
  EXPECT_EQ(madeOuter, 3) << "the page of the value it was made with changed";
  EXPECT_EQ(madeInner, 2);

  // Inside a transaction the value is made from the pages as the
  // transaction has them, and not kept.
  {
    WriteTransaction tx(a);
    Page changed = a.readPage(4);
    changed[0] = static_cast<std::uint8_t>(changed[0] + 1);
    a.writePage(4, changed);
    EXPECT_EQ(sum(a), expected + 1);
    EXPECT_EQ(madeSum, 3);
  }
  EXPECT_EQ(sum(a), expected);
  EXPECT_EQ(madeSum, 3) << "what the transaction made was not kept";

  second = OpenDatabaseFile{};
  first = OpenDatabaseFile{};
  EXPECT_TRUE(testutil::fileBytes(db) == original) << "only pages as they stood were committed";
}

// A catalog of many pages: a change rewrites the catalog definition's page
// (its row count) and a page or two of rows. Every row it left as it was is
// still the object decoded before the change, and the change is seen.
TEST(PageCache, CatalogRowsOfPagesAChangeLeftAloneAreKept) {
  TempDir dir;
  const std::string db = dir.copy("sales-manytables.mdb");
  {
    JetDatabase jet(Env::system(), db, false, "zorpelnik");
    const Catalog before = jet.catalog();
    std::map<std::string, const CatalogEntry*> objects;
    for (const CatalogEntry& e : before.entries()) objects[e.name] = &e;

    NewTableDef def{"yeni_tablo", {}};
    NewField no = createField("no", static_cast<int>(FieldType::Long));
    no.attributes = kAutoIncrement;
    def.fields.push_back(no);
    createTable(jet.channel(), def, Env::system().localTime());

    const std::uint64_t decodedBefore = Catalog::rowsDecoded();
    const Catalog after = jet.catalog();
    std::size_t same = 0, redecoded = 0;
    bool found = false;
    for (const CatalogEntry& e : after.entries()) {
      if (e.name == "yeni_tablo") found = true;
      auto it = objects.find(e.name);
      if (it == objects.end()) continue;
      EXPECT_EQ(it->second->id, e.id) << e.name;
      (it->second == &e ? same : redecoded) += 1;
    }
    EXPECT_TRUE(found) << "the new table is in the catalog read after it";
    EXPECT_GT(same, 100u);
    EXPECT_LE(redecoded, 2u) << "rows the change left as they were are no longer the entries they were";
    EXPECT_GT(Catalog::rowsDecoded(), decodedBefore) << "the new row was decoded";
    EXPECT_EQ(after.definition().rowCount(), before.definition().rowCount() + 1);
  }
  testutil::expectIntegrity(db, "zorpelnik", "sales-manytables.mdb");
}

// Within a page a change rewrote, only the rows it changed are decoded
// again: a rename decodes the renamed row (and any it moved), and the
// catalog read after it has the new name and every other row as it was.
TEST(PageCache, OnlyTheRowsAChangeRewroteAreDecodedAgain) {
  TempDir dir;
  const std::string db = dir.copy("sales-manytables.mdb");
  {
    JetDatabase jet(Env::system(), db, false, "zorpelnik");
    const Catalog before = jet.catalog();
    const CatalogEntry* satislar = before.findUserTable("satislar");
    ASSERT_NE(satislar, nullptr);
    std::map<std::int32_t, std::string> names;
    for (const CatalogEntry& e : before.entries()) names[e.id] = e.name;
    const std::int32_t renamedId = satislar->id;

    renameTable(jet.channel(), satislar->tableDefinitionPage(), "satislar_eski_kopya");
    const std::uint64_t decodedBefore = Catalog::rowsDecoded();
    const Catalog after = jet.catalog();
    EXPECT_LE(Catalog::rowsDecoded() - decodedBefore, 2u);

    EXPECT_EQ(after.findUserTable("satislar"), nullptr);
    ASSERT_NE(after.findUserTable("satislar_eski_kopya"), nullptr);
    EXPECT_EQ(after.findUserTable("satislar_eski_kopya")->id, renamedId);
    ASSERT_EQ(after.entries().size(), names.size());
    for (const CatalogEntry& e : after.entries())
      if (e.id != renamedId) {
        EXPECT_EQ(names[e.id], e.name);
      }

    // Read afresh, without the cache, the catalog is the same.
    PageChannel plain(Env::system(), db, true);
    const Catalog fresh = Catalog::read(plain);
    ASSERT_EQ(fresh.entries().size(), after.entries().size());
    for (std::size_t i = 0; i < fresh.entries().size(); ++i) {
      const CatalogEntry& a = fresh.entries()[i];
      const CatalogEntry& b = after.entries()[i];
      EXPECT_EQ(a.name, b.name);
      EXPECT_EQ(a.id, b.id);
      EXPECT_EQ(a.lvProp, b.lvProp) << a.name;
      EXPECT_EQ(a.row.page, b.row.page) << a.name;
      EXPECT_EQ(a.row.row, b.row.row) << a.name;
    }
  }
  testutil::expectIntegrity(db, "zorpelnik", "sales-manytables.mdb");
}

}  // namespace
}  // namespace engine
