// The key filter of the character-limit box `sinir`.
#pragma once

#include <cstdint>
#include <string_view>

namespace window {

// Takes the character code of one key press (in the window's code page) and
// gives back the same code to let the key through or 0 to discard it.
// Codes up to 26 (Backspace, Enter, the Ctrl+letter codes) and every
// negative code pass; of the rest only the comma and the digits do.
constexpr std::int16_t sinirKeyFilter(std::int16_t code) {
  if (code <= 26) return code;
  constexpr std::string_view allowed = ",0123456789";
  for (char c : allowed)
    if (code == c) return code;
  return 0;
}

}  // namespace window
