// The broadcast driver with no window: what it plays, counts, skips and
// reports, and how it logs in, stops and reconnects.

#include "driver_test_support.h"

#include <QPushButton>

using namespace broadcaster_testing;

TEST_F(DriverTest, RandomModeKeepsFiveQueuedAndCountsPlays) {
  openSession(3);
  selectMode(PlayQueue::Mode::Random);
  QList<int> queued_at_start;
  QList<QMap<QString, int>> counts_at_start;
  QObject::connect(&driver_, &BroadcastDriver::videoStarting, &driver_, [&](const QString &) {
    queued_at_start << queue().count();
    counts_at_start << countsOnDisk();
  });
  stopAfterPlays(3);
  driver_.RunBroadcast();

  EXPECT_EQ(queued_at_start, (QList<int>{5, 5, 5, 5}));
  // Each play is on disk before the next video starts.
  ASSERT_EQ(counts_at_start.size(), 4);
  auto total = [](const QMap<QString, int> &counts) {
    int sum = 0;
    for (int count : counts) {
      sum += count;
    }
    return sum;
  };
  EXPECT_EQ(total(counts_at_start[0]), 0);
  EXPECT_EQ(total(counts_at_start[1]), 1);
  EXPECT_EQ(total(counts_at_start[2]), 2);
  EXPECT_EQ(total(countsOnDisk()), 3);
  // Draws cycle over the nodes: folder, 0, 1, 2, folder, 0, ...: videos 0, 1, 2 played in turn.
  EXPECT_EQ(countsOnDisk(), (QMap<QString, int>{{"0", 1}, {"1", 1}, {"2", 1}}));
  // The fourth video found the connection stopped.
  EXPECT_EQ(statusText(), kStreamingFailed);
  EXPECT_EQ(errorText(), kStreamingFailed);
  EXPECT_EQ(queue().count(), 5);
  EXPECT_FALSE(driver_.isRunning());
  ASSERT_TRUE(waitUntil([&] { return server_.closedTitleConnections() >= 3; }));
  EXPECT_TRUE(server_.titleRequests().value(0).contains("song=Video%200 HTTP/1.0"));
}

TEST_F(DriverTest, ManualModePlaysTheOperatorsOrderThenDrawsOneAtATime) {
  openSession(3);
  selectMode(PlayQueue::Mode::Manual);
  queue().append(QStringLiteral("Video 2"), QStringLiteral("K2"));
  queue().append(QStringLiteral("Video 0"), QStringLiteral("K0"));
  QStringList started;
  QList<int> queued_at_start;
  QObject::connect(&driver_, &BroadcastDriver::videoStarting, &driver_, [&](const QString &key) {
    started << key;
    queued_at_start << queue().count();
    EXPECT_EQ(statusText(), QStringLiteral("Streaming Video ") + key);
  });
  stopAfterPlays(4);
  driver_.RunBroadcast();
  EXPECT_EQ(started.mid(0, 4), (QStringList{"2", "0", "0", "1"}));
  EXPECT_EQ(queued_at_start.mid(0, 4), (QList<int>{2, 1, 1, 1}));
}

TEST_F(DriverTest, StopDuringAVideoKeepsItsCountAndPlaceAtTheHead) {
  openSession(1);
  // A longer video: 60 frames at 25 fps take about two seconds to send.
  ASSERT_TRUE(fixtures::writeFile(videoPath(0), fixtures::nsvFile(60, 25, 2000)));
  selectMode(PlayQueue::Mode::Manual);
  QObject::connect(&driver_, &BroadcastDriver::videoStarting, &driver_,
          [&](const QString &) { QTimer::singleShot(200, &driver_, [&] { driver_.stop(); }); });
  driver_.RunBroadcast();
  EXPECT_EQ(errorText(), kStreamingFailed);
  EXPECT_EQ(statusText(), kStreamingFailed);
  EXPECT_EQ(countsOnDisk().value("0"), 0);
  EXPECT_EQ(queue().keys(), QStringList{"K0"});
  EXPECT_EQ(controlState(), ControlState::NotLoggedIn);
}

