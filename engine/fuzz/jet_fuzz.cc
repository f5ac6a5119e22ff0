// libFuzzer target over the read side: open (header and password), catalog,
// table definitions, property blobs, and every row of every user table with
// its values formatted as the tools print them; then the integrity check,
// on one thread and with a second thread's help on every table of two data
// pages or more, which must report the same. Any engine::Error is a proper
// refusal; anything else (a crash, a sanitizer report, a hang, two reports
// that differ) is a finding.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "engine/catalog.h"
#include "engine/database_header.h"
#include "engine/error.h"
#include "engine/fuzz/memory_env.h"
#include "engine/integrity_check.h"
#include "engine/long_value.h"
#include "engine/page_channel.h"
#include "engine/property_map.h"
#include "engine/row.h"
#include "engine/table_definition.h"
#include "engine/table_scan.h"
#include "engine/value.h"

namespace {

constexpr std::size_t kMaxRows = 5000;  // per input, to keep runs short

void readEverything(std::span<const std::uint8_t> input) {
  engine::fuzz::MemoryEnv env("/fuzz/input.mdb", input);
  engine::PageChannel channel(env, "/fuzz/input.mdb", true);
  const engine::DatabaseHeader header = engine::DatabaseHeader::read(channel, input.size());
  (void)header.accepts("zorpelnik");
  const engine::Catalog catalog = engine::Catalog::read(channel);
  const engine::PageSource pages = engine::pageSourceOf(channel);
  std::size_t rows = 0;
  for (const engine::CatalogEntry* entry : catalog.userTables()) {
    try {
      if (!entry->lvProp.empty()) {
        const auto maps = engine::PropertyMaps::parse(engine::readLongValue(entry->lvProp, pages));
        (void)maps.serialize();
      }
    } catch (const engine::Error&) {
    }
    try {
      const auto table = engine::TableDefinition::read(channel, entry->tableDefinitionPage());
      std::string sink;
      engine::scanRows(channel, table, [&](engine::RowId, std::span<const std::uint8_t> bytes) {
        const auto raw = engine::decodeRow(bytes, table.columns());
        for (std::size_t i = 0; i < raw.size(); ++i) {
          try {
            sink = engine::toJson(engine::decodeValue(table.columns()[i], raw[i], pages));
          } catch (const engine::Error&) {
          }
        }
        return ++rows < kMaxRows;
      });
    } catch (const engine::Error&) {
    }
    if (rows >= kMaxRows) break;
  }
}

// The check's report with and without help; an Error as its message.
void checkBothWays(std::span<const std::uint8_t> input) {
  engine::fuzz::MemoryEnv env("/fuzz/input.mdb", input);
  const auto check = [&env](bool helped) -> std::pair<engine::IntegrityReport, std::string> {
    try {
      engine::PageChannel channel(env, "/fuzz/input.mdb", true);
      engine::CheckHelp help;
      if (helped) {
        help.opener = [&env] { return std::make_unique<engine::PageChannel>(env, "/fuzz/input.mdb", true); };
        help.fromTablePages = 2;
      }
      return {engine::checkIntegrity(channel, help), {}};
    } catch (const engine::Error& e) {
      return {{}, e.what()};
    }
  };
  if (check(false) != check(true)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    readEverything(std::span<const std::uint8_t>(data, size));
  } catch (const engine::Error&) {
  }
  checkBothWays(std::span<const std::uint8_t>(data, size));
  return 0;
}
