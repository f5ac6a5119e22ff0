// Changes to the catalog: renaming a table and creating one.
//
// Each is one write transaction over the database's channel: all of it is
// stored, or (on an Error, or a crash, through the rollback journal) none.
//
// Renaming rewrites the table's MSysObjects row with the new Name (the row
// may grow, see table_writer.h) and moves its entry in the ParentIdName
// index; the Id index and the table's own pages are not touched, so the cost
// does not depend on the table's rows. A name is taken when any object under
// the Tables container (user or system table, query) has it, letter case
// ignored. Renaming to the table's own name in another letter case stores
// the new spelling (the index key, which folds case, stays); the same
// spelling changes nothing.
//
// Creating supports the one shape the schema routines append: a single Long
// field with the auto-increment attribute. It writes (FORMAT.md 4-6) a new
// table definition page, a page with the table's two empty usage maps, the
// table's MSysObjects row (Id = the definition page, ParentId = the Tables
// container, Type 1, DateCreate = DateUpdate = now, Flags 0, Owner as the
// user objects have it), one MSysACEs row per access entry of the Tables
// container other than its creator entry (same SID and rights, not
// inheritable), as Access does, and every index entry and count of those
// two tables.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "engine/engine.h"
#include "engine/page_channel.h"

namespace engine {

// Renames the user table whose definition starts at definitionPage. Returns
// the name now stored.
std::string renameTable(PageChannel& channel, std::uint32_t definitionPage,
                        const std::string& newName);

// Stores the table; returns its definition page. `now` is the local time
// stored as its creation and update date. Error for a taken or invalid name,
// or a definition of another shape.
std::uint32_t createTable(PageChannel& channel, const NewTableDef& def, const std::tm& now);

// Days since 1899-12-30 with the time of day as fraction, as Jet stores dates.
double jetDate(const std::tm& t);

}  // namespace engine
