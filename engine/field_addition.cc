#include "engine/field_addition.h"

#include <algorithm>
#include <bit>
#include <ctime>

#include "engine/catalog.h"
#include "engine/catalog_writer.h"
#include "engine/data_page.h"
#include "engine/data_page_writer.h"
#include "engine/error.h"
#include "engine/long_value_writer.h"
#include "engine/object_name.h"
#include "engine/property_map.h"
#include "engine/row.h"
#include "engine/row_writer.h"
#include "engine/table_definition_writer.h"
#include "engine/table_writer.h"

namespace engine {
namespace {

constexpr std::uint16_t kMaxTextChars = 255;

ColumnSpec columnSpecOf(const NewField& field) {
  ColumnSpec spec;
  spec.name = field.name;
  switch (field.type) {
    case FieldType::Boolean: spec.type = kTypeBoolean; break;
    case FieldType::Long: spec.type = kTypeLong; break;
    case FieldType::Currency: spec.type = kTypeCurrency; break;
    case FieldType::DateTime: spec.type = kTypeDateTime; break;
    case FieldType::Text:
      spec.type = kTypeText;
      spec.length = static_cast<std::uint16_t>(2 * textFieldSize(field.size));
      break;
    case FieldType::Memo: spec.type = kTypeMemo; break;  // the size has no effect
    default:
      throw Error("unsupported field type code " + std::to_string(static_cast<int>(field.type)));
  }
  // New text and memo columns store their text uncompressed unless the
  // compression is asked for, as the data-access layer creates them.
  spec.compressedUnicode = false;
  if (field.attributes != 0 && field.attributes != kAutoIncrement)
    throw Error("field attributes " + std::to_string(field.attributes) + " are not supported");
  spec.autoIncrement = field.attributes == kAutoIncrement;
  if (spec.autoIncrement && spec.type != kTypeLong)
    throw Error("only a Long field can be auto-increment");
  if (field.allowZeroLength && spec.type != kTypeText && spec.type != kTypeMemo)
    throw Error("AllowZeroLength applies to text and memo fields only");
  return spec;
}

const CatalogEntry& tableEntry(const Catalog& catalog, std::uint32_t definitionPage) {
  for (const CatalogEntry* e : catalog.userTables())
    if (e->tableDefinitionPage() == definitionPage) return *e;
  throw Error("the table is no longer in the database");
}

LongValueColumnMaps lvPropMaps(const Catalog& catalog, const Column& lvProp) {
  for (const ColumnUsageMaps& m : catalog.definition().columnUsageMaps())
    if (m.columnNumber == lvProp.number) return {m.ownedPages, m.freeSpacePages};
  throw Error("the catalog keeps no page maps for its property column");
}

// Puts the catalog row's new LvProp value and update date in place: the row (where its data
// lies, overflow followed) is encoded anew and replaces the old bytes on its
// page, the page's other rows moving as needed; when the page has no room,
// the row moves to another page.
void updateCatalogRow(PageChannel& channel, const Catalog& catalog, const CatalogEntry& entry,
                      const Column& lvProp, std::span<const std::uint8_t> stored,
                      const std::tm& now) {
  RowId at = entry.row;
  for (int hop = 0;; ++hop) {
    if (hop > 4) throw Error("the catalog row's overflow pointers do not end");
    Page page = channel.readPage(at.page);
    const DataPage dp(page, at.page);
    if (at.row >= dp.rowCount()) throw Error("the catalog row is missing");
    // Overflow targets carry the deleted flag; only the first row's counts.
    const std::uint16_t raw = static_cast<std::uint16_t>(
        page[DataPage::kFirstRowPointer + 2 * std::size_t{at.row}] |
        page[DataPage::kFirstRowPointer + 2 * std::size_t{at.row} + 1] << 8);
    if (hop == 0 && (raw & DataPage::kDeletedFlag) != 0) throw Error("the catalog row is deleted");
    const std::size_t start = raw & DataPage::kOffsetMask;
    std::size_t end = kPageSize;
    if (at.row > 0) {
      const std::size_t prev = DataPage::kFirstRowPointer + 2 * (std::size_t{at.row} - 1);
      end = static_cast<std::size_t>(page[prev] | page[prev + 1] << 8) & DataPage::kOffsetMask;
    }
    if (start < DataPage::kFirstRowPointer + 2 * std::size_t{dp.rowCount()} || start > end ||
        end > kPageSize)
      throw Error("the catalog row has bad bounds");
    const std::span<const std::uint8_t> bytes(page.data() + start, end - start);
    if ((raw & DataPage::kOverflowFlag) != 0) {
      if (bytes.size() < 4) throw Error("the catalog row's overflow pointer is cut short");
      at = RowId{std::uint32_t{bytes[1]} | std::uint32_t{bytes[2]} << 8 |
                     std::uint32_t{bytes[3]} << 16,
                 bytes[0]};
      continue;
    }
    const auto& cols = catalog.definition().columns();
    std::vector<RowValue> values = toRowValues(decodeRow(bytes, cols));
    const std::size_t index = static_cast<std::size_t>(&lvProp - cols.data());
    values.at(index) = RowValue::of(std::vector<std::uint8_t>(stored.begin(), stored.end()));
    // The table's design changed now, as its update date says.
    if (const Column* updated = catalog.definition().findColumn("DateUpdate");
        updated != nullptr && updated->type == kTypeDateTime) {
      const std::uint64_t bits = std::bit_cast<std::uint64_t>(jetDate(now));
      std::vector<std::uint8_t> date(8);
      for (std::size_t i = 0; i < 8; ++i) date[i] = static_cast<std::uint8_t>(bits >> (8 * i));
      values.at(static_cast<std::size_t>(updated - cols.data())) = RowValue::of(std::move(date));
    }
    const std::vector<std::uint8_t> row = encodeRow(catalog.definition(), values, bytes.size());
    if (row.size() <= bytes.size() || row.size() - bytes.size() <= dataPageFreeSpace(page)) {
      replaceRow(page, at.row, row);
      channel.writePage(at.page, page);
      return;
    }
    // No room on its page: the table writer moves the row (its RowId and
    // index entries stay).
    TableWriter(channel, kCatalogPage).updateRow(entry.row, values);
    return;
  }
}

}  // namespace

std::uint16_t textFieldSize(std::string_view size) {
  if (size.empty() ||
      !std::all_of(size.begin(), size.end(), [](char c) { return c >= '0' && c <= '9'; }))
    throw Error("text field size '" + std::string(size) + "' is not a whole number from 1 to 255");
  unsigned n = 0;
  for (char c : size) n = std::min(n * 10 + static_cast<unsigned>(c - '0'), 1000u);
  if (n < 1 || n > kMaxTextChars)
    throw Error("text field size '" + std::string(size) + "' is not a whole number from 1 to 255");
  return static_cast<std::uint16_t>(n);
}

void addField(JetDatabase& database, std::uint32_t definitionPage, const NewField& field) {
  checkFieldName(field.name);
  const ColumnSpec spec = columnSpecOf(field);
  PageChannel& channel = database.channel();
  if (channel.readOnly()) throw Error("the database is open read-only");

  const Catalog catalog = database.catalog();
  const CatalogEntry& entry = tableEntry(catalog, definitionPage);
  const TableDefinition definition = TableDefinition::read(channel, definitionPage);
  if (definition.findColumn(field.name) != nullptr)
    throw Error("table '" + entry.name + "' has a field named '" + field.name + "' already");
  if (spec.autoIncrement) {
    if (definition.rowCount() != 0)
      throw Error("an auto-increment field cannot be added to a table that has rows");
    for (const Column& c : definition.columns())
      if (c.autoIncrement())
        throw Error("table '" + entry.name + "' has an auto-increment field already");
  }
  const Column* lvProp = catalog.definition().findColumn("LvProp");
  if (lvProp == nullptr || lvProp->type != kTypeOle)
    throw Error("the catalog has no property column");
  const LongValueColumnMaps propMaps = lvPropMaps(catalog, *lvProp);

  PropertyMaps props = database.properties(entry);
  props.setColumnBoolean(field.name, "Required", field.required, true);
  if (field.allowZeroLength)
    props.setColumnBoolean(field.name, "AllowZeroLength", *field.allowZeroLength, true);
  const std::vector<std::uint8_t> blob = props.serialize();
  const std::tm now = channel.env().localTime();

  WriteTransaction transaction(channel);
  std::optional<LongValueMapRefs> maps;
  if (spec.type == kTypeMemo) maps = addLongValueUsageMaps(channel, definition);
  // Placed against the definition as stored: the usage-map rows above do not
  // change it.
  const Column column = placeColumn(definition, spec);
  writeDefinitionPages(channel, definition, definitionWithColumn(definition, column, maps));

  std::uint32_t preferPage = 0;
  if (!entry.lvProp.empty()) {
    const LongValueHeader old = parseLongValueHeader(entry.lvProp);
    if (old.flags == kLongValueSinglePage) preferPage = old.page;
    freeLongValue(channel, entry.lvProp);
  }
  const std::vector<std::uint8_t> stored =
      writeLongValue(channel, propMaps, blob, kMaxInlineLongValue, preferPage);
  updateCatalogRow(channel, catalog, entry, *lvProp, stored, now);
  transaction.commit();
}

}  // namespace engine
