#include "engine/jet_engine.h"

#include "engine/catalog_writer.h"

#include "engine/error.h"
#include "engine/field_addition.h"

namespace engine {

std::vector<FieldInfo> fieldInfos(JetDatabase& database, const JetTable& table) {
  PropertyMaps props = database.properties(table.entry);
  std::vector<FieldInfo> out;
  for (const Column& c : table.definition.columns()) {
    FieldInfo f;
    f.name = c.name;
    f.typeCode = c.type;
    f.typeName = columnTypeName(c.type);
    f.size = c.type == kTypeText ? c.length / 2 : c.length;
    f.autoIncrement = c.autoIncrement();
    f.required = props.required(c.name);
    f.allowZeroLength = props.allowZeroLength(c.name);
    out.push_back(std::move(f));
  }
  return out;
}

std::vector<FieldInfo> JetTableDef::fields() const {
  JetDatabase& db = database_.jet();
  Catalog cat = db.catalog();
  for (const CatalogEntry* e : cat.userTables())
    if (e->tableDefinitionPage() == definitionPage_)
      return fieldInfos(db, JetTable(*e, TableDefinition::shared(db.channel(), definitionPage_)));
  throw Error("table '" + name_ + "' is no longer in the database");
}

void JetTableDef::rename(const std::string& newName) {
  name_ = renameTable(database_.jet().channel(), definitionPage_, newName);
}

void JetTableDef::appendField(const NewField& field) {
  addField(database_.jet(), definitionPage_, field);
}

JetEngineDatabase::JetEngineDatabase(Env& env, const std::string& path, bool exclusive,
                                     bool readOnly, const std::string& connect)
    : jet_(env, path, readOnly, passwordFromConnect(connect)), exclusive_(exclusive) {}

std::unique_ptr<TableDef> JetEngineDatabase::tableDef(const std::string& name) {
  Catalog cat = jet_.catalog();
  const CatalogEntry* e = cat.findUserTable(name);
  if (e == nullptr) throw Error("no table named '" + name + "'");
  return std::make_unique<JetTableDef>(*this, e->name, e->tableDefinitionPage());
}

std::vector<std::string> JetEngineDatabase::tableNames() {
  Catalog cat = jet_.catalog();
  std::vector<std::string> out;
  for (const CatalogEntry* e : cat.userTables()) out.push_back(e->name);
  return out;
}

NewTableDef JetEngineDatabase::createTableDef(const std::string& name) const {
  NewTableDef def;
  def.name = name;
  return def;
}

void JetEngineDatabase::appendTableDef(const NewTableDef& def) {
  createTable(jet_.channel(), def, jet_.channel().env().localTime());
}

std::unique_ptr<Database> JetEngine::openDatabase(const std::string& path, bool exclusive,
                                                  bool readOnly, const std::string& connect) {
  return std::make_unique<JetEngineDatabase>(env_, path, exclusive, readOnly, connect);
}

std::unique_ptr<Engine> makeJetEngine(Env& env) { return std::make_unique<JetEngine>(env); }

}  // namespace engine
