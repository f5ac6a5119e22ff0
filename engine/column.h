// A column as described by a table definition (TDEF) page.
#pragma once

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

struct Column {
  std::string name;
  std::uint8_t type = 0;
  std::uint16_t number = 0;       // column number (gaps where columns were deleted)
  std::uint16_t varIndex = 0;     // index into a row's variable-length offset table
  std::uint16_t fixedOffset = 0;  // offset of a fixed-length value in a row's fixed area
  std::uint16_t length = 0;       // stored length in bytes (text: 2 bytes a character)
  std::uint8_t flags = 0;         // 0x01 fixed length, 0x02 nullable, 0x04 auto-increment
  std::uint8_t extFlags = 0;      // 0x01 compressed unicode
  std::uint8_t precision = 0;     // numeric only
  std::uint8_t scale = 0;         // numeric only
  std::uint16_t sortOrder = 0;    // collation of text columns

  bool fixedLength() const { return (flags & 0x01) != 0; }
  bool autoIncrement() const { return (flags & 0x04) != 0; }
  bool compressedUnicode() const { return (extFlags & 0x01) != 0; }
};

}  // namespace engine
