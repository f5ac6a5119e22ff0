// The benchmark table of scripts/bench.sh: figures measured side by side in
// one run, each in a process of its own (time by the wall clock, peak memory
// by the child's maximum resident set):
//   - the whole update run of the window model on samples of 1 000, 100 000
//     and 1 000 000 sales rows, and on the sales test databases of
//     --fixtures DIR (sales-small, sales-large, sales-manytables): time,
//     processor time, and per operation that changed the file the processor
//     time, flushes and pages read, with how many of the pages read are data
//     pages of the user tables and how many pages the file grew by;
//   - the catalog listing with every table's columns, karvelta-jet schema
//     against mdb-schema on the sales test databases (best of 10);
//   - opening and listing the catalog of the largest sample against mdb-tables;
//   - reading every row of satislar: karvelta-jet rows against mdb-export;
//   - YEDEK AL of a database of several hundred MiB against cp of the file;
//   - karvelta-jet compact of sales-large.mdb and of a bloated sample of about
//     1 GiB (new-sample --bloat of --compact-rows sales, 3 000 000) against cp
//     followed by sync of the same file, with peak memory.
//
//   karvelta-bench DATA_DIR KARVELTA_JET BACKUP_BENCH [--sizes N,N,...] [--backup-rows N]
//                  [--fixtures DIR] [--compact-rows N] [--only-compaction]
//
// DATA_DIR caches the samples between runs (made with new-sample's code).
#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/engine.h"
#include "engine/env.h"
#include "engine/error.h"
#include "engine/catalog.h"
#include "engine/index_tree.h"
#include "engine/jet_database.h"
#include "engine/page_channel.h"
#include "engine/table_definition.h"
#include "engine/usage_map.h"
#include "schema/schema.h"
#include "tools/karvelta-jet/sample_database.h"
#include "window/model.h"

namespace {

namespace fs = std::filesystem;

// --- the update run in a child process ---------------------------------------

// Processor time of the calling thread, exact (the run is one thread).
double threadProcessorSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Counts the pages read from one database file and which of them are data
// pages of user tables.
class CountingEnv final : public engine::EnvWrapper {
 public:
  CountingEnv(engine::Env& inner, std::string db, std::vector<bool> userPages)
      : EnvWrapper(inner),
        db_(std::move(db)),
        dbNormal_(fs::path(db_).lexically_normal()),
        journal_(engine::PageChannel::journalPath(db_)),
        userPages_(std::move(userPages)) {}

  std::uint64_t pageReads = 0;
  std::uint64_t userPageReads = 0;
  std::uint64_t changes = 0;  // operations that changed the file: one flush of the journal each
  std::uint64_t flushes = 0;  // of any file or directory
  std::uint64_t pageWrites = 0;  // pages written to the database file itself
  double flushSeconds = 0;  // processor time spent inside the flushes

  std::unique_ptr<engine::File> open(const std::string& path, engine::OpenMode mode) override {
    // The names compared as they come first: the counting is the
    // benchmark's, and its processor time is counted with the run's.
    auto f = std::make_unique<CountingFile>(EnvWrapper::open(path, mode), *this, false);
    f->journal = path == journal_;
    f->counted = path == db_ || (!f->journal && fs::path(path).lexically_normal() == dbNormal_);
    return f;
  }
  void syncDirectory(const std::string& dir) override {
    ++flushes;
    const double before = threadProcessorSeconds();
    EnvWrapper::syncDirectory(dir);
    flushSeconds += threadProcessorSeconds() - before;
  }

 private:
  class CountingFile final : public engine::FileWrapper {
   public:
    CountingFile(std::unique_ptr<engine::File> f, CountingEnv& env, bool countReads)
        : FileWrapper(std::move(f)), counted(countReads), env_(env) {}
    bool counted;
    bool journal = false;
    void sync() override {
      ++env_.flushes;
      if (journal) ++env_.changes;
      const double before = threadProcessorSeconds();
      FileWrapper::sync();
      env_.flushSeconds += threadProcessorSeconds() - before;
    }
    void read(std::uint64_t offset, std::span<std::uint8_t> out) override {
      if (counted)
        for (std::uint64_t p = offset / engine::kPageSize; p * engine::kPageSize < offset + out.size(); ++p) {
          ++env_.pageReads;
          if (p < env_.userPages_.size() && env_.userPages_[p]) ++env_.userPageReads;
        }
      FileWrapper::read(offset, out);
    }
    void write(std::uint64_t offset, std::span<const std::uint8_t> data) override {
      if (counted)
        for (std::uint64_t p = offset / engine::kPageSize; p * engine::kPageSize < offset + data.size(); ++p)
          ++env_.pageWrites;
      FileWrapper::write(offset, data);
    }

