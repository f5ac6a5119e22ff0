// YEDEK AL: copy the database to a dated backup beside the program.
#pragma once

#include <ctime>
#include <string>

#include "engine/env.h"
#include "window/model.h"

namespace backup {

// "plx" + DDMMYYYYhhmmss + ".ocx" for the given local time.
std::string backupFileName(const std::tm& localTime);

// The action of the YEDEK AL button: reads the location from the settings
// beside programDir, copies the database to programDir/plx<stamp>.ocx, sets
// the backup flag, shows the success message and then turns the lamp green;
// any failure shows the failure message and changes nothing else. The copy is
// of the last committed state: a rollback journal left by a crash is rolled
// back first (engine/recovery.h), and the backup fails when it cannot be.
void yedekle(window::Model& model, window::MessageService& messages, engine::Env& env,
             const std::string& programDir);

}  // namespace backup
