#include "engine/program_arguments.h"

#ifdef _WIN32
#include <windows.h>

#include <shellapi.h>

#include <cwchar>
#endif

namespace engine {

#ifdef _WIN32
namespace {

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD rather than an error.
std::string utf8Of(const wchar_t* wide) {
  const int length = static_cast<int>(std::wcslen(wide));
  if (length == 0) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) ::WideCharToMultiByte(CP_UTF8, 0, wide, length, out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace
#endif

std::vector<std::string> programArguments(int argc, char** argv) {
#ifdef _WIN32
  int count = 0;
  if (wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count)) {
    std::vector<std::string> out;
    out.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) out.push_back(utf8Of(wide[i]));
    ::LocalFree(wide);
    return out;
  }
#endif
  return std::vector<std::string>(argv, argv + argc);
}

}  // namespace engine
