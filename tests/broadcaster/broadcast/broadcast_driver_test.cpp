// The broadcast driver with no window: what it plays, counts, skips and
// reports, and how it logs in, stops and reconnects.

#include "tests/broadcaster/broadcast/driver_test_support.h"

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
  runBroadcast();

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
  // The operator's Stop during the fourth video is no error.
  EXPECT_EQ(statusText(), kStreamStopped);
  EXPECT_TRUE(problems_.isEmpty()) << errorText().toStdString();
  EXPECT_EQ(queue().count(), 5);
  EXPECT_FALSE(driver_.isRunning());
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
  runBroadcast();
  EXPECT_EQ(started.mid(0, 4), (QStringList{"2", "0", "0", "1"}));
  EXPECT_EQ(queued_at_start.mid(0, 4), (QList<int>{2, 1, 1, 1}));
}

TEST_F(DriverTest, StopDuringAVideoKeepsItsCountAndPlaceAtTheHead) {
  openSession(1);
  // Ten seconds of video: two go out at once, the rest in real time.
  ASSERT_TRUE(fixtures::writeFile(videoPath(0), fixtures::nsvFile(250, 25, 2000)));
  selectMode(PlayQueue::Mode::Manual);
  QList<bool> running;
  bool stopping_after_stop = false;
  QObject::connect(&driver_, &BroadcastDriver::runningChanged, &driver_, [&](bool now) { running << now; });
  QObject::connect(&driver_, &BroadcastDriver::videoStarting, &driver_, [&](const QString &) {
    QTimer::singleShot(200, &driver_, [&] {
      driver_.stop();
      stopping_after_stop = driver_.isStopping();
      // A Start while it settles starts nothing.
      driver_.RunBroadcast();
    });
  });
  runBroadcast();
  EXPECT_TRUE(problems_.isEmpty()) << errorText().toStdString();
  EXPECT_EQ(statusText(), kStreamStopped);
  EXPECT_TRUE(stopping_after_stop);
  EXPECT_FALSE(driver_.isStopping());
  EXPECT_EQ(running, (QList<bool>{true, false}));
  EXPECT_EQ(countsOnDisk().value("0"), 0);
  EXPECT_EQ(queue().keys(), QStringList{"K0"});
  EXPECT_EQ(controlState(), ControlState::NotLoggedIn);
}

TEST_F(DriverTest, StopInTheHoldAfterTheLastBlockStartsNothingMore) {
  driver_.setPacingMode(QStringLiteral("hold"));
  openSession(2);
  // One second of frames in one block: the whole file is out before its hold.
  ASSERT_TRUE(fixtures::writeFile(videoPath(0), fixtures::nsvFile(25, 25, 10)));
  queueVideosZeroAndOne([this](const QString &) {
    if (started_.size() == 1) {
      QTimer::singleShot(300, &driver_, [this] { driver_.stop(); });
    }
  });
  runBroadcast();
  EXPECT_EQ(started_, QStringList{"0"});
  EXPECT_TRUE(problems_.isEmpty()) << errorText().toStdString();
  EXPECT_EQ(countsOnDisk().value("0"), 0);
  EXPECT_EQ(queue().keys(), (QStringList{"K0", "K1"}));
  EXPECT_EQ(controlState(), ControlState::NotLoggedIn);
  // So the next Start logs in afresh and plays.
  stopAfterPlays(1);
  runBroadcast();
  EXPECT_EQ(server_.sourceConnectionCount(), 2);
  EXPECT_EQ(countsOnDisk().value("0"), 1);
}

TEST_F(DriverTest, RefusedLoginShowsTheConnectionMessageAndLeavesTheQueue) {
  server_.setLoginAnswer(FakeShoutcastServer::LoginAnswer::HangUp);
  openSession(2);
  queue().append(QStringLiteral("Video 1"), QStringLiteral("K1"));
  runBroadcast();
  EXPECT_EQ(errorText(), kConnectionFailed);
  EXPECT_EQ(queue().keys(), QStringList{"K1"});
  EXPECT_EQ(controlState(), ControlState::LoginRefused);
  // The status line is not touched.
  EXPECT_TRUE(statusText().isEmpty());
}

