#include "engine/rollback_journal.h"

#include <algorithm>
#include <array>
#include <optional>

#define XXH_INLINE_ALL
#include <xxhash.h>
#include <zlib.h>

#include "engine/error.h"
#include "engine/little_endian.h"

namespace engine {
namespace {

std::uint64_t get64(std::span<const std::uint8_t> b, std::size_t at) {
  return std::uint64_t{get32(b, at)} | std::uint64_t{get32(b, at + 4)} << 32;
}
void put64(std::span<std::uint8_t> b, std::size_t at, std::uint64_t v) {
  put32(b, at, static_cast<std::uint32_t>(v));
  put32(b, at + 4, static_cast<std::uint32_t>(v >> 32));
}

constexpr std::array<std::uint8_t, 8> kMagic{'P', 'G', 'J', 'R', 'N', 'L', '0', '5'};
constexpr std::array<std::uint8_t, 8> kMagicXxh3{'P', 'G', 'J', 'R', 'N', 'L', '0', '4'};
constexpr std::array<std::uint8_t, 8> kMagicCrc{'P', 'G', 'J', 'R', 'N', 'L', '0', '3'};
constexpr std::array<std::uint8_t, 8> kMagicFnv{'P', 'G', 'J', 'R', 'N', 'L', '0', '2'};
constexpr std::size_t kHeaderSize = kJournalHeaderSize;
constexpr std::size_t kSectorSize = 512;
constexpr std::size_t kSectors = kPageSize / kSectorSize;
constexpr std::size_t kListEntrySize = 8 + 2 * 4 * kSectors;
constexpr std::size_t kListOldSums = 8;
constexpr std::size_t kListNewSums = kListOldSums + 4 * kSectors;
constexpr std::size_t kRecordSize = 4 + kPageSize + 4;
// Records of the versions before 5.
constexpr std::size_t kLegacyRecordOld = 8;
constexpr std::size_t kLegacyRecordSums = kLegacyRecordOld + kPageSize;
constexpr std::size_t kLegacyRecordSize = kLegacyRecordSums + 4 * kSectors + 4;
constexpr std::uint32_t kExisted = 1;
// Jet 4 keeps a file below 2 GB; no journal names more.
constexpr std::uint64_t kMaxDatabaseSize = 0x7FFFFFFFu;

// The checksums of one journal version.
struct JournalSums {
  enum class Kind { Xxh3, Crc /* "PGJRNL03" */, Fnv /* "PGJRNL02" */ };
  Kind kind = Kind::Xxh3;

  // Of a sector of page content.
  std::uint32_t plain(std::span<const std::uint8_t> data) const {
    switch (kind) {
      case Kind::Xxh3: return static_cast<std::uint32_t>(XXH3_64bits(data.data(), data.size()));
      case Kind::Crc: return crc(0, data);
      case Kind::Fnv: break;
    }
    return fnv1a(data, 2166136261u);
  }
  // Of the header, the page list or a record.
  std::uint32_t salted(std::span<const std::uint8_t> data, std::uint32_t salt) const {
    switch (kind) {
      case Kind::Xxh3: return static_cast<std::uint32_t>(XXH3_64bits_withSeed(data.data(), data.size(), salt));
      case Kind::Crc: {
        std::array<std::uint8_t, 4> seed{};
        put32(seed, 0, salt);
        return crc(crc(0, seed), data);
      }
      case Kind::Fnv: break;
    }
    return fnv1a(data, 2166136261u ^ salt);
  }

 private:
  static std::uint32_t crc(std::uint32_t start, std::span<const std::uint8_t> data) {
    return static_cast<std::uint32_t>(crc32_z(start, data.data(), data.size()));
  }
  static std::uint32_t fnv1a(std::span<const std::uint8_t> data, std::uint32_t h) {
    for (std::uint8_t c : data) {
      h ^= c;
      h *= 16777619u;
    }
    return h;
  }
};

std::span<const std::uint8_t> sector(const Page& page, std::size_t k) {
  return std::span<const std::uint8_t>(page).subspan(k * kSectorSize, kSectorSize);
}

// A page the journal names, from its page list (or, before version 5, from
// its record).
struct ListedPage {
  std::uint32_t number = 0;
  bool existed = false;
  std::array<std::uint32_t, kSectors> oldSums{};
  std::array<std::uint32_t, kSectors> newSums{};
  std::optional<Page> oldContent;  // versions before 5: from the record
};

// What a journal header says.
struct Header {
  int version = 5;
  JournalSums sums;
  std::uint32_t count = 0;
  std::uint64_t originalSize = 0;
  std::uint64_t newSize = 0;
  std::uint32_t salt = 0;
  std::uint32_t listSum = 0;
};

class Judgement {
 public:
  Judgement(File& journal, File& database, const std::string& journalPath, const std::string& dbPath)
      : journal_(journal), database_(database), journalPath_(journalPath), dbPath_(dbPath) {}

