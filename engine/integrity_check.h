// The integrity check of a Jet 4 database: every structure the engine reads
// or writes, read back and held against what the rest of the file says about
// it, in the spirit of SQLite's integrity_check.
//
//   - pages: the type of every page in use and the owner it names, and no
//     page serving two purposes;
//   - the global usage map (page 1): no page in use marked free, and no page
//     with content marked in use that nothing owns (a leak);
//   - the catalog: unique ids, unique names under each parent, a table
//     definition behind every table row, a catalog row for every definition;
//   - each table: its definition (length and free space of its pages,
//     variable indexes, fixed offsets), its owned-pages and free-space maps against the data pages
//     that hold its rows, every row decoded (overflow rows followed), its
//     row count and auto-number counter;
//   - long values: every memo, OLE and property blob of a row resolves to
//     live rows on LVAL pages holding exactly the declared length, chains end
//     and do not loop, and no long-value row serves two values;
//   - each index: its pages (type, owner, links, free space, mask), entries
//     in ascending order without duplicates, one entry for every row and
//     none for anything else, the same key bytes as the rows give, and its
//     count of distinct keys.
//
// Indexes whose keys the engine cannot compute (other column types, null or
// descending keys, other sort orders, characters without known codes) are
// checked in everything but their key bytes and listed as not verified.
// What Access and Jackcess leave in real files and the check accepts is in
// FORMAT.md, section 11.
//
// The check only reads. A damaged part gives a problem and the check goes on
// with the rest; only a file whose catalog cannot be read stops it early.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/env.h"
#include "engine/page_channel.h"

namespace engine {

struct IntegrityProblem {
  std::optional<std::uint32_t> page;  // where it lies, when one page does
  std::string table;                  // the table concerned; empty when none
  std::string message;
  bool operator==(const IntegrityProblem&) const = default;
};

// A stored count that differs from what it counts where Access itself lets
// the two drift apart (FORMAT.md 11): the row count of a system table and an
// index's count of distinct keys, which only guide the query planner. Not a
// problem of the file; the engine's tests hold the drifts of a file after a
// change against those it had before, as a change must move each count with
// what it counts.
struct CountDrift {
  std::uint32_t page = 0;  // the table definition holding the count
  std::string table;
  std::string count;  // "rows", or "distinct keys of index I"
  std::int64_t stored = 0;
  std::int64_t actual = 0;
  bool operator==(const CountDrift&) const = default;
};

struct IntegrityReport {
  std::vector<IntegrityProblem> problems;
  std::vector<CountDrift> drifts;
  // Problems found beyond the first kMaxListedProblems, counted only.
  std::size_t unlisted = 0;
  // Indexes whose key bytes were not compared with the rows, each as
  // "table T, index I: reason".
  std::vector<std::string> notVerified;

  bool sound() const { return problems.empty(); }
  static constexpr std::size_t kMaxListedProblems = 1000;
  bool operator==(const IntegrityReport&) const = default;
};

// A second thread's help with a check: half of a large table's data pages
// (every other chunk of them) are screened on it, through a channel of its
// own, while the check's own thread checks the others. The report is the
// same, problem for problem and in the same order.
struct CheckHelp {
  // Opens another read-only channel onto the file being checked; empty: no
  // help.
  std::function<std::unique_ptr<PageChannel>()> opener;
  // Tables with fewer data pages are checked on one thread.
  std::size_t fromTablePages = 64;

  // Help through PageChannel::forOnePass channels onto the file at path,
  // when the machine runs more than one thread at a time; none otherwise.
  static CheckHelp onePassChannels(Env& env, const std::string& path);
};

// Checks the database behind an open channel (the header is the opener's
// business). Error only when the channel fails to read.
IntegrityReport checkIntegrity(PageChannel& channel, const CheckHelp& help = {});

// Opens the file read-only and checks it. Refused with an Error: a missing
// file, a file that is not an unencrypted Jet 4 database or whose password
// is wrong, a database another program has open (its changes would show as
// damage), and a database with a rollback journal beside it: the check never
// rolls a journal back, so a half-written file is reported, not repaired.
IntegrityReport checkDatabaseFile(Env& env, const std::string& path, std::string_view password);

// One line: "page 26, table satislar: ..." (page or table left out when the
// problem has none).
std::string formatProblem(const IntegrityProblem& problem);

}  // namespace engine
