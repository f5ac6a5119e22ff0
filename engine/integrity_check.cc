#include "engine/integrity_check.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <condition_variable>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <span>
#include <thread>
#include <unordered_map>
#include <utility>

#include "engine/byte_reader.h"
#include "engine/catalog.h"
#include "engine/data_page.h"
#include "engine/database_header.h"
#include "engine/error.h"
#include "engine/in_use.h"
#include "engine/index_key.h"
#include "engine/index_tree.h"
#include "engine/jet_database.h"
#include "engine/little_endian.h"
#include "engine/lock.h"
#include "engine/long_value.h"
#include "engine/row.h"
#include "engine/sort_order.h"
#include "engine/table_definition.h"
#include "engine/table_indexes.h"
#include "engine/table_writer.h"
#include "engine/text_codec.h"
#include "engine/usage_map.h"

namespace engine {
namespace {

constexpr std::uint8_t kPageTypeHeader = 0x00;
constexpr std::uint8_t kPageTypeIndexNode = 0x03;
constexpr std::uint8_t kPageTypeIndexLeaf = 0x04;
constexpr std::size_t kOwnerOffset = 4;
constexpr std::size_t kFreeSpaceOffset = 2;
constexpr std::size_t kDefinitionPageHeader = 8;
constexpr std::size_t kChainPointerSize = 4;
constexpr std::uint8_t kIndexAscending = 0x01;
constexpr std::uint8_t kIndexUnique = 0x01;
constexpr std::uint8_t kIndexIgnoreNulls = 0x02;
constexpr int kMaxOverflowHops = 4;
constexpr std::uint8_t kTableTypeUser = 0x4E;
constexpr std::uint8_t kTableTypeSystem = 0x53;

// Stores a value RowValues::value just returned, member by member. A
// whole-struct copy loads it in 16-byte pieces over the narrower stores
// that built it, which the processor cannot forward: a stall on every value
// of every row checked, about a sixth of the check's time.
void takeValue(RawValue& to, const RawValue& from) {
  to.kind = from.kind;
  to.bytes = from.bytes;
  to.boolean = from.boolean;
}

// What a page is used for, as the structures that reach it say.
enum class Use : std::uint8_t {
  None,
  Header,
  GlobalMap,
  Definition,  // a page of a table definition
  MapRows,     // a data page holding usage-map rows (shared by many maps)
  MapPage,     // a bitmap page (type 0x05) of a page-indirect usage map
  Data,        // a data page holding a table's rows
  Index,       // a page of an index
  LongValue,   // an LVAL page
};

struct PageInfo {
  std::uint8_t type = 0;
  std::uint32_t owner = 0;  // bytes 4..7: the owning definition page
  bool longValue = false;   // "LVAL" at offset 4
  bool empty = false;       // all zeros
};

struct Claim {
  Use use = Use::None;
  int table = -1;
};

struct TableInfo {
  CatalogEntry entry;
  std::optional<TableDefinition> definition;
};

// The entries an index should hold, from the rows; given up (with the reason)
// as soon as one row's key cannot be computed.
struct ExpectedEntries {
  bool computable = true;
  std::string why;
  std::vector<IndexEntry> entries;
};

std::string pageText(std::uint32_t page) { return "page " + std::to_string(page); }
std::string rowText(RowId id) {
  return "row " + std::to_string(id.row) + " of page " + std::to_string(id.page);
}

RowId entryRow(const IndexEntry& e) {
  const std::size_t n = e.size();
  return RowId{std::uint32_t{e[n - 4]} << 16 | std::uint32_t{e[n - 3]} << 8 | e[n - 2],
               e[n - 1]};
}

struct RowOrder {
  bool operator()(RowId a, RowId b) const {
    return std::pair(a.page, a.row) < std::pair(b.page, b.row);
  }
};

class Checker {
 public:
  Checker(PageChannel& channel, CheckHelp help)
      : channel_(channel), source_(pageSourceOf(channel)), help_(std::move(help)) {}

  IntegrityReport run() {
    pageCount_ = channel_.pageCount();
    if (pageCount_ < 3) {
      problem(std::nullopt, -1,
              "the file has " + std::to_string(pageCount_) + " pages, fewer than any database");
      return std::move(report_);
    }
    readPageInfo();
    try {
      databaseOrder_ = headerSortOrder(
          DatabaseHeader::parse(channel_.readPage(0), std::uint64_t{pageCount_} * kPageSize).sortOrder());
    } catch (const Error& e) {
      problem(0u, -1, std::string("the header cannot be read: ") + e.what());
    }
    claim(0, Use::Header, -1);
    claim(1, Use::GlobalMap, -1);
    if (pages_[0].type != kPageTypeHeader) problem(0u, -1, "the header page has type " + typeText(0));
    if (pages_[1].type != kPageTypeData) problem(1u, -1, "the global usage map is not a data page");

    std::optional<Catalog> catalog;
    try {
      catalog = Catalog::read(channel_);
    } catch (const Error& e) {
      problem(kCatalogPage, -1, std::string("the catalog cannot be read: ") + e.what());
    }
    if (catalog) {
      checkCatalog(*catalog);
      for (int t = 0; t < static_cast<int>(tables_.size()); ++t)
        if (tables_[t].definition) checkTable(t);
      checkLongValuePages();
    }
    checkPageUse(catalog.has_value());
    return std::move(report_);
  }

 private:
  // --- reporting ---

  void problem(std::optional<std::uint32_t> page, int table, std::string message) {
    if (report_.problems.size() >= IntegrityReport::kMaxListedProblems) {
      ++report_.unlisted;
      return;
    }
    report_.problems.push_back(
        IntegrityProblem{page, table >= 0 ? tables_[table].entry.name : std::string(), std::move(message)});
  }

  void drift(int t, std::string count, std::int64_t stored, std::int64_t actual) {
    report_.drifts.push_back(CountDrift{tables_[t].definition->page(), tables_[t].entry.name,
                                        std::move(count), stored, actual});
  }

  bool isSystemTable(int t) const { return (tables_[t].entry.flags & kSystemObjectFlags) != 0; }

  std::string typeText(std::uint32_t page) const {
    const PageInfo& p = pages_[page];
    if (p.type == kPageTypeData && p.longValue) return "LVAL";
    static const char* const names[] = {"0x00", "data", "table definition", "index node",
                                        "index leaf", "usage map"};
    if (p.type < 6) return names[p.type];
    return "0x" + formatHex(p.type);
  }
  static std::string formatHex(std::uint8_t b) {
    static const char* const digits = "0123456789abcdef";
    return {digits[b >> 4], digits[b & 15]};
  }

