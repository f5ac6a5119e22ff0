// 8-bit text of the Turkish Windows code page (1254) and UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace settings {

// True when the bytes are well-formed UTF-8 (no overlong forms, no
// surrogates, nothing above U+10FFFF). Pure ASCII is valid.
bool isValidUtf8(std::string_view bytes);

// Converts Windows-1254 bytes to UTF-8. The five codes the page leaves
// undefined (0x81, 0x8D to 0x90, 0x9D, 0x9E) map to the C1 control of the
// same number, as the Windows converter does.
std::string windows1254ToUtf8(std::string_view bytes);

}  // namespace settings
