#include "engine/path.h"

#include <system_error>

#ifdef _WIN32
#include <windows.h>

#include <cwctype>
#include <vector>

#include "engine/error.h"
#endif

namespace engine {
namespace {

#ifdef _WIN32
bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// "server\share\" (or "server\share", "server\") at the start of p: its length.
std::size_t serverShareLength(std::string_view p) {
  std::size_t i = 0;
  for (int part = 0; part < 2 && i < p.size(); ++part) {
    while (i < p.size() && !isPathSeparator(p[i])) ++i;
    if (i < p.size()) ++i;  // the separator after the server or the share
  }
  return i;
}

// Whether p begins with "\\?\", "\\.\" (separators of either kind) or "\??\".
bool hasDevicePrefix(std::string_view p) {
  if (p.size() < 4 || !isPathSeparator(p[0]) || !isPathSeparator(p[3])) return false;
  return (isPathSeparator(p[1]) && (p[2] == '?' || p[2] == '.')) || (p[1] == '?' && p[2] == '?');
}

bool hasUncAfterPrefix(std::string_view p) {
  return p.size() >= 8 && (p[4] == 'U' || p[4] == 'u') && (p[5] == 'N' || p[5] == 'n') &&
         (p[6] == 'C' || p[6] == 'c') && isPathSeparator(p[7]);
}
#endif

// The length of the root at the start of path, its separator included: "/"
// on Linux; "C:\", "C:", "\", "\\server\share\", "\\?\C:\" or
// "\\?\UNC\server\share\" on Windows; 0 for a relative path.
std::size_t rootLength(std::string_view p) {
#ifdef _WIN32
  if (hasDevicePrefix(p)) {
    if (hasUncAfterPrefix(p)) return 8 + serverShareLength(p.substr(8));
    // A drive ("\\?\C:\") or another device ("\\.\PIPE\"): up to the next separator.
    std::size_t i = 4;
    while (i < p.size() && !isPathSeparator(p[i])) ++i;
    return i < p.size() ? i + 1 : i;
  }
  if (p.size() >= 2 && isPathSeparator(p[0]) && isPathSeparator(p[1]))
    return 2 + serverShareLength(p.substr(2));
  if (p.size() >= 2 && isLetter(p[0]) && p[1] == ':')
    return p.size() >= 3 && isPathSeparator(p[2]) ? 3 : 2;
#endif
  return !p.empty() && isPathSeparator(p[0]) ? 1 : 0;
}

}  // namespace

bool isPathSeparator(char c) {
#ifdef _WIN32
  if (c == '\\') return true;
#endif
  return c == '/';
}

std::string joinPath(const std::string& dir, std::string_view name) {
  std::string out = dir;
  if (out.empty() || !isPathSeparator(out.back())) out += kPathSeparator;
  out += name;
  return out;
}

std::string directoryOf(const std::string& path) {
  const std::size_t root = rootLength(path);
  std::size_t last = std::string::npos;
  for (std::size_t i = root; i < path.size(); ++i)
    if (isPathSeparator(path[i])) last = i;
  if (last != std::string::npos) return path.substr(0, last);
  return root > 0 ? path.substr(0, root) : ".";
}

std::filesystem::path toFsPath(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string fromFsPath(const std::filesystem::path& path) {
  const std::u8string s = path.u8string();
  return std::string(s.begin(), s.end());
}

#ifdef _WIN32

std::wstring widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                      static_cast<int>(utf8.size()), nullptr, 0);
  if (n <= 0) throw Error("the path '" + utf8 + "' is not valid UTF-8 text");
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                        out.data(), n);
  return out;
}

std::string narrow(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                      nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                        nullptr, nullptr);
  return out;
}

namespace {

// GetFullPathNameW of a name; empty when the system cannot resolve it.
std::wstring fullPath(const std::wstring& name) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetFullPathNameW(name.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (n == 0) return {};
    if (n < buffer.size()) return std::wstring(buffer.data(), n);
    buffer.resize(n);  // n counts the closing NUL when the buffer is too small
  }
}

bool hasDevicePrefix(std::wstring_view w) {
  auto sep = [](wchar_t c) { return c == L'\\' || c == L'/'; };
  if (w.size() < 4 || !sep(w[0]) || !sep(w[3])) return false;
  return (sep(w[1]) && (w[2] == L'?' || w[2] == L'.')) || (w[1] == L'?' && w[2] == L'?');
}

}  // namespace

std::wstring systemPath(const std::string& path) {
  std::wstring wide = widen(path);
  if (wide.empty() || hasDevicePrefix(wide)) return wide;
  std::wstring full = fullPath(wide);
  if (full.empty()) return wide;  // the system's own call reports what is wrong with it
  if (full.size() < kExtendedLengthFrom || hasDevicePrefix(full)) return full;
  if (full.size() >= 2 && full[0] == L'\\' && full[1] == L'\\') return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

std::string pathKey(const std::string& path) {
  std::wstring wide;
  try {
    wide = widen(path);
  } catch (const Error&) {
    return path;
  }
  // The plain form of an extended-length name, so that both spellings meet.
  if (hasDevicePrefix(wide) && wide[2] == L'?') {
    const bool unc = wide.size() >= 8 && std::towupper(wide[4]) == L'U' && std::towupper(wide[5]) == L'N' &&
                     std::towupper(wide[6]) == L'C' && (wide[7] == L'\\' || wide[7] == L'/');
    wide = unc ? L"\\\\" + wide.substr(8) : wide.substr(4);
  }
  const std::wstring full = fullPath(wide);
  if (full.empty()) return path;
  const int n = ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, full.c_str(),
                                static_cast<int>(full.size()), nullptr, 0, nullptr, nullptr, 0);
  if (n <= 0) return narrow(full);
  std::wstring upper(static_cast<std::size_t>(n), L'\0');
  ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, full.c_str(), static_cast<int>(full.size()),
                  upper.data(), n, nullptr, nullptr, 0);
  return narrow(upper);
}

#else

std::string pathKey(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(toFsPath(path), ec);
  if (ec) return path;
  const std::filesystem::path canonical = std::filesystem::weakly_canonical(absolute, ec);
  if (ec) return path;
  return fromFsPath(canonical);
}

#endif

}  // namespace engine
