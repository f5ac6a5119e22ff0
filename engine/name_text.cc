#include "engine/name_text.h"

#include <vector>

#include "engine/error.h"

namespace engine {
namespace {

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

std::string fromUnits(const std::vector<char16_t>& units) {
  std::string out;
  out.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t c = units[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF)
        throw Error("name holds an unpaired UTF-16 surrogate");
      c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      throw Error("name holds an unpaired UTF-16 surrogate");
    }
    appendUtf8(out, c);
  }
  return out;
}

std::vector<char32_t> codePoints(std::string_view s) {
  std::vector<char32_t> out;
  for (std::size_t i = 0; i < s.size();) {
    auto b = static_cast<unsigned char>(s[i]);
    int extra = b < 0x80 ? 0 : (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : -1;
    if (extra < 0 || i + static_cast<std::size_t>(extra) >= s.size() + (extra == 0 ? 1 : 0))
      throw Error("text is not valid UTF-8");
    char32_t c = extra == 0 ? b : (b & (0x3F >> extra));
    for (int k = 1; k <= extra; ++k) {
      auto cont = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
      if ((cont & 0xC0) != 0x80) throw Error("text is not valid UTF-8");
      c = (c << 6) | (cont & 0x3F);
    }
    out.push_back(c);
    i += static_cast<std::size_t>(extra) + 1;
  }
  return out;
}

// Simple case folding for the letters names use: ASCII, Latin-1, Latin
// Extended-A (Turkish letters included) and Greek/Cyrillic basics. The
// dotted and dotless i of Turkish fold to plain i, as the engine's general
// sort order treats them alike.
char32_t fold(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c == 0x130 || c == 0x131) return 'i';
  if (c == 0x178) return 0xFF;
  if ((c >= 0xC0 && c <= 0xDE) && c != 0xD7) return c + 32;
  if (c >= 0x100 && c <= 0x17F && c != 0x138 && c != 0x149 && c != 0x17F) {
    bool evenUpper = (c < 0x139) || (c > 0x148 && c < 0x179);
    if (evenUpper) return (c % 2 == 0) ? c + 1 : c;
    return (c % 2 == 1) ? c + 1 : c;
  }
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  return c;
}

}  // namespace

std::string nameFromUtf16(std::span<const std::uint8_t> bytes) {
  if (bytes.size() % 2 != 0) throw Error("UTF-16 name has an odd number of bytes");
  std::vector<char16_t> units;
  units.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i < bytes.size(); i += 2)
    units.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
  return fromUnits(units);
}

std::string nameFromTextValue(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE) return nameFromUtf16(bytes);
  // Compressed form: one byte per character, a zero byte switches between
  // one-byte and two-byte characters.
  std::vector<char16_t> units;
  bool compressed = true;
  std::size_t i = 2;
  while (i < bytes.size()) {
    if (bytes[i] == 0) {
      compressed = !compressed;
      ++i;
    } else if (compressed) {
      units.push_back(bytes[i]);
      ++i;
    } else {
      if (i + 1 >= bytes.size()) throw Error("compressed text ends inside a character");
      units.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
      i += 2;
    }
  }
  return fromUnits(units);
}

std::string utf16FromUtf8(std::string_view text) {
  std::string out;
  for (char32_t c : codePoints(text)) {
    auto put = [&out](char32_t u) {
      out.push_back(static_cast<char>(u & 0xFF));
      out.push_back(static_cast<char>((u >> 8) & 0xFF));
    };
    if (c >= 0x10000) {
      put(0xD800 + ((c - 0x10000) >> 10));
      put(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      put(c);
    }
  }
  return out;
}

bool sameName(std::string_view a, std::string_view b) {
  if (a == b) return true;
  std::vector<char32_t> ca, cb;
  try {
    ca = codePoints(a);
    cb = codePoints(b);
  } catch (const Error&) {
    return false;
  }
  if (ca.size() != cb.size()) return false;
  for (std::size_t i = 0; i < ca.size(); ++i)
    if (fold(ca[i]) != fold(cb[i])) return false;
  return true;
}

}  // namespace engine
