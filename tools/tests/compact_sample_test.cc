// karvelta-jet compact of a bloated sample (new-sample --bloat: dead rows,
// freed long values, emptied index pages, free pages) against its twin (the
// same live content written fresh): the same size within a few pages, the
// same rows, the bloated file's auto-increment counters.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "engine/catalog.h"
#include "engine/compaction.h"
#include "engine/jet_database.h"
#include "engine/long_value.h"
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

}  // namespace
