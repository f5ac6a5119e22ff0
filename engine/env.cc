// What every Env shares, whatever the platform.
#include "engine/env.h"

#include <algorithm>
#include <vector>

namespace engine {

void Env::copyFileContents(File& from, File& to) {
  const std::uint64_t total = from.size();
  std::vector<std::uint8_t> buffer(
      static_cast<std::size_t>(std::min<std::uint64_t>(kCopyChunk, total)));
  std::uint64_t done = 0;
  while (done < total) {
    std::size_t n =
        static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), total - done));
    from.read(done, std::span(buffer.data(), n));
    to.write(done, std::span<const std::uint8_t>(buffer.data(), n));
    done += n;
  }
  to.truncate(total);
}

}  // namespace engine
