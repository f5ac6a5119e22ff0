// A database left as a crash leaves it: a hot rollback journal beside a file
// that a change had begun to overwrite.
#pragma once

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "engine/env.h"
#include "engine/page_channel.h"
#include "engine/testing/fault_env.h"

namespace engine::testing {

// Runs `change` on the database at path under a crash after its 1st, 2nd, ...
// write, starting each time from the file's present bytes, until a crash
// leaves the journal and a file that differs from before. Returns false when
// no cut does (the change writes nothing, say).
inline bool leaveInterruptedChange(const std::string& path, const std::function<void(Env&)>& change) {
  auto bytes = [&path] {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const std::string before = bytes();
  const std::string journal = PageChannel::journalPath(path);
  for (int n = 1; n <= 50; ++n) {
    {
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out << before;
    }
    std::filesystem::remove(journal);
    FaultEnv crashing(Env::system());
    crashing.arm(FaultEnv::Kind::Write, FaultEnv::Mode::CrashAfter, n);
    try {
      change(crashing);
    } catch (const std::exception&) {
      // the simulated crash, or the refusal that followed it
    }
    if (!crashing.fired()) return false;
    if (std::filesystem::exists(journal) && bytes() != before) return true;
  }
  return false;
}

}  // namespace engine::testing
