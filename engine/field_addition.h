// Adding a field to a stored table: what TableDef::appendField does on a Jet
// 4 file.
//
// In one write transaction: the column is appended to the table definition
// (which may grow onto a further page), a memo column gets its two long-value
// usage maps, and the field's Required and AllowZeroLength go into the
// table's property blob (the LvProp long value of its MSysObjects row), which
// is written anew and the catalog row updated to point at it, its DateUpdate
// set to the Env's local time. Existing rows
// are not touched: their column count is below the new column's number, so
// they read it as null. A refused addition changes nothing.
//
// Refused: a name the field-name rule refuses or one the table has already
// (letter case ignored), a text size other than a whole number 1..255 in
// decimal digits, attributes other than 0 and auto-increment, auto-increment
// on anything but a Long, on a table that has rows (they would have no
// number) or that has an auto-increment column already, AllowZeroLength on a
// field that is neither text nor memo, a database opened read-only, a table
// that is no longer there.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "engine/engine.h"
#include "engine/jet_database.h"

namespace engine {

// The length in characters a text field's size text gives: "1" to "255",
// decimal digits only. Error for anything else.
std::uint16_t textFieldSize(std::string_view size);

// Adds the field to the user table whose definition starts at definitionPage.
void addField(JetDatabase& database, std::uint32_t definitionPage, const NewField& field);

}  // namespace engine
