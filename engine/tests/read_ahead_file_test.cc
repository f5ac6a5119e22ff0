#include "engine/read_ahead_file.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/env.h"
#include "engine/error.h"
#include "engine/page_channel.h"
#include "engine/tests/write_test_util.h"

namespace engine {
namespace {

using testutil::TempDir;

// Counts what reaches the file underneath.
class CountingFile final : public FileWrapper {
 public:
  CountingFile(std::unique_ptr<File> file, std::uint64_t& calls, std::uint64_t& bytes)
      : FileWrapper(std::move(file)), calls_(calls), bytes_(bytes) {}
  void read(std::uint64_t offset, std::span<std::uint8_t> out) override {
    ++calls_;
    bytes_ += out.size();
    FileWrapper::read(offset, out);
  }

 private:
  std::uint64_t& calls_;
  std::uint64_t& bytes_;
};

constexpr std::uint32_t kPages = 700;

std::uint8_t byteAt(std::uint64_t offset) { return static_cast<std::uint8_t>(offset * 7 + offset / kPageSize); }

// Reads pages in an order and holds every byte against the file's; returns
// the calls and bytes that reached the file.
std::pair<std::uint64_t, std::uint64_t> readPages(const std::string& path, const std::vector<std::uint32_t>& order) {
  std::uint64_t calls = 0, bytes = 0;
  ReadAheadFile file(std::make_unique<CountingFile>(Env::system().open(path, OpenMode::ReadOnly), calls, bytes));
  Page page{};
  for (std::uint32_t n : order) {
    file.read(std::uint64_t{n} * kPageSize, page);
    for (std::size_t i = 0; i < kPageSize; i += 509)
      if (page[i] != byteAt(std::uint64_t{n} * kPageSize + i)) {
        ADD_FAILURE() << "page " << n << " byte " << i;
        return {calls, bytes};
      }
  }
  return {calls, bytes};
}

TEST(ReadAheadFile, ReadsEachStreamInWindowsAndScatteredPagesAsAsked) {
  TempDir dir;
  const std::string path = dir.path("pages.bin");
  {
    std::vector<std::uint8_t> content(std::size_t{kPages} * kPageSize);
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = byteAt(i);
    Env::system().open(path, OpenMode::CreateNew)->write(0, content);
  }
  const std::uint64_t fileBytes = std::uint64_t{kPages} * kPageSize;

  // One pass from the first page to the last: a call per full window after
  // a few that ramp up, nothing read twice.
  std::vector<std::uint32_t> order;
  for (std::uint32_t n = 0; n < kPages; ++n) order.push_back(n);
  auto [calls, bytes] = readPages(path, order);
  EXPECT_LE(calls, 5 + fileBytes / ReadAheadFile::kMaxWindow);
  EXPECT_EQ(bytes, fileBytes);

  // Two ascending streams side by side (rows and the long values they
  // point to), each skipping pages: each keeps its own window, and what is
  // read ahead past a stream's end stays a fraction of the file.
  order.clear();
  for (std::uint32_t n = 0; n < 300; n += 2) order.insert(order.end(), {n, 350 + n});
  std::tie(calls, bytes) = readPages(path, order);
  EXPECT_LE(calls, 30u);
  EXPECT_LE(bytes, fileBytes + fileBytes / 4);

  // Pages far apart, going back: each read as asked, none read ahead.
  order.clear();
  for (std::uint32_t n = kPages - 1; n >= 40; n -= 37) order.push_back(n);
  std::tie(calls, bytes) = readPages(path, order);
  EXPECT_EQ(calls, order.size());
  EXPECT_EQ(bytes, order.size() * kPageSize);

  // Every page's head in order (a pass over the page types): read as asked,
  // and no window started for them; a head inside a window comes from it.
  {
    std::uint64_t c = 0, b = 0;
    ReadAheadFile file(std::make_unique<CountingFile>(Env::system().open(path, OpenMode::ReadOnly), c, b));
    std::array<std::uint8_t, 8> head{};
    for (std::uint32_t n = 0; n < 100; ++n) {
      file.read(std::uint64_t{n} * kPageSize, head);
      ASSERT_EQ(head[3], byteAt(std::uint64_t{n} * kPageSize + 3));
    }
    EXPECT_EQ(c, 100u);
    EXPECT_EQ(b, 800u);
    Page page{};
    for (std::uint32_t n = 200; n < 210; ++n) file.read(std::uint64_t{n} * kPageSize, page);
    const std::uint64_t before = c;
    file.read(std::uint64_t{212} * kPageSize, head);  // read ahead with page 209
    EXPECT_EQ(c, before);
    EXPECT_EQ(head[0], byteAt(std::uint64_t{212} * kPageSize));
  }
  // The end of the file: the last pages in a window cut to the file, a read
  // past it fails as the file does, and the file is never written.
  std::uint64_t c = 0, b = 0;
  ReadAheadFile file(std::make_unique<CountingFile>(Env::system().open(path, OpenMode::ReadOnly), c, b));
  Page page{};
  file.read(fileBytes - 3 * kPageSize, page);
  file.read(fileBytes - 2 * kPageSize, page);
  file.read(fileBytes - kPageSize, page);
  EXPECT_EQ(page[0], byteAt(fileBytes - kPageSize));
  EXPECT_THROW(file.read(fileBytes - kPageSize / 2, page), Error);
  EXPECT_THROW(file.read(fileBytes, page), Error);
  EXPECT_EQ(file.size(), fileBytes);
  EXPECT_THROW(file.write(0, page), Error);
  EXPECT_THROW(file.truncate(0), Error);
  EXPECT_EQ(Env::system().open(path, OpenMode::ReadOnly)->size(), fileBytes);
}

}  // namespace
}  // namespace engine
