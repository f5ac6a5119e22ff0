#include "engine/engine.h"

namespace engine {

NewField createField(const std::string& name, int typeCode, const std::string& size) {
  switch (typeCode) {
    case 1: case 4: case 5: case 8: case 10: case 12: break;
    default: throw Error("unsupported field type code " + std::to_string(typeCode));
  }
  NewField field;
  field.name = name;
  field.type = static_cast<FieldType>(typeCode);
  field.size = size;
  return field;
}

}  // namespace engine
