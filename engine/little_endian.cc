#include "engine/little_endian.h"

namespace engine {

void throwOutsideBuffer(std::size_t bufferSize, std::size_t at, std::size_t width) {
  throw Error(std::to_string(width) + " bytes at offset " + std::to_string(at) + " lie outside a buffer of " +
              std::to_string(bufferSize) + " bytes");
}

}  // namespace engine
