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
//
// Beside the pages it keeps values decoded from them (a table definition,
// the catalog rows of one page, the catalog as a whole): each is kept with
// the pages it was decoded from and their versions, and is given out only
// while every one of those pages is still cached with the same version.
// Every put gives the page a new version, so a commit that changes one of the
// pages retires the value; a retired value may still serve the next decoding
// as a hint (PageChannel::rederived), checked against the pages.
#pragma once

#include <cstdint>
#include <mutex>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/page_channel.h"

namespace engine {

class PageCache {
 public:
  static constexpr std::size_t kCapacity = 1024;  // 4 MiB of pages

  // Copies page n into out when it is cached.
  bool find(std::uint32_t n, Page& out);
  // Page n as cached, shared rather than copied; null when it is not cached.
  std::shared_ptr<const Page> view(std::uint32_t n, std::uint64_t* version = nullptr);
  // Caches the page under a new version, which it returns (never 0).
  std::uint64_t put(std::uint32_t n, const Page& page);
  std::uint64_t put(std::uint32_t n, std::shared_ptr<const Page> page);

  // Pages with the versions a value was decoded from.
  using Sources = std::vector<std::pair<std::uint32_t, std::uint64_t>>;
  // The value kept under key, when each of its pages still has its version;
  // sources, when given, receives those pages. A value found retired is
  // forgotten, and given to retired when that is given.
  std::shared_ptr<const void> derived(const std::string& key, Sources* sources = nullptr,
                                      std::shared_ptr<const void>* retired = nullptr);
  void putDerived(const std::string& key, Sources sources, std::shared_ptr<const void> value);

  // The length of the file in bytes, when known.
  std::optional<std::uint64_t> fileSize();
  void setFileSize(std::uint64_t size);

  // Forgets everything: the file may have changed in ways the cache missed.
  void clear();

  // Whether the rollback journal is kept between commits: left in place and
  // voided (header zeroed) by the last commit, its name flushed into the
  // directory when it was made. The next commit writes over it without
  // flushing the directory again; the lock's holder removes it when the last connection closes.
  bool journalKept();
  void setJournalKept(bool kept);

 private:
  struct Cached {
    std::shared_ptr<const Page> page;
    std::uint64_t version;
  };
  struct Derived {
    Sources sources;
    std::shared_ptr<const void> value;
  };
  std::mutex mutex_;
  std::unordered_map<std::uint32_t, Cached> pages_;
  std::unordered_map<std::string, Derived> derived_;
  std::uint64_t nextVersion_ = 1;
  std::optional<std::uint64_t> fileSize_;
  bool journalKept_ = false;
};

}  // namespace engine
