// Test entry point: a QApplication on the offscreen platform, with the user's
// data and settings folders pointed at a private temporary folder, so no test
// ever reads or writes the real support folder or preferences.
#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <cstdlib>

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QTemporaryDir home;
  setenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8().constData(), 1);
  setenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8().constData(), 1);
  setenv("XDG_CACHE_HOME", (home.path() + "/cache").toUtf8().constData(), 1);
  if (!std::getenv("TZ")) setenv("TZ", "Europe/Paris", 1);
  if (!std::getenv("LANG")) setenv("LANG", "en_US.UTF-8", 1);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  QApplication::setOrganizationName("Pelliro");
  QApplication::setApplicationName("Vortely");
  return RUN_ALL_TESTS();
}