TEST_F(DriverTest, StopInTheHoldAfterTheLastBlockStartsNothingMore) {
  openSession(2);
  // One second of frames in one block: the whole file is out before its hold.
  ASSERT_TRUE(fixtures::writeFile(videoPath(0), fixtures::nsvFile(25, 25, 10)));
  queueVideosZeroAndOne([this](const QString &) {
    if (started_.size() == 1) {
      QTimer::singleShot(300, &driver_, [this] { driver_.stop(); });
    }
  });
  driver_.RunBroadcast();
  EXPECT_EQ(started_, QStringList{"0"});
  EXPECT_TRUE(errorText().startsWith(kStreamingFailed)) << errorText().toStdString();
  EXPECT_EQ(countsOnDisk().value("0"), 0);
  EXPECT_EQ(queue().keys(), (QStringList{"K0", "K1"}));
  EXPECT_EQ(controlState(), ControlState::NotLoggedIn);
  // So the next Start logs in afresh and plays.
  stopAfterPlays(1);
  driver_.RunBroadcast();
  EXPECT_EQ(server_.sourceConnectionCount(), 2);
  EXPECT_EQ(countsOnDisk().value("0"), 1);
}

TEST_F(DriverTest, RefusedLoginShowsTheConnectionMessageAndLeavesTheQueue) {
  server_.setLoginAnswer(FakeShoutcastServer::LoginAnswer::HangUp);
  openSession(2);
  queue().append(QStringLiteral("Video 1"), QStringLiteral("K1"));
  driver_.RunBroadcast();
  EXPECT_EQ(errorText(), kConnectionFailed);
  EXPECT_EQ(queue().keys(), QStringList{"K1"});
  EXPECT_EQ(controlState(), ControlState::LoginRefused);
  // The status line is not touched.
  EXPECT_TRUE(statusText().isEmpty());
}

TEST_F(DriverTest, StartAfterStopLogsInAgain) {
  openSession(2);
  stopAfterPlays(1);
  driver_.RunBroadcast();
  ASSERT_EQ(server_.sourceConnectionCount(), 1);
  plays_ = 0;
  driver_.RunBroadcast();
  EXPECT_EQ(server_.sourceConnectionCount(), 2);
  EXPECT_EQ(plays_, 1);
}

TEST_F(DriverTest, LoginWaitEndsAfterFifteenSeconds) {
  server_.setLoginAnswer(FakeShoutcastServer::LoginAnswer::Silent);
  openSession(1);
  driver_.RunBroadcast();
  EXPECT_EQ(errorText(), kConnectionFailed);
  EXPECT_GE(clock_->now_ms, BroadcastDriver::kLoginTimeoutMs);
  EXPECT_LT(clock_->now_ms, BroadcastDriver::kLoginTimeoutMs + 100);
  EXPECT_EQ(controlState(), ControlState::NotLoggedIn);
  EXPECT_FALSE(driver_.isRunning());
}

TEST_F(DriverTest, StopDuringTheLoginWaitEndsQuietly) {
  server_.setLoginAnswer(FakeShoutcastServer::LoginAnswer::Silent);
  openSession(1);
  clock_->on_yield = [this] {
    if (clock_->now_ms == 100) {
      driver_.stop();
    }
  };
  driver_.RunBroadcast();
  EXPECT_TRUE(errorText().isEmpty()) << errorText().toStdString();
  EXPECT_LT(clock_->now_ms, 1000u);
  EXPECT_EQ(controlState(), ControlState::NotLoggedIn);
}

TEST_F(DriverTest, SettingsThatCannotWorkAreRefusedBeforeConnecting) {
  openSession(1, QString());
  driver_.RunBroadcast();
  EXPECT_TRUE(errorText().contains("password")) << errorText().toStdString();

  document().setSetting(QStringLiteral("pass"), QStringLiteral("pw"));
  for (const QString &port : {QStringLiteral("80a0"), QStringLiteral("70000"), QStringLiteral("0"), QString()}) {
    document().setSetting(QStringLiteral("port"), port);
    driver_.RunBroadcast();
    EXPECT_TRUE(errorText().contains("port setting \"" + port + "\"")) << errorText().toStdString();
  }
  document().setSetting(QStringLiteral("port"), QString::number(server_.port()));
  document().setSetting(QStringLiteral("public"), QStringLiteral("maybe"));
  driver_.RunBroadcast();
  EXPECT_TRUE(errorText().contains("public setting \"maybe\"")) << errorText().toStdString();
  pumpEvents(100);
  EXPECT_EQ(server_.sourceConnectionCount(), 0);
}

