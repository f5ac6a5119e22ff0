// An in-memory engine for the schema tests: databases are named by path and
// hold tables with their fields; every call is recorded; taken names are
// refused as the real engine refuses them; opens can be made to fail.
#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "window/model.h"

namespace schema::testing {

struct FakeTable {
  std::string name;
  std::vector<engine::NewField> fields;
};

struct FakeFile {
  std::string password = "zorpelnik";
  std::vector<FakeTable> tables;
};

inline bool sameName(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    return lower(x) == lower(y);
  });
}

class FakeEngine : public engine::Engine {
 public:
  std::map<std::string, FakeFile> files;  // by path
  bool failOpens = false;
  bool throwForeign = false;              // opens throw something other than engine::Error
  std::function<void()> onOpen;           // runs at every open, before it is judged
  std::vector<std::string> calls;
  int openNow = 0;                        // connections currently open
  std::vector<int> openBefore;            // connections already open at each open

  std::unique_ptr<engine::Database> openDatabase(const std::string& path, bool exclusive,
                                                 bool readOnly,
                                                 const std::string& connect) override;

  FakeTable* find(const std::string& path, const std::string& table) {
    auto file = files.find(path);
    if (file == files.end()) return nullptr;
    for (FakeTable& t : file->second.tables)
      if (sameName(t.name, table)) return &t;
    return nullptr;
  }
  std::vector<std::string> tableNames(const std::string& path) const {
    std::vector<std::string> names;
    for (const FakeTable& t : files.at(path).tables) names.push_back(t.name);
    return names;
  }
  std::size_t countCalls(const std::string& prefix) const {
    return static_cast<std::size_t>(std::count_if(calls.begin(), calls.end(), [&](const std::string& c) {
      return c.rfind(prefix, 0) == 0;
    }));
  }
};

// The size rule of the fake: a text field needs 1 to 255 characters given
// as plain digits; memo sizes are ignored.
inline void judgeSize(const engine::NewField& f) {
  if (f.type != engine::FieldType::Text) return;
  const bool digits = !f.size.empty() && f.size.size() <= 3 &&
                      std::all_of(f.size.begin(), f.size.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (!digits || std::stoi(f.size) < 1 || std::stoi(f.size) > 255)
    throw engine::Error("text size not accepted: " + f.size);
}

class FakeTableDef : public engine::TableDef {
 public:
  FakeTableDef(FakeEngine& e, std::string path, std::string name)
      : engine_(e), path_(std::move(path)), name_(std::move(name)) {}

  std::string name() const override { return name_; }
  std::vector<engine::FieldInfo> fields() const override {
    std::vector<engine::FieldInfo> out;
    for (const engine::NewField& f : stored().fields) {
      engine::FieldInfo info;
      info.name = f.name;
      info.typeCode = static_cast<int>(f.type);
      out.push_back(info);
    }
    return out;
  }
  void rename(const std::string& newName) override {
    engine_.calls.push_back("rename " + name_ + " " + newName);
    if (engine_.find(path_, newName)) throw engine::Error("table name taken: " + newName);
    stored().name = newName;
    name_ = newName;
  }
  void appendField(const engine::NewField& field) override {
    engine_.calls.push_back("appendField " + name_ + " " + field.name);
    FakeTable& t = stored();
    for (const engine::NewField& f : t.fields)
      if (sameName(f.name, field.name)) throw engine::Error("field name taken: " + field.name);
    judgeSize(field);
    t.fields.push_back(field);
  }

 private:
  FakeTable& stored() const {
    FakeTable* t = engine_.find(path_, name_);
    if (!t) throw engine::Error("table gone: " + name_);
    return *t;
  }
  FakeEngine& engine_;
  std::string path_;
  std::string name_;
};

class FakeDatabase : public engine::Database {
 public:
  FakeDatabase(FakeEngine& e, std::string path) : engine_(e), path_(std::move(path)) { ++engine_.openNow; }
  ~FakeDatabase() override { --engine_.openNow; }
  FakeDatabase(const FakeDatabase&) = delete;
  FakeDatabase& operator=(const FakeDatabase&) = delete;

  std::unique_ptr<engine::TableDef> tableDef(const std::string& name) override {
    engine_.calls.push_back("tableDef " + name);
    FakeTable* t = engine_.find(path_, name);
    if (!t) throw engine::Error("no table " + name);
    return std::make_unique<FakeTableDef>(engine_, path_, t->name);
  }
  std::vector<std::string> tableNames() override { return engine_.tableNames(path_); }
  engine::NewTableDef createTableDef(const std::string& name) const override {
    engine_.calls.push_back("createTableDef " + name);
    engine::NewTableDef def;
    def.name = name;
    return def;
  }
  void appendTableDef(const engine::NewTableDef& def) override {
    engine_.calls.push_back("appendTableDef " + def.name);
    if (engine_.find(path_, def.name)) throw engine::Error("table name taken: " + def.name);
    for (const engine::NewField& f : def.fields) judgeSize(f);
    engine_.files.at(path_).tables.push_back(FakeTable{def.name, def.fields});
  }

 private:
  FakeEngine& engine_;
  std::string path_;
};

inline std::unique_ptr<engine::Database> FakeEngine::openDatabase(const std::string& path,
                                                                  bool exclusive, bool readOnly,
                                                                  const std::string& connect) {
  calls.push_back("open " + path + (exclusive ? " exclusive" : " shared") +
                  (readOnly ? " read-only" : " read-write") + " " + connect);
  openBefore.push_back(openNow);
  if (onOpen) onOpen();
  if (throwForeign) throw std::logic_error("not an engine error");
  if (failOpens) throw engine::Error("open refused");
  auto file = files.find(path);
  if (file == files.end()) throw engine::Error("no database at " + path);
  if (connect != ";pwd=" + file->second.password) throw engine::Error("password refused");
  return std::make_unique<FakeDatabase>(*this, path);
}

// Message boxes that are closed at once; each records what it showed and how
// many connections were open while it stood.
class FakeMessages : public window::MessageService {
 public:
  explicit FakeMessages(const FakeEngine& e) : engine_(e) {}
  void show(const std::string& text) override {
    shown.push_back(text);
    openWhileShown.push_back(engine_.openNow);
    if (onShow) onShow();
  }
  std::function<void()> onShow;
  std::vector<std::string> shown;
  std::vector<int> openWhileShown;

 private:
  const FakeEngine& engine_;
};

}  // namespace schema::testing
