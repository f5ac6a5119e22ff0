// Paths as the program holds them: UTF-8 text in the platform's own spelling
// (a backslash between names on Windows, a slash on Linux). The standard
// library's path type is reached only through toFsPath / fromFsPath, which
// keep every letter on Windows too (where its narrow strings are the ANSI
// code page).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace engine {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// A slash always; a backslash too on Windows.
bool isPathSeparator(char c);

// dir followed by the separator and name; no second separator when dir ends
// with one.
std::string joinPath(const std::string& dir, std::string_view name);

// The folder part of a path: "." for a bare name, the root with its
// separator for a file at the root ("/", "C:\").
std::string directoryOf(const std::string& path);

std::filesystem::path toFsPath(const std::string& utf8);
std::string fromFsPath(const std::filesystem::path& path);

// The form under which two spellings of one file compare equal: absolute
// and normalised, and on Windows with its letters folded as the file
// system's names ignore case. The path itself when it cannot be resolved.
std::string pathKey(const std::string& path);

}  // namespace engine