TEST_F(DriverTest, StartAfterStopLogsInAgain) {
  openSession(2);
  stopAfterPlays(1);
  runBroadcast();
  ASSERT_EQ(server_.sourceConnectionCount(), 1);
  plays_ = 0;
  runBroadcast();
  EXPECT_EQ(server_.sourceConnectionCount(), 2);
  EXPECT_EQ(plays_, 1);
}

TEST_F(DriverTest, LoginWaitEndsAfterFifteenSeconds) {
  server_.setLoginAnswer(FakeShoutcastServer::LoginAnswer::Silent);
  openSession(1);
  const std::uint32_t started_ms = clock_->nowMs();
  runBroadcast();
  EXPECT_EQ(errorText(), kConnectionFailed);
  EXPECT_GE(clock_->nowMs() - started_ms, BroadcastDriver::kLoginTimeoutMs);
  EXPECT_LT(clock_->nowMs() - started_ms, BroadcastDriver::kLoginTimeoutMs + 2000);
  EXPECT_EQ(controlState(), ControlState::NotLoggedIn);
  EXPECT_FALSE(driver_.isRunning());
}

TEST_F(DriverTest, StopDuringTheLoginWaitEndsQuietly) {
  server_.setLoginAnswer(FakeShoutcastServer::LoginAnswer::Silent);
  openSession(1);
  const std::uint32_t started_ms = clock_->nowMs();
  QTimer::singleShot(5, &driver_, [this] { driver_.stop(); });
  runBroadcast();
  EXPECT_TRUE(errorText().isEmpty()) << errorText().toStdString();
  // The stop's half second, not the login's fifteen.
  EXPECT_LT(clock_->nowMs() - started_ms, 3000u);
  EXPECT_EQ(controlState(), ControlState::NotLoggedIn);
}

TEST_F(DriverTest, SettingsThatCannotWorkAreRefusedBeforeConnecting) {
  openSession(1, QString());
  runBroadcast();
  EXPECT_TRUE(errorText().contains("password")) << errorText().toStdString();

  document().setSetting(QStringLiteral("pass"), QStringLiteral("pw"));
  for (const QString &port : {QStringLiteral("80a0"), QStringLiteral("70000"), QStringLiteral("0"), QString()}) {
    document().setSetting(QStringLiteral("port"), port);
    runBroadcast();
    EXPECT_TRUE(errorText().contains("port setting \"" + port + "\"")) << errorText().toStdString();
  }
  document().setSetting(QStringLiteral("port"), QString::number(server_.port()));
  document().setSetting(QStringLiteral("public"), QStringLiteral("maybe"));
  runBroadcast();
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
  runBroadcast();
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
  runBroadcast();
  EXPECT_TRUE(message_when_next_started.contains(videoPath(1))) << message_when_next_started.toStdString();
}

TEST_F(DriverTest, TenBrokenItemsInARowEndTheBroadcast) {
  openSession(1);
  selectMode(PlayQueue::Mode::Manual);
  for (int item = 0; item < 12; ++item) {
    queue().append(QStringLiteral("Nothing"), QStringLiteral("K99"));
  }
  runBroadcast();
  EXPECT_TRUE(errorText().contains("10 videos in a row")) << errorText().toStdString();
  EXPECT_EQ(queue().count(), 2);
  EXPECT_TRUE(statusText().contains("Skipped \"Nothing\""));
  pumpEvents(200);
  EXPECT_EQ(server_.titleConnectionCount(), 0);
}

