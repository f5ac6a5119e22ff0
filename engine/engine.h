// The database engine as its callers see it: open a database, find a table
// definition, rename it, create tables and fields, append them.
//
// The shape follows the classic data-access object model: definitions and
// fields are created unattached, given their properties, and then appended,
// which stores them at once. Every refusal is thrown as engine::Error.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/error.h"

namespace engine {

// Field type codes as callers pass them.
enum class FieldType : int {
  Boolean = 1,   // yes/no
  Long = 4,      // 32-bit integer
  Currency = 5,
  DateTime = 8,
  Text = 10,
  Memo = 12,
};

// Attribute flag of an auto-increment field.
inline constexpr int kAutoIncrement = 16;

// A field that is not yet part of a stored table.
struct NewField {
  std::string name;
  FieldType type = FieldType::Long;
  std::string size;          // the size text given at creation (text and memo)
  int attributes = 0;        // 0 or kAutoIncrement
  bool required = false;
  std::optional<bool> allowZeroLength;  // unset: the engine's default
};

// Creates an unattached field with no attributes; type codes other than the
// six above are refused. The size text is kept as given and judged on append.
NewField createField(const std::string& name, int typeCode, const std::string& size = {});

// A table definition that is not yet stored.
struct NewTableDef {
  std::string name;
  std::vector<NewField> fields;
};

// A column of a stored table, as read back.
struct FieldInfo {
  std::string name;
  int typeCode = 0;          // the stored column type byte
  std::string typeName;      // "long", "text", "memo", ...
  int size = 0;              // characters for text, bytes otherwise
  bool autoIncrement = false;
  bool required = false;
  bool allowZeroLength = false;
};

// A stored table. Valid while its Database is open.
class TableDef {
 public:
  virtual ~TableDef() = default;
  virtual std::string name() const = 0;
  virtual std::vector<FieldInfo> fields() const = 0;
  // The stored table takes the new name at once.
  virtual void rename(const std::string& newName) = 0;
  // Adds the column to the stored table at once; a taken name is refused.
  virtual void appendField(const NewField& field) = 0;
};

// An open database. Released (and its lock dropped) on destruction.
class Database {
 public:
  virtual ~Database() = default;
  // The stored table of that name (letter case ignored); Error when none.
  virtual std::unique_ptr<TableDef> tableDef(const std::string& name) = 0;
  // Names of the user tables in catalog order.
  virtual std::vector<std::string> tableNames() = 0;
  // An unattached definition with no fields.
  virtual NewTableDef createTableDef(const std::string& name) const = 0;
  // Stores the table with its fields at once; a taken name is refused and
  // nothing is stored.
  virtual void appendTableDef(const NewTableDef& def) = 0;
};

class Engine {
 public:
  virtual ~Engine() = default;
  // connect is the connect text, ";pwd=" followed by the password.
  virtual std::unique_ptr<Database> openDatabase(const std::string& path, bool exclusive,
                                                 bool readOnly,
                                                 const std::string& connect) = 0;
};

// The real engine over Jet 4 files, on the given platform seam.
class Env;
std::unique_ptr<Engine> makeJetEngine(Env& env);

}  // namespace engine
