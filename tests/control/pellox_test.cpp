// The control against the fake server on loopback, paced by the fake clock.

#include "fake_clock.h"
#include "fake_shoutcast_server.h"
#include "nsv_fixtures.h"
#include "wait_until.h"

#include <pellox.h>

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <memory>

namespace {

const QByteArray kStreamTestHeader =
    "icy-name:Stream Test\r\n"
    "icy-genre:\r\n"
    "icy-pub:0\r\n"
    "icy-br:128\r\n"
    "icy-url:\r\n"
    "icy-irc:\r\n"
    "icy-icq:\r\n"
    "icy-aim:\r\n"
    "icy-metadata:1\r\n"
    "content-type:video/nsv\r\n"
    "\r\n\r\n\r\n";

// Watches the control's source queue at every yield of its send loop.
struct QueueWatch {
  void attach(FakePacingClock &clock, QTcpSocket *source) {
    clock.on_yield = [this, &clock, source] {
      const qint64 queued_bytes = source->bytesToWrite();
      most_queued_bytes = std::max(most_queued_bytes, queued_bytes);
      if (queued_bytes != last_queued_bytes) {
        last_queued_bytes = queued_bytes;
        moved_at_ms = clock.now_ms;
      }
    };
  }

  qint64 most_queued_bytes = 0;
  qint64 last_queued_bytes = -1;
  std::uint32_t moved_at_ms = 0;
};

class PelloxTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.isValid());
    clock_ = std::make_shared<FakePacingClock>();
    control_.setClock(clock_);
  }

  void setupFor(const FakeShoutcastServer &server, const QString &password = QStringLiteral("secret")) {
    control_.Setup(QStringLiteral("127.0.0.1"), server.port(), password, QStringLiteral("Stream Test"),
                   QString(), 0, QStringLiteral("128"), QString(), QString(), QString(), QString());
    ASSERT_TRUE(control_.LastError().isEmpty()) << control_.LastError().toStdString();
  }

  // Logs in against a server that says OK2.
  void logIn(FakeShoutcastServer &server) {
    setupFor(server);
    control_.Connect();
    ASSERT_TRUE(waitUntil([this] { return control_.State() == "1"; }));
  }

  // Logs in to a server that reads nothing after the login and watches the
  // control's source queue. The send buffer is kept small, so that the kernel
  // does not take megabytes (it doubles the value; below the loopback segment
  // size of 64 KiB the flow would stall).
  void logInToServerThatStopsReading(FakeShoutcastServer &server, QueueWatch &queue) {
    ASSERT_TRUE(server.start());
    server.setSourceReading(false);
    logIn(server);
    QTcpSocket *source = control_.findChild<QTcpSocket *>(QStringLiteral("Winsock"));
    ASSERT_NE(source, nullptr);
    source->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, 64 * 1024);
    queue.attach(*clock_, source);
  }

  QString writeVideo(const QString &name, const QByteArray &bytes) {
    const QString path = temp_.filePath(name);
    EXPECT_TRUE(fixtures::writeFile(path, bytes));
    return path;
  }

  QTemporaryDir temp_;
  std::shared_ptr<FakePacingClock> clock_;
  Pellox control_;
};

} // namespace

TEST_F(PelloxTest, FreshControlIsNotLoggedIn) {
  EXPECT_EQ(control_.State(), "0");
  EXPECT_EQ(control_.property("State").toString(), "0");
}

TEST_F(PelloxTest, LoginSendsPasswordLineThenHeaderBlockAfterOk2) {
  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  logIn(server);
  ASSERT_TRUE(waitUntil([&] { return server.sourceBytes().size() >= 8 + kStreamTestHeader.size(); }));
  EXPECT_EQ(server.sourceBytes(), "secret\r\n" + kStreamTestHeader);
  EXPECT_EQ(server.sourceConnectionCount(), 1);
}

TEST_F(PelloxTest, Ok2WithMoreLinesSendsHeaderOnce) {
  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  server.setLoginAnswer(FakeShoutcastServer::LoginAnswer::Reply, {"OK2\r\nicy-caps:11\r\n\r\n"});
  logIn(server);
  pumpEvents(200);
  EXPECT_EQ(server.sourceBytesAfterLogin(), kStreamTestHeader);
}

