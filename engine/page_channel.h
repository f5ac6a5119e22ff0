// Page-level access to a database file. Nothing above this class touches the
// file: reads are whole, bounds-checked pages; writes (with their rollback
// journal) go through here as well.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/env.h"

namespace engine {

inline constexpr std::size_t kPageSize = 4096;
using Page = std::array<std::uint8_t, kPageSize>;

class PageChannel {
 public:
  // Opens the file; readOnly opens it without write access.
  PageChannel(Env& env, std::string path, bool readOnly);
  ~PageChannel();
  PageChannel(const PageChannel&) = delete;
  PageChannel& operator=(const PageChannel&) = delete;

  const std::string& path() const { return path_; }
  bool readOnly() const { return readOnly_; }
  Env& env() { return env_; }

  // Number of whole pages in the file.
  std::uint32_t pageCount();
  // Reads page n; an Error when n is beyond the end of the file.
  Page readPage(std::uint32_t n);

 private:
  Env& env_;
  std::string path_;
  bool readOnly_;
  std::unique_ptr<File> file_;
};

}  // namespace engine
