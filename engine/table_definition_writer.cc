#include "engine/table_definition_writer.h"

#include <algorithm>
#include <array>

#include "engine/data_page.h"
#include "engine/error.h"
#include "engine/little_endian.h"
#include "engine/long_value_writer.h"
#include "engine/text_codec.h"

namespace engine {
namespace {

constexpr std::size_t kFirstPageBytes = kPageSize;
constexpr std::size_t kPageHeaderBytes = 8;
constexpr std::size_t kNextPageBytes = kPageSize - kPageHeaderBytes;
constexpr std::size_t kLongValueMapEntrySize = 10;
// An empty inline usage map: type 0, first page 0, 64 bytes of bitmap.
constexpr std::size_t kUsageMapRowSize = 69;
// Jet 4's constant in every column block (bytes 1..4) and at header offset 12.
constexpr std::uint32_t kColumnMagic = 0x659;
// "General" sort order (Jet 4 default), as stored at column bytes 11..14.
constexpr std::array<std::uint8_t, 4> kGeneralSortOrder{0x09, 0x04, 0x00, 0x00};

bool isVariableType(std::uint8_t type) {
  return type == kTypeText || type == kTypeMemo || type == kTypeOle || type == kTypeBinary;
}
bool isTextual(std::uint8_t type) { return type == kTypeText || type == kTypeMemo; }

std::uint16_t storedLength(const ColumnSpec& spec) {
  switch (spec.type) {
    case kTypeBoolean: return 1;
    case kTypeByte: return 1;
    case kTypeInteger: return 2;
    case kTypeLong: case kTypeFloat: return 4;
    case kTypeCurrency: case kTypeDouble: case kTypeDateTime: return 8;
    case kTypeGuid: return 16;
    case kTypeMemo: case kTypeOle: return 0;
    case kTypeText: case kTypeBinary: return spec.length;
    default: throw Error("a column of type " + std::to_string(spec.type) + " cannot be added");
  }
}

}  // namespace

Column placeColumn(const TableDefinition& d, const ColumnSpec& spec) {
  if (d.maxColumns() >= kMaxTableColumns)
    throw Error("the table has had " + std::to_string(d.maxColumns()) +
                " columns, the most a table may have");
  const bool variable = isVariableType(spec.type);
  Column c;
  c.name = spec.name;
  c.type = spec.type;
  c.number = d.maxColumns();
  c.length = storedLength(spec);
  c.flags = static_cast<std::uint8_t>(kColumnNullable | (variable ? 0 : kColumnFixedLength) |
                                      (spec.autoIncrement ? kColumnAutoLong : 0));
  c.extFlags = spec.compressedUnicode && isTextual(spec.type) ? 0x01 : 0x00;
  c.displayIndex = c.number;
  c.definitionIndex = static_cast<std::uint16_t>(d.columns().size());

  // The next slot of the variable offset table: past every slot in use and
  // every slot the table has ever had (deleted columns keep theirs).
  std::uint16_t nextVar = d.variableColumnCount();
  std::size_t fixedEnd = 0;
  for (const Column& other : d.columns()) {
    if (other.variableLength())
      nextVar = std::max<std::uint16_t>(nextVar, static_cast<std::uint16_t>(other.varIndex + 1));
    else
      fixedEnd = std::max(fixedEnd, std::size_t{other.fixedOffset} + fixedValueSize(other));
  }
  std::uint16_t varIndexField = 0;
  if (variable) {
    c.varIndex = nextVar;
    varIndexField = nextVar;
  } else {
    // Stored for fixed columns too: the count of variable columns before it.
    varIndexField = d.variableColumnCount();
    if (spec.type != kTypeBoolean) c.fixedOffset = static_cast<std::uint16_t>(fixedEnd);
    if (std::size_t{c.fixedOffset} + fixedValueSize(c) > kPageSize / 2)
      throw Error("the table's fixed-length columns take up too much of a row");
  }

  c.sortOrder = get16(kGeneralSortOrder, 0);
  std::array<std::uint8_t, 4> sort = kGeneralSortOrder;
  for (const Column& other : d.columns()) {
    if (!isTextual(other.type)) continue;
    std::copy(other.rawDefinition.begin() + 11, other.rawDefinition.begin() + 15, sort.begin());
    c.sortOrder = other.sortOrder;
    break;
  }

  auto& b = c.rawDefinition;
  b.fill(0);
  b[0] = c.type;
  if (!d.columns().empty())
    std::copy(d.columns().front().rawDefinition.begin() + 1,
              d.columns().front().rawDefinition.begin() + 5, b.begin() + 1);
  else
    put32(b, 1, kColumnMagic);
  put16(b, 5, c.number);
  put16(b, 7, varIndexField);
  put16(b, 9, c.number);
  std::copy(sort.begin(), sort.end(), b.begin() + 11);
  b[15] = c.flags;
  b[16] = c.extFlags;
  put16(b, 21, c.fixedOffset);
  put16(b, 23, c.length);
  return c;
}

std::vector<std::uint8_t> definitionBytes(const TableDefinition& d) {
  const TableDefinitionLayout& L = d.layout();
  if (L.terminator.length == 0)
    throw Error("the table definition has no end marker; it is not extended");
  const std::size_t length = d.definitionLength();
  if (length < L.terminator.end() || length > d.raw().size())
    throw Error("the table definition's length " + std::to_string(length) +
                " does not match its contents");
  return {d.raw().begin(), d.raw().begin() + static_cast<std::ptrdiff_t>(length)};
}

std::vector<std::uint8_t> definitionWithColumn(const TableDefinition& d, const Column& column,
                                               const std::optional<LongValueMapRefs>& maps) {
  const TableDefinitionLayout& L = d.layout();
  std::vector<std::uint8_t> out = definitionBytes(d);
  auto insertAt = [&out](std::size_t at, std::span<const std::uint8_t> bytes) {
    out.insert(out.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin(), bytes.end());
  };

  // From the back, so that the earlier offsets stay valid.
  if (maps) {
    std::array<std::uint8_t, kLongValueMapEntrySize> entry{};
    put16(entry, 0, column.number);
    entry[2] = maps->ownedPages.row;
    put16(entry, 3, maps->ownedPages.page & 0xFFFF);
    entry[5] = static_cast<std::uint8_t>((maps->ownedPages.page >> 16) & 0xFF);
    entry[6] = maps->freeSpacePages.row;
    put16(entry, 7, maps->freeSpacePages.page & 0xFFFF);
    entry[9] = static_cast<std::uint8_t>((maps->freeSpacePages.page >> 16) & 0xFF);
    insertAt(L.terminator.offset, entry);
  }
  const std::vector<std::uint8_t> name16 = utf8ToUtf16le(column.name);
  if (name16.size() > TableDefinition::kMaxNameBytes) throw Error("column name too long");
  std::vector<std::uint8_t> name(2);
  put16(name, 0, name16.size());
  name.insert(name.end(), name16.begin(), name16.end());
  insertAt(L.columnNames.end(), name);
  insertAt(L.columns.end(), column.rawDefinition);

  put16(out, TableDefinition::kMaxColumnsOffset, d.maxColumns() + 1u);
  put16(out, TableDefinition::kColumnCountOffset, d.columns().size() + 1);
  if (column.variableLength())
    put16(out, TableDefinition::kVarColumnsOffset,
          std::max<std::size_t>(d.variableColumnCount(), std::size_t{column.varIndex} + 1));
  put32(out, TableDefinition::kLengthOffset, out.size());
  return out;
}

std::size_t definitionPageCount(std::size_t bytes) {
  std::size_t needed = 1;
  if (bytes > kFirstPageBytes) needed += (bytes - kFirstPageBytes + kNextPageBytes - 1) / kNextPageBytes;
  return needed;
}

std::vector<Page> encodeDefinitionPages(std::span<const std::uint8_t> bytes,
                                        const std::vector<std::uint32_t>& pages) {
  if (bytes.size() < TableDefinition::kHeaderSize) throw Error("table definition too short");
  if (pages.size() < definitionPageCount(bytes.size())) throw Error("too few pages for the table definition");
  std::vector<Page> out(pages.size());
  std::size_t pos = 0;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    Page& page = out[i];
    std::size_t used = 0;
    if (i == 0) {
      const std::size_t n = std::min(bytes.size(), kFirstPageBytes);
      std::copy_n(bytes.begin(), n, page.begin());
      pos = n;
      used = n;
    } else {
      page[0] = kPageTypeTableDefinition;
      page[1] = 0x01;
      const std::size_t n = std::min(bytes.size() - pos, kNextPageBytes);
      std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(pos), n,
                  page.begin() + static_cast<std::ptrdiff_t>(kPageHeaderBytes));
      pos += n;
      used = kPageHeaderBytes + n;
    }
    const std::size_t free = used + 8 >= kPageSize ? 0 : kPageSize - 8 - used;
    put16(page, 2, free);
    put32(page, TableDefinition::kNextPageOffset, i + 1 < pages.size() ? pages[i + 1] : 0);
  }
  return out;
}

