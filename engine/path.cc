#include "engine/path.h"

#include <system_error>

#ifdef _WIN32
#include <windows.h>
#endif

namespace engine {

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
  std::size_t last = std::string::npos;
  for (std::size_t i = 0; i < path.size(); ++i)
    if (isPathSeparator(path[i])) last = i;
  if (last == std::string::npos) return ".";
  const bool root = last == 0 || (last == 2 && path[1] == ':');
  return path.substr(0, root ? last + 1 : last);
}

std::filesystem::path toFsPath(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string fromFsPath(const std::filesystem::path& path) {
  const std::u8string s = path.u8string();
  return std::string(s.begin(), s.end());
}

std::string pathKey(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(toFsPath(path), ec);
  if (ec) return path;
  const std::filesystem::path canonical = std::filesystem::weakly_canonical(absolute, ec);
  if (ec) return path;
#ifdef _WIN32
  std::wstring wide = canonical.wstring();
  if (!wide.empty()) {
    const int n = ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.c_str(),
                                  static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr, 0);
    if (n > 0) {
      std::wstring upper(static_cast<std::size_t>(n), L'\0');
      ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.c_str(),
                      static_cast<int>(wide.size()), upper.data(), n, nullptr, nullptr, 0);
      return fromFsPath(std::filesystem::path(upper));
    }
  }
#endif
  return fromFsPath(canonical);
}

}  // namespace engine