TEST_F(PelloxTest, RepliesOtherThanOk2RefuseTheLogin) {
  const QList<QList<QByteArray>> refusals = {{"ok2\r\n"}, {"OK"}, {"OK", "2\r\n"}, {"Invalid password\r\n"}};
  for (const QList<QByteArray> &reply : refusals) {
    FakeShoutcastServer server;
    ASSERT_TRUE(server.start());
    server.setLoginAnswer(FakeShoutcastServer::LoginAnswer::Reply, reply);
    setupFor(server);
    control_.Connect();
    ASSERT_TRUE(waitUntil([this] { return control_.State() != "0"; })) << reply.first().toStdString();
    EXPECT_EQ(control_.State(), "3") << reply.first().toStdString();
    // Closed at once: the split reply's "2" never matters, nor is a header sent.
    pumpEvents(400);
    EXPECT_EQ(control_.State(), "3");
    EXPECT_FALSE(server.sourceConnected());
    EXPECT_EQ(server.sourceBytesAfterLogin(), QByteArray());
  }
}

TEST_F(PelloxTest, ServerThatHangsUpOnLoginRefusesIt) {
  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  server.setLoginAnswer(FakeShoutcastServer::LoginAnswer::HangUp);
  setupFor(server);
  control_.Connect();
  ASSERT_TRUE(waitUntil([this] { return control_.State() == "3"; }));
  // A new Setup is accepted after a refusal.
  control_.Setup(QStringLiteral("127.0.0.1"), server.port(), QStringLiteral("other"), QStringLiteral("N"),
                 QString(), 1, QString(), QString(), QString(), QString(), QString());
  EXPECT_TRUE(control_.LastError().isEmpty());
  server.setLoginAnswer(FakeShoutcastServer::LoginAnswer::Reply);
  control_.Connect();
  ASSERT_TRUE(waitUntil([this] { return control_.State() == "1"; }));
  ASSERT_TRUE(waitUntil([&] { return server.sourceBytes().startsWith("other\r\nicy-name:N\r\n"); }));
}

TEST_F(PelloxTest, SilentServerLeavesStateZero) {
  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  server.setLoginAnswer(FakeShoutcastServer::LoginAnswer::Silent);
  setupFor(server);
  control_.Connect();
  ASSERT_TRUE(waitUntil([&] { return server.sourceBytes() == "secret\r\n"; }));
  pumpEvents(200);
  EXPECT_EQ(control_.State(), "0");
}

TEST_F(PelloxTest, ServerClosingAfterLoginKeepsTheState) {
  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  logIn(server);
  ASSERT_TRUE(waitUntil([&] { return server.sourceBytesAfterLogin() == kStreamTestHeader; }));
  server.closeSource();
  pumpEvents(300);
  EXPECT_EQ(control_.State(), "1");
  // The next video finds the connection gone before its first send.
  const QString path = writeVideo(QStringLiteral("a.nsv"), fixtures::nsvFile(30, 25, 100));
  EXPECT_FALSE(control_.StreamVideo(path));
  EXPECT_EQ(control_.State(), "2");
  EXPECT_TRUE(control_.LastError().contains(QStringLiteral("closed by the server or the network")))
      << control_.LastError().toStdString();
}

TEST_F(PelloxTest, NothingListeningGivesSocketError) {
  QTcpServer probe;
  ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
  const int free_port = probe.serverPort();
  probe.close();
  // The source connection goes to port + 1, where nothing listens now.
  control_.Setup(QStringLiteral("127.0.0.1"), free_port - 1, QStringLiteral("secret"),
                 QStringLiteral("Stream Test"), QString(), 0, QStringLiteral("128"), QString(), QString(),
                 QString(), QString());
  control_.Connect();
  ASSERT_TRUE(waitUntil([this] { return control_.State() != "0"; }));
  EXPECT_EQ(control_.State(), "4");
}

TEST_F(PelloxTest, EmptyPasswordMakesNoAttempt) {
  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  setupFor(server, QString());
  control_.Connect();
  pumpEvents(200);
  EXPECT_EQ(server.sourceConnectionCount(), 0);
  EXPECT_EQ(control_.State(), "0");
}

