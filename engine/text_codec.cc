#include "engine/text_codec.h"

#include "engine/error.h"

namespace engine {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Appends UTF-16 code units to out as UTF-8, pairing surrogates. A high
// surrogate left pending at the end of one call is carried in `pending`.
class Utf16Sink {
 public:
  explicit Utf16Sink(std::string& out) : out_(out) {}
  void unit(char16_t u) {
    if (pending_ != 0) {
      if (u >= 0xDC00 && u <= 0xDFFF) {
        appendUtf8(out_, 0x10000 + ((char32_t{pending_} - 0xD800) << 10) + (char32_t{u} - 0xDC00));
        pending_ = 0;
        return;
      }
      appendUtf8(out_, kReplacement);
      pending_ = 0;
    }
    if (u >= 0xD800 && u <= 0xDBFF) {
      pending_ = u;
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      appendUtf8(out_, kReplacement);
    } else {
      appendUtf8(out_, u);
    }
  }
  void finish() {
    if (pending_ != 0) appendUtf8(out_, kReplacement);
    pending_ = 0;
  }

 private:
  std::string& out_;
  char16_t pending_ = 0;
};

// Decodes one code point at pos; returns false on invalid UTF-8.
bool nextCodePoint(std::string_view s, std::size_t& pos, char32_t& cp) {
  const auto b0 = static_cast<unsigned char>(s[pos]);
  if (b0 < 0x80) {
    cp = b0;
    ++pos;
    return true;
  }
  std::size_t n = 0;
  char32_t min = 0;
  if ((b0 & 0xE0) == 0xC0) {
    n = 1, cp = b0 & 0x1Fu, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    n = 2, cp = b0 & 0x0Fu, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    n = 3, cp = b0 & 0x07u, min = 0x10000;
  } else {
    return false;
  }
  if (s.size() - pos <= n) return false;
  for (std::size_t i = 1; i <= n; ++i) {
    const auto b = static_cast<unsigned char>(s[pos + i]);
    if ((b & 0xC0) != 0x80) return false;
    cp = (cp << 6) | (b & 0x3Fu);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
  pos += n + 1;
  return true;
}

char32_t fold(char32_t cp) {
  if (cp >= 'A' && cp <= 'Z') cp += 0x20;
  if (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) return cp + 0x20;
  switch (cp) {
    case 0x011E: return 0x011F;
    case 0x015E: return 0x015F;
    case 'i':
    case 0x0130:
    case 0x0131: return 'i';
    default: return cp;
  }
}

// Next folded unit of a name: a code point, or a lone invalid byte offset by
// 0x110000 so that it can equal only the same invalid byte.
char32_t nextFolded(std::string_view s, std::size_t& pos) {
  char32_t cp = 0;
  if (nextCodePoint(s, pos, cp)) return fold(cp);
  return 0x110000 + static_cast<unsigned char>(s[pos++]);
}

}  // namespace

std::string utf16leToUtf8(std::span<const std::uint8_t> bytes) {
  std::string out;
  out.reserve(bytes.size());
  Utf16Sink sink(out);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    sink.unit(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
  sink.finish();
  return out;
}

std::vector<std::uint8_t> utf8ToUtf16le(std::string_view utf8) {
  std::vector<std::uint8_t> out;
  out.reserve(utf8.size() * 2);
  auto put = [&out](char32_t u) {
    out.push_back(static_cast<std::uint8_t>(u & 0xFF));
    out.push_back(static_cast<std::uint8_t>((u >> 8) & 0xFF));
  };
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    char32_t cp = 0;
    if (!nextCodePoint(utf8, pos, cp))
      throw Error("text is not valid UTF-8 (byte " + std::to_string(pos) + ")");
    if (cp >= 0x10000) {
      cp -= 0x10000;
      put(0xD800 + (cp >> 10));
      put(0xDC00 + (cp & 0x3FF));
    } else {
      put(cp);
    }
  }
  return out;
}

std::string decodeTextValue(std::span<const std::uint8_t> stored) {
  if (stored.size() < 2 || stored[0] != 0xFF || stored[1] != 0xFE) return utf16leToUtf8(stored);
  std::string out;
  out.reserve(stored.size());
  Utf16Sink sink(out);
  bool oneByte = true;
  std::size_t i = 2;
  while (i < stored.size()) {
    if (stored[i] == 0) {
      oneByte = !oneByte;
      ++i;
    } else if (oneByte) {
      sink.unit(stored[i]);
      ++i;
    } else {
      if (i + 1 >= stored.size()) break;  // a dangling half code unit
      sink.unit(static_cast<char16_t>(stored[i] | (stored[i + 1] << 8)));
      i += 2;
    }
  }
  sink.finish();
  return out;
}

std::vector<std::uint8_t> encodeTextValue(std::string_view utf8, bool compress) {
  std::vector<std::uint8_t> plain = utf8ToUtf16le(utf8);
  const std::size_t units = plain.size() / 2;
  if (!compress || units <= 2 || units > kMaxCompressedChars) return plain;
  for (std::size_t i = 0; i < plain.size(); i += 2)
    if (plain[i + 1] != 0 || plain[i] == 0) return plain;
  std::vector<std::uint8_t> packed;
  packed.reserve(units + 2);
  packed.push_back(0xFF);
  packed.push_back(0xFE);
  for (std::size_t i = 0; i < plain.size(); i += 2) packed.push_back(plain[i]);
  return packed;
}

std::u32string foldedName(std::string_view name) {
  std::u32string out;
  for (std::size_t i = 0; i < name.size();) out.push_back(nextFolded(name, i));
  return out;
}

bool caseInsensitiveEqual(std::string_view a, std::string_view b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    // Two ASCII characters fold as fold() folds them, without decoding.
    const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[j]);
    if (x < 0x80 && y < 0x80) {
      if ((x >= 'A' && x <= 'Z' ? x + 0x20 : x) != (y >= 'A' && y <= 'Z' ? y + 0x20 : y)) return false;
      ++i;
      ++j;
      continue;
    }
    if (nextFolded(a, i) != nextFolded(b, j)) return false;
  }
  return i == a.size() && j == b.size();
}

}  // namespace engine
