// A file that nobody changes while it is open (a database under our lock,
// opened for reading only; a file of ours that has no name yet), read ahead
// where it is read in order, so that a pass over the file costs a system
// call per window of pages rather than one per page.
//
// A read that goes on shortly after one of the last few reads read on their
// own (the next page, or the one after a page of something else) starts a
// stream: a window of the bytes from there, read in one call. A read at or shortly after a window's end moves
// that window on and doubles it (up to kMaxWindow), as the system's own
// read-ahead ramps up. A few streams are followed at once (a table's data
// pages and the long values they point to advance side by side); the one
// used least recently gives way to a new one. Reads elsewhere, and small
// reads (a page's head) that no window holds, are read as asked. The size is
// asked of the file once; every write is an Error.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "engine/env.h"

namespace engine {

class ReadAheadFile final : public File {
 public:
  static constexpr std::size_t kFirstWindow = std::size_t{32} << 10;
  // Larger windows save few calls (a call costs about what copying a few
  // pages does) and cost a fresh buffer's page faults on every channel.
  static constexpr std::size_t kMaxWindow = std::size_t{128} << 10;
  // How far after a window's end (or a read's) a read still goes on from it.
  static constexpr std::uint64_t kNear = std::uint64_t{64} << 10;
  static constexpr std::size_t kStreams = 4;
  static constexpr std::size_t kCandidates = 8;
  // Reads shorter than this start or move no window.
  static constexpr std::size_t kSmallRead = 512;

  explicit ReadAheadFile(std::unique_ptr<File> file);

  std::uint64_t size() override;
  void read(std::uint64_t offset, std::span<std::uint8_t> out) override;
  void write(std::uint64_t offset, std::span<const std::uint8_t> data) override;
  void sync() override;
  void truncate(std::uint64_t size) override;

 private:
  struct Window {
    // kMaxWindow bytes, taken when the window is first filled and kept, so
    // that a growing window is neither copied nor cleared.
    std::unique_ptr<std::uint8_t[]> buffer;
    std::size_t length = 0;           // bytes read into it; 0: unused
    std::uint64_t start = 0;
    std::size_t next = kFirstWindow;  // the size it is read at next
    std::uint64_t used = 0;           // when it served last
    std::uint64_t end() const { return start + length; }
  };
  // Reads the window afresh at offset; false when the file ends before
  // `needed` bytes, or `needed` is more than a window holds (the caller
  // reads as asked, and fails as the file does).
  bool fill(Window& w, std::uint64_t offset, std::size_t needed);

  std::unique_ptr<File> file_;
  std::optional<std::uint64_t> size_;
  std::array<Window, kStreams> windows_{};
  std::array<std::uint64_t, kCandidates> candidates_{};  // where reads outside any window ended
  std::size_t nextCandidate_ = 0;
  std::uint64_t clock_ = 0;
};

}  // namespace engine
