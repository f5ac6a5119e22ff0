// Read-side tests: a fixture copied into a temporary folder and opened
// read-only, with its catalog.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "engine/catalog.h"
#include "engine/env.h"
#include "engine/page_channel.h"

namespace engine::testing {

class FixtureCopy {
 public:
  explicit FixtureCopy(const std::string& name) {
    std::random_device rd;
    dir_ = std::filesystem::temp_directory_path() /
           ("karvelta-values-" + std::to_string(rd()) + "-" + std::to_string(rd()));
    std::filesystem::create_directories(dir_);
    path_ = (dir_ / name).string();
    std::filesystem::copy_file(std::filesystem::path(KARVELTA_FIXTURES_DIR) / name, path_);
    channel_ = std::make_unique<PageChannel>(Env::system(), path_, true);
    catalog_ = Catalog::read(*channel_);
  }
  ~FixtureCopy() {
    channel_.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  FixtureCopy(const FixtureCopy&) = delete;
  FixtureCopy& operator=(const FixtureCopy&) = delete;

  const std::string& path() const { return path_; }
  PageChannel& channel() { return *channel_; }
  const Catalog& catalog() const { return catalog_; }
  const CatalogEntry& table(const std::string& name) const {
    const CatalogEntry* e = catalog_.findUserTable(name);
    if (e == nullptr) throw std::runtime_error("fixture has no table " + name);
    return *e;
  }

 private:
  std::filesystem::path dir_;
  std::string path_;
  std::unique_ptr<PageChannel> channel_;
  Catalog catalog_;
};

}  // namespace engine::testing
