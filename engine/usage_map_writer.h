// Changing a usage map (usage_map.h) within the channel's open write
// transaction: listing a page, or taking one off.
#pragma once

#include <cstdint>

#include "engine/page_channel.h"
#include "engine/usage_map.h"

namespace engine {

// Adds page to the usage map at ref. Inline maps move their start page when
// the page lies outside them and all their pages still fit, else they become
// page-indirect (type 1, as Jackcess's reference maps); page-indirect maps
// set the bit on the map page of the page's range, allocating it when the
// range has none yet. Error when the map row has no slot for the page's
// range.
void addPageToUsageMap(PageChannel& channel, UsageMapRef ref, std::uint32_t page);

// Takes page off the usage map at ref; a page the map does not list leaves
// it as it is. The map keeps its form and start page.
void removePageFromUsageMap(PageChannel& channel, UsageMapRef ref, std::uint32_t page);

}  // namespace engine
