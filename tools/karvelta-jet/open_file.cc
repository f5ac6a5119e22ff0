#include "tools/karvelta-jet/open_file.h"

namespace jettool {

OpenFile openFile(engine::Env& env, const std::string& path, const std::string& password) {
  (void)password;  // checked once the header reader is in place
  OpenFile f;
  f.channel = std::make_unique<engine::PageChannel>(env, path, true);
  f.catalog = engine::Catalog::read(*f.channel);
  return f;
}

}  // namespace jettool
