// The rollback journal beside a database (`<db>-journal`): its layout, the
// bytes a commit writes into it, and the judgement of a journal found on
// open. PageChannel (page_channel.h) does the file work around both; why
// each step of the commit is flushed, and why each judgement below is safe,
// is in engine/FORMAT.md, section 1.1.
//
// Layout, version 5 (magic "PGJRNL05"); integers little-endian. A commit
// writes it under a name of its own and gives it the journal's name once it
// is whole and flushed; voiding (page_channel.h, step 3) writes a header
// that names no pages:
//   header (48 bytes): magic, u32 page size, u32 page count, u64 length of
//     the database before the change, u64 length after it, u32 salt, u32
//     checksum of the page list, 4 zero bytes, u32 checksum of the 44 bytes
//     before it;
//   page list (72 bytes a page, in page order): u32 page number, u32 flags
//     (1: the page existed before the change), eight u32 checksums of the
//     old content's 512-byte sectors (zero for an appended page), eight u32
//     checksums of the new content's sectors;
//   records (4104 bytes, one per page that existed, in page order): u32
//     page number, its old content, u32 checksum of the 4100 bytes before.
// The checksums are the low 32 bits of XXH3-64; those of the header, the
// page list and the records are seeded with the salt, a new random value per
// commit, so that no part of an earlier journal passes for a part of this
// one. The header and the page list come first and are small: they alone
// tell, against the file, whether the database was touched at all.
//
// Earlier versions ("PGJRNL04" XXH3, "PGJRNL03" CRC-32, "PGJRNL02" FNV-1a)
// have no page list: a 48-byte header of the same form, then one 4140-byte
// record per page (u32 page number, u32 flags, the old content, the eight
// new-sector checksums, u32 checksum). They are still judged, by the same
// rules, when every record is whole.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "engine/env.h"
#include "engine/page_channel.h"

namespace engine {

// The header's length.
inline constexpr std::size_t kJournalHeaderSize = 48;

// One page a transaction writes: its new content and, for a page that
// existed before, its old content.
struct JournalPage {
  std::uint32_t number = 0;
  const Page* newContent = nullptr;
  const Page* oldContent = nullptr;  // null: appended by the transaction
};

// The journal of a transaction that takes the database from originalSize
// bytes to newSize, pages in ascending order, seeded with salt.
std::vector<std::uint8_t> encodeJournal(std::uint64_t originalSize, std::uint64_t newSize,
                                        std::span<const JournalPage> pages, std::uint32_t salt);

// What a commit writes over the start of a journal it keeps once its change
// is stored: a header that names no pages, twice over, so that a write torn
// anywhere after its first half still leaves one whole.
std::vector<std::uint8_t> voidedJournalMarker(std::uint32_t salt);

// What a journal found beside a database calls for. Judged from the two
// files alone; nothing is written while judging.
struct JournalVerdict {
  enum class Action {
    Remove,    // the file is as before the change, or nothing was journaled
    Complete,  // the change is wholly in the file: flush it, then remove
    RollBack,  // write oldPages back, cut the file to originalSize, flush, remove
    Refuse,    // leave both files alone; message says why
  };
  Action action = Action::Refuse;
  std::string message;
  std::uint64_t originalSize = 0;
  std::vector<std::pair<std::uint32_t, Page>> oldPages;
};

// Judges the journal at journalPath (open as `journal`) against the database
// at dbPath (open as `database`). Error only when a file cannot be read.
JournalVerdict judgeJournal(File& journal, File& database, const std::string& journalPath,
                            const std::string& dbPath);

}  // namespace engine
