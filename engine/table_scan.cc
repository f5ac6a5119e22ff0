#include "engine/table_scan.h"

#include "engine/usage_map.h"

namespace engine {

void scanRows(PageChannel& channel, const TableDefinition& table,
              const std::function<bool(RowId, std::span<const std::uint8_t>)>& visit) {
  UsageMap owned = UsageMap::read(channel, table.ownedPages());
  for (std::uint32_t number : owned.pages())
    if (!scanPageRows(channel, table, number, visit)) return;
}

bool scanPageRows(PageChannel& channel, const TableDefinition& table, std::uint32_t number,
                  const std::function<bool(RowId, std::span<const std::uint8_t>)>& visit) {
  const std::shared_ptr<const Page> page = channel.pageView(number);
  // Owned pages include index and long-value pages; only the table's own
  // data pages hold its rows.
  if ((*page)[0] != kPageTypeData) return true;
  DataPage dp(*page, number);
  if (dp.tableDefinitionPage() != table.page()) return true;
  for (std::uint16_t i = 0; i < dp.rowCount(); ++i) {
    RowPointer p = dp.row(i);
    if (p.deleted) continue;
    if (!p.overflow) {
      // row() has held the bounds of a live row against the page.
      if (!visit(RowId{number, i}, std::span<const std::uint8_t>(*page).subspan(p.start, p.end - p.start)))
        return false;
      continue;
    }
    const std::optional<RowBytes> data = rowBytesOf(channel, dp, i);
    if (data && !visit(RowId{number, i}, data->bytes)) return false;
  }
  return true;
}

}  // namespace engine