   private:
    CountingEnv& env_;
  };

  std::string db_;
  fs::path dbNormal_;
  std::string journal_;
  std::vector<bool> userPages_;
};

class SilentMessages final : public window::MessageService {
 public:
  void show(const std::string& text) override { shown.push_back(text); }
  std::vector<std::string> shown;
};

long peakKiB() {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

// This process's processor time so far, in user mode and in the kernel (the
// system calls, the flushes' work included), in seconds.
double processorSeconds() {
  rusage self{};
  getrusage(RUSAGE_SELF, &self);
  auto secondsOf = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return secondsOf(self.ru_utime) + secondsOf(self.ru_stime);
}

// Child: runs the update run over the database named in dir/PLX.dll and
// prints "seconds pageReads userDataPageReads peakKiB ok cpuSeconds flushes
// changes pageWrites flushSeconds" (changes: the operations
// that changed the file; pageWrites: pages written to the database, not to
// its journal; flushSeconds: the processor time spent inside the flushes):
// the processor time is that of the run alone, without the start of the process and the survey of the user tables' pages before it.
int updateRunChild(const std::string& dir, const std::string& db) {
  std::vector<bool> userPages;
  {
    engine::JetDatabase jet(engine::Env::system(), db, true, jettool::kSamplePassword);
    userPages.resize(jet.channel().pageCount());
    for (const engine::JetTable& t : jet.tables()) {
      std::vector<engine::UsageMapRef> maps{t.definition.ownedPages()};
      for (const auto& m : t.definition.columnUsageMaps()) maps.push_back(m.ownedPages);
      for (const auto& ref : maps) {
        const engine::UsageMap map = engine::UsageMap::read(jet.channel(), ref);
        for (std::uint32_t p : map.pages())
          if (p < userPages.size()) userPages[p] = true;
      }
    }
  }
  // The survey's memory is its own, not the run's: give it back and start
  // the peak (VmHWM) again from what is left.
  ::malloc_trim(0);
  std::ofstream("/proc/self/clear_refs") << "5";
  CountingEnv env(engine::Env::system(), db, std::move(userPages));
  auto engine = engine::makeJetEngine(env);
  window::Model model;
  model.backupFlag = 1;
  SilentMessages messages;
  schema::Context ctx{model, messages, *engine, dir};
  const auto cpuBefore = processorSeconds();
  const auto start = std::chrono::steady_clock::now();
  schema::basla(ctx);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const auto cpuAfter = processorSeconds();
  const double cpu = cpuAfter - cpuBefore;
  const bool ok = model.say == std::array<std::string, 6>{"2", "30", "0", "0", "0", "0"};
  std::printf("%.6f %llu %llu %ld %d %.6f %llu %llu %llu %.6f\n", seconds, static_cast<unsigned long long>(env.pageReads),
              static_cast<unsigned long long>(env.userPageReads), peakKiB(), ok ? 1 : 0, cpu,
              static_cast<unsigned long long>(env.flushes), static_cast<unsigned long long>(env.changes),
              static_cast<unsigned long long>(env.pageWrites), env.flushSeconds);
  return ok ? 0 : 1;
}

// Child: the file work of one commit and nothing else, `times` times over,
// in DIR: a journal of three pages written over the start of the kept one
// and flushed, three pages of a 16 MiB file written and flushed, the
// journal's header zeroed. Prints "cpuSeconds flushingSeconds" per commit
// (flushing: inside the two flushes): the
// floor under the update run's processor time per operation on this
// machine, most of it the kernel's work for the two flushes.
int commitFloorChild(const std::string& dir, int times) {
  engine::Env& env = engine::Env::system();
  const std::string dbPath = (fs::path(dir) / "floor.db").string();
  const std::string journalPath = (fs::path(dir) / "floor.db-journal").string();
  std::vector<std::uint8_t> page(engine::kPageSize, 0x5A);
  std::vector<std::uint8_t> journalBody(48 + 3 * 4140, 0xA5);
  auto db = env.open(dbPath, engine::OpenMode::CreateOrTruncate);
  for (std::uint64_t n = 0; n < 4096; ++n) db->write(n * engine::kPageSize, page);
  db->sync();
  auto journal = env.open(journalPath, engine::OpenMode::CreateOrTruncate);
  journal->write(0, journalBody);
  journal->sync();
  env.syncDirectory(dir);
  double flushing = 0;
  auto timedSync = [&](engine::File& f) {
    const double start = threadProcessorSeconds();
    f.sync();
    flushing += threadProcessorSeconds() - start;
  };
  const double before = threadProcessorSeconds();
  for (int i = 0; i < times; ++i) {
    journalBody[0] = static_cast<std::uint8_t>(i);
    journal->write(0, journalBody);
    timedSync(*journal);
    for (std::uint64_t n : {14u, 23u, 3715u}) db->write(n * engine::kPageSize, page);
    timedSync(*db);
    journal->write(0, std::vector<std::uint8_t>(48, 0));
  }
  const double total = threadProcessorSeconds() - before;
  std::printf("%.9f %.9f\n", total / times, flushing / times);
  journal.reset();
  db.reset();
  env.remove(journalPath);
  env.remove(dbPath);
  return 0;
}

// --- processes ---------------------------------------------------------------

struct Measured {
  double seconds = 0;
  long peakKiB = 0;
  int status = -1;
  std::string out;  // stdout, when captured
};

// Runs argv with stdout to a file (captured when capture is set) or
// /dev/null, stderr kept.
Measured runMeasured(const std::vector<std::string>& argv, const fs::path& scratch, bool capture) {
  const std::string outPath = capture ? scratch.string() : "/dev/null";
  std::fflush(nullptr);  // else the child would write out this process's buffered output too
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid < 0) throw engine::Error("fork failed");
  if (pid == 0) {
    std::FILE* f = std::freopen(outPath.c_str(), "w", stdout);
    if (f == nullptr) _exit(126);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  Measured m;
  m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  m.peakKiB = usage.ru_maxrss;
  m.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (capture) {
    std::ifstream in(outPath);
    m.out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return m;
}

void require(const Measured& m, const std::string& what) {
  if (m.status != 0) throw engine::Error(what + " failed (exit " + std::to_string(m.status) + ")");
}

template <class T>
T median(std::vector<T> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void flushToDisk(const fs::path& file) {
  const int fd = ::open(file.c_str(), O_RDONLY);
  if (fd < 0 || ::fsync(fd) != 0) throw engine::Error("cannot flush " + file.string());
  ::close(fd);
}

std::string selfPath() { return fs::read_symlink("/proc/self/exe").string(); }

// The sample of `rows` sales in DATA/sample-ROWS (bloated: DATA/bloated-ROWS,
// new-sample --bloat), made when missing.
std::string sample(const fs::path& data, std::size_t rows, bool bloated = false) {
  const fs::path dir = data / ((bloated ? "bloated-" : "sample-") + std::to_string(rows));
  const fs::path db = dir / jettool::kSampleFileName;
  if (fs::exists(db)) return db.string();
  fs::create_directories(dir);
  std::fprintf(stderr, "making a %ssample of %zu sales rows in %s ...\n", bloated ? "bloated " : "", rows,
               dir.c_str());
  // In a child of its own: the peak memory the system reports for a child
  // includes what this process held when it forked, and making a sample
  // takes several MiB.
  std::vector<std::string> argv{selfPath(), "make-sample", dir.string(), std::to_string(rows)};
  if (bloated) argv.push_back("bloated");
  const Measured m = runMeasured(argv, dir / "out", false);
  require(m, "making the sample");
  return db.string();
}

double mib(std::uintmax_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

std::string thousands(std::size_t n) {
  std::string s = std::to_string(n);
  for (int i = static_cast<int>(s.size()) - 3; i > 0; i -= 3) s.insert(static_cast<std::size_t>(i), " ");
  return s;
}

std::vector<std::size_t> parseSizes(const std::string& text) {
  std::vector<std::size_t> out;
  std::stringstream in(text);
  for (std::string item; std::getline(in, item, ',');) out.push_back(std::stoul(item));
  return out;
}

struct UpdateRunInput {
  std::string label;
  std::string db;
};

// The update run's table: for each database, the median of 5 runs, each on
// a fresh copy, with its peak memory, pages read, user data pages read and
// how many pages the file grew by. Scale: the inputs are samples of one
// database at growing sizes, compared first to last. InMemory: DATA is on a
// memory file system, where a flush has nothing to write: the run's
// processor time without the disk's part, and no floor to measure.
enum class RunTable { Scale, Fixtures, InMemory };
void updateRunTable(const fs::path& data, const fs::path& scratch, const std::string& what,
                    const std::vector<UpdateRunInput>& inputs, RunTable kind) {
  std::printf("\nUpdate run of the window (2 renames, 2 tables, 30 fields, every call reopening the\n"
              "database) %s, median of 5 runs, each on a fresh copy:\n\n", what.c_str());
  std::printf("%-22s %8s %8s %8s %8s %8s %8s %8s %8s %9s %8s %6s %8s %7s\n", "database", "file MiB", "time ms",
              "cpu ms", "cpu/op", "flushing", "rest/op", "flush/op", "reads/op", "writes/op", "peak KiB", "ops", "user pg", "pages +");
  struct Row {
    double ms;
    double cpuMs;
    long kib;
  };
  std::vector<Row> rows;
  bool noDataPages = true, allOk = true;
  double worstCpuPerOp = 0;
  for (const UpdateRunInput& input : inputs) {
    const fs::path work = data / "update-run";
    std::vector<double> times, cpuTimes, flushingTimes, restTimes;
    std::vector<long> peaks;
    double reads = 0, flushes = 0, ops = 0, writes = 0;
    std::string userReads = "?";
    std::uintmax_t grownPages = 0;
    for (int rep = 0; rep < 5; ++rep) {
      fs::remove_all(work);
      fs::create_directories(work);
      const fs::path db = work / "sales.mdb";
      fs::copy_file(input.db, db);
      // On the disk, as a database at rest is: else the run's first flush
      // would write out the whole fresh copy.
      flushToDisk(db);
      std::ofstream(work / "PLX.dll") << "[ayar]\r\nip=" << db.string() << "\r\n";
      const Measured m = runMeasured({selfPath(), "update-run", work.string(), db.string()}, scratch, true);
      std::istringstream in(m.out);
      double seconds = 0, cpu = 0;
      long kib = 0;
      int ok = 0;
      double flushing = 0;
      in >> seconds >> reads >> userReads >> kib >> ok >> cpu >> flushes >> ops >> writes >> flushing;
      flushingTimes.push_back(flushing * 1000);
      restTimes.push_back((cpu - flushing) * 1000);
      if (m.status != 0 || ok != 1 || ops == 0) allOk = false;
      if (userReads != "0") noDataPages = false;
      times.push_back(seconds * 1000);
      cpuTimes.push_back(cpu * 1000);
      peaks.push_back(std::max(kib, m.peakKiB));
      grownPages = (fs::file_size(db) - fs::file_size(input.db)) / engine::kPageSize;
    }
    rows.push_back({median(times), median(cpuTimes), median(peaks)});
    const double perOp = ops > 0 ? 1.0 / ops : 0;
    worstCpuPerOp = std::max(worstCpuPerOp, rows.back().cpuMs * perOp);
    std::printf("%-22s %8.1f %8.1f %8.1f %8.3f %8.3f %8.3f %8.1f %8.1f %9.1f %8ld %6.0f %8s %7ju\n",
                input.label.c_str(), mib(fs::file_size(input.db)), rows.back().ms, rows.back().cpuMs,
                rows.back().cpuMs * perOp, median(flushingTimes) * perOp, median(restTimes) * perOp, flushes * perOp, reads * perOp, writes * perOp, rows.back().kib, ops, userReads.c_str(), grownPages);
  }
  std::printf("\n  (cpu ms: processor time of the run alone, every open and look-up included, in user\n"
              "  mode and in the kernel; flushing: the part of it spent inside the flushes, the\n"
              "  kernel's work of writing the pages out; rest/op: all the rest, the engine's own work\n"
              "  and its other calls to the system; per operation (op): over the operations that\n"
              "  changed the file, each with its journal;\n"
              "  flushes of the database, its journal and their folder; user pg: data pages of the\n"
              "  user tables read)\n");
  fs::remove_all(data / "update-run");
  const double timeRatio = rows.back().ms / rows.front().ms;
  const double cpuRatio = rows.back().cpuMs / rows.front().cpuMs;
  const double memRatio = static_cast<double>(rows.back().kib) / static_cast<double>(rows.front().kib);
  std::printf("\n");
  if (kind == RunTable::Scale)
    std::printf("  largest / smallest: time %.2f x, processor time %.2f x, peak memory %.2f x\n"
                "  (target at most 1.2 x: %s; the wall time is mostly waits for the disk's flushes,\n"
                "  which vary with what else the machine writes)\n",
                timeRatio, cpuRatio, memRatio, timeRatio <= 1.2 && memRatio <= 1.2 ? "met" : "NOT met");
  else
    std::printf("  processor time per operation, at most %.3f ms (target at most 0.100: %s)\n", worstCpuPerOp,
                worstCpuPerOp <= 0.1 ? "met" : "NOT met");
  std::printf("  data pages of the user tables read: %s; every run's counters as expected: %s\n",
              noDataPages ? "none" : "SOME", allOk ? "yes" : "NO");
  if (kind == RunTable::InMemory) return;

  // The floor: a commit's file work alone, measured in this run.
  fs::create_directories(data / "commit-floor");
  std::vector<double> floors, floorFlushing;
  for (int rep = 0; rep < 5; ++rep) {
    const Measured m = runMeasured({selfPath(), "commit-floor", (data / "commit-floor").string(), "200"}, scratch, true);
    std::istringstream in(m.out);
    double cpu = 0, flushing = 0;
    in >> cpu >> flushing;
    floors.push_back(cpu * 1000);
    floorFlushing.push_back(flushing * 1000);
  }
  fs::remove_all(data / "commit-floor");
  std::printf("\n  floor: a commit's file work alone, nothing decoded or encoded (a journal of 3 pages\n"
              "  written over the kept one and flushed, 3 pages written and flushed, the journal's\n"
              "  header zeroed), 200 times in a loop, median of 5: %.3f ms of processor time per\n"
              "  commit, %.3f ms of it inside the two flushes\n",
              median(floors), median(floorFlushing));
}

// karvelta-jet schema against mdb-schema, which prints as much (every
// table with its columns), side by side on the sales test databases: best
// and median of 10, alternating.
void catalogListingTable(const std::string& jet, const fs::path& scratch, const fs::path& fixtures) {
  std::printf("\nListing the catalog with every table's columns, karvelta-jet schema against mdb-schema,\n"
              "best (and median) of 10, alternating:\n\n");
  std::printf("  %-22s %16s %16s %8s\n", "database", "ours ms", "mdb-schema ms", "ours / mdb");
  for (const char* name : {"sales-large.mdb", "sales-manytables.mdb"}) {
    const fs::path db = fixtures / name;
    if (!fs::exists(db)) continue;
    std::vector<double> ours, theirs;
    for (int rep = 0; rep < 10; ++rep) {
      const Measured a = runMeasured({jet, "schema", db.string(), "--password", jettool::kSamplePassword}, scratch, false);
      require(a, "karvelta-jet schema");
      const Measured b = runMeasured({"mdb-schema", db.string()}, scratch, false);
      require(b, "mdb-schema");
      ours.push_back(a.seconds * 1000);
      theirs.push_back(b.seconds * 1000);
    }
    const double bestOurs = *std::min_element(ours.begin(), ours.end());
    const double bestTheirs = *std::min_element(theirs.begin(), theirs.end());
    std::printf("  %-22s %7.2f (%6.2f) %7.2f (%6.2f) %8.2f   (target at most 1.0: %s)\n", name, bestOurs,
                median(ours), bestTheirs, median(theirs), bestOurs / bestTheirs,
                bestOurs <= bestTheirs ? "met" : "NOT met");
  }
}

// The pages a change writes when it splits an index page, beside those of
// changes that split nothing: tables of 64-character names created one by one
// in a copy of sales-small until its name index has four leaves, each
// creation opening the database for itself, as the schema routines do.
void splitCostTable(const fs::path& data, const std::string& salesSmall) {
  const fs::path db = data / "split-cost.mdb";
  fs::copy_file(salesSmall, db, fs::copy_options::overwrite_existing);
  fs::permissions(db, fs::perms::owner_read | fs::perms::owner_write);
  auto namePages = [&] {
    engine::JetDatabase jet(engine::Env::system(), db.string(), true, jettool::kSamplePassword);
    const engine::TableDefinition d = engine::TableDefinition::read(jet.channel(), engine::kCatalogPage);
    return engine::IndexTree(jet.channel(), d, 0).pages().size();
  };
  std::vector<std::uint64_t> plain;
  struct Split {
    std::size_t pagesBefore;
    std::uint64_t writes;
    std::uintmax_t grown;
  };
  std::vector<Split> splits;
  for (int i = 0; namePages() < 4 && i < 500; ++i) {
    const std::size_t before = namePages();
    const std::uintmax_t size = fs::file_size(db);
    CountingEnv env(engine::Env::system(), db.string(), {});
    {
      auto engine = engine::makeJetEngine(env);
      auto open = engine->openDatabase(db.string(), false, false, std::string(";pwd=") + jettool::kSamplePassword);
      std::string name = "t" + std::to_string(10000 + i);
      name += std::string(64 - name.size(), '_');
      engine::NewTableDef def = open->createTableDef(name);
      engine::NewField no = engine::createField("no", 4);
      no.attributes = engine::kAutoIncrement;
      def.fields.push_back(no);
      open->appendTableDef(def);
    }
    if (namePages() == before)
      plain.push_back(env.pageWrites);
    else
      splits.push_back({before, env.pageWrites, (fs::file_size(db) - size) / engine::kPageSize});
  }
  fs::remove(db);
  std::printf("\nCost of an index page split: new tables of 64-character names in sales-small\n"
              "(pages written to the database by one table creation, all its indexes and rows):\n\n");
  if (!plain.empty())
    std::printf("  %-44s %6llu pages written (median of %zu)\n", "a creation that splits nothing",
                static_cast<unsigned long long>(median(plain)), plain.size());
  for (const Split& s : splits)
    std::printf("  %-44s %6llu pages written, file +%ju pages\n",
                (s.pagesBefore == 1 ? std::string("one that splits the root leaf")
                                    : "one that splits a leaf (" + std::to_string(s.pagesBefore) + " pages before)")
                    .c_str(),
                static_cast<unsigned long long>(s.writes), s.grown);
}

// karvelta-jet compact against cp then sync of the same file (compaction
// flushes what it writes before it reports success), best of `reps`.
void compactionTable(const fs::path& data, const std::string& jet, const fs::path& scratch,
                     const std::vector<std::pair<std::string, std::string>>& databases) {
  std::printf("\nkarvelta-jet compact against cp followed by sync of the same file, best of 3:\n\n");
  std::printf("  %-22s %9s %9s %10s %10s %10s %10s %8s\n", "database", "file MiB", "out MiB", "compact ms",
              "cp+sync ms", "peak KiB", "cp KiB", "ratio");
  const fs::path target = data / "compacted.mdb";
  const fs::path copy = data / "cp-copy.mdb";
  for (const auto& [db, password] : databases) {
    double ours = 1e9, cpSync = 1e9;
    long oursKiB = 0, cpKiB = 0;
    std::uintmax_t outBytes = 0;
    for (int rep = 0; rep < 3; ++rep) {
      const Measured cs = runMeasured({"sh", "-c", "cp \"$0\" \"$1\" && sync \"$1\"", db, copy.string()},
                                      scratch, false);
      require(cs, "cp and sync");
      fs::remove(copy);
      cpSync = std::min(cpSync, cs.seconds);
      cpKiB = std::max(cpKiB, cs.peakKiB);
      fs::remove(target);
      const Measured c = runMeasured({jet, "compact", db, target.string(), "--password", password, "--quiet"},
                                     scratch, false);
      require(c, "karvelta-jet compact");
      outBytes = fs::file_size(target);
      fs::remove(target);
      ours = std::min(ours, c.seconds);
      oursKiB = std::max(oursKiB, c.peakKiB);
    }
    std::printf("  %-22s %9.1f %9.1f %10.1f %10.1f %10ld %10ld %8.2f   (target at most 2.0: %s)\n",
                fs::path(db).filename().c_str(), mib(fs::file_size(db)), mib(outBytes), ours * 1000,
                cpSync * 1000, oursKiB, cpKiB, ours / cpSync, ours / cpSync <= 2.0 ? "met" : "NOT met");
  }
  std::printf("\n  (compact: the whole command, the source's and the result's integrity checks included)\n");
}

int bench(const fs::path& data, const std::string& jet, const std::string& backupBench,
          std::vector<std::size_t> sizes, std::size_t backupRows, const fs::path& fixtures,
          std::size_t compactRows, bool onlyCompaction) {
  fs::create_directories(data);
  if (onlyCompaction) sizes.clear();
  const fs::path scratch = data / "out.txt";
  const std::string pw = jettool::kSamplePassword;
  std::vector<std::string> samples;
  for (std::size_t n : sizes) samples.push_back(sample(data, n));
  std::vector<std::pair<std::string, std::string>> compacted;
  if (!fixtures.empty() && fs::exists(fixtures / "sales-large.mdb"))
    compacted.emplace_back((fixtures / "sales-large.mdb").string(), "zorpelnik");
  compacted.emplace_back(sample(data, compactRows, true), pw);
  if (onlyCompaction) {
    compactionTable(data, jet, scratch, compacted);
    return 0;
  }
  const std::string big = sample(data, backupRows);

  // 1. The update run, on the samples and on the sales fixtures.
  std::vector<UpdateRunInput> generated;
  for (std::size_t i = 0; i < sizes.size(); ++i) generated.push_back({thousands(sizes[i]) + " rows", samples[i]});
  updateRunTable(data, scratch, "on samples of each size", generated, RunTable::Scale);
  if (!fixtures.empty()) {
    std::vector<UpdateRunInput> fixed;
    for (const char* name : {"sales-small.mdb", "sales-large.mdb", "sales-manytables.mdb"})
      if (fs::exists(fixtures / name)) fixed.push_back({name, (fixtures / name).string()});
    if (fixed.size() >= 2) {
      updateRunTable(data, scratch, "on the sales test databases", fixed, RunTable::Fixtures);
      // The same in memory: the engine's processor time without the disk's.
      const fs::path memory = fs::path("/dev/shm") / ("karvelta-bench-" + std::to_string(::getpid()));
      std::error_code ec;
      if (fs::create_directories(memory, ec) && !ec) {
        updateRunTable(memory, scratch, "on the sales test databases in memory (/dev/shm: a flush writes nothing)",
                       fixed, RunTable::InMemory);
        fs::remove_all(memory, ec);
      }
    }
    catalogListingTable(jet, scratch, fixtures);
    if (fs::exists(fixtures / "sales-small.mdb")) splitCostTable(data, (fixtures / "sales-small.mdb").string());
  }

  // 2. Opening and listing the catalog; 3. every row of satislar.
  const std::string largest = samples.back();
  auto sideBySide = [&](const char* title, const std::vector<std::string>& ours,
                        const std::vector<std::string>& theirs, int reps) {
    std::vector<double> ot, tt;
    std::vector<long> om, tm;
    for (int rep = 0; rep < reps; ++rep) {
      const Measured a = runMeasured(ours, scratch, false);
      require(a, ours[0]);
      const Measured b = runMeasured(theirs, scratch, false);
      require(b, theirs[0]);
      ot.push_back(a.seconds * 1000);
      om.push_back(a.peakKiB);
      tt.push_back(b.seconds * 1000);
      tm.push_back(b.peakKiB);
    }
    std::printf("\n%s, median of %d:\n\n", title, reps);
    std::printf("  %-38s %10s %10s\n", "", "time ms", "peak KiB");
    std::printf("  %-38s %10.1f %10ld\n", (fs::path(ours[0]).filename().string() + " " + ours[1]).c_str(),
                median(ot), median(om));
    std::printf("  %-38s %10.1f %10ld\n", fs::path(theirs[0]).filename().c_str(), median(tt), median(tm));
    std::printf("  %-38s %10.2f %10.2f\n", "ours / mdbtools", median(ot) / median(tt),
                static_cast<double>(median(om)) / static_cast<double>(median(tm)));
  };
  const std::string where = " (" + thousands(sizes.back()) + " sales rows, " +
                            std::to_string(static_cast<long>(mib(fs::file_size(largest)))) + " MiB)";
  sideBySide(("Opening and listing the catalog" + where).c_str(),
             {jet, "schema", largest, "--password", pw}, {"mdb-tables", largest}, 11);
  sideBySide(("Reading every row of satislar" + where).c_str(),
             {jet, "rows", largest, "satislar", "--password", pw}, {"mdb-export", largest, "satislar"}, 3);

  // 4. The backup against cp, of a large sample and of the 1 000 000 one
  // (memory should not follow the size).
  std::printf("\nYEDEK AL (karvelta_backup_bench) against cp of the same file, best of 3:\n\n");
  std::printf("  %-10s %10s %-10s %10s %10s %10s\n", "file MiB", "", "", "time ms", "MiB/s", "peak KiB");
  for (const std::string& db : {big, largest}) {
    const double size = mib(fs::file_size(db));
    double ours = 1e9, cp = 1e9, cpSync = 1e9;
    long oursKiB = 0, cpKiB = 0;
    const fs::path copy = data / "cp-copy.mdb";
    for (int rep = 0; rep < 3; ++rep) {
      const Measured c = runMeasured({"cp", db, copy.string()}, scratch, false);
      require(c, "cp");
      fs::remove(copy);
      cp = std::min(cp, c.seconds);
      cpKiB = std::max(cpKiB, c.peakKiB);
      // YEDEK AL flushes its copy to the disk before it reports success;
      // cp does not, so cp followed by sync of the copy is measured too.
      const Measured cs = runMeasured({"sh", "-c", "cp \"$0\" \"$1\" && sync \"$1\"", db, copy.string()},
                                      scratch, false);
      require(cs, "cp and sync");
      fs::remove(copy);
      cpSync = std::min(cpSync, cs.seconds);
      const Measured b = runMeasured({backupBench, db}, scratch, true);
      require(b, "karvelta_backup_bench");
      // "copied N MiB in S s ..." : the copy alone, without the start of the process.
      double s = b.seconds;
      const auto at = b.out.find(" in ");
      if (at != std::string::npos) s = std::atof(b.out.c_str() + at + 4);
      ours = std::min(ours, s);
      oursKiB = std::max(oursKiB, b.peakKiB);
    }
    std::printf("  %-10.1f %-21s %10.1f %10.0f %10ld\n", size, "YEDEK AL", ours * 1000, size / ours, oursKiB);
    std::printf("  %-10s %-21s %10.1f %10.0f %10ld\n", "", "cp", cp * 1000, size / cp, cpKiB);
    std::printf("  %-10s %-21s %10.1f %10.0f\n", "", "cp, then sync of it", cpSync * 1000, size / cpSync);
    std::printf("  %-10s %-21s %10s %10.2f   (target at least 0.90: %s)\n", "", "throughput ours / cp", "",
                cp / ours, cp / ours >= 0.9 ? "met" : "NOT met");
    std::printf("  %-10s %-21s %10s %10.2f   (target at least 0.90: %s)\n", "", "ours / cp then sync", "",
                cpSync / ours, cpSync / ours >= 0.9 ? "met" : "NOT met");
  }

  // 5. Compaction.
  compactionTable(data, jet, scratch, compacted);
  std::printf("\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 3 && args[0] == "update-run") return updateRunChild(args[1], args[2]);
    if (args.size() == 3 && args[0] == "commit-floor") return commitFloorChild(args[1], std::stoi(args[2]));
    if ((args.size() == 3 || args.size() == 4) && args[0] == "make-sample") {
      jettool::writeSample(engine::Env::system(), args[1], std::stoul(args[2]),
                           args.size() == 4 ? jettool::SampleKind::Bloated : jettool::SampleKind::Plain);
      return 0;
    }
    std::vector<std::size_t> sizes{1000, 100000, 1000000};
    std::size_t backupRows = 3000000;
    std::size_t compactRows = 3000000;
    bool onlyCompaction = false;
    fs::path fixtures;
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); ++i) {
      if (args[i] == "--sizes" && i + 1 < args.size()) {
        sizes = parseSizes(args[++i]);
      } else if (args[i] == "--fixtures" && i + 1 < args.size()) {
        fixtures = args[++i];
      } else if (args[i] == "--compact-rows" && i + 1 < args.size()) {
        compactRows = std::stoul(args[++i]);
      } else if (args[i] == "--only-compaction") {
        onlyCompaction = true;
      } else if (args[i] == "--backup-rows" && i + 1 < args.size()) {
        backupRows = std::stoul(args[++i]);
      } else {
        positional.push_back(args[i]);
      }
    }
    if (positional.size() != 3 || (sizes.empty() && !onlyCompaction)) {
      std::fprintf(stderr,
                   "usage: karvelta-bench DATA_DIR KARVELTA_JET BACKUP_BENCH [--sizes N,N,...] "
                   "[--backup-rows N] [--fixtures DIR] [--compact-rows N] [--only-compaction]\n");
      return 2;
    }
    return bench(positional[0], positional[1], positional[2], sizes, backupRows, fixtures, compactRows,
                 onlyCompaction);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "karvelta-bench: %s\n", e.what());
    return 1;
  }
}