  JournalVerdict run() {
    const std::uint64_t size = journal_.size();
    std::array<std::uint8_t, kHeaderSize> raw{};
    const std::size_t headerBytes = static_cast<std::size_t>(std::min<std::uint64_t>(size, kHeaderSize));
    journal_.read(0, std::span<std::uint8_t>(raw).first(headerBytes));
    // A commit gives a journal its name only once it is whole and flushed,
    // and voids it by a marker: an empty journal, or one whose header is
    // zeros (as earlier versions voided theirs), is what damage leaves.
    if (size == 0) return damaged("is empty");
    if (std::all_of(raw.begin(), raw.begin() + static_cast<std::ptrdiff_t>(headerBytes),
                    [](std::uint8_t b) { return b == 0; }))
      return damaged("has a header of zeros");
    if (size < kHeaderSize) return damaged("is cut short inside its header");
    // The marker a commit leaves when its change is stored: nothing of the
    // journal is needed.
    if (isVoidedMarker(raw)) {
      JournalVerdict v;
      v.action = JournalVerdict::Action::Remove;
      return v;
    }
    std::optional<Header> header = readHeader(raw);
    if (!header) return damaged(knownMagic(raw) ? "has a damaged header" : "is not one this engine writes");
    header_ = *header;
    if (header_.version < 5) {
      if (std::optional<JournalVerdict> refused = readLegacyRecords(size)) return *refused;
      return compare();
    }
    if (std::optional<JournalVerdict> refused = readPageList(size)) {
      // Without its list, the records alone may still show the file as it
      // was: each of them whole, each page as its record holds it, nothing
      // appended.
      if (untouchedByRecords(size)) {
        JournalVerdict v;
        v.action = JournalVerdict::Action::Remove;
        return v;
      }
      return *refused;
    }
    return compare();
  }

 private:
  static bool knownMagic(std::span<const std::uint8_t> raw) {
    for (const auto& magic : {kMagic, kMagicXxh3, kMagicCrc, kMagicFnv})
      if (std::equal(magic.begin(), magic.end(), raw.begin())) return true;
    return false;
  }

  static bool isVoidedMarker(std::span<const std::uint8_t> raw) {
    const JournalSums sums;
    return std::equal(kMagic.begin(), kMagic.end(), raw.begin()) && get32(raw, 8) == kPageSize &&
           get32(raw, 12) == 0 && get32(raw, 44) == sums.salted(raw.first(44), get32(raw, 32));
  }

  static std::optional<Header> readHeader(std::span<const std::uint8_t> raw) {
    Header h;
    if (std::equal(kMagic.begin(), kMagic.end(), raw.begin())) {
      h.version = 5;
    } else if (std::equal(kMagicXxh3.begin(), kMagicXxh3.end(), raw.begin())) {
      h.version = 4;
    } else if (std::equal(kMagicCrc.begin(), kMagicCrc.end(), raw.begin())) {
      h.version = 3;
      h.sums.kind = JournalSums::Kind::Crc;
    } else if (std::equal(kMagicFnv.begin(), kMagicFnv.end(), raw.begin())) {
      h.version = 2;
      h.sums.kind = JournalSums::Kind::Fnv;
    } else {
      return std::nullopt;
    }
    h.salt = get32(raw, 32);
    if (get32(raw, 44) != h.sums.salted(raw.first(44), h.salt) || get32(raw, 8) != kPageSize) return std::nullopt;
    h.count = get32(raw, 12);
    h.originalSize = get64(raw, 16);
    h.newSize = get64(raw, 24);
    h.listSum = get32(raw, 36);
    // Every page named lies below the new length: there cannot be more of
    // them than it holds.
    if (h.originalSize % kPageSize != 0 || h.newSize % kPageSize != 0 || h.newSize < h.originalSize ||
        h.newSize > kMaxDatabaseSize || h.count == 0 || h.count > h.newSize / kPageSize)
      return std::nullopt;
    return h;
  }