TEST_F(DriverTest, BrokenQueueItemsAreDroppedAndTheLoopGoesOn) {
  openSession(3);
  selectMode(PlayQueue::Mode::Manual);
  ASSERT_TRUE(QFile::remove(videoPath(1)));
  document().removeEntry(QStringLiteral("2"));
  queue().append(QStringLiteral("Gone"), QStringLiteral("K2"));
  queue().append(QStringLiteral("No file"), QStringLiteral("K1"));
  queue().append(QStringLiteral("Video 0"), QStringLiteral("K0"));
  QStringList started;
  QObject::connect(&driver_, &BroadcastDriver::videoStarting, &driver_, [&](const QString &key) { started << key; });
  stopAfterPlays(1);
  driver_.RunBroadcast();
  EXPECT_EQ(started.value(0), "0");
  EXPECT_EQ(countsOnDisk().value("0"), 1);
}

TEST_F(DriverTest, MissingFileIsNamedInTheErrorWindow) {
  openSession(2);
  selectMode(PlayQueue::Mode::Manual);
  ASSERT_TRUE(QFile::remove(videoPath(1)));
  queue().append(QStringLiteral("Video 1"), QStringLiteral("K1"));
  QString message_when_next_started;
  QObject::connect(&driver_, &BroadcastDriver::videoStarting, &driver_,
          [&](const QString &) { message_when_next_started = errorText(); });
  stopAfterPlays(1);
  driver_.RunBroadcast();
  EXPECT_TRUE(message_when_next_started.contains(videoPath(1))) << message_when_next_started.toStdString();
}

TEST_F(DriverTest, TenBrokenItemsInARowEndTheBroadcast) {
  openSession(1);
  selectMode(PlayQueue::Mode::Manual);
  for (int item = 0; item < 12; ++item) {
    queue().append(QStringLiteral("Nothing"), QStringLiteral("K99"));
  }
  driver_.RunBroadcast();
  EXPECT_TRUE(errorText().contains("10 videos in a row")) << errorText().toStdString();
  EXPECT_EQ(queue().count(), 2);
  EXPECT_TRUE(statusText().contains("Skipped \"Nothing\""));
  EXPECT_EQ(server_.titleConnectionCount(), 0);
}

TEST_F(DriverTest, EmptyLibraryEndsWithAClearMessage) {
  openSession(0);
  driver_.RunBroadcast();
  EXPECT_TRUE(errorText().contains("no videos")) << errorText().toStdString();
  EXPECT_FALSE(driver_.isRunning());
}

TEST_F(DriverTest, ConnectionLostDuringAVideoIsClosedSoTheNextStartLogsIn) {
  openSession(1);
  // About two seconds of video, so the server can hang up in the middle.
  ASSERT_TRUE(fixtures::writeFile(videoPath(0), fixtures::nsvFile(60, 25, 2000)));
  selectMode(PlayQueue::Mode::Manual);
  const QMetaObject::Connection hang_up = QObject::connect(
      &driver_, &BroadcastDriver::videoStarting, &driver_,
      [this](const QString &) { QTimer::singleShot(200, &server_, &FakeShoutcastServer::closeSource); });
  driver_.RunBroadcast();
  QObject::disconnect(hang_up);
  EXPECT_EQ(problems_.value(0), BroadcastDriver::Problem::StreamingFailed);
  // The log says what happened, not only that streaming failed.
  EXPECT_TRUE(errorText().contains(QStringLiteral("closed by the server or the network"))) << errorText().toStdString();
  EXPECT_EQ(controlState(), ControlState::NotLoggedIn);
  EXPECT_EQ(countsOnDisk().value("0"), 0);

  ASSERT_TRUE(fixtures::writeFile(videoPath(0), fixtures::nsvFile(3, 25, 100)));
  stopAfterPlays(1);
  driver_.RunBroadcast();
  EXPECT_EQ(server_.sourceConnectionCount(), 2);
  EXPECT_EQ(plays_, 1);
}

