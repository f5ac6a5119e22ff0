// karvelta: the maintenance tool's one window.
//
// Starting the program shows the window and nothing else: no settings are
// read and no database is opened until a button is clicked.
#include <QApplication>
#include <memory>
#include <string>

#include "backup/backup.h"
#include "engine/env.h"
#include "settings/settings.h"
#include "window/main_window.h"
#include "window/model.h"

#ifdef KARVELTA_HAVE_SCHEMA
#include "engine/engine.h"
#include "schema/schema.h"
#endif

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setStyle(QStringLiteral("Fusion"));

  window::Model model;
  window::MainWindow view(model);
  window::MessageService& messages = view.messages();
  engine::Env& env = engine::Env::system();

  window::Actions actions;
  actions.yedekle = [&] { backup::yedekle(model, messages, env, settings::programDirectory()); };
  actions.basla = [&] {
#ifdef KARVELTA_HAVE_SCHEMA
    std::unique_ptr<engine::Engine> engine = engine::makeJetEngine(env);
    schema::Context context{model, messages, *engine, settings::programDirectory()};
    schema::basla(context);
#else
    // Built without the schema routines: only their first guard.
    if (model.backupFlag == 0) messages.show("ÖNCE VERİTABANINI YEDEK ALINIZ");
#endif
  };
  actions.quit = [] { QCoreApplication::quit(); };
  view.setActions(std::move(actions));

  view.show();
  return QApplication::exec();
}
