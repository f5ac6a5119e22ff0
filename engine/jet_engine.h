// The engine over Jet 4 files: makeJetEngine() gives a JetEngine, whose
// databases and table definitions read through JetDatabase.
#pragma once

#include <memory>
#include <string>

#include "engine/engine.h"
#include "engine/jet_database.h"

namespace engine {

class JetEngineDatabase;

class JetTableDef final : public TableDef {
 public:
  JetTableDef(JetEngineDatabase& database, std::string name, std::uint32_t definitionPage)
      : database_(database), name_(std::move(name)), definitionPage_(definitionPage) {}

  std::string name() const override { return name_; }
  std::vector<FieldInfo> fields() const override;
  void rename(const std::string& newName) override;
  void appendField(const NewField& field) override;

  std::uint32_t definitionPage() const { return definitionPage_; }

 private:
  JetEngineDatabase& database_;
  std::string name_;
  std::uint32_t definitionPage_;
};

class JetEngineDatabase final : public Database {
 public:
  JetEngineDatabase(Env& env, const std::string& path, bool exclusive, bool readOnly,
                    const std::string& connect);

  std::unique_ptr<TableDef> tableDef(const std::string& name) override;
  std::vector<std::string> tableNames() override;
  NewTableDef createTableDef(const std::string& name) const override;
  void appendTableDef(const NewTableDef& def) override;

  JetDatabase& jet() { return jet_; }
  bool exclusive() const { return exclusive_; }

 private:
  JetDatabase jet_;
  bool exclusive_;
};

class JetEngine final : public Engine {
 public:
  explicit JetEngine(Env& env) : env_(env) {}
  std::unique_ptr<Database> openDatabase(const std::string& path, bool exclusive, bool readOnly,
                                         const std::string& connect) override;

 private:
  Env& env_;
};

// The fields of a stored table as callers see them: columns in stored order
// with Required and AllowZeroLength from the table's property blob.
std::vector<FieldInfo> fieldInfos(JetDatabase& database, const JetTable& table);

}  // namespace engine
