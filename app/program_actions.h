// The buttons of the window program wired to the real operations: YEDEK AL
// to the backup, TABLO VE ALANLARI GÜNCELLE to the update run over the Jet
// engine. Every view's program uses these.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "engine/env.h"
#include "window/actions.h"
#include "window/model.h"

namespace app {

// Each action asks `programDirectory` afresh when it runs (the settings file
// and the backup are there; the programs pass settings::programDirectory).
// `quit` ends the program.
window::Actions programActions(window::Model& model, window::MessageService& messages,
                               engine::Env& env,
                               std::function<std::optional<std::string>()> programDirectory,
                               std::function<void()> quit);

}  // namespace app