  // Checks one page's place in the list: ascending, inside the new length,
  // existing exactly when it lies inside the old one.
  bool fits(const ListedPage& page) {
    const std::uint64_t end = std::uint64_t{page.number} * kPageSize + kPageSize;
    const bool ok = std::int64_t{page.number} > previous_ && end <= header_.newSize &&
                    page.existed == (end <= header_.originalSize);
    previous_ = page.number;
    return ok;
  }

  std::optional<JournalVerdict> readPageList(std::uint64_t size) {
    const std::uint64_t listBytes = std::uint64_t{header_.count} * kListEntrySize;
    if (size < kHeaderSize + listBytes) return damaged("is cut short inside its list of pages");
    std::vector<std::uint8_t> list(static_cast<std::size_t>(listBytes));
    journal_.read(kHeaderSize, list);
    if (header_.sums.salted(list, header_.salt) != header_.listSum) return damaged("has a damaged list of pages");
    pages_.resize(header_.count);
    std::uint32_t existing = 0;
    for (std::uint32_t i = 0; i < header_.count; ++i) {
      const std::span<const std::uint8_t> entry =
          std::span<const std::uint8_t>(list).subspan(std::size_t{i} * kListEntrySize, kListEntrySize);
      ListedPage& page = pages_[i];
      page.number = get32(entry, 0);
      page.existed = get32(entry, 4) == kExisted;
      for (std::size_t k = 0; k < kSectors; ++k) {
        page.oldSums[k] = get32(entry, kListOldSums + 4 * k);
        page.newSums[k] = get32(entry, kListNewSums + 4 * k);
      }
      if (!fits(page)) return damaged("has a damaged list of pages");
      if (page.existed) recordOf_.push_back(existing++);
      else recordOf_.push_back(UINT32_MAX);
    }
    return std::nullopt;
  }

  std::optional<JournalVerdict> readLegacyRecords(std::uint64_t size) {
    if (size < kHeaderSize + std::uint64_t{header_.count} * kLegacyRecordSize) return damaged("is cut short");
    std::vector<std::uint8_t> rec(kLegacyRecordSize);
    pages_.resize(header_.count);
    for (std::uint32_t i = 0; i < header_.count; ++i) {
      journal_.read(kHeaderSize + std::uint64_t{i} * kLegacyRecordSize, rec);
      ListedPage& page = pages_[i];
      page.number = get32(rec, 0);
      page.existed = get32(rec, 4) == kExisted;
      if (get32(rec, kLegacyRecordSize - 4) !=
              header_.sums.salted(std::span<const std::uint8_t>(rec).first(kLegacyRecordSize - 4), header_.salt) ||
          !fits(page))
        return damaged("has a damaged record");
      for (std::size_t k = 0; k < kSectors; ++k) page.newSums[k] = get32(rec, kLegacyRecordSums + 4 * k);
      if (page.existed) {
        page.oldContent.emplace();
        std::copy_n(rec.begin() + kLegacyRecordOld, kPageSize, page.oldContent->begin());
        for (std::size_t k = 0; k < kSectors; ++k) page.oldSums[k] = header_.sums.plain(sector(*page.oldContent, k));
      }
    }
    return std::nullopt;
  }

  // Whether the records of a version 5 journal prove the file untouched:
  // the file as long as before, and every page that existed (the pages
  // appended are the last newSize - originalSize bytes' worth) as its whole
  // record holds it.
  bool untouchedByRecords(std::uint64_t size) {
    if (database_.size() != header_.originalSize) return false;
    const std::uint64_t appended = (header_.newSize - header_.originalSize) / kPageSize;
    if (appended >= header_.count) return false;
    const std::uint64_t existing = header_.count - appended;
    const std::uint64_t at = kHeaderSize + std::uint64_t{header_.count} * kListEntrySize;
    if (size < at + existing * kRecordSize) return false;
    std::vector<std::uint8_t> rec(kRecordSize);
    Page now{};
    std::int64_t previous = -1;
    for (std::uint64_t i = 0; i < existing; ++i) {
      journal_.read(at + i * kRecordSize, rec);
      const std::uint32_t n = get32(rec, 0);
      if (get32(rec, kRecordSize - 4) !=
              header_.sums.salted(std::span<const std::uint8_t>(rec).first(kRecordSize - 4), header_.salt) ||
          std::int64_t{n} <= previous || std::uint64_t{n} * kPageSize + kPageSize > header_.originalSize)
        return false;
      previous = n;
      database_.read(std::uint64_t{n} * kPageSize, now);
      if (!std::equal(now.begin(), now.end(), rec.begin() + 4)) return false;
    }
    return true;
  }