TEST_F(PelloxTest, PortsAcrossTheWholeRangeAreAccepted) {
  for (const int port : {1, 8000, 32767, 32768, 65534}) {
    control_.Setup(QStringLiteral("127.0.0.1"), port, QStringLiteral("p"), QStringLiteral("n"), QString(), 0,
                   QString(), QString(), QString(), QString(), QString());
    EXPECT_TRUE(control_.LastError().isEmpty()) << port;
  }
}

TEST_F(PelloxTest, InvalidPortIsAnErrorAndChangesNothing) {
  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  setupFor(server);
  for (const int port : {0, -1, 65535, 70000}) {
    control_.Setup(QStringLiteral("10.0.0.1"), port, QStringLiteral("changed"), QStringLiteral("Changed"),
                   QString(), 1, QString(), QString(), QString(), QString(), QString());
    EXPECT_FALSE(control_.LastError().isEmpty()) << port;
    EXPECT_TRUE(control_.LastError().contains(QString::number(port)));
  }
  // The earlier settings are still in force.
  control_.Connect();
  ASSERT_TRUE(waitUntil([this] { return control_.State() == "1"; }));
  ASSERT_TRUE(waitUntil([&] { return server.sourceBytes() == "secret\r\n" + kStreamTestHeader; }));
}

TEST_F(PelloxTest, SetupWhileLoggedInIsIgnored) {
  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  logIn(server);
  control_.Setup(QStringLiteral("127.0.0.1"), server.port(), QStringLiteral("new"), QStringLiteral("New Name"),
                 QString(), 1, QString(), QString(), QString(), QString(), QString());
  EXPECT_TRUE(control_.LastError().isEmpty());
  control_.Disconnect();
  control_.Connect();
  ASSERT_TRUE(waitUntil([this] { return control_.State() == "1"; }));
  ASSERT_TRUE(waitUntil([&] { return server.sourceBytes() == "secret\r\n" + kStreamTestHeader; }));
  EXPECT_EQ(server.sourceConnectionCount(), 2);
}

TEST_F(PelloxTest, HeaderValuesCannotAddLines) {
  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  control_.Setup(QStringLiteral("127.0.0.1"), server.port(), QStringLiteral("secret"),
                 QStringLiteral("Evil\r\nicy-pub:1"), QStringLiteral("Vid\neo"), -1, QString(),
                 QStringLiteral("http://x/?a=b"), QString(), QString(), QStringLiteral("caf\u00e9 \u4e2d"));
  control_.Connect();
  ASSERT_TRUE(waitUntil([this] { return control_.State() == "1"; }));
  ASSERT_TRUE(waitUntil([&] { return server.sourceBytesAfterLogin().endsWith("\r\n\r\n\r\n\r\n"); }));
  const QByteArray header = server.sourceBytesAfterLogin();
  EXPECT_TRUE(header.startsWith("icy-name:Evil  icy-pub:1\r\nicy-genre:Vid eo\r\nicy-pub:-1\r\n"));
  EXPECT_TRUE(header.contains("icy-url:http://x/?a=b\r\n"));
  EXPECT_TRUE(header.contains("icy-aim:caf\xe9 ?\r\n"));
  EXPECT_EQ(header.count("\r\n"), 13);
}

TEST_F(PelloxTest, ConnectWhileConnectedReportsAnError) {
  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  logIn(server);
  control_.Connect();
  EXPECT_FALSE(control_.LastError().isEmpty());
  EXPECT_EQ(control_.State(), "1");
  EXPECT_EQ(server.sourceConnectionCount(), 1);
}

