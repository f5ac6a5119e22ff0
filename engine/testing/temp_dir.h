// A new, empty folder under the system's temporary folder, for tests.
#pragma once

#include <filesystem>
#include <random>
#include <string>

#include "engine/path.h"

namespace engine::testing {

// Creates prefix-<random> in the temporary folder and returns its path as
// UTF-8 text.
inline std::string newTemporaryDirectory(const std::string& prefix) {
  std::random_device random;
  for (;;) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                      toFsPath(prefix + "-" + std::to_string(random()) + "-" +
                                               std::to_string(random()));
    if (std::filesystem::create_directories(dir)) return fromFsPath(dir);
  }
}

}  // namespace engine::testing