  std::string useText(Use use, int table) const {
    const std::string of = table >= 0 ? " of table " + tables_[table].entry.name : std::string();
    switch (use) {
      case Use::None: return "nothing";
      case Use::Header: return "the header";
      case Use::GlobalMap: return "the global usage map";
      case Use::Definition: return "the definition" + of;
      case Use::MapRows: return "usage-map rows";
      case Use::MapPage: return "a usage-map page" + of;
      case Use::Data: return "a data page" + of;
      case Use::Index: return "an index page" + of;
      case Use::LongValue: return "a long-value page" + of;
    }
    return "nothing";
  }

  // Records what the page serves as; a second, different use is a problem.
  // Pages of usage-map rows serve any number of maps, and an LVAL page any
  // number of long values (of any table).
  void claim(std::uint32_t page, Use use, int table) {
    if (page >= pageCount_) {
      problem(page, table, useText(use, table) + " lies beyond the end of the file");
      return;
    }
    Claim& c = claims_[page];
    if (c.use == Use::None) {
      c = Claim{use, table};
      return;
    }
    if (c.use == use && (c.table == table || use == Use::MapRows || use == Use::LongValue)) return;
    problem(page, table,
            "the page serves as " + useText(use, table) + " and as " + useText(c.use, c.table));
  }

  // --- pages ---

  void readPageInfo() {
    pages_.resize(pageCount_);
    claims_.resize(pageCount_);
    // Only each page's first bytes, most pages being read again later (or
    // never); the rest only of a page that starts with zeros.
    std::array<std::uint8_t, 8> head{};
    const auto zero = [](std::uint8_t b) { return b == 0; };
    for (std::uint32_t n = 0; n < pageCount_; ++n) {
      channel_.readPageHead(n, head);
      PageInfo& info = pages_[n];
      info.type = head[0];
      info.owner = get32(head, kOwnerOffset);
      info.longValue = head[4] == 'L' && head[5] == 'V' && head[6] == 'A' && head[7] == 'L';
      if (std::all_of(head.begin(), head.end(), zero)) {
        const std::shared_ptr<const Page> page = channel_.pageView(n);
        info.empty = std::all_of(page->begin(), page->end(), zero);
      }
    }
  }

  // --- catalog ---

  void checkCatalog(const Catalog& catalog) {
    std::map<std::int32_t, const CatalogEntry*> byId;
    for (const CatalogEntry& e : catalog.entries())
      if (!byId.emplace(e.id, &e).second)
        problem(e.row.page, -1, "catalog rows '" + e.name + "' and '" + byId[e.id]->name +
                                    "' share the id " + std::to_string(e.id));

    std::map<std::pair<std::int32_t, std::u32string>, const CatalogEntry*> byName;
    for (const CatalogEntry& e : catalog.entries()) {
      if (!byName.emplace(std::pair(e.parentId, foldedName(e.name)), &e).second)
        problem(e.row.page, -1, "two catalog rows under the same parent are named '" + e.name + "'");
      if (e.parentId != 0 && byId.count(e.parentId) == 0 && !isTopContainer(e))
        problem(e.row.page, -1, "catalog row '" + e.name + "' names the parent " +
                                    std::to_string(e.parentId) + ", which the catalog lacks");
    }

    std::map<std::uint32_t, int> byDefinition;
    for (const CatalogEntry& e : catalog.entries()) {
      if (e.type != kObjectTypeTable) continue;
      const int t = static_cast<int>(tables_.size());
      tables_.push_back(TableInfo{e, std::nullopt});
      const std::uint32_t page = e.tableDefinitionPage();
      if (page >= pageCount_ || pages_[page].type != kPageTypeTableDefinition) {
        problem(e.row.page, t,
                "the catalog row names " + pageText(page) + " as the table's definition, " +
                    (page >= pageCount_ ? "beyond the end of the file" : "a " + typeText(page) + " page"));
        continue;
      }
      if (auto [it, fresh] = byDefinition.emplace(page, t); !fresh) {
        problem(e.row.page, t, "the table shares its definition " + pageText(page) + " with table " +
                                   tables_[it->second].entry.name);
        continue;
      }
      try {
        tables_[t].definition = TableDefinition::read(channel_, page);
        // Access's own tables are flagged system in the catalog but have
        // user definitions (MSysAccessObjects); a system definition under a
        // user table's row is not a table a user may change.
        const std::uint8_t type = tables_[t].definition->tableType();
        if (type != kTableTypeUser && (type != kTableTypeSystem || !isSystemTable(t)))
          problem(page, t, std::string("the catalog calls it a ") + (isSystemTable(t) ? "system" : "user") +
                               " table, its definition has table type " + std::to_string(type));
      } catch (const Error& err) {
        problem(page, t, std::string("the table definition cannot be read: ") + err.what());
      }
    }
  }

  // The containers at the top of the tree name a parent that has no row.
  static bool isTopContainer(const CatalogEntry& e) { return (e.parentId & 0x00FFFFFF) == 0; }

  // --- tables ---

  std::optional<UsageMap> readMap(int t, UsageMapRef ref, const std::string& what) {
    std::uint32_t at = ref.page;
    try {
      UsageMap map = UsageMap::read(channel_, ref);
      claim(ref.page, Use::MapRows, -1);
      for (std::uint32_t p : map.mapPages()) claim(p, Use::MapPage, t);
      return map;
    } catch (const Error& e) {
      problem(at, t, "the " + what + " cannot be read: " + e.what());
      return std::nullopt;
    }
  }

  void checkDefinition(int t) {
    const TableDefinition& d = *tables_[t].definition;
    for (std::uint32_t p : d.pages()) claim(p, Use::Definition, t);
    // The length covers the definition through its FF FF, and each page's
    // free-space field says what the length leaves of it (FORMAT.md 7.2).
    const TableDefinitionLayout& L = d.layout();
    const std::size_t end = L.terminator.length > 0 ? L.terminator.end() : L.columnUsageMaps.end();
    if (d.definitionLength() != end)
      problem(d.page(), t, "the definition's length says " + std::to_string(d.definitionLength()) +
                               " bytes, it ends after " + std::to_string(end));
    std::uint64_t left = d.definitionLength();
    for (std::size_t i = 0; i < d.pages().size(); ++i) {
      const std::uint64_t room = i == 0 ? kPageSize : kPageSize - kDefinitionPageHeader;
      const std::uint64_t here = std::min(left, room);
      const std::uint64_t used = here + (i == 0 ? 0 : kDefinitionPageHeader);
      left -= here;
      const std::uint64_t want = used >= kPageSize - kDefinitionPageHeader ? 0 : kPageSize - kDefinitionPageHeader - used;
      const std::uint16_t field = ByteReader(channel_.readPage(d.pages()[i]), "definition page").u16(kFreeSpaceOffset);
      if (field != want)
        problem(d.pages()[i], t, "the definition page's free-space field says " + std::to_string(field) +
                                     " bytes, its length leaves " + std::to_string(want));
      if (here == 0) problem(d.pages()[i], t, "the definition continues on a page its length does not reach");
    }
    if (left > 0)
      problem(d.page(), t, "the definition's length reaches beyond its " + std::to_string(d.pages().size()) +
                               " pages");
    std::set<std::uint16_t> varIndexes;
    std::vector<std::pair<std::size_t, const Column*>> fixed;
    for (const Column& c : d.columns()) {
      if (c.variableLength()) {
        if (!varIndexes.insert(c.varIndex).second)
          problem(d.page(), t, "column '" + c.name + "' shares its variable index " +
                                   std::to_string(c.varIndex) + " with another column");
      } else if (fixedValueSize(c) > 0) {
        fixed.emplace_back(c.fixedOffset, &c);
      }
    }
    std::sort(fixed.begin(), fixed.end());
    for (std::size_t i = 1; i < fixed.size(); ++i) {
      const Column& a = *fixed[i - 1].second;
      if (a.fixedOffset + fixedValueSize(a) > fixed[i].first)
        problem(d.page(), t, "the fixed columns '" + a.name + "' and '" + fixed[i].second->name +
                                 "' overlap in the row");
    }
  }

