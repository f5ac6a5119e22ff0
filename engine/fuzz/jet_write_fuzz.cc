// libFuzzer target over the write side: the input opened read-write through
// the engine's interface and given what the update run gives a database (a
// rename, a new table with its auto-increment field, fields of every type),
// then read back.
//
// Every operation either succeeds or is refused with engine::Error, and a
// refused one leaves the file byte for byte as it was, with no journal left
// once the database is opened again. When the input passes the integrity
// check, the file must still pass it after every operation that succeeded,
// with every count that drifts off by what it was off by before. A crash, a
// sanitizer report, a hang, a refused operation that changed the file or a
// change that broke a sound file is a finding.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <tuple>
#include <span>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/error.h"
#include "engine/fuzz/memory_env.h"
#include "engine/integrity_check.h"
#include "engine/page_channel.h"

namespace {

const std::string kPath = "/fuzz/db.mdb";

class Session {
 public:
  explicit Session(std::span<const std::uint8_t> input)
      : env_(kPath, input), engine_(engine::makeJetEngine(env_)) {}

  bool open() {
    db_.reset();
    for (const char* password : {"zorpelnik", ""}) {
      try {
        db_ = engine_->openDatabase(kPath, false, false, std::string(";pwd=") + password);
        password_ = password;
        return true;
      } catch (const engine::Error&) {
      }
    }
    return false;
  }
  engine::Database* db() { return db_.get(); }

  // Drifting counts by definition page and count, as stored less actual.
  using Drifts = std::vector<std::tuple<std::uint32_t, std::string, std::int64_t>>;
  // The drifts of the file as it stands when it passes the integrity check.
  std::optional<Drifts> soundState() {
    try {
      const engine::IntegrityReport report = engine::checkDatabaseFile(env_, kPath, password_);
      if (!report.sound()) return std::nullopt;
      Drifts drifts;
      for (const engine::CountDrift& d : report.drifts)
        drifts.emplace_back(d.page, d.count, d.stored - d.actual);
      return drifts;
    } catch (const engine::Error&) {
      return std::nullopt;
    }
  }
  // From now on a change that succeeds must keep the file sound.
  void watchIntegrity() { sound_ = soundState(); }

  // Runs one operation; when it is refused, the file must be as before.
  template <class Operation>
  void attempt(Operation&& operation) {
    if (!db_) return;
    const engine::fuzz::MemoryEnv::Bytes before = env_.contents(kPath);
    try {
      operation(*db_);
      if (sound_ && soundState() != sound_) __builtin_trap();
      return;
    } catch (const engine::Error&) {
    }
    // Opening again rolls back whatever a refused commit may have left.
    open();
    if (env_.contents(kPath) != before) __builtin_trap();
    if (env_.exists(engine::PageChannel::journalPath(kPath))) __builtin_trap();
  }

  // Reads back every table's fields.
  void readBack() {
    if (!db_) return;
    try {
      for (const std::string& name : db_->tableNames()) (void)db_->tableDef(name)->fields();
    } catch (const engine::Error&) {
    }
  }

 private:
  engine::fuzz::MemoryEnv env_;
  std::unique_ptr<engine::Engine> engine_;
  std::unique_ptr<engine::Database> db_;
  std::string password_;
  std::optional<Drifts> sound_;  // set while the file passes the check
};

void addFields(Session& s, const std::string& table) {
  struct Addition {
    const char* name;
    int type;
    const char* size;
  };
  const Addition additions[] = {{"odemesi", 10, "50"}, {"aciklama", 12, "100"}, {"adet", 4, ""},
                                {"evet", 1, ""},       {"tutar", 5, ""},        {"tarih2", 8, ""}};
  for (const Addition& f : additions) {
    s.attempt([&](engine::Database& db) {
      engine::NewField field = engine::createField(f.name, f.type, f.size);
      if (f.type == 10 || f.type == 12) field.allowZeroLength = true;
      db.tableDef(table)->appendField(field);
    });
  }
}

void writeEverything(std::span<const std::uint8_t> input) {
  Session s(input);
  if (!s.open()) return;
  s.watchIntegrity();
  std::vector<std::string> names;
  try {
    names = s.db()->tableNames();
  } catch (const engine::Error&) {
    return;
  }
  if (!names.empty()) {
    s.attempt([&](engine::Database& db) { db.tableDef(names.front())->rename("fzeski"); });
    addFields(s, "fzeski");
  }
  s.attempt([](engine::Database& db) {
    engine::NewTableDef def = db.createTableDef("fzyeni");
    engine::NewField no = engine::createField("no", 4);
    no.attributes = engine::kAutoIncrement;
    def.fields.push_back(no);
    db.appendTableDef(def);
  });
  addFields(s, "fzyeni");
  s.readBack();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  writeEverything(std::span<const std::uint8_t>(data, size));
  return 0;
}
