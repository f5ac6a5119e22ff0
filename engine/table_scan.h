// Visiting the rows of a table: its owned-pages usage map gives the pages,
// each data page that belongs to the table gives its live rows (overflow
// pointers followed, deleted rows and overflow targets skipped).
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "engine/data_page.h"
#include "engine/table_definition.h"

namespace engine {

// Calls visit(id, rowBytes) for each live row, in page and row order. The
// bytes are valid only during the call. visit returns false to stop.
void scanRows(PageChannel& channel, const TableDefinition& table,
              const std::function<bool(RowId, std::span<const std::uint8_t>)>& visit);

// The same for the rows of one page of the table's owned pages (none when
// it is not a data page of the table); returns false when visit stopped.
bool scanPageRows(PageChannel& channel, const TableDefinition& table, std::uint32_t number,
                  const std::function<bool(RowId, std::span<const std::uint8_t>)>& visit);

}  // namespace engine
