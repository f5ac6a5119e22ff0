#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "engine/byte_reader.h"
#include "engine/catalog.h"
#include "engine/data_page.h"
#include "engine/error.h"
#include "engine/index_key.h"
#include "engine/index_page.h"
#include "engine/integrity_check.h"
#include "engine/jet_database.h"
#include "engine/little_endian.h"
#include "engine/long_value.h"
#include "engine/table_definition.h"
#include "engine/testing/interrupted_change.h"
#include "engine/tests/catalog_write_util.h"
#include "engine/tests/integrity_util.h"
#include "engine/usage_map.h"

namespace engine {
namespace {

using namespace testutil;

std::string lines(const IntegrityReport& report) {
  std::string out;
  for (const IntegrityProblem& p : report.problems) out += formatProblem(p) + "\n";
  return out;
}

// A copy of a fixture whose bytes a test damages, then checks.
class Damaged {
 public:
  explicit Damaged(const std::string& fixture, std::string password = kSalesPassword)
      : path_(dir_.copy(fixture)), password_(std::move(password)), bytes_(fileBytes(path_)) {}

  const std::string& path() const { return path_; }
  std::span<std::uint8_t> page(std::uint32_t n) {
    return std::span<std::uint8_t>(bytes_).subspan(std::size_t{n} * kPageSize, kPageSize);
  }
  // The table's definition, read from the undamaged copy.
  TableDefinition definition(const std::string& table) {
    JetDatabase db(Env::system(), path_, true, password_);
    return db.table(table).value().definition;
  }
  // The bytes of row `row` on page n, by its pointers.
  std::span<std::uint8_t> row(std::uint32_t n, std::uint16_t row) {
    auto p = page(n);
    std::size_t start = get16(p, 14 + 2 * std::size_t{row}) & 0x1FFF;
    std::size_t end = row == 0 ? kPageSize : get16(p, 14 + 2 * std::size_t{row - 1u}) & 0x1FFF;
    return p.subspan(start, end - start);
  }
  // Decodes index page n, lets `change` alter it, and encodes it back.
  void rewriteIndexPage(std::uint32_t n, const std::function<void(IndexPage&)>& change) {
    Page p{};
    std::copy(page(n).begin(), page(n).end(), p.begin());
    IndexPage decoded = IndexPage::decode(p, n);
    change(decoded);
    p = decoded.encode();
    std::copy(p.begin(), p.end(), page(n).begin());
  }
  // Appends a copy of page n; returns the new page's number.
  std::uint32_t appendCopyOf(std::uint32_t n) {
    const std::vector<std::uint8_t> copy(page(n).begin(), page(n).end());
    bytes_.insert(bytes_.end(), copy.begin(), copy.end());
    return static_cast<std::uint32_t>(bytes_.size() / kPageSize - 1);
  }
  // Sets or clears the bit of `page` in the usage map at ref, inline or
  // page-indirect.
  void setMapBit(UsageMapRef ref, std::uint32_t page, bool on) {
    auto map = row(ref.page, ref.row);
    std::span<std::uint8_t> bits;
    std::uint32_t bit = 0;
    if (map[0] == 0) {
      bits = map.subspan(5);
      bit = page - get32(map, 1);
    } else {
      constexpr std::uint32_t perPage = (kPageSize - 4) * 8;
      bits = this->page(get32(map, 1 + 4 * std::size_t{page / perPage})).subspan(4);
      bit = page % perPage;
    }
    ASSERT_LT(bit / 8, bits.size());
    std::uint8_t& b = bits[bit / 8];
    b = static_cast<std::uint8_t>(on ? b | 1u << (bit % 8) : b & ~(1u << (bit % 8)));
  }
  IntegrityReport check() {
    writeBytes(path_, bytes_);
    return checkDatabaseFile(Env::system(), path_, password_);
  }