TEST_F(PelloxTest, StreamsFromFirstSyncHeaderAndCompletes) {
  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  logIn(server);
  const QByteArray video = fixtures::nsvFile(60, 25, 300, 50);
  const QString path = writeVideo(QStringLiteral("clip.nsv"), fixtures::filler(100) + video);
  ASSERT_TRUE(waitUntil([&] { return server.sourceBytesAfterLogin() == kStreamTestHeader; }));

  EXPECT_TRUE(control_.StreamVideo(path, QStringLiteral("Evening News")));
  EXPECT_EQ(control_.State(), "1");
  EXPECT_EQ(control_.progressWidth(), 0.0);
  // 60 frames at 25 fps: two holds of 960 ms.
  EXPECT_EQ(clock_->now_ms, 1920u);
  ASSERT_TRUE(waitUntil([&] { return server.sourceBytesAfterLogin() == kStreamTestHeader + video; }));

  ASSERT_TRUE(waitUntil([&] { return server.closedTitleConnections() == 1; }));
  EXPECT_EQ(server.titleRequests().value(0),
            "GET /admin.cgi?pass=secret&mode=updinfo&song=Evening%20News HTTP/1.0\r\n"
            "User-Agent:Pellox(Mozilla)\r\n\r\n");
}

TEST_F(PelloxTest, TitleRequestEscapesWhatChangesItsMeaning) {
  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  control_.Setup(QStringLiteral("127.0.0.1"), server.port(), QStringLiteral("p&ss#1+%"), QStringLiteral("n"),
                 QString(), 0, QString(), QString(), QString(), QString(), QString());
  control_.Connect();
  ASSERT_TRUE(waitUntil([this] { return control_.State() == "1"; }));
  const QString path = writeVideo(QStringLiteral("a.nsv"), fixtures::nsvFile(2, 25, 10));
  const QStringList titles = {QStringLiteral("Tom & Jerry"), QStringLiteral("two  spaces"), QString(),
                              QStringLiteral("a+b#c%d?e=f"), QStringLiteral("line\r\nX-Injected: 1"),
                              QStringLiteral("Ol\u00e9 \u263a")};
  const QList<QByteArray> songs = {"Tom%20%26%20Jerry", "two%20%20spaces", "", "a%2Bb%23c%25d?e=f",
                                   "line%0D%0AX-Injected:%201", "Ol\xe9%20?"};
  for (int index = 0; index < titles.size(); ++index) {
    ASSERT_TRUE(control_.StreamVideo(path, titles[index]));
    ASSERT_TRUE(waitUntil([&] { return server.closedTitleConnections() == index + 1; }));
    EXPECT_EQ(server.titleRequests().value(index),
              "GET /admin.cgi?pass=p%26ss%231%2B%25&mode=updinfo&song=" + songs[index] +
                  " HTTP/1.0\r\nUser-Agent:Pellox(Mozilla)\r\n\r\n")
        << index;
  }
}

TEST_F(PelloxTest, NewTitleWhileRequestConnectingReplacesIt) {
  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  logIn(server);
  const QString path = writeVideo(QStringLiteral("a.nsv"), fixtures::nsvFile(2, 25, 10));
  // No event processing during the two videos: the first title connection is
  // still under way when the second video starts.
  clock_->process_events = false;
  EXPECT_TRUE(control_.StreamVideo(path, QStringLiteral("First")));
  EXPECT_TRUE(control_.StreamVideo(path, QStringLiteral("Second")));
  clock_->process_events = true;
  ASSERT_TRUE(waitUntil([&] { return server.closedTitleConnections() == 1; }));
  pumpEvents(200);
  EXPECT_EQ(server.titleConnectionCount(), 1);
  EXPECT_TRUE(server.titleRequests().value(0).contains("song=Second HTTP/1.0"));
}

TEST_F(PelloxTest, UnreachableTitlePortDoesNotAffectTheVideo) {
  FakeShoutcastServer server;
  ASSERT_TRUE(server.start(false));
  logIn(server);
  const QByteArray video = fixtures::nsvFile(30, 25, 200);
  const QString path = writeVideo(QStringLiteral("a.nsv"), video);
  static QStringList warnings;
  warnings.clear();
  const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &text) {
    warnings << text;
  });
  EXPECT_TRUE(control_.StreamVideo(path, QStringLiteral("T")));
  ASSERT_TRUE(waitUntil([&] { return server.sourceBytesAfterLogin() == kStreamTestHeader + video; }));
  EXPECT_EQ(control_.State(), "1");
  // The host's log learns that the title did not get through.
  EXPECT_TRUE(waitUntil([] { return !warnings.filter(QStringLiteral("The title \"T\" did not reach")).isEmpty(); }));
  qInstallMessageHandler(previous);
}