  void checkTable(int t) {
    const TableDefinition& d = *tables_[t].definition;
    checkDefinition(t);
    const std::optional<UsageMap> owned = readMap(t, d.ownedPages(), "owned-pages map");
    const std::optional<UsageMap> free = readMap(t, d.freeSpacePages(), "free-space map");

    std::vector<std::uint32_t> dataPages;
    if (owned) {
      for (std::uint32_t p : owned->pages()) {
        const PageInfo& info = pages_[p];
        if (info.type == kPageTypeData && !info.longValue && info.owner == d.page()) {
          claim(p, Use::Data, t);
          dataPages.push_back(p);
        } else {
          problem(p, t, "the owned-pages map lists a " + typeText(p) + " page" +
                            (info.type == kPageTypeData && !info.longValue
                                 ? " of the definition at " + pageText(info.owner)
                                 : std::string()));
        }
      }
    }
    if (owned && free)
      for (std::uint32_t p : free->pages())
        if (!owned->contains(p)) problem(p, t, "the free-space map lists a page the table does not own");

    longValuePages_.clear();
    for (const ColumnUsageMaps& m : d.columnUsageMaps()) {
      const std::string what = "long-value map of column " + std::to_string(m.columnNumber);
      if (auto lv = readMap(t, m.ownedPages, "owned " + what)) {
        longValuePages_[m.columnNumber] = lv->pages();
        for (std::uint32_t p : lv->pages()) {
          if (pages_[p].longValue && pages_[p].type == kPageTypeData)
            claim(p, Use::LongValue, t);
          else
            problem(p, t, "the owned " + what + " lists a " + typeText(p) + " page");
        }
      }
      readMap(t, m.freeSpacePages, "free-space " + what);
    }

    TableRows rows(d.realIndexes().size());
    for (std::size_t i = 0; i < d.realIndexes().size(); ++i)
      if (std::string why = whyKeysUnknown(d, i); !why.empty()) rows.expected[i] = {false, why, {}};
    // The columns whose values the rows' checks use: long values, auto
    // numbers, the columns of indexes.
    usedColumns_.clear();
    for (std::size_t i = 0; i < d.columns().size(); ++i) {
      const Column& c = d.columns()[i];
      bool used = c.isLongValue() || c.autoIncrement();
      for (const RealIndex& x : d.realIndexes())
        for (const IndexColumnRef& ref : x.columns) used = used || ref.columnNumber == c.number;
      if (used) usedColumns_.push_back(i);
    }
    rowValues_.assign(d.columns().size(), RawValue{});
    rowShape_ = RowShape(d.columns());
    scanDataPages(t, dataPages, rows);

    if (rows.liveCount != d.rowCount()) {
      if (isSystemTable(t))
        drift(t, "rows", d.rowCount(), static_cast<std::int64_t>(rows.liveCount));
      else
        problem(d.page(), t, "the definition counts " + std::to_string(d.rowCount()) +
                                 " rows, the table holds " + std::to_string(rows.liveCount));
    }
    for (const auto& [column, highest] : rows.highestAutoNumber)
      if (highest > std::int64_t{d.lastAutoNumber()})
        problem(d.page(), t, "column '" + column->name + "' holds " + std::to_string(highest) +
                                 ", above the auto-number counter " +
                                 std::to_string(d.lastAutoNumber()));
    std::sort(rows.live.begin(), rows.live.end(), RowOrder{});
    for (std::size_t i = 0; i < d.realIndexes().size(); ++i) checkIndex(t, i, rows);
  }

  // Why the entries of real index i cannot be computed from the rows (empty
  // when they can, as far as the definition tells).
  std::string whyKeysUnknown(const TableDefinition& d, std::size_t i) const {
    for (const IndexColumnRef& ref : d.realIndexes()[i].columns) {
      const auto& cols = d.columns();
      auto c = std::find_if(cols.begin(), cols.end(),
                            [&](const Column& col) { return col.number == ref.columnNumber; });
      if (c == cols.end()) return "a column the table lacks";
      if ((ref.flags & kIndexAscending) == 0) return "column '" + c->name + "' is descending";
      if (c->type == kTypeText) {
        SortOrder order = columnSortOrder(*c);
        if (order.value == 0) order = databaseOrder_;
        if (!order.isGeneral()) return "column '" + c->name + "' has sort order " + order.text();
      }
      if (c->type != kTypeLong && c->type != kTypeText)
        return "column '" + c->name + "' is of type " + columnTypeName(c->type);
    }
    return {};
  }

  struct TableRows {
    explicit TableRows(std::size_t indexes) : expected(indexes) {}
    std::uint64_t liveCount = 0;
    // Where each live row lies (its first part), kept only for a table with
    // indexes, whose entries are matched with them: a table of millions of
    // rows without one is checked in flat memory.
    std::vector<RowId> live;
    std::vector<ExpectedEntries> expected;
    std::map<const Column*, std::int64_t> highestAutoNumber;
    std::set<std::pair<std::uint32_t, std::uint16_t>> overflowTargets;
  };

  // Row i of a data page as its pointer says, within a page whose pointers
  // end at headerEnd.
  struct RowSlot {
    std::size_t start = 0, end = 0;
    bool deleted = false, overflow = false;
    bool bounded = false;  // within the page, after the pointers

