#include "engine/page_channel.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <random>
#include <span>
#include <utility>
#include <vector>

#include "engine/error.h"
#include "engine/page_cache.h"
#include "engine/little_endian.h"
#include "engine/path.h"
#include "engine/read_ahead_file.h"
#include "engine/rollback_journal.h"

namespace engine {
namespace {

std::uint32_t newSalt() {
  static std::mt19937 rng{std::random_device{}()};
  return static_cast<std::uint32_t>(rng());
}

// Jet 4 keeps a file below 2 GB.
constexpr std::uint32_t kMaxPages = static_cast<std::uint32_t>(0x7FFFFFFFu / kPageSize);

// --- the global usage map: row 0 of page 1 ---
//   inline map (type 0): u8 0, u32 first page covered, bitmap (bit set = page
//                         free); pages outside its range count as free
//   reference map (type 1): u8 1, u32 page numbers of usage-map pages (type
//                         0x05), each covering (4096 - 4) * 8 pages from
//                         index * that many; bitmap from byte 4 of the page
constexpr std::uint8_t kDataPage = 0x01;
constexpr std::uint8_t kUsageMapPage = 0x05;
constexpr std::uint32_t kPagesPerMapPage = (kPageSize - 4) * 8;

struct MapRow {
  std::size_t start = 0;  // first byte of the row in page 1
  std::size_t end = 0;    // one past its last byte

