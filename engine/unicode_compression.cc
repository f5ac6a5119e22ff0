#include "engine/unicode_compression.h"

#include <string>

#include "engine/error.h"
#include "engine/table_definition.h"

namespace engine {
namespace {

constexpr std::size_t kExtraFlags = 16;  // within the column block
constexpr std::uint8_t kCompressedUnicode = 0x01;
constexpr std::size_t kContinuationHeader = 8;

}  // namespace

void setUnicodeCompression(PageChannel& channel, std::uint32_t definitionPage,
                           std::string_view column, bool on) {
  WriteTransaction tx(channel);
  const TableDefinition d = TableDefinition::read(channel, definitionPage);
  const Column* c = d.findColumn(column);
  if (c == nullptr) throw Error("the table has no column '" + std::string(column) + "'");
  if (c->type != kTypeText && c->type != kTypeMemo)
    throw Error("column '" + c->name + "' is neither text nor memo");
  // Where the byte lies: the first page holds raw() up to kPageSize, each
  // further page the next kPageSize - 8 bytes after its header.
  const std::size_t at = d.layout().columns.offset + std::size_t{c->definitionIndex} * kColumnBlockSize + kExtraFlags;
  std::size_t pageIndex = 0;
  std::size_t offset = at;
  if (at >= kPageSize) {
    pageIndex = 1 + (at - kPageSize) / (kPageSize - kContinuationHeader);
    offset = kContinuationHeader + (at - kPageSize) % (kPageSize - kContinuationHeader);
  }
  if (pageIndex >= d.pages().size()) throw Error("the column block lies beyond the definition's pages");
  const std::uint32_t n = d.pages()[pageIndex];
  Page page = channel.readPage(n);
  const auto flags = static_cast<std::uint8_t>(on ? page[offset] | kCompressedUnicode
                                                 : page[offset] & ~kCompressedUnicode);
  if (flags == page[offset]) return;
  page[offset] = flags;
  channel.writePage(n, page);
  tx.commit();
}

}  // namespace engine
