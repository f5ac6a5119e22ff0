// Helpers of the catalog write tests: a clock that stands still, another
// process holding a database, the independent readers, index checks and a
// table-by-table dump of the rows.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/catalog.h"
#include "engine/env.h"
#include "engine/in_use.h"
#include "engine/index_key.h"
#include "engine/jet_database.h"
#include "engine/lock.h"
#include "engine/table_scan.h"
#include "engine/table_writer.h"
#include "engine/tests/write_test_util.h"
#include "engine/value.h"

namespace engine::testutil {

inline constexpr const char* kSalesPassword = "zorpelnik";

// The system Env with a fixed local time, so that two runs of an operation
// write the same bytes.
class FixedClockEnv final : public Env {
 public:
  explicit FixedClockEnv(Env& base) : base_(base) {
    now_.tm_year = 2026 - 1900;
    now_.tm_mon = 11;
    now_.tm_mday = 7;
    now_.tm_hour = 9;
    now_.tm_min = 30;
    now_.tm_sec = 15;
  }
  std::unique_ptr<File> open(const std::string& p, OpenMode m) override { return base_.open(p, m); }
  bool exists(const std::string& p) override { return base_.exists(p); }
  void remove(const std::string& p) override { base_.remove(p); }
  void renameNoReplace(const std::string& a, const std::string& b) override {
    base_.renameNoReplace(a, b);
  }
  void syncDirectory(const std::string& d) override { base_.syncDirectory(d); }
  std::unique_ptr<FileLock> tryLockExclusive(const std::string& p) override {
    return base_.tryLockExclusive(p);
  }
  bool isLockedElsewhere(const std::string& p) override { return base_.isLockedElsewhere(p); }
  std::tm localTime() override { return now_; }
  const std::tm& now() const { return now_; }

 private:
  Env& base_;
  std::tm now_{};
};

// Another process holding the database's lock file, as a program that has
// the database open does; released on destruction.
class OtherProcessLock {
 public:
  explicit OtherProcessLock(const std::string& db) {
    int ready[2], release[2];
    if (::pipe(ready) != 0 || ::pipe(release) != 0) throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
      ::close(ready[0]);
      ::close(release[1]);
      auto lock = Env::system().tryLockExclusive(lockFilePath(db));
      char ok = lock ? '1' : '0';
      if (::write(ready[1], &ok, 1) != 1) ::_exit(2);
      char c;
      while (::read(release[0], &c, 1) > 0) {
      }
      ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    release_ = release[1];
    char ok = 0;
    bool locked = ::read(ready[0], &ok, 1) == 1 && ok == '1';
    ::close(ready[0]);
    if (!locked) throw std::runtime_error("the other process could not take the lock");
  }
  ~OtherProcessLock() {
    ::close(release_);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  OtherProcessLock(const OtherProcessLock&) = delete;
  OtherProcessLock& operator=(const OtherProcessLock&) = delete;

 private:
  pid_t pid_ = -1;
  int release_ = -1;
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

// The output of a shell command (stdout only).
inline std::string commandOutput(const std::string& cmd, const std::string& scratch) {
  int rc = std::system((cmd + " > '" + scratch + "' 2>/dev/null").c_str());
  std::ifstream in(scratch);
  std::string out((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return rc == 0 ? out : "exit " + std::to_string(rc) + ": " + out;
}

// Every table's rows (system tables too) as JSON values, by table name.
using TableRows = std::map<std::string, std::vector<std::string>>;
inline TableRows allRows(const std::string& path, const std::string& password) {
  JetDatabase db(Env::system(), path, true, password);
  Catalog cat = db.catalog();
  TableRows out;
  PageSource pages = pageSourceOf(db.channel());
  for (const CatalogEntry& e : cat.entries()) {
    if (e.type != kObjectTypeTable || e.name == "MSysAccessObjects") continue;
    TableDefinition d = TableDefinition::read(db.channel(), e.tableDefinitionPage());
    auto& rows = out[e.name];
    db.forEachRow(d, [&](const std::vector<RawValue>& raw) {
      std::string line;
      for (std::size_t i = 0; i < raw.size(); ++i)
        line += d.columns()[i].name + "=" + toJson(decodeValue(d.columns()[i], raw[i], pages)) + " ";
      rows.push_back(line);
      return true;
    });
  }
  return out;
}

// The leaf entries of every index of the table equal the entries of its
// rows; returns the number of distinct keys of each index.
inline std::vector<std::size_t> expectIndexesMatchRows(PageChannel& channel, std::uint32_t tdef) {
  TableDefinition d = TableDefinition::read(channel, tdef);
  std::vector<std::vector<IndexEntry>> want(d.realIndexes().size());
  scanRows(channel, d, [&](RowId id, std::span<const std::uint8_t> bytes) {
    auto values = toRowValues(decodeRow(bytes, d.columns()));
    for (std::size_t i = 0; i < want.size(); ++i) want[i].push_back(indexEntryOf(d, i, values, id));
    return true;
  });
  std::vector<std::size_t> distinct;
  for (std::size_t i = 0; i < want.size(); ++i) {
    std::sort(want[i].begin(), want[i].end());
    auto have = readLeafEntries(channel.readPage(d.realIndexes()[i].firstPage));
    EXPECT_EQ(have, want[i]) << "index " << i << " of the table at page " << tdef;
    std::size_t keys = 0;
    for (std::size_t k = 0; k < have.size(); ++k)
      if (k == 0 || !std::equal(have[k].begin(), have[k].end() - 4, have[k - 1].begin(),
                                have[k - 1].end() - 4))
        ++keys;
    distinct.push_back(keys);
  }
  return distinct;
}

}  // namespace engine::testutil
