#include "schema/schema.h"

#include <memory>
#include <optional>
#include <string>

#include "schema/catalogue.h"
#include "schema/counter.h"
#include "settings/settings.h"

namespace schema {
namespace {

// Indexes into Model::say.
constexpr std::size_t kSay1 = 0, kSay2 = 1, kSay3 = 2, kSay4 = 3;

std::string connectText(const std::string& password) { return ";pwd=" + password; }

std::string tableLine(const window::Model& m) { return "TABLO ADI :" + m.tabloismi; }

std::string fieldLine(const window::Model& m) {
  return "TABLO ADI :" + m.tabloismi + " SUTUN ADI :" + m.alanismi + " " + m.verituruText();
}

void raise(window::Model& m, std::size_t counter) { m.say[counter] = raiseCounter(m.say[counter]); }

// The failure report of a routine: its line into sonuc and one MEVCUT step.
// Nothing leaves a routine, not even a failure of this report.
template <class Line>
void reportRefused(window::Model& m, Line line, std::size_t counter) noexcept {
  try {
    m.sonuc.push_back(line(m));
    raise(m, counter);
  } catch (...) {
  }
}

// One action of the update run: when it fails, it is abandoned alone.
template <class Action>
void attempt(Action&& action) noexcept {
  try {
    action();
  } catch (...) {
  }
}

// The engine field for a verituru index; none for an index outside the list.
std::optional<engine::NewField> fieldForIndex(std::int16_t index, const std::string& name,
                                              const std::string& limit) {
  switch (index) {
    case kMetin: return engine::createField(name, static_cast<int>(engine::FieldType::Text), limit);
    case kNot: return engine::createField(name, static_cast<int>(engine::FieldType::Memo), limit);
    case kSayi: return engine::createField(name, static_cast<int>(engine::FieldType::Long));
    case kParaBirimi: return engine::createField(name, static_cast<int>(engine::FieldType::Currency));
    case kTarih: return engine::createField(name, static_cast<int>(engine::FieldType::DateTime));
    case kEvetHayir: return engine::createField(name, static_cast<int>(engine::FieldType::Boolean));
    default: return std::nullopt;
  }
}

}  // namespace

void tabloolustur(Context& ctx) {
  window::Model& m = ctx.model;
  if (m.backupFlag == 0) {
    ctx.messages.show(kBackupFirst);
    return;
  }
  if (m.tabloismi.empty()) return;

  // Lives until the routine ends, on either path.
  std::unique_ptr<engine::Database> db;
  try {
    const std::string location = settings::databaseLocation(ctx.programDir);
    db = ctx.engine.openDatabase(location, false, false, connectText(kPassword));
    engine::NewTableDef def = db->createTableDef(m.tabloismi);
    engine::NewField no = engine::createField("no", static_cast<int>(engine::FieldType::Long));
    no.attributes = engine::kAutoIncrement;
    def.fields.push_back(no);
    db->appendTableDef(def);

    m.sonuc1.push_back(tableLine(m));
    raise(m, kSay1);
    return;
  } catch (...) {
  }
  reportRefused(m, tableLine, kSay3);
}

void alanekle(Context& ctx) {
  window::Model& m = ctx.model;
  if (m.backupFlag == 0) {
    ctx.messages.show(kBackupFirst);
    return;
  }
  if (m.tabloismi.empty()) return;
  if (m.alanismi.empty()) return;

  // Both live until the routine ends; the table definition goes first.
  std::unique_ptr<engine::Database> db;
  std::unique_ptr<engine::TableDef> table;
  try {
    const std::string location = settings::databaseLocation(ctx.programDir);
    db = ctx.engine.openDatabase(location, false, false, connectText(kPassword));
    table = db->tableDef(m.tabloismi);

    std::optional<engine::NewField> field = fieldForIndex(m.verituruIndex, m.alanismi, m.sinir);
    if (!field) throw engine::Error("no data type selected");
    field->attributes = 0;
    const std::int16_t index = m.verituruIndex;
    if (index == kMetin || index == kNot) {
      field->required = false;
      field->allowZeroLength = true;
    } else {
      field->required = false;
    }
    table->appendField(*field);

    m.sonuc1.push_back(fieldLine(m));
    raise(m, kSay2);
    return;
  } catch (...) {
  }
  reportRefused(m, fieldLine, kSay4);
}

void basla(Context& ctx) {
  window::Model& m = ctx.model;
  if (m.backupFlag == 0) {
    ctx.messages.show(kBackupFirst);
    return;
  }
  const Katalog& cat = katalog();

  attempt([&] { m.sonuc.clear(); });
  attempt([&] { m.sonuc1.clear(); });
  // One character through assign(count, char): GCC 12 takes the assignment
  // of a literal to a string for an overlapping copy (-Wrestrict) in 32-bit
  // builds, which it is not.
  for (std::string& caption : m.say) attempt([&] { caption.assign(1, '0'); });

  std::string location;
  attempt([&] { location = settings::databaseLocation(ctx.programDir); });
  const std::string password = kPassword;

  // The run connection: used for the renames only, held open to the end.
  std::unique_ptr<engine::Database> run;
  bool first = true;
  for (const Replacement& r : cat.replacements) {
    attempt([&] { m.tabloismi = std::string(r.table); });
    if (first) {
      attempt([&] { run = ctx.engine.openDatabase(location, false, false, connectText(password)); });
      first = false;
    }
    // The lookup and its rename: when the lookup fails, no name changes.
    attempt([&] {
      if (!run) throw engine::Error("database not open");
      std::unique_ptr<engine::TableDef> def = run->tableDef(m.tabloismi);
      def->rename(std::string(r.newName));
    });
  }

  for (const Block& block : cat.blocks) {
    attempt([&] { m.tabloismi = std::string(block.table); });
    attempt([&] { tabloolustur(ctx); });
    for (const FieldEntry& entry : block.fields) {
      attempt([&] { m.alanismi = std::string(entry.name); });
      if (entry.limit) attempt([&] { m.sinir = std::string(*entry.limit); });
      attempt([&] { m.verituruIndex = entry.typeIndex; });
      attempt([&] { alanekle(ctx); });
    }
  }

  attempt([&] { ctx.messages.show(kUpdateDone); });
  // The run connection is released here, after the final message closed.
}

}  // namespace schema
