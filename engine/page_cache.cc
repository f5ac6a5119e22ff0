#include "engine/page_cache.h"

namespace engine {

bool PageCache::find(std::uint32_t n, Page& out) {
  std::lock_guard guard(mutex_);
  auto it = pages_.find(n);
  if (it == pages_.end()) return false;
  out = *it->second.page;
  return true;
}

std::shared_ptr<const Page> PageCache::view(std::uint32_t n, std::uint64_t* version) {
  std::lock_guard guard(mutex_);
  auto it = pages_.find(n);
  if (it == pages_.end()) return nullptr;
  if (version != nullptr) *version = it->second.version;
  return it->second.page;
}

std::uint64_t PageCache::put(std::uint32_t n, const Page& page) { return put(n, std::make_shared<const Page>(page)); }

std::uint64_t PageCache::put(std::uint32_t n, std::shared_ptr<const Page> page) {
  std::lock_guard guard(mutex_);
  if (pages_.size() >= kCapacity && !pages_.contains(n)) {
    pages_.clear();
    derived_.clear();
  }
  const std::uint64_t version = nextVersion_++;
  pages_.insert_or_assign(n, Cached{std::move(page), version});
  return version;
}

std::shared_ptr<const void> PageCache::derived(const std::string& key, Sources* sources,
                                               std::shared_ptr<const void>* retired) {
  std::lock_guard guard(mutex_);
  auto it = derived_.find(key);
  if (it == derived_.end()) return nullptr;
  for (const auto& [n, version] : it->second.sources) {
    auto page = pages_.find(n);
    if (page == pages_.end() || page->second.version != version) {
      if (retired != nullptr) *retired = std::move(it->second.value);
      derived_.erase(it);
      return nullptr;
    }
  }
  if (sources != nullptr) *sources = it->second.sources;
  return it->second.value;
}

void PageCache::putDerived(const std::string& key, Sources sources, std::shared_ptr<const void> value) {
  std::lock_guard guard(mutex_);
  if (derived_.size() >= kCapacity && !derived_.contains(key)) derived_.clear();
  derived_.insert_or_assign(key, Derived{std::move(sources), std::move(value)});
}

std::optional<std::uint64_t> PageCache::fileSize() {
  std::lock_guard guard(mutex_);
  return fileSize_;
}

void PageCache::setFileSize(std::uint64_t size) {
  std::lock_guard guard(mutex_);
  fileSize_ = size;
}

void PageCache::clear() {
  std::lock_guard guard(mutex_);
  pages_.clear();
  derived_.clear();
  fileSize_.reset();
}

bool PageCache::journalKept() {
  std::lock_guard guard(mutex_);
  return journalKept_;
}

void PageCache::setJournalKept(bool kept) {
  std::lock_guard guard(mutex_);
  journalKept_ = kept;
}

}  // namespace engine
