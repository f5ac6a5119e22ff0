// Read-core tests: fixtures copied into a temporary folder, the copy's bytes
// for before/after comparison, and a platform seam that counts page reads.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/env.h"

namespace engine::testing {

inline std::vector<std::uint8_t> fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::uint8_t> bytes(std::filesystem::file_size(path));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

inline void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A temporary folder removed with its contents at the end of the test.
class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    dir_ = std::filesystem::temp_directory_path() /
           ("karvelta-read-" + std::to_string(rd()) + "-" + std::to_string(rd()));
    std::filesystem::create_directories(dir_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  // Copies a fixture into the folder and returns the copy's path.
  std::string copy(const std::string& fixture) const {
    std::string to = path(fixture);
    std::filesystem::copy_file(std::filesystem::path(KARVELTA_FIXTURES_DIR) / fixture, to,
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(to, std::filesystem::perms::owner_read |
                                         std::filesystem::perms::owner_write);
    return to;
  }

 private:
  std::filesystem::path dir_;
};

// Forwards to the real environment and counts the bytes read from files.
class CountingEnv final : public Env {
 public:
  std::atomic<std::uint64_t> bytesRead{0};

  std::unique_ptr<File> open(const std::string& path, OpenMode mode) override {
    return std::make_unique<CountingFile>(Env::system().open(path, mode), bytesRead);
  }
  bool exists(const std::string& path) override { return Env::system().exists(path); }
  void remove(const std::string& path) override { Env::system().remove(path); }
  void renameNoReplace(const std::string& from, const std::string& to) override {
    Env::system().renameNoReplace(from, to);
  }
  void syncDirectory(const std::string& dir) override { Env::system().syncDirectory(dir); }
  std::unique_ptr<FileLock> tryLockExclusive(const std::string& path) override {
    return Env::system().tryLockExclusive(path);
  }
  bool isLockedElsewhere(const std::string& path) override {
    return Env::system().isLockedElsewhere(path);
  }
  std::tm localTime() override { return Env::system().localTime(); }

 private:
  class CountingFile final : public File {
   public:
    CountingFile(std::unique_ptr<File> f, std::atomic<std::uint64_t>& n) : f_(std::move(f)), n_(n) {}
    std::uint64_t size() override { return f_->size(); }
    void read(std::uint64_t offset, std::span<std::uint8_t> out) override {
      n_ += out.size();
      f_->read(offset, out);
    }
    void write(std::uint64_t offset, std::span<const std::uint8_t> data) override {
      f_->write(offset, data);
    }
    void sync() override { f_->sync(); }
    void truncate(std::uint64_t size) override { f_->truncate(size); }

   private:
    std::unique_ptr<File> f_;
    std::atomic<std::uint64_t>& n_;
  };
};

}  // namespace engine::testing
