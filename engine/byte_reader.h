// Bounds-checked little-endian reads from a byte range taken from the file.
//
// Every offset, length and count in a database file is untrusted: a read that
// would leave the range throws engine::Error naming what was being read.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "engine/error.h"

namespace engine {

class ByteReader {
 public:
  // what names the bytes in errors; a literal is kept as it is, so that a
  // reader made for every row costs no copy of its name.
  ByteReader(std::span<const std::uint8_t> data, const char* what) : data_(data), literal_(what) {}
  ByteReader(std::span<const std::uint8_t> data, std::string what) : data_(data), owned_(std::move(what)) {}

  std::size_t size() const { return data_.size(); }
  std::span<const std::uint8_t> data() const { return data_; }

  bool contains(std::size_t offset, std::size_t length) const {
    return offset <= data_.size() && length <= data_.size() - offset;
  }
  // Inline, so that every read costs one comparison; the error is built out
  // of line.
  void require(std::size_t offset, std::size_t length) const {
    if (!contains(offset, length)) [[unlikely]]
      outside(offset, length);
  }

  std::span<const std::uint8_t> bytes(std::size_t offset, std::size_t length) const {
    require(offset, length);
    return data_.subspan(offset, length);
  }
  std::uint8_t u8(std::size_t offset) const {
    require(offset, 1);
    return data_[offset];
  }
  std::uint16_t u16(std::size_t offset) const {
    require(offset, 2);
    return static_cast<std::uint16_t>(data_[offset] | (data_[offset + 1] << 8));
  }
  std::uint32_t u24(std::size_t offset) const {
    require(offset, 3);
    return std::uint32_t{data_[offset]} | (std::uint32_t{data_[offset + 1]} << 8) |
           (std::uint32_t{data_[offset + 2]} << 16);
  }
  std::uint32_t u32(std::size_t offset) const {
    require(offset, 4);
    return std::uint32_t{data_[offset]} | (std::uint32_t{data_[offset + 1]} << 8) |
           (std::uint32_t{data_[offset + 2]} << 16) | (std::uint32_t{data_[offset + 3]} << 24);
  }
  std::int16_t i16(std::size_t offset) const { return static_cast<std::int16_t>(u16(offset)); }
  std::int32_t i32(std::size_t offset) const { return static_cast<std::int32_t>(u32(offset)); }
  double f64(std::size_t offset) const {
    require(offset, 8);
    std::uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = (bits << 8) | data_[offset + static_cast<std::size_t>(i)];
    return std::bit_cast<double>(bits);
  }

 private:
  [[noreturn]] void outside(std::size_t offset, std::size_t length) const;

  std::span<const std::uint8_t> data_;
  const char* literal_ = nullptr;
  std::string owned_;
};

}  // namespace engine
