// Small helpers for the widget tests.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace window::testing {

// Waits (from the event loop of the box that is about to open) for the next
// modal message box, lets `inspect` look at it, and closes it with OK.
// Call before the code that opens the box.
inline void closeNextBox(std::function<void(QMessageBox&)> inspect) {
  auto* timer = new QTimer;
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, [timer, inspect = std::move(inspect)] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    timer->stop();
    timer->deleteLater();
    inspect(*box);
    box->button(QMessageBox::Ok)->click();
  });
  timer->start();
}

template <class W>
W* child(QWidget& parent, const char* name) {
  return parent.findChild<W*>(QString::fromLatin1(name));
}

}  // namespace window::testing
