// Helpers of the engine tests: copies of the fixtures in a temporary folder,
// whole-file comparison, a clock that stands still, another process holding
// a database, and the independent readers' check of a written file.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/env.h"
#include "engine/in_use.h"
#include "engine/path.h"
#include "engine/retrying_env.h"
#include "engine/testing/other_process.h"
#include "engine/testing/readers.h"

namespace engine::testutil {

inline std::vector<std::uint8_t> fileBytes(const std::string& path) {
  std::ifstream in(toFsPath(path), std::ios::binary | std::ios::ate);
  if (!in) return {};
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

inline void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(toFsPath(path), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A fresh temporary folder, removed with everything in it at the end.
class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() /
            ("karvelta-test-" + std::to_string(rd()) + "-" + std::to_string(rd()));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // A writable copy of a fixture in this folder.
  std::string copy(const std::string& name, const std::string& as = {}) const {
    std::filesystem::path target = path_ / (as.empty() ? name : as);
    std::filesystem::copy_file(std::filesystem::path(KARVELTA_FIXTURES_DIR) / name, target,
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(target, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    return fromFsPath(target);
  }
  std::string path(const std::string& name) const { return fromFsPath(path_ / toFsPath(name)); }

 private:
  std::filesystem::path path_;
};

// The system Env with a fixed local time, so that two runs of an operation
// write the same bytes.
class FixedClockEnv final : public EnvWrapper {
 public:
  explicit FixedClockEnv(Env& base = Env::system()) : EnvWrapper(base) {
    now_.tm_year = 2026 - 1900;
    now_.tm_mon = 11;
    now_.tm_mday = 7;
    now_.tm_hour = 9;
    now_.tm_min = 30;
    now_.tm_sec = 15;
  }
  std::tm localTime() override { return now_; }
  const std::tm& now() const { return now_; }

 private:
  std::tm now_{};
};

// The system's Env under the retrying layer: Env::system() itself on
// Windows, which is that already; on Linux a RetryingEnv over it.
inline Env& retryingSystemEnv() {
#ifdef _WIN32
  return Env::system();
#else
  static RetryingEnv env(Env::system());
  return env;
#endif
}

// Another process holding our engine's lock on `path` until released (or
// destroyed).
class LockingProcess {
 public:
  explicit LockingProcess(const std::string& path)
      : process_(testing::OtherProcess::engineLock(path)) {}
  void release() { process_.release(); }

 private:
  testing::OtherProcess process_;
};

// Another process holding the database's lock file, as a program that has
// the database open does.
class OtherProcessLock : public LockingProcess {
 public:
  explicit OtherProcessLock(const std::string& db) : LockingProcess(lockFilePath(db)) {}
};

using engine::testing::readersAvailable;
using engine::testing::whyNoReaders;

// Runs the readers' check of a written file; extra holds further arguments
// (--rows-like ORIGINAL --renamed A=B, --expect FILE). Fails the test with
// the check's output unless it exits 0.
inline void expectReadersRead(const std::string& path, const std::string& password,
                              const std::string& extra = {}) {
  std::string cmd = std::string("node '" KARVELTA_SOURCE_DIR "/tools/readers/verify-written.mjs' '") +
                    path + "'";
  if (!password.empty()) cmd += " --password " + password;
  cmd += " " + extra + " > '" + path + ".verify.txt' 2>&1";
  int rc = std::system(cmd.c_str());
  std::ifstream in(path + ".verify.txt");
  std::string output((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(rc, 0) << output;
}

}  // namespace engine::testutil
