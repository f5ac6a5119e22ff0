// A forwarding Env for tests (an EnvWrapper): passes everything to a real Env
// and lets a test fix the clock or make chosen operations fail.
//
//   engine::testing::ForwardingEnv env;            // over Env::system()
//   env.setClock(tm);                              // localTime() gives tm
//   env.failWritesAfter(4096);                     // a disk that fills up
//   env.failOpen = [](auto& path, auto mode) { return mode == OpenMode::CreateNew; };
//
// Files are wrapped only while a read or write fault is set, so without
// faults the real Env's fast paths (copyFileContents) are what runs.
#pragma once

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "engine/env.h"
#include "engine/error.h"

namespace engine::testing {

class ForwardingEnv : public EnvWrapper {
 public:
  explicit ForwardingEnv(Env& base = Env::system()) : EnvWrapper(base) {}

  // --- what a test can set ----------------------------------------------

  void setClock(const std::tm& t) { clock_ = t; }
  void clearClock() { clock_.reset(); }

  // Writes through files opened for writing fail once this many bytes in
  // all have been written (the failing write writes nothing).
  void failWritesAfter(std::uint64_t bytes) { writeBudget_ = bytes; }
  // Reads fail once this many bytes in all have been read.
  void failReadsAfter(std::uint64_t bytes) { readBudget_ = bytes; }

  // Predicates consulted before forwarding; returning true makes the call
  // throw engine::Error.
  std::function<bool(const std::string& path, OpenMode mode)> failOpen;
  std::function<bool(const std::string& path)> failSync;
  std::function<bool(const std::string& from, const std::string& to)> failRename;
  std::function<bool(const std::string& dir)> failSyncDirectory;

  // What the wrapped files saw (only while a read or write fault is set).
  std::uint64_t largestRead() const { return largestRead_; }
  std::uint64_t bytesWritten() const { return written_; }

  // --- Env ----------------------------------------------------------------

  std::unique_ptr<File> open(const std::string& path, OpenMode mode) override {
    if (failOpen && failOpen(path, mode)) throw Error("injected: cannot open '" + path + "'");
    std::unique_ptr<File> file = target().open(path, mode);
    if (!faultsOnFiles()) return file;
    return std::make_unique<WrappedFile>(*this, std::move(file), path);
  }
  void renameNoReplace(const std::string& from, const std::string& to) override {
    if (failRename && failRename(from, to)) throw Error("injected: cannot rename to '" + to + "'");
    target().renameNoReplace(from, to);
  }
  void syncDirectory(const std::string& dir) override {
    if (failSyncDirectory && failSyncDirectory(dir))
      throw Error("injected: cannot flush directory '" + dir + "'");
    target().syncDirectory(dir);
  }
  std::tm localTime() override { return clock_ ? *clock_ : target().localTime(); }

  void copyFileContents(File& from, File& to) override {
    auto* wrappedFrom = dynamic_cast<WrappedFile*>(&from);
    auto* wrappedTo = dynamic_cast<WrappedFile*>(&to);
    if (wrappedFrom != nullptr || wrappedTo != nullptr) {
      Env::copyFileContents(from, to);  // byte by byte through the wrappers
      return;
    }
    target().copyFileContents(from, to);
  }

 private:
  static constexpr std::uint64_t kNoLimit = std::numeric_limits<std::uint64_t>::max();

  bool faultsOnFiles() const {
    return writeBudget_ != kNoLimit || readBudget_ != kNoLimit || static_cast<bool>(failSync);
  }

  class WrappedFile final : public File {
   public:
    WrappedFile(ForwardingEnv& env, std::unique_ptr<File> inner, std::string path)
        : env_(env), inner_(std::move(inner)), path_(std::move(path)) {}
    std::uint64_t size() override { return inner_->size(); }
    void read(std::uint64_t offset, std::span<std::uint8_t> out) override {
      if (env_.read_ + out.size() > env_.readBudget_)
        throw Error("injected: cannot read '" + path_ + "'");
      inner_->read(offset, out);
      env_.read_ += out.size();
      env_.largestRead_ = std::max<std::uint64_t>(env_.largestRead_, out.size());
    }
    void write(std::uint64_t offset, std::span<const std::uint8_t> data) override {
      if (env_.written_ + data.size() > env_.writeBudget_)
        throw Error("injected: no space left writing '" + path_ + "'");
      inner_->write(offset, data);
      env_.written_ += data.size();
    }
    void sync() override {
      if (env_.failSync && env_.failSync(path_))
        throw Error("injected: cannot flush '" + path_ + "'");
      inner_->sync();
    }
    void truncate(std::uint64_t size) override { inner_->truncate(size); }

   private:
    ForwardingEnv& env_;
    std::unique_ptr<File> inner_;
    std::string path_;
  };

  std::optional<std::tm> clock_;
  std::uint64_t writeBudget_ = kNoLimit;
  std::uint64_t readBudget_ = kNoLimit;
  std::uint64_t read_ = 0;
  std::uint64_t written_ = 0;
  std::uint64_t largestRead_ = 0;
};

}  // namespace engine::testing
