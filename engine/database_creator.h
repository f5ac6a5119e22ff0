// Creating a new, empty Jet 4 database (Access 2000 format).
//
// The file is laid out as the real engine lays out a new database (FORMAT.md,
// section 9):
//   page 0      the header page: version, the masked region with code page,
//               sort order, creation date and the masked database password;
//   page 1      the global usage map;
//   pages 2-5   the definitions of the system tables MSysObjects, MSysACEs,
//               MSysQueries and MSysRelationships;
//   page 6      the usage maps of those tables, of their long-value columns
//               and of their indexes;
//   pages 7-13  one empty leaf page per index;
// then, written through the table writer (so that every index entry and count
// is kept as for any other row), the catalog rows of the containers, of the
// database object MSysDb (with its property blob on a long-value page) and of
// the system tables, and their access entries in MSysACEs.
//
// The file is written under a temporary name beside the target
// (creationTempPath) and only renamed into place, without replacing anything,
// once it is complete and flushed: a crash leaves either no file at the path
// or a whole database.
#pragma once

#include <string>
#include <string_view>

#include "engine/env.h"

namespace engine {

// Writes a new empty database at path with the given database password
// (empty: none). The creation date is the Env's local time. Error when a
// file exists at path already, when the password is not valid (more than 20
// characters, a NUL character), or when writing fails; nothing is left at
// path then, and the temporary file is removed.
void createDatabase(Env& env, const std::string& path, std::string_view password);

// The temporary name createDatabase writes the file under.
std::string creationTempPath(const std::string& path);

}  // namespace engine
