// What the buttons of the window start, for every view.
//
// A view calls the action of a button when it is clicked (with the mouse or
// from the keyboard), waits for it to end, and then shows the model again.
#pragma once

#include <functional>

#include "window/layout.h"

namespace window {

struct Actions {
  std::function<void()> yedekle;  // YEDEK AL
  std::function<void()> basla;    // TABLO VE ALANLARI GÜNCELLE
  std::function<void()> quit;     // KAPAT and closing the window
};

// The action of a button's command; nullptr for a button that starts none.
inline const std::function<void()>* actionFor(const Actions& actions, layout::Command command) {
  switch (command) {
    case layout::Command::Yedekle: return &actions.yedekle;
    case layout::Command::Basla: return &actions.basla;
    case layout::Command::Kapat: return &actions.quit;
    case layout::Command::None: return nullptr;
  }
  return nullptr;
}

// Runs an action to its end. The operations report their own failures; an
// exception that still escapes one ends here, not in the window system's
// event handling. An empty action does nothing.
inline void runAction(const std::function<void()>& action) noexcept {
  if (!action) return;
  try {
    action();
  } catch (...) {
  }
}

}  // namespace window
