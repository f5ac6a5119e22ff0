#include "engine/page_sink.h"

#include <algorithm>
#include <string>

#include "engine/error.h"

namespace engine {
namespace {

// The largest file the format allows: 2 GiB less a byte, in whole pages.
constexpr std::uint32_t kMaxFilePages = static_cast<std::uint32_t>(0x7FFFFFFFu / kPageSize);

}  // namespace

PageSink::PageSink(File& file, std::uint32_t firstPage)
    : file_(file), next_(firstPage), firstPage_(firstPage), done_(firstPage) {
  run_.reserve(kRun * kPageSize);
}

std::uint32_t PageSink::reserve() {
  if (next_ >= kMaxFilePages) throw Error("the compacted database would exceed the format's 2 GB");
  return next_++;
}

void PageSink::write(std::uint32_t n, const Page& page) {
  if (n >= next_) throw Error("page " + std::to_string(n) + " was written before it was handed out");
  if (n < firstPage_ || n < done_) {
    // Pages before the numbered ones (the header, the global map), and a page
    // written after the pages held beyond it were given up on: on its own.
    file_.write(std::uint64_t{n} * kPageSize, page);
    fileEnd_ = std::max(fileEnd_, n + 1);
    return;
  }
  held_[n] = page;
  flush(false);
  if (held_.size() > kHeld) {
    // A page kept open long: the pages after it go out without it.
    done_ = held_.begin()->first;
    flush(true);
  }
}

void PageSink::flush(bool all) {
  while (!held_.empty()) {
    const std::uint32_t first = held_.begin()->first;
    if (!all && first != done_) return;
    std::uint32_t end = first;
    auto it = held_.begin();
    while (it != held_.end() && it->first == end && end - first < kRun) ++it, ++end;
    // Less than a whole run: wait for the pages after it, unless told not to.
    if (!all && end - first < kRun) return;
    run_.clear();
    for (auto at = held_.begin(); at != it;) {
      run_.insert(run_.end(), at->second.begin(), at->second.end());
      at = held_.erase(at);
    }
    file_.write(std::uint64_t{first} * kPageSize, run_);
    fileEnd_ = std::max(fileEnd_, end);
    done_ = std::max(done_, end);
  }
}

void PageSink::finish() {
  flush(true);
  if (fileEnd_ < next_) {
    // Pages handed out last and never written: zeros, as the file would read.
    const Page zero{};
    file_.write(std::uint64_t{next_ - 1} * kPageSize, zero);
    fileEnd_ = next_;
  }
}

}  // namespace engine