    static RowSlot of(const ByteReader& r, std::uint16_t i, std::size_t headerEnd) {
      const std::uint16_t raw = r.u16(DataPage::kFirstRowPointer + 2 * std::size_t{i});
      RowSlot s;
      s.start = raw & DataPage::kOffsetMask;
      s.end = i == 0 ? kPageSize
                     : r.u16(DataPage::kFirstRowPointer + 2 * std::size_t{i - 1u}) & DataPage::kOffsetMask;
      s.deleted = (raw & DataPage::kDeletedFlag) != 0;
      s.overflow = (raw & DataPage::kOverflowFlag) != 0;
      s.bounded = s.start >= headerEnd && s.start <= s.end && s.end <= kPageSize;
      return s;
    }
  };

  void scanDataPage(int t, std::uint32_t number, TableRows& rows) {
    const std::shared_ptr<const Page> shared = channel_.pageView(number);
    const Page& page = *shared;
    const ByteReader r(page, "data page");
    const std::uint16_t count = r.u16(DataPage::kRowCountOffset);
    const std::size_t headerEnd = DataPage::kFirstRowPointer + 2 * std::size_t{count};
    if (headerEnd > kPageSize) {
      problem(number, t, "the page claims " + std::to_string(count) + " rows, more than it holds");
      return;
    }
    std::size_t lowest = kPageSize;
    for (std::uint16_t i = 0; i < count; ++i) {
      const RowSlot slot = RowSlot::of(r, i, headerEnd);
      if (!slot.bounded) {
        if (!slot.deleted) problem(number, t, "row " + std::to_string(i) + " has bad bounds");
        continue;
      }
      lowest = std::min(lowest, slot.start);
      if (slot.deleted) continue;
      const RowId id{number, i};
      const std::size_t start = slot.start, end = slot.end;
      if (!slot.overflow) {
        visitRow(t, id, std::span<const std::uint8_t>(page).subspan(start, end - start), rows);
        continue;
      }
      if (std::optional<std::vector<std::uint8_t>> data = followOverflow(t, id, page, start, end, rows))
        visitRow(t, id, *data, rows);
    }
    const std::uint16_t freeField = r.u16(kFreeSpaceOffset);
    if (freeField != lowest - headerEnd)
      problem(number, t, "the free-space field says " + std::to_string(freeField) +
                             " bytes, the page has " + std::to_string(lowest - headerEnd));
  }

  // --- data pages screened on a second thread ---
  //
  // With help (CheckHelp), half of a large table's data pages (every other
  // chunk) are read on a second thread while this one checks the others.
  // That thread only screens: a page whose rows all hold plainly (bounds,
  // free space, every value inside its row, long values and the LVAL rows
  // they reach, index keys; no overflow row) comes back as what its rows
  // add to the table's tallies and the LVAL rows it uses, which raise no
  // problem unless a row serves two values or its page another use
  // (checked here, against what the pages before it used); any other page
  // comes back unscreened and is checked here as usual, in its place. So
  // the problems found, and their order, are those of a check on one
  // thread.

  struct ScreenedPage {
    bool clean = false;
    std::uint64_t live = 0;
    std::vector<RowId> liveRows;                     // kept for a table with indexes
    std::vector<std::vector<IndexEntry>> entries;    // by real index, for those computable
    std::vector<std::pair<const Column*, std::int64_t>> highest;  // auto numbers
    // The LVAL rows its long values use, in the order the check reaches
    // them, each once.
    std::vector<std::pair<std::uint32_t, std::uint8_t>> longValueRows;
  };

  // What the screening thread needs of the table; nothing of the Checker's
  // own state is touched from it.
  struct PageScreen {
    const TableDefinition* table = nullptr;
    std::vector<std::size_t> usedColumns;
    RowShape shape;
    std::vector<bool> computable;  // by real index, as the check began the table
    SortOrder databaseOrder;
    // The Checker's, which stay as they are while the table's pages are
    // scanned.
    const std::vector<PageInfo>* pages = nullptr;
    const std::map<std::uint16_t, std::vector<std::uint32_t>>* longValuePages = nullptr;

    // What one thread's screening reuses from page to page.
    struct Scratch {
      std::vector<RawValue> values;  // of the row being screened, by column
      std::set<std::pair<std::uint32_t, std::uint8_t>> reached;  // the page's LVAL rows so far
    };

    ScreenedPage screen(PageChannel& channel, const PageSource& source, std::uint32_t number,
                        Scratch& scratch) const {
      ScreenedPage out;
      scratch.reached.clear();
      out.entries.resize(computable.size());
      const std::shared_ptr<const Page> shared = channel.pageView(number);
      const Page& page = *shared;
      const ByteReader r(page, "data page");
      const std::uint16_t count = r.u16(DataPage::kRowCountOffset);
      const std::size_t headerEnd = DataPage::kFirstRowPointer + 2 * std::size_t{count};
      if (headerEnd > kPageSize) return {};
      std::size_t lowest = kPageSize;
      for (std::uint16_t i = 0; i < count; ++i) {
        const RowSlot slot = RowSlot::of(r, i, headerEnd);
        if (!slot.bounded) {
          if (!slot.deleted) return {};
          continue;
        }
        lowest = std::min(lowest, slot.start);
        if (slot.deleted) continue;
        if (slot.overflow) return {};
        if (!screenRow(source, RowId{number, i},
                       std::span<const std::uint8_t>(page).subspan(slot.start, slot.end - slot.start), out, scratch))
          return {};
      }
      if (r.u16(kFreeSpaceOffset) != lowest - headerEnd) return {};
      out.clean = true;
      return out;
    }

    // visitRow's checks of one row, without their effects: false where
    // visitRow would find a problem or has more to follow.
    bool screenRow(const PageSource& source, RowId id, std::span<const std::uint8_t> bytes, ScreenedPage& out,
                   Scratch& scratch) const {
      const TableDefinition& d = *table;
      std::vector<RawValue>& values = scratch.values;
      const auto& cols = d.columns();
      try {
        if (ByteReader(bytes, "row").u16(0) > d.maxColumns()) return false;
        RowValues row(bytes);
        row.requireAll(cols, shape);
        for (std::size_t i : usedColumns) takeValue(values[i], row.value(cols[i]));
        for (std::size_t i : usedColumns) {
          const Column& c = cols[i];
          if (values[i].kind != RawValue::Kind::Bytes) continue;
          if (c.isLongValue() && !screenLongValue(source, c, values[i].bytes, out, scratch)) return false;
          if (c.autoIncrement() && c.type == kTypeLong && values[i].bytes.size() == 4) {
            const std::int64_t v = static_cast<std::int32_t>(get32(values[i].bytes, 0));
            auto it = std::find_if(out.highest.begin(), out.highest.end(),
                                   [&](const auto& h) { return h.first == &c; });
            if (it == out.highest.end())
              out.highest.emplace_back(&c, v);
            else
              it->second = std::max(it->second, v);
          }
        }
        for (std::size_t k = 0; k < computable.size(); ++k)
          if (computable[k]) out.entries[k].push_back(indexEntryOf(d, k, values, id, databaseOrder));
      } catch (const Error&) {
        return false;
      }
      ++out.live;
      if (!d.realIndexes().empty()) out.liveRows.push_back(id);
      return true;
    }