TEST_F(PelloxTest, DisconnectDuringHoldEndsWithFalseAndStateZero) {
  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  logIn(server);
  const QString path = writeVideo(QStringLiteral("a.nsv"), fixtures::nsvFile(100, 25, 400));
  clock_->on_sleep = [this] {
    if (clock_->now_ms == 300) {
      control_.Disconnect();
    }
  };
  EXPECT_FALSE(control_.StreamVideo(path));
  EXPECT_EQ(control_.State(), "0");
  EXPECT_EQ(clock_->now_ms, 960u);

  // In the hold after the file's last block the walk still reaches the end,
  // but the file did not go out whole over a live connection.
  logIn(server);
  const QString one_second = writeVideo(QStringLiteral("b.nsv"), fixtures::nsvFile(25, 25, 10));
  const std::uint32_t started_ms = clock_->now_ms;
  clock_->on_sleep = [this, started_ms] {
    if (clock_->now_ms == started_ms + 300) {
      control_.Disconnect();
    }
  };
  EXPECT_FALSE(control_.StreamVideo(one_second));
  EXPECT_EQ(control_.State(), "0");
  EXPECT_TRUE(control_.LastError().contains(QStringLiteral("closed before"))) << control_.LastError().toStdString();
}

TEST_F(PelloxTest, StopDuringHoldEndsWithFalseAndStateTwo) {
  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  logIn(server);
  const QString path = writeVideo(QStringLiteral("a.nsv"), fixtures::nsvFile(100, 25, 400));
  clock_->on_sleep = [this] {
    if (clock_->now_ms == 300) {
      control_.StopStream();
    }
  };
  EXPECT_FALSE(control_.StreamVideo(path));
  EXPECT_EQ(control_.State(), "2");
  EXPECT_EQ(clock_->now_ms, 960u);
  // The bar shows how far the file got and stays there after a stop.
  EXPECT_GT(control_.progressWidth(), 0.0);
  EXPECT_LT(control_.progressWidth(), 57.0);
  // A stop request is cleared by the loop that saw it, so the next file plays.
  clock_->on_sleep = nullptr;
  const QString short_path = writeVideo(QStringLiteral("b.nsv"), fixtures::nsvFile(3, 25, 10));
  EXPECT_TRUE(control_.StreamVideo(short_path));
}

TEST_F(PelloxTest, StopWithNoFileBeingSentHasNoEffect) {
  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  logIn(server);
  control_.StopStream();
  const QString path = writeVideo(QStringLiteral("a.nsv"), fixtures::nsvFile(30, 25, 100));
  EXPECT_TRUE(control_.StreamVideo(path));
  EXPECT_EQ(control_.State(), "1");
}

TEST_F(PelloxTest, RefusalWhileSendingSetsThreeAndEndsTheVideo) {
  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  logIn(server);
  const QString path = writeVideo(QStringLiteral("a.nsv"), fixtures::nsvFile(200, 25, 400));
  bool sent_complaint = false;
  clock_->on_sleep = [&] {
    if (!sent_complaint && clock_->now_ms == 100) {
      sent_complaint = true;
      server.sendOnSource("Bad data\r\n");
    }
  };
  EXPECT_FALSE(control_.StreamVideo(path));
  EXPECT_EQ(control_.State(), "3");
}

TEST_F(PelloxTest, StreamingWithoutConnectionSendsNothing) {
  const QString path = writeVideo(QStringLiteral("a.nsv"), fixtures::nsvFile(30, 25, 100));
  EXPECT_FALSE(control_.StreamVideo(path));
  EXPECT_EQ(control_.State(), "2");
}

TEST_F(PelloxTest, UnopenablePathReturnsFalseAndChangesNothing) {
  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  logIn(server);
  ASSERT_TRUE(waitUntil([&] { return server.sourceBytesAfterLogin() == kStreamTestHeader; }));
  EXPECT_FALSE(control_.StreamVideo(temp_.filePath(QStringLiteral("missing.nsv")), QStringLiteral("T")));
  EXPECT_FALSE(control_.StreamVideo(temp_.path(), QStringLiteral("T")));
  EXPECT_EQ(control_.State(), "1");
  pumpEvents(200);
  EXPECT_EQ(server.sourceBytesAfterLogin(), kStreamTestHeader);
  EXPECT_EQ(server.titleConnectionCount(), 0);
}

