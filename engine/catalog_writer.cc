#include "engine/catalog_writer.h"

#include <bit>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "engine/byte_reader.h"
#include "engine/catalog.h"
#include "engine/data_page_writer.h"
#include "engine/error.h"
#include "engine/little_endian.h"
#include "engine/object_name.h"
#include "engine/table_scan.h"
#include "engine/table_writer.h"
#include "engine/text_codec.h"

namespace engine {
namespace {

constexpr std::int32_t kTablesContainerParent = 0x0F000000;
constexpr std::int16_t kObjectTypeContainer = 3;
constexpr std::uint32_t kCreatorRights = 0x000F00FE;
constexpr std::uint32_t kOwnerRights = 0x000FFEFF;
constexpr std::size_t kInlineMapRowSize = 69;

const CatalogEntry& tablesContainer(const Catalog& cat) {
  for (const CatalogEntry& e : cat.entries())
    if (e.parentId == kTablesContainerParent && e.type == kObjectTypeContainer && e.name == "Tables")
      return e;
  throw Error("the catalog has no Tables container");
}

// Throws when an object under the Tables container has the name; `except`
// is the table being renamed.
void refuseTakenName(const Catalog& cat, const std::string& name,
                     std::optional<std::int32_t> except = std::nullopt) {
  std::int32_t parent = tablesContainer(cat).id;
  for (const CatalogEntry& e : cat.entries()) {
    if (e.parentId != parent || (except && e.id == *except)) continue;
    if (caseInsensitiveEqual(e.name, name))
      throw Error("the database has a table named '" + e.name + "' already");
  }
}

std::size_t columnIndex(const TableDefinition& d, std::string_view name) {
  const Column* c = d.findColumn(name);
  if (c == nullptr) throw Error("the system table lacks its column " + std::string(name));
  return static_cast<std::size_t>(c - d.columns().data());
}

struct AccessEntry {
  std::vector<std::uint8_t> sid;
  std::uint32_t rights = 0;
};

std::uint32_t systemTablePage(const Catalog& cat, std::string_view name) {
  std::int32_t parent = tablesContainer(cat).id;
  for (const CatalogEntry& e : cat.entries())
    if (e.parentId == parent && e.type == kObjectTypeTable && e.name == name)
      return e.tableDefinitionPage();
  throw Error("the database has no " + std::string(name));
}

// The access entries of an object, in storage order.
std::vector<AccessEntry> accessEntries(PageChannel& channel, const TableDefinition& aces,
                                       std::int32_t objectId) {
  std::size_t oi = columnIndex(aces, "ObjectId"), si = columnIndex(aces, "SID"),
              ai = columnIndex(aces, "ACM");
  std::vector<AccessEntry> out;
  const Column& objectColumn = aces.columns()[oi];
  const Column& sidColumn = aces.columns()[si];
  const Column& rightsColumn = aces.columns()[ai];
  // The object first: the other columns are read only for its own rows.
  scanRows(channel, aces, [&](RowId, std::span<const std::uint8_t> bytes) {
    RowValues values(bytes);
    const RawValue object = values.value(objectColumn);
    if (object.isNull() || ByteReader(object.bytes, "ACE").i32(0) != objectId) return true;
    const RawValue sid = values.value(sidColumn), rights = values.value(rightsColumn);
    if (sid.isNull() || rights.isNull()) return true;
    out.push_back({{sid.bytes.begin(), sid.bytes.end()}, ByteReader(rights.bytes, "ACE").u32(0)});
    return true;
  });
  return out;
}

RowValue bytesValue(const std::vector<std::uint8_t>& b) { return RowValue::of(b); }

RowValue doubleValue(double d) {
  auto bits = std::bit_cast<std::uint64_t>(d);
  std::vector<std::uint8_t> b(8);
  for (std::size_t i = 0; i < 8; ++i) b[i] = static_cast<std::uint8_t>(bits >> (8 * i));
  return RowValue::of(std::move(b));
}

RowValue integerValue(std::int16_t v) {
  auto u = static_cast<std::uint16_t>(v);
  return RowValue::of({static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8)});
}

// The definition of a table with one auto-increment Long column.
Page newTableDefinitionPage(const std::string& columnName, std::uint32_t mapPage) {
  std::vector<std::uint8_t> name = utf8ToUtf16le(columnName);
  std::size_t length = TableDefinition::kHeaderSize + kColumnBlockSize + 2 + name.size() + 2;
  Page p{};
  p[0] = 0x02;
  p[1] = 0x01;
  put16(p, 2, kPageSize - 8 - length);
  put32(p, TableDefinition::kLengthOffset, static_cast<std::uint32_t>(length));
  put32(p, 12, 0x659);
  p[24] = 0x01;  // auto-numbering on
  p[TableDefinition::kTableTypeOffset] = 0x4E;
  put16(p, TableDefinition::kMaxColumnsOffset, 1);
  put16(p, TableDefinition::kColumnCountOffset, 1);
  put32(p, TableDefinition::kOwnedPagesOffset, mapPage << 8 | 0);
  put32(p, TableDefinition::kFreeSpacePagesOffset, mapPage << 8 | 1);
  std::size_t at = TableDefinition::kHeaderSize;
  p[at] = kTypeLong;
  put32(p, at + 1, 0x659);
  // column number, variable index, column index: 0
  put16(p, at + 11, 0x0409);  // sort order "General", as Access stores it
  p[at + 15] = kColumnFixedLength | kColumnNullable | kColumnAutoLong;
  put16(p, at + 23, 4);
  at += kColumnBlockSize;
  put16(p, at, name.size());
  std::copy(name.begin(), name.end(), p.begin() + static_cast<std::ptrdiff_t>(at + 2));
  at += 2 + name.size();
  put16(p, at, 0xFFFF);
  return p;
}

}  // namespace

