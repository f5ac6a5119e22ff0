// Read-core tests: the helpers of write_test_util.h and a platform seam that
// counts the bytes read.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "engine/env.h"
#include "engine/tests/write_test_util.h"

namespace engine::testing {

using testutil::fileBytes;
using testutil::TempDir;
using testutil::writeBytes;

// Forwards to the real environment and counts the bytes read from files.
class CountingEnv final : public EnvWrapper {
 public:
  CountingEnv() : EnvWrapper(Env::system()) {}
  std::atomic<std::uint64_t> bytesRead{0};

  std::unique_ptr<File> open(const std::string& path, OpenMode mode) override {
    return std::make_unique<CountingFile>(EnvWrapper::open(path, mode), bytesRead);
  }

 private:
  class CountingFile final : public FileWrapper {
   public:
    CountingFile(std::unique_ptr<File> f, std::atomic<std::uint64_t>& n) : FileWrapper(std::move(f)), n_(n) {}
    void read(std::uint64_t offset, std::span<std::uint8_t> out) override {
      n_ += out.size();
      FileWrapper::read(offset, out);
    }

   private:
    std::atomic<std::uint64_t>& n_;
  };
};

}  // namespace engine::testing
