// Shared main of the test programs: one QApplication, offscreen unless a
// display platform was chosen (test discovery runs without ctest's environment).

#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <cstdlib>

int main(int argc, char **argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  QApplication app(argc, argv);
  // Preferences the programs keep go to a folder of this run, never the
  // user's own nor another test program's running beside it.
  const QTemporaryDir preferences;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, preferences.path());
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, preferences.path());
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
