// An Env holding one read-only database file in memory, for fuzzing.
#pragma once

#include <cstring>
#include <memory>
#include <span>
#include <string>

#include "engine/env.h"
#include "engine/error.h"

namespace engine::fuzz {

class MemoryEnv : public Env {
 public:
  MemoryEnv(std::string path, std::span<const std::uint8_t> bytes)
      : path_(std::move(path)), bytes_(bytes) {}

  std::unique_ptr<File> open(const std::string& path, OpenMode mode) override {
    if (path != path_ || mode != OpenMode::ReadOnly) throw Error("cannot open " + path);
    return std::make_unique<MemoryFile>(bytes_);
  }
  bool exists(const std::string& path) override { return path == path_; }
  void remove(const std::string& path) override { throw Error("cannot remove " + path); }
  void renameNoReplace(const std::string& from, const std::string&) override {
    throw Error("cannot rename " + from);
  }
  void syncDirectory(const std::string&) override {}
  std::unique_ptr<FileLock> tryLockExclusive(const std::string&) override { return nullptr; }
  bool isLockedElsewhere(const std::string&) override { return false; }
  std::tm localTime() override { return std::tm{}; }

 private:
  class MemoryFile : public File {
   public:
    explicit MemoryFile(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint64_t size() override { return bytes_.size(); }
    void read(std::uint64_t offset, std::span<std::uint8_t> out) override {
      if (offset > bytes_.size() || out.size() > bytes_.size() - offset)
        throw Error("read beyond the end of the file");
      if (!out.empty()) std::memcpy(out.data(), bytes_.data() + offset, out.size());
    }
    void write(std::uint64_t, std::span<const std::uint8_t>) override { throw Error("read-only"); }
    void sync() override {}
    void truncate(std::uint64_t) override { throw Error("read-only"); }

   private:
    std::span<const std::uint8_t> bytes_;
  };

  std::string path_;
  std::span<const std::uint8_t> bytes_;
};

}  // namespace engine::fuzz
