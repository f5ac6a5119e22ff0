// A window model, a fake engine and a program directory holding a settings
// file that names the fake database.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "engine/testing/temp_dir.h"
#include "schema/schema.h"
#include "schema/tests/fake_engine.h"

namespace schema::testing {

class SchemaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    programDir = engine::testing::newTemporaryDirectory("karvelta-schema");
    ctx.programDir = programDir;
    dbPath = (std::filesystem::path(programDir) / "satis.mdb").string();
    writeSettings(dbPath);
    engine.files[dbPath] = FakeFile{};
    model.backupFlag = 1;
  }
  void TearDown() override { std::filesystem::remove_all(programDir); }

  void writeSettings(const std::string& location) {
    std::ofstream out(std::filesystem::path(programDir) / "PLX.dll", std::ios::binary | std::ios::trunc);
    out << "[ayar]\nip=" << location << "\n";
  }
  void removeSettings() { std::filesystem::remove(std::filesystem::path(programDir) / "PLX.dll"); }

  FakeFile& db() { return engine.files.at(dbPath); }
  void addTable(const std::string& name, std::vector<std::string> fieldNames = {"no"}) {
    FakeTable t{name, {}};
    for (const std::string& f : fieldNames) t.fields.push_back(engine::createField(f, 4));
    db().tables.push_back(t);
  }
  std::string openCall() const { return "open " + dbPath + " shared read-write ;pwd=zorpelnik"; }

  std::string programDir;
  std::string dbPath;
  FakeEngine engine;
  FakeMessages messages{engine};
  window::Model model;
  Context ctx{model, messages, engine, ""};
};

}  // namespace schema::testing
