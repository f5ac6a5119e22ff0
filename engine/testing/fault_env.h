// A test Env that forwards to another Env and injects faults into the calls
// that change the disk.
//
// Calls fall into two counted kinds:
//   writes: File::write, File::truncate, Env::remove, Env::renameNoReplace
//   syncs:  File::sync, Env::syncDirectory
// One fault is armed at a time, for the Nth call of a kind (counting from 1
// since the fault was armed):
//   Fail        the call throws engine::Error and does nothing; later calls
//               work normally (a full disk, an I/O error);
//   CrashAfter  the call is carried out, then SimulatedCrash is thrown and
//               every later call of any kind throws SimulatedCrash too, so
//               nothing else reaches the disk (the power went off);
//   TornCrash   (writes only) the first half of the data is written, then
//               as CrashAfter.
// A test loops N = 1, 2, ... until the operation completes without the fault
// firing (fired() stays false), checking the file after each run.
//
// Paths given to denyWriteAccess() open read-only only: opening them for
// writing fails as a file without write permission does. Folders given to
// denyWritesUnder() are as read-only media, or a share this user may only
// read: no file in them or below opens for writing, none is created, removed
// or renamed there, and no lock file there can be taken.
//
// With loseUnsyncedOnCrash(true), a simulated crash also takes back what a
// power cut may lose: every write or truncation not yet flushed by
// File::sync, and every file creation or removal not yet flushed by
// syncDirectory of its folder (a rename taken back returns the file to its
// old name);
// loseUnsyncedOnlyOf(files) takes back only what concerns those files, as a
// disk that wrote the others back first leaves it.
//
// Faults are armed and counted for changes made on one thread; other
// threads may read files meanwhile (and see a crash as the writer does).
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "engine/env.h"
#include "engine/error.h"
#include "engine/path.h"

namespace engine::testing {

// What a simulated crash throws. Not an engine::Error, so that no code that
// handles refusals swallows it.
class SimulatedCrash : public std::exception {
 public:
  const char* what() const noexcept override { return "simulated crash"; }
};

class FaultEnv final : public Env {
 public:
  enum class Kind { Write, Sync };
  enum class Mode { Fail, CrashAfter, TornCrash };

  explicit FaultEnv(Env& base) : base_(base), state_(std::make_shared<State>(base)) {}

  // Arms a fault for the nth call (n >= 1) of the kind; resets the counters.
  void arm(Kind kind, Mode mode, int n) {
    state_->kind = kind;
    state_->mode = mode;
    state_->target = n;
    state_->writes = 0;
    state_->syncs = 0;
    state_->armed = true;
    state_->fired = false;
    state_->crashed = false;
  }
  void disarm() {
    state_->armed = false;
    state_->crashed = false;
  }
  bool fired() const { return state_->fired; }
  bool crashed() const { return state_->crashed; }
  int writes() const { return state_->writes; }
  int syncs() const { return state_->syncs; }

  // The power goes off now, between calls: with loseUnsyncedOnCrash, what
  // was not flushed is lost, and every later call throws SimulatedCrash.
  void powerCut() {
    state_->crashed = true;
    if (state_->loseUnsynced) state_->takeBackUnsynced();
  }

  void denyWriteAccess(const std::string& path) { state_->readOnlyPaths.insert(path); }
  void denyWritesUnder(const std::string& dir) { state_->readOnlyDirs.push_back(dir); }
  void loseUnsyncedOnCrash(bool on) { state_->loseUnsynced = on; }
  // Loses, of what was not flushed, only the changes to files for which
  // `loses` holds (their data, creation and removal); the rest reached the
  // disk. Disks write back in any order, so any such split can happen.
  void loseUnsyncedOnlyOf(std::function<bool(const std::string& path)> loses) {
    state_->loseUnsynced = true;
    state_->loses = std::move(loses);
  }

