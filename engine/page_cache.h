// Pages of one database file kept in memory for every connection of this
// process to it, while this process holds the database's lock: no other
// process writes the file then, and every write of ours goes through a page
// channel that keeps the cache up to date. So a connection opened after
// another one sees the first one's changes without reading them again, and
// an update run that opens a connection per operation reads each page of the
// catalog once instead of once per operation.
//
// The page channel fills the cache from what it reads and from the pages it
// commits; a commit that fails, or a journal found on open, empties it. The
// cache is bounded: once it holds kCapacity pages it starts afresh, so a scan
// of a large table keeps memory flat. Safe to share between threads.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "engine/page_channel.h"

namespace engine {

class PageCache {
 public:
  static constexpr std::size_t kCapacity = 1024;  // 4 MiB of pages

  // Copies page n into out when it is cached.
  bool find(std::uint32_t n, Page& out);
  void put(std::uint32_t n, const Page& page);

  // The length of the file in bytes, when known.
  std::optional<std::uint64_t> fileSize();
  void setFileSize(std::uint64_t size);

  // Forgets everything: the file may have changed in ways the cache missed.
  void clear();

 private:
  std::mutex mutex_;
  std::unordered_map<std::uint32_t, Page> pages_;
  std::optional<std::uint64_t> fileSize_;
};

}  // namespace engine
