// Writes first inputs for the fuzz targets, made by our engine alone:
//   fuzz_seeds databases DIR   the databases of fuzz_databases.h, and the
//                              blank database, one file each (jet_fuzz,
//                              jet_write_fuzz);
//   fuzz_seeds recovery DIR    descriptions of interrupted changes for
//                              jet_recovery_fuzz: every change on every
//                              database under every kind of cut, undamaged
//                              and damaged.
// scripts/fuzz.sh --merge starts from these and keeps what adds coverage.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/database_creator.h"
#include "engine/error.h"
#include "engine/fuzz/fuzz_databases.h"
#include "engine/fuzz/memory_env.h"

namespace {

void writeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw engine::Error("cannot write " + path.string());
}

void databases(const std::filesystem::path& dir) {
  engine::fuzz::MemoryEnv env("/fuzz/unused", {});
  engine::createDatabase(env, "/fuzz/blank.mdb", "");
  writeFile(dir / "blank", env.contents("/fuzz/blank.mdb"));
  for (const auto& db : engine::fuzz::fuzzDatabases()) writeFile(dir / db.name, db.bytes);
}

// Layout: see jet_recovery_fuzz.cc. Counts as there (changes, databases,
// cuts, damage). Each cut of each change on each database once, at an n
// that varies from one to the next (taken modulo the change's calls), and
// once more with one kind of damage: a byte of the journal's first record,
// its length, a sector of it, a byte of the database's first pages.
void recovery(const std::filesystem::path& dir) {
  constexpr int kOperations = 9, kDatabases = 2, kCuts = 12, kDamageKinds = 5;
  int made = 0;
  for (int op = 0; op < kOperations; ++op)
    for (int db = 0; db < kDatabases; ++db)
      for (int cut = 0; cut < kCuts; ++cut) {
        const auto u = [](int v) { return static_cast<std::uint8_t>(v); };
        const int n = op * 7 + db * 3 + cut * 5;
        std::vector<std::uint8_t> in{u(op), u(db), u(cut), u(n % 6), u(n), 0};
        writeFile(dir / ("c" + std::to_string(made++)), in);
        in.insert(in.end(), {u(n % kDamageKinds), u(0x40 + 13 * n), u(n % 3), 0, u(0xA5)});
        writeFile(dir / ("c" + std::to_string(made++)), in);
      }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || (std::string(argv[1]) != "databases" && std::string(argv[1]) != "recovery")) {
    std::fprintf(stderr, "usage: fuzz_seeds databases|recovery DIR\n");
    return 2;
  }
  try {
    std::filesystem::create_directories(argv[2]);
    if (std::string(argv[1]) == "databases")
      databases(argv[2]);
    else
      recovery(argv[2]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "fuzz_seeds: %s\n", e.what());
    return 1;
  }
  return 0;
}
