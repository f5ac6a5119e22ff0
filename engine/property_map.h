// Property maps: the property blob of a catalog object (the LvProp value of
// its MSysObjects row), in the "MR2" format.
//
//   "MR2\0" (or "KKD\0")
//   blocks: length (4, the block's whole length) | type (2) | contents
//     type 0x80: the name pool, names as length (2) + UTF-16LE
//     other types (0x00 the object's own map, 0x01 a column's map):
//       map name block: length (4, itself included) | name (2 + UTF-16LE),
//                       absent (length 4..6) for the object itself
//       properties: length (2, itself included) | flag (1) | data type (1) |
//                   name index into the pool (2) | data size (2) | data
//
// The parsed structure keeps every byte it does not interpret (padding after
// a name or a property), so that serialize() gives back the blob it was
// parsed from, and properties can be added for new columns before it is
// written again.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

inline constexpr std::uint16_t kPropertyNamePool = 0x80;
inline constexpr std::uint16_t kPropertyObjectMap = 0x00;
inline constexpr std::uint16_t kPropertyColumnMap = 0x01;
inline constexpr std::uint8_t kPropertyTypeBoolean = 0x01;

struct Property {
  std::string name;
  std::uint8_t flag = 0;
  std::uint8_t type = 0;  // a column type byte
  std::vector<std::uint8_t> data;
  std::uint16_t nameIndex = 0;        // as stored
  std::vector<std::uint8_t> padding;  // bytes after the data within the property

  // A boolean property's value (data non-zero).
  bool booleanValue() const { return !data.empty() && data[0] != 0; }
};

struct PropertyMap {
  std::uint16_t type = kPropertyObjectMap;
  std::string name;  // the column name; empty for the object itself
  bool hasName = false;
  std::vector<std::uint8_t> rawName;      // the name as stored (UTF-16LE)
  std::vector<std::uint8_t> namePadding;  // bytes after the name in its block
  std::vector<Property> properties;

  const Property* find(std::string_view propertyName) const;  // letter case ignored
};

class PropertyMaps {
 public:
  // An empty blob gives no maps. Error on an unknown header or any length
  // that leaves its block.
  static PropertyMaps parse(std::span<const std::uint8_t> blob);
  // The blob again; for a parsed blob the same bytes (empty for an empty
  // blob to which nothing was added).
  std::vector<std::uint8_t> serialize() const;

  const std::vector<std::string>& names() const { return names_; }
  const std::vector<PropertyMap>& maps() const { return maps_; }
  // The map of that column (letter case ignored); null when none.
  const PropertyMap* column(std::string_view columnName) const;

  // A column's Required and AllowZeroLength; false when not set.
  bool required(std::string_view columnName) const;
  bool allowZeroLength(std::string_view columnName) const;

  // Sets a boolean property of a column, adding the map, the name to the
  // pool and the property as needed. A property it adds gets flag 1 when ddl
  // is set (the engine's own properties, such as Required and
  // AllowZeroLength, carry it), else 0; an existing one keeps its flag.
  void setColumnBoolean(std::string_view columnName, std::string_view propertyName, bool value,
                        bool ddl = false);
  // Sets a property of the object itself (the map without a name, added as
  // the first map when missing): its column type byte, stored bytes and
  // flag. An existing property keeps its flag.
  void setObjectProperty(std::string_view propertyName, std::uint8_t type,
                         std::vector<std::uint8_t> data, std::uint8_t flag = 0);

 private:
  bool columnBoolean(std::string_view columnName, std::string_view propertyName) const;
  // The property name's index in the pool, adding it when missing.
  std::uint16_t nameIndexOf(std::string_view propertyName);

  bool present_ = false;  // parsed from a non-empty blob or given a property
  std::string magic_ = std::string("MR2\0", 4);
  std::vector<std::string> names_;
  std::vector<std::vector<std::uint8_t>> rawNames_;  // as stored, for serialize()
  bool hasNamePool_ = false;
  std::size_t namePoolPosition_ = 0;  // index among the blocks
  std::vector<PropertyMap> maps_;
};

}  // namespace engine
