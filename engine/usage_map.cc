#include "engine/usage_map.h"

#include <algorithm>
#include <string>

#include "engine/byte_reader.h"
#include "engine/data_page.h"
#include "engine/error.h"

namespace engine {
namespace {

constexpr std::size_t kMapPageData = 4;  // bitmap start on a usage-map page
constexpr std::uint32_t kPagesPerMapPage = (kPageSize - kMapPageData) * 8;

void addBits(std::span<const std::uint8_t> bitmap, std::uint64_t firstPage,
             std::uint32_t pageCount, std::vector<std::uint32_t>& out) {
  for (std::size_t byte = 0; byte < bitmap.size(); ++byte) {
    if (bitmap[byte] == 0) continue;
    for (unsigned bit = 0; bit < 8; ++bit) {
      if ((bitmap[byte] & (1u << bit)) == 0) continue;
      std::uint64_t page = firstPage + byte * 8 + bit;
      if (page >= pageCount)
        throw Error("usage map lists page " + std::to_string(page) + ", beyond the file's " +
                    std::to_string(pageCount) + " pages");
      out.push_back(static_cast<std::uint32_t>(page));
    }
  }
}

}  // namespace

UsageMap UsageMap::read(PageChannel& channel, UsageMapRef ref) {
  if (ref.page == 0) throw Error("usage map reference points to page 0");
  Page page = channel.readPage(ref.page);
  DataPage dp(page, ref.page);
  if (ref.row >= dp.rowCount())
    throw Error("usage map row " + std::to_string(ref.row) + " is missing on page " +
                std::to_string(ref.page));
  // Usage map rows are found by position even when flagged.
  RowPointer p = dp.row(ref.row);
  if (p.deleted) throw Error("usage map row is deleted");
  UsageMap map = decode(dp.rowBytes(ref.row), channel, channel.pageCount());
  map.where_ = ref;
  return map;
}

UsageMap UsageMap::decode(std::span<const std::uint8_t> row, PageChannel& channel,
                          std::uint32_t pageCount) {
  ByteReader r(row, "usage map");
  UsageMap map;
  std::uint8_t type = r.u8(0);
  if (type == 0) {
    map.kind_ = Kind::Inline;
    std::uint32_t start = r.u32(1);
    addBits(r.bytes(5, row.size() - std::min<std::size_t>(5, row.size())), start, pageCount,
            map.pages_);
  } else if (type == 1) {
    map.kind_ = Kind::Indirect;
    std::size_t pointers = (row.size() - 1) / 4;
    for (std::size_t i = 0; i < pointers; ++i) {
      std::uint32_t mapPage = r.u32(1 + 4 * i);
      if (mapPage == 0) continue;
      if (mapPage >= pageCount)
        throw Error("usage map points to page " + std::to_string(mapPage) + " beyond the file");
      Page p = channel.readPage(mapPage);
      if (p[0] != kPageTypeUsageMap)
        throw Error("page " + std::to_string(mapPage) + " is not a usage map page");
      map.mapPages_.push_back(mapPage);
      addBits(std::span<const std::uint8_t>(p).subspan(kMapPageData),
              std::uint64_t{kPagesPerMapPage} * i, pageCount, map.pages_);
    }
  } else {
    throw Error("unknown usage map type " + std::to_string(type));
  }
  std::sort(map.pages_.begin(), map.pages_.end());
  map.pages_.erase(std::unique(map.pages_.begin(), map.pages_.end()), map.pages_.end());
  return map;
}

bool UsageMap::contains(std::uint32_t page) const {
  return std::binary_search(pages_.begin(), pages_.end(), page);
}

}  // namespace engine
