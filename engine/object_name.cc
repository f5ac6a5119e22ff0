#include "engine/object_name.h"

#include <string>

#include "engine/error.h"
#include "engine/index_key.h"
#include "engine/text_codec.h"

namespace engine {
namespace {

void checkName(std::string_view name, const char* what) {
  std::string quoted = std::string(what) + " name '" + std::string(name) + "'";
  if (name.empty()) throw Error(std::string("a ") + what + " name may not be empty");
  std::vector<std::uint8_t> utf16;
  try {
    utf16 = utf8ToUtf16le(name);
  } catch (const Error&) {
    throw Error("the " + quoted + " is not valid UTF-8");
  }
  std::size_t chars = 0;
  for (std::size_t i = 0; i + 1 < utf16.size(); i += 2) {
    unsigned unit = utf16[i] | unsigned{utf16[i + 1]} << 8;
    if (unit < 0xDC00 || unit > 0xDFFF) ++chars;  // a low surrogate ends a pair counted already
  }
  if (chars > kMaxObjectNameChars)
    throw Error("the " + quoted + " is longer than " + std::to_string(kMaxObjectNameChars) +
                " characters");
  if (name.front() == ' ') throw Error("the " + quoted + " starts with a blank");
  for (char c : name) {
    auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) throw Error("the " + quoted + " holds a control character");
    if (c == '.' || c == '!' || c == '`' || c == '[' || c == ']')
      throw Error("the " + quoted + " holds the character '" + std::string(1, c) +
                  "', which names may not contain");
  }
}

}  // namespace

void checkFieldName(std::string_view name) { checkName(name, "field"); }

void checkTableName(std::string_view name) {
  checkName(name, "table");
  if (!textKeyKnown(name))
    throw Error("the table name '" + std::string(name) +
                "' holds characters whose index order is not known to this engine");
}

}  // namespace engine
