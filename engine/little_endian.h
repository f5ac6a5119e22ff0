// Little-endian integers in byte buffers the engine reads back or builds:
// pages, column blocks, rows, property blobs.
//
// Every access is checked against the buffer: an offset taken from a damaged
// file throws engine::Error instead of reaching past the buffer. Stores keep
// the low bytes of the value, as the file's fields are that wide.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/error.h"

namespace engine {

// The error of an access outside the buffer, built out of line so that the
// check itself stays small enough to inline at every access.
[[noreturn]] void throwOutsideBuffer(std::size_t bufferSize, std::size_t at, std::size_t width);

inline void requireBytes(std::size_t bufferSize, std::size_t at, std::size_t width) {
  if (at > bufferSize || width > bufferSize - at) [[unlikely]]
    throwOutsideBuffer(bufferSize, at, width);
}

inline std::uint16_t get16(std::span<const std::uint8_t> b, std::size_t at) {
  requireBytes(b.size(), at, 2);
  return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

inline std::uint32_t get32(std::span<const std::uint8_t> b, std::size_t at) {
  requireBytes(b.size(), at, 4);
  return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 |
         std::uint32_t{b[at + 3]} << 24;
}

inline void put16(std::span<std::uint8_t> b, std::size_t at, std::uint64_t v) {
  requireBytes(b.size(), at, 2);
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

inline void put32(std::span<std::uint8_t> b, std::size_t at, std::uint64_t v) {
  requireBytes(b.size(), at, 4);
  for (std::size_t i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline void append16(std::vector<std::uint8_t>& out, std::uint64_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

inline void append32(std::vector<std::uint8_t>& out, std::uint64_t v) {
  append16(out, v);
  append16(out, v >> 16);
}

}  // namespace engine