TEST_F(DriverTest, APlayTakesOutTheItemThatPlayedWhereverTheOperatorMovedIt) {
  openSession(3);
  QList<QStringList> queued_at_start;
  queueVideosZeroAndOne([&](const QString &) {
    queued_at_start << queue().keys();
    if (started_.size() == 1) {
      // Another video queued and moved above the one playing.
      queue().append(QStringLiteral("Video 2"), QStringLiteral("K2"));
      queue().moveUp(1);
    } else if (started_.size() == 2) {
      // The playing item itself taken out by hand.
      queue().removeAt(0);
    }
  });
  stopAfterPlays(2);
  driver_.RunBroadcast();
  EXPECT_EQ(started_.mid(0, 3), (QStringList{"0", "1", "2"}));
  ASSERT_EQ(queued_at_start.size(), 3);
  EXPECT_EQ(queued_at_start[1], (QStringList{"K1", "K2"}));
  EXPECT_EQ(queued_at_start[2], QStringList{"K2"});
}

TEST_F(DriverTest, RandomModePlaysWhatIsQueuedWhenTheLibraryHasNoVideosLeft) {
  openSession(1);
  selectMode(PlayQueue::Mode::Random);
  queue().append(QStringLiteral("Video 0"), QStringLiteral("K0"));
  queue().append(QStringLiteral("Video 0"), QStringLiteral("K0"));
  // The folder goes, and its video with it; the entry stays in the file.
  ASSERT_TRUE(station_.session.library().removeFolder(QStringLiteral("Videos")));
  ASSERT_EQ(station_.session.library().videoCount(), 0);
  QObject::connect(&driver_, &BroadcastDriver::videoPlayed, &driver_, [this](const QString &) { ++plays_; });
  driver_.RunBroadcast();
  EXPECT_EQ(plays_, 2);
  EXPECT_EQ(problems_, QList<BroadcastDriver::Problem>{BroadcastDriver::Problem::NoVideos});
  EXPECT_EQ(countsOnDisk().value("0"), 2);
}

TEST_F(DriverTest, ReconnectWaitsLongerEachTimeAndPlaysTheInterruptedVideoAgain) {
  driver_.setReconnect(true);
  server_.setLoginAnswer(FakeShoutcastServer::LoginAnswer::HangUp);
  openSession(1);
  // About two seconds of video, so the server can hang up in the middle.
  ASSERT_TRUE(fixtures::writeFile(videoPath(0), fixtures::nsvFile(60, 25, 2000)));
  selectMode(PlayQueue::Mode::Manual);
  // Two refused logins, then the server takes the third.
  QList<std::uint32_t> login_ms;
  clock_->on_yield = [&] {
    while (login_ms.size() < server_.sourceConnectionCount()) {
      login_ms << clock_->now_ms;
    }
    if (login_ms.size() == 3) {
      server_.setLoginAnswer(FakeShoutcastServer::LoginAnswer::Reply);
    }
  };
  QStringList started;
  QObject::connect(&driver_, &BroadcastDriver::videoStarting, &driver_, [&](const QString &key) {
    started << key;
    if (started.size() == 1) {
      QTimer::singleShot(200, &server_, &FakeShoutcastServer::closeSource);
    }
  });
  QStringList statuses;
  QObject::connect(&driver_, &BroadcastDriver::statusChanged, &driver_, [&](const QString &text) { statuses << text; });
  stopAfterPlays(1);
  driver_.RunBroadcast();

  ASSERT_GE(login_ms.size(), 4);
  EXPECT_GE(login_ms[1] - login_ms[0], 2000u);
  EXPECT_LT(login_ms[1] - login_ms[0], 2500u);
  EXPECT_GE(login_ms[2] - login_ms[1], 4000u);
  EXPECT_LT(login_ms[2] - login_ms[1], 4500u);
  // After the loss the wait starts again at two seconds.
  EXPECT_GE(login_ms[3] - login_ms[2], 2000u);
  EXPECT_TRUE(statuses.contains("The server could not be reached or refused the login. Trying again in 4 s."))
      << statuses.join('|').toStdString();
  EXPECT_TRUE(statuses.contains("The connection to the server was lost. Trying again in 2 s."))
      << statuses.join('|').toStdString();
  // The interrupted video played again from its start; only the whole play counts.
  EXPECT_EQ(started.mid(0, 2), (QStringList{"0", "0"}));
  EXPECT_EQ(countsOnDisk().value("0"), 1);
  // Nothing for an error window but the Stop at the end.
  EXPECT_EQ(problems_, QList<BroadcastDriver::Problem>{BroadcastDriver::Problem::StreamingFailed});
}