TEST_F(PelloxTest, FileThatCannotBePacedIsRefused) {
  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  logIn(server);
  ASSERT_TRUE(waitUntil([&] { return server.sourceBytesAfterLogin() == kStreamTestHeader; }));
  const struct {
    const char *name;
    QByteArray bytes;
  } cases[] = {{"no-sync.bin", fixtures::filler(2500)}, {"rate-zero.nsv", fixtures::nsvFile(30, 0, 100)}};
  for (const auto &entry : cases) {
    SCOPED_TRACE(entry.name);
    EXPECT_FALSE(control_.StreamVideo(writeVideo(QString::fromLatin1(entry.name), entry.bytes), QStringLiteral("T")));
    EXPECT_TRUE(control_.LastError().contains(QString::fromLatin1(entry.name))) << control_.LastError().toStdString();
    EXPECT_EQ(control_.State(), "1");
  }
  EXPECT_EQ(clock_->now_ms, 0u);
  pumpEvents(200);
  EXPECT_EQ(server.sourceBytesAfterLogin(), kStreamTestHeader);
  EXPECT_EQ(server.titleConnectionCount(), 0);
}

TEST_F(PelloxTest, SecondStreamVideoDuringAYieldIsRefused) {
  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  logIn(server);
  const QByteArray video = fixtures::nsvFile(10, 25, 100);
  const QString path = writeVideo(QStringLiteral("a.nsv"), video);
  int nested_results = 0;
  bool nested_value = true;
  clock_->on_yield = [&] {
    if (nested_results == 0) {
      ++nested_results;
      nested_value = control_.StreamVideo(path, QStringLiteral("nested"));
    }
  };
  EXPECT_TRUE(control_.StreamVideo(path, QStringLiteral("outer")));
  EXPECT_EQ(nested_results, 1);
  EXPECT_FALSE(nested_value);
  ASSERT_TRUE(waitUntil([&] { return server.sourceBytesAfterLogin() == kStreamTestHeader + video; }));
}

TEST_F(PelloxTest, FaceKeepsItsSizeAndProgressClamps) {
  EXPECT_EQ(control_.size(), QSize(57, 41));
  control_.resize(300, 200);
  EXPECT_EQ(control_.size(), QSize(57, 41));
  EXPECT_NEAR(control_.progressWidth(), 1.0, 1e-9);

  // A 50-byte video of one frame at one frame per second holds after its one
  // block with (50 + 1) / 50 = 102 %, which the bar clamps to its full width.
  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  logIn(server);
  double width_at_hold = -1.0;
  control_.setHoldObserver([&](std::uint32_t) { width_at_hold = control_.progressWidth(); });
  EXPECT_TRUE(control_.StreamVideo(writeVideo(QStringLiteral("tiny.nsv"), fixtures::frameOfSize(50, true, 1))));
  EXPECT_DOUBLE_EQ(width_at_hold, 57.0);
  EXPECT_EQ(control_.progressWidth(), 0.0);
}

TEST_F(PelloxTest, ServerThatStopsReadingIsGivenUpWithoutBufferingTheFile) {
  FakeShoutcastServer server;
  QueueWatch queue;
  ASSERT_NO_FATAL_FAILURE(logInToServerThatStopsReading(server, queue));
  // 8 s of video at about 250 kB/s: the control may hold two seconds of it.
  const QByteArray video = fixtures::nsvFile(200, 25, 10000);

  EXPECT_FALSE(control_.StreamVideo(writeVideo(QStringLiteral("a.nsv"), video)));
  EXPECT_EQ(control_.State(), "4");
  EXPECT_TRUE(control_.LastError().contains(QStringLiteral("server stopped reading")))
      << control_.LastError().toStdString();
  EXPECT_LE(queue.most_queued_bytes, 2 * 25 * 10010);
  EXPECT_GE(clock_->now_ms - queue.moved_at_ms, 15000u);
  EXPECT_LE(clock_->now_ms - queue.moved_at_ms, 16000u);
  // A server that reads again finds the connection closed.
  server.setSourceReading(true);
  ASSERT_TRUE(waitUntil([&] { return !server.sourceConnected(); }));
}

