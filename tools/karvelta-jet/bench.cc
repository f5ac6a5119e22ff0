// Open-and-catalog cost of the small and the large sales database, and the
// ratio of the two. Opening reads the header and the catalog only, so the
// ratio should stay near 1 however many rows the tables hold.
//
// Also the integrity check (karvelta-jet check) of the sales databases, with
// the pages it reads; it reads every page, so it grows with the file.
//
//   karvelta-jet-bench [FIXTURES_DIR] [benchmark flags]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "engine/env.h"
#include "engine/integrity_check.h"
#include "engine/jet_database.h"

namespace {

std::string gFixtures = KARVELTA_FIXTURES_DIR;

// Counts the bytes read through the files it opens.
class CountingEnv : public engine::EnvWrapper {
 public:
  explicit CountingEnv(engine::Env& inner) : EnvWrapper(inner) {}
  std::uint64_t bytesRead = 0;

  std::unique_ptr<engine::File> open(const std::string& path, engine::OpenMode mode) override {
    class CountingFile : public engine::FileWrapper {
     public:
      CountingFile(std::unique_ptr<engine::File> f, std::uint64_t& n) : FileWrapper(std::move(f)), n_(n) {}
      void read(std::uint64_t offset, std::span<std::uint8_t> out) override {
        n_ += out.size();
        FileWrapper::read(offset, out);
      }

     private:
      std::uint64_t& n_;
    };
    return std::make_unique<CountingFile>(EnvWrapper::open(path, mode), bytesRead);
  }
};

void openAndCatalog(benchmark::State& state, const std::string& file) {
  const std::string path = gFixtures + "/" + file;
  CountingEnv env(engine::Env::system());
  std::size_t tables = 0;
  for (auto _ : state) {
    engine::JetDatabase db(env, path, true, "zorpelnik");
    tables = db.catalog().userTables().size();
    benchmark::DoNotOptimize(tables);
  }
  state.counters["tables"] = static_cast<double>(tables);
  state.counters["KiB_read_per_open"] =
      static_cast<double>(env.bytesRead) / 1024.0 / static_cast<double>(state.iterations());
}

// On a copy in the temporary folder: the check takes the database's lock
// file beside it.
void check(benchmark::State& state, const std::string& file) {
  const std::filesystem::path copy = std::filesystem::temp_directory_path() / ("karvelta-check-bench-" + file);
  std::filesystem::copy_file(gFixtures + "/" + file, copy, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::permissions(copy, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  const std::string path = copy.string();
  CountingEnv env(engine::Env::system());
  std::size_t problems = 0;
  for (auto _ : state) {
    problems = engine::checkDatabaseFile(env, path, "zorpelnik").problems.size();
    benchmark::DoNotOptimize(problems);
  }
  state.counters["problems"] = static_cast<double>(problems);
  state.counters["pages_read_per_check"] = static_cast<double>(env.bytesRead) / 4096.0 /
                                           static_cast<double>(state.iterations());
  std::filesystem::remove(copy);
}

// Keeps the time of each benchmark for the ratio printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> seconds;     // wall clock
  std::map<std::string, double> cpuSeconds;  // processor time
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.run_type != Run::RT_Iteration) continue;
      seconds[r.benchmark_name()] = r.GetAdjustedRealTime();
      cpuSeconds[r.benchmark_name()] = r.GetAdjustedCPUTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && argv[1][0] != '-') {
    gFixtures = argv[1];
    --argc;
    ++argv;
  }
  benchmark::RegisterBenchmark("open_and_catalog/sales-small.mdb", openAndCatalog,
                               std::string("sales-small.mdb"))
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("open_and_catalog/sales-large.mdb", openAndCatalog,
                               std::string("sales-large.mdb"))
      ->Unit(benchmark::kMicrosecond);
  for (const char* file : {"sales-small.mdb", "sales-manytables.mdb", "sales-large.mdb"})
    benchmark::RegisterBenchmark((std::string("check/") + file).c_str(), check, std::string(file))
        ->Unit(benchmark::kMillisecond);
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto ratio = [](const std::map<std::string, double>& times, const char* what) {
    const auto small = times.find("open_and_catalog/sales-small.mdb");
    const auto large = times.find("open_and_catalog/sales-large.mdb");
    if (small != times.end() && large != times.end() && small->second > 0)
      std::printf("open-and-catalog ratio sales-large / sales-small (%s): %.2f\n", what,
                  large->second / small->second);
  };
  ratio(reporter.seconds, "wall clock");
  ratio(reporter.cpuSeconds, "processor time");
  benchmark::Shutdown();
  return 0;
}
