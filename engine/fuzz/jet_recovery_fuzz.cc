// libFuzzer target over interrupted changes: what a crash leaves (a database
// and its rollback journal), damaged as disks, copies and scanners damage
// files, then opened through the engine, recovered and checked.
//
// The input describes the files rather than holding them, so that inputs stay
// a few bytes long and the expected outcomes are known:
//   byte 0     the change (kOperations below), on
//   byte 1     one of the databases of fuzz_databases.h;
//   byte 2     the cut (kCuts: the nth write or flush fails, or the power goes
//              off after it, or halfway through it, losing what was not
//              flushed, of every file or of one of the two);
//   byte 3     the order of the three opens tried afterwards (read-write,
//              read-only, recoverDatabase);
//   bytes 4-5  n, little-endian, taken modulo the change's count of calls of
//              that kind, plus one;
//   then       damage, 5 bytes each: what (kDamage), a 24-bit offset
//              (little-endian) and a byte value.
// The change runs in memory (MemoryEnv) under FaultEnv, the damage is done to
// what it left, and then every open in turn must end in one of:
//   - a refusal (engine::Error) that leaves the database and the journal (or
//     its absence) byte for byte as they were;
//   - the database as it was before the change or as the uncut change left it
//     (computed once per change and database), and no journal; bytes of the
//     database the damage changed are left out of the comparison, since the
//     images before and after carry the same damage. Such a database passes
//     the integrity check when no damage is left in it;
//   - a read-only open that found nothing it could settle and left both files
//     as they were, having read a database that is before or after.
// Anything else, a crash, a sanitizer report or a hang is a finding.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "engine/engine.h"
#include "engine/error.h"
#include "engine/fuzz/fuzz_databases.h"
#include "engine/fuzz/memory_env.h"
#include "engine/integrity_check.h"
#include "engine/jet_database.h"
#include "engine/page_channel.h"
#include "engine/recovery.h"
#include "engine/row_appender.h"
#include "engine/testing/fault_env.h"