    // checkLongValue without its effects: false where it would find a
    // problem. The LVAL rows it reaches are noted (once each: a row reached
    // twice is left to the check).
    bool screenLongValue(const PageSource& source, const Column& c, std::span<const std::uint8_t> stored,
                         ScreenedPage& out, Scratch& scratch) const {
      const LongValueHeader h = parseLongValueHeader(stored);
      if (h.flags == kLongValueInline) return h.length == stored.size() - kLongValueHeaderSize;
      if (h.flags == kLongValueSinglePage) {
        const std::optional<std::vector<std::uint8_t>> row = screenLongValueRow(source, c, h.page, h.row, out, scratch);
        return row && row->size() == h.length;
      }
      std::uint64_t total = 0;
      std::uint32_t page = h.page;
      std::uint8_t row = h.row;
      while (page != 0) {
        const std::optional<std::vector<std::uint8_t>> bytes = screenLongValueRow(source, c, page, row, out, scratch);
        if (!bytes || bytes->size() < kChainPointerSize) return false;
        total += bytes->size() - kChainPointerSize;
        const std::uint32_t next = ByteReader(*bytes, "long-value row").u32(0);
        page = next >> 8;
        row = static_cast<std::uint8_t>(next & 0xFF);
        if (total > h.length) break;
      }
      return total == h.length;
    }

    // longValueRow's checks that need nothing of the check's state so far.
    std::optional<std::vector<std::uint8_t>> screenLongValueRow(const PageSource& source, const Column& c,
                                                                std::uint32_t page, std::uint8_t row,
                                                                ScreenedPage& out, Scratch& scratch) const {
      const std::pair<std::uint32_t, std::uint8_t> at(page, row);
      if (!scratch.reached.insert(at).second) return std::nullopt;
      std::vector<std::uint8_t> bytes = readLongValueRow(source, page, row);
      if (page >= pages->size() || !(*pages)[page].longValue) return std::nullopt;
      if (auto m = longValuePages->find(c.number);
          m != longValuePages->end() && !std::binary_search(m->second.begin(), m->second.end(), page))
        return std::nullopt;
      out.longValueRows.push_back(at);
      return bytes;
    }
  };

  // Screened chunks on their way from the second thread to this one.
  struct Handover {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::vector<ScreenedPage>> ready;  // in chunk order, not yet taken
    bool finished = false;                        // the second thread screens no more
    bool stop = false;                            // this thread takes no more
  };
  static constexpr std::size_t kChunkPages = 64;

  // The table's data pages, in order. With help, in chunks: this thread
  // checks every other chunk while the second thread screens the one after
  // it, and then takes that one; the second thread stays at most a chunk
  // ahead, so what waits for this thread stays a chunk or two.
  void scanDataPages(int t, const std::vector<std::uint32_t>& dataPages, TableRows& rows) {
    if (!help_.opener || dataPages.size() < std::max<std::size_t>(help_.fromTablePages, 2)) {
      for (std::uint32_t p : dataPages) scanDataPage(t, p, rows);
      return;
    }
    const std::size_t chunk = std::clamp<std::size_t>(dataPages.size() / 8, 1, kChunkPages);
    const std::size_t chunks = (dataPages.size() + chunk - 1) / chunk;
    const auto pagesOf = [&](std::size_t c) {
      return std::span(dataPages).subspan(c * chunk, std::min(chunk, dataPages.size() - c * chunk));
    };
    PageScreen screen{&*tables_[t].definition, usedColumns_, rowShape_, {}, databaseOrder_, &pages_,
                      &longValuePages_};
    for (const ExpectedEntries& x : rows.expected) screen.computable.push_back(x.computable);
    Handover h;
    const std::future<void> screening = std::async(std::launch::async, [&] {
      // Chunks it cannot screen (its channel failing too) are left out: they
      // are checked here, where any failure is this check's own.
      try {
        const std::unique_ptr<PageChannel> channel = help_.opener();
        const PageSource source = pageSourceOf(*channel);
        PageScreen::Scratch scratch;
        scratch.values.resize(screen.table->columns().size());
        for (std::size_t c = 1; c < chunks; c += 2) {
          std::vector<ScreenedPage> out;
          for (std::uint32_t p : pagesOf(c)) out.push_back(screen.screen(*channel, source, p, scratch));
          std::unique_lock lock(h.mutex);
          h.changed.wait(lock, [&] { return h.stop || h.ready.empty(); });
          if (h.stop) break;
          h.ready.push_back(std::move(out));
          h.changed.notify_all();
        }
      } catch (...) {
      }
      const std::lock_guard lock(h.mutex);
      h.finished = true;
      h.changed.notify_all();
    });
    // However this thread leaves, the second one stops before what it uses
    // goes (the future waits for it).
    struct StopOnExit {
      Handover& h;
      ~StopOnExit() {
        const std::lock_guard lock(h.mutex);
        h.stop = true;
        h.changed.notify_all();
      }
    } stopOnExit{h};
    for (std::size_t c = 0; c < chunks; ++c) {
      std::vector<ScreenedPage> screened;
      if (c % 2 == 1) {
        std::unique_lock lock(h.mutex);
        h.changed.wait(lock, [&] { return !h.ready.empty() || h.finished; });
        if (!h.ready.empty()) {
          screened = std::move(h.ready.front());
          h.ready.pop_front();
          h.changed.notify_all();
        }
      }
      const auto pages = pagesOf(c);
      for (std::size_t i = 0; i < pages.size(); ++i)
        if (i >= screened.size() || !screened[i].clean || !absorb(t, screened[i], rows))
          scanDataPage(t, pages[i], rows);
    }
  }

  // What a screened page's rows add to the table's tallies and to the LVAL
  // rows and pages in use; false, with nothing changed, when one of its
  // LVAL rows serves a value already, or its page another use: the page is
  // then checked as usual, which tells.
  bool absorb(int t, ScreenedPage& page, TableRows& rows) {
    for (const auto& [p, r] : page.longValueRows)
      if (seenLongValueRows_.contains(p, r) || p >= pageCount_ ||
          (claims_[p].use != Use::None && claims_[p].use != Use::LongValue))
        return false;
    for (const auto& [p, r] : page.longValueRows) {
      seenLongValueRows_.insert(p, r);
      claim(p, Use::LongValue, t);
    }
    rows.liveCount += page.live;
    rows.live.insert(rows.live.end(), page.liveRows.begin(), page.liveRows.end());
    for (const auto& [column, v] : page.highest) {
      if (auto it = rows.highestAutoNumber.find(column); it != rows.highestAutoNumber.end())
        it->second = std::max(it->second, v);
      else
        rows.highestAutoNumber.emplace(column, v);
    }
    // An index given up on meanwhile takes no more entries.
    for (std::size_t k = 0; k < rows.expected.size(); ++k)
      if (rows.expected[k].computable)
        std::move(page.entries[k].begin(), page.entries[k].end(), std::back_inserter(rows.expected[k].entries));
    return true;
  }

