// A column as described by a table definition (TDEF).
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace engine {

// Jet column type bytes.
enum ColumnType : std::uint8_t {
  kTypeBoolean = 0x01,
  kTypeByte = 0x02,
  kTypeInteger = 0x03,
  kTypeLong = 0x04,
  kTypeCurrency = 0x05,
  kTypeFloat = 0x06,
  kTypeDouble = 0x07,
  kTypeDateTime = 0x08,
  kTypeBinary = 0x09,
  kTypeText = 0x0A,
  kTypeOle = 0x0B,
  kTypeMemo = 0x0C,
  kTypeGuid = 0x0F,
  kTypeNumeric = 0x10,
};

// Column flag bits.
inline constexpr std::uint8_t kColumnFixedLength = 0x01;
inline constexpr std::uint8_t kColumnNullable = 0x02;
inline constexpr std::uint8_t kColumnAutoLong = 0x04;
inline constexpr std::uint8_t kColumnAutoGuid = 0x40;

// Size of one column block in a Jet 4 table definition.
inline constexpr std::size_t kColumnBlockSize = 25;

struct Column {
  std::string name;
  std::uint8_t type = 0;
  std::uint16_t number = 0;       // column number (gaps where columns were deleted)
  std::uint16_t varIndex = 0;     // index into a row's variable-length offset table
  std::uint16_t displayIndex = 0; // the column index stored beside the number
  std::uint16_t fixedOffset = 0;  // offset of a fixed-length value in a row's fixed area
  std::uint16_t length = 0;       // stored length in bytes (text: 2 bytes a character)
  std::uint8_t flags = 0;         // 0x01 fixed length, 0x02 nullable, 0x04 auto-increment
  std::uint8_t extFlags = 0;      // 0x01 compressed unicode
  std::uint8_t precision = 0;     // numeric only
  std::uint8_t scale = 0;         // numeric only
  std::uint16_t sortOrder = 0;    // collation of text columns
  // Position of the column's block among the blocks of the table definition
  // (columns() is sorted by number; this keeps the stored order).
  std::uint16_t definitionIndex = 0;
  // The column block exactly as stored, for re-emitting it unchanged.
  std::array<std::uint8_t, kColumnBlockSize> rawDefinition{};

  bool fixedLength() const { return (flags & kColumnFixedLength) != 0; }
  bool variableLength() const { return !fixedLength(); }
  bool autoIncrement() const { return (flags & kColumnAutoLong) != 0; }
  bool autoGuid() const { return (flags & kColumnAutoGuid) != 0; }
  bool compressedUnicode() const { return (extFlags & 0x01) != 0; }
  bool isBoolean() const { return type == kTypeBoolean; }
  bool isLongValue() const { return type == kTypeMemo || type == kTypeOle; }
};

// Bytes a fixed-length value of the type takes in a row; 0 for variable
// types and booleans (stored in the null mask).
inline std::size_t fixedValueSize(const Column& c) {
  switch (c.type) {
    case kTypeByte: return 1;
    case kTypeInteger: return 2;
    case kTypeLong: case kTypeFloat: return 4;
    case kTypeCurrency: case kTypeDouble: case kTypeDateTime: return 8;
    case kTypeGuid: return 16;
    case kTypeNumeric: return 17;
    case kTypeBoolean: return 0;
    default: return c.length;
  }
}

// Lower-case name of a column type, as the engine reports it and the schema
// tool prints it ("type<N>" for an unknown type).
inline std::string columnTypeName(std::uint8_t type) {
  switch (type) {
    case kTypeBoolean: return "boolean";
    case kTypeByte: return "byte";
    case kTypeInteger: return "integer";
    case kTypeLong: return "long";
    case kTypeCurrency: return "currency";
    case kTypeFloat: return "float";
    case kTypeDouble: return "double";
    case kTypeDateTime: return "datetime";
    case kTypeBinary: return "binary";
    case kTypeText: return "text";
    case kTypeOle: return "ole";
    case kTypeMemo: return "memo";
    case kTypeGuid: return "guid";
    case kTypeNumeric: return "numeric";
    default: return "type" + std::to_string(type);
  }
}

}  // namespace engine
