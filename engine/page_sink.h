// Writing a new database file page by page, in the order its pages are laid
// out, without a transaction: for a file that has no name yet (compaction's
// temporary file), whose partial content nobody reads.
//
// Page numbers are handed out in ascending order (reserve); a page may be
// written any time after its number was handed out, once. Consecutive pages
// are gathered and written in one call of up to kRun pages, so that a file
// written in order costs a write per kRun pages. Pages handed out and never
// written read as zeros (the file is extended over them when a later page is
// written, and finish() extends it to the last number handed out).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/env.h"
#include "engine/page_channel.h"

namespace engine {

class PageSink {
 public:
  static constexpr std::size_t kRun = 256;

  // Writes into file; numbers are handed out from firstPage on.
  PageSink(File& file, std::uint32_t firstPage);

  // The next page number; Error beyond the format's largest file.
  std::uint32_t reserve();
  // Pages handed out so far (the file's length in pages once finished).
  std::uint32_t pageCount() const { return next_; }
  // Stores page n (a number handed out already).
  void write(std::uint32_t n, const Page& page);
  // Writes what is gathered and extends the file to pageCount() pages.
  void finish();

 private:
  void flushRun();

  File& file_;
  std::uint32_t next_;
  std::uint32_t runStart_ = 0;
  std::vector<std::uint8_t> run_;  // pages runStart_.. gathered, not yet written
  std::uint32_t written_ = 0;      // pages the file holds (its length in pages)
};

}  // namespace engine