  // The data of an overflow row; each row it leads to lies on a data page of
  // the same table, is flagged deleted (so that a scan sees the row once, at
  // its first place) and serves no other overflow row.
  std::optional<std::vector<std::uint8_t>> followOverflow(int t, RowId id, const Page& page,
                                                          std::size_t start, std::size_t end,
                                                          TableRows& rows) {
    const TableDefinition& d = *tables_[t].definition;
    std::vector<std::uint8_t> pointer(page.begin() + static_cast<std::ptrdiff_t>(start),
                                      page.begin() + static_cast<std::ptrdiff_t>(end));
    for (int hop = 0; hop < kMaxOverflowHops; ++hop) {
      if (pointer.size() < 4) {
        problem(id.page, t, "the overflow pointer of " + rowText(id) + " is cut short");
        return std::nullopt;
      }
      const RowId target{ByteReader(pointer, "overflow pointer").u24(1), pointer[0]};
      if (target.page >= pageCount_ || pages_[target.page].type != kPageTypeData ||
          pages_[target.page].longValue || pages_[target.page].owner != d.page()) {
        problem(id.page, t, rowText(id) + " moved to " + pageText(target.page) +
                                ", which is not a data page of the table");
        return std::nullopt;
      }
      if (!rows.overflowTargets.emplace(target.page, target.row).second) {
        problem(target.page, t, rowText(target) + " holds the data of two rows");
        return std::nullopt;
      }
      const Page other = channel_.readPage(target.page);
      const ByteReader r(other, "data page");
      const std::uint16_t count = r.u16(DataPage::kRowCountOffset);
      const std::size_t headerEnd = DataPage::kFirstRowPointer + 2 * std::size_t{count};
      if (target.row >= count || headerEnd > kPageSize) {
        problem(id.page, t, rowText(id) + " moved to " + rowText(target) + ", which does not exist");
        return std::nullopt;
      }
      const std::uint16_t raw = r.u16(DataPage::kFirstRowPointer + 2 * std::size_t{target.row});
      const std::size_t s = raw & DataPage::kOffsetMask;
      const std::size_t e =
          target.row == 0
              ? kPageSize
              : r.u16(DataPage::kFirstRowPointer + 2 * std::size_t{target.row - 1u}) & DataPage::kOffsetMask;
      if (s < headerEnd || s > e || e > kPageSize) {
        problem(target.page, t, rowText(target) + ", where " + rowText(id) + " moved, has bad bounds");
        return std::nullopt;
      }
      if ((raw & DataPage::kDeletedFlag) == 0) {
        problem(target.page, t, rowText(target) + " holds the moved data of " + rowText(id) +
                                    " but is not flagged, so the row is seen twice");
        return std::nullopt;
      }
      pointer.assign(other.begin() + static_cast<std::ptrdiff_t>(s),
                     other.begin() + static_cast<std::ptrdiff_t>(e));
      if ((raw & DataPage::kOverflowFlag) == 0) return pointer;
    }
    problem(id.page, t, "the overflow rows from " + rowText(id) + " go on too long");
    return std::nullopt;
  }

  void visitRow(int t, RowId id, std::span<const std::uint8_t> bytes, TableRows& rows) {
    const TableDefinition& d = *tables_[t].definition;
    const auto& cols = d.columns();
    // Every value is held against the row; only those the checks below use
    // are taken out (the others stay null).
    std::vector<RawValue>& values = rowValues_;
    try {
      if (ByteReader(bytes, "row").u16(0) > d.maxColumns())
        throw Error("it counts more columns than the table has");
      RowValues row(bytes);
      row.requireAll(cols, rowShape_);
      for (std::size_t i : usedColumns_) takeValue(values[i], row.value(cols[i]));
    } catch (const Error& e) {
      problem(id.page, t, rowText(id) + " cannot be read: " + e.what());
      return;
    }
    ++rows.liveCount;
    if (!d.realIndexes().empty()) rows.live.push_back(id);
    for (std::size_t i : usedColumns_) {
      const Column& c = cols[i];
      if (values[i].kind != RawValue::Kind::Bytes) continue;
      if (c.isLongValue()) checkLongValue(t, c, values[i].bytes, id);
      if (c.autoIncrement() && c.type == kTypeLong && values[i].bytes.size() == 4) {
        const std::int64_t v = static_cast<std::int32_t>(get32(values[i].bytes, 0));
        if (auto it = rows.highestAutoNumber.find(&c); it != rows.highestAutoNumber.end())
          it->second = std::max(it->second, v);
        else
          rows.highestAutoNumber.emplace(&c, v);
      }
    }
    for (std::size_t k = 0; k < rows.expected.size(); ++k) {
      ExpectedEntries& x = rows.expected[k];
      if (!x.computable) continue;
      try {
        x.entries.push_back(indexEntryOf(d, k, values, id, databaseOrder_));
      } catch (const Error& e) {
        x = ExpectedEntries{false, e.what(), {}};
      }
    }
  }

  // --- long values ---

  static std::string valueText(const Column& c, RowId id) {
    return "the value of column '" + c.name + "' in " + rowText(id);
  }

  // A long-value row reached from the value of column c in the row at id;
  // it must lie on an LVAL page and serve no other value.
  std::optional<std::vector<std::uint8_t>> longValueRow(int t, const Column& c, RowId id, std::uint32_t page,
                                                        std::uint8_t row) {
    const auto what = [&] { return valueText(c, id); };
    if (!seenLongValueRows_.insert(page, row)) {
      problem(page, t, "long-value row " + std::to_string(row) + " serves two values (" + what() + ")");
      return std::nullopt;
    }
    try {
      std::vector<std::uint8_t> bytes = readLongValueRow(source_, page, row);
      if (!pages_[page].longValue) {
        problem(page, t, what() + " lies on a data page without the LVAL mark");
        return std::nullopt;
      }
      claim(page, Use::LongValue, t);
      if (auto m = longValuePages_.find(c.number);
          m != longValuePages_.end() && !std::binary_search(m->second.begin(), m->second.end(), page))
        problem(page, t, what() + " lies on a page the column's long-value map does not list");
      return bytes;
    } catch (const Error& e) {
      problem(page, t, what() + ": " + e.what());
      return std::nullopt;
    }
  }

