#include "app/program_actions.h"

#include <memory>
#include <utility>

#include "backup/backup.h"
#include "engine/engine.h"
#include "schema/schema.h"

namespace app {

window::Actions programActions(window::Model& model, window::MessageService& messages,
                               engine::Env& env,
                               std::function<std::optional<std::string>()> programDirectory,
                               std::function<void()> quit) {
  window::Actions actions;
  actions.yedekle = [&model, &messages, &env, programDirectory] {
    backup::yedekle(model, messages, env, programDirectory());
  };
  actions.basla = [&model, &messages, &env, programDirectory] {
    std::unique_ptr<engine::Engine> engine = engine::makeJetEngine(env);
    schema::Context context{model, messages, *engine, programDirectory()};
    schema::basla(context);
  };
  actions.quit = std::move(quit);
  return actions;
}

}  // namespace app
