// Writing a new database file page by page, in the order its pages are laid
// out, without a transaction: for a file that has no name yet (compaction's
// temporary file), whose partial content nobody reads.
//
// Page numbers are handed out in ascending order (reserve); a page may be
// written any time after its number was handed out, once. Pages are held
// until every page before them has been written too, and then written in
// runs of consecutive pages (up to kRun a call), so that a layout that keeps
// a few pages open at a time (a data page, a long-value page, a page of each
// index level) still costs a write per kRun pages. The run being gathered
// is one buffer that pages in order are copied into; a page ahead of it
// waits beside it. At most kHeld pages wait: beyond that the run goes out as
// it is, the gap before the lowest waiting page is given up on (a page
// still open then is written on its own when it is done), and the waiting
// pages go out in runs. Pages handed out and never written read as zeros
// (finish() extends the file over them).
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
  // Stores page n (a number handed out already); Error for a page written
  // twice while it is still held.
  void write(std::uint32_t n, const Page& page);
  // Writes every page held and extends the file to pageCount() pages.
  void finish();

 private:
  // Copies the page after the run into it; a full run goes out.
  void append(const Page& page);
  // Moves the waiting pages that continue the run into it.
  void absorb();
  // Writes the run gathered so far.
  void writeRun();
  // Writes the run and every waiting page, in runs; the gaps between them
  // are given up on.
  void drainHeld();

  File& file_;
  std::uint32_t next_;
  std::uint32_t firstPage_;
  std::uint32_t done_;                     // every page below it written, in the run, or given up on
  std::vector<std::uint8_t> run_;          // pages done_ - runPages_ .. done_ - 1
  std::uint32_t runPages_ = 0;
  std::map<std::uint32_t, Page> held_;     // written by the caller beyond the run, waiting
  std::uint32_t fileEnd_ = 0;              // the file's length in pages
};

}  // namespace engine
