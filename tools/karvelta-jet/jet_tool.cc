// Output shapes:
//
// schema: {"tables":[{"name":..,"rowCount":N,"columns":[{"name":..,"type":..,
//          "size":N,"autoIncrement":b,"required":b,"allowZeroLength":b}]}]}
//   tables in catalog order, columns in stored order; size in characters
//   for text, 0 for memo and OLE, the stored byte length otherwise;
//   autoIncrement for numbered long columns and generated GUID columns;
//   then "sortOrder":{"value":N,"version":N,"name":..}, the database's sort
//   order from its header (name "General" where known, else null).
// rows:   one JSON object per row and line, keys the column names in stored
//   order, values as engine::toJson formats them.
#include "tools/karvelta-jet/jet_tool.h"

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "engine/compaction.h"
#include "engine/database_creator.h"
#include "engine/engine.h"
#include "engine/error.h"
#include "engine/sort_order.h"
#include "engine/integrity_check.h"
#include "engine/jet_database.h"
#include "engine/long_value.h"
#include "engine/recovery.h"
#include "engine/value.h"
#include "tools/karvelta-jet/sample_database.h"

namespace jettool {
namespace {

constexpr const char* kUsage =
    "usage: karvelta-jet schema DB [--password P]\n"
    "       karvelta-jet rows DB TABLE [--password P]\n"
    "       karvelta-jet add-field DB TABLE FIELD TYPECODE [SIZE] [--password P]\n"
    "       karvelta-jet rename DB OLD NEW [--password P]\n"
    "       karvelta-jet create-table DB NAME [--password P]\n"
    "       karvelta-jet new-database DB [--password P]\n"
    "       karvelta-jet new-sample DIR [--rows N] [--bloat | --twin]\n"
    "       karvelta-jet recover DB\n"
    "       karvelta-jet check DB [--password P]\n"
    "       karvelta-jet compact SRC DST [--password P] [--quiet]\n";

// The command line after the subcommand: positional arguments and options.
struct Arguments {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;  // "--password" -> value
  bool errIsTerminal = false;                   // where progress may be shown
};

// Options that take a value, and options that are set by their name alone;
// every subcommand accepts these.
bool takesValue(const std::string& option) { return option == "--password" || option == "--rows"; }
bool isFlag(const std::string& option) {
  return option == "--bloat" || option == "--twin" || option == "--quiet";
}

Arguments parseArguments(const std::vector<std::string>& args, std::size_t from) {
  Arguments a;
  for (std::size_t i = from; i < args.size(); ++i) {
    const std::string& s = args[i];
    if (s.rfind("--", 0) != 0) {
      a.positional.push_back(s);
      continue;
    }
    const auto eq = s.find('=');
    const std::string name = s.substr(0, eq);
    if (isFlag(name)) {
      if (eq != std::string::npos) throw engine::Error("option " + name + " takes no value");
      a.options[name] = "";
      continue;
    }
    if (!takesValue(name)) throw engine::Error("unknown option " + name);
    if (eq != std::string::npos) {
      a.options[name] = s.substr(eq + 1);
    } else {
      if (i + 1 >= args.size()) throw engine::Error("option " + name + " needs a value");
      a.options[name] = args[++i];
    }
  }
  return a;
}

std::string option(const Arguments& a, const std::string& name) {
  auto it = a.options.find(name);
  return it == a.options.end() ? std::string() : it->second;
}

void requirePositional(const Arguments& a, std::size_t n, const char* what) {
  if (a.positional.size() != n) throw engine::Error(std::string("expected ") + what);
}

int columnSize(const engine::Column& c) {
  switch (c.type) {
    case engine::kTypeText: return c.length / 2;
    case engine::kTypeMemo:
    case engine::kTypeOle: return 0;
    default: return c.length;
  }
}

// The tool only reads: the database is opened read-only.
engine::JetDatabase openDatabase(engine::Env& env, const Arguments& a) {
  return engine::JetDatabase(env, a.positional[0], true, option(a, "--password"));
}

const char* boolText(bool b) { return b ? "true" : "false"; }

int schemaCommand(const Arguments& a, std::ostream& out, engine::Env& env) {
  requirePositional(a, 1, "DB");
  engine::JetDatabase db = openDatabase(env, a);
  std::string json = "{\"tables\":[";
  bool firstTable = true;
  for (const engine::JetTable& table : db.tables()) {
    const engine::PropertyMaps props = db.properties(table.entry);
    if (!firstTable) json += ",";
    firstTable = false;
    // Appended piece by piece: a listing of many tables builds no
    // temporaries.
    json += "{\"name\":";
    json += engine::jsonString(table.entry.name);
    json += ",\"rowCount\":";
    json += std::to_string(table.definition.rowCount());
    json += ",\"columns\":[";
    bool firstColumn = true;
    for (const engine::Column& c : table.definition.columns()) {
      if (!firstColumn) json += ",";
      firstColumn = false;
      json += "{\"name\":";
      json += engine::jsonString(c.name);
      json += ",\"type\":";
      json += engine::jsonString(engine::columnTypeName(c.type));
      json += ",\"size\":";
      json += std::to_string(columnSize(c));
      json += ",\"autoIncrement\":";
      json += boolText(c.autoIncrement() || c.autoGuid());
      json += ",\"required\":";
      json += boolText(props.required(c.name));
      json += ",\"allowZeroLength\":";
      json += boolText(props.allowZeroLength(c.name));
      json += "}";
    }
    json += "]}";
  }
  const engine::SortOrder order = engine::headerSortOrder(db.header().sortOrder());
  json += "],\"sortOrder\":{\"value\":" + std::to_string(order.value) +
          ",\"version\":" + std::to_string(order.version) + ",\"name\":" +
          (order.name().empty() ? std::string("null") : engine::jsonString(order.name())) + "}}\n";
  out << json;
  return 0;
}

int rowsCommand(const Arguments& a, std::ostream& out, engine::Env& env) {
  requirePositional(a, 2, "DB TABLE");
  engine::JetDatabase db = openDatabase(env, a);
  const std::optional<engine::JetTable> table = db.table(a.positional[1]);
  if (!table) throw engine::Error("no table " + a.positional[1]);
  const auto& columns = table->definition.columns();
  std::vector<std::string> keys;
  for (const auto& c : columns) keys.push_back(engine::jsonString(c.name) + ":");
  const engine::PageSource pages = engine::pageSourceOf(db.channel());
  std::string line;
  db.forEachRow(table->definition, [&](const std::vector<engine::RawValue>& raw) {
    line.clear();
    line.push_back('{');
    for (std::size_t i = 0; i < columns.size(); ++i) {
      if (i > 0) line += ",";
      line += keys[i];
      line += engine::toJson(engine::decodeValue(columns[i], raw[i], pages));
    }
    line += "}\n";
    out << line;
    return true;
  });
  out.flush();
  return 0;
}

// Adds a field as the schema routines do: attributes 0, Required false, and
// for text and memo AllowZeroLength true. Prints nothing on success.
int addFieldCommand(const Arguments& a, std::ostream&, engine::Env& env) {
  if (a.positional.size() != 4 && a.positional.size() != 5)
    throw engine::Error("expected DB TABLE FIELD TYPECODE [SIZE]");
  const std::string& code = a.positional[3];
  if (code.empty() || code.size() > 3 ||
      code.find_first_not_of("0123456789") != std::string::npos)
    throw engine::Error("type code '" + code + "' is not a number");
  const int typeCode = std::stoi(code);
  auto engine = engine::makeJetEngine(env);
  auto db = engine->openDatabase(a.positional[0], false, false,
                                 ";pwd=" + option(a, "--password"));
  auto table = db->tableDef(a.positional[1]);
  engine::NewField field = engine::createField(
      a.positional[2], typeCode, a.positional.size() == 5 ? a.positional[4] : std::string());
  field.attributes = 0;
  field.required = false;
  if (field.type == engine::FieldType::Text || field.type == engine::FieldType::Memo)
    field.allowZeroLength = true;
  table->appendField(field);
  return 0;
}

// Renames a table as the update run does. Prints nothing on success.
int renameCommand(const Arguments& a, std::ostream&, engine::Env& env) {
  if (a.positional.size() != 3) throw engine::Error("expected DB OLD NEW");
  auto engine = engine::makeJetEngine(env);
  auto db = engine->openDatabase(a.positional[0], false, false,
                                 ";pwd=" + option(a, "--password"));
  db->tableDef(a.positional[1])->rename(a.positional[2]);
  return 0;
}

// Creates a table as table creation does: one field "no", a Long with the
// auto-increment attribute. Prints nothing on success.
int createTableCommand(const Arguments& a, std::ostream&, engine::Env& env) {
  if (a.positional.size() != 2) throw engine::Error("expected DB NAME");
  auto engine = engine::makeJetEngine(env);
  auto db = engine->openDatabase(a.positional[0], false, false,
                                 ";pwd=" + option(a, "--password"));
  engine::NewTableDef def = db->createTableDef(a.positional[1]);
  engine::NewField no = engine::createField("no", 4);
  no.attributes = engine::kAutoIncrement;
  def.fields.push_back(no);
  db->appendTableDef(def);
  return 0;
}

// Writes a new, empty database (refused when the file exists). Prints
// nothing on success.
int newDatabaseCommand(const Arguments& a, std::ostream&, engine::Env& env) {
  requirePositional(a, 1, "DB");
  engine::createDatabase(env, a.positional[0], option(a, "--password"));
  return 0;
}

// Writes the demo sales database DIR/satis.mdb with N sales rows and the
// settings file DIR/PLX.dll naming it; prints the database's path. --bloat
// writes it as a file in use for years, --twin the live content of that
// file written fresh (sample_database.h).
int newSampleCommand(const Arguments& a, std::ostream& out, engine::Env& env) {
  requirePositional(a, 1, "DIR");
  std::size_t rows = kSampleDefaultRows;
  if (a.options.count("--rows")) {
    const std::string& n = a.options.at("--rows");
    if (n.empty() || n.size() > 9 || n.find_first_not_of("0123456789") != std::string::npos)
      throw engine::Error("--rows takes a number of rows, not '" + n + "'");
    rows = std::stoul(n);
  }
  const bool bloat = a.options.count("--bloat") != 0;
  const bool twin = a.options.count("--twin") != 0;
  if (bloat && twin) throw engine::Error("--bloat and --twin are two samples: give one of them");
  const SampleKind kind = bloat ? SampleKind::Bloated : twin ? SampleKind::Twin : SampleKind::Plain;
  out << writeSample(env, a.positional[0], rows, kind) << "\n";
  return 0;
}

// Checks the whole file (engine/integrity_check.h) without changing it:
// prints one line per problem and exits 1 when there is any, prints nothing
// for a sound file.
int checkCommand(const Arguments& a, std::ostream& out, engine::Env& env) {
  requirePositional(a, 1, "DB");
  const engine::IntegrityReport report =
      engine::checkDatabaseFile(env, a.positional[0], option(a, "--password"));
  for (const engine::IntegrityProblem& p : report.problems) out << engine::formatProblem(p) << "\n";
  if (report.unlisted > 0) out << report.unlisted << " further problems not listed\n";
  out.flush();
  return report.sound() ? 0 : 1;
}

// Rolls back a change that a crash interrupted, and does nothing else; says
// what it did when there was a journal to deal with.
int recoverCommand(const Arguments& a, std::ostream& out, engine::Env& env) {
  requirePositional(a, 1, "DB");
  switch (engine::recoverDatabase(env, a.positional[0])) {
    case engine::JournalRecovery::RolledBack:
      out << "rolled back an interrupted change\n";
      break;
    case engine::JournalRecovery::Completed:
      out << "removed the journal of a change that had reached the database\n";
      break;
    case engine::JournalRecovery::Discarded:
      out << "removed the journal of a change that never reached the database\n";
      break;
    case engine::JournalRecovery::None:
      break;
  }
  return 0;
}

std::string sizeText(std::uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  return text;
}

// Writes a compacted copy of SRC at DST (engine/compaction.h). On a terminal
// a progress line on standard error, updated in place (none with --quiet);
// at the end one line with the pages and sizes before and after.
int compactCommand(const Arguments& a, std::ostream& out, std::ostream& err, engine::Env& env) {
  requirePositional(a, 2, "SRC DST");
  const bool show = a.errIsTerminal && a.options.count("--quiet") == 0;
  std::size_t shown = 0;
  auto progress = [&](const engine::CompactionProgress& p) {
    if (!show) return;
    std::string line = "\rcompacting: table " + std::to_string(p.tablesDone) + " of " +
                       std::to_string(p.tables) + ", page " + std::to_string(p.pagesDone) + " of " +
                       std::to_string(p.pages);
    const std::size_t length = line.size();
    if (length < shown) line.append(shown - length, ' ');
    shown = length;
    err << line << std::flush;
  };
  engine::CompactionResult r;
  try {
    r = engine::compactDatabase(env, a.positional[0], a.positional[1], option(a, "--password"), progress);
  } catch (...) {
    if (show && shown > 0) err << "\n";
    throw;
  }
  if (show && shown > 0) err << "\n" << std::flush;
  out << "compacted " << r.sourcePages << " pages (" << sizeText(r.sourceBytes) << ") into "
      << r.targetPages << " pages (" << sizeText(r.targetBytes) << ")\n";
  return 0;
}

using Command = std::function<int(const Arguments&, std::ostream&, engine::Env&)>;

// Subcommands by name; later ones (rename, create-table, add-field,
// new-sample) are added here.
const std::map<std::string, Command>& commands() {
  static const std::map<std::string, Command> table = {
      {"schema", schemaCommand},
      {"rows", rowsCommand},
      {"add-field", addFieldCommand},
      {"rename", renameCommand},
      {"create-table", createTableCommand},
      {"new-database", newDatabaseCommand},
      {"new-sample", newSampleCommand},
      {"recover", recoverCommand},
      {"check", checkCommand},
  };
  return table;
}

}  // namespace

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        engine::Env& env, bool errIsTerminal) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    (args.empty() ? err : out) << kUsage;
    return args.empty() ? 2 : 0;
  }
  const auto it = commands().find(args[0]);
  if (args[0] == "compact") {
    try {
      Arguments a = parseArguments(args, 1);
      a.errIsTerminal = errIsTerminal;
      return compactCommand(a, out, err, env);
    } catch (const std::exception& e) {
      err << "karvelta-jet: " << e.what() << "\n";
      return 1;
    }
  }
  if (it == commands().end()) {
    err << "karvelta-jet: unknown command " << args[0] << "\n" << kUsage;
    return 2;
  }
  try {
    return it->second(parseArguments(args, 1), out, env);
  } catch (const engine::Error& e) {
    err << "karvelta-jet: " << e.what() << "\n";
    return 1;
  } catch (const std::exception& e) {
    err << "karvelta-jet: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace jettool
