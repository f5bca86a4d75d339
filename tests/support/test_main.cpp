// Shared main of the test programs: one QApplication, offscreen unless a
// display platform was chosen (test discovery runs without ctest's environment).

#include <gtest/gtest.h>

#include <QApplication>
#include <QStandardPaths>

#include <cstdlib>

int main(int argc, char **argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  QApplication app(argc, argv);
  // Preferences the programs keep go to a test folder, never the user's own.
  QStandardPaths::setTestModeEnabled(true);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
