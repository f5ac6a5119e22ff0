// Helpers of the engine tests: copies of the fixtures in a temporary folder,
// whole-file comparison, a clock that stands still, another process holding
// a database, and the independent readers' check of a written file.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

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

namespace engine::testutil {

inline std::vector<std::uint8_t> fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

inline void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
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
    return target.string();
  }
  std::string path(const std::string& name) const { return (path_ / name).string(); }

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

// A child process that takes its own lock on `path` and holds it until
// released (or destroyed).
class LockingProcess {
 public:
  explicit LockingProcess(const std::string& path) {
    int ready[2], hold[2];
    if (::pipe(ready) != 0 || ::pipe(hold) != 0) throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
      ::close(ready[0]);
      ::close(hold[1]);
      auto lock = Env::system().tryLockExclusive(path);
      char ok = lock ? '1' : '0';
      if (::write(ready[1], &ok, 1) != 1) ::_exit(2);
      char c;
      while (::read(hold[0], &c, 1) > 0) {
      }
      ::_exit(0);
    }
    ::close(ready[1]);
    ::close(hold[0]);
    releaseFd_ = hold[1];
    char ok = 0;
    const bool locked = ::read(ready[0], &ok, 1) == 1 && ok == '1';
    ::close(ready[0]);
    if (!locked) {
      release();
      throw std::runtime_error("the other process could not take the lock on " + path);
    }
  }
  ~LockingProcess() { release(); }
  LockingProcess(const LockingProcess&) = delete;
  LockingProcess& operator=(const LockingProcess&) = delete;

  void release() {
    if (pid_ <= 0) return;
    ::close(releaseFd_);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int releaseFd_ = -1;
};

// Another process holding the database's lock file, as a program that has
// the database open does.
class OtherProcessLock : public LockingProcess {
 public:
  explicit OtherProcessLock(const std::string& db) : LockingProcess(lockFilePath(db)) {}
};

inline bool readersAvailable() {
  return std::system("command -v node >/dev/null 2>&1 && command -v mdb-schema >/dev/null 2>&1 && "
                     "command -v mdb-export >/dev/null 2>&1 && command -v mdb-prop >/dev/null 2>&1 && "
                     "test -d '" KARVELTA_SOURCE_DIR "/tools/readers/node_modules'") == 0;
}

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
