// karvelta-jet compact of a bloated sample (new-sample --bloat: dead rows,
// freed long values, emptied index pages, free pages) against its twin (the
// same live content written fresh): the same size within a few pages, the
// same rows, the bloated file's auto-increment counters. And the check that
// compaction runs on its result, helped by a second thread, on the long
// values of such a sample.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/catalog.h"
#include "engine/compaction.h"
#include "engine/jet_database.h"
#include "engine/long_value.h"
#include "engine/row.h"
#include "engine/little_endian.h"
#include "engine/tests/integrity_util.h"
#include "engine/value.h"
#include "tools/karvelta-jet/sample_database.h"

namespace {

namespace fs = std::filesystem;
using namespace engine::testutil;

// Each user table's rows as JSON, sorted, and its auto-increment counter.
struct Content {
  std::map<std::string, std::vector<std::string>> rows;
  std::map<std::string, std::uint32_t> counters;
};

Content contentOf(const std::string& path) {
  engine::JetDatabase db(engine::Env::system(), path, true, jettool::kSamplePassword);
  const engine::PageSource pages = engine::pageSourceOf(db.channel());
  Content c;
  for (const engine::JetTable& t : db.tables()) {
    auto& rows = c.rows[t.entry.name];
    db.forEachRow(t.definition, [&](const std::vector<engine::RawValue>& raw) {
      std::string line;
      for (std::size_t i = 0; i < raw.size(); ++i)
        line += engine::toJson(engine::decodeValue(t.definition.columns()[i], raw[i], pages)) + ",";
      rows.push_back(line);
      return true;
    });
    std::sort(rows.begin(), rows.end());
    c.counters[t.entry.name] = t.definition.lastAutoNumber();
  }
  return c;
}

TEST(CompactSample, ABloatedSampleCompactsToTheSizeOfItsTwin) {
  TempDir dir;
  fs::create_directories(dir.path("bloated"));
  fs::create_directories(dir.path("twin"));
  const std::string bloated =
      jettool::writeSample(engine::Env::system(), dir.path("bloated"), 12000, jettool::SampleKind::Bloated);
  const std::string twin =
      jettool::writeSample(engine::Env::system(), dir.path("twin"), 12000, jettool::SampleKind::Twin);
  const std::string target = dir.path("compacted.mdb");
  const auto bloatedBytes = fileBytes(bloated);
  const engine::CompactionResult r =
      engine::compactDatabase(engine::Env::system(), bloated, target, jettool::kSamplePassword);
  EXPECT_EQ(fileBytes(bloated), bloatedBytes);
  const auto twinPages = static_cast<std::int64_t>(fs::file_size(twin) / engine::kPageSize);
  EXPECT_LT(r.targetPages, r.sourcePages * 4 / 5);
  // No larger than the twin (whose index pages are half full after splits),
  // and within a few pages of it.
  EXPECT_LE(static_cast<std::int64_t>(r.targetPages), twinPages) << twinPages << " pages in the twin";
  EXPECT_GE(static_cast<std::int64_t>(r.targetPages), twinPages - 4) << twinPages << " pages in the twin";
  expectIntegrity(target, jettool::kSamplePassword);

  const Content before = contentOf(bloated), after = contentOf(target), fresh = contentOf(twin);
  EXPECT_EQ(after.rows, fresh.rows);
  EXPECT_EQ(after.rows, before.rows);
  // The numbers of cancelled receipts stay used up.
  EXPECT_EQ(after.counters, before.counters);
  EXPECT_NE(after.counters, fresh.counters);
  if (readersAvailable())
    expectReadersRead(target, jettool::kSamplePassword, "--same-as '" + bloated + "'");
}

// A second thread screening the data pages follows long values on LVAL
// pages (single rows and chains) as the check on one thread does: on a
// bloated sample, sound and with damage in its data and LVAL pages, the
// report is the same with help and without.
TEST(CompactSample, HelpFromASecondThreadChecksLongValuesAsOneThreadDoes) {
  TempDir dir;
  fs::create_directories(dir.path("bloated"));
  const std::string bloated =
      jettool::writeSample(engine::Env::system(), dir.path("bloated"), 3000, jettool::SampleKind::Bloated);
  const auto bytes = fileBytes(bloated);
  const std::string path = dir.path("damaged.mdb");
  // The damage goes to data pages, where the screening works, and to the
  // heads of LVAL pages (mark, row count, row pointers), which it reads.
  std::vector<std::size_t> dataPages, longValuePages;
  for (std::size_t p = 1; p < bytes.size() / engine::kPageSize; ++p) {
    const std::uint8_t* page = bytes.data() + p * engine::kPageSize;
    if (page[0] != 0x01) continue;
    (std::equal(page + 4, page + 8, "LVAL") ? longValuePages : dataPages).push_back(p);
  }
  ASSERT_FALSE(longValuePages.empty());
  std::mt19937 random(20261209);
  int unsound = 0;
  for (int round = 0; round < 100; ++round) {
    auto damaged = bytes;
    for (int k = 0; k < (round == 0 ? 0 : 1 + round % 3); ++k) {
      const bool head = k % 2 == 0;
      const std::vector<std::size_t>& pages = head ? longValuePages : dataPages;
      damaged[pages[random() % pages.size()] * engine::kPageSize + random() % (head ? 40 : engine::kPageSize)] =
          static_cast<std::uint8_t>(random());
    }
    writeBytes(path, damaged);
    const std::string alone = checkedInWords(path, jettool::kSamplePassword, false);
    EXPECT_EQ(checkedInWords(path, jettool::kSamplePassword, true), alone) << "round " << round;
    if (round == 0) {
      EXPECT_EQ(alone.find("page "), std::string::npos) << alone;
    }
    if (alone.find("page ") != std::string::npos) ++unsound;
  }
  EXPECT_GT(unsound, 30);

  // A value on a page the second thread screens made to share the LVAL row
  // of a value on a page before them: the check tells at the later value.
  engine::JetDatabase db(engine::Env::system(), bloated, true, jettool::kSamplePassword);
  const engine::TableDefinition satislar = db.table("satislar").value().definition;
  const std::uint32_t satislarPage = satislar.page();
  const engine::Column* memo = satislar.findColumn("aciklama");
  ASSERT_NE(memo, nullptr);
  std::vector<std::size_t> headers;  // of values on one LVAL row each, by place in the file
  for (std::size_t p : dataPages) {
    const std::span<const std::uint8_t> page(bytes.data() + p * engine::kPageSize, engine::kPageSize);
    if (engine::get32(page, 4) != satislarPage) continue;
    for (std::size_t r = 0; r < engine::get16(page, 12); ++r) {
      const std::size_t raw = engine::get16(page, 14 + 2 * r);
      const std::size_t end = r == 0 ? engine::kPageSize : engine::get16(page, 14 + 2 * (r - 1)) & 0x1FFF;
      if ((raw & 0xC000) != 0) continue;  // deleted or moved
      const engine::RawValue v = engine::RowValues(page.subspan(raw, end - raw)).value(*memo);
      if (v.kind == engine::RawValue::Kind::Bytes && v.bytes.size() == engine::kLongValueHeaderSize &&
          v.bytes[3] == 0x40)
        headers.push_back(static_cast<std::size_t>(v.bytes.data() - bytes.data()));
    }
  }
  ASSERT_GT(headers.size(), 10u);
  auto shared = bytes;
  const std::size_t early = headers[1], late = headers[headers.size() * 9 / 10];
  std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(early), bytes.begin() + static_cast<std::ptrdiff_t>(early) + 12,
            shared.begin() + static_cast<std::ptrdiff_t>(late));
  writeBytes(path, shared);
  const std::string alone = checkedInWords(path, jettool::kSamplePassword, false);
  EXPECT_NE(alone.find("serves two values"), std::string::npos) << alone;
  EXPECT_EQ(checkedInWords(path, jettool::kSamplePassword, true), alone);
}

}  // namespace
