#include "engine/read_ahead_file.h"

#include <algorithm>
#include <cstring>

#include "engine/error.h"

namespace engine {

ReadAheadFile::ReadAheadFile(std::unique_ptr<File> file) : file_(std::move(file)) {
  if (!file_) throw Error("no file to read");
  candidates_.fill(UINT64_MAX);
}

std::uint64_t ReadAheadFile::size() {
  if (!size_) size_ = file_->size();
  return *size_;
}

bool ReadAheadFile::fill(Window& w, std::uint64_t offset, std::size_t needed) {
  const std::uint64_t total = size();
  if (offset >= total || total - offset < needed || needed > kMaxWindow) return false;
  const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(std::max(w.next, needed), total - offset));
  if (!w.buffer) w.buffer = std::make_unique_for_overwrite<std::uint8_t[]>(kMaxWindow);
  w.length = 0;
  file_->read(offset, std::span(w.buffer.get(), length));
  w.length = length;
  w.start = offset;
  w.next = std::min(kMaxWindow, w.next * 2);
  return true;
}

void ReadAheadFile::read(std::uint64_t offset, std::span<std::uint8_t> out) {
  const std::uint64_t end = offset + out.size();
  Window* serving = nullptr;
  for (Window& w : windows_)
    if (w.length != 0 && offset >= w.start && end <= w.end()) serving = &w;
  if (serving == nullptr && out.size() < kSmallRead) {
    file_->read(offset, out);
    return;
  }
  if (serving == nullptr) {
    for (Window& w : windows_)
      if (w.length != 0 && offset >= w.end() && offset - w.end() <= kNear && fill(w, offset, out.size())) {
        serving = &w;
        break;
      }
  }
  if (serving == nullptr) {
    const auto continued = std::find_if(candidates_.begin(), candidates_.end(),
                                        [offset](std::uint64_t c) { return offset >= c && offset - c <= kNear; });
    if (continued != candidates_.end()) {
      Window& w = *std::min_element(windows_.begin(), windows_.end(),
                                    [](const Window& a, const Window& b) { return a.used < b.used; });
      w.next = kFirstWindow;
      if (fill(w, offset, out.size())) {
        *continued = UINT64_MAX;
        serving = &w;
      }
    }
  }
  if (serving == nullptr) {
    file_->read(offset, out);
    candidates_[nextCandidate_] = end;
    nextCandidate_ = (nextCandidate_ + 1) % kCandidates;
    return;
  }
  serving->used = ++clock_;
  std::memcpy(out.data(), serving->buffer.get() + (offset - serving->start), out.size());
}

void ReadAheadFile::write(std::uint64_t, std::span<const std::uint8_t>) {
  throw Error("the file is open for reading only");
}
void ReadAheadFile::sync() { throw Error("the file is open for reading only"); }
void ReadAheadFile::truncate(std::uint64_t) { throw Error("the file is open for reading only"); }

}  // namespace engine
