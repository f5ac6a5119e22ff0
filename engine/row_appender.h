// Appending rows to a user table, with values as callers have them
// (numbers, dates, UTF-8 text) rather than stored bytes, and the table's
// indexes kept (table_indexes.h).
//
// Each value is turned into its stored form for its column: Long 4 bytes,
// Currency 8 (ten-thousandths), Date/Time the 8-byte double of Jet's day
// numbers, yes/no the null-mask bit, text UTF-16LE (compressed when the
// column has Unicode compression on and encodeTextValue compresses it), memo
// the same text as a long value: inline up to 64 bytes, else one row of an
// LVAL page, else a chain of LVAL pages. The table's auto-increment Long
// column is numbered from the definition's counter, or takes the number the
// caller gives when the appender is made with AutoNumbers::Given (rows that
// have their numbers already, written anew); the row count and the counter
// (never lowered, at least the highest number given) are stored back.
//
// Where rows go: on the last page the table owns that its free-space map
// lists, as long as rows fit there; then on a new data page that both usage
// maps list, the full page leaving the free-space map (as Jackcess does).
// One-row long values go the same way over the LVAL pages of their column;
// each row of a chain takes a new LVAL page (long_value_writer.h).
//
// A RowAppender keeps a write transaction open on the channel and commits it
// at commit() and whenever the pages it holds reach pagesPerCommit, so that
// any number of rows can be appended with bounded memory; each commit is
// atomic through the journal (page_channel.h) and holds whole rows only.
// Destruction rolls back what was not committed. A value that does not suit
// its column, and a row whose key an index cannot take (no known codes, a
// sort order not written, a key a unique index holds), is refused before
// any page changes (the appender stays usable);
// any other Error rolls the uncommitted rows back and leaves the appender
// unusable.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/page_channel.h"
#include "engine/table_definition.h"
#include "engine/table_indexes.h"
#include "engine/table_writer.h"

namespace engine {

// A value for one column.
struct FieldValue {
  enum class Kind : std::uint8_t { Null, Boolean, Long, Currency, DateTime, Text };
  Kind kind = Kind::Null;
  bool boolean = false;
  std::int64_t integer = 0;  // Long; Currency in ten-thousandths
  double days = 0;           // DateTime: days since 1899-12-30, Jet's form
  std::string text;          // Text and Memo, UTF-8

  static FieldValue null() { return {}; }
  static FieldValue ofBoolean(bool b) { return {Kind::Boolean, b, 0, 0, {}}; }
  static FieldValue ofLong(std::int32_t v) { return {Kind::Long, false, v, 0, {}}; }
  static FieldValue ofCurrency(std::int64_t tenThousandths) {
    return {Kind::Currency, false, tenThousandths, 0, {}};
  }
  static FieldValue ofDateTime(double jetDays) { return {Kind::DateTime, false, 0, jetDays, {}}; }
  static FieldValue ofText(std::string utf8) { return {Kind::Text, false, 0, 0, std::move(utf8)}; }
};

// Values by column name (letter case ignored); columns not named are null
// (yes/no: false).
using FieldValues = std::vector<std::pair<std::string, FieldValue>>;

// Jet's day number of a date and time of the proleptic Gregorian calendar,
// years 100 to 9999: the whole part counts days from 1899-12-30 (negative
// before it), the fraction is the time of day whatever the sign (1899-12-29
// 06:00 is -1.25). Error for a date or time that does not exist.
double jetDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

// Who numbers the rows' auto-increment column.
enum class AutoNumbers : std::uint8_t {
  Counter,  // the engine, from the definition's counter; a value given is an Error
  Given,    // the caller, a Long of 1 or more in every row
};

class RowAppender {
 public:
  // Pages (data, long-value, map and definition pages) a transaction holds
  // before it is committed: 16 MiB.
  static constexpr std::size_t kDefaultPagesPerCommit = 4096;

  // Starts a write transaction on channel for the user table whose
  // definition starts at definitionPage. Error when the channel has a
  // transaction open already, the table is not a user table, or has an
  // auto-increment column that is not a Long.
  RowAppender(PageChannel& channel, std::uint32_t definitionPage,
              std::size_t pagesPerCommit = kDefaultPagesPerCommit,
              AutoNumbers numbers = AutoNumbers::Counter);
  // Rolls back the rows not committed yet.
  ~RowAppender();
  RowAppender(const RowAppender&) = delete;
  RowAppender& operator=(const RowAppender&) = delete;

  const TableDefinition& definition() const { return definition_; }

  // Adds one row (see above); may commit the rows before it first. Returns
  // where the row lies and the auto-increment numbers given.
  AppendedRow append(const FieldValues& values);
  // Stores every row appended so far; the appender stays open for more.
  void commit();
  // Rows appended and not yet committed.
  std::size_t pendingRows() const { return pendingRows_; }

 private:
  struct Prepared;
  Prepared prepare(const FieldValues& values) const;
  void beginTransaction();
  void flushPage();
  RowId placeRow(const std::vector<std::uint8_t>& row);
  std::vector<RowValue> storeValues(Prepared& prepared);
  void failed();
  // A bound of the pages the open transaction holds.
  std::size_t pendingPages() const { return pendingPages_ + indexes_.pagesWritten(); }
  std::vector<std::uint8_t> storeLongValue(const Column& column, const std::vector<std::uint8_t>& data);

  PageChannel& channel_;
  std::uint32_t definitionPage_;
  std::size_t pagesPerCommit_;
  AutoNumbers numbers_;
  TableDefinition definition_;
  TableIndexes indexes_;  // over definition_
  bool broken_ = false;

  std::uint32_t rowCount_ = 0;
  std::uint32_t lastAutoNumber_ = 0;
  std::size_t pendingRows_ = 0;
  std::size_t pendingPages_ = 0;  // a bound of the pages the transaction holds

  // The data page rows are added to, kept here until a page change or commit.
  bool located_ = false;
  std::uint32_t pageNumber_ = 0;  // 0: none yet
  Page page_{};
  bool pageDirty_ = false;
  // Per long-value column (by number): the LVAL page its one-row values go
  // on, 0 when a new page is to be started; absent until first used.
  std::map<std::uint16_t, std::uint32_t> longValuePages_;

  // Column lookup of the previous call: names in the order given.
  mutable std::vector<std::string> lastNames_;
  mutable std::vector<std::size_t> lastColumns_;
};

// Appends one row in one write transaction of its own (see RowAppender).
AppendedRow appendValues(PageChannel& channel, std::uint32_t definitionPage,
                         const FieldValues& values);

}  // namespace engine