double jetDate(const std::tm& t) {
  using namespace std::chrono;
  year_month_day ymd{year{t.tm_year + 1900}, month{static_cast<unsigned>(t.tm_mon + 1)},
                     day{static_cast<unsigned>(t.tm_mday)}};
  if (!ymd.ok()) throw Error("the clock gives an invalid date");
  auto days = (sys_days(ymd) - sys_days(year{1899} / December / 30)).count();
  double seconds = t.tm_hour * 3600.0 + t.tm_min * 60.0 + t.tm_sec;
  return static_cast<double>(days) + seconds / 86400.0;
}

std::string renameTable(PageChannel& channel, std::uint32_t definitionPage,
                        const std::string& newName) {
  checkTableName(newName);
  Catalog cat = Catalog::read(channel);
  const CatalogEntry* entry = nullptr;
  for (const CatalogEntry* e : cat.userTables())
    if (e->tableDefinitionPage() == definitionPage) entry = e;
  if (entry == nullptr) throw Error("the table is no longer in the database");
  if (entry->name == newName) return newName;
  refuseTakenName(cat, newName, entry->id);

  WriteTransaction tx(channel);
  TableWriter catalog(channel, kCatalogPage);
  std::vector<RowValue> values = catalog.readRow(entry->row);
  std::size_t ni = columnIndex(catalog.definition(), "Name");
  values[ni] = RowValue::of(
      encodeTextValue(newName, catalog.definition().columns()[ni].compressedUnicode()));
  catalog.updateRow(entry->row, values);
  tx.commit();
  return newName;
}

std::uint32_t createTable(PageChannel& channel, const NewTableDef& def, const std::tm& now) {
  checkTableName(def.name);
  if (def.fields.size() != 1 || def.fields[0].type != FieldType::Long ||
      def.fields[0].attributes != kAutoIncrement || def.fields[0].required)
    throw Error("only a table with a single auto-increment Long field can be created");
  checkFieldName(def.fields[0].name);
  double date = jetDate(now);

  Catalog cat = Catalog::read(channel);
  refuseTakenName(cat, def.name);
  const CatalogEntry& container = tablesContainer(cat);
  std::uint32_t acesPage = systemTablePage(cat, "MSysACEs");

  WriteTransaction tx(channel);
  TableDefinition aces = TableDefinition::read(channel, acesPage);
  std::vector<AccessEntry> inherited;
  for (AccessEntry& a : accessEntries(channel, aces, container.id))
    if (a.rights != kCreatorRights) inherited.push_back(std::move(a));
  if (inherited.empty()) throw Error("the Tables container has no access entries to pass on");
  const AccessEntry* owner = &inherited.front();
  for (const AccessEntry& a : inherited)
    if (a.rights == kOwnerRights) {
      owner = &a;
      break;
    }

  std::uint32_t tdef = channel.allocatePage();
  std::uint32_t maps = channel.allocatePage();
  if (tdef > 0xFFFFFFu || maps > 0xFFFFFFu) throw Error("the database is too large");
  Page mapPage = newDataPage(0);
  std::vector<std::uint8_t> emptyMap(kInlineMapRowSize, 0);
  insertRow(mapPage, emptyMap);
  insertRow(mapPage, emptyMap);
  channel.writePage(maps, mapPage);
  channel.writePage(tdef, newTableDefinitionPage(def.fields[0].name, maps));

  TableWriter catalog(channel, kCatalogPage);
  const TableDefinition& cd = catalog.definition();
  std::vector<RowValue> row(cd.columns().size());
  for (std::size_t i = 0; i < row.size(); ++i)
    if (cd.columns()[i].isBoolean()) row[i] = RowValue::ofBoolean(false);
  row[columnIndex(cd, "Id")] = RowValue::ofLong(static_cast<std::int32_t>(tdef));
  row[columnIndex(cd, "ParentId")] = RowValue::ofLong(container.id);
  std::size_t ni = columnIndex(cd, "Name");
  row[ni] = RowValue::of(encodeTextValue(def.name, cd.columns()[ni].compressedUnicode()));
  row[columnIndex(cd, "Type")] = integerValue(kObjectTypeTable);
  row[columnIndex(cd, "DateCreate")] = doubleValue(date);
  row[columnIndex(cd, "DateUpdate")] = doubleValue(date);
  row[columnIndex(cd, "Flags")] = RowValue::ofLong(0);
  row[columnIndex(cd, "Owner")] = bytesValue(owner->sid);
  catalog.insertRow(row);

  TableWriter aceWriter(channel, acesPage);
  const TableDefinition& ad = aceWriter.definition();
  for (const AccessEntry& a : inherited) {
    std::vector<RowValue> ace(ad.columns().size());
    ace[columnIndex(ad, "ObjectId")] = RowValue::ofLong(static_cast<std::int32_t>(tdef));
    ace[columnIndex(ad, "SID")] = bytesValue(a.sid);
    ace[columnIndex(ad, "ACM")] = RowValue::ofLong(static_cast<std::int32_t>(a.rights));
    ace[columnIndex(ad, "FInheritable")] = RowValue::ofBoolean(false);
    aceWriter.insertRow(ace);
  }
  tx.commit();
  return tdef;
}

}  // namespace engine
