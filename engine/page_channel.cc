#include "engine/page_channel.h"

#include <span>

#include "engine/error.h"

namespace engine {

PageChannel::PageChannel(Env& env, std::string path, bool readOnly)
    : env_(env),
      path_(std::move(path)),
      readOnly_(readOnly),
      file_(env_.open(path_, readOnly ? OpenMode::ReadOnly : OpenMode::ReadWrite)) {}

PageChannel::~PageChannel() = default;

std::uint32_t PageChannel::pageCount() {
  std::uint64_t pages = file_->size() / kPageSize;
  if (pages > UINT32_MAX) throw Error("database file is too large");
  return static_cast<std::uint32_t>(pages);
}

Page PageChannel::readPage(std::uint32_t n) {
  if (n >= pageCount())
    throw Error("page " + std::to_string(n) + " lies beyond the end of the file");
  Page page{};
  file_->read(std::uint64_t{n} * kPageSize, std::span<std::uint8_t>(page));
  return page;
}

}  // namespace engine