TEST_F(DriverTest, StopAndExitEndAReconnectWaitAtOnce) {
  driver_.setReconnect(true);
  server_.setLoginAnswer(FakeShoutcastServer::LoginAnswer::HangUp);
  openSession(1);
  QList<bool> endings;
  QObject::connect(&driver_, &BroadcastDriver::ended, &driver_, [&](bool by_error) { endings << by_error; });
  std::uint32_t press_at_ms = 1000;
  std::function<void()> press = [this] { driver_.stop(); };
  clock_->on_yield = [&] {
    if (press && clock_->now_ms >= press_at_ms) {
      const std::function<void()> pressing = std::move(press);
      press = nullptr;
      pressing();
    }
  };
  driver_.RunBroadcast();
  // The first wait lasts two seconds; Stop at one second ends it, plus Stop's half second.
  EXPECT_LT(clock_->now_ms, 1000u + 500u + 100u);
  EXPECT_FALSE(driver_.isRunning());

  press_at_ms = clock_->now_ms + 1000;
  press = [this] { driver_.endForExit(); };
  driver_.RunBroadcast();
  EXPECT_LT(clock_->now_ms, press_at_ms + 1000u + 100u);
  EXPECT_EQ(endings, (QList<bool>{false, false}));
  EXPECT_TRUE(problems_.isEmpty());
  EXPECT_EQ(server_.sourceConnectionCount(), 2);
}

TEST_F(DriverTest, AFileTheControlRefusesIsSkippedAndTheNextVideoPlays) {
  openSession(2);
  // Not an NSV video at all: the control will not pace it.
  ASSERT_TRUE(fixtures::writeFile(videoPath(0), QByteArray(4096, 'x')));
  queueVideosZeroAndOne();
  stopAfterPlays(1);
  driver_.RunBroadcast();
  EXPECT_EQ(started_.mid(0, 2), (QStringList{"0", "1"}));
  EXPECT_EQ(problems_.value(0), BroadcastDriver::Problem::VideoRefused);
  EXPECT_EQ(countsOnDisk(), (QMap<QString, int>{{"0", 0}, {"1", 1}}));
  EXPECT_EQ(server_.sourceConnectionCount(), 1);
}

TEST_F(DriverTest, AVideoWhoseFileBreaksOffIsTakenOutAndTheStationGoesOn) {
  driver_.setReconnect(true);
  openSession(2);
  // About two seconds of video, cut short on disk while it plays.
  ASSERT_TRUE(fixtures::writeFile(videoPath(0), fixtures::nsvFile(60, 25, 2000)));
  queueVideosZeroAndOne([this](const QString &key) {
    if (key == "0") {
      QTimer::singleShot(200, &driver_, [this] { QFile(videoPath(0)).resize(20000); });
    }
  });
  stopAfterPlays(1);
  driver_.RunBroadcast();
  EXPECT_EQ(started_.mid(0, 2), (QStringList{"0", "1"}));
  EXPECT_EQ(problems_.value(0), BroadcastDriver::Problem::VideoRefused);
  EXPECT_EQ(countsOnDisk(), (QMap<QString, int>{{"0", 0}, {"1", 1}}));
  // The connection stayed: no second login.
  EXPECT_EQ(server_.sourceConnectionCount(), 1);
}