TEST_F(DriverTest, StopPressedWhileASkipIsReportedStopsThere) {
  openSession(1);
  selectMode(PlayQueue::Mode::Manual);
  for (int item = 0; item < 3; ++item) {
    queue().append(QStringLiteral("Nothing"), QStringLiteral("K99"));
  }
  QObject::connect(&driver_, &BroadcastDriver::videoSkipped, &driver_, [this] { driver_.stop(); });
  QSignalSpy ended(&driver_, &BroadcastDriver::ended);
  runBroadcast();
  EXPECT_EQ(ended.value(0).value(0).toBool(), false);
  EXPECT_EQ(queue().count(), 2);
  EXPECT_EQ(statusText(), QStringLiteral("Stream stopped."));
}

TEST_F(DriverTest, EmptyLibraryEndsWithAClearMessage) {
  openSession(0);
  // An Exit pressed while the ending error is reported still finishes.
  QObject::connect(&driver_, &BroadcastDriver::error, &driver_, [this] { driver_.endForExit(); });
  QSignalSpy exit_finished(&driver_, &BroadcastDriver::exitFinished);
  runBroadcast();
  EXPECT_TRUE(errorText().contains("no videos")) << errorText().toStdString();
  EXPECT_FALSE(driver_.isRunning());
  EXPECT_TRUE(exit_finished.count() == 1 || exit_finished.wait(10000));
  EXPECT_EQ(controlState(), ControlState::NotLoggedIn);
}

TEST_F(DriverTest, ConnectionLostDuringAVideoIsClosedSoTheNextStartLogsIn) {
  openSession(1);
  // Ten seconds of video; the server hangs up once it is on the air.
  ASSERT_TRUE(fixtures::writeFile(videoPath(0), fixtures::nsvFile(250, 25, 2000)));
  selectMode(PlayQueue::Mode::Manual);
  const QMetaObject::Connection hang_up = QObject::connect(
      &driver_, &BroadcastDriver::videoOnAir, &server_, &FakeShoutcastServer::closeSource);
  runBroadcast();
  QObject::disconnect(hang_up);
  EXPECT_EQ(problems_.value(0), BroadcastDriver::Problem::StreamingFailed);
  // The log says what happened, not only that streaming failed.
  EXPECT_TRUE(errorText().contains(QStringLiteral("closed by the server or the network"))) << errorText().toStdString();
  EXPECT_EQ(controlState(), ControlState::NotLoggedIn);
  EXPECT_EQ(countsOnDisk().value("0"), 0);

  ASSERT_TRUE(fixtures::writeFile(videoPath(0), fixtures::nsvFile(3, 25, 100)));
  stopAfterPlays(1);
  runBroadcast();
  EXPECT_EQ(server_.sourceConnectionCount(), 2);
  EXPECT_EQ(plays_, 1);
}

TEST_F(DriverTest, TheVideoOnTheAirStaysAtTheHeadWhateverTheOperatorDoes) {
  openSession(3);
  QList<QStringList> queued_at_start;
  QList<std::uint64_t> on_air_at_start;
  queueVideosZeroAndOne([&](const QString &) {
    queued_at_start << queue().keys();
    on_air_at_start << queue().onAirId();
    if (started_.size() == 1) {
      // Another video queued and moved up: it stops below the one playing.
      queue().append(QStringLiteral("Video 2"), QStringLiteral("K2"));
      EXPECT_TRUE(queue().moveUp(2));
      EXPECT_FALSE(queue().moveUp(1));
      // Nor can the playing item be taken out, or cleared away.
      EXPECT_FALSE(queue().removeAt(0));
      queue().clear();
      EXPECT_EQ(queue().keys(), QStringList{"K0"});
      queue().append(QStringLiteral("Video 2"), QStringLiteral("K2"));
    }
  });
  stopAfterPlays(2);
  runBroadcast();
  EXPECT_EQ(started_.mid(0, 2), (QStringList{"0", "2"}));
  ASSERT_GE(queued_at_start.size(), 2);
  EXPECT_EQ(queued_at_start[1], (QStringList{"K2"}));
  // Marked on the air from the moment it starts.
  EXPECT_NE(on_air_at_start[0], 0u);
  EXPECT_NE(on_air_at_start[1], on_air_at_start[0]);
  // Off the air once the broadcast has ended.
  EXPECT_EQ(queue().onAirId(), 0u);
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
  runBroadcast();
  EXPECT_EQ(plays_, 2);
  EXPECT_EQ(problems_, QList<BroadcastDriver::Problem>{BroadcastDriver::Problem::NoVideos});
  EXPECT_EQ(countsOnDisk().value("0"), 2);
}