  // Where each page of the file stands against the list: every sector as the
  // change left it (new), as it was (old), or neither.
  JournalVerdict compare() {
    const std::uint64_t length = database_.size();
    if (length < header_.originalSize || length > header_.newSize)
      return foreign("it is not as long as the change left it or found it");
    bool complete = length == header_.newSize;
    bool touched = length > header_.originalSize;  // pages were appended
    std::vector<std::size_t> restore;
    Page now{};
    for (std::size_t i = 0; i < pages_.size(); ++i) {
      const ListedPage& page = pages_[i];
      const std::uint64_t start = std::uint64_t{page.number} * kPageSize;
      if (page.existed) {
        database_.read(start, now);
        bool changed = false;
        for (std::size_t k = 0; k < kSectors; ++k) {
          const std::uint32_t sum = header_.sums.plain(sector(now, k));
          const bool isNew = sum == page.newSums[k];
          const bool isOld = page.oldContent ? std::ranges::equal(sector(now, k), sector(*page.oldContent, k))
                                             : sum == page.oldSums[k];
          if (!isNew) complete = false;
          if (!isOld && !isNew) return foreign("page " + std::to_string(page.number) + " holds what the change never wrote");
          if (!isOld) changed = true;
        }
        if (changed) {
          touched = true;
          restore.push_back(i);
        }
        continue;
      }
      // An appended page: as much of it as the file holds is new, or zeros
      // (a later page's write reached the disk before this one's).
      const std::uint64_t held = length > start ? std::min<std::uint64_t>(kPageSize, length - start) : 0;
      if (held < kPageSize) complete = false;
      now.fill(0);
      if (held > 0) database_.read(start, std::span<std::uint8_t>(now).first(static_cast<std::size_t>(held)));
      for (std::size_t k = 0; k < kSectors && k * kSectorSize < held; ++k) {
        const bool whole = (k + 1) * kSectorSize <= held;
        const bool isNew = whole && header_.sums.plain(sector(now, k)) == page.newSums[k];
        const bool zero = std::ranges::all_of(sector(now, k), [](std::uint8_t b) { return b == 0; });
        if (!isNew) complete = false;
        if (!isNew && !zero && whole)
          return foreign("page " + std::to_string(page.number) + " holds what the change never wrote");
      }
    }

    JournalVerdict v;
    v.originalSize = header_.originalSize;
    if (complete) {
      v.action = JournalVerdict::Action::Complete;
      return v;
    }
    if (!touched) {
      v.action = JournalVerdict::Action::Remove;
      return v;
    }
    // Half-written: the old content of every page the change reached is
    // needed, whole.
    v.action = JournalVerdict::Action::RollBack;
    for (std::size_t i : restore) {
      std::optional<Page> old = oldContentOf(i);
      if (!old) return damaged("has lost the old content of page " + std::to_string(pages_[i].number));
      v.oldPages.emplace_back(pages_[i].number, *old);
    }
    return v;
  }

  // The old content of page i as its record holds it, when the record is
  // whole and agrees with the page list.
  std::optional<Page> oldContentOf(std::size_t i) {
    const ListedPage& page = pages_[i];
    if (page.oldContent) return page.oldContent;
    const std::uint64_t at =
        kHeaderSize + std::uint64_t{header_.count} * kListEntrySize + std::uint64_t{recordOf_[i]} * kRecordSize;
    if (journal_.size() < at + kRecordSize) return std::nullopt;
    std::vector<std::uint8_t> rec(kRecordSize);
    journal_.read(at, rec);
    if (get32(rec, 0) != page.number ||
        get32(rec, kRecordSize - 4) != header_.sums.salted(std::span<const std::uint8_t>(rec).first(kRecordSize - 4), header_.salt))
      return std::nullopt;
    Page old{};
    std::copy_n(rec.begin() + 4, kPageSize, old.begin());
    for (std::size_t k = 0; k < kSectors; ++k)
      if (header_.sums.plain(sector(old, k)) != page.oldSums[k]) return std::nullopt;
    return old;
  }

