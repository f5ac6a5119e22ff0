// Another program beside the tests: the helper karvelta_other_client, started
// as a process of its own, does what its arguments say, reports that it is
// ready, and keeps what it opened until it is released (its input closed) or
// this object is destroyed. Works alike on Linux and on Windows.
//
//   OtherProcess held(OtherProcess::jetClient(db));  // the sales program has db open
//   OtherProcess::run(OtherProcess::seesInUse(db));  // 0 when it sees db in use
//
// runProgram starts any other program of ours the same way and collects what
// it prints.
#pragma once

#include <string>
#include <vector>

namespace engine::testing {

class OtherProcess {
 public:
  // Starts the helper and waits until it is ready; std::runtime_error when it
  // cannot do what it was asked.
  explicit OtherProcess(const std::vector<std::string>& args);
  ~OtherProcess();
  OtherProcess(const OtherProcess&) = delete;
  OtherProcess& operator=(const OtherProcess&) = delete;

  // Lets it close what it holds and waits for its end; returns its exit code.
  int release();

  // Runs the helper to its end and returns its exit code.
  static int run(const std::vector<std::string>& args);

  // Another run of our engine holding its lock on path (Env::tryLockExclusive).
  static std::vector<std::string> engineLock(const std::string& path) { return {"lock", path}; }
  // A client of the real engine with db open in shared mode: the database
  // opened for reading and writing, sharing both; its .ldb created or opened
  // the same way, with the client's user lock (one byte at 0x10000001) and
  // its 64-byte entry of computer and account name.
  static std::vector<std::string> jetClient(const std::string& db) { return {"jet", db}; }
  // Holds the existing file at path for ms milliseconds and then lets go, as
  // a virus scanner does with a file just written: on Windows an open that
  // shares nothing, on Linux an open file description lock on all of it.
  static std::vector<std::string> holdFor(const std::string& path, int ms) {
    return {"hold", path, std::to_string(ms)};
  }
  // Exits 0 when it sees db in use by another program (isInUseElsewhere), 1 when not.
  static std::vector<std::string> seesInUse(const std::string& db) { return {"sees-in-use", db}; }

  struct Process;  // the platform's handles on the running helper

 private:
  Process* process_ = nullptr;
  int exitCode_ = -1;
};

// Runs one of our own programs (program: its path) with args to its end, with
// nothing on its standard input; what it writes to its standard output goes
// into output, its standard error to ours. Returns its exit code. On Windows
// the arguments reach it in the wide command line, as from Explorer or a
// console; std::runtime_error when it cannot be started.
int runProgram(const std::string& program, const std::vector<std::string>& args, std::string& output);

}  // namespace engine::testing