namespace {

using engine::Env;
using engine::FieldType;
using engine::fuzz::MemoryEnv;
using engine::testing::FaultEnv;
using Bytes = MemoryEnv::Bytes;

const std::string kPath = "/fuzz/db.mdb";
const std::string kJournal = engine::PageChannel::journalPath(kPath);

// The input being run, told with a finding.
std::string describeInput();

[[noreturn]] void finding(const char* what) {
  std::fprintf(stderr, "jet_recovery_fuzz: %s\n  input: %s\n", what, describeInput().c_str());
  __builtin_trap();
}

// --- the changes ---

struct NewFieldKind {
  FieldType type;
  const char* size;
};
constexpr std::array<NewFieldKind, 6> kNewFields{{{FieldType::Text, "80"},
                                                  {FieldType::Memo, ""},
                                                  {FieldType::Long, ""},
                                                  {FieldType::Boolean, ""},
                                                  {FieldType::Currency, ""},
                                                  {FieldType::DateTime, ""}}};
// rename, create a table, add a field of each kind, append rows with memos
constexpr int kOperations = 3 + static_cast<int>(kNewFields.size());

// Each change is one write transaction.
void runOperation(int op, Env& env, const std::string& password) {
  const std::string connect = ";pwd=" + password;
  if (op == kOperations - 1) {
    engine::JetDatabase db(env, kPath, false, password);
    engine::RowAppender out(db.channel(), db.table(engine::fuzz::kFuzzTable)->entry.tableDefinitionPage());
    static const std::size_t memoLengths[] = {20, 600, 3000, 9000};
    for (int i = 0; i < 4; ++i) out.append(engine::fuzz::fuzzRow(100 + i, memoLengths[i]));
    out.commit();
    return;
  }
  auto jet = engine::makeJetEngine(env);
  auto db = jet->openDatabase(kPath, false, false, connect);
  if (op == 0) {
    db->tableDef(engine::fuzz::kFuzzTable)->rename("kayiteski");
  } else if (op == 1) {
    engine::NewTableDef def = db->createTableDef("yeni");
    engine::NewField no = engine::createField("no", static_cast<int>(FieldType::Long));
    no.attributes = engine::kAutoIncrement;
    def.fields.push_back(no);
    db->appendTableDef(def);
  } else {
    const NewFieldKind& kind = kNewFields[static_cast<std::size_t>(op - 2)];
    engine::NewField field = engine::createField("eklenen", static_cast<int>(kind.type), kind.size);
    if (kind.type == FieldType::Text || kind.type == FieldType::Memo) field.allowZeroLength = true;
    db->tableDef(engine::fuzz::kFuzzTable)->appendField(field);
  }
}

bool sound(MemoryEnv& env, const std::string& password) {
  try {
    return engine::checkDatabaseFile(env, kPath, password).sound();
  } catch (const engine::Error&) {
    return false;
  }
}

// The uncut change on one database: its result and how many writes and
// flushes it makes.
struct Reference {
  Bytes after;
  int writes = 0;
  int syncs = 0;
};

Reference measure(int op, const engine::fuzz::FuzzDatabase& base) {
  MemoryEnv env(kPath, base.bytes);
  FaultEnv counting(env);
  counting.arm(FaultEnv::Kind::Write, FaultEnv::Mode::Fail, 1 << 30);  // counts, never fires
  runOperation(op, counting, base.password);
  Reference ref{env.contents(kPath), counting.writes(), counting.syncs()};
  if (env.exists(kJournal)) finding("the uncut change left its journal");
  if (ref.after == base.bytes) finding("the uncut change changed nothing");
  if (!sound(env, base.password)) finding("the uncut change left a database that fails the integrity check");
  return ref;
}

const Reference& reference(int op, std::size_t database) {
  static std::map<std::pair<int, std::size_t>, Reference> cache;
  const auto key = std::make_pair(op, database);
  auto it = cache.find(key);
  if (it != cache.end()) return it->second;
  const engine::fuzz::FuzzDatabase& base = engine::fuzz::fuzzDatabases()[database];
  {
    MemoryEnv env(kPath, base.bytes);
    if (!sound(env, base.password)) finding("a starting database fails the integrity check");
  }
  Reference ref = measure(op, base);
  // The outcomes are only known if the change writes the same bytes each time.
  if (measure(op, base).after != ref.after) finding("the uncut change is not deterministic");
  return cache.emplace(key, std::move(ref)).first->second;
}

// --- the cuts ---

enum class Loss { None, All, JournalOnly, DatabaseOnly };
struct CutKind {
  FaultEnv::Kind kind;
  FaultEnv::Mode mode;
  Loss loss;
};
constexpr std::array<CutKind, 12> kCuts{{
    {FaultEnv::Kind::Write, FaultEnv::Mode::Fail, Loss::None},
    {FaultEnv::Kind::Write, FaultEnv::Mode::CrashAfter, Loss::None},
    {FaultEnv::Kind::Write, FaultEnv::Mode::CrashAfter, Loss::All},
    {FaultEnv::Kind::Write, FaultEnv::Mode::CrashAfter, Loss::JournalOnly},
    {FaultEnv::Kind::Write, FaultEnv::Mode::CrashAfter, Loss::DatabaseOnly},
    {FaultEnv::Kind::Write, FaultEnv::Mode::TornCrash, Loss::None},
    {FaultEnv::Kind::Write, FaultEnv::Mode::TornCrash, Loss::All},
    {FaultEnv::Kind::Sync, FaultEnv::Mode::Fail, Loss::None},
    {FaultEnv::Kind::Sync, FaultEnv::Mode::CrashAfter, Loss::None},
    {FaultEnv::Kind::Sync, FaultEnv::Mode::CrashAfter, Loss::All},
    {FaultEnv::Kind::Sync, FaultEnv::Mode::CrashAfter, Loss::JournalOnly},
    {FaultEnv::Kind::Sync, FaultEnv::Mode::CrashAfter, Loss::DatabaseOnly},
}};

void interrupt(MemoryEnv& env, int op, const std::string& password, const CutKind& cut, int n) {
  FaultEnv faulty(env);
  switch (cut.loss) {
    case Loss::None: break;
    case Loss::All: faulty.loseUnsyncedOnCrash(true); break;
    case Loss::JournalOnly: faulty.loseUnsyncedOnlyOf([](const std::string& p) { return p == kJournal; }); break;
    case Loss::DatabaseOnly: faulty.loseUnsyncedOnlyOf([](const std::string& p) { return p == kPath; }); break;
  }
  faulty.arm(cut.kind, cut.mode, n);
  try {
    runOperation(op, faulty, password);
  } catch (const engine::Error&) {
    // the injected failure, rolled back in the process
  } catch (const engine::testing::SimulatedCrash&) {
  }
}

// --- the damage ---

enum Damage { JournalByte, JournalCut, JournalLengthened, JournalSector, DatabaseByte, kDamageKinds };
constexpr std::size_t kDamageSize = 5;
constexpr std::size_t kMaxDamage = 32;

// The damage done to the input being run, as (kind, offset or length, value,
// length of the file before), told with a finding.
struct DoneDamage {
  int what;
  std::uint64_t at;
  unsigned value;
  std::size_t fileSize;
};
std::vector<DoneDamage> doneDamage;

// Offsets of database bytes the damage changed.
std::vector<std::uint64_t> damage(MemoryEnv& env, std::span<const std::uint8_t> records) {
  std::vector<std::uint64_t> masked;
  doneDamage.clear();
  for (std::size_t r = 0; r + kDamageSize <= records.size() && r / kDamageSize < kMaxDamage; r += kDamageSize) {
    const std::uint8_t what = records[r] % kDamageKinds;
    const std::uint32_t offset = records[r + 1] | records[r + 2] << 8 | records[r + 3] << 16;
    const std::uint8_t value = records[r + 4];
    const bool journal = what != DatabaseByte;
    if (journal && what != JournalLengthened && !env.exists(kJournal)) continue;
    Bytes bytes = env.contents(journal ? kJournal : kPath);
    const std::size_t size = bytes.size();
    std::uint64_t at = 0;
    switch (what) {
      case JournalByte:
      case DatabaseByte:
        if (bytes.empty()) continue;
        at = offset % size;
        bytes[at] ^= value == 0 ? 0x80 : value;
        if (what == DatabaseByte) masked.push_back(at);
        break;
      case JournalCut:
        at = offset % (size + 1);
        bytes.resize(at);
        break;
      case JournalLengthened:
        at = 1 + offset % 8192;
        bytes.resize(size + at, value);
        break;
      case JournalSector:
        if (bytes.empty()) continue;
        // A sector of the disk lost: 512 bytes, from a multiple of 512.
        at = (offset % size) / 512 * 512;
        std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                  bytes.begin() + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(size, at + 512)), value);
        break;
    }
    doneDamage.push_back({what, at, value, size});
    env.put(journal ? kJournal : kPath, bytes);
  }
  std::sort(masked.begin(), masked.end());
  masked.erase(std::unique(masked.begin(), masked.end()), masked.end());
  return masked;
}

