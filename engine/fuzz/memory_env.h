// An Env whose files live in memory, for fuzzing: the database under test,
// and whatever the engine creates beside it (journal, lock file). Locks are
// always granted; no other process exists.
#pragma once

#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/env.h"
#include "engine/error.h"

namespace engine::fuzz {

class MemoryEnv : public Env {
 public:
  using Bytes = std::vector<std::uint8_t>;

  MemoryEnv(const std::string& path, std::span<const std::uint8_t> bytes) {
    files_[path] = std::make_shared<Bytes>(bytes.begin(), bytes.end());
  }

  // The current content of a file (empty when there is none).
  Bytes contents(const std::string& path) const {
    auto it = files_.find(path);
    return it == files_.end() ? Bytes{} : *it->second;
  }
  // Gives the file at path these bytes, creating it when there is none.
  // Files the engine holds open see the new bytes too.
  void put(const std::string& path, std::span<const std::uint8_t> bytes) {
    auto& slot = files_[path];
    if (!slot) slot = std::make_shared<Bytes>();
    slot->assign(bytes.begin(), bytes.end());
  }

  std::unique_ptr<File> open(const std::string& path, OpenMode mode) override {
    auto it = files_.find(path);
    switch (mode) {
      case OpenMode::ReadOnly:
      case OpenMode::ReadWrite:
        if (it == files_.end()) throw Error("no file " + path);
        break;
      case OpenMode::CreateNew:
        if (it != files_.end()) throw Error("file exists: " + path);
        it = files_.emplace(path, std::make_shared<Bytes>()).first;
        break;
      case OpenMode::CreateOrTruncate:
        if (it == files_.end()) it = files_.emplace(path, std::make_shared<Bytes>()).first;
        it->second->clear();
        break;
    }
    return std::make_unique<MemoryFile>(it->second, mode != OpenMode::ReadOnly);
  }
  bool exists(const std::string& path) override { return files_.count(path) != 0; }
  void remove(const std::string& path) override { files_.erase(path); }
  void renameNoReplace(const std::string& from, const std::string& to) override {
    auto it = files_.find(from);
    if (it == files_.end()) throw Error("no file " + from);
    if (files_.count(to) != 0) throw Error("file exists: " + to);
    auto bytes = it->second;
    files_.erase(it);
    files_[to] = std::move(bytes);
  }
  void syncDirectory(const std::string&) override {}
  std::unique_ptr<FileLock> tryLockExclusive(const std::string&) override {
    return std::make_unique<FileLock>();
  }
  bool isLockedElsewhere(const std::string&) override { return false; }
  std::optional<std::string> programDirectory() override { return std::nullopt; }
  std::tm localTime() override {
    std::tm t{};
    t.tm_year = 126;
    t.tm_mon = 11;
    t.tm_mday = 7;
    return t;
  }

 private:
  class MemoryFile : public File {
   public:
    MemoryFile(std::shared_ptr<Bytes> bytes, bool writable)
        : bytes_(std::move(bytes)), writable_(writable) {}
    std::uint64_t size() override { return bytes_->size(); }
    void read(std::uint64_t offset, std::span<std::uint8_t> out) override {
      if (offset > bytes_->size() || out.size() > bytes_->size() - offset)
        throw Error("read beyond the end of the file");
      if (!out.empty()) std::memcpy(out.data(), bytes_->data() + offset, out.size());
    }
    void write(std::uint64_t offset, std::span<const std::uint8_t> data) override {
      if (!writable_) throw Error("read-only");
      // Bounded like a real disk, so that a hostile offset cannot ask for
      // gigabytes of memory.
      if (offset > kMaxFileSize || data.size() > kMaxFileSize - offset) throw Error("disk full");
      if (bytes_->size() < offset + data.size()) bytes_->resize(offset + data.size());
      if (!data.empty()) std::memcpy(bytes_->data() + offset, data.data(), data.size());
    }
    void sync() override {}
    void truncate(std::uint64_t size) override {
      if (!writable_) throw Error("read-only");
      if (size > kMaxFileSize) throw Error("disk full");
      bytes_->resize(size);
    }

   private:
    static constexpr std::uint64_t kMaxFileSize = 64u << 20;
    std::shared_ptr<Bytes> bytes_;
    bool writable_;
  };

  std::map<std::string, std::shared_ptr<Bytes>> files_;
};

}  // namespace engine::fuzz
