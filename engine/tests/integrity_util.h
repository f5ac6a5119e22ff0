// The integrity check after a write, for every test that changes a file: the
// file passes the check, and each count that Access lets drift (row counts of
// system tables, distinct-key counts) is off by exactly what it was off by in
// the fixture the test started from, so a change moved it with what it
// counts.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "engine/env.h"
#include "engine/error.h"
#include "engine/integrity_check.h"
#include "engine/jet_database.h"
#include "engine/tests/write_test_util.h"

namespace engine::testutil {

// Drift by definition page and count (the page stays when a table is
// renamed), as stored less actual.
using Drifts = std::map<std::pair<std::uint32_t, std::string>, std::int64_t>;

inline Drifts driftsOf(const IntegrityReport& report) {
  Drifts out;
  for (const CountDrift& d : report.drifts) out[{d.page, d.count}] = d.stored - d.actual;
  return out;
}

// The drifts of a fixture as shipped (checked on a copy, once per process).
inline const Drifts& fixtureDrifts(const std::string& fixture, const std::string& password) {
  static std::mutex mutex;
  static std::map<std::string, Drifts> cache;
  std::lock_guard guard(mutex);
  auto it = cache.find(fixture);
  if (it == cache.end()) {
    TempDir dir;
    it = cache.emplace(fixture, driftsOf(checkDatabaseFile(Env::system(), dir.copy(fixture), password)))
             .first;
  }
  return it->second;
}

// Checks the database at path (closed by the caller, no journal beside it).
// fixture names the test database it was made from; empty for a file our
// engine made from nothing, which may drift nowhere.
inline void expectIntegrity(const std::string& path, const std::string& password,
                            const std::string& fixture = {}) {
  IntegrityReport report;
  try {
    report = checkDatabaseFile(Env::system(), path, password);
  } catch (const Error& e) {
    ADD_FAILURE() << path << ": the check was refused: " << e.what();
    return;
  }
  std::string lines;
  for (const IntegrityProblem& p : report.problems) lines += formatProblem(p) + "\n";
  EXPECT_TRUE(report.sound()) << path << (fixture.empty() ? "" : " (from " + fixture + ")") << ":\n"
                              << lines;
  const Drifts expected = fixture.empty() ? Drifts{} : fixtureDrifts(fixture, password);
  const Drifts found = driftsOf(report);
  if (found != expected) {
    std::string text;
    for (const CountDrift& d : report.drifts)
      text += d.table + " " + d.count + ": stored " + std::to_string(d.stored) + ", actual " +
              std::to_string(d.actual) + "\n";
    ADD_FAILURE() << path << ": counts drift otherwise than in " << (fixture.empty() ? "a new file" : fixture)
                  << ":\n"
                  << text;
  }
}

// The whole report of a check of the database at path, in words (an Error
// as its message), with or without a second thread's help on every table of
// two data pages or more: a check with help must give the same.
inline std::string checkedInWords(const std::string& path, const std::string& password, bool helped) {
  try {
    JetDatabase db(Env::system(), path, true, password);
    CheckHelp help;
    if (helped) {
      help.opener = [&path] { return PageChannel::forOnePass(Env::system(), path); };
      help.fromTablePages = 2;
    }
    const IntegrityReport r = checkIntegrity(db.channel(), help);
    std::string out;
    for (const IntegrityProblem& p : r.problems) out += formatProblem(p) + "\n";
    out += "unlisted " + std::to_string(r.unlisted) + "\n";
    for (const CountDrift& d : r.drifts)
      out += d.table + " " + d.count + " " + std::to_string(d.stored) + "/" + std::to_string(d.actual) + "\n";
    for (const std::string& n : r.notVerified) out += n + "\n";
    return out;
  } catch (const Error& e) {
    return std::string("error: ") + e.what();
  }
}

}  // namespace engine::testutil
