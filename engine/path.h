// Paths as the program holds them: UTF-8 text in the platform's own spelling
// (a backslash between names on Windows, a slash on Linux). The standard
// library's path type is reached only through toFsPath / fromFsPath, which
// keep every letter on Windows too (where its narrow strings are the ANSI
// code page).
//
// On Windows a path may also be a folder on another machine
// (\\server\share\...) or in extended-length form (\\?\C:\...,
// \\?\UNC\server\share\...); the functions here know where the root of each
// ends. The Windows Env hands every name to the system through systemPath,
// so that names longer than the plain calls' MAX_PATH (a database location
// of 254 characters followed by "-journal", a backup in a deep program
// folder) work as short ones do.
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
// separator for a file at the root ("/", "C:\", "\\server\share\",
// "\\?\C:\", "\\?\UNC\server\share\").
std::string directoryOf(const std::string& path);

std::filesystem::path toFsPath(const std::string& utf8);
std::string fromFsPath(const std::filesystem::path& path);

// The form under which two spellings of one file compare equal: absolute
// and normalised, and on Windows with its letters folded as the file
// system's names ignore case, and in plain form (no \\?\ before it). The
// path itself when it cannot be resolved. On Windows a mapped drive letter
// and the folder it maps to are two spellings this does not join.
std::string pathKey(const std::string& path);

#ifdef _WIN32
// UTF-16 for the system's wide calls; an engine::Error for text that is not
// UTF-8, so that no other name reaches the system.
std::wstring widen(const std::string& utf8);
std::string narrow(std::wstring_view wide);

// Names at least this long (absolute) go to the system in extended-length
// form: MAX_PATH less the 12 characters a folder's name must leave free.
inline constexpr std::size_t kExtendedLengthFrom = 248;

// The name handed to the system's wide calls for path: made absolute and
// normalised as the system itself would (GetFullPathNameW: '/' becomes '\',
// "." and ".." go, as do dots and spaces at the end of a name), then, when
// at least kExtendedLengthFrom long, in extended-length form: "\\?\C:\..."
// or "\\?\UNC\server\share\...", which the system takes without MAX_PATH's
// limit and without changing it further. A name already in extended-length
// or device form (\\?\, \\.\, \??\) is passed as it is.
std::wstring systemPath(const std::string& path);
#endif

}  // namespace engine
