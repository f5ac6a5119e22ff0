#include "engine/index_addition.h"

#include <array>
#include <span>
#include <vector>

#include "engine/data_page.h"
#include "engine/data_page_writer.h"
#include "engine/error.h"
#include "engine/index_page.h"
#include "engine/little_endian.h"
#include "engine/long_value_writer.h"
#include "engine/table_definition.h"
#include "engine/table_definition_writer.h"
#include "engine/text_codec.h"
#include "engine/usage_map_writer.h"

namespace engine {
namespace {

// Constants of the definition's index blocks, as Access writes them (every
// Jet 4 file): the first u32 of a real index block, of a logical one.
constexpr std::uint32_t kRealIndexMagic = 0x783;
constexpr std::uint32_t kLogicalIndexMagic = 0x659;
// Real index flags of a primary key: unique, required, and 0x80 (on every
// index Jet 4 makes).
constexpr std::uint8_t kPrimaryKeyFlags = 0x89;
constexpr std::uint8_t kAscending = 0x01;
constexpr std::uint8_t kPrimaryKeyType = 1;
constexpr std::size_t kIndexColumnSlots = 10;
constexpr std::size_t kUsageMapRowSize = 69;  // inline: type, start page, 64 bytes

// An empty inline usage map, on the page of the table's own maps when it has
// room, else on a new page.
UsageMapRef addUsageMapRow(PageChannel& channel, const TableDefinition& d) {
  const std::array<std::uint8_t, kUsageMapRowSize> empty{};
  const std::uint32_t home = d.ownedPages().page;
  if (home >= 3 && home < channel.pageCount()) {
    Page page = channel.readPage(home);
    if (page[0] == kPageTypeData) {
      if (const auto row = addRowToPage(page, empty)) {
        channel.writePage(home, page);
        return {static_cast<std::uint8_t>(*row), home};
      }
    }
  }
  const std::uint32_t n = channel.allocatePage();
  Page page = newDataPage(0);
  const auto row = addRowToPage(page, empty);
  if (!row) throw Error("a usage map does not fit on a new page");
  channel.writePage(n, page);
  return {static_cast<std::uint8_t>(*row), n};
}

}  // namespace

void addPrimaryKey(PageChannel& channel, std::uint32_t definitionPage, const std::string& columnName) {
  const TableDefinition d = TableDefinition::read(channel, definitionPage);
  const Column* column = d.findColumn(columnName);
  if (column == nullptr) throw Error("the table has no column '" + columnName + "'");
  if (column->type != kTypeLong && column->type != kTypeText)
    throw Error("column '" + column->name + "' of type " + columnTypeName(column->type) +
                " cannot be a primary key here (Long and Text only)");
  if (d.rowCount() != 0) throw Error("a primary key is added only to a table without rows");
  for (const LogicalIndex& x : d.logicalIndexes())
    if (x.primaryKey()) throw Error("the table has a primary key already ('" + x.name + "')");
  std::vector<std::uint8_t> out = definitionBytes(d);
  const TableDefinitionLayout& L = d.layout();
  const auto realNumber = static_cast<std::uint32_t>(d.realIndexes().size());
  const auto logicalNumber = static_cast<std::uint32_t>(d.logicalIndexes().size());

  WriteTransaction transaction(channel);
  const UsageMapRef map = addUsageMapRow(channel, d);
  const std::uint32_t root = channel.allocatePage();
  channel.writePage(root, IndexPage::empty(true, definitionPage).encode());
  addPageToUsageMap(channel, map, root);

  std::vector<std::uint8_t> name;
  const std::vector<std::uint8_t> utf16 = utf8ToUtf16le(kPrimaryKeyName);
  append16(name, static_cast<std::uint32_t>(utf16.size()));
  name.insert(name.end(), utf16.begin(), utf16.end());

  std::vector<std::uint8_t> logical;
  append32(logical, kLogicalIndexMagic);
  append32(logical, logicalNumber);
  append32(logical, realNumber);
  logical.push_back(0);        // no related table
  append32(logical, 0xFFFFFFFFu);
  append32(logical, 0);
  logical.push_back(0x04);     // the two cascade bytes, 4 on every index Access
  logical.push_back(0x04);     // makes (meaningful on foreign keys only)
  logical.push_back(kPrimaryKeyType);
  append32(logical, 0);

  std::vector<std::uint8_t> real;
  append32(real, kRealIndexMagic);
  append16(real, column->number);
  real.push_back(kAscending);
  for (std::size_t slot = 1; slot < kIndexColumnSlots; ++slot) {
    append16(real, 0xFFFF);
    real.push_back(0);
  }
  append32(real, std::uint32_t{map.page} << 8 | map.row);
  append32(real, root);
  append32(real, 0);
  real.push_back(kPrimaryKeyFlags);
  real.insert(real.end(), 5, 0);

  const std::vector<std::uint8_t> counts(TableDefinition::kRealIndexCountSize, 0);  // no keys yet

  // From the back, so that the earlier offsets stay right.
  auto insertAt = [&out](std::size_t at, std::span<const std::uint8_t> bytes) {
    out.insert(out.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin(), bytes.end());
  };
  insertAt(L.logicalIndexNames.end(), name);
  insertAt(L.logicalIndexes.end(), logical);
  insertAt(L.realIndexes.end(), real);
  insertAt(L.realIndexCounts.end(), counts);
  put32(out, TableDefinition::kLogicalIndexCountOffset, logicalNumber + 1);
  put32(out, TableDefinition::kRealIndexCountOffset, realNumber + 1);
  put32(out, TableDefinition::kLengthOffset, static_cast<std::uint32_t>(out.size()));
  writeDefinitionPages(channel, d, out);
  transaction.commit();
}

}  // namespace engine
