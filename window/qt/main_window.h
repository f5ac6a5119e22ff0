// The Qt view of the main window `anaform`.
//
// The window shows a window::Model and nothing else: it makes one widget per
// row of the shared layout (window/layout.h), every button action works on
// the model, and refresh() brings the widgets up to date with it, after each
// action and before every message box (so what stands behind a message is
// current). Edits in the text boxes go straight into the model.
#pragma once

#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "window/actions.h"
#include "window/layout.h"
#include "window/model.h"

class QComboBox;
class QLineEdit;
class QListWidget;
class QLabel;

namespace window {

class Lamp;

class MainWindow final : public QWidget {
 public:
  explicit MainWindow(Model& model, QWidget* parent = nullptr);
  ~MainWindow() override;

  // An empty quit action ends the event loop (QCoreApplication::quit).
  void setActions(Actions actions);
  Model& model() { return model_; }

  // The message boxes of this window: refresh, then a modal box.
  MessageService& messages();

  // Shows the model's state in the widgets.
  void refresh();

  // Places the window in the middle of its screen.
  void centreOnScreen();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* make(const layout::Control& control, QWidget* parent);
  void bind(const layout::Control& control, QWidget* widget);
  void run(layout::Command command);

  Model& model_;
  Actions actions_;
  std::unique_ptr<MessageService> messages_;

  QListWidget* sonuc_ = nullptr;
  QListWidget* sonuc1_ = nullptr;
  std::array<QLabel*, 6> say_{};
  Lamp* renk_ = nullptr;
  QLineEdit* tabloismi_ = nullptr;
  QLineEdit* alanismi_ = nullptr;
  QLineEdit* sinir_ = nullptr;
  QLineEdit* sorgu_ = nullptr;
  QComboBox* verituru_ = nullptr;
};

// Shows `text` in a modal box over `parent`: title "KARVELTA", no icon, one
// OK button. Returns when the box is closed.
void showMessageBox(QWidget* parent, const std::string& text);

// The character code a key press with this text and modifiers gives the key
// filter: the Ctrl+letter codes 1 to 26 for a letter with Ctrl, otherwise the
// character's own code (characters outside 16 bits give '?').
std::int16_t keyPressCode(const QString& text, bool control);

}  // namespace window
