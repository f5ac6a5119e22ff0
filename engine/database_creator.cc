#include "engine/database_creator.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/catalog.h"
#include "engine/catalog_writer.h"
#include "engine/column.h"
#include "engine/data_page_writer.h"
#include "engine/database_header.h"
#include "engine/error.h"
#include "engine/index_key.h"
#include "engine/little_endian.h"
#include "engine/long_value_writer.h"
#include "engine/page_channel.h"
#include "engine/path.h"
#include "engine/property_map.h"
#include "engine/row_writer.h"
#include "engine/table_definition.h"
#include "engine/table_writer.h"
#include "engine/text_codec.h"

namespace engine {
namespace {

using Bytes = std::vector<std::uint8_t>;

// --- little-endian writing --------------------------------------------------

void append8(Bytes& b, std::uint32_t v) { b.push_back(static_cast<std::uint8_t>(v)); }
void append16(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 2; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void append32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
Bytes le32(std::uint32_t v) {
  Bytes b;
  append32(b, v);
  return b;
}

bool nameLess(const char* a, const char* b) {
  std::string x(a), y(b);
  auto lower = [](std::string s) {
    for (char& c : s)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
  };
  return lower(x) < lower(y);
}

// --- the header page --------------------------------------------------------

// Fields of page 0 beyond those DatabaseHeader reads. Their values are those
// Access writes into a new Jet 4 file (the same in every Access-made test
// file); what the unnamed ones mean is not known.
constexpr std::uint32_t kJetVersion4 = 1;               // 0x14: 0 Jet 3, 1 Jet 4
constexpr std::size_t kUnknownTableOffset = 0x18;       // six u32: 0x100, 0x101, 2, 3, 4, 5
constexpr std::array<std::uint32_t, 6> kUnknownTable{0x100, 0x101, 2, 3, 4, 5};
constexpr std::uint16_t kCodePageWestern = 1252;        // 0x3C
constexpr std::size_t kUnknownWordOffset = 0x6A;        // u16, 0x21AA in Access's new files
constexpr std::uint16_t kUnknownWord = 0x21AA;
constexpr std::uint32_t kSortOrderGeneral = 0x0409;     // 0x6E: "General", version 0
constexpr std::size_t kEngineTagOffset = 0x98;          // after the masked region: u32 0x654, "4.0"
constexpr std::uint32_t kEngineTagNumber = 0x654;
constexpr std::size_t kUnknownArrayOffset = 0xE00;      // 256 u16: 0x0101, then 0x0100
constexpr std::size_t kUnknownArrayEntries = 256;

Page headerPage(double created, const std::array<std::uint8_t, DatabaseHeader::kPasswordLength>&
                                    maskedPassword) {
  Page p{};
  p[0] = 0x00;  // page type: database definition
  p[1] = 0x01;
  const char magic[] = "Standard Jet DB";
  std::copy(magic, magic + sizeof magic, p.begin() + 4);  // with its NUL
  put32(p, DatabaseHeader::kVersionOffset, kJetVersion4);

  for (std::size_t i = 0; i < kUnknownTable.size(); ++i)
    put32(p, kUnknownTableOffset + 4 * i, kUnknownTable[i]);
  put16(p, DatabaseHeader::kCodePageOffset, kCodePageWestern);
  put32(p, DatabaseHeader::kDatabaseKeyOffset, 0);  // pages not encrypted
  std::copy(maskedPassword.begin(), maskedPassword.end(),
            p.begin() + DatabaseHeader::kPasswordOffset);
  put16(p, kUnknownWordOffset, kUnknownWord);
  put32(p, DatabaseHeader::kSortOrderOffset, kSortOrderGeneral);
  const auto date = std::bit_cast<std::uint64_t>(created);
  for (std::size_t i = 0; i < 8; ++i)
    p[DatabaseHeader::kCreationDateOffset + i] = static_cast<std::uint8_t>(date >> (8 * i));
  const auto& mask = DatabaseHeader::maskStream();
  for (std::size_t i = 0; i < DatabaseHeader::kMaskedLength; ++i)
    p[DatabaseHeader::kMaskedOffset + i] ^= mask[i];

  put32(p, kEngineTagOffset, kEngineTagNumber);
  const char tag[] = "4.0";
  std::copy(tag, tag + sizeof tag, p.begin() + kEngineTagOffset + 4);
  for (std::size_t i = 0; i < kUnknownArrayEntries; ++i)
    put16(p, kUnknownArrayOffset + 2 * i, i == 0 ? 0x0101 : 0x0100);
  return p;
}

// --- the system tables ------------------------------------------------------

// Column flags beyond those column.h names, as Access sets them on the
// columns of its system tables: 0x10 on every one, 0x20 on the two columns
// holding security ids (MSysObjects.Owner, MSysACEs.SID).
constexpr std::uint8_t kSystemColumnFlag = 0x10;
constexpr std::uint8_t kSecurityIdColumnFlag = 0x20;
constexpr std::uint16_t kSortOrderGeneralColumn = 0x0409;  // on every column, as Access writes
constexpr std::uint32_t kDefinitionMagic = 0x659;          // in the header and every column block
constexpr std::uint32_t kRealIndexMagic = 0x783;           // first field of a real index block
constexpr std::uint8_t kSystemTableType = 0x53;

// Real index flags.
constexpr std::uint8_t kIndexUnique = 0x01;
constexpr std::uint8_t kIndexIgnoreNulls = 0x02;
constexpr std::uint8_t kIndexRequired = 0x08;
constexpr std::uint8_t kIndexAccessMark = 0x80;  // on every index Jet 4 makes

struct SystemColumn {
  const char* name;
  std::uint8_t type;
  bool securityId = false;
};

struct SystemIndex {
  const char* name;
  std::vector<std::uint16_t> columns;  // column numbers, each ascending
  std::uint8_t flags;
  bool primaryKey;
};

// A system table: its definition page and its columns, numbered in list
// order, and indexes, numbered (real and logical alike) in list order.
struct SystemTable {
  const char* name;
  std::uint32_t page;
  std::vector<SystemColumn> columns;
  std::vector<SystemIndex> indexes;
};

constexpr std::uint32_t kAcesPage = 3;
constexpr std::uint32_t kUsageMapPage = 6;
constexpr std::uint32_t kFirstLeafPage = 7;

const std::vector<SystemTable>& systemTables() {
  static const std::vector<SystemTable> tables = {
      {"MSysObjects",
       2,
       {{"Id", kTypeLong},
        {"ParentId", kTypeLong},
        {"Name", kTypeText},
        {"Type", kTypeInteger},
        {"DateCreate", kTypeDateTime},
        {"DateUpdate", kTypeDateTime},
        {"Owner", kTypeBinary, true},
        {"Flags", kTypeLong},
        {"Database", kTypeMemo},
        {"Connect", kTypeMemo},
        {"ForeignName", kTypeText},
        {"RmtInfoShort", kTypeBinary},
        {"RmtInfoLong", kTypeOle},
        {"Lv", kTypeOle},
        {"LvProp", kTypeOle},
        {"LvModule", kTypeOle},
        {"LvExtra", kTypeOle}},
       {{"ParentIdName", {1, 2}, kIndexAccessMark | kIndexUnique, false},
        {"Id", {0}, kIndexAccessMark | kIndexUnique, true}}},
      {"MSysACEs",
       kAcesPage,
       {{"ObjectId", kTypeLong},
        {"SID", kTypeBinary, true},
        {"ACM", kTypeLong},
        {"FInheritable", kTypeBoolean}},
       {{"ObjectId", {0}, kIndexAccessMark | kIndexRequired, false}}},
      {"MSysQueries",
       4,
       {{"ObjectId", kTypeLong},
        {"Attribute", kTypeByte},
        {"Order", kTypeBinary},
        {"Name1", kTypeText},
        {"Name2", kTypeText},
        {"Expression", kTypeMemo},
        {"Flag", kTypeInteger},
        {"LvExtra", kTypeLong}},
       {{"ObjectIdAttribute", {0, 1, 2}, kIndexAccessMark | kIndexUnique, true}}},
      {"MSysRelationships",
       5,
       {{"szRelationship", kTypeText},
        {"grbit", kTypeLong},
        {"ccolumn", kTypeLong},
        {"icolumn", kTypeLong},
        {"szObject", kTypeText},
        {"szColumn", kTypeText},
        {"szReferencedObject", kTypeText},
        {"szReferencedColumn", kTypeText}},
       {{"szRelationship", {0}, kIndexAccessMark | kIndexIgnoreNulls, false},
        {"szObject", {4}, kIndexAccessMark | kIndexIgnoreNulls, false},
        {"szReferencedObject", {6}, kIndexAccessMark | kIndexIgnoreNulls, false}}},
  };
  return tables;
}

bool fixedType(std::uint8_t type) {
  return type == kTypeBoolean || type == kTypeByte || type == kTypeInteger ||
         type == kTypeLong || type == kTypeDateTime;
}

std::uint16_t storedLength(std::uint8_t type) {
  switch (type) {
    case kTypeBoolean: case kTypeByte: return 1;
    case kTypeInteger: return 2;
    case kTypeLong: return 4;
    case kTypeDateTime: return 8;
    case kTypeText: case kTypeBinary: return 510;  // 255 characters / bytes
    default: return 0;                               // memo, OLE
  }
}

// Where each usage map of a table lies on the usage-map page, and each index
// leaf; handed out table by table in the order of systemTables().
struct TablePlaces {
  UsageMapRef owned, freeSpace;
  std::vector<std::pair<std::uint16_t, LongValueColumnMaps>> longValueMaps;  // by column number
  std::vector<UsageMapRef> indexMaps;
  std::vector<std::uint32_t> leafPages;
};

std::vector<TablePlaces> placeMapsAndLeaves() {
  std::vector<TablePlaces> out;
  std::uint8_t row = 0;
  std::uint32_t leaf = kFirstLeafPage;
  auto next = [&] { return UsageMapRef{row++, kUsageMapPage}; };
  for (const SystemTable& t : systemTables()) {
    TablePlaces p;
    p.owned = next();
    p.freeSpace = next();
    for (std::size_t n = 0; n < t.columns.size(); ++n) {
      const std::uint8_t type = t.columns[n].type;
      if (type != kTypeMemo && type != kTypeOle) continue;
      LongValueColumnMaps maps;
      maps.ownedPages = next();
      maps.freeSpacePages = next();
      p.longValueMaps.emplace_back(static_cast<std::uint16_t>(n), maps);
    }
    for (std::size_t i = 0; i < t.indexes.size(); ++i) {
      p.indexMaps.push_back(next());
      p.leafPages.push_back(leaf++);
    }
    out.push_back(std::move(p));
  }
  return out;
}

std::uint32_t refValue(UsageMapRef r) { return r.page << 8 | r.row; }

// The definition page of a system table without rows (layout:
// table_definition.h; FORMAT.md sections 6 and 9).
Page definitionPage(const SystemTable& t, const TablePlaces& places) {
  const auto columnCount = static_cast<std::uint16_t>(t.columns.size());
  const auto indexCount = static_cast<std::uint32_t>(t.indexes.size());

  // Column placement: fixed values in column order from offset 0 (booleans
  // live in the null mask and keep offset 0); variable values numbered in
  // column order; a fixed column's variable index is the count of variable
  // columns before it.
  struct Placed {
    std::uint16_t number, varIndex, fixedOffset, length;
    std::uint8_t flags;
  };
  std::vector<Placed> placed;
  std::uint16_t fixedEnd = 0, varCount = 0;
  for (std::uint16_t n = 0; n < columnCount; ++n) {
    const SystemColumn& c = t.columns[n];
    Placed p{n, varCount, 0, storedLength(c.type), kColumnNullable | kSystemColumnFlag};
    if (c.securityId) p.flags |= kSecurityIdColumnFlag;
    if (fixedType(c.type)) {
      p.flags |= kColumnFixedLength;
      if (c.type != kTypeBoolean) {
        p.fixedOffset = fixedEnd;
        fixedEnd = static_cast<std::uint16_t>(fixedEnd + p.length);
      }
    } else {
      ++varCount;
    }
    placed.push_back(p);
  }
  // Access stores the column blocks, the logical indexes and the long-value
  // map entries of its system tables in the order of their names.
  std::vector<std::uint16_t> columnOrder(columnCount);
  for (std::uint16_t n = 0; n < columnCount; ++n) columnOrder[n] = n;
  std::sort(columnOrder.begin(), columnOrder.end(), [&](std::uint16_t a, std::uint16_t b) {
    return nameLess(t.columns[a].name, t.columns[b].name);
  });
  std::vector<std::uint32_t> indexOrder(indexCount);
  for (std::uint32_t i = 0; i < indexCount; ++i) indexOrder[i] = i;
  std::sort(indexOrder.begin(), indexOrder.end(), [&](std::uint32_t a, std::uint32_t b) {
    return nameLess(t.indexes[a].name, t.indexes[b].name);
  });

  Bytes d(TableDefinition::kHeaderSize, 0);
  d[0] = 0x02;
  d[1] = 0x01;
  auto set16 = [&](std::size_t at, std::uint32_t v) {
    d[at] = static_cast<std::uint8_t>(v);
    d[at + 1] = static_cast<std::uint8_t>(v >> 8);
  };
  auto set32 = [&](std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i) d[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  set32(12, kDefinitionMagic);
  d[24] = 0x01;  // set on every table Access makes
  d[TableDefinition::kTableTypeOffset] = kSystemTableType;
  set16(TableDefinition::kMaxColumnsOffset, columnCount);
  set16(TableDefinition::kVarColumnsOffset, varCount);
  set16(TableDefinition::kColumnCountOffset, columnCount);
  set32(TableDefinition::kLogicalIndexCountOffset, indexCount);
  set32(TableDefinition::kRealIndexCountOffset, indexCount);
  set32(TableDefinition::kOwnedPagesOffset, refValue(places.owned));
  set32(TableDefinition::kFreeSpacePagesOffset, refValue(places.freeSpace));

  for (std::uint32_t i = 0; i < indexCount; ++i) {  // index counts: u32 0, distinct keys, u32 0
    append32(d, 0);
    append32(d, 0);
    append32(d, 0);
  }
  for (std::uint16_t n : columnOrder) {
    const Placed& p = placed[n];
    append8(d, t.columns[n].type);
    append32(d, kDefinitionMagic);
    append16(d, p.number);
    append16(d, p.varIndex);
    append16(d, 0);  // column index
    append16(d, kSortOrderGeneralColumn);
    append16(d, 0);
    append8(d, p.flags);
    append8(d, 0);  // no Unicode compression
    append32(d, 0);
    append16(d, p.fixedOffset);
    append16(d, p.length);
  }
  auto appendName = [&](const char* name) {
    const Bytes utf16 = utf8ToUtf16le(name);
    append16(d, static_cast<std::uint32_t>(utf16.size()));
    d.insert(d.end(), utf16.begin(), utf16.end());
  };
  for (std::uint16_t n : columnOrder) appendName(t.columns[n].name);

  for (std::uint32_t i = 0; i < indexCount; ++i) {  // real indexes, by number
    const SystemIndex& x = t.indexes[i];
    append32(d, kRealIndexMagic);
    for (std::size_t slot = 0; slot < 10; ++slot) {
      if (slot < x.columns.size()) {
        append16(d, x.columns[slot]);
        append8(d, 0x01);  // ascending
      } else {
        append16(d, 0xFFFF);
        append8(d, 0);
      }
    }
    append32(d, refValue(places.indexMaps[i]));
    append32(d, places.leafPages[i]);
    append32(d, 0);
    append8(d, x.flags);
    for (int k = 0; k < 5; ++k) append8(d, 0);
  }
  for (std::uint32_t i : indexOrder) {  // logical indexes, by name
    append32(d, kDefinitionMagic);
    append32(d, i);  // index number
    append32(d, i);  // its real index
    append8(d, 0);   // no related table
    append32(d, 0xFFFFFFFFu);
    append32(d, 0);
    append8(d, 0x04);  // Access sets these two (the cascade flags of a
    append8(d, 0x04);  // foreign key) to 4 on every index of a new file
    append8(d, t.indexes[i].primaryKey ? 1 : 0);
    append32(d, 0);
  }
  for (std::uint32_t i : indexOrder) appendName(t.indexes[i].name);
  for (std::uint16_t n : columnOrder) {
    for (const auto& [number, maps] : places.longValueMaps) {
      if (number != n) continue;
      append16(d, number);
      append32(d, refValue(maps.ownedPages));
      append32(d, refValue(maps.freeSpacePages));
    }
  }
  append16(d, 0xFFFF);

  if (d.size() > kPageSize - 8) throw Error("a system table definition does not fit its page");
  set16(2, static_cast<std::uint32_t>(kPageSize - 8 - d.size()));
  set32(TableDefinition::kLengthOffset, static_cast<std::uint32_t>(d.size()));
  Page page{};
  std::copy(d.begin(), d.end(), page.begin());
  return page;
}

// An inline usage map row: type 0, first page 0, a 64-byte bitmap (pages 0
// to 511) with the given pages set.
constexpr std::size_t kInlineMapBytes = 64;
Bytes inlineMap(const std::vector<std::uint32_t>& pages) {
  Bytes row(5 + kInlineMapBytes, 0);
  for (std::uint32_t n : pages) row[5 + n / 8] = static_cast<std::uint8_t>(row[5 + n / 8] | 1u << (n % 8));
  return row;
}

// Page 1: row 0 the global map (a set bit marks a free page: every page from
// firstFree on), row 1 an empty map, as in every Access-made file.
Page globalMapPage(std::uint32_t firstFree) {
  Page p = newDataPage(1);
  std::vector<std::uint32_t> free;
  for (std::uint32_t n = firstFree; n < kInlineMapBytes * 8; ++n) free.push_back(n);
  insertRow(p, inlineMap(free));
  insertRow(p, inlineMap({}));
  return p;
}

Page usageMapPage(const std::vector<TablePlaces>& places) {
  Page p = newDataPage(0);
  std::uint16_t expected = 0;
  auto add = [&](UsageMapRef r, const std::vector<std::uint32_t>& pages) {
    if (r.row != expected++) throw Error("usage maps placed out of order");
    insertRow(p, inlineMap(pages));
  };
  for (const TablePlaces& t : places) {
    add(t.owned, {});
    add(t.freeSpace, {});
    for (const auto& entry : t.longValueMaps) {
      add(entry.second.ownedPages, {});
      add(entry.second.freeSpacePages, {});
    }
    for (std::size_t i = 0; i < t.indexMaps.size(); ++i) add(t.indexMaps[i], {t.leafPages[i]});
  }
  return p;
}

Page emptyLeafPage(std::uint32_t tableDefinitionPage) {
  Page p{};
  p[0] = 0x04;
  p[1] = 0x01;
  put32(p, 4, tableDefinitionPage);
  writeLeafEntries(p, {});
  return p;
}

// --- the catalog rows -------------------------------------------------------

// Security ids as Access stores them in a new file. Jet keeps them in an
// encoded form that differs from file to file; these are the values of the
// Access-made blank database, whose header fields we write as well.
const Bytes kEngineSid{0xA7, 0x31};   // owner of the engine's own objects
const Bytes kAdminSid{0xA6, 0x33};    // owner of the database and of user objects
const Bytes kUsersSid{0xA7, 0x33};    // the group every user belongs to
const Bytes kCreatorSid{0xA7, 0x36};  // stands for whoever creates an object
const Bytes kAdminsSid{               // the administrators' group of the workgroup
    0xA4, 0xF7, 0x46, 0x67, 0xE1, 0x71, 0x67, 0xEE, 0xD7, 0xB1, 0x0F, 0x8F, 0xFE, 0xEF, 0x76,
    0xFF, 0xAA, 0xE3, 0x66, 0x51, 0x05, 0xBD, 0xD2, 0x9D, 0x4D, 0x4B, 0x39, 0x52, 0xD9, 0xFB,
    0x9A, 0x07, 0x66, 0x0C, 0x5B, 0xD2, 0xD8, 0x7D, 0xDD, 0xB3, 0x1E, 0x65, 0x90, 0x19, 0x00,
    0x94, 0x89, 0xC2, 0x3C, 0x25, 0x6A, 0xCF, 0xDB, 0x34, 0x9A, 0x57, 0xAF, 0x50, 0xC5, 0x14,
    0x9A, 0x98, 0x30, 0xE6, 0x2C, 0x35, 0x55, 0x3F, 0x0E, 0x95, 0xCF, 0xB6, 0xEC, 0xB5, 0x70,
    0xB2, 0xF0, 0xA9, 0x9B, 0x1C, 0xDB, 0xCE, 0x60, 0x74, 0x7B, 0x7B, 0x13, 0xCF, 0x1D, 0xAF,
    0xC3, 0xD6, 0x18, 0x5F, 0x9C, 0x5B, 0xE4, 0xE8, 0x7E, 0x37, 0xED, 0xB3};

struct AccessEntry {
  const Bytes* sid;
  std::uint32_t rights;
  bool inheritable;
};

constexpr std::int32_t kRootId = 0x0F000000;
constexpr std::int32_t kTablesId = 0x0F000001;
constexpr std::int32_t kDatabasesId = 0x0F000002;
constexpr std::int32_t kRelationshipsId = 0x0F000003;
constexpr std::int32_t kDatabaseObjectId = 0x10000000;  // MSysDb
constexpr std::int32_t kFirstAccessContainerId = static_cast<std::int32_t>(0x80000000u);
constexpr std::int16_t kTypeTable = 1;
constexpr std::int16_t kTypeDatabase = 2;
constexpr std::int16_t kTypeContainer = 3;
constexpr std::uint32_t kEngineObjectFlags = 0x80000000u;  // the engine's own objects

struct SystemObject {
  std::int32_t id;
  std::int32_t parentId;
  const char* name;
  std::int16_t type;
  std::uint32_t flags;
  const Bytes* owner;
  std::vector<AccessEntry> access;
};

// Access rights (ACM) as Access grants them in a new file.
std::vector<AccessEntry> accessContainerRights() {  // Forms, Reports and the like
  return {{&kUsersSid, 0xFFFFF, true},
          {&kAdminsSid, 0xFFFFF, true},
          {&kAdminSid, 0xFFFFF, true},
          {&kCreatorSid, 0xFFFFF, true}};
}
std::vector<AccessEntry> systemTableRights(std::uint32_t adminRights, std::uint32_t adminsRights,
                                           bool users) {
  std::vector<AccessEntry> a{{&kAdminSid, adminRights, false}, {&kAdminsSid, adminsRights, false}};
  if (users) a.push_back({&kUsersSid, 0x14, false});  // read design and data
  return a;
}

// The objects of a new database, in the order their catalog rows are
// written: the engine's containers, the database object and the system
// tables, then the containers Access adds for its own objects. What Access
// adds later to a file it opens (the database's summary and user-defined
// property documents, MSysAccessObjects and its layout document) is left
// out: Access creates them when it first opens the file.
std::vector<SystemObject> systemObjects() {
  auto access = [](std::int32_t offset, const char* name) {
    return SystemObject{kFirstAccessContainerId + offset, kRootId, name, kTypeContainer, 0,
                        &kAdminSid, accessContainerRights()};
  };
  return {
      {kTablesId, kRootId, "Tables", kTypeContainer, kEngineObjectFlags, &kEngineSid,
       {{&kCreatorSid, 0xF00FE, true},
        {&kAdminSid, 0xFFEFF, true},
        {&kAdminsSid, 0xFFEFF, true},
        {&kUsersSid, 0xFFEFF, true}}},
      {kDatabasesId, kRootId, "Databases", kTypeContainer, kEngineObjectFlags, &kEngineSid,
       {{&kAdminSid, 0x60000, false}}},
      {kRelationshipsId, kRootId, "Relationships", kTypeContainer, kEngineObjectFlags,
       &kEngineSid,
       {{&kCreatorSid, 0xF00FE, true},
        {&kAdminSid, 0x60001, false},
        {&kAdminsSid, 0xFFFFF, true},
        {&kUsersSid, 0xFFFFF, true}}},
      {kDatabaseObjectId, kDatabasesId, "MSysDb", kTypeDatabase, kEngineObjectFlags, &kAdminSid,
       {{&kAdminSid, 0x6000E, false}, {&kUsersSid, 0x0000E, false}, {&kAdminsSid, 0x6000E, false}}},
      {2, kTablesId, "MSysObjects", kTypeTable, kEngineObjectFlags, &kEngineSid,
       systemTableRights(0x60000, 0x60054, true)},
      {3, kTablesId, "MSysACEs", kTypeTable, kEngineObjectFlags, &kEngineSid,
       systemTableRights(0x60000, 0x60054, false)},
      {4, kTablesId, "MSysQueries", kTypeTable, kEngineObjectFlags, &kEngineSid,
       systemTableRights(0x60000, 0x60014, true)},
      {5, kTablesId, "MSysRelationships", kTypeTable, kEngineObjectFlags, &kEngineSid,
       systemTableRights(0xE0000, 0x60014, true)},
      access(0, "DataAccessPages"),
      access(1, "Forms"),
      access(2, "Modules"),
      access(3, "Reports"),
      access(4, "Scripts"),
      access(5, "SysRel"),
  };
}

// The database object's properties as Access 2000 writes them into a new
// file: the Access version of the file format and the build that made it.
Bytes databaseProperties() {
  PropertyMaps props;
  props.setObjectProperty("AccessVersion", kTypeText, utf8ToUtf16le("08.50"));
  props.setObjectProperty("Build", kTypeLong, le32(6620));
  return props.serialize();
}

RowValue integerValue(std::int16_t v) {
  const auto u = static_cast<std::uint16_t>(v);
  return RowValue::of({static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8)});
}
RowValue dateValue(double d) {
  const auto bits = std::bit_cast<std::uint64_t>(d);
  Bytes b(8);
  for (std::size_t i = 0; i < 8; ++i) b[i] = static_cast<std::uint8_t>(bits >> (8 * i));
  return RowValue::of(std::move(b));
}

std::size_t columnAt(const TableDefinition& d, const char* name) {
  const Column* c = d.findColumn(name);
  if (c == nullptr) throw Error(std::string("system table lacks its column ") + name);
  return static_cast<std::size_t>(c - d.columns().data());
}

LongValueColumnMaps longValueMaps(const TableDefinition& d, const char* column) {
  const Column& c = d.columns()[columnAt(d, column)];
  for (const ColumnUsageMaps& m : d.columnUsageMaps())
    if (m.columnNumber == c.number) return {m.ownedPages, m.freeSpacePages};
  throw Error(std::string("system column ") + column + " has no usage maps");
}

// The catalog rows and access entries, through the table writer, in the
// channel's open transaction.
void writeSystemObjects(PageChannel& channel, double created) {
  const std::vector<SystemObject> objects = systemObjects();

  TableWriter catalog(channel, kCatalogPage);
  const TableDefinition& cd = catalog.definition();
  for (const SystemObject& o : objects) {
    std::vector<RowValue> row(cd.columns().size());
    row[columnAt(cd, "Id")] = RowValue::ofLong(o.id);
    row[columnAt(cd, "ParentId")] = RowValue::ofLong(o.parentId);
    row[columnAt(cd, "Name")] = RowValue::of(encodeTextValue(o.name, false));
    row[columnAt(cd, "Type")] = integerValue(o.type);
    row[columnAt(cd, "DateCreate")] = dateValue(created);
    row[columnAt(cd, "DateUpdate")] = dateValue(created);
    row[columnAt(cd, "Owner")] = RowValue::of(*o.owner);
    row[columnAt(cd, "Flags")] = RowValue::ofLong(static_cast<std::int32_t>(o.flags));
    if (o.id == kDatabaseObjectId) {
      const Bytes blob = databaseProperties();
      row[columnAt(cd, "LvProp")] = RowValue::of(
          writeLongValue(channel, longValueMaps(cd, "LvProp"), blob, kMaxInlineLongValue));
    }
    catalog.insertRow(row);
  }

  // Access entries, container by container in the order of their names, each
  // followed by the objects in it, also by name (as Access orders them).
  std::vector<const SystemObject*> order;
  std::vector<const SystemObject*> containers;
  for (const SystemObject& o : objects)
    if (o.parentId == kRootId) containers.push_back(&o);
  auto byName = [](const SystemObject* a, const SystemObject* b) {
    return nameLess(a->name, b->name);
  };
  std::sort(containers.begin(), containers.end(), byName);
  order = containers;
  for (const SystemObject* c : containers) {
    std::vector<const SystemObject*> children;
    for (const SystemObject& o : objects)
      if (o.parentId == c->id) children.push_back(&o);
    std::sort(children.begin(), children.end(), byName);
    order.insert(order.end(), children.begin(), children.end());
  }
  TableWriter aces(channel, kAcesPage);
  const TableDefinition& ad = aces.definition();
  for (const SystemObject* o : order) {
    for (const AccessEntry& a : o->access) {
      std::vector<RowValue> row(ad.columns().size());
      row[columnAt(ad, "ObjectId")] = RowValue::ofLong(o->id);
      row[columnAt(ad, "SID")] = RowValue::of(*a.sid);
      row[columnAt(ad, "ACM")] = RowValue::ofLong(static_cast<std::int32_t>(a.rights));
      row[columnAt(ad, "FInheritable")] = RowValue::ofBoolean(a.inheritable);
      aces.insertRow(row);
    }
  }
}

// Pages 0 to 13, written straight into the new (temporary) file and flushed.
void writeEmptyStructure(Env& env, const std::string& path, double created,
                         const std::array<std::uint8_t, DatabaseHeader::kPasswordLength>& password) {
  const std::vector<TablePlaces> places = placeMapsAndLeaves();
  std::vector<Page> pages;
  pages.push_back(headerPage(created, password));
  pages.push_back(Page{});  // the global map, once the page count is known
  for (std::size_t i = 0; i < systemTables().size(); ++i) {
    if (systemTables()[i].page != pages.size()) throw Error("system tables placed out of order");
    pages.push_back(definitionPage(systemTables()[i], places[i]));
  }
  pages.push_back(usageMapPage(places));
  for (std::size_t i = 0; i < systemTables().size(); ++i)
    for (std::uint32_t leaf : places[i].leafPages) {
      if (leaf != pages.size()) throw Error("index pages placed out of order");
      pages.push_back(emptyLeafPage(systemTables()[i].page));
    }
  pages[1] = globalMapPage(static_cast<std::uint32_t>(pages.size()));

  Bytes bytes;
  bytes.reserve(pages.size() * kPageSize);
  for (const Page& p : pages) bytes.insert(bytes.end(), p.begin(), p.end());
  auto file = env.open(path, OpenMode::CreateNew);
  file->write(0, bytes);
  file->sync();
}

}  // namespace

std::string creationTempPath(const std::string& path) { return path + ".creating"; }

void createDatabase(Env& env, const std::string& path, std::string_view password) {
  const double created = jetDate(env.localTime());
  const auto maskedPassword = DatabaseHeader::maskPassword(password, created);
  if (env.exists(path)) throw Error("a file named '" + path + "' exists already");
  // A journal left beside the path would be rolled back into the new file
  // when it is first opened.
  if (env.exists(PageChannel::journalPath(path)))
    throw Error("a rollback journal '" + PageChannel::journalPath(path) +
                "' of an earlier database lies at that place");

  const std::string temp = creationTempPath(path);
  const std::string tempJournal = PageChannel::journalPath(temp);
  // What an interrupted creation left behind.
  env.remove(tempJournal);
  env.remove(temp);
  try {
    writeEmptyStructure(env, temp, created, maskedPassword);
    {
      PageChannel channel(env, temp, false);
      WriteTransaction tx(channel);
      writeSystemObjects(channel, created);
      tx.commit();  // flushes the file
    }
    env.renameNoReplace(temp, path);
  } catch (...) {
    try {
      env.remove(tempJournal);
      env.remove(temp);
    } catch (...) {
      // the original failure is what the caller needs to see
    }
    throw;
  }
  env.syncDirectory(directoryOf(path));
}

}  // namespace engine