  std::unique_ptr<File> open(const std::string& path, OpenMode mode) override {
    state_->checkAlive();
    if (mode != OpenMode::ReadOnly && state_->readOnlyPaths.count(path))
      throw Error("cannot open '" + path + "': Permission denied");
    if (mode != OpenMode::ReadOnly) state_->checkWritable("cannot open", path);
    // Creating or emptying a file changes the disk: counted as a write.
    if (mode == OpenMode::CreateNew || mode == OpenMode::CreateOrTruncate) {
      state_->beforeWrite();
      if (state_->loseUnsynced) {
        if (base_.exists(path))
          state_->recordData(path, 0, 0);
        else
          state_->undo.push_back(Undo{Undo::Created, path, 0, {}, 0});
      }
      auto f = base_.open(path, mode);
      state_->afterWrite();
      return std::make_unique<FaultFile>(std::move(f), path, state_);
    }
    return std::make_unique<FaultFile>(base_.open(path, mode), path, state_);
  }
  bool exists(const std::string& path) override {
    state_->checkAlive();
    return base_.exists(path);
  }
  void remove(const std::string& path) override {
    if (base_.exists(path)) state_->checkWritable("cannot remove", path);
    state_->beforeWrite();
    if (state_->loseUnsynced && base_.exists(path)) {
      auto f = base_.open(path, OpenMode::ReadOnly);
      const std::uint64_t size = f->size();
      if (size > SIZE_MAX) throw Error("'" + path + "' is too large to keep in memory");
      Undo u{Undo::Removed, path, 0, std::vector<std::uint8_t>(static_cast<std::size_t>(size)), 0};
      f->read(0, u.old);
      state_->undo.push_back(std::move(u));
    }
    base_.remove(path);
    state_->afterWrite();
  }
  void renameNoReplace(const std::string& from, const std::string& to) override {
    state_->checkWritable("cannot rename", from);
    state_->checkWritable("cannot rename to", to);
    state_->beforeWrite();
    base_.renameNoReplace(from, to);
    if (state_->loseUnsynced) {
      // What is still to be taken back of the file now has its new name.
      for (Undo& u : state_->undo)
        if (u.path == from) u.path = to;
      state_->undo.push_back(Undo{Undo::Renamed, to, 0, {}, 0, from});
    }
    state_->afterWrite();
  }
  void syncDirectory(const std::string& dir) override {
    state_->beforeSync();
    base_.syncDirectory(dir);
    state_->directorySynced(dir);
    state_->afterSync();
  }
  std::unique_ptr<FileLock> tryLockExclusive(const std::string& path) override {
    state_->checkAlive();
    state_->checkWritable("cannot open lock file", path);
    return base_.tryLockExclusive(path);
  }
  bool isLockedElsewhere(const std::string& path) override {
    state_->checkAlive();
    return base_.isLockedElsewhere(path);
  }
  std::tm localTime() override {
    state_->checkAlive();
    return base_.localTime();
  }
  std::optional<std::string> programDirectory() override { return base_.programDirectory(); }

 private:
  // What a crash takes back (loseUnsyncedOnCrash).
  struct Undo {
    enum Type { Data, Created, Removed, Renamed } type;
    std::string path;
    std::uint64_t offset;            // Data: where the old bytes go back
    std::vector<std::uint8_t> old;   // Data: bytes overwritten; Removed: the file
    std::uint64_t oldSize;           // Data: the file's length before
    std::string from = {};           // Renamed: the old name
  };

  struct State {
    explicit State(Env& b) : base(b) {}
    Env& base;
    bool loseUnsynced = false;
    std::function<bool(const std::string&)> loses;  // empty: every file
    std::vector<Undo> undo;

    // Saves what a write of `length` bytes at `offset` (or a truncation to
    // `offset`, length 0) overwrites.
    void recordData(const std::string& path, std::uint64_t offset, std::uint64_t length) {
      auto f = base.open(path, OpenMode::ReadOnly);
      std::uint64_t size = f->size();
      std::uint64_t end = length == 0 ? size : std::min(size, offset + length);
      Undo u{Undo::Data, path, offset, {}, size};
      if (end > offset) {
        u.old.resize(static_cast<std::size_t>(end - offset));
        f->read(offset, u.old);
      }
      undo.push_back(std::move(u));
    }
    void fileSynced(const std::string& path) {
      std::erase_if(undo, [&](const Undo& u) { return u.type == Undo::Data && u.path == path; });
    }
    void directorySynced(const std::string& dir) {
      std::erase_if(undo, [&](const Undo& u) { return u.type != Undo::Data && directoryOf(u.path) == dir; });
    }
    void takeBackUnsynced() {
      const std::lock_guard guard(closedMutex);
      for (auto it = undo.rbegin(); it != undo.rend(); ++it) {
        if (loses && !loses(it->path)) continue;
        if (it->type == Undo::Created) {
          try {
            base.remove(it->path);
          } catch (const Error&) {
            // Windows removes no file that a handle of this process holds
            // open: the removal waits until the last File closes, as the
            // crashed process's handles would have.
            removeWhenClosed.push_back(it->path);
          }
        } else if (it->type == Undo::Removed) {
          base.open(it->path, OpenMode::CreateOrTruncate)->write(0, it->old);
        } else if (it->type == Undo::Renamed) {
          if (base.exists(it->path) && !base.exists(it->from)) {
            try {
              base.renameNoReplace(it->path, it->from);
            } catch (const Error&) {
              renameWhenClosed.emplace_back(it->path, it->from);  // as for removals, below
            }
          }
          // What happened to the file before the rename, under its old name.
          for (auto earlier = std::next(it); earlier != undo.rend(); ++earlier)
            if (earlier->path == it->path) earlier->path = it->from;
        } else if (base.exists(it->path)) {
          auto f = base.open(it->path, OpenMode::ReadWrite);
          if (!it->old.empty()) f->write(it->offset, it->old);
          f->truncate(it->oldSize);
        }
      }
      undo.clear();
    }
    // Guards the two lists below: Files close on any thread.
    std::mutex closedMutex;
    std::vector<std::string> removeWhenClosed;
    std::vector<std::pair<std::string, std::string>> renameWhenClosed;
    void retryRemovals() {
      const std::lock_guard guard(closedMutex);
      std::erase_if(renameWhenClosed, [&](const std::pair<std::string, std::string>& r) {
        try {
          base.renameNoReplace(r.first, r.second);
          return true;
        } catch (const Error&) {
          return false;
        }
      });
      std::erase_if(removeWhenClosed, [&](const std::string& path) {
        try {
          base.remove(path);
          return true;
        } catch (const Error&) {
          return false;
        }
      });
    }

