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
  run_.resize(kRun * kPageSize);
}

std::uint32_t PageSink::reserve() {
  if (next_ >= kMaxFilePages) throw Error("the compacted database would exceed the format's 2 GB");
  return next_++;
}

void PageSink::write(std::uint32_t n, const Page& page) {
  if (n >= next_) throw Error("page " + std::to_string(n) + " was written before it was handed out");
  if (n < firstPage_ || n < done_ - runPages_) {
    // Pages before the numbered ones (the header, the global map), and a page
    // written after the pages held beyond it were given up on: on its own.
    file_.write(std::uint64_t{n} * kPageSize, page);
    fileEnd_ = std::max(fileEnd_, n + 1);
    return;
  }
  if (n < done_ || held_.count(n) != 0) throw Error("page " + std::to_string(n) + " was written twice");
  if (n == done_) {
    append(page);
    absorb();
    return;
  }
  held_[n] = page;
  // A page kept open long: the pages after it go out without it.
  if (held_.size() > kHeld) drainHeld();
}

void PageSink::append(const Page& page) {
  std::copy(page.begin(), page.end(), run_.begin() + static_cast<std::ptrdiff_t>(std::size_t{runPages_} * kPageSize));
  ++runPages_;
  ++done_;
  if (runPages_ == kRun) writeRun();
}

void PageSink::absorb() {
  for (auto it = held_.begin(); it != held_.end() && it->first == done_; it = held_.erase(it)) append(it->second);
}

void PageSink::drainHeld() {
  writeRun();
  while (!held_.empty()) {
    done_ = held_.begin()->first;
    absorb();
    writeRun();
  }
}

void PageSink::writeRun() {
  if (runPages_ == 0) return;
  const std::uint32_t first = done_ - runPages_;
  file_.write(std::uint64_t{first} * kPageSize,
              std::span<const std::uint8_t>(run_).first(std::size_t{runPages_} * kPageSize));
  fileEnd_ = std::max(fileEnd_, done_);
  runPages_ = 0;
}

void PageSink::finish() {
  drainHeld();
  if (fileEnd_ < next_) {
    // Pages handed out last and never written: zeros, as the file would read.
    const Page zero{};
    file_.write(std::uint64_t{next_ - 1} * kPageSize, zero);
    fileEnd_ = next_;
  }
}

}  // namespace engine
