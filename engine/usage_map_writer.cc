#include "engine/usage_map_writer.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "engine/byte_reader.h"
#include "engine/data_page.h"
#include "engine/error.h"

namespace engine {
namespace {

constexpr std::size_t kMapPageData = 4;
constexpr std::uint32_t kPagesPerMapPage = (kPageSize - kMapPageData) * 8;

std::string pageText(std::uint32_t page) { return "page " + std::to_string(page); }

// Where the map row lies on its page, whatever its flags.
std::pair<std::size_t, std::size_t> mapRowBounds(const Page& page, UsageMapRef ref) {
  DataPage dp(page, ref.page);
  if (ref.row >= dp.rowCount())
    throw Error("usage map row " + std::to_string(ref.row) + " is missing on " + pageText(ref.page));
  RowPointer r = dp.row(ref.row);
  return {r.start, r.end};
}

}  // namespace

namespace {

// Sets page's bit on the map page that slot `slot` of a page-indirect map
// row points to, allocating that map page when the slot is empty.
void setIndirectBit(PageChannel& channel, std::vector<std::uint8_t>& row, std::uint32_t page) {
  std::size_t slot = page / kPagesPerMapPage;
  std::size_t at = 1 + 4 * slot;
  if (at + 4 > row.size())
    throw Error("a usage map of " + std::to_string(row.size()) + " bytes cannot list page " +
                std::to_string(page));
  std::uint32_t mapPage = ByteReader(row, "usage map").u32(at);
  Page m{};
  if (mapPage == 0) {
    mapPage = channel.allocatePage();
    m[0] = kPageTypeUsageMap;
    m[1] = 0x01;
    for (std::size_t i = 0; i < 4; ++i) row[at + i] = static_cast<std::uint8_t>(mapPage >> (8 * i));
  } else {
    if (mapPage >= channel.pageCount()) throw Error("usage map page beyond the file");
    m = channel.readPage(mapPage);
    if (m[0] != kPageTypeUsageMap) throw Error(pageText(mapPage) + " is not a usage map page");
  }
  std::size_t bit = page % kPagesPerMapPage;
  m[kMapPageData + bit / 8] = static_cast<std::uint8_t>(m[kMapPageData + bit / 8] | 1u << (bit % 8));
  channel.writePage(mapPage, m);
}

}  // namespace

void addPageToUsageMap(PageChannel& channel, UsageMapRef ref, std::uint32_t page) {
  Page p = channel.readPage(ref.page);
  auto [start, end] = mapRowBounds(p, ref);
  std::vector<std::uint8_t> row(p.begin() + static_cast<std::ptrdiff_t>(start),
                                p.begin() + static_cast<std::ptrdiff_t>(end));
  ByteReader r(row, "usage map");
  std::uint8_t type = r.u8(0);
  if (type == 0) {
    std::uint32_t first = r.u32(1);
    std::size_t bits = (row.size() - 5) * 8;
    if (bits == 0) throw Error("usage map without a bitmap");
    if (page >= first && page - first < bits) {
      std::size_t i = page - first;
      row[5 + i / 8] = static_cast<std::uint8_t>(row[5 + i / 8] | 1u << (i % 8));
    } else {
      std::vector<std::uint32_t> pages{page};
      for (std::size_t i = 0; i < bits; ++i)
        if (row[5 + i / 8] >> (i % 8) & 1) pages.push_back(first + static_cast<std::uint32_t>(i));
      auto [lo, hi] = std::minmax_element(pages.begin(), pages.end());
      std::fill(row.begin() + 1, row.end(), std::uint8_t{0});
      if (*hi - *lo < bits) {
        // The window moves to start at the lowest page listed.
        first = *lo;
        for (std::uint32_t q : pages) {
          std::size_t i = q - first;
          row[5 + i / 8] = static_cast<std::uint8_t>(row[5 + i / 8] | 1u << (i % 8));
        }
        for (std::size_t i = 0; i < 4; ++i) row[1 + i] = static_cast<std::uint8_t>(first >> (8 * i));
      } else {
        // Too far apart for the inline form: the map becomes page-indirect.
        row[0] = 1;
        for (std::uint32_t q : pages) setIndirectBit(channel, row, q);
        p = channel.readPage(ref.page);  // allocating may have changed the global map only
      }
    }
  } else if (type == 1) {
    setIndirectBit(channel, row, page);
    p = channel.readPage(ref.page);
  } else {
    throw Error("unknown usage map type " + std::to_string(type));
  }
  std::copy(row.begin(), row.end(), p.begin() + static_cast<std::ptrdiff_t>(start));
  channel.writePage(ref.page, p);
}

void removePageFromUsageMap(PageChannel& channel, UsageMapRef ref, std::uint32_t page) {
  Page p = channel.readPage(ref.page);
  auto [start, end] = mapRowBounds(p, ref);
  ByteReader r(std::span<const std::uint8_t>(p).subspan(start, end - start), "usage map");
  std::uint8_t type = r.u8(0);
  if (type == 0) {
    std::uint32_t first = r.u32(1);
    std::size_t bits = (r.size() - 5) * 8;
    if (page < first || page - first >= bits) return;
    std::size_t i = page - first;
    std::size_t at = start + 5 + i / 8;
    p[at] = static_cast<std::uint8_t>(p[at] & ~(1u << (i % 8)));
    channel.writePage(ref.page, p);
  } else if (type == 1) {
    std::size_t at = 1 + 4 * std::size_t{page / kPagesPerMapPage};
    if (!r.contains(at, 4)) return;
    std::uint32_t mapPage = r.u32(at);
    if (mapPage == 0) return;
    if (mapPage >= channel.pageCount()) throw Error("usage map page beyond the file");
    Page m = channel.readPage(mapPage);
    if (m[0] != kPageTypeUsageMap) throw Error(pageText(mapPage) + " is not a usage map page");
    std::size_t bit = page % kPagesPerMapPage;
    m[kMapPageData + bit / 8] = static_cast<std::uint8_t>(m[kMapPageData + bit / 8] & ~(1u << (bit % 8)));
    channel.writePage(mapPage, m);
  } else {
    throw Error("unknown usage map type " + std::to_string(type));
  }
}

}  // namespace engine