TEST_F(DriverTest, ReconnectWaitsLongerEachTimeAndPlaysTheInterruptedVideoAgain) {
  driver_.setReconnect(true);
  server_.setLoginAnswer(FakeShoutcastServer::LoginAnswer::HangUp);
  openSession(1);
  // Three seconds of video: on the air half a second after the first block,
  // while the rest still goes out.
  ASSERT_TRUE(fixtures::writeFile(videoPath(0), fixtures::nsvFile(75, 25, 2000)));
  selectMode(PlayQueue::Mode::Manual);
  // Two refused logins, then the server takes the third.
  QList<std::uint32_t> waits_ms;
  QList<std::uint32_t> scheduled_at_ms;
  QObject::connect(&driver_, &BroadcastDriver::retryScheduled, &driver_, [&](std::uint32_t wait_ms) {
    waits_ms << wait_ms;
    scheduled_at_ms << clock_->nowMs();
    if (waits_ms.size() == 2) {
      server_.setLoginAnswer(FakeShoutcastServer::LoginAnswer::Reply);
    }
  });
  QList<int> logins_at_wait_end;
  QObject::connect(&driver_, &BroadcastDriver::videoOnAir, &driver_, [&](const QString &) {
    logins_at_wait_end << server_.sourceConnectionCount();
    if (logins_at_wait_end.size() == 1) {
      server_.closeSource();
    }
  });
  QSignalSpy lost(&driver_, &BroadcastDriver::connectionLost);
  QSignalSpy back(&driver_, &BroadcastDriver::connectionBack);
  QStringList started;
  QObject::connect(&driver_, &BroadcastDriver::videoStarting, &driver_, [&](const QString &key) { started << key; });
  QStringList statuses;
  QObject::connect(&driver_, &BroadcastDriver::statusChanged, &driver_, [&](const QString &text) { statuses << text; });
  stopAfterPlays(1);
  runBroadcast();

  // 2 s, 4 s, then after the server took the stream, 2 s again.
  EXPECT_EQ(waits_ms, (QList<std::uint32_t>{2000, 4000, 2000}));
  ASSERT_GE(scheduled_at_ms.size(), 2);
  EXPECT_GE(scheduled_at_ms[1] - scheduled_at_ms[0], 2000u);
  EXPECT_TRUE(statuses.contains("The server could not be reached or refused the login. Trying again in 4 s."))
      << statuses.join('|').toStdString();
  EXPECT_TRUE(statuses.contains("The connection to the server was lost. Trying again in 2 s."))
      << statuses.join('|').toStdString();
  EXPECT_EQ(lost.count(), 1);
  EXPECT_EQ(back.count(), 1);
  // The interrupted video played again from its start; only the whole play counts.
  EXPECT_EQ(started.mid(0, 2), (QStringList{"0", "0"}));
  EXPECT_EQ(countsOnDisk().value("0"), 1);
  // Nothing for an error window: the losses were retried, the Stop is the operator's.
  EXPECT_TRUE(problems_.isEmpty()) << errorText().toStdString();
}

