// karvelta on Windows: the maintenance tool's one window, native Win32.
//
// Starting the program shows the window and nothing else: no settings are
// read and no database is opened until a button is clicked. The program
// takes the system's dots per inch for the layout instead of letting the
// system stretch a 96-DPI picture of it.
#include <windows.h>

#include <commctrl.h>

#include "app/program_actions.h"
#include "engine/env.h"
#include "settings/settings.h"
#include "window/model.h"
#include "window/win32/main_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  SetProcessDPIAware();
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  window::Model model;
  window::win32::MainWindow view(model, instance);
  if (view.hwnd() == nullptr) return 1;
  view.setActions(app::programActions(model, view.messages(), engine::Env::system(),
                                      settings::programDirectory,
                                      [] { PostQuitMessage(0); }));
  view.show(showCommand);
  return window::win32::runMessageLoop(view);
}