TEST_F(PelloxTest, AVideoTheSystemCouldBufferWholeIsNotPlayedToAServerThatReadsNothing) {
  // The control's own limit on the system's send buffer, not the test's:
  // left to grow, that buffer swallows seconds of video unread.
  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  server.setSourceReading(false);
  logIn(server);
  const QByteArray video = fixtures::nsvFile(300, 25, 10000); // 3 MB, 12 s

  EXPECT_FALSE(control_.StreamVideo(writeVideo(QStringLiteral("a.nsv"), video)));
  EXPECT_EQ(control_.State(), "4");

  // A short one fits whole into the buffers on the way: more than the
  // queue's bound still unsent at its end is no play either.
  logIn(server);
  EXPECT_FALSE(control_.StreamVideo(writeVideo(QStringLiteral("b.nsv"), fixtures::nsvFile(200, 25, 4000)))); // 8 s
  EXPECT_EQ(control_.State(), "4");
  EXPECT_TRUE(control_.LastError().contains(QStringLiteral("server stopped reading")))
      << control_.LastError().toStdString();
}

TEST_F(PelloxTest, ServerThatPausesThreeSecondsIsWaitedFor) {
  FakeShoutcastServer server;
  QueueWatch queue;
  ASSERT_NO_FATAL_FAILURE(logInToServerThatStopsReading(server, queue));
  const QByteArray video = fixtures::nsvFile(200, 25, 10000);
  bool paused = true;
  clock_->on_sleep = [&] {
    if (paused && clock_->now_ms - queue.moved_at_ms >= 3000) {
      paused = false;
      server.setSourceReading(true);
    }
    // From here on the data moves in real time: let some pass per fake 10 ms,
    // so that 15 s of the fake clock are never over before the network moved.
    if (!paused) {
      QThread::msleep(1);
    }
  };

  EXPECT_TRUE(control_.StreamVideo(writeVideo(QStringLiteral("a.nsv"), video)));
  EXPECT_FALSE(paused);
  EXPECT_EQ(control_.State(), "1");
  ASSERT_TRUE(waitUntil([&] { return server.sourceBytesAfterLogin() == kStreamTestHeader + video; }));
}

TEST_F(PelloxTest, DeadTitleConnectionIsClosedAfterTenSecondsAndTheNewerTitleTriesAgain) {
  // Real time: the title connection is not paced by the send loop's clock.
  FakeShoutcastServer server;
  ASSERT_TRUE(server.start(false));
  ASSERT_TRUE(server.makeTitlePortUnresponsive());
  logIn(server);
  QTcpSocket *title = control_.findChild<QTcpSocket *>(QStringLiteral("WinsockTitle"));
  ASSERT_NE(title, nullptr);
  const QString path = writeVideo(QStringLiteral("a.nsv"), fixtures::nsvFile(3, 25, 10));
  QElapsedTimer since_first;
  since_first.start();
  qint64 closed_after_ms = -1;
  QObject::connect(title, &QAbstractSocket::stateChanged, [&](QAbstractSocket::SocketState state) {
    if (state == QAbstractSocket::UnconnectedState && closed_after_ms < 0) {
      closed_after_ms = since_first.elapsed();
    }
  });

  EXPECT_TRUE(control_.StreamVideo(path, QStringLiteral("First")));
  EXPECT_TRUE(control_.StreamVideo(path, QStringLiteral("Second")));
  ASSERT_TRUE(waitUntil([&] { return closed_after_ms >= 0; }, 30000));
  EXPECT_GE(closed_after_ms, 9900);
  // "Second" waited behind the dead attempt; it gets one of its own.
  EXPECT_NE(title->state(), QAbstractSocket::UnconnectedState);
  server.answerTitlePort();
  ASSERT_TRUE(waitUntil([&] { return server.closedTitleConnections() == 1; }, 15000));
  EXPECT_TRUE(server.titleRequests().value(0).contains("song=Second HTTP/1.0"));
  pumpEvents(300);
  EXPECT_EQ(server.titleConnectionCount(), 1);
}
