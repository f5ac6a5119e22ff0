// The settings file beside the program and the database location it names.
#pragma once

#include <optional>
#include <string>

namespace settings {

// ayaroku(section, key, file): the value of key in section of the INI file,
// read the way the Windows private-profile reader reads it; empty text when
// the file, the section or the key is missing; at most 254 characters.
std::string ayaroku(const std::string& section, const std::string& key,
                    const std::string& file);

// The settings file: programDir joined with "PLX.dll" (on Windows the
// directory followed by "\PLX.dll").
std::string settingsPath(const std::string& programDir);

// The database location: ayaroku("ayar", "ip", settingsPath(programDir));
// empty text when the program's directory is not known, as for a missing
// settings file (never a settings file found elsewhere).
std::string databaseLocation(const std::optional<std::string>& programDir);

// The directory that holds the running executable, as the system's Env
// finds it; none when it cannot be found.
std::optional<std::string> programDirectory();

}  // namespace settings
