// The program's wiring on the Qt window: YEDEK AL runs the real backup, its
// box shows over the current state, the lamp turns green only after the box
// is closed; before a backup TABLO VE ALANLARI GÜNCELLE only asks for one.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "app/program_actions.h"
#include "engine/testing/fake_env.h"
#include "window/qt/main_window.h"
#include "window/qt/testing/widget_helpers.h"

namespace {

namespace fs = std::filesystem;

TEST(ProgramButtons, BackupFirstThenItsMessageThenTheGreenLamp) {
  const fs::path dir = fs::temp_directory_path() / ("karvelta-window-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::ofstream(dir / "db.mdb") << "database bytes";
  std::ofstream(dir / "PLX.dll") << "[ayar]\nip=" << (dir / "db.mdb").string() << "\n";

  engine::testing::ForwardingEnv env;
  std::tm t{};
  t.tm_mday = 1;
  t.tm_mon = 2;
  t.tm_year = 127;
  t.tm_hour = 9;
  t.tm_min = 5;
  t.tm_sec = 7;
  env.setClock(t);

  window::Model model;
  window::MainWindow view(model);
  int quits = 0;
  view.setActions(app::programActions(model, view.messages(), env, [&] { return dir.string(); },
                                      [&] { ++quits; }));
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  auto lampColour = [&] {
    QWidget* lamp = window::testing::child<QWidget>(view, "renk");
    return lamp->grab().toImage().pixelColor(lamp->width() / 2, lamp->height() / 2);
  };

  std::string text;
  window::testing::closeNextBox([&](QMessageBox& box) { text = box.text().toStdString(); });
  window::testing::child<QPushButton>(view, "basla")->click();
  EXPECT_EQ(text, "ÖNCE VERİTABANINI YEDEK ALINIZ");
  EXPECT_TRUE(model.sonuc1.empty());

  QColor whileOpen;
  window::testing::closeNextBox([&](QMessageBox& box) {
    text = box.text().toStdString();
    whileOpen = lampColour();
  });
  window::testing::child<QPushButton>(view, "yedekle")->click();
  EXPECT_EQ(text, "VERİTABANI " + (dir / "plx01032027090507.ocx").string() + " DİZİNE YEDEKLENDİ ");
  EXPECT_EQ(whileOpen, QColor(255, 0, 0));
  EXPECT_EQ(lampColour(), QColor(0, 255, 0));
  EXPECT_EQ(model.backupFlag, 1);

  window::testing::child<QPushButton>(view, "kapat")->click();
  EXPECT_EQ(quits, 1);
  fs::remove_all(dir);
}

}  // namespace
