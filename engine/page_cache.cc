#include "engine/page_cache.h"

namespace engine {

bool PageCache::find(std::uint32_t n, Page& out) {
  std::lock_guard guard(mutex_);
  auto it = pages_.find(n);
  if (it == pages_.end()) return false;
  out = it->second;
  return true;
}

void PageCache::put(std::uint32_t n, const Page& page) {
  std::lock_guard guard(mutex_);
  if (pages_.size() >= kCapacity && !pages_.contains(n)) pages_.clear();
  pages_.insert_or_assign(n, page);
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
  fileSize_.reset();
}

}  // namespace engine
