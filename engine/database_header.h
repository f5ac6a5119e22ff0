// The header page (page 0) of a Jet 4 database.
//
// The 128 bytes from offset 0x18 are masked with the RC4 key stream of the
// fixed Jet key; decoded, they hold the database key (0x3E, non-zero when
// the pages are RC4-encrypted), the code page (0x3C), the password (40 bytes
// at 0x42, UCS-2, further masked with the 4 little-endian bytes of the
// integer part of the creation date), the sort order (0x6E) and the creation
// date (0x72, a day number as a double).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/page_channel.h"

namespace engine {

class DatabaseHeader {
 public:
  static constexpr std::size_t kMaskedOffset = 0x18;
  static constexpr std::size_t kMaskedLength = 128;
  static constexpr std::size_t kVersionOffset = 0x14;
  static constexpr std::size_t kCodePageOffset = 0x3C;
  static constexpr std::size_t kDatabaseKeyOffset = 0x3E;
  static constexpr std::size_t kPasswordOffset = 0x42;
  static constexpr std::size_t kPasswordLength = 40;
  static constexpr std::size_t kSortOrderOffset = 0x6E;
  static constexpr std::size_t kCreationDateOffset = 0x72;

  // Reads page 0 (fileSize: the file's length) and refuses anything but an unencrypted Jet 4 file of
  // whole 4096-byte pages.
  static DatabaseHeader read(PageChannel& channel, std::uint64_t fileSize);
  // The same on bytes already read; fileSize is the size of the whole file.
  static DatabaseHeader parse(const Page& page0, std::uint64_t fileSize);

  // The key stream that masks the header region.
  static const std::array<std::uint8_t, kMaskedLength>& maskStream();
  // The 4-byte mask the password is further masked with.
  static std::array<std::uint8_t, 4> passwordMask(double creationDate);
  // The password field as it is stored in the decoded header region (the
  // inverse of what parse() undoes): the password in UTF-16LE, zero-padded
  // to kPasswordLength bytes, masked with passwordMask(creationDate). The
  // empty password gives the mask alone. Error when the password is longer
  // than 20 UTF-16 code units, holds a NUL character or is not UTF-8.
  static std::array<std::uint8_t, kPasswordLength> maskPassword(std::string_view password,
                                                               double creationDate);

  bool hasPassword() const { return !password_.empty(); }
  // The stored password, UTF-8.
  const std::string& password() const { return password_; }
  // True when the given password opens the database: any password when it
  // has none, otherwise exactly the stored one (letter case counts).
  bool accepts(std::string_view password) const;
  // Throws Error("wrong database password") unless accepts(password).
  void checkPassword(std::string_view password) const;

  std::uint16_t codePage() const { return codePage_; }
  std::uint32_t sortOrder() const { return sortOrder_; }
  double creationDate() const { return creationDate_; }
  // Page 0 with the masked region decoded.
  const Page& decoded() const { return decoded_; }

 private:
  Page decoded_{};
  std::string password_;
  std::uint16_t codePage_ = 0;
  std::uint32_t sortOrder_ = 0;
  double creationDate_ = 0;
};

// The password in a connect text. The text is a list of key=value parts
// separated by ';'; the key "pwd" is matched without regard to letter case
// and to blanks or tabs around it; its value is everything after the first
// '=' up to the next ';' (or the end), taken as it stands, blanks included.
// Parts without '=' and other keys are ignored; when "pwd" appears more than
// once the last one counts. No "pwd" gives the empty password.
std::string passwordFromConnect(std::string_view connect);

}  // namespace engine