  // An inline map (type 0): its bitmap, the page its first bit stands for,
  // how many pages it covers.
  std::size_t bitsAt() const { return start + 5; }
  std::uint32_t first(const Page& map) const { return get32(map, start + 1); }
  std::uint32_t bits() const { return static_cast<std::uint32_t>((end - bitsAt()) * 8); }
  bool covers(const Page& map, std::uint32_t p) const { return p >= first(map) && p - first(map) < bits(); }
  // A reference map (type 1): where the number of the map page covering
  // page p stands, or none when the row is too short to name it.
  std::optional<std::size_t> slotOf(std::uint32_t p) const {
    const std::size_t slot = start + 1 + 4 * std::size_t{p / kPagesPerMapPage};
    if (slot + 4 > end) return std::nullopt;
    return slot;
  }
};

MapRow findGlobalMapRow(const Page& page) {
  if (page[0] != kDataPage) throw Error("page 1 is not the global usage map");
  std::uint16_t rows = get16(page, 12);
  if (rows < 1 || 14 + 2 * std::size_t{rows} > kPageSize)
    throw Error("page 1 is not the global usage map");
  std::uint16_t offset = get16(page, 14);
  if (offset & 0xC000) throw Error("the global usage map row is deleted or moved");
  MapRow row;
  row.start = offset & 0x1FFF;
  row.end = kPageSize;  // row 0 runs to the end of the page
  if (row.start < 14 + 2 * std::size_t{rows} || row.end - row.start < 5)
    throw Error("the global usage map row is malformed");
  return row;
}

bool bitSet(const Page& page, std::size_t bitsAt, std::uint32_t bit) {
  return (page[bitsAt + bit / 8] >> (bit % 8)) & 1;
}
void clearBit(Page& page, std::size_t bitsAt, std::uint32_t bit) {
  page[bitsAt + bit / 8] = static_cast<std::uint8_t>(page[bitsAt + bit / 8] & ~(1u << (bit % 8)));
}
void setBit(Page& page, std::size_t bitsAt, std::uint32_t bit) {
  page[bitsAt + bit / 8] = static_cast<std::uint8_t>(page[bitsAt + bit / 8] | 1u << (bit % 8));
}

}  // namespace

PageChannel::PageChannel(Env& env, std::string path, bool readOnly, std::shared_ptr<PageCache> cache)
    : PageChannel(env, path, env.open(path, readOnly ? OpenMode::ReadOnly : OpenMode::ReadWrite), readOnly,
                  std::move(cache)) {}

PageChannel::PageChannel(Env& env, std::string path, std::unique_ptr<File> file, bool readOnly,
                         std::shared_ptr<PageCache> cache)
    : env_(env), path_(std::move(path)), readOnly_(readOnly), file_(std::move(file)), cache_(std::move(cache)) {
  if (!file_) throw Error("no file given for the database '" + path_ + "'");
  try {
    recoverJournal();
    // A journal that never took its name holds no way back: the database
    // is written only after it has. What a crash left of one goes.
    if (!readOnly_ && !(cache_ && cache_->journalKept())) env_.remove(newJournalPath(path_));
  } catch (...) {
    if (cache_) cache_->clear();
    throw;
  }
  // A journal means the file changed in a way no channel recorded.
  if (cache_ && recovery_ != JournalRecovery::None) cache_->clear();
}

PageChannel::~PageChannel() = default;

std::unique_ptr<PageChannel> PageChannel::forOnePass(Env& env, const std::string& path) {
  return std::make_unique<PageChannel>(env, path, std::make_unique<ReadAheadFile>(env.open(path, OpenMode::ReadOnly)),
                                       true, nullptr);
}

std::string PageChannel::journalPath(const std::string& dbPath) { return dbPath + "-journal"; }

std::string PageChannel::newJournalPath(const std::string& dbPath) { return journalPath(dbPath) + ".new"; }

std::uint64_t PageChannel::fileSize() {
  if (!cache_) return file_->size();
  if (auto known = cache_->fileSize()) return *known;
  const std::uint64_t size = file_->size();
  cache_->setFileSize(size);
  return size;
}

std::uint32_t PageChannel::pageCount() {
  if (inTransaction_) return transactionPages_;
  std::uint64_t pages = fileSize() / kPageSize;
  if (pages > UINT32_MAX) throw Error("database file is too large");
  return static_cast<std::uint32_t>(pages);
}

Page PageChannel::readPage(std::uint32_t n) {
  // A page this transaction wrote is copied once, not shared and then copied.
  if (inTransaction_ && n < pageCount()) {
    auto it = dirty_.find(n);
    if (it != dirty_.end()) return it->second;
  }
  return *pageView(n);
}

void PageChannel::readPageHead(std::uint32_t n, std::span<std::uint8_t> out) {
  if (out.size() > kPageSize) throw Error("a page head longer than a page");
  if (n >= pageCount())
    throw Error("page " + std::to_string(n) + " lies beyond the end of the file");
  if (const std::shared_ptr<const Page> held = heldPage(n)) {
    std::memcpy(out.data(), held->data(), out.size());
    return;
  }
  file_->read(std::uint64_t{n} * kPageSize, out);
}

std::shared_ptr<const Page> PageChannel::pageView(std::uint32_t n) {
  if (n >= pageCount())
    throw Error("page " + std::to_string(n) + " lies beyond the end of the file");
  if (std::shared_ptr<const Page> held = heldPage(n)) return held;
  // Not zeroed first: the read fills it or throws.
  auto page = std::make_shared_for_overwrite<Page>();
  file_->read(std::uint64_t{n} * kPageSize, std::span<std::uint8_t>(*page));
  if (cache_) record(n, cache_->put(n, page));
  return page;
}

std::shared_ptr<const Page> PageChannel::heldPage(std::uint32_t n) {
  if (inTransaction_) {
    auto it = dirty_.find(n);
    if (it != dirty_.end()) return std::make_shared<const Page>(it->second);
  }
  if (cache_) {
    std::uint64_t version = 0;
    if (std::shared_ptr<const Page> cached = cache_->view(n, &version)) {
      record(n, version);
      return cached;
    }
  }
  return nullptr;
}

// --- values derived from pages ---

PageChannel::Recording::Recording(PageChannel& c) : channel(c) { channel.recordings_.push_back(this); }

PageChannel::Recording::~Recording() { std::erase(channel.recordings_, this); }

bool PageChannel::keeps() const { return cache_ != nullptr && !inTransaction_; }

void PageChannel::record(std::uint32_t n, std::uint64_t version) {
  for (Recording* r : recordings_) r->sources.emplace_back(n, version);
}

std::shared_ptr<const void> PageChannel::keptValue(const std::string& key, std::shared_ptr<const void>* retired) {
  if (!keeps()) return nullptr;
  PageCache::Sources sources;
  std::shared_ptr<const void> kept = cache_->derived(key, recordings_.empty() ? nullptr : &sources, retired);
  // A value made with this one depends on its pages too.
  if (kept)
    for (const auto& [n, version] : sources) record(n, version);
  return kept;
}

void PageChannel::keepValue(const std::string& key, Recording& recording, std::shared_ptr<const void> value) {
  // A transaction begun while the value was made would have fed it pages
  // that are not the file's yet.
  if (!keeps()) return;
  // A page read many times over (rows that continue on one page) is checked
  // once when the value is next looked up.
  PageCache::Sources sources = std::move(recording.sources);
  std::sort(sources.begin(), sources.end());
  sources.erase(std::unique(sources.begin(), sources.end()), sources.end());
  cache_->putDerived(key, std::move(sources), std::move(value));
}

// --- transactions ---

void PageChannel::begin() {
  if (readOnly_) throw Error("the database '" + path_ + "' is open read-only");
  if (inTransaction_) throw Error("a write transaction is already open");
  originalSize_ = fileSize();
  if (originalSize_ / kPageSize > kMaxPages) throw Error("database file is too large");
  originalPages_ = static_cast<std::uint32_t>(originalSize_ / kPageSize);
  transactionPages_ = originalPages_;
  dirty_.clear();
  inTransaction_ = true;
}

void PageChannel::writePage(std::uint32_t n, const Page& page) {
  if (!inTransaction_) throw Error("a page is written outside a write transaction");
  if (n >= transactionPages_)
    throw Error("page " + std::to_string(n) + " lies beyond the end of the file");
  dirty_[n] = page;
}

void PageChannel::rollback() {
  dirty_.clear();
  inTransaction_ = false;
}

std::uint32_t PageChannel::allocatePage() {
  if (!inTransaction_) throw Error("a page is allocated outside a write transaction");
  if (transactionPages_ < 3) throw Error("the database file is too short");
  if (originalSize_ % kPageSize != 0)
    throw Error("the length of '" + path_ + "' is not a whole number of pages");
  Page map = readPage(1);
  MapRow row = findGlobalMapRow(map);
  std::uint8_t type = map[row.start];

  if (type == 0) {
    const std::size_t bitsAt = row.bitsAt();
    const std::uint32_t first = row.first(map);
    const std::uint32_t bits = row.bits();

    // A free page inside the file, unless the map marks one of the pages
    // every database uses (header, this map, the catalog's definition) as
    // free: then it is not to be trusted and we only append.
    bool trustworthy = true;
    for (std::uint32_t p = 0; p < 3; ++p)
      if (row.covers(map, p) && bitSet(map, bitsAt, p - first)) trustworthy = false;
    if (trustworthy) {
      const std::uint64_t end = std::min<std::uint64_t>(std::uint64_t{first} + bits, transactionPages_);
      for (std::uint32_t p = std::max<std::uint32_t>(first, 3); p < end; ++p) {
        if (!bitSet(map, bitsAt, p - first)) continue;
        clearBit(map, bitsAt, p - first);
        writePage(1, map);
        dirty_[p] = Page{};
        return p;
      }
    }

    // Append. A page beyond the map's range moves the map to start at it,
    // with every later page free (they all lie beyond the end of the file).
    std::uint32_t n = transactionPages_;
    if (n >= kMaxPages) throw Error("the database has reached its largest size");
    if (row.covers(map, n)) {
      clearBit(map, bitsAt, n - first);
    } else {
      put32(map, row.start + 1, n);
      std::fill(map.begin() + static_cast<std::ptrdiff_t>(bitsAt), map.begin() + static_cast<std::ptrdiff_t>(row.end),
                std::uint8_t{0xFF});
      clearBit(map, bitsAt, 0);
    }
    writePage(1, map);
    ++transactionPages_;
    dirty_[n] = Page{};
    return n;
  }

  if (type == 1) {
    // Free pages are not taken from a reference map; the appended page is
    // marked used where a map page covers it.
    std::uint32_t n = transactionPages_;
    if (n >= kMaxPages) throw Error("the database has reached its largest size");
    ++transactionPages_;
    dirty_[n] = Page{};
    if (const auto slot = row.slotOf(n)) {
      std::uint32_t mapPageNo = get32(map, *slot);
      if (mapPageNo >= 3 && mapPageNo < n) {
        Page mapPage = readPage(mapPageNo);
        if (mapPage[0] == kUsageMapPage) {
          clearBit(mapPage, 4, n % kPagesPerMapPage);
          writePage(mapPageNo, mapPage);
        }
      }
    }
    return n;
  }
  throw Error("the global usage map has an unknown type");
}

void PageChannel::freePage(std::uint32_t n) {
  if (!inTransaction_) throw Error("a page is freed outside a write transaction");
  if (n < 3 || n >= transactionPages_)
    throw Error("page " + std::to_string(n) + " cannot be freed");
  Page map = readPage(1);
  MapRow row = findGlobalMapRow(map);
  std::uint8_t type = map[row.start];
  if (type == 0) {
    if (row.covers(map, n)) {
      setBit(map, row.bitsAt(), n - row.first(map));
      writePage(1, map);
    }
  } else if (type == 1) {
    if (const auto slot = row.slotOf(n)) {
      std::uint32_t mapPageNo = get32(map, *slot);
      if (mapPageNo >= 3 && mapPageNo < transactionPages_ && mapPageNo != n) {
        Page mapPage = readPage(mapPageNo);
        if (mapPage[0] == kUsageMapPage) {
          setBit(mapPage, 4, n % kPagesPerMapPage);
          writePage(mapPageNo, mapPage);
        }
      }
    }
  } else {
    throw Error("the global usage map has an unknown type");
  }
  writePage(n, Page{});
}

bool PageChannel::globalMapSaysFree(std::uint32_t n) {
  Page map = readPage(1);
  MapRow row = findGlobalMapRow(map);
  if (map[row.start] == 0) {
    if (!row.covers(map, n)) return true;
    return bitSet(map, row.bitsAt(), n - row.first(map));
  }
  if (map[row.start] == 1) {
    const auto slot = row.slotOf(n);
    if (!slot) return true;
    std::uint32_t mapPageNo = get32(map, *slot);
    if (mapPageNo == 0 || mapPageNo >= pageCount()) return true;
    Page mapPage = readPage(mapPageNo);
    if (mapPage[0] != kUsageMapPage) throw Error("a usage map page has the wrong type");
    return bitSet(mapPage, 4, n % kPagesPerMapPage);
  }
  throw Error("the global usage map has an unknown type");
}

std::vector<PageChannel::MapState> PageChannel::globalMapStates() {
  const std::uint32_t n = pageCount();
  std::vector<MapState> states(n, MapState::NotCovered);
  Page map = readPage(1);
  MapRow row = findGlobalMapRow(map);
  auto fill = [&](const Page& bitsPage, std::size_t bitsAt, std::uint64_t first, std::uint64_t bits) {
    for (std::uint64_t p = first; p < first + bits && p < n; ++p)
      states[static_cast<std::size_t>(p)] =
          bitSet(bitsPage, bitsAt, static_cast<std::uint32_t>(p - first)) ? MapState::Free : MapState::Used;
  };
  if (map[row.start] == 0) {
    fill(map, row.bitsAt(), row.first(map), row.bits());
    return states;
  }
  if (map[row.start] == 1) {
    for (std::size_t slot = 0; row.start + 1 + 4 * slot + 4 <= row.end; ++slot) {
      std::uint32_t mapPageNo = get32(map, row.start + 1 + 4 * slot);
      if (mapPageNo == 0 || mapPageNo >= n) continue;
      Page mapPage = readPage(mapPageNo);
      if (mapPage[0] != kUsageMapPage) throw Error("a usage map page has the wrong type");
      fill(mapPage, 4, std::uint64_t{kPagesPerMapPage} * slot, kPagesPerMapPage);
    }
    return states;
  }
  throw Error("the global usage map has an unknown type");
}

void PageChannel::commit() {
  if (!inTransaction_) throw Error("commit without a write transaction");
  if (dirty_.empty()) {
    rollback();
    return;
  }
  const std::string journal = journalPath(path_);
  const std::string newJournal = newJournalPath(path_);
  const std::string dir = directoryOf(path_);
  // The journal kept by this process's last commit: its name is flushed.
  const bool reuseJournal = cache_ && cache_->journalKept();
  // Old content of every existing page about to be overwritten.
  std::vector<std::pair<std::uint32_t, Page>> originals;
  bool journalStarted = false;
  bool databaseTouched = false;
  std::unique_ptr<File> jf;
  try {
    for (const auto& [n, page] : dirty_) {
      if (n >= originalPages_) break;  // dirty_ is ordered: the rest are appended
      Page old{};
      if (!cache_ || !cache_->find(n, old)) file_->read(std::uint64_t{n} * kPageSize, std::span<std::uint8_t>(old));
      originals.emplace_back(n, old);
    }

    // 1. The journal, flushed with its directory entry.
    journalStarted = true;
    {
      std::vector<JournalPage> pages;
      pages.reserve(dirty_.size());
      std::size_t old = 0;
      for (const auto& [n, page] : dirty_) {
        const Page* before = n < originalPages_ ? &originals[old++].second : nullptr;
        pages.push_back(JournalPage{n, &page, before});
      }
      const std::vector<std::uint8_t> body =
          encodeJournal(originalSize_, std::uint64_t{transactionPages_} * kPageSize, pages, newSalt());
      // The kept journal is overwritten in place, not cut first: cutting
      // and regrowing a file costs the file system a metadata commit at the
      // flush that follows. Records of an earlier change that lie beyond
      // this journal's end are never read: the header counts this one's,
      // and the salt tells its records from theirs.
      // A new journal is written and flushed under a name of its own and
      // only then takes the journal's name, so that a file of that name
      // always holds a whole journal (or its voided marker): an empty or
      // zeroed one can only be damage.
      if (reuseJournal) {
        jf = env_.open(journal, OpenMode::ReadWrite);
        jf->write(0, body);
        jf->sync();
      } else {
        jf = env_.open(newJournal, OpenMode::CreateOrTruncate);
        jf->write(0, body);
        jf->sync();
        jf.reset();
        env_.renameNoReplace(newJournal, journal);
      }
    }
    if (!reuseJournal) env_.syncDirectory(dir);

    // 2. The new pages, flushed. From here on the change is stored: a journal
    // found with every page of it in place is only removed.
    databaseTouched = true;
    for (const auto& [n, page] : dirty_) file_->write(std::uint64_t{n} * kPageSize, page);
    file_->sync();

    // 3. The journal is voided and kept for the next commit while this
    // process holds the lock (its name is in the directory for good), else
    // removed. Voiding writes a checksummed marker over the header, so that
    // what follows it is no journal to anyone. Neither needs a flush: should
    // a power cut bring the journal back, the next open finds the whole
    // change in the file and removes it.
    if (cache_) {
      if (!jf) jf = env_.open(journal, OpenMode::ReadWrite);
      jf->write(0, voidedJournalMarker(newSalt()));
      cache_->setJournalKept(true);
    } else {
      jf.reset();
      env_.remove(journal);
    }
  } catch (...) {
    jf.reset();
    // Whatever reached the file is unknown now.
    if (cache_) {
      cache_->clear();
      cache_->setJournalKept(false);
    }
    rollback();
    try {
      if (databaseTouched) {
        for (const auto& [n, old] : originals) file_->write(std::uint64_t{n} * kPageSize, old);
        file_->truncate(originalSize_);
        file_->sync();
      }
      if (journalStarted) {
        env_.remove(journal);
        if (!reuseJournal) env_.remove(newJournal);
        env_.syncDirectory(dir);
      }
    } catch (...) {
      // The journal (if complete) stays; the next open rolls back.
    }
    throw;
  }
  if (cache_) {
    for (const auto& [n, page] : dirty_) cache_->put(n, page);
    cache_->setFileSize(std::uint64_t{transactionPages_} * kPageSize);
  }
  rollback();  // ends the transaction; its pages are on disk now
}

// --- recovery ---

void PageChannel::recoverJournal() {
  const std::string journal = journalPath(path_);
  // The journal this process's connections keep between commits is voided
  // and theirs; a journal of an interrupted change outlives no process.
  if (cache_ && cache_->journalKept()) return;
  if (!env_.exists(journal)) return;

  // Removals need no flush of their own: a journal that comes back is judged
  // the same way again.
  auto remove = [&](JournalRecovery what) {
    recovery_ = what;
    try {
      env_.remove(journal);
    } catch (const Error&) {
      if (!readOnly_) throw;  // harmless when it stays; a writable open removes it
    }
  };

  auto jf = env_.open(journal, OpenMode::ReadOnly);
  JournalVerdict verdict = judgeJournal(*jf, *file_, journal, path_);
  switch (verdict.action) {
    case JournalVerdict::Action::Refuse:
      throw Error(verdict.message);
    case JournalVerdict::Action::Remove:
      jf.reset();
      return remove(JournalRecovery::Discarded);
    case JournalVerdict::Action::Complete:
      // The change reached the file: keep it, flushed, before the journal goes.
      if (!readOnly_) {
        file_->sync();
      } else {
        try {
          env_.open(path_, OpenMode::ReadWrite)->sync();
        } catch (const Error&) {
          recovery_ = JournalRecovery::Completed;
          return;  // whole as it is; the journal stays for a writable open
        }
      }
      jf.reset();
      return remove(JournalRecovery::Completed);
    case JournalVerdict::Action::RollBack:
      break;
  }

  // Put the old pages back and cut the file to its length.
  std::unique_ptr<File> writable;
  File* target = file_.get();
  if (readOnly_) {
    try {
      writable = env_.open(path_, OpenMode::ReadWrite);
    } catch (const Error&) {
      throw Error("the database '" + path_ +
                  "' was left half-written by an interrupted change and cannot be repaired "
                  "without write access");
    }
    target = writable.get();
  }
  for (const auto& [n, old] : verdict.oldPages) target->write(std::uint64_t{n} * kPageSize, old);
  target->truncate(verdict.originalSize);
  target->sync();
  jf.reset();
  remove(JournalRecovery::RolledBack);
}

// --- WriteTransaction ---

WriteTransaction::WriteTransaction(PageChannel& channel) : channel_(channel) { channel_.begin(); }

WriteTransaction::~WriteTransaction() {
  if (!done_) channel_.rollback();
}

void WriteTransaction::commit() {
  done_ = true;
  channel_.commit();
}

}  // namespace engine
