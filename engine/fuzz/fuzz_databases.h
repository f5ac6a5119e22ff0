// The databases the fuzz targets start from, written by our own engine in
// memory under MemoryEnv's fixed clock, so that the same build makes the
// same bytes every time: the interrupted-change target changes them, and
// the seed tool hands them to the other targets as their first inputs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/database_creator.h"
#include "engine/engine.h"
#include "engine/field_addition.h"
#include "engine/fuzz/memory_env.h"
#include "engine/jet_database.h"
#include "engine/row_appender.h"
#include "engine/unicode_compression.h"

namespace engine::fuzz {

struct FuzzDatabase {
  std::string name;
  std::string password;
  MemoryEnv::Bytes bytes;
};

// The user table every database has: kayit, with an auto-increment number
// and a field of each type the engine writes (text and memo compressed in
// the second database). Every database also holds a second, empty table.
inline const char* const kFuzzTable = "kayit";

// Text of a given length in characters, Turkish letters among ASCII.
inline std::string fuzzText(std::size_t characters, unsigned seed) {
  static const char* const pieces[] = {"satış ", "fiş ", "ÇAY ", "günlük ", "İade ", "0123 "};
  std::string out;
  std::size_t count = 0;
  for (unsigned i = seed; count < characters; ++i) {
    const std::string piece = pieces[i % 6];
    for (std::size_t at = 0; at < piece.size() && count < characters; ++count) {
      // One UTF-8 character at a time.
      std::size_t len = 1;
      const auto lead = static_cast<unsigned char>(piece[at]);
      if (lead >= 0xF0) len = 4;
      else if (lead >= 0xE0) len = 3;
      else if (lead >= 0xC0) len = 2;
      out.append(piece, at, len);
      at += len;
    }
  }
  return out;
}

// A row of kayit numbered i, with a memo of the given length.
inline FieldValues fuzzRow(int i, std::size_t memoCharacters) {
  return {{"metin", FieldValue::ofText(fuzzText(static_cast<std::size_t>(5 + i % 40), static_cast<unsigned>(i)))},
          {"notlar", FieldValue::ofText(fuzzText(memoCharacters, static_cast<unsigned>(i) + 3))},
          {"sayi", FieldValue::ofLong(i * 7919 - 40000)},
          {"evet", FieldValue::ofBoolean(i % 3 == 0)},
          {"para", FieldValue::ofCurrency(std::int64_t{i} * 12345)},
          {"tarih", FieldValue::ofDateTime(jetDateTime(2026, 1 + i % 12, 1 + i % 28, i % 24, i % 60, 0))}};
}

inline MemoryEnv::Bytes makeFuzzDatabase(const std::string& password, int rows, bool compressed) {
  const std::string path = "/fuzz/make.mdb";
  MemoryEnv env("/fuzz/unused", {});
  createDatabase(env, path, password);
  {
    auto engine = makeJetEngine(env);
    auto db = engine->openDatabase(path, false, false, ";pwd=" + password);
    for (const char* table : {kFuzzTable, "fisno"}) {
      NewTableDef def = db->createTableDef(table);
      NewField no = createField("no", static_cast<int>(FieldType::Long));
      no.attributes = kAutoIncrement;
      def.fields.push_back(no);
      db->appendTableDef(def);
    }
    auto kayit = db->tableDef(kFuzzTable);
    kayit->appendField(createField("metin", static_cast<int>(FieldType::Text), "100"));
    kayit->appendField(createField("notlar", static_cast<int>(FieldType::Memo)));
    kayit->appendField(createField("sayi", static_cast<int>(FieldType::Long)));
    kayit->appendField(createField("evet", static_cast<int>(FieldType::Boolean)));
    kayit->appendField(createField("para", static_cast<int>(FieldType::Currency)));
    kayit->appendField(createField("tarih", static_cast<int>(FieldType::DateTime)));
    db->tableDef("fisno")->appendField(createField("fis", static_cast<int>(FieldType::Text), "20"));
  }
  {
    JetDatabase db(env, path, false, password);
    const std::uint32_t page = db.table(kFuzzTable)->entry.tableDefinitionPage();
    if (compressed) {
      setUnicodeCompression(db.channel(), page, "metin", true);
      setUnicodeCompression(db.channel(), page, "notlar", true);
    }
    RowAppender out(db.channel(), page);
    // Memos inline, on one long-value row, and in a chain of pages.
    static const std::size_t memoLengths[] = {12, 300, 1500, 5000};
    for (int i = 0; i < rows; ++i) out.append(fuzzRow(i, memoLengths[i % 4]));
    out.commit();
  }
  return env.contents(path);
}

// A small database without a password, and one with a password whose rows
// fill several data and long-value pages.
inline const std::vector<FuzzDatabase>& fuzzDatabases() {
  static const std::vector<FuzzDatabase> databases = [] {
    std::vector<FuzzDatabase> out;
    out.push_back({"small", "", makeFuzzDatabase("", 3, false)});
    out.push_back({"password", "zorpelnik", makeFuzzDatabase("zorpelnik", 40, true)});
    return out;
  }();
  return databases;
}

}  // namespace engine::fuzz
