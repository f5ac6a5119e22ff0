// Writing a new database file page by page, in the order its pages are laid
// out, without a transaction: for a file that has no name yet (compaction's
// temporary file), whose partial content nobody reads.
//
// Page numbers are handed out in ascending order (reserve); a page may be
// written any time after its number was handed out, once. Pages are held
// until every page before them has been written too, and then written in
// runs of consecutive pages (up to kRun a call), so that a layout that keeps
// a few pages open at a time (a data page, a long-value page, a page of each
// index level) still costs a write per kRun pages. At most kHeld pages are
// held: beyond that the lowest ones are written as they are (a page still
// open then is written on its own when it is done). Pages handed out and
// never written read as zeros (finish() extends the file over them).
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "engine/env.h"
#include "engine/page_channel.h"

namespace engine {

class PageSink {
 public:
  static constexpr std::size_t kRun = 256;
  static constexpr std::size_t kHeld = 4 * kRun;

  // Writes into file; numbers are handed out from firstPage on.
  PageSink(File& file, std::uint32_t firstPage);

  // The next page number; Error beyond the format's largest file.
  std::uint32_t reserve();
  // Pages handed out so far (the file's length in pages once finished).
  std::uint32_t pageCount() const { return next_; }
  // Stores page n (a number handed out already).
  void write(std::uint32_t n, const Page& page);
  // Writes every page held and extends the file to pageCount() pages.
  void finish();

 private:
  // Writes the held pages from the lowest on while they are consecutive
  // (all of them when `all`), in runs.
  void flush(bool all);

  File& file_;
  std::uint32_t next_;
  std::uint32_t firstPage_;
  std::uint32_t done_;                     // every page below it written or given up on
  std::map<std::uint32_t, Page> held_;     // written by the caller, not yet to the file
  std::vector<std::uint8_t> run_;
  std::uint32_t fileEnd_ = 0;              // the file's length in pages
};

}  // namespace engine
