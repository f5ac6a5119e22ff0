// karvelta on Linux: the maintenance tool's one window, drawn with Qt.
//
// Starting the program shows the window and nothing else: no settings are
// read and no database is opened until a button is clicked.
#include <QApplication>

#include "app/program_actions.h"
#include "engine/env.h"
#include "settings/settings.h"
#include "window/model.h"
#include "window/qt/main_window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setStyle(QStringLiteral("Fusion"));

  window::Model model;
  window::MainWindow view(model);
  view.setActions(app::programActions(model, view.messages(), engine::Env::system(),
                                      settings::programDirectory,
                                      [] { QCoreApplication::quit(); }));
  view.show();
  return QApplication::exec();
}