TEST_F(DriverTest, AServerThatClosesRightAfterEachLoginIsTriedLessAndLessOftenAndGetsNoTitle) {
  // Another source has the mount: the server takes the login, then closes.
  driver_.setReconnect(true);
  server_.setLoginAnswer(FakeShoutcastServer::LoginAnswer::MountInUse);
  openSession(1);
  ASSERT_TRUE(fixtures::writeFile(videoPath(0), fixtures::nsvFile(75, 25, 2000)));
  QList<std::uint32_t> waits_ms;
  QObject::connect(&driver_, &BroadcastDriver::retryScheduled, &driver_, [&](std::uint32_t wait_ms) {
    waits_ms << wait_ms;
    if (waits_ms.size() == 4) {
      driver_.stop();
    }
  });
  static QStringList log_lines;
  log_lines.clear();
  const QtMessageHandler previous = qInstallMessageHandler(
      [](QtMsgType, const QMessageLogContext &, const QString &text) { log_lines << text; });
  runBroadcast();
  qInstallMessageHandler(previous);
  EXPECT_EQ(waits_ms, (QList<std::uint32_t>{2000, 4000, 8000, 16000}));
  EXPECT_FALSE(log_lines.filter(QStringLiteral("The server closed the source connection right after the login; "
                                               "another source may be using this mount."))
                   .isEmpty())
      << log_lines.join('\n').toStdString();
  pumpEvents(200);
  EXPECT_EQ(server_.titleConnectionCount(), 0);
}

TEST_F(DriverTest, StopAndExitEndAReconnectWaitAtOnce) {
  driver_.setReconnect(true);
  server_.setLoginAnswer(FakeShoutcastServer::LoginAnswer::HangUp);
  openSession(1);
  QList<bool> endings;
  QObject::connect(&driver_, &BroadcastDriver::ended, &driver_, [&](bool by_error) { endings << by_error; });
  // A second of the clock into the first two-second wait.
  std::function<void()> press = [this] { driver_.stop(); };
  std::uint32_t pressed_at_ms = 0;
  QObject::connect(&driver_, &BroadcastDriver::retryScheduled, &driver_, [&](std::uint32_t) {
    QTimer::singleShot(50, &driver_, [&] {
      pressed_at_ms = clock_->nowMs();
      press();
    });
  });
  runBroadcast();
  // Stop's half second, not the rest of the wait and another login.
  EXPECT_LT(clock_->nowMs() - pressed_at_ms, 500u + 400u);
  EXPECT_FALSE(driver_.isRunning());

  QSignalSpy exit_finished(&driver_, &BroadcastDriver::exitFinished);
  press = [this] { driver_.endForExit(); };
  runBroadcast();
  ASSERT_TRUE(exit_finished.count() == 1 || exit_finished.wait(5000));
  // Exit's two half seconds.
  EXPECT_LT(clock_->nowMs() - pressed_at_ms, 1000u + 400u);
  EXPECT_EQ(endings, (QList<bool>{false, false}));
  EXPECT_TRUE(problems_.isEmpty());
  EXPECT_EQ(server_.sourceConnectionCount(), 2);
  // Nothing starts after Exit.
  driver_.RunBroadcast();
  EXPECT_FALSE(driver_.isRunning());
}

TEST_F(DriverTest, AFileTheControlRefusesIsSkippedAndTheNextVideoPlays) {
  openSession(2);
  // Not an NSV video at all: the control will not pace it.
  ASSERT_TRUE(fixtures::writeFile(videoPath(0), QByteArray(4096, 'x')));
  queueVideosZeroAndOne();
  expectVideoZeroTakenOutAndOnePlayed();
}

TEST_F(DriverTest, AVideoWhoseFileBreaksOffIsTakenOutAndTheStationGoesOn) {
  driver_.setReconnect(true);
  // Held after its first second, while the file is cut short.
  driver_.setPacingMode(QStringLiteral("hold"));
  openSession(2);
  // About two seconds of video, cut short on disk while it plays.
  ASSERT_TRUE(fixtures::writeFile(videoPath(0), fixtures::nsvFile(60, 25, 2000)));
  queueVideosZeroAndOne([this](const QString &key) {
    if (key == "0") {
      QTimer::singleShot(200, &driver_, [this] { QFile(videoPath(0)).resize(20000); });
    }
  });
  expectVideoZeroTakenOutAndOnePlayed();
}