  void checkLongValue(int t, const Column& c, std::span<const std::uint8_t> stored, RowId id) {
    // Put into words only for a problem: most values have none.
    const auto what = [&] { return valueText(c, id); };
    LongValueHeader h;
    try {
      h = parseLongValueHeader(stored);
    } catch (const Error& e) {
      problem(id.page, t, what() + ": " + e.what());
      return;
    }
    if (h.flags == kLongValueInline) {
      if (h.length != stored.size() - kLongValueHeaderSize)
        problem(id.page, t, what() + " declares " + std::to_string(h.length) + " bytes and holds " +
                                std::to_string(stored.size() - kLongValueHeaderSize));
      return;
    }
    if (h.flags == kLongValueSinglePage) {
      if (auto row = longValueRow(t, c, id, h.page, h.row); row && row->size() != h.length)
        problem(h.page, t, what() + " declares " + std::to_string(h.length) +
                               " bytes, its long-value row holds " + std::to_string(row->size()));
      return;
    }
    std::uint64_t total = 0;
    std::uint32_t page = h.page;
    std::uint8_t row = h.row;
    while (page != 0) {
      std::optional<std::vector<std::uint8_t>> bytes = longValueRow(t, c, id, page, row);
      if (!bytes) return;
      if (bytes->size() < kChainPointerSize) {
        problem(page, t, what() + ": long-value row " + std::to_string(row) + " is too short for a chain");
        return;
      }
      total += bytes->size() - kChainPointerSize;
      const std::uint32_t next = ByteReader(*bytes, "long-value row").u32(0);
      page = next >> 8;
      row = static_cast<std::uint8_t>(next & 0xFF);
      if (total > h.length) break;
    }
    if (total != h.length)
      problem(h.page, t, what() + " declares " + std::to_string(h.length) + " bytes, its chain " +
                             (total > h.length ? "holds more" : "holds " + std::to_string(total)));
  }

  // Every live row of an LVAL page in use serves some value.
  void checkLongValuePages() {
    for (std::uint32_t n = 0; n < pageCount_; ++n) {
      if (claims_[n].use != Use::LongValue) continue;
      const std::shared_ptr<const Page> shared = channel_.pageView(n);
      const Page& page = *shared;
      const ByteReader r(page, "LVAL page");
      const std::uint16_t count = r.u16(DataPage::kRowCountOffset);
      if (DataPage::kFirstRowPointer + 2 * std::size_t{count} > kPageSize) {
        problem(n, claims_[n].table, "the LVAL page claims more rows than it holds");
        continue;
      }
      for (std::uint16_t i = 0; i < count; ++i) {
        const std::uint16_t raw = r.u16(DataPage::kFirstRowPointer + 2 * std::size_t{i});
        if ((raw & DataPage::kDeletedFlag) != 0) continue;
        if (i > 0xFF || !seenLongValueRows_.contains(n, static_cast<std::uint8_t>(i)))
          problem(n, claims_[n].table,
                  "long-value row " + std::to_string(i) + " is live but serves no value");
      }
    }
  }

  // --- indexes ---

  std::string indexName(const TableDefinition& d, std::size_t i) const {
    std::string name;
    for (const LogicalIndex& x : d.logicalIndexes())
      if (x.realIndex == i) name += (name.empty() ? "" : "/") + x.name;
    return "index " + (name.empty() ? std::to_string(i) : name);
  }

  // The index's tree walked through IndexTree (pages, links, node entries
  // against their children, order, free space, its usage map), each of its
  // pages owned by this index alone, then its entries against the rows.
  void checkIndex(int t, std::size_t i, TableRows& rows) {
    const TableDefinition& d = *tables_[t].definition;
    const RealIndex& x = d.realIndexes()[i];
    const std::string name = indexName(d, i);
    const std::optional<UsageMap> map = readMap(t, x.usageMap, "usage map of " + name);
    const std::uint32_t root = x.firstPage;
    if (root == 0 || root >= pageCount_) {
      problem(d.page(), t, name + " has its root at " + pageText(root) + ", outside the file");
      return;
    }
    if (pages_[root].type != kPageTypeIndexLeaf && pages_[root].type != kPageTypeIndexNode) {
      problem(root, t, "the root of " + name + " is a " + typeText(root) + " page");
      return;
    }
    IndexTree tree(channel_, d, i);
    tree.verify([&](std::uint32_t page, const std::string& what) { problem(page, t, name + ": " + what); });
    std::vector<std::uint32_t> treePages;
    std::vector<IndexEntry> entries;
    try {
      treePages = tree.pages();
      entries = tree.entries();
    } catch (const Error&) {
      // verify() has named what stops the walk; the pages its map lists are
      // the index's as far as ownership goes.
      if (map)
        for (std::uint32_t p : map->pages()) claimIndexPage(p, t, i, name);
      return;
    }
    for (std::uint32_t p : treePages) claimIndexPage(p, t, i, name);
    checkEntries(t, i, name, root, entries, rows);
  }

  // An index page serves one index of one table.
  void claimIndexPage(std::uint32_t page, int t, std::size_t i, const std::string& name) {
    claim(page, Use::Index, t);
    auto [at, fresh] = indexOfPage_.try_emplace(page, t, i);
    if (!fresh && at->second != std::pair(t, i) && at->second.first == t)
      problem(page, t, "the page serves " + name + " and " + indexName(*tables_[t].definition, at->second.second));
  }

