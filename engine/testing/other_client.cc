// karvelta_other_client: another program for the tests (see other_process.h).
//
//   lock PATH         takes our engine's lock on PATH, as another run of it would
//   jet DB            opens DB the way a shared-mode client of the real engine
//                     does: the database for reading and writing, sharing both;
//                     its .ldb likewise (created when missing), with the user
//                     lock on byte 0x10000001 and the first 64-byte entry
//                     (computer name, account name "Admin")
//   sees-in-use DB    exits 0 when DB is in use by another program, else 1
//   hold PATH MS      holds the existing file PATH for MS milliseconds, as a
//                     virus scanner or the search indexer does with a file
//                     just written: on Windows opened sharing nothing, on
//                     Linux with an open file description lock on all of it;
//                     it prints "ready" once it holds it, and ends when its
//                     standard input does
//
// After "lock" and "jet" it prints "ready" and holds everything until its
// standard input ends; then the jet client closes and removes the .ldb, as
// the real engine does when its last user leaves. Any failure prints another
// line and exits 2. The jet client calls the system directly: it stands for
// a program that does not go through our Env.
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/env.h"
#include "engine/in_use.h"
#include "engine/program_arguments.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// Where the real engine places a user's lock in the .ldb, and the size of
// one user's entry there.
constexpr std::uint64_t kFirstUserLock = 0x10000001;
constexpr std::size_t kEntrySize = 64;

std::array<char, kEntrySize> userEntry(const std::string& computer) {
  std::array<char, kEntrySize> entry{};
  std::memcpy(entry.data(), computer.data(), std::min<std::size_t>(computer.size(), 31));
  std::memcpy(entry.data() + 32, "Admin", 5);
  return entry;
}

void waitForEndOfInput() {
  char c;
  while (std::cin.get(c)) {
  }
}

#ifdef _WIN32
std::wstring widen(const std::string& s) {
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
  return out;
}

int jetClient(const std::string& db) {
  const std::wstring ldb = widen(engine::lockFilePath(db));
  HANDLE mdb = ::CreateFileW(widen(db).c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  if (mdb == INVALID_HANDLE_VALUE) {
    std::cout << "cannot open the database: error " << ::GetLastError() << std::endl;
    return 2;
  }
  HANDLE lock = ::CreateFileW(ldb.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (lock == INVALID_HANDLE_VALUE) {
    std::cout << "cannot open the lock file: error " << ::GetLastError() << std::endl;
    return 2;
  }
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(kFirstUserLock);
  if (!::LockFileEx(lock, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    std::cout << "cannot take the user lock: error " << ::GetLastError() << std::endl;
    return 2;
  }
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD length = sizeof name;
  ::GetComputerNameA(name, &length);
  const auto entry = userEntry(std::string(name, length));
  DWORD written = 0;
  OVERLAPPED start{};
  ::WriteFile(lock, entry.data(), static_cast<DWORD>(entry.size()), &written, &start);
  std::cout << "ready" << std::endl;
  waitForEndOfInput();
  ::UnlockFileEx(lock, 0, 1, 0, &at);
  ::CloseHandle(mdb);
  ::CloseHandle(lock);
  ::DeleteFileW(ldb.c_str());  // fails, harmlessly, while another user has it open
  return 0;
}

int holdFor(const std::string& path, int ms) {
  HANDLE h = ::CreateFileW(widen(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    std::cout << "cannot open the file: error " << ::GetLastError() << std::endl;
    return 2;
  }
  std::cout << "ready" << std::endl;
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  ::CloseHandle(h);
  waitForEndOfInput();
  return 0;
}
#else
int jetClient(const std::string& db) {
  // A client under Wine: its byte-range locks are POSIX record locks.
  const std::string ldb = engine::lockFilePath(db);
  const int mdb = ::open(db.c_str(), O_RDWR | O_CLOEXEC);
  const int lock = ::open(ldb.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (mdb < 0 || lock < 0) {
    std::cout << "cannot open the database or its lock file" << std::endl;
    return 2;
  }
  struct flock user {};
  user.l_type = F_WRLCK;
  user.l_whence = SEEK_SET;
  user.l_start = static_cast<off_t>(kFirstUserLock);
  user.l_len = 1;
  if (::fcntl(lock, F_SETLK, &user) != 0) {
    std::cout << "cannot take the user lock" << std::endl;
    return 2;
  }
  char name[256] = {};
  ::gethostname(name, sizeof name - 1);
  const auto entry = userEntry(name);
  if (::pwrite(lock, entry.data(), entry.size(), 0) != static_cast<ssize_t>(entry.size())) return 2;
  std::cout << "ready" << std::endl;
  waitForEndOfInput();
  ::close(mdb);
  ::close(lock);
  ::unlink(ldb.c_str());
  return 0;
}

int holdFor(const std::string& path, int ms) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  struct flock all {};
  all.l_type = F_WRLCK;
  all.l_whence = SEEK_SET;
  if (fd < 0 || ::fcntl(fd, F_OFD_SETLK, &all) != 0) {
    std::cout << "cannot open and lock the file" << std::endl;
    return 2;
  }
  std::cout << "ready" << std::endl;
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  ::close(fd);
  waitForEndOfInput();
  return 0;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args = engine::programArguments(argc, argv);
  if (args.size() != 3 && !(args.size() == 4 && args[1] == "hold")) {
    std::cout << "usage: karvelta_other_client lock|jet|sees-in-use PATH, or hold PATH MS" << std::endl;
    return 2;
  }
  const std::string& mode = args[1];
  const std::string& path = args[2];
  try {
    if (mode == "sees-in-use") return engine::isInUseElsewhere(engine::Env::system(), path) ? 0 : 1;
    if (mode == "jet") return jetClient(path);
    if (mode == "hold") return holdFor(path, std::stoi(args[3]));
    if (mode == "lock") {
      std::unique_ptr<engine::FileLock> lock = engine::Env::system().tryLockExclusive(path);
      if (!lock) {
        std::cout << "the lock is held elsewhere" << std::endl;
        return 2;
      }
      std::cout << "ready" << std::endl;
      waitForEndOfInput();
      return 0;
    }
  } catch (const std::exception& e) {
    std::cout << "failed: " << e.what() << std::endl;
    return 2;
  }
  std::cout << "unknown mode " << mode << std::endl;
  return 2;
}
