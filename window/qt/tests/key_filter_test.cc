#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTest>

#include "window/key_filter.h"
#include "window/qt/main_window.h"
#include "window/qt/testing/widget_helpers.h"

namespace {

TEST(SinirKeyFilter, KeyPressCodes) {
  EXPECT_EQ(window::keyPressCode("v", true), 22) << "Ctrl+V";
  EXPECT_EQ(window::keyPressCode("C", true), 3) << "Ctrl+Shift+C";
  EXPECT_EQ(window::keyPressCode("\x16", true), 22);
  EXPECT_EQ(window::keyPressCode("7", false), '7');
  EXPECT_EQ(window::keyPressCode(QString::fromUtf8("ş"), false), 0x015F);
  EXPECT_EQ(window::keyPressCode(QString::fromUtf8("😀"), false), '?');
}

class SinirBox : public ::testing::Test {
 protected:
  window::Model model;
  window::MainWindow view{model};
  QLineEdit* sinir = window::testing::child<QLineEdit>(view, "sinir");

  void SetUp() override {
    // The panel is hidden and disabled; to type into its box, enable it here.
    sinir->parentWidget()->setEnabled(true);
    sinir->parentWidget()->show();
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    sinir->setFocus();
    sinir->setText("");
    model.sinir.clear();
  }
};

TEST_F(SinirBox, DigitsAndCommaGoThroughOthersDoNot) {
  QTest::keyClicks(sinir, "1,0");
  EXPECT_EQ(sinir->text(), "1,0");
  QTest::keyClicks(sinir, "a .-x");
  QTest::keyClick(sinir, Qt::Key_Escape);
  for (const char* turkish : {"ğ", "İ", "ş"}) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString::fromUtf8(turkish));
    QApplication::sendEvent(sinir, &press);
  }
  EXPECT_EQ(sinir->text(), "1,0");
  EXPECT_EQ(model.sinir, "1,0");
  QTest::keyClick(sinir, Qt::Key_Backspace);
  EXPECT_EQ(sinir->text(), "1,");
  QTest::keyClick(sinir, Qt::Key_Home);
  QTest::keyClick(sinir, Qt::Key_Delete);
  EXPECT_EQ(sinir->text(), ",") << "keys without a character are not filtered";
  QTest::keyClick(sinir, Qt::Key_Return);
  EXPECT_EQ(sinir->text(), ",");
}

TEST_F(SinirBox, PasteAndProgramTextAreNotFiltered) {
  QApplication::clipboard()->setText("12ab");
  if (QApplication::clipboard()->text() != "12ab") GTEST_SKIP() << "no clipboard";
  QTest::keyClick(sinir, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(sinir->text(), "12ab");
  model.sinir = "100x";
  view.refresh();
  EXPECT_EQ(sinir->text(), "100x");
}

}  // namespace
