#include "backup/backup.h"

#include <unistd.h>

#include <cstdio>
#include <memory>

#include "engine/error.h"
#include "engine/in_use.h"
#include "engine/lock.h"
#include "engine/recovery.h"
#include "settings/settings.h"

namespace backup {
namespace {

constexpr const char* kFailed =
    "TÜM PROGRAMLARI KAPATIP. TEKRAR DENEYİN.GÖREV YÖNETİCİSİNDE SATIŞ PROGRAMI KAPALI OLMALIDIR";

std::string joinPath(const std::string& dir, const std::string& name) {
  if (!dir.empty() && dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

// Copies source to destination through a temporary file beside the
// destination, so that the destination name appears only for a complete,
// flushed copy. Throws engine::Error on any failure, leaving no file behind.
//
// The copy is of the database's last committed state: a rollback journal
// left by an interrupted change is rolled back first, and when that cannot be
// done the backup fails rather than copy a half-written file. While it
// copies, this process holds the database's lock where it can be taken, so
// that no connection of ours starts a change underneath the copy.
void copyDatabase(engine::Env& env, const std::string& source, const std::string& programDir,
                  const std::string& name) {
  if (source.empty()) throw engine::Error("no database location in the settings");
  if (!env.exists(source)) throw engine::Error("the database '" + source + "' does not exist");
  if (engine::isInUseElsewhere(env, source))
    throw engine::Error("the database '" + source + "' is held open by another program");
  const std::shared_ptr<engine::DatabaseLock> lock =
      engine::DatabaseLock::acquire(env, source, false);
  if (!lock->held() && engine::isInUseElsewhere(env, source))
    throw engine::Error("the database '" + source + "' is held open by another program");
  engine::recoverDatabase(env, source);
  const std::string destination = joinPath(programDir, name);
  if (env.exists(destination)) throw engine::Error("'" + destination + "' exists already");

  const std::string temporary =
      joinPath(programDir, "." + name + "." + std::to_string(::getpid()) + ".tmp");
  std::unique_ptr<engine::File> from = env.open(source, engine::OpenMode::ReadOnly);
  std::unique_ptr<engine::File> to = env.open(temporary, engine::OpenMode::CreateNew);
  bool renamed = false;
  try {
    env.copyFileContents(*from, *to);
    to->sync();
    to.reset();
    from.reset();
    env.renameNoReplace(temporary, destination);
    renamed = true;
    env.syncDirectory(programDir);
  } catch (...) {
    to.reset();
    // Best effort: the failure that brought us here is the one to report.
    try {
      env.remove(renamed ? destination : temporary);
    } catch (const engine::Error&) {
    }
    throw;
  }
}

}  // namespace

std::string backupFileName(const std::tm& t) {
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%02d%02d%04d%02d%02d%02d", t.tm_mday, t.tm_mon + 1,
                t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
  return std::string("plx") + stamp + ".ocx";
}

void yedekle(window::Model& model, window::MessageService& messages, engine::Env& env,
             const std::string& programDir) {
  std::string destination;
  try {
    const std::string source = settings::databaseLocation(programDir);
    const std::string name = backupFileName(env.localTime());
    destination = joinPath(programDir, name);
    copyDatabase(env, source, programDir, name);
  } catch (const std::exception&) {
    messages.show(kFailed);
    return;
  }
  model.backupFlag = 1;
  messages.show("VERİTABANI " + destination + " DİZİNE YEDEKLENDİ ");
  model.renk = window::kGreen;
}

}  // namespace backup
