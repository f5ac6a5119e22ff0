#include "engine/sort_order.h"

namespace engine {

std::string SortOrder::text() const {
  std::string s = std::to_string(value);
  if (version != 0) s += " version " + std::to_string(version);
  return s;
}

std::string SortOrder::name() const { return isGeneral() ? "General" : std::string(); }

SortOrder columnSortOrder(const Column& column) {
  const auto& b = column.rawDefinition;
  return SortOrder{static_cast<std::uint16_t>(b[11] | b[12] << 8), b[14]};
}

SortOrder headerSortOrder(std::uint32_t stored) {
  return SortOrder{static_cast<std::uint16_t>(stored & 0xFFFF), static_cast<std::uint8_t>(stored >> 24)};
}

}  // namespace engine
