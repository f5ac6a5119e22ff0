#include "engine/row_appender.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <string>

#include "engine/byte_reader.h"
#include "engine/data_page.h"
#include "engine/data_page_writer.h"
#include "engine/error.h"
#include "engine/little_endian.h"
#include "engine/long_value.h"
#include "engine/long_value_writer.h"
#include "engine/text_codec.h"
#include "engine/usage_map.h"

namespace engine {
namespace {

constexpr std::uint8_t kUserTable = 0x4E;
// The bytes of an LVAL chain row that carry data (4 go to the next pointer).
constexpr std::size_t kChainPart = kMaxLongValueRow - 4;

std::vector<std::uint8_t> littleEndian(std::uint64_t v, std::size_t bytes) {
  std::vector<std::uint8_t> out(bytes);
  for (std::size_t i = 0; i < bytes; ++i) out[i] = static_cast<std::uint8_t>(v >> (8 * i));
  return out;
}

// Days from 1970-01-01 of a proleptic Gregorian date (H. Hinnant's method).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool leapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

std::string columnText(const Column& c) { return "column '" + c.name + "'"; }

const char* kindName(FieldValue::Kind k) {
  switch (k) {
    case FieldValue::Kind::Null: return "null";
    case FieldValue::Kind::Boolean: return "a yes/no value";
    case FieldValue::Kind::Long: return "a whole number";
    case FieldValue::Kind::Currency: return "a currency amount";
    case FieldValue::Kind::DateTime: return "a date";
    case FieldValue::Kind::Text: return "text";
  }
  return "a value";
}

// Pages a long value of this many bytes may take.
std::size_t longValuePages(std::size_t bytes) {
  if (bytes <= kMaxInlineLongValue) return 0;
  if (bytes <= kMaxLongValueRow) return 1;
  return (bytes + kChainPart - 1) / kChainPart;
}

}  // namespace

double jetDateTime(int year, int month, int day, int hour, int minute, int second) {
  static constexpr int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > kMonthDays[month - 1] + (month == 2 && leapYear(year) ? 1 : 0) || hour < 0 ||
      hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
    throw Error("no such date and time: " + std::to_string(year) + "-" + std::to_string(month) +
                "-" + std::to_string(day) + " " + std::to_string(hour) + ":" +
                std::to_string(minute) + ":" + std::to_string(second));
  const std::int64_t days = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
                            daysFromCivil(1899, 12, 30);
  const double fraction = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
  const auto whole = static_cast<double>(days);
  return days >= 0 ? whole + fraction : whole - fraction;
}

// The row's values in stored form, long values still to be written.
struct RowAppender::Prepared {
  std::vector<RowValue> values;  // one per definition column
  struct LongValue {
    std::size_t column;
    std::vector<std::uint8_t> data;
  };
  std::vector<LongValue> longValues;
  std::size_t pages = 1;  // a bound of the new pages the row needs
};

RowAppender::RowAppender(PageChannel& channel, std::uint32_t definitionPage,
                         std::size_t pagesPerCommit, AutoNumbers numbers)
    : channel_(channel), definitionPage_(definitionPage),
      pagesPerCommit_(std::max<std::size_t>(pagesPerCommit, 1)), numbers_(numbers),
      definition_(TableDefinition::read(channel, definitionPage)), indexes_(channel, definition_) {
  if (definition_.tableType() != kUserTable)
    throw Error("rows are appended to user tables only");
  for (const Column& c : definition_.columns())
    if ((c.autoIncrement() && c.type != kTypeLong) || c.autoGuid())
      throw Error(columnText(c) + " is numbered in a way that is not supported");
  rowCount_ = definition_.rowCount();
  lastAutoNumber_ = definition_.lastAutoNumber();
  beginTransaction();
}

RowAppender::~RowAppender() {
  if (!broken_ && channel_.inTransaction()) channel_.rollback();
}

void RowAppender::beginTransaction() {
  channel_.begin();
  pendingRows_ = 0;
  pendingPages_ = 0;
  indexes_.forgetPagesWritten();
}

void RowAppender::failed() {
  broken_ = true;
  if (channel_.inTransaction()) channel_.rollback();
}

RowAppender::Prepared RowAppender::prepare(const FieldValues& values) const {
  const auto& cols = definition_.columns();
  // Which column each value is for; the previous call's answer when the
  // names are the same.
  bool same = values.size() == lastNames_.size();
  for (std::size_t i = 0; same && i < values.size(); ++i) same = values[i].first == lastNames_[i];
  if (!same) {
    std::vector<std::size_t> found;
    for (const auto& [name, value] : values) {
      auto c = std::find_if(cols.begin(), cols.end(),
                            [&n = name](const Column& col) { return caseInsensitiveEqual(col.name, n); });
      if (c == cols.end()) throw Error("the table has no column '" + name + "'");
      const auto index = static_cast<std::size_t>(c - cols.begin());
      if (std::find(found.begin(), found.end(), index) != found.end())
        throw Error(columnText(*c) + " is given twice");
      found.push_back(index);
    }
    lastNames_.clear();
    for (const auto& v : values) lastNames_.push_back(v.first);
    lastColumns_ = std::move(found);
  }

  Prepared p;
  p.values.resize(cols.size());
  for (std::size_t i = 0; i < cols.size(); ++i)
    if (cols[i].isBoolean()) p.values[i] = RowValue::ofBoolean(false);
  for (std::size_t v = 0; v < values.size(); ++v) {
    const std::size_t i = lastColumns_[v];
    const Column& c = cols[i];
    const FieldValue& value = values[v].second;
    if (c.autoIncrement()) {
      if (numbers_ == AutoNumbers::Counter) throw Error(columnText(c) + " is numbered by the engine");
      if (value.kind != FieldValue::Kind::Long || value.integer < 1 || value.integer > INT32_MAX)
        throw Error(columnText(c) + " takes a number of 1 or more");
    }
    if (value.kind == FieldValue::Kind::Null) continue;
    auto expect = [&](FieldValue::Kind k) {
      if (value.kind != k)
        throw Error(columnText(c) + " of type " + columnTypeName(c.type) + " cannot take " +
                    kindName(value.kind));
    };
    switch (c.type) {
      case kTypeBoolean:
        expect(FieldValue::Kind::Boolean);
        p.values[i] = RowValue::ofBoolean(value.boolean);
        break;
      case kTypeByte:
      case kTypeInteger:
      case kTypeLong: {
        expect(FieldValue::Kind::Long);
        const std::int64_t lo = c.type == kTypeByte ? 0 : c.type == kTypeInteger ? -32768 : INT32_MIN;
        const std::int64_t hi = c.type == kTypeByte ? 255 : c.type == kTypeInteger ? 32767 : INT32_MAX;
        if (value.integer < lo || value.integer > hi)
          throw Error(columnText(c) + " cannot hold " + std::to_string(value.integer));
        p.values[i] = RowValue::of(littleEndian(static_cast<std::uint64_t>(value.integer), fixedValueSize(c)));
        break;
      }
      case kTypeCurrency:
        expect(FieldValue::Kind::Currency);
        p.values[i] = RowValue::of(littleEndian(static_cast<std::uint64_t>(value.integer), 8));
        break;
      case kTypeDateTime:
        expect(FieldValue::Kind::DateTime);
        if (!std::isfinite(value.days)) throw Error(columnText(c) + " cannot hold a date that is not a number");
        p.values[i] = RowValue::of(littleEndian(std::bit_cast<std::uint64_t>(value.days), 8));
        break;
      case kTypeText: {
        expect(FieldValue::Kind::Text);
        const std::size_t units = utf8ToUtf16le(value.text).size() / 2;
        if (units > c.length / 2u)
          throw Error(columnText(c) + " holds at most " + std::to_string(c.length / 2u) +
                      " characters, not " + std::to_string(units));
        p.values[i] = RowValue::of(encodeTextValue(value.text, c.compressedUnicode()));
        break;
      }
      case kTypeMemo: {
        expect(FieldValue::Kind::Text);
        std::vector<std::uint8_t> data = encodeTextValue(value.text, c.compressedUnicode());
        if (data.size() > 0xFFFFFF) throw Error(columnText(c) + " holds at most 16 MB");
        p.pages += longValuePages(data.size());
        p.longValues.push_back({i, std::move(data)});
        break;
      }
      default:
        throw Error(columnText(c) + " of type " + columnTypeName(c.type) +
                    " is not supported for appended rows");
    }
  }
  return p;
}

std::vector<std::uint8_t> RowAppender::storeLongValue(const Column& c,
                                                      const std::vector<std::uint8_t>& data) {
  const auto& maps = definition_.columnUsageMaps();
  auto m = std::find_if(maps.begin(), maps.end(),
                        [&c](const ColumnUsageMaps& u) { return u.columnNumber == c.number; });
  if (m == maps.end()) throw Error(columnText(c) + " has no long-value usage maps");
  if (data.size() <= kMaxInlineLongValue || data.size() > kMaxLongValueRow)
    return writeLongValue(channel_, LongValueColumnMaps{m->ownedPages, m->freeSpacePages}, data,
                          kMaxInlineLongValue);
  auto [at, first] = longValuePages_.try_emplace(c.number, 0);
  std::uint32_t& current = at->second;
  if (first) {
    // The last LVAL page of the column that its free-space map lists.
    const UsageMap free = UsageMap::read(channel_, m->freeSpacePages);
    for (auto it = free.pages().rbegin(); it != free.pages().rend(); ++it) {
      if (*it < 3) continue;
      const Page p = channel_.readPage(*it);
      if (p[0] == kPageTypeData && ByteReader(p, "long value page").u32(4) == kLongValuePageOwner) {
        current = *it;
        break;
      }
    }
  }
  std::optional<std::uint16_t> row;
  if (current != 0) {
    Page p = channel_.readPage(current);
    row = addRowToPage(p, data);
    if (row) {
      channel_.writePage(current, p);
    } else {
      removePageFromUsageMap(channel_, m->freeSpacePages, current);
    }
  }
  if (!row) {
    current = channel_.allocatePage();
    Page p = newDataPage(kLongValuePageOwner);
    row = addRowToPage(p, data);
    if (!row) throw Error("a long value row does not fit on a new page");
    channel_.writePage(current, p);
    addPageToUsageMap(channel_, m->ownedPages, current);
    addPageToUsageMap(channel_, m->freeSpacePages, current);
  }
  // The 12-byte reference: length, one-row form, row, page.
  std::vector<std::uint8_t> out(kLongValueHeaderSize, 0);
  for (std::size_t i = 0; i < 3; ++i) out[i] = static_cast<std::uint8_t>(data.size() >> (8 * i));
  out[3] = kLongValueSinglePage;
  out[4] = static_cast<std::uint8_t>(*row);
  for (std::size_t i = 0; i < 3; ++i) out[5 + i] = static_cast<std::uint8_t>(current >> (8 * i));
  return out;
}

std::vector<RowValue> RowAppender::storeValues(Prepared& prepared) {
  for (auto& lv : prepared.longValues)
    prepared.values[lv.column] = RowValue::of(storeLongValue(definition_.columns()[lv.column], lv.data));
  return std::move(prepared.values);
}

void RowAppender::flushPage() {
  if (pageDirty_) channel_.writePage(pageNumber_, page_);
  pageDirty_ = false;
}

RowId RowAppender::placeRow(const std::vector<std::uint8_t>& row) {
  if (!located_) {
    // The last page of the table that the free-space map lists.
    const UsageMap owned = UsageMap::read(channel_, definition_.ownedPages());
    const UsageMap free = UsageMap::read(channel_, definition_.freeSpacePages());
    for (auto it = owned.pages().rbegin(); it != owned.pages().rend(); ++it) {
      if (!free.contains(*it)) continue;
      Page p = channel_.readPage(*it);
      if (p[0] != kPageTypeData || DataPage(p, *it).tableDefinitionPage() != definitionPage_) continue;
      pageNumber_ = *it;
      page_ = p;
      break;
    }
    located_ = true;
  }
  if (pageNumber_ != 0 && rowFits(page_, row.size())) {
    const std::uint16_t number = insertRow(page_, row);
    pageDirty_ = true;
    return RowId{pageNumber_, number};
  }
  if (pageNumber_ != 0) {
    flushPage();
    removePageFromUsageMap(channel_, definition_.freeSpacePages(), pageNumber_);
  }
  const std::uint32_t n = channel_.allocatePage();
  page_ = newDataPage(definitionPage_);
  pageNumber_ = n;
  const std::uint16_t number = insertRow(page_, row);
  pageDirty_ = true;
  flushPage();
  addPageToUsageMap(channel_, definition_.ownedPages(), n);
  addPageToUsageMap(channel_, definition_.freeSpacePages(), n);
  ++pendingPages_;
  return RowId{n, number};
}

AppendedRow RowAppender::append(const FieldValues& values) {
  if (broken_) throw Error("the rows were rolled back after an error; no more rows are appended");
  Prepared prepared = prepare(values);
  if (pendingRows_ > 0 && pendingPages() + prepared.pages > pagesPerCommit_) commit();
  AppendedRow out;
  std::uint32_t last = lastAutoNumber_;
  bool numbered = false;
  const auto& cols = definition_.columns();
  for (std::size_t i = 0; i < cols.size(); ++i) {
    if (!cols[i].autoIncrement()) continue;
    if (numbers_ == AutoNumbers::Given) {
      if (prepared.values[i].isNull()) throw Error(columnText(cols[i]) + " takes a number of 1 or more");
      const auto given = static_cast<std::uint32_t>(ByteReader(prepared.values[i].bytes, "number").i32(0));
      last = std::max(last, given);
      out.autoNumbers.push_back(static_cast<std::int32_t>(given));
      continue;
    }
    if (!numbered) {
      if (last >= 0x7FFFFFFFu) throw Error("the table's numbers are used up");
      ++last;
      numbered = true;
    }
    prepared.values[i] = RowValue::ofLong(static_cast<std::int32_t>(last));
    out.autoNumbers.push_back(static_cast<std::int32_t>(last));
  }
  // Keys that cannot be written, or that a unique index holds, are refused
  // before any page changes (only the row pointer depends on the place).
  if (indexes_.count() > 0) indexes_.checkUnique(indexes_.entriesOf(prepared.values, RowId{}));
  try {
    const std::uint32_t before = channel_.pageCount();
    std::vector<RowValue> stored = storeValues(prepared);
    pendingPages_ += channel_.pageCount() - before;
    out.id = placeRow(encodeRow(definition_, stored));
    if (indexes_.count() > 0) indexes_.add(indexes_.entriesOf(stored, out.id));
    if (rowCount_ == UINT32_MAX) throw Error("the table holds as many rows as it can");
    ++rowCount_;
    lastAutoNumber_ = last;
    ++pendingRows_;
    return out;
  } catch (...) {
    failed();
    throw;
  }
}

void RowAppender::commit() {
  if (broken_) throw Error("the rows were rolled back after an error; nothing to commit");
  try {
    flushPage();
    Page def = channel_.readPage(definitionPage_);  // with the indexes' distinct-key counts
    put32(def, TableDefinition::kRowCountOffset, rowCount_);
    put32(def, TableDefinition::kAutoNumberOffset, lastAutoNumber_);
    channel_.writePage(definitionPage_, def);
    channel_.commit();
    beginTransaction();
  } catch (...) {
    failed();
    throw;
  }
}

AppendedRow appendValues(PageChannel& channel, std::uint32_t definitionPage,
                         const FieldValues& values) {
  RowAppender appender(channel, definitionPage);
  AppendedRow out = appender.append(values);
  appender.commit();
  return out;
}

}  // namespace engine
