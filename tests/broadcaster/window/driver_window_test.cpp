// The broadcast driver under the main window: its buttons and menus while a
// broadcast runs, and the window's view of the air.

#include "tests/broadcaster/window/broadcaster_test_support.h"
#include "tests/broadcaster/broadcast/driver_test_support.h"

#include "broadcaster/window/listener_chart.h"
#include "broadcaster/base/preferences.h"

#include <QComboBox>
#include <QLineSeries>
#include <QProgressBar>
#include <QPushButton>

using namespace broadcaster_testing;

namespace {

// The same station, shown in the main window.
class DriverInWindowTest : public DriverTest {
protected:
  void SetUp() override {
    QSettings().clear();
    DriverTest::SetUp();
    dialog_.install(window_);
  }

  template <typename T> T *child(const char *name) const {
    T *found = window_.findChild<T *>(QLatin1String(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
  QString shown(const char *label) const { return child<QLabel>(label)->text(); }

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

TEST_F(DriverInWindowTest, TheStripFollowsTheAirAndStopIsNoError) {
  openSession(3);
  // Video 0 lasts a minute and says so in its header; the others give no length.
  ASSERT_TRUE(fixtures::writeFile(videoPath(0), fixtures::nsvFile(1500, 25, 2000, 0, 25, true)));
  selectMode(PlayQueue::Mode::Manual);
  for (int index : {1, 0, 2}) {
    queue().append(QStringLiteral("Video %1").arg(index), QStringLiteral("K%1").arg(index));
  }
  server_.setStatusPage(QStringLiteral("/status-json.xsl"),
                        R"({"icestats":{"source":{"listenurl":"http://h/stream","listeners":7,"listener_peak":12}}})");
  station_.on_air.listenerPoller().setInterval(100);
  window_.show();

  // The operator picks the hold rule: the driver and the preference take it.
  auto *pacing = child<QComboBox>("cboPacing");
  ASSERT_EQ(pacing->currentText(), "Real time");
  pacing->setFocus();
  QTest::keyClick(pacing, Qt::Key_Down);
  EXPECT_EQ(pacing->currentText(), "Hold rule");
  EXPECT_EQ(driver_.pacingMode(), "hold");
  EXPECT_EQ(QSettings().value(QLatin1String(preference::kPacing)).toString(), "hold");

  child<QPushButton>("btnStartStream")->click();
  ASSERT_TRUE(waitUntil([&] {
    return shown("lblNowPlaying") == "Now playing: Video 0" && shown("lblListeners") == "Listeners: 7 now, peak 12";
  }, 10000)) << shown("lblNowPlaying").toStdString() << " / " << shown("lblListeners").toStdString();
  EXPECT_EQ(shown("lblNextUp"), "Next: Video 2");
  EXPECT_EQ(shown("lblPacing"), "Pacing: hold rule");
  EXPECT_FALSE(pacing->isEnabled());
  EXPECT_EQ(child<QProgressBar>("prgNowPlaying")->maximum(), 60000);
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d+:\\d\\d elapsed, \\d+:\\d\\d left$"))
                  .match(shown("lblElapsed"))
                  .hasMatch())
      << shown("lblElapsed").toStdString();

  // With the model quiet, the strip's own timer moves the clock.
  station_.on_air.listenerPoller().setInterval(60000);
  const QString elapsed_before = shown("lblElapsed");
  EXPECT_TRUE(waitUntil([&] { return shown("lblElapsed") != elapsed_before; }, 3000));

  // The server stops answering: unknown, never nobody.
  server_.setStatusPage(QStringLiteral("/status-json.xsl"), QByteArray());
  station_.on_air.listenerPoller().setInterval(100);
  EXPECT_TRUE(waitUntil([&] { return shown("lblListeners").contains("unknown"); }, 10000));
  EXPECT_EQ(shown("lblListeners"), "Listeners: unknown now, peak 12");

  QSignalSpy ended(&driver_, &BroadcastDriver::ended);
  child<QPushButton>("btnStopStream")->click();
  ASSERT_TRUE(ended.wait(10000));
  EXPECT_EQ(window_.statusText(), kStreamStopped);
  EXPECT_TRUE(window_.errorWindow().isNull() || !window_.errorWindow()->isVisible()) << errorText().toStdString();
  EXPECT_TRUE(problems_.isEmpty());
  EXPECT_EQ(shown("lblNowPlaying"), "Off the air");
  EXPECT_TRUE(shown("lblElapsed").isEmpty());
  EXPECT_TRUE(pacing->isEnabled());

  // The chart, once shown, has the listener figure and this hour's play.
  MainWindow::selectTab(child<QTabBar>("TabStrip"), QStringLiteral("Statistics"));
  window_.ShowTabPanel();
  auto *chart = child<ListenerChart>("chtListeners");
  ASSERT_TRUE(chart->isVisible());
  const QList<QPointF> listeners = chart->listenerSeries()->points();
  ASSERT_FALSE(listeners.isEmpty());
  EXPECT_EQ(listeners.last().y(), 7);
  ASSERT_FALSE(chart->playSteps()->points().isEmpty());
  EXPECT_EQ(chart->playSteps()->points().last().y(), 1);
}

TEST_F(DriverInWindowTest, TheStripCountsDownToTheNextLogin) {
  driver_.setReconnect(true);
  server_.setLoginAnswer(FakeShoutcastServer::LoginAnswer::HangUp);
  openSession(1);
  driver_.RunBroadcast();
  ASSERT_TRUE(waitUntil([&] { return shown("lblNowPlaying").startsWith("Reconnecting in "); }, 10000));
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^Reconnecting in \\d+ s$")).match(shown("lblNowPlaying")).hasMatch())
      << shown("lblNowPlaying").toStdString();
  QSignalSpy ended(&driver_, &BroadcastDriver::ended);
  driver_.stop();
  ASSERT_TRUE(ended.wait(10000));
  EXPECT_EQ(shown("lblNowPlaying"), "Off the air");
}
