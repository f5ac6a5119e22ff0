// Prints how fast YEDEK AL copies a large database and how much memory the
// process grows by meanwhile (the copy streams, so the growth stays flat
// whatever the size). Usage: karvelta_backup_bench [size in MiB, default 256]
// or karvelta_backup_bench DATABASE_FILE to back up an existing database
// (scripts/bench.sh does, beside cp of the same file).
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "backup/backup.h"
#include "window/testing/recording_messages.h"

namespace fs = std::filesystem;

static long peakRssKiB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

int main(int argc, char** argv) {
  const bool existing = argc > 1 && fs::is_regular_file(argv[1]);
  long mib = argc > 1 && !existing ? std::atol(argv[1]) : 256;
  const fs::path dir = existing ? fs::path(argv[1]).parent_path() / ("backup-bench-" + std::to_string(getpid()))
                                : fs::temp_directory_path() / ("karvelta-backup-bench-" + std::to_string(getpid()));
  fs::create_directories(dir);
  if (existing) {
    mib = static_cast<long>(fs::file_size(argv[1]) >> 20);
    std::ofstream(dir / "PLX.dll") << "[ayar]\nip=" << fs::absolute(argv[1]).string() << "\n";
  } else {
    std::ofstream db(dir / "db.mdb", std::ios::binary);
    std::vector<char> block(1 << 20);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131);
    for (long i = 0; i < mib; ++i) db.write(block.data(), static_cast<std::streamsize>(block.size()));
    std::ofstream(dir / "PLX.dll") << "[ayar]\nip=" << (dir / "db.mdb").string() << "\n";
  }
  const long before = peakRssKiB();
  window::Model model;
  window::testing::RecordingMessages messages;
  const auto start = std::chrono::steady_clock::now();
  backup::yedekle(model, messages, engine::Env::system(), dir.string());
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const long after = peakRssKiB();
  std::printf("copied %ld MiB in %.3f s (%.0f MiB/s), peak memory grew by %ld KiB, flag %d\n", mib,
              seconds, static_cast<double>(mib) / seconds, after - before, model.backupFlag);
  fs::remove_all(dir);
  return model.backupFlag == 1 ? 0 : 1;
}