    Kind kind = Kind::Write;
    Mode mode = Mode::Fail;
    int target = 0;
    int writes = 0;
    int syncs = 0;
    bool armed = false;
    bool fired = false;
    std::atomic<bool> crashed{false};
    std::set<std::string> readOnlyPaths;
    std::vector<std::string> readOnlyDirs;

    // Throws as read-only media do when path lies under a folder given to
    // denyWritesUnder.
    void checkWritable(const char* what, const std::string& path) const {
      for (const std::string& dir : readOnlyDirs) {
        const bool under = path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 &&
                           (isPathSeparator(path[dir.size()]) || isPathSeparator(dir.back()));
        if (under) throw Error(std::string(what) + " '" + path + "': Read-only file system");
      }
    }

    void checkAlive() const {
      // pendingCrash still set: the armed call itself failed underneath.
      if (crashed || pendingCrash) throw SimulatedCrash();
    }
    // True when this call is the armed one.
    bool hit(Kind k) {
      int& counter = k == Kind::Write ? writes : syncs;
      ++counter;
      return armed && !fired && kind == k && counter == target;
    }
    std::atomic<bool> pendingCrash{false};
    void before(Kind k) {
      checkAlive();
      if (!hit(k)) return;
      fired = true;
      if (mode == Mode::Fail) throw Error("injected I/O failure");
      pendingCrash = true;
    }
    void after() {
      if (!pendingCrash) return;
      pendingCrash = false;
      crashed = true;
      if (loseUnsynced) takeBackUnsynced();
      throw SimulatedCrash();
    }
    void beforeWrite() { before(Kind::Write); }
    void afterWrite() { after(); }
    void beforeSync() { before(Kind::Sync); }
    void afterSync() { after(); }
  };

  class FaultFile final : public File {
   public:
    FaultFile(std::unique_ptr<File> base, std::string path, std::shared_ptr<State> state)
        : base_(std::move(base)), path_(std::move(path)), state_(std::move(state)) {}
    ~FaultFile() override {
      base_.reset();
      state_->retryRemovals();
    }
    FaultFile(const FaultFile&) = delete;
    FaultFile& operator=(const FaultFile&) = delete;
    std::uint64_t size() override {
      state_->checkAlive();
      return base_->size();
    }
    void read(std::uint64_t offset, std::span<std::uint8_t> out) override {
      state_->checkAlive();
      base_->read(offset, out);
    }
    void write(std::uint64_t offset, std::span<const std::uint8_t> data) override {
      state_->beforeWrite();
      if (state_->loseUnsynced && !data.empty()) state_->recordData(path_, offset, data.size());
      if (state_->pendingCrash && state_->mode == Mode::TornCrash)
        base_->write(offset, data.first(data.size() / 2));
      else
        base_->write(offset, data);
      state_->afterWrite();
    }
    void sync() override {
      state_->beforeSync();
      base_->sync();
      state_->fileSynced(path_);
      state_->afterSync();
    }
    void truncate(std::uint64_t size) override {
      state_->beforeWrite();
      if (state_->loseUnsynced) state_->recordData(path_, size, 0);
      base_->truncate(size);
      state_->afterWrite();
    }

   private:
    std::unique_ptr<File> base_;
    std::string path_;
    std::shared_ptr<State> state_;
  };

  Env& base_;
  std::shared_ptr<State> state_;
};

}  // namespace engine::testing
