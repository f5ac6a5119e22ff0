#include "settings/settings.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <string_view>

#include "engine/env.h"
#include "engine/path.h"
#include "settings/text_1254.h"

namespace settings {
namespace {

// What the private-profile reader returns at most (its buffer of 255 less
// the closing NUL).
constexpr std::size_t kMaxValue = 254;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\x1a'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  return true;
}

std::optional<std::string> readWholeFile(const std::string& path) {
  std::ifstream in(engine::toFsPath(path), std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

// The raw bytes of the value of key in section: the first section of that
// name, the first key of that name in it. Empty when either is missing.
std::string findRawValue(std::string_view text, std::string_view section, std::string_view key) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  const std::string_view wantedSection = trim(section);
  const std::string_view wantedKey = trim(key);
  bool inSection = false;
  bool sectionSeen = false;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);

    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      std::size_t close = line.rfind(']');
      if (close == std::string_view::npos) continue;
      if (sectionSeen) return {};  // only the first section of the name counts
      inSection = sameName(trim(line.substr(1, close - 1)), wantedSection);
      sectionSeen = inSection;
      continue;
    }
    if (!inSection) continue;
    std::size_t eq = line.find('=');
    std::string_view name = trim(line.substr(0, eq));
    if (!sameName(name, wantedKey)) continue;
    if (eq == std::string_view::npos) return {};
    std::string_view value = trim(line.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
  }
  return {};
}

// The first `count` characters of valid UTF-8 text.
std::string firstCharacters(const std::string& utf8, std::size_t count) {
  std::size_t i = 0;
  for (std::size_t chars = 0; i < utf8.size() && chars < count; ++chars) {
    ++i;
    while (i < utf8.size() && (static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80) ++i;
  }
  return utf8.substr(0, i);
}

}  // namespace

std::string ayaroku(const std::string& section, const std::string& key, const std::string& file) {
  std::optional<std::string> text = readWholeFile(file);
  if (!text) return {};
  std::string raw = findRawValue(*text, section, key);
  if (isValidUtf8(raw)) return firstCharacters(raw, kMaxValue);
  if (raw.size() > kMaxValue) raw.resize(kMaxValue);
  return windows1254ToUtf8(raw);
}

std::string settingsPath(const std::string& programDir) {
  return engine::joinPath(programDir, "PLX.dll");
}

std::string databaseLocation(const std::optional<std::string>& programDir) {
  if (!programDir || programDir->empty()) return {};
  return ayaroku("ayar", "ip", settingsPath(*programDir));
}

std::optional<std::string> programDirectory() { return engine::Env::system().programDirectory(); }

}  // namespace settings