  void checkEntries(int t, std::size_t i, const std::string& name, std::uint32_t page,
                    const std::vector<IndexEntry>& entries, TableRows& rows) {
    const TableDefinition& d = *tables_[t].definition;
    const RealIndex& x = d.realIndexes()[i];
    // The order within and across pages is verify()'s.
    std::uint32_t distinct = 0;
    for (std::size_t k = 0; k < entries.size(); ++k) {
      if (k == 0 || !sameKey(entries[k - 1], entries[k])) {
        ++distinct;
      } else if ((x.flags & kIndexUnique) != 0) {
        problem(page, t, name + " is unique, but the rows at " + rowText(entryRow(entries[k - 1])) +
                             " and " + rowText(entryRow(entries[k])) + " share a key");
      }
    }
    if (distinct != x.uniqueEntryCount) drift(t, "distinct keys of " + name, x.uniqueEntryCount, distinct);

    // Every entry names a live row, every row has its entry.
    std::vector<RowId> named;
    for (const IndexEntry& e : entries) named.push_back(entryRow(e));
    std::sort(named.begin(), named.end(), RowOrder{});
    if (std::adjacent_find(named.begin(), named.end(), [](RowId a, RowId b) {
          return a.page == b.page && a.row == b.row;
        }) != named.end())
      problem(page, t, name + " has several entries for one row");
    std::vector<RowId> stray, missing;
    std::set_difference(named.begin(), named.end(), rows.live.begin(), rows.live.end(),
                        std::back_inserter(stray), RowOrder{});
    std::set_difference(rows.live.begin(), rows.live.end(), named.begin(), named.end(),
                        std::back_inserter(missing), RowOrder{});
    if (!stray.empty())
      problem(page, t, name + " has " + std::to_string(stray.size()) +
                           " entries for rows the table lacks (first " + rowText(stray[0]) + ")");
    if (!missing.empty() && (x.flags & kIndexIgnoreNulls) == 0)
      problem(page, t, name + " lacks the entries of " + std::to_string(missing.size()) +
                           " rows (first " + rowText(missing[0]) + ")");

    ExpectedEntries& want = rows.expected[i];
    if (!want.computable) {
      if (!rows.live.empty())
        report_.notVerified.push_back("table " + tables_[t].entry.name + ", " + name + ": " + want.why);
      return;
    }
    std::sort(want.entries.begin(), want.entries.end(), entryLess);
    if (stray.empty() && missing.empty() && want.entries != entries) {
      std::size_t k = 0;
      while (k < entries.size() && k < want.entries.size() && entries[k] == want.entries[k]) ++k;
      problem(page, t, name + ": entry " + std::to_string(k) +
                           " does not hold the key of the row it names, or is out of its place");
    }
  }

  // --- pages against the global usage map ---

  void checkPageUse(bool catalogRead) {
    std::vector<PageChannel::MapState> states;
    try {
      states = channel_.globalMapStates();
    } catch (const Error& e) {
      problem(1u, -1, std::string("the global usage map cannot be read: ") + e.what());
    }
    std::map<std::uint32_t, int> tableAt;
    for (int t = 0; t < static_cast<int>(tables_.size()); ++t)
      if (tables_[t].definition) tableAt[tables_[t].definition->page()] = t;

    for (std::uint32_t n = 0; n < pageCount_; ++n) {
      const PageChannel::MapState state =
          n < states.size() ? states[n] : PageChannel::MapState::NotCovered;
      const Claim& c = claims_[n];
      if (c.use != Use::None) {
        if (state == PageChannel::MapState::Free)
          problem(n, c.table, "the global usage map marks the page free, but it is " +
                                  useText(c.use, c.table));
        continue;
      }
      if (!catalogRead || state == PageChannel::MapState::Free || pages_[n].empty) continue;
      const PageInfo& info = pages_[n];
      auto owner = tableAt.find(info.owner);
      if (info.type == kPageTypeData && !info.longValue && owner != tableAt.end()) {
        problem(n, owner->second, "a data page of the table is not in its owned-pages map");
      } else if (info.type == kPageTypeTableDefinition) {
        if (isWholeDefinition(n)) problem(n, -1, "a table definition that no catalog row names");
      } else if (info.longValue) {
        // Long-value pages Access no longer uses: left in use (FORMAT.md 11).
      } else if (state == PageChannel::MapState::Used) {
        problem(n, -1, "the global usage map marks the " + typeText(n) +
                           " page in use, but nothing uses it");
      }
    }
  }

  // Whether the page starts a table definition (rather than holding the
  // remains of a continuation page that Access left behind).
  bool isWholeDefinition(std::uint32_t page) {
    try {
      const TableDefinition d = TableDefinition::read(channel_, page);
      return d.tableType() == kTableTypeUser || d.tableType() == kTableTypeSystem;
    } catch (const Error&) {
      return false;
    }
  }

  PageChannel& channel_;
  PageSource source_;
  CheckHelp help_;  // its opener may be empty: everything on this thread
  std::uint32_t pageCount_ = 0;
  std::vector<PageInfo> pages_;
  std::vector<Claim> claims_;
  std::map<std::uint32_t, std::pair<int, std::size_t>> indexOfPage_;  // index page -> table, index
  SortOrder databaseOrder_;  // the header's; text columns of sort order 0 take it
  std::vector<TableInfo> tables_;
  // The LVAL rows values reached, a bit per row of each page: a file of
  // millions of long values is checked in a few MB.
  struct SeenRows {
    std::unordered_map<std::uint32_t, std::bitset<256>> pages;
    // False when the row was seen already.
    bool insert(std::uint32_t page, std::uint8_t row) {
      std::bitset<256>& rows = pages[page];
      if (rows.test(row)) return false;
      rows.set(row);
      return true;
    }
    bool contains(std::uint32_t page, std::uint8_t row) const {
      const auto it = pages.find(page);
      return it != pages.end() && it->second.test(row);
    }
  };
  SeenRows seenLongValueRows_;
  // The current table's long-value pages by column number, for the columns
  // that have long-value maps.
  std::map<std::uint16_t, std::vector<std::uint32_t>> longValuePages_;
  std::vector<RawValue> rowValues_;      // the values of the row visitRow checks, by column
  std::vector<std::size_t> usedColumns_;  // of the table being checked: the values visitRow takes out
  RowShape rowShape_;                     // of the table being checked
  IntegrityReport report_;
};

}  // namespace

IntegrityReport checkIntegrity(PageChannel& channel, const CheckHelp& help) { return Checker(channel, help).run(); }

CheckHelp CheckHelp::onePassChannels(Env& env, const std::string& path) {
  CheckHelp help;
  if (std::thread::hardware_concurrency() > 1)
    help.opener = [&env, path] { return PageChannel::forOnePass(env, path); };
  return help;
}

IntegrityReport checkDatabaseFile(Env& env, const std::string& path, std::string_view password) {
  if (!env.exists(path)) throw Error("the database '" + path + "' does not exist");
  const std::shared_ptr<DatabaseLock> lock = DatabaseLock::acquire(env, path, false);
  if (!lock->held() && isInUseElsewhere(env, path))
    throw Error("the database '" + path +
                "' is in use by another program; it is checked when no other program has it open");
  if (!lock->journalKept() && env.exists(PageChannel::journalPath(path)))
    throw Error("the database '" + path + "' has a rollback journal beside it ('" +
                PageChannel::journalPath(path) +
                "'), left by an interrupted change; it is checked once the engine has settled that "
                "change (karvelta-jet recover, or any open for writing)");
  JetDatabase db(env, path, true, password);
  return checkIntegrity(db.channel(), CheckHelp::onePassChannels(env, path));
}

std::string formatProblem(const IntegrityProblem& problem) {
  std::string line;
  if (problem.page) line = "page " + std::to_string(*problem.page);
  if (!problem.table.empty()) line += (line.empty() ? "table " : ", table ") + problem.table;
  return line + (line.empty() ? "" : ": ") + problem.message;
}

}  // namespace engine
