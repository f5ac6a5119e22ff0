// YEDEK AL on the real window: the box over the current state, the lamp
// turning green only after the box is closed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "backup/backup.h"
#include "engine/testing/fake_env.h"
#include "window/main_window.h"
#include "window/tests/widget_helpers.h"

namespace {

namespace fs = std::filesystem;

TEST(BackupButton, MessageThenGreenLamp) {
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
  view.setActions({.yedekle = [&] { backup::yedekle(model, view.messages(), env, dir.string()); },
                   .basla = {},
                   .quit = {}});
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  auto lampColour = [&] {
    QWidget* lamp = window::testing::child<QWidget>(view, "renk");
    return lamp->grab().toImage().pixelColor(lamp->width() / 2, lamp->height() / 2);
  };

  std::string text;
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
  fs::remove_all(dir);
}

}  // namespace
