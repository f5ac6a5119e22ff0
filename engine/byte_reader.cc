#include "engine/byte_reader.h"

namespace engine {

void ByteReader::outside(std::size_t offset, std::size_t length) const {
  throw Error((literal_ != nullptr ? std::string(literal_) : owned_) + ": " + std::to_string(length) +
              " bytes at offset " + std::to_string(offset) + " lie outside its " + std::to_string(data_.size()) +
              " bytes");
}

}  // namespace engine
