#include "engine/database_header.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "engine/byte_reader.h"
#include "engine/error.h"
#include "engine/text_codec.h"

namespace engine {
namespace {

constexpr std::array<std::uint8_t, 4> kJetKey{0xC7, 0xDA, 0x39, 0x6B};

std::array<std::uint8_t, DatabaseHeader::kMaskedLength> rc4Stream() {
  std::array<std::uint8_t, 256> s{};
  for (std::size_t i = 0; i < 256; ++i) s[i] = static_cast<std::uint8_t>(i);
  std::size_t j = 0;
  for (std::size_t i = 0; i < 256; ++i) {
    j = (j + s[i] + kJetKey[i % kJetKey.size()]) & 0xFF;
    std::swap(s[i], s[j]);
  }
  std::array<std::uint8_t, DatabaseHeader::kMaskedLength> out{};
  std::size_t a = 0, b = 0;
  for (auto& byte : out) {
    a = (a + 1) & 0xFF;
    b = (b + s[a]) & 0xFF;
    std::swap(s[a], s[b]);
    byte = s[(s[a] + s[b]) & 0xFF];
  }
  return out;
}

bool startsWith(const Page& p, std::size_t offset, const char* text) {
  return std::memcmp(p.data() + offset, text, std::strlen(text)) == 0;
}

}  // namespace

const std::array<std::uint8_t, DatabaseHeader::kMaskedLength>& DatabaseHeader::maskStream() {
  static const auto stream = rc4Stream();
  return stream;
}

std::array<std::uint8_t, 4> DatabaseHeader::passwordMask(double creationDate) {
  // The integer part of the day number, as a 32-bit integer would hold it
  // (saturating; not-a-number gives 0).
  std::int32_t day = 0;
  if (std::isnan(creationDate)) {
    day = 0;
  } else if (creationDate >= 2147483647.0) {
    day = std::numeric_limits<std::int32_t>::max();
  } else if (creationDate <= -2147483648.0) {
    day = std::numeric_limits<std::int32_t>::min();
  } else {
    day = static_cast<std::int32_t>(creationDate);
  }
  auto u = static_cast<std::uint32_t>(day);
  return {static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8),
          static_cast<std::uint8_t>(u >> 16), static_cast<std::uint8_t>(u >> 24)};
}

std::array<std::uint8_t, DatabaseHeader::kPasswordLength> DatabaseHeader::maskPassword(
    std::string_view password, double creationDate) {
  const std::vector<std::uint8_t> units = utf8ToUtf16le(password);
  if (units.size() > kPasswordLength)
    throw Error("a database password has at most " + std::to_string(kPasswordLength / 2) +
                " characters");
  for (std::size_t i = 0; i + 1 < units.size(); i += 2)
    if (units[i] == 0 && units[i + 1] == 0)
      throw Error("a database password cannot hold a NUL character");
  const auto mask = passwordMask(creationDate);
  std::array<std::uint8_t, kPasswordLength> out{};
  for (std::size_t i = 0; i < kPasswordLength; ++i)
    out[i] = static_cast<std::uint8_t>((i < units.size() ? units[i] : 0) ^ mask[i % 4]);
  return out;
}

DatabaseHeader DatabaseHeader::read(PageChannel& channel, std::uint64_t fileSize) {
  if (fileSize == 0) throw Error("database file '" + channel.path() + "' is empty");
  if (fileSize < kPageSize)
    throw Error("database file '" + channel.path() + "' is truncated: " +
                std::to_string(fileSize) + " bytes, less than one page");
  return parse(channel.readPage(0), fileSize);
}

DatabaseHeader DatabaseHeader::parse(const Page& page0, std::uint64_t fileSize) {
  bool jet = startsWith(page0, 4, "Standard Jet DB");
  bool ace = startsWith(page0, 4, "Standard ACE DB");
  bool msisam = startsWith(page0, 4, "MSISAM Database");
  if (page0[0] != 0x00 || page0[1] != 0x01 || !(jet || ace || msisam))
    throw Error("not a Jet database file");
  std::uint8_t version = page0[kVersionOffset];
  if (ace || version >= 2)
    throw Error("ACE (.accdb, Access 2007 or later) databases are not supported; only Jet 4");
  if (msisam) throw Error("MSISAM databases are not supported; only Jet 4");
  if (version == 0) throw Error("Jet 3 (Access 97) databases are not supported; only Jet 4");
  if (fileSize % kPageSize != 0)
    throw Error("database file size " + std::to_string(fileSize) +
                " is not a whole number of 4096-byte pages (truncated, or another page size)");
  if (fileSize / kPageSize < 3)
    throw Error("database file is truncated: it lacks the catalog's table definition");

  DatabaseHeader h;
  h.decoded_ = page0;
  const auto& mask = maskStream();
  for (std::size_t i = 0; i < kMaskedLength; ++i) h.decoded_[kMaskedOffset + i] ^= mask[i];

  ByteReader r(h.decoded_, "header page");
  if (r.u32(kDatabaseKeyOffset) != 0)
    throw Error("database pages are encrypted (RC4 database key set); not supported");
  h.codePage_ = r.u16(kCodePageOffset);
  h.sortOrder_ = r.u32(kSortOrderOffset);
  h.creationDate_ = r.f64(kCreationDateOffset);

  auto pwMask = passwordMask(h.creationDate_);
  std::array<std::uint8_t, kPasswordLength> pw{};
  bool any = false;
  for (std::size_t i = 0; i < kPasswordLength; ++i) {
    pw[i] = static_cast<std::uint8_t>(h.decoded_[kPasswordOffset + i] ^ pwMask[i % 4]);
    any = any || pw[i] != 0;
  }
  if (any) {
    std::size_t units = 0;
    while (units < kPasswordLength / 2 && (pw[2 * units] != 0 || pw[2 * units + 1] != 0)) ++units;
    h.password_ = utf16leToUtf8(std::span<const std::uint8_t>(pw.data(), 2 * units));
  }
  return h;
}

bool DatabaseHeader::accepts(std::string_view password) const {
  return password_.empty() || password == password_;
}

void DatabaseHeader::checkPassword(std::string_view password) const {
  if (!accepts(password)) throw Error("wrong database password");
}

std::string passwordFromConnect(std::string_view connect) {
  std::string password;
  std::size_t pos = 0;
  while (pos <= connect.size()) {
    std::size_t end = connect.find(';', pos);
    if (end == std::string_view::npos) end = connect.size();
    std::string_view part = connect.substr(pos, end - pos);
    std::size_t eq = part.find('=');
    if (eq != std::string_view::npos) {
      std::string_view key = part.substr(0, eq);
      while (!key.empty() && (key.front() == ' ' || key.front() == '\t')) key.remove_prefix(1);
      while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.remove_suffix(1);
      if (key.size() == 3 && (key[0] | 0x20) == 'p' && (key[1] | 0x20) == 'w' &&
          (key[2] | 0x20) == 'd')
        password = std::string(part.substr(eq + 1));
    }
    pos = end + 1;
  }
  return password;
}

}  // namespace engine