// Whether a equals b in every byte the damage left alone. Compared a page
// at a time, so that bytes are looked at one by one only where pages differ.
bool sameBut(const Bytes& a, const Bytes& b, const std::vector<std::uint64_t>& masked) {
  if (a.size() != b.size()) return false;
  for (std::size_t start = 0; start < a.size(); start += engine::kPageSize) {
    const std::size_t length = std::min(engine::kPageSize, a.size() - start);
    if (std::memcmp(a.data() + start, b.data() + start, length) == 0) continue;
    for (std::size_t at = start; at < start + length; ++at)
      if (a[at] != b[at] && !std::binary_search(masked.begin(), masked.end(), std::uint64_t{at})) return false;
  }
  return true;
}

// --- the opens ---

enum class Open { ReadWrite, ReadOnly, Recover };
constexpr std::array<std::array<Open, 3>, 6> kOrders{{
    {Open::ReadWrite, Open::ReadOnly, Open::Recover},
    {Open::ReadWrite, Open::Recover, Open::ReadOnly},
    {Open::ReadOnly, Open::ReadWrite, Open::Recover},
    {Open::ReadOnly, Open::Recover, Open::ReadWrite},
    {Open::Recover, Open::ReadWrite, Open::ReadOnly},
    {Open::Recover, Open::ReadOnly, Open::ReadWrite},
}};

struct Files {
  Bytes database;
  std::optional<Bytes> journal;
  bool operator==(const Files&) const = default;
};
Files filesOf(MemoryEnv& env) {
  Files f{env.contents(kPath), std::nullopt};
  if (env.exists(kJournal)) f.journal = env.contents(kJournal);
  return f;
}

// Returns whether the open was refused.
bool attempt(MemoryEnv& env, Open open, const std::string& password) {
  try {
    if (open == Open::Recover) {
      (void)engine::recoverDatabase(env, kPath);
      return false;
    }
    auto jet = engine::makeJetEngine(env);
    auto db = jet->openDatabase(kPath, false, open == Open::ReadOnly, ";pwd=" + password);
    try {
      (void)db->tableNames();
    } catch (const engine::Error&) {
      // damage of the catalog, which the change did not make
    }
    return false;
  } catch (const engine::Error&) {
    return true;
  }
}