 private:
  TempDir dir_;
  std::string path_;
  std::string password_;
  std::vector<std::uint8_t> bytes_;
};

void expectProblem(const IntegrityReport& report, const std::string& part) {
  const std::string all = lines(report);
  EXPECT_NE(all.find(part), std::string::npos) << "no problem with '" << part << "' in:\n" << all;
}

// The first page a table's owned-pages map lists.
std::uint32_t firstDataPage(const std::string& path, const std::string& table) {
  JetDatabase db(Env::system(), path, true, kSalesPassword);
  return UsageMap::read(db.channel(), db.table(table).value().definition.ownedPages()).pages().at(0);
}

TEST(IntegrityCheck, EveryJet4FixturePasses) {
  for (const char* fixture :
       {"access2000-blank.mdb", "compIndexTestV2000.mdb", "delColTestV2000.mdb", "overflowTestV2000.mdb",
        "sales-large.mdb", "sales-manytables.mdb", "sales-nofisno.mdb", "sales-nopass.mdb",
        "sales-small.mdb", "sales-updated.mdb", "testV2000.mdb"}) {
    TempDir dir;
    const IntegrityReport report = checkDatabaseFile(Env::system(), dir.copy(fixture), kSalesPassword);
    EXPECT_TRUE(report.sound()) << fixture << ":\n" << lines(report);
  }
  TempDir dir;
  EXPECT_TRUE(checkDatabaseFile(Env::system(), dir.copy("sales-otherpass.mdb"), "baska").sound());
}

TEST(IntegrityCheck, OtherFormatsAndWrongPasswordsAreRefused) {
  TempDir dir;
  EXPECT_THROW(checkDatabaseFile(Env::system(), dir.copy("testV1997.mdb"), ""), Error);
  EXPECT_THROW(checkDatabaseFile(Env::system(), dir.copy("testV2007.accdb"), ""), Error);
  EXPECT_THROW(checkDatabaseFile(Env::system(), dir.copy("sales-small.mdb"), "yanlis"), Error);
  EXPECT_THROW(checkDatabaseFile(Env::system(), dir.path("missing.mdb"), ""), Error);
}

// Access lets these counts drift; the Jackcess-made files keep them exact.
TEST(IntegrityCheck, CountsAccessLeftApproximateAreDriftsNotProblems) {
  TempDir dir;
  const Drifts testV2000 = driftsOf(checkDatabaseFile(Env::system(), dir.copy("testV2000.mdb"), ""));
  EXPECT_EQ(testV2000, (Drifts{{{3, "rows"}, -3}, {{3, "distinct keys of index ObjectId"}, -1}}));
  const Drifts overflow =
      driftsOf(checkDatabaseFile(Env::system(), dir.copy("overflowTestV2000.mdb"), ""));
  EXPECT_EQ(overflow, (Drifts{{{2, "distinct keys of index ParentIdName"}, 1},
                              {{2, "distinct keys of index Id"}, 1},
                              {{3, "distinct keys of index ObjectId"}, 1}}));
  for (const char* fixture : {"sales-small.mdb", "sales-large.mdb", "sales-manytables.mdb"})
    EXPECT_TRUE(checkDatabaseFile(Env::system(), dir.copy(fixture), kSalesPassword).drifts.empty())
        << fixture;
}

// Damage no reader reports: they scan tables and never look at index order,
// counts or the global map.
TEST(IntegrityCheck, FindsDamageTheReadersDoNotNotice) {
  {
    SCOPED_TRACE("two index entries swapped");
    Damaged db("sales-small.mdb");
    const std::uint32_t leaf = db.definition("urunler").realIndexes().at(0).firstPage;
    db.rewriteIndexPage(leaf, [](IndexPage& p) { std::swap(p.entries[3], p.entries[4]); });
    expectProblem(db.check(), "page " + std::to_string(leaf) +
                                  ", table urunler: index PrimaryKey: entry 4 is not above the entry before it");
  }
  {
    SCOPED_TRACE("the rows of two entries swapped");
    Damaged db("sales-small.mdb");
    const std::uint32_t leaf = db.definition("urunler").realIndexes().at(0).firstPage;
    db.rewriteIndexPage(leaf, [](IndexPage& p) {
      std::swap_ranges(p.entries[3].end() - 4, p.entries[3].end(), p.entries[4].end() - 4);
    });
    expectProblem(db.check(), "index PrimaryKey: entry 3 does not hold the key of the row it names");
  }
  {
    SCOPED_TRACE("a bit of a table's owned-pages map cleared");
    Damaged db("sales-small.mdb");
    const TableDefinition d = db.definition("satislar");
    const std::uint32_t data = firstDataPage(db.path(), "satislar");
    db.setMapBit(d.ownedPages(), data, false);
    const IntegrityReport report = db.check();
    expectProblem(report, "page " + std::to_string(data) +
                              ", table satislar: a data page of the table is not in its owned-pages map");
    expectProblem(report, "table satislar: the definition counts 40 rows, the table holds");
  }
  {
    SCOPED_TRACE("a row count off by one");
    Damaged db("sales-small.mdb");
    const std::uint32_t tdef = db.definition("fisno").page();
    put32(db.page(tdef), TableDefinition::kRowCountOffset, 6);
    expectProblem(db.check(), "page " + std::to_string(tdef) +
                                  ", table fisno: the definition counts 6 rows, the table holds 5");
  }
  {
    SCOPED_TRACE("a page in use marked free");
    Damaged db("sales-small.mdb");
    const std::uint32_t data = firstDataPage(db.path(), "fisno");
    db.setMapBit(UsageMapRef{0, 1}, data, true);
    expectProblem(db.check(), "page " + std::to_string(data) +
                                  ", table fisno: the global usage map marks the page free, but it is a "
                                  "data page of table fisno");
  }
  for (const char* what : {"index", "data"}) {
    SCOPED_TRACE(std::string("an appended ") + what + " page marked in use that nothing reaches");
    Damaged db("sales-small.mdb");
    const std::uint32_t from = std::string(what) == "index"
                                   ? db.definition("urunler").realIndexes().at(0).firstPage
                                   : firstDataPage(db.path(), "fisno");
    const std::uint32_t added = db.appendCopyOf(from);
    db.setMapBit(UsageMapRef{0, 1}, added, false);
    expectProblem(db.check(),
                  "page " + std::to_string(added) +
                      (std::string(what) == "index"
                           ? ": the global usage map marks the index leaf page in use, but nothing uses it"
                           : ", table fisno: a data page of the table is not in its owned-pages map"));
  }
}

// The memo of 5321 characters in satislar is a chain of long-value rows.
struct Chain {
  RowId head;
  std::uint32_t length = 0;
};
Chain chainedMemo(const std::string& path) {
  JetDatabase db(Env::system(), path, true, kSalesPassword);
  const TableDefinition d = db.table("satislar").value().definition;
  const auto& cols = d.columns();
  const auto memo = static_cast<std::size_t>(
      std::find_if(cols.begin(), cols.end(), [](const Column& c) { return c.type == kTypeMemo; }) -
      cols.begin());
  Chain found;
  db.forEachRow(d, [&](const std::vector<RawValue>& values) {
    if (values[memo].isNull()) return true;
    const LongValueHeader h = parseLongValueHeader(values[memo].bytes);
    if (h.flags != kLongValueChain) return true;
    found = Chain{RowId{h.page, h.row}, h.length};
    return false;
  });
  return found;
}

// sales-manytables' name index: root node 7 with entries for leaves 601,
// 262 and 470, tail 261; leaves linked 601 -> 262 -> 470 -> 261.
TEST(IntegrityCheck, FindsDamageInIndexesOverSeveralPages) {
  const std::string at = ", table MSysObjects: index ParentIdName: ";
  {
    SCOPED_TRACE("entries swapped across two leaves");
    Damaged db("sales-manytables.mdb");
    IndexEntry last, first;
    db.rewriteIndexPage(601, [&](IndexPage& p) { last = p.entries.back(); });
    db.rewriteIndexPage(262, [&](IndexPage& p) {
      first = p.entries.front();
      p.entries.front() = last;
    });
    db.rewriteIndexPage(601, [&](IndexPage& p) { p.entries.back() = first; });
    const IntegrityReport report = db.check();
    expectProblem(report, "page 262" + at + "the first entry is not above the last entry of the page before it");
    expectProblem(report, "page 7" + at + "entry 0 differs from the last entry of its child page 601");
  }
  {
    SCOPED_TRACE("a broken link between leaves");
    Damaged db("sales-manytables.mdb");
    db.rewriteIndexPage(470, [](IndexPage& p) { p.next = 0; });
    expectProblem(db.check(), "page 470" + at + "its next page is 0, not page 261");
  }
  {
    SCOPED_TRACE("a node entry dropped");
    Damaged db("sales-manytables.mdb");
    db.rewriteIndexPage(7, [](IndexPage& p) {
      p.entries.erase(p.entries.begin() + 1);
      p.children.erase(p.children.begin() + 1);
    });
    const IntegrityReport report = db.check();
    expectProblem(report, "page 601" + at + "its next page is 262, not page 470");
    expectProblem(report, "page 262" + at + "the index's usage map lists page 262, which the index does not use");
    expectProblem(report, "page 7, table MSysObjects: index ParentIdName lacks the entries of 71 rows");
  }
  {
    SCOPED_TRACE("a leaf of another index as a child");
    Damaged db("sales-manytables.mdb");
    db.rewriteIndexPage(7, [](IndexPage& p) { p.tail = 239; });  // a leaf of MSysACEs' index
    expectProblem(db.check(), "page 239" + at + "page 239 belongs to the table at page 3, not to page 2");
  }
}

TEST(IntegrityCheck, FindsBrokenLongValues) {
  {
    SCOPED_TRACE("a chain cut short");
    Damaged db("sales-small.mdb");
    const Chain c = chainedMemo(db.path());
    ASSERT_NE(c.head.page, 0u);
    put32(db.row(c.head.page, c.head.row), 0, 0);
    expectProblem(db.check(), "table satislar: the value of column 'aciklama' in row");
  }
  {
    SCOPED_TRACE("a chain that loops");
    Damaged db("sales-small.mdb");
    const Chain c = chainedMemo(db.path());
    put32(db.row(c.head.page, c.head.row), 0, c.head.page << 8 | c.head.row);
    expectProblem(db.check(), "serves two values");
  }
  {
    SCOPED_TRACE("a long-value row that serves no value");
    Damaged db("sales-small.mdb");
    const Chain c = chainedMemo(db.path());
    // The chain's second row, no longer reached.
    auto head = db.row(c.head.page, c.head.row);
    const std::uint32_t next = get32(head, 0);
    put32(head, 0, 0);
    expectProblem(db.check(), "page " + std::to_string(next >> 8) + ", table satislar: long-value row " +
                                  std::to_string(next & 0xFF) + " is live but serves no value");
  }
}

TEST(IntegrityCheck, FindsCatalogAndDefinitionDamage) {
  {
    SCOPED_TRACE("a table whose catalog row names a data page");
    Damaged db("sales-small.mdb");
    const TableDefinition d = db.definition("fisno");
    const std::uint32_t data = firstDataPage(db.path(), "fisno");
    // The definition page turned into a copy of a data page.
    Page copy{};
    std::copy(db.page(data).begin(), db.page(data).end(), copy.begin());
    std::copy(copy.begin(), copy.end(), db.page(d.page()).begin());
    expectProblem(db.check(), "table fisno: the catalog row names page " + std::to_string(d.page()) +
                                  " as the table's definition, a data page");
  }
  {
    SCOPED_TRACE("a data page claimed by two tables");
    Damaged db("sales-small.mdb");
    const TableDefinition fisno = db.definition("fisno");
    const std::uint32_t satislar = firstDataPage(db.path(), "satislar");
    db.setMapBit(fisno.ownedPages(), satislar, true);
    expectProblem(db.check(), "page " + std::to_string(satislar) +
                                  ", table fisno: the owned-pages map lists a data page of the definition at");
  }
  {
    SCOPED_TRACE("a row pointer past the end of its page, which the next row ends at");
    Damaged db("sales-small.mdb");
    const std::uint32_t data = firstDataPage(db.path(), "fisno");
    ASSERT_GE(get16(db.page(data), DataPage::kRowCountOffset), 2);
    put16(db.page(data), DataPage::kFirstRowPointer, 0x1F00);
    const IntegrityReport report = db.check();
    expectProblem(report, "page " + std::to_string(data) + ", table fisno: row 0 has bad bounds");
    expectProblem(report, "page " + std::to_string(data) + ", table fisno: row 1 has bad bounds");
  }
  {
    SCOPED_TRACE("a data page's free-space field");
    Damaged db("sales-small.mdb");
    const std::uint32_t data = firstDataPage(db.path(), "fisno");
    put16(db.page(data), 2, get16(db.page(data), 2) + 1);
    expectProblem(db.check(), "page " + std::to_string(data) + ", table fisno: the free-space field says");
  }
  {
    SCOPED_TRACE("a definition's length and free space");
    Damaged db("sales-small.mdb");
    const std::uint32_t tdef = db.definition("fisno").page();
    put32(db.page(tdef), TableDefinition::kLengthOffset, get32(db.page(tdef), TableDefinition::kLengthOffset) + 2);
    const IntegrityReport report = db.check();
    expectProblem(report, "page " + std::to_string(tdef) + ", table fisno: the definition's length says");
    expectProblem(report, "the definition page's free-space field says");
  }
  {
    SCOPED_TRACE("an auto-number counter behind the numbers in use");
    Damaged db("sales-small.mdb");
    const std::uint32_t tdef = db.definition("fisno").page();
    put32(db.page(tdef), TableDefinition::kAutoNumberOffset, 4);
    expectProblem(db.check(), "table fisno: column 'no' holds 5, above the auto-number counter 4");
  }
}

// A hostile file gives problems or an Error, never a crash (the sanitizer
// build runs this too).
TEST(IntegrityCheck, DamagedBytesGiveProblemsOrAnError) {
  TempDir dir;
  const std::string original = dir.copy("sales-small.mdb");
  const std::vector<std::uint8_t> bytes = fileBytes(original);
  const std::string path = dir.path("damaged.mdb");
  std::mt19937 random(20261207);
  int problems = 0;
  for (int round = 0; round < 300; ++round) {
    std::vector<std::uint8_t> damaged = bytes;
    // A few bytes somewhere past the header page.
    for (int k = 0; k < 1 + round % 4; ++k) {
      const std::size_t at = kPageSize + random() % (damaged.size() - kPageSize);
      damaged[at] = static_cast<std::uint8_t>(random());
    }
    writeBytes(path, damaged);
    try {
      if (!checkDatabaseFile(Env::system(), path, kSalesPassword).sound()) ++problems;
    } catch (const Error&) {
      ++problems;
    }
    EXPECT_EQ(fileBytes(path), damaged) << "round " << round;
  }
  // About a third of the bytes hit structure; the others hit values and
  // unused space, which no check can tell from the real thing.
  EXPECT_GT(problems, 60);
  // Cut to part of its pages.
  for (std::size_t pages : {3u, 8u, 20u, 40u}) {
    writeBytes(path, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(pages * kPageSize)));
    try {
      EXPECT_FALSE(checkDatabaseFile(Env::system(), path, kSalesPassword).sound()) << pages;
    } catch (const Error&) {
    }
  }
}

// A second thread's screening changes nothing of a report: on copies of
// fixtures with many data pages and with indexes over several pages, sound
// and damaged, a check helped on every table of two data pages or more
// reports what a check on one thread reports, in the same order.
TEST(IntegrityCheck, HelpFromASecondThreadChangesNothingOfTheReport) {
  std::mt19937 random(20261209);
  struct Case {
    const char* fixture;
    std::string password;
    int rounds;
  };
  for (const Case& c : {Case{"sales-large.mdb", kSalesPassword, 25}, Case{"compIndexTestV2000.mdb", "", 120},
                        Case{"sales-small.mdb", kSalesPassword, 120}}) {
    TempDir dir;
    const std::string path = dir.copy(c.fixture);
    const std::vector<std::uint8_t> bytes = fileBytes(path);
    int unsound = 0;
    for (int round = 0; round < c.rounds; ++round) {
      std::vector<std::uint8_t> damaged = bytes;
      for (int k = 0; k < (round == 0 ? 0 : 1 + round % 4); ++k)
        damaged[kPageSize + random() % (damaged.size() - kPageSize)] = static_cast<std::uint8_t>(random());
      writeBytes(path, damaged);
      const std::string alone = checkedInWords(path, c.password, false);
      EXPECT_EQ(checkedInWords(path, c.password, true), alone) << c.fixture << ", round " << round;
      if (round == 0) {
        EXPECT_TRUE(lines(checkIntegrity(*PageChannel::forOnePass(Env::system(), path))).empty());
      }
      if (alone.find("page ") != std::string::npos) ++unsound;
    }
    // Enough of the damage is found for the comparison to mean something.
    EXPECT_GT(unsound, c.rounds / 5) << c.fixture;
  }

  // Damage of each kind the screening must leave to the check, on the pages
  // the second thread screens, and with it damage on a page before them.
  std::vector<std::uint32_t> data;
  std::uint32_t definitionPage = 0;
  {
    Damaged large("sales-large.mdb");
    const TableDefinition satislar = large.definition("satislar");
    definitionPage = satislar.page();
    const UsageMap owned = UsageMap::read(*PageChannel::forOnePass(Env::system(), large.path()), satislar.ownedPages());
    for (std::uint32_t p : owned.pages())
      if (large.page(p)[0] == 0x01 && get32(large.page(p), 4) == definitionPage) data.push_back(p);
  }
  ASSERT_GT(data.size(), 100u);
  const std::uint32_t early = data[data.size() / 10], late = data[data.size() * 3 / 4];
  const std::vector<std::function<void(Damaged&)>> harms = {
      [&](Damaged& d) { d.page(late)[2] ^= 0x01; },              // the free-space field
      [&](Damaged& d) { d.row(late, 3)[0] = 0xFF; },              // a row counting too many columns
      [&](Damaged& d) { d.page(late)[14 + 2 * 3 + 1] |= 0x40; },  // a row flagged as moved
      [&](Damaged& d) { d.page(late)[14 + 2 * 3 + 1] |= 0x1F; },  // a row outside its page
      [&](Damaged& d) { d.row(late, 5)[d.row(late, 5).size() - 4] = 0xF0; },  // a variable offset
      [&](Damaged& d) { put32(d.row(late, 4), 2, 0x7FFFFFFF); },  // an auto number above the counter
      [&](Damaged& d) {
        d.page(early)[2] ^= 0x01;
        d.row(late, 2)[0] = 0xFF;
      },
  };
  for (std::size_t i = 0; i < harms.size(); ++i) {
    Damaged d("sales-large.mdb");
    harms[i](d);
    const std::string checked = lines(d.check());
    const std::string alone = checkedInWords(d.path(), kSalesPassword, false);
    EXPECT_NE(alone.find("page "), std::string::npos) << "harm " << i << " is not found";
    EXPECT_EQ(alone.substr(0, checked.size()), checked) << "harm " << i;
    EXPECT_EQ(checkedInWords(d.path(), kSalesPassword, true), alone) << "harm " << i;
  }

  // A page that cannot be read on the check's own thread, in a chunk it
  // checks itself, while the second thread screens: the same Error, and the
  // second thread stops.
  class FailingFile final : public FileWrapper {
   public:
    FailingFile(std::unique_ptr<File> file, std::uint32_t bad) : FileWrapper(std::move(file)), bad_(bad) {}
    void read(std::uint64_t offset, std::span<std::uint8_t> out) override {
      if (offset == std::uint64_t{bad_} * kPageSize && out.size() == kPageSize) throw Error("the disk failed");
      FileWrapper::read(offset, out);
    }

   private:
    std::uint32_t bad_;
  };
  TempDir dir;
  const std::string path = dir.copy("sales-large.mdb");
  for (const std::uint32_t bad : {data[2 * 64 + 5], data[4 * 64]}) {
    const auto run = [&](bool helped) -> std::string {
      try {
        PageChannel channel(Env::system(), path,
                            std::make_unique<FailingFile>(Env::system().open(path, OpenMode::ReadOnly), bad), true);
        CheckHelp help;
        if (helped) help.opener = [&path] { return PageChannel::forOnePass(Env::system(), path); };
        checkIntegrity(channel, help);
        return "no error";
      } catch (const Error& e) {
        return e.what();
      }
    };
    EXPECT_EQ(run(false), "the disk failed");
    EXPECT_EQ(run(true), "the disk failed");
  }
}

TEST(IntegrityCheck, OnlyReads) {
  TempDir dir;
  const std::string path = dir.copy("sales-small.mdb");
  std::filesystem::permissions(path, std::filesystem::perms::owner_read);
  EXPECT_TRUE(checkDatabaseFile(Env::system(), path, kSalesPassword).sound());
  EXPECT_EQ(fileBytes(path), fileBytes(std::string(KARVELTA_FIXTURES_DIR) + "/sales-small.mdb"));
}

// A half-written file is reported, not rolled back: the database and its
// journal stay as they are.
TEST(IntegrityCheck, RefusesBesideARollbackJournalAndLeavesItThere) {
  TempDir dir;
  const std::string path = dir.copy("sales-small.mdb");
  ASSERT_TRUE(testing::leaveInterruptedChange(path, [&](Env& env) {
    JetDatabase db(env, path, false, kSalesPassword);
    WriteTransaction tx(db.channel());
    Page p = db.channel().readPage(14);
    p[100] ^= 0xFF;
    db.channel().writePage(14, p);
    tx.commit();
  }));
  const std::string journal = PageChannel::journalPath(path);
  const auto before = fileBytes(path);
  const auto journalBefore = fileBytes(journal);
  try {
    checkDatabaseFile(Env::system(), path, kSalesPassword);
    ADD_FAILURE() << "checked beside a journal";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("rollback journal"), std::string::npos) << e.what();
  }
  EXPECT_EQ(fileBytes(path), before);
  EXPECT_EQ(fileBytes(journal), journalBefore);
}

TEST(IntegrityCheck, RefusesADatabaseAnotherProgramHasOpen) {
  TempDir dir;
  const std::string path = dir.copy("sales-small.mdb");
  OtherProcessLock other(path);
  EXPECT_THROW(checkDatabaseFile(Env::system(), path, kSalesPassword), Error);
}

TEST(IntegrityCheck, ProblemLines) {
  EXPECT_EQ(formatProblem({26u, "satislar", "x"}), "page 26, table satislar: x");
  EXPECT_EQ(formatProblem({1u, "", "x"}), "page 1: x");
  EXPECT_EQ(formatProblem({std::nullopt, "fisno", "x"}), "table fisno: x");
}

}  // namespace
}  // namespace engine