std::vector<std::uint32_t> writeDefinitionPages(PageChannel& channel, const TableDefinition& d,
                                                std::span<const std::uint8_t> bytes) {
  std::vector<std::uint32_t> pages = d.pages();
  if (pages.empty()) throw Error("the table definition has no page");
  if (bytes.size() < TableDefinition::kHeaderSize) throw Error("table definition too short");
  // An existing chain stays linked.
  const std::size_t needed = std::max(definitionPageCount(bytes.size()), pages.size());
  if (needed > TableDefinition::kMaxPages)
    throw Error("the table definition would span more than " +
                std::to_string(TableDefinition::kMaxPages) + " pages");
  while (pages.size() < needed) pages.push_back(channel.allocatePage());
  const std::vector<Page> encoded = encodeDefinitionPages(bytes, pages);
  for (std::size_t i = 0; i < pages.size(); ++i) channel.writePage(pages[i], encoded[i]);
  return pages;
}

LongValueMapRefs addLongValueUsageMaps(PageChannel& channel, const TableDefinition& d) {
  const std::array<std::uint8_t, kUsageMapRowSize> empty{};
  const std::uint32_t home = d.ownedPages().page;
  if (home != 0 && home < channel.pageCount()) {
    Page page = channel.readPage(home);
    if (page[0] == kPageTypeData) {
      Page changed = page;
      auto owned = addRowToPage(changed, empty);
      auto free = owned ? addRowToPage(changed, empty) : std::nullopt;
      if (owned && free) {
        channel.writePage(home, changed);
        return {{static_cast<std::uint8_t>(*owned), home},
                {static_cast<std::uint8_t>(*free), home}};
      }
    }
  }
  const std::uint32_t n = channel.allocatePage();
  Page page{};
  page[0] = kPageTypeData;
  page[1] = 0x01;
  put16(page, 2, kPageSize - DataPage::kFirstRowPointer);
  auto owned = addRowToPage(page, empty);
  auto free = addRowToPage(page, empty);
  if (!owned || !free) throw Error("usage maps do not fit on a new page");
  channel.writePage(n, page);
  return {{static_cast<std::uint8_t>(*owned), n}, {static_cast<std::uint8_t>(*free), n}};
}

}  // namespace engine