void checkOpen(MemoryEnv& env, Open open, const std::string& password, const Bytes& before, const Bytes& after,
               const std::vector<std::uint64_t>& masked) {
  const Files was = filesOf(env);
  const bool refused = attempt(env, open, password);
  const Files now = filesOf(env);
  if (!was.journal && now.database != was.database) finding("an open without a journal changed the database");
  const bool whole = sameBut(now.database, before, masked) || sameBut(now.database, after, masked);
  if (now.journal) {
    // Left as it was: by a refusal, or by a read-only open that could not
    // remove the journal of a change that is whole.
    if (now != was) finding("an open that kept the journal changed the files");
    if (!refused && (open != Open::ReadOnly || !whole))
      finding("an open went on beside a journal it did not settle");
    return;
  }
  // The header's check or the password may refuse after the journal was
  // settled: what counts is what the files are now.
  if (!whole) finding("the database is neither as before the change nor as after it");
}

// After the opens. A settled database that is byte for byte as before or as
// after passes the integrity check: both images were checked once, in
// reference(). One with damage left in it is checked too, and the check must
// merely not crash.
void checkSettled(MemoryEnv& env, const std::string& password, const Bytes& before, const Bytes& after) {
  if (env.exists(kJournal)) return;
  const Bytes now = env.contents(kPath);
  if (now != before && now != after) (void)sound(env, password);
}

std::span<const std::uint8_t> current;  // the input being run
int currentN = 0;                        // its cut's n, once known
const char* const kOperationNames[kOperations] = {
    "rename a table", "create a table", "add a text field", "add a memo field", "add a long field",
    "add a yes/no field", "add a currency field", "add a date field", "append rows with memos"};
const char* const kCutNames[kCuts.size()] = {
    "write fails", "crash after write", "crash after write, unflushed lost",
    "crash after write, unflushed journal lost", "crash after write, unflushed database lost",
    "torn write", "torn write, unflushed lost", "flush fails", "crash after flush",
    "crash after flush, unflushed lost", "crash after flush, unflushed journal lost",
    "crash after flush, unflushed database lost"};
const char* const kDamageNames[kDamageKinds] = {"journal byte xor at", "journal cut to", "journal lengthened by",
                                                "journal sector filled at", "database byte xor at"};

std::string describeInput() {
  const auto in = current;
  if (in.size() < 6) return "(none)";
  std::string out = std::string(kOperationNames[in[0] % kOperations]) + " on database '" +
                    engine::fuzz::fuzzDatabases()[in[1] % engine::fuzz::fuzzDatabases().size()].name + "', " +
                    kCutNames[in[2] % kCuts.size()] + " n=" + std::to_string(currentN) + ", opens order " +
                    std::to_string(in[3] % kOrders.size());
  for (const DoneDamage& d : doneDamage)
    out += "; " + std::string(kDamageNames[d.what]) + " " + std::to_string(d.at) + " (value " +
           std::to_string(d.value) + ", file of " + std::to_string(d.fileSize) + " bytes)";
  return out;
}

void recoverInterrupted(std::span<const std::uint8_t> input) {
  current = input;
  currentN = 0;
  doneDamage.clear();
  if (input.size() < 6) return;
  const int op = input[0] % kOperations;
  const std::size_t database = input[1] % engine::fuzz::fuzzDatabases().size();
  const CutKind& cut = kCuts[input[2] % kCuts.size()];
  const auto& order = kOrders[input[3] % kOrders.size()];
  const unsigned raw = input[4] | input[5] << 8;

  const engine::fuzz::FuzzDatabase& base = engine::fuzz::fuzzDatabases()[database];
  const Reference& ref = reference(op, database);
  const int calls = cut.kind == FaultEnv::Kind::Write ? ref.writes : ref.syncs;
  if (calls == 0) return;
  const int n = 1 + static_cast<int>(raw % static_cast<unsigned>(calls));
  currentN = n;

  MemoryEnv env(kPath, base.bytes);
  interrupt(env, op, base.password, cut, n);
  const std::vector<std::uint64_t> masked = damage(env, input.subspan(6));
  for (Open open : order) checkOpen(env, open, base.password, base.bytes, ref.after, masked);
  checkSettled(env, base.password, base.bytes, ref.after);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  recoverInterrupted(std::span<const std::uint8_t>(data, size));
  return 0;
}
