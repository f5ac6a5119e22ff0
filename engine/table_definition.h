// A table definition (TDEF): header, columns, indexes and usage maps.
//
// A definition starts on a page of type 0x02 and may continue on further
// pages (the 4-byte pointer at offset 4); the continuation pages' contents
// follow without their 8-byte page header. The parsed sections keep their
// byte ranges in raw() so that a writer can insert a column and re-emit the
// rest unchanged. Layout of raw(), Jet 4:
//
//   0  page header (8)         8 definition length (4)   16 row count (4)
//   20 auto-increment (4)      24 auto-increment flag    40 table type (1)
//   41 max columns (2)         43 variable columns (2)   45 columns (2)
//   47 logical indexes (4)     51 real indexes (4)
//   55 owned pages map (4)     59 free-space pages map (4)
//   63 real index row counts (12 each), column blocks (25 each), column
//      names (2-byte length + UCS-2), real index blocks (52 each), logical
//      index blocks (28 each), logical index names, long-value column usage
//      maps (2 + 4 + 4 each) ended by FF FF.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/column.h"
#include "engine/page_channel.h"
#include "engine/usage_map.h"

namespace engine {

struct ByteRange {
  std::size_t offset = 0;
  std::size_t length = 0;
  std::size_t end() const { return offset + length; }
};

struct IndexColumnRef {
  std::uint16_t columnNumber = 0;
  std::uint8_t flags = 0;  // 0x01 ascending
};

// The data of an index (the "real" index), which logical indexes share.
struct RealIndex {
  std::uint32_t uniqueEntryCount = 0;  // from the row-count block
  std::vector<IndexColumnRef> columns;  // up to 10
  UsageMapRef usageMap;
  std::uint32_t firstPage = 0;  // root index page
  std::uint8_t flags = 0;       // 0x01 unique, 0x02 ignore nulls, 0x08 required
  ByteRange countBlock;         // the 12-byte block
  ByteRange block;              // the 52-byte block
};

struct LogicalIndex {
  std::uint32_t number = 0;
  std::uint32_t realIndex = 0;  // which RealIndex backs it
  std::uint8_t relatedTableType = 0;
  std::int32_t relatedIndex = -1;
  std::uint32_t relatedTablePage = 0;
  bool cascadeUpdates = false;
  bool cascadeDeletes = false;
  std::uint8_t type = 0;  // 1 primary key, 2 foreign key
  std::string name;
  ByteRange block;      // the 28-byte block
  ByteRange nameRange;  // length and name
  bool primaryKey() const { return type == 1; }
  bool foreignKey() const { return type == 2; }
};

struct ColumnUsageMaps {
  std::uint16_t columnNumber = 0;
  UsageMapRef ownedPages;
  UsageMapRef freeSpacePages;
  ByteRange range;
};

// Where each section of the definition lies in raw().
struct TableDefinitionLayout {
  ByteRange header;             // 0 .. 63
  ByteRange realIndexCounts;
  ByteRange columns;
  ByteRange columnNames;
  ByteRange realIndexes;
  ByteRange logicalIndexes;
  ByteRange logicalIndexNames;
  ByteRange columnUsageMaps;    // entries only
  ByteRange terminator;         // FF FF (empty when absent)
};

class TableDefinition {
 public:
  static constexpr std::size_t kHeaderSize = 63;
  static constexpr std::size_t kRealIndexCountSize = 12;
  static constexpr std::size_t kRealIndexSize = 52;
  static constexpr std::size_t kLogicalIndexSize = 28;
  static constexpr std::size_t kNextPageOffset = 4;
  static constexpr std::size_t kLengthOffset = 8;
  static constexpr std::size_t kRowCountOffset = 16;
  static constexpr std::size_t kAutoNumberOffset = 20;
  static constexpr std::size_t kTableTypeOffset = 40;
  static constexpr std::size_t kMaxColumnsOffset = 41;
  static constexpr std::size_t kVarColumnsOffset = 43;
  static constexpr std::size_t kColumnCountOffset = 45;
  static constexpr std::size_t kLogicalIndexCountOffset = 47;
  static constexpr std::size_t kRealIndexCountOffset = 51;
  static constexpr std::size_t kOwnedPagesOffset = 55;
  static constexpr std::size_t kFreeSpacePagesOffset = 59;
  // Bounds a definition may not exceed.
  static constexpr std::size_t kMaxPages = 64;
  static constexpr std::size_t kMaxColumns = 256;
  static constexpr std::size_t kMaxIndexes = 64;
  static constexpr std::size_t kMaxNameBytes = 256;

  // Reads the definition starting at page `page`, with its continuation pages.
  static TableDefinition read(PageChannel& channel, std::uint32_t page);
  // The same, shared: decoded once for this process's connections while its
  // pages stay as they are (PageChannel::derived).
  static std::shared_ptr<const TableDefinition> shared(PageChannel& channel, std::uint32_t page);
  // Parses a definition already joined from its pages.
  static TableDefinition parse(std::vector<std::uint8_t> raw, std::vector<std::uint32_t> pages);

  std::uint32_t page() const { return pages_.empty() ? 0 : pages_.front(); }
  // The pages of the definition in order, the first page first.
  const std::vector<std::uint32_t>& pages() const { return pages_; }
  // The whole definition: first page whole, then each continuation page
  // without its 8-byte header.
  const std::vector<std::uint8_t>& raw() const { return raw_; }
  const TableDefinitionLayout& layout() const { return layout_; }

  std::uint32_t definitionLength() const { return definitionLength_; }
  std::uint32_t rowCount() const { return rowCount_; }
  // The auto-increment counter as stored: the last number handed out.
  std::uint32_t lastAutoNumber() const { return autoNumber_; }
  // The number the next new row's auto-increment column gets.
  std::uint32_t nextAutoNumber() const { return autoNumber_ + 1; }
  std::uint8_t tableType() const { return tableType_; }  // 0x4E user, 0x53 system
  std::uint16_t maxColumns() const { return maxColumns_; }
  std::uint16_t variableColumnCount() const { return varColumns_; }
  UsageMapRef ownedPages() const { return ownedPages_; }
  UsageMapRef freeSpacePages() const { return freeSpacePages_; }

  // Columns sorted by column number.
  const std::vector<Column>& columns() const { return columns_; }
  const Column* findColumn(std::string_view name) const;  // letter case ignored
  const std::vector<RealIndex>& realIndexes() const { return realIndexes_; }
  const std::vector<LogicalIndex>& logicalIndexes() const { return logicalIndexes_; }
  const std::vector<ColumnUsageMaps>& columnUsageMaps() const { return columnUsageMaps_; }

 private:
  static TableDefinition readPages(PageChannel& channel, std::uint32_t page);
  std::vector<std::uint32_t> pages_;
  std::vector<std::uint8_t> raw_;
  TableDefinitionLayout layout_;
  std::uint32_t definitionLength_ = 0;
  std::uint32_t rowCount_ = 0;
  std::uint32_t autoNumber_ = 0;
  std::uint8_t tableType_ = 0;
  std::uint16_t maxColumns_ = 0;
  std::uint16_t varColumns_ = 0;
  UsageMapRef ownedPages_;
  UsageMapRef freeSpacePages_;
  std::vector<Column> columns_;
  std::vector<RealIndex> realIndexes_;
  std::vector<LogicalIndex> logicalIndexes_;
  std::vector<ColumnUsageMaps> columnUsageMaps_;
};

}  // namespace engine
