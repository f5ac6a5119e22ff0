// Opening a database file for the tool: read-only, header and password
// checked, catalog read.
#pragma once

#include <memory>
#include <string>

#include "engine/catalog.h"
#include "engine/env.h"
#include "engine/page_channel.h"

namespace jettool {

struct OpenFile {
  std::unique_ptr<engine::PageChannel> channel;
  engine::Catalog catalog;
};

// Error when the file is refused (not Jet 4, damaged, wrong password).
OpenFile openFile(engine::Env& env, const std::string& path, const std::string& password);

}  // namespace jettool
