// The broadcast driver under the main window: its buttons and menus while a
// broadcast runs.

#include "broadcaster_test_support.h"
#include "driver_test_support.h"

#include <QPushButton>

using namespace broadcaster_testing;

namespace {

// The same station, shown in the main window.
class DriverInWindowTest : public DriverTest {
protected:
  void SetUp() override {
    DriverTest::SetUp();
    dialog_.install(window_);
  }

  ScriptedDialog dialog_;
  MainWindow window_{station_};
};

} // namespace

TEST_F(DriverInWindowTest, SecondStartWhileRunningIsIgnored) {
  openSession(2);
  auto *start = window_.findChild<QPushButton *>(QStringLiteral("btnStartStream"));
  ASSERT_NE(start, nullptr);
  int nested_starts = 0;
  QObject::connect(&driver_, &BroadcastDriver::videoStarting, &driver_, [&](const QString &) {
    if (nested_starts++ == 0) {
      start->click();
      driver_.RunBroadcast();
    }
  });
  stopAfterPlays(2);
  QSignalSpy ended(&driver_, &BroadcastDriver::ended);
  start->click();
  ASSERT_TRUE(ended.wait(30000));
  EXPECT_EQ(ended.count(), 1);
  EXPECT_EQ(plays_, 2);
  EXPECT_EQ(server_.sourceConnectionCount(), 1);
}

TEST_F(DriverInWindowTest, SessionCommandsAreRefusedWhileBroadcasting) {
  openSession(2);
  QString refusal;
  QObject::connect(&driver_, &BroadcastDriver::videoStarting, &driver_, [&](const QString &) {
    if (refusal.isEmpty()) {
      window_.fileNew();
      refusal = window_.errorWindow() ? window_.errorWindow()->message() : QString();
      window_.fileOpen();
    }
  });
  stopAfterPlays(1);
  runBroadcast();
  EXPECT_TRUE(refusal.contains("broadcast is running")) << refusal.toStdString();
  EXPECT_EQ(dialog_.shown(), 0);
  EXPECT_EQ(window_.sessionPath(), session_path_);
}

TEST_F(DriverInWindowTest, ExitDuringABroadcastStopsEverythingAndSaves) {
  openSession(2);
  // A folder made during the broadcast reaches the file through Exit's save.
  QObject::connect(&driver_, &BroadcastDriver::videoStarting, &driver_, [&](const QString &) {
    document().appendFolder(QStringLiteral("Made while streaming"));
    window_.exitProgram();
  });
  QSignalSpy exit_finished(&driver_, &BroadcastDriver::exitFinished);
  runBroadcast();
  ASSERT_TRUE(exit_finished.count() == 1 || exit_finished.wait(5000));
  EXPECT_FALSE(driver_.isRunning());
  EXPECT_FALSE(window_.isVisible());
  EXPECT_EQ(controlState(), ControlState::NotLoggedIn);
  EXPECT_EQ(window_.statusText(), "Exiting... please wait");
  EXPECT_TRUE(problems_.isEmpty()) << errorText().toStdString();
  EXPECT_TRUE(readFile(session_path_).contains("<parent>Made while streaming</parent>"));
  // Start after Exit does nothing.
  driver_.RunBroadcast();
  EXPECT_EQ(server_.sourceConnectionCount(), 1);
}
