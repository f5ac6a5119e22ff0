#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QKeyEvent>
#include <QTest>
#include <map>
#include <string>
#include <vector>

#include "window/qt/main_window.h"
#include "window/model.h"
#include "window/qt/testing/widget_helpers.h"
#include "window/testing/expected_layout.h"

namespace {

using window::testing::child;
using window::testing::closeNextBox;
using window::testing::expectedLayout;

class Window : public ::testing::Test {
 protected:
  window::Model model;
  window::MainWindow view{model};

  QLabel* labelNamed(const char* name) { return child<QLabel>(view, name); }
  QColor pixelAt(const QImage& image, int twipsX, int twipsY) {
    return image.pixelColor(twipsX / 15, twipsY / 15);
  }
};

TEST_F(Window, ClientAreaTitleAndPosition) {
  EXPECT_EQ(view.windowTitle(), "KARVELTA");
  EXPECT_EQ(view.size(), QSize(964, 332));
  EXPECT_EQ(view.minimumSize(), QSize(964, 332)) << "not resizable";
  EXPECT_EQ(view.maximumSize(), QSize(964, 332)) << "not resizable";
  EXPECT_FALSE(view.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
  const QRect screen = view.screen()->availableGeometry();
  EXPECT_LE(std::abs(view.geometry().center().x() - screen.center().x()), 1);
  EXPECT_LE(std::abs(view.geometry().center().y() - screen.center().y()), 1);
}

TEST_F(Window, EveryControlAtItsPlace) {
  for (const auto& [name, box] : expectedLayout()) {
    SCOPED_TRACE(name);
    auto* w = view.findChild<QWidget*>(QString::fromStdString(name));
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->geometry(), QRect(box.left / 15, box.top / 15, box.width / 15, box.height / 15));
  }
  auto* frame = child<QGroupBox>(view, "Frame1");
  for (const char* inPanel : window::testing::kPanelControls)
    EXPECT_EQ(view.findChild<QWidget*>(QString::fromLatin1(inPanel))->parentWidget(), frame)
        << inPanel;
  // KAPAT reaches 5 pixels past the right and bottom edges; sonuc1 far below.
  EXPECT_EQ(child<QWidget>(view, "kapat")->geometry().right() + 1, 969);
  EXPECT_EQ(child<QWidget>(view, "kapat")->geometry().bottom() + 1, 337);
  EXPECT_EQ(child<QWidget>(view, "sonuc1")->geometry().bottom() + 1, 528);
}

TEST_F(Window, CaptionsAndStartState) {
  for (const auto& [name, text] : window::testing::expectedCaptions()) {
    QWidget* w = child<QWidget>(view, name.c_str());
    ASSERT_NE(w, nullptr) << name;
    QString shown;
    if (auto* l = qobject_cast<QLabel*>(w)) shown = l->text();
    if (auto* b = qobject_cast<QPushButton*>(w)) shown = b->text();
    if (auto* g = qobject_cast<QGroupBox*>(w)) shown = g->title();
    EXPECT_EQ(shown.toStdString(), text) << name;
  }

  EXPECT_EQ(child<QListWidget>(view, "sonuc")->count(), 0);
  EXPECT_EQ(child<QListWidget>(view, "sonuc1")->count(), 0);
  EXPECT_EQ(child<QLineEdit>(view, "sinir")->text(), "50");
  for (const char* empty : {"tabloismi", "alanismi", "sorgu"})
    EXPECT_TRUE(child<QLineEdit>(view, empty)->text().isEmpty()) << empty;
  auto* verituru = child<QComboBox>(view, "verituru");
  EXPECT_FALSE(verituru->isEditable());
  EXPECT_EQ(verituru->currentIndex(), -1);
  ASSERT_EQ(verituru->count(), 6);
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(verituru->itemText(i).toStdString(), window::testing::kDataTypeItems[i]);

  view.show();
  EXPECT_TRUE(QTest::qWaitForWindowExposed(&view));
  auto* frame = child<QGroupBox>(view, "Frame1");
  EXPECT_FALSE(frame->isVisible());
  EXPECT_FALSE(frame->isEnabled());
  for (const char* disabled : {"tabloolustur", "sorguolusturma", "kontrolet"})
    EXPECT_FALSE(child<QWidget>(view, disabled)->isEnabled()) << disabled;
  for (const char* enabled : {"yedekle", "basla", "kapat", "sonuc", "sonuc1"})
    EXPECT_TRUE(child<QWidget>(view, enabled)->isEnabled()) << enabled;
}

TEST_F(Window, Fonts) {
  struct Expected {
    const char* name;
    const char* family;
    double points;
    bool bold;
  };
  const std::vector<Expected> fonts = {
      {"Label2_0", "Liberation Sans", 13.5, true},
      {"Label2_1", "Liberation Sans Narrow", 9.75, true},
      {"Label2_2", "Liberation Sans Narrow", 9.75, true},
      {"Label2_9", "Liberation Sans", 15.75, true},
      {"Label3_0", "Liberation Sans", 24, true},
      {"Label3_1", "Liberation Sans", 24, true},
      {"basla", "Liberation Sans", 8.25, true},
      {"Label2_3", "Liberation Sans", 14.25, false},
      {"say1", "Liberation Sans", 14.25, false},
      {"Label2_8", "Liberation Sans", 14.25, false},
      {"say6", "Liberation Sans", 14.25, false},
      {"tabloolustur", "Liberation Sans Narrow", 8.25, false},
      {"sinir", "Liberation Sans", 9.75, false},
      {"sorguolusturma", "Liberation Sans Narrow", 8.25, false},
  };
  for (const Expected& e : fonts) {
    SCOPED_TRACE(e.name);
    const QFont f = child<QWidget>(view, e.name)->font();
    EXPECT_EQ(f.family().toStdString(), e.family);
    EXPECT_DOUBLE_EQ(f.pointSizeF(), e.points);
    EXPECT_EQ(f.bold(), e.bold);
    EXPECT_FALSE(f.italic() || f.underline() || f.strikeOut());
    // The face is installed, not silently replaced by another.
    EXPECT_EQ(QFontInfo(f).family().toStdString(), e.family);
  }
  EXPECT_TRUE(child<QWidget>(view, "Label2_9")->property("wordWrap").toBool());
}

TEST_F(Window, ColoursAndAlignment) {
  auto face = [&](const char* name) {
    return child<QWidget>(view, name)->palette().color(QPalette::Button);
  };
  EXPECT_EQ(face("yedekle"), QColor(128, 255, 128));
  EXPECT_EQ(face("tabloolustur"), QColor(128, 255, 128));
  EXPECT_EQ(face("sorguolusturma"), QColor(128, 255, 128));
  EXPECT_EQ(face("kontrolet"), QColor(255, 128, 128));
  EXPECT_EQ(face("kapat"), QColor(255, 0, 0));
  EXPECT_EQ(labelNamed("Label3_0")->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  EXPECT_EQ(labelNamed("Label3_1")->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  EXPECT_EQ(child<QWidget>(view, "Frame1")->palette().color(QPalette::Window),
            QColor(192, 192, 192));
  EXPECT_TRUE(labelNamed("Label2_0")->alignment().testFlag(Qt::AlignHCenter));
  EXPECT_TRUE(labelNamed("Label2_9")->alignment().testFlag(Qt::AlignHCenter));
  EXPECT_TRUE(labelNamed("Label2_3")->alignment().testFlag(Qt::AlignLeft));
  EXPECT_TRUE(labelNamed("say1")->alignment().testFlag(Qt::AlignRight));
}

TEST_F(Window, FocusStartsOnSonucAndFollowsTheTabColumn) {
  view.show();
  view.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
  EXPECT_EQ(QApplication::focusWidget(), child<QWidget>(view, "sonuc"));

  // The whole chain, hidden panel included.
  const std::vector<std::string> chain(std::begin(window::testing::kFocusChain),
                                       std::end(window::testing::kFocusChain));
  QWidget* w = child<QWidget>(view, "sonuc");
  for (std::size_t i = 1; i < chain.size(); ++i) {
    w = w->nextInFocusChain();
    while (w->focusPolicy() == Qt::NoFocus) w = w->nextInFocusChain();
    EXPECT_EQ(w->objectName().toStdString(), chain[i]);
  }

  // What Tab reaches on the shown window: the panel's controls are skipped.
  std::vector<std::string> reached;
  for (int i = 0; i < 5; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    reached.push_back(QApplication::focusWidget()->objectName().toStdString());
  }
  EXPECT_EQ(reached, (std::vector<std::string>{"basla", "yedekle", "kapat", "sonuc1", "sonuc"}));
}

TEST_F(Window, ViewFollowsTheModel) {
  model.sonuc = {"TABLO ADI :fisno"};
  model.sonuc1 = {"TABLO ADI :satislar", "TABLO ADI :satislar SUTUN ADI :urun METİN"};
  model.say = {"1", "2", "3", "4", "5", "6"};
  model.tabloismi = "satislar";
  model.sinir = "100";
  model.verituruIndex = 3;
  model.renk = window::kGreen;
  view.refresh();
  EXPECT_EQ(child<QListWidget>(view, "sonuc")->count(), 1);
  ASSERT_EQ(child<QListWidget>(view, "sonuc1")->count(), 2);
  EXPECT_EQ(child<QListWidget>(view, "sonuc1")->item(1)->text().toStdString(),
            "TABLO ADI :satislar SUTUN ADI :urun METİN");
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(labelNamed(("say" + std::to_string(i + 1)).c_str())->text(),
              QString::number(i + 1));
  EXPECT_EQ(child<QLineEdit>(view, "tabloismi")->text(), "satislar");
  EXPECT_EQ(child<QLineEdit>(view, "sinir")->text(), "100");
  EXPECT_EQ(child<QComboBox>(view, "verituru")->currentText().toStdString(), "PARA BİRİMİ");

  // The update run empties the lists.
  model.sonuc.clear();
  model.sonuc1 = {"other"};
  view.refresh();
  EXPECT_EQ(child<QListWidget>(view, "sonuc")->count(), 0);
  ASSERT_EQ(child<QListWidget>(view, "sonuc1")->count(), 1);
  EXPECT_EQ(child<QListWidget>(view, "sonuc1")->item(0)->text(), "other");

  // Edits in a text box go into the model (the panel opened for the test).
  child<QWidget>(view, "Frame1")->setEnabled(true);
  auto* alanismi = child<QLineEdit>(view, "alanismi");
  QTest::keyClicks(alanismi, "fiyat");
  EXPECT_EQ(model.alanismi, "fiyat");
}

TEST_F(Window, MessageBoxShowsOverCurrentState) {
  bool inspected = false;
  view.setActions({.yedekle = {},
                   .basla =
                       [&] {
                         model.sonuc1.push_back("TABLO ADI :fisno");
                         model.say[0] = "1";
                         view.messages().show(" Güncelleme Bitti   ");
                       },
                   .quit = {}});
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  closeNextBox([&](QMessageBox& box) {
    EXPECT_EQ(box.windowTitle(), "KARVELTA");
    EXPECT_EQ(box.text().toStdString(), " Güncelleme Bitti   ");
    EXPECT_EQ(box.icon(), QMessageBox::NoIcon);
    EXPECT_EQ(box.buttons().size(), 1);
    EXPECT_NE(box.button(QMessageBox::Ok), nullptr);
    EXPECT_TRUE(box.isModal());
    // Behind the box the window shows the results already.
    EXPECT_EQ(child<QListWidget>(view, "sonuc1")->count(), 1);
    EXPECT_EQ(labelNamed("say1")->text(), "1");
    inspected = true;
  });
  child<QPushButton>(view, "basla")->click();
  EXPECT_TRUE(inspected);
}

TEST_F(Window, KapatAndTheCloseBoxQuitAtOnce) {
  int quits = 0;
  view.setActions({.yedekle = {}, .basla = {}, .quit = [&] { ++quits; }});
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  QTest::mouseClick(child<QPushButton>(view, "kapat"), Qt::LeftButton, {}, QPoint(20, 20));
  EXPECT_EQ(quits, 1);
  EXPECT_TRUE(view.close());
  EXPECT_EQ(quits, 2);
}

TEST_F(Window, SpaceAndEnterClickTheFocusedButton) {
  int backups = 0, runs = 0, quits = 0;
  view.setActions({.yedekle = [&] { ++backups; }, .basla = [&] { ++runs; },
                   .quit = [&] { ++quits; }});
  view.show();
  view.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
  auto* yedekle = child<QPushButton>(view, "yedekle");
  auto* basla = child<QPushButton>(view, "basla");
  yedekle->setFocus();
  QTest::keyClick(yedekle, Qt::Key_Space);
  EXPECT_EQ(backups, 1) << "Space";
  QTest::keyClick(yedekle, Qt::Key_Return);
  EXPECT_EQ(backups, 2) << "Return";
  QTest::keyClick(yedekle, Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(backups, 3) << "Enter on the keypad";
  // Only the focused button runs, and only once per key.
  basla->setFocus();
  QTest::keyClick(basla, Qt::Key_Return);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(backups, 3);
  // Enter with a modifier is no click; a disabled button takes no Enter.
  QTest::keyClick(basla, Qt::Key_Return, Qt::ControlModifier);
  EXPECT_EQ(runs, 1);
  auto* kapat = child<QPushButton>(view, "kapat");
  kapat->setFocus();
  QTest::keyClick(kapat, Qt::Key_Return);
  EXPECT_EQ(quits, 1);
  child<QWidget>(view, "Frame1")->setEnabled(true);
  auto* tabloolustur = child<QPushButton>(view, "tabloolustur");
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(tabloolustur, &enter);
  EXPECT_EQ(backups + runs + quits, 5);
}

TEST_F(Window, ScreenshotShowsTheLayout) {
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  QImage shot = view.grab().toImage();
  ASSERT_EQ(shot.size(), QSize(964, 332));
  const QString path = QStringLiteral(KARVELTA_SCREENSHOT_DIR "/karvelta-window.png");
  EXPECT_TRUE(shot.save(path)) << path.toStdString();

  EXPECT_EQ(pixelAt(shot, 13680 + 307, 307), QColor(255, 0, 0)) << "lamp red";
  // Button faces, taken near the left edge where no caption is drawn.
  auto near = [](QColor a, QColor b) {
    return std::abs(a.red() - b.red()) < 40 && std::abs(a.green() - b.green()) < 40 &&
           std::abs(a.blue() - b.blue()) < 40;
  };
  EXPECT_TRUE(near(pixelAt(shot, 9840 + 90, 600 + 150), QColor(128, 255, 128)))
      << "YEDEK AL light green";
  EXPECT_TRUE(near(pixelAt(shot, 9840 + 120, 4440 + 300), QColor(255, 0, 0))) << "KAPAT red";
  // Where the panel would show, KAPAT stands; the panel itself is not drawn.
  EXPECT_NE(pixelAt(shot, 9840 + 60, 4440 + 500), QColor(192, 192, 192));

  model.renk = window::kGreen;
  view.refresh();
  shot = view.grab().toImage();
  EXPECT_EQ(pixelAt(shot, 13680 + 307, 307), QColor(0, 255, 0)) << "lamp green";
}

}  // namespace
