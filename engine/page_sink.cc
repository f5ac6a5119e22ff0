#include "engine/page_sink.h"

#include <algorithm>
#include <string>

#include "engine/error.h"

namespace engine {
namespace {

// The largest file the format allows: 2 GiB less a byte, in whole pages.
constexpr std::uint32_t kMaxFilePages = static_cast<std::uint32_t>(0x7FFFFFFFu / kPageSize);

}  // namespace

PageSink::PageSink(File& file, std::uint32_t firstPage) : file_(file), next_(firstPage) {
  run_.reserve(kRun * kPageSize);
}

std::uint32_t PageSink::reserve() {
  if (next_ >= kMaxFilePages) throw Error("the compacted database would exceed the format's 2 GB");
  return next_++;
}

void PageSink::write(std::uint32_t n, const Page& page) {
  if (n >= next_) throw Error("page " + std::to_string(n) + " was written before it was handed out");
  const std::uint32_t runEnd = runStart_ + static_cast<std::uint32_t>(run_.size() / kPageSize);
  if (run_.empty() || n != runEnd || run_.size() >= kRun * kPageSize) {
    flushRun();
    runStart_ = n;
  }
  run_.insert(run_.end(), page.begin(), page.end());
}

void PageSink::flushRun() {
  if (run_.empty()) return;
  file_.write(std::uint64_t{runStart_} * kPageSize, run_);
  written_ = std::max(written_, runStart_ + static_cast<std::uint32_t>(run_.size() / kPageSize));
  run_.clear();
}

void PageSink::finish() {
  flushRun();
  if (written_ < next_) {
    // Pages handed out last and never written: zeros, as the file would read.
    const Page zero{};
    file_.write(std::uint64_t{next_ - 1} * kPageSize, zero);
    written_ = next_;
  }
}

}  // namespace engine
