#include "engine/property_map.h"

#include <algorithm>
#include <cstring>

#include "engine/byte_reader.h"
#include "engine/error.h"
#include "engine/little_endian.h"
#include "engine/text_codec.h"

namespace engine {
namespace {

constexpr std::size_t kBlockHeader = 6;     // length + type
constexpr std::size_t kPropertyHeader = 8;  // length, flag, type, name index, size
constexpr char kMagicMr2[] = "MR2";
constexpr char kMagicKkd[] = "KKD";

void patch16(std::vector<std::uint8_t>& out, std::size_t at, std::size_t v) {
  out[at] = static_cast<std::uint8_t>(v & 0xFF);
  out[at + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
}
void patch32(std::vector<std::uint8_t>& out, std::size_t at, std::size_t v) {
  patch16(out, at, v & 0xFFFF);
  patch16(out, at + 2, (v >> 16) & 0xFFFF);
}
void append(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}

// A name: length (2) + UTF-16LE. Returns the raw bytes; advances pos.
std::span<const std::uint8_t> readName(const ByteReader& r, std::size_t& pos) {
  const std::uint16_t len = r.u16(pos);
  const auto bytes = r.bytes(pos + 2, len);
  pos += 2 + std::size_t{len};
  return bytes;
}

void writeName(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> raw) {
  if (raw.size() > 0xFFFF) throw Error("property name too long");
  append16(out, raw.size());
  append(out, raw);
}

}  // namespace

const Property* PropertyMap::find(std::string_view propertyName) const {
  for (const auto& p : properties)
    if (caseInsensitiveEqual(p.name, propertyName)) return &p;
  return nullptr;
}

PropertyMaps PropertyMaps::parse(std::span<const std::uint8_t> blob) {
  PropertyMaps maps;
  if (blob.empty()) return maps;
  ByteReader r(blob, "property blob");
  const auto magic = r.bytes(0, 4);
  if (!(std::memcmp(magic.data(), kMagicMr2, 4) == 0 || std::memcmp(magic.data(), kMagicKkd, 4) == 0))
    throw Error("property blob: unknown header");
  maps.present_ = true;
  maps.magic_.assign(reinterpret_cast<const char*>(magic.data()), 4);

  std::size_t pos = 4;
  while (pos < blob.size()) {
    const std::uint32_t length = r.u32(pos);
    const std::uint16_t type = r.u16(pos + 4);
    if (length < kBlockHeader || !r.contains(pos, length))
      throw Error("property blob: block of " + std::to_string(length) + " bytes at offset " +
                  std::to_string(pos) + " does not fit");
    ByteReader block(r.bytes(pos, length), "property block");
    std::size_t at = kBlockHeader;
    if (type == kPropertyNamePool) {
      if (maps.hasNamePool_) throw Error("property blob: a second name pool");
      maps.hasNamePool_ = true;
      maps.namePoolPosition_ = maps.maps_.size();
      while (at < block.size()) {
        const auto raw = readName(block, at);
        maps.names_.push_back(utf16leToUtf8(raw));
        maps.rawNames_.emplace_back(raw.begin(), raw.end());
      }
    } else {
      PropertyMap map;
      map.type = type;
      if (at < block.size()) {
        const std::uint32_t nameBlock = block.u32(at);
        if (nameBlock < 4 || !block.contains(at, nameBlock))
          throw Error("property blob: map name block does not fit");
        const std::size_t nameEnd = at + nameBlock;
        if (nameBlock > 6) {
          ByteReader nameReader(block.bytes(0, nameEnd), "property map name");
          std::size_t namePos = at + 4;
          const auto raw = readName(nameReader, namePos);
          map.hasName = true;
          map.rawName.assign(raw.begin(), raw.end());
          map.name = utf16leToUtf8(raw);
          at = namePos;
        } else {
          at += 4;
        }
        const auto pad = block.bytes(at, nameEnd - at);
        map.namePadding.assign(pad.begin(), pad.end());
        at = nameEnd;
      }
      while (at < block.size()) {
        const std::uint16_t valueLength = block.u16(at);
        if (valueLength < kPropertyHeader || !block.contains(at, valueLength))
          throw Error("property blob: property of " + std::to_string(valueLength) +
                      " bytes does not fit");
        ByteReader value(block.bytes(at, valueLength), "property");
        Property p;
        p.flag = value.u8(2);
        p.type = value.u8(3);
        p.nameIndex = value.u16(4);
        const std::uint16_t dataSize = value.u16(6);
        const auto data = value.bytes(kPropertyHeader, dataSize);
        p.data.assign(data.begin(), data.end());
        const auto pad = value.bytes(kPropertyHeader + dataSize, valueLength - kPropertyHeader - dataSize);
        p.padding.assign(pad.begin(), pad.end());
        if (p.nameIndex >= maps.names_.size())
          throw Error("property blob: name index " + std::to_string(p.nameIndex) +
                      " outside the pool of " + std::to_string(maps.names_.size()));
        p.name = maps.names_[p.nameIndex];
        map.properties.push_back(std::move(p));
        at += valueLength;
      }
      maps.maps_.push_back(std::move(map));
    }
    pos += length;
  }
  return maps;
}

std::vector<std::uint8_t> PropertyMaps::serialize() const {
  if (!present_) return {};
  std::vector<std::uint8_t> out(magic_.begin(), magic_.end());
  auto writePool = [&] {
    const std::size_t start = out.size();
    append32(out, 0);
    append16(out, kPropertyNamePool);
    for (const auto& raw : rawNames_) writeName(out, raw);
    patch32(out, start, out.size() - start);
  };
  for (std::size_t i = 0; i <= maps_.size(); ++i) {
    if (hasNamePool_ && i == namePoolPosition_) writePool();
    if (i == maps_.size()) break;
    const PropertyMap& map = maps_[i];
    const std::size_t start = out.size();
    append32(out, 0);
    append16(out, map.type);
    const std::size_t nameStart = out.size();
    append32(out, 0);
    if (map.hasName) writeName(out, map.rawName);
    append(out, map.namePadding);
    patch32(out, nameStart, out.size() - nameStart);
    for (const auto& p : map.properties) {
      if (p.data.size() > 0xFFFF - kPropertyHeader - p.padding.size())
        throw Error("property " + p.name + " too long");
      const std::size_t valueStart = out.size();
      append16(out, 0);
      out.push_back(p.flag);
      out.push_back(p.type);
      append16(out, p.nameIndex);
      append16(out, p.data.size());
      append(out, p.data);
      append(out, p.padding);
      patch16(out, valueStart, out.size() - valueStart);
    }
    patch32(out, start, out.size() - start);
  }
  return out;
}

const PropertyMap* PropertyMaps::column(std::string_view columnName) const {
  for (const auto& m : maps_)
    if (m.hasName && caseInsensitiveEqual(m.name, columnName)) return &m;
  return nullptr;
}

bool PropertyMaps::columnBoolean(std::string_view columnName, std::string_view propertyName) const {
  const PropertyMap* m = column(columnName);
  if (m == nullptr) return false;
  const Property* p = m->find(propertyName);
  return p != nullptr && p->booleanValue();
}

bool PropertyMaps::required(std::string_view columnName) const {
  return columnBoolean(columnName, "Required");
}

bool PropertyMaps::allowZeroLength(std::string_view columnName) const {
  return columnBoolean(columnName, "AllowZeroLength");
}

std::uint16_t PropertyMaps::nameIndexOf(std::string_view propertyName) {
  std::size_t index = 0;
  while (index < names_.size() && names_[index] != propertyName) ++index;
  if (index == names_.size()) {
    if (index > 0xFFFF) throw Error("property blob: name pool full");
    names_.emplace_back(propertyName);
    rawNames_.push_back(utf8ToUtf16le(propertyName));
    if (!hasNamePool_) {
      hasNamePool_ = true;
      namePoolPosition_ = 0;
    }
  }
  return static_cast<std::uint16_t>(index);
}

void PropertyMaps::setObjectProperty(std::string_view propertyName, std::uint8_t type,
                                     std::vector<std::uint8_t> data, std::uint8_t flag) {
  present_ = true;
  const std::uint16_t index = nameIndexOf(propertyName);
  PropertyMap* map = nullptr;
  for (auto& m : maps_)
    if (!m.hasName && m.type == kPropertyObjectMap) map = &m;
  if (map == nullptr) {
    PropertyMap m;
    m.type = kPropertyObjectMap;
    m.namePadding = {0, 0};  // a name of length 0, as Access writes the object's map
    maps_.insert(maps_.begin(), std::move(m));
    if (hasNamePool_ && namePoolPosition_ > 0) ++namePoolPosition_;
    map = &maps_.front();
  }
  for (auto& p : map->properties) {
    if (p.name == propertyName) {
      p.type = type;
      p.data = std::move(data);
      return;
    }
  }
  Property p;
  p.name = std::string(propertyName);
  p.flag = flag;
  p.type = type;
  p.nameIndex = index;
  p.data = std::move(data);
  map->properties.push_back(std::move(p));
}

void PropertyMaps::setColumnBoolean(std::string_view columnName, std::string_view propertyName,
                                    bool value, bool ddl) {
  present_ = true;
  const std::uint16_t index = nameIndexOf(propertyName);
  PropertyMap* map = nullptr;
  for (auto& m : maps_)
    if (m.hasName && caseInsensitiveEqual(m.name, columnName)) map = &m;
  if (map == nullptr) {
    PropertyMap m;
    m.type = kPropertyColumnMap;
    m.name = std::string(columnName);
    m.hasName = true;
    m.rawName = utf8ToUtf16le(columnName);
    maps_.push_back(std::move(m));
    map = &maps_.back();
  }
  for (auto& p : map->properties) {
    if (p.name == propertyName) {
      p.type = kPropertyTypeBoolean;
      p.data = {static_cast<std::uint8_t>(value ? 1 : 0)};
      return;
    }
  }
  Property p;
  p.name = std::string(propertyName);
  p.flag = ddl ? 1 : 0;
  p.type = kPropertyTypeBoolean;
  p.nameIndex = index;
  p.data = {static_cast<std::uint8_t>(value ? 1 : 0)};
  map->properties.push_back(std::move(p));
}

}  // namespace engine