  JournalVerdict damaged(const std::string& why) const {
    return refused("the database '" + dbPath_ + "' may be half-changed: the rollback journal '" + journalPath_ +
                   "' of an interrupted change " + why +
                   ", so the change can neither be undone nor be shown to have been completed.");
  }

  JournalVerdict foreign(const std::string& why) const {
    return refused("the database '" + dbPath_ + "' has a rollback journal '" + journalPath_ +
                   "' that no longer matches it (" + why + "): the file was changed after an interrupted change.");
  }

  // A refusal, with what the technician can do about it.
  static JournalVerdict refused(const std::string& what) {
    JournalVerdict v;
    v.action = JournalVerdict::Action::Refuse;
    v.message = what +
                " Both files are left as they are: restore the database from a backup, or remove the journal by "
                "hand to keep the database as it is";
    return v;
  }

  File& journal_;
  File& database_;
  const std::string& journalPath_;
  const std::string& dbPath_;
  Header header_;
  std::vector<ListedPage> pages_;
  std::vector<std::uint32_t> recordOf_;  // version 5: the record of each existing page
  std::int64_t previous_ = -1;
};

}  // namespace

std::vector<std::uint8_t> encodeJournal(std::uint64_t originalSize, std::uint64_t newSize,
                                        std::span<const JournalPage> pages, std::uint32_t salt) {
  const JournalSums sums;
  std::size_t existing = 0;
  for (const JournalPage& p : pages) existing += p.oldContent ? 1 : 0;
  const std::size_t listAt = kHeaderSize;
  const std::size_t recordsAt = listAt + pages.size() * kListEntrySize;
  std::vector<std::uint8_t> body(recordsAt + existing * kRecordSize);
  const std::span<std::uint8_t> all(body);

  std::size_t record = recordsAt;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    const JournalPage& p = pages[i];
    const std::span<std::uint8_t> entry = all.subspan(listAt + i * kListEntrySize, kListEntrySize);
    put32(entry, 0, p.number);
    put32(entry, 4, p.oldContent ? kExisted : 0);
    for (std::size_t k = 0; k < kSectors; ++k) {
      if (p.oldContent) put32(entry, kListOldSums + 4 * k, sums.plain(sector(*p.oldContent, k)));
      put32(entry, kListNewSums + 4 * k, sums.plain(sector(*p.newContent, k)));
    }
    if (!p.oldContent) continue;
    const std::span<std::uint8_t> rec = all.subspan(record, kRecordSize);
    put32(rec, 0, p.number);
    std::copy(p.oldContent->begin(), p.oldContent->end(), rec.begin() + 4);
    put32(rec, kRecordSize - 4, sums.salted(rec.first(kRecordSize - 4), salt));
    record += kRecordSize;
  }

  const std::span<std::uint8_t> header = all.first(kHeaderSize);
  std::copy(kMagic.begin(), kMagic.end(), header.begin());
  put32(header, 8, static_cast<std::uint32_t>(kPageSize));
  put32(header, 12, static_cast<std::uint32_t>(pages.size()));
  put64(header, 16, originalSize);
  put64(header, 24, newSize);
  put32(header, 32, salt);
  put32(header, 36, sums.salted(all.subspan(listAt, recordsAt - listAt), salt));
  put32(header, 44, sums.salted(header.first(44), salt));
  return body;
}

std::vector<std::uint8_t> voidedJournalMarker(std::uint32_t salt) {
  const JournalSums sums;
  std::vector<std::uint8_t> marker(2 * kHeaderSize);
  const std::span<std::uint8_t> first = std::span<std::uint8_t>(marker).first(kHeaderSize);
  std::copy(kMagic.begin(), kMagic.end(), first.begin());
  put32(first, 8, static_cast<std::uint32_t>(kPageSize));
  put32(first, 32, salt);
  put32(first, 44, sums.salted(first.first(44), salt));
  std::copy(first.begin(), first.end(), marker.begin() + kHeaderSize);
  return marker;
}

JournalVerdict judgeJournal(File& journal, File& database, const std::string& journalPath,
                            const std::string& dbPath) {
  return Judgement(journal, database, journalPath, dbPath).run();
}

}  // namespace engine
