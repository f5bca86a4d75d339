// The control's login, its settings and the title connection, against the
// fake server on loopback.

#include "tests/control/pellox_test_support.h"

#include "control/title_connection.h"

#include <QSignalSpy>
#include <QTcpServer>

using namespace pellox_testing;

TEST_F(PelloxTest, LoginSendsPasswordLineThenHeaderBlockAfterOk2) {
  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  EXPECT_EQ(control_.property("State").toString(), "0");
  QSignalSpy states(&control_, &Pellox::StateChanged);
  logIn(server);
  ASSERT_TRUE(waitUntil([&] { return states.last().value(0).toString() == "1"; }));
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
    connectAnswered(server, FakeShoutcastServer::LoginAnswer::Reply, reply);
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
  connectAnswered(server, FakeShoutcastServer::LoginAnswer::HangUp);
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
  connectAnswered(server, FakeShoutcastServer::LoginAnswer::Silent);
  ASSERT_TRUE(waitUntil([&] { return server.sourceBytes() == "secret\r\n"; }));
  pumpEvents(200);
  EXPECT_EQ(control_.State(), "0");
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

TEST_F(PelloxTest, ConnectWhileConnectedReportsAnError) {
  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  logIn(server);
  control_.Connect();
  EXPECT_FALSE(control_.LastError().isEmpty());
  EXPECT_EQ(control_.State(), "1");
  EXPECT_EQ(server.sourceConnectionCount(), 1);
}

TEST_F(PelloxTest, LineBreaksInAnyProtocolValueAreRefusedAndNothingChanges) {
  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  setupFor(server);
  const QString clean = QStringLiteral("x");
  for (int field = 0; field < 9; ++field) {
    QStringList values(9, clean);
    values[field] = field % 2 == 0 ? QStringLiteral("pw\nicy-name:EVIL") : QStringLiteral("a\rb");
    SCOPED_TRACE(field);
    control_.Setup(values[0] == clean ? QStringLiteral("127.0.0.1") : values[0], server.port() + 10, values[1],
                   values[2], values[3], 1, values[4], values[5], values[6], values[7], values[8]);
    EXPECT_TRUE(control_.LastError().contains(QStringLiteral("line break"))) << control_.LastError().toStdString();
  }
  // The settings in force are the clean ones; Latin-1 text keeps its bytes
  // and what Latin-1 lacks becomes "?".
  control_.Connect();
  ASSERT_TRUE(waitUntil([this] { return control_.State() == "1"; }));
  ASSERT_TRUE(waitUntil([&] { return server.sourceBytes() == "secret\r\n" + kStreamTestHeader; }));
  control_.Disconnect();
  control_.Setup(QStringLiteral("127.0.0.1"), server.port(), QStringLiteral("secret"), QStringLiteral("caf\u00e9 \u4e2d"),
                 QString(), -1, QString(), QStringLiteral("http://x/?a=b"), QString(), QString(), QString());
  control_.Connect();
  ASSERT_TRUE(waitUntil([this] { return control_.State() == "1"; }));
  ASSERT_TRUE(waitUntil([&] { return server.sourceBytesAfterLogin().endsWith("\r\n\r\n\r\n\r\n"); }));
  const QByteArray header = server.sourceBytesAfterLogin();
  EXPECT_TRUE(header.startsWith("icy-name:caf\xe9 ?\r\nicy-genre:\r\nicy-pub:-1\r\n"));
  EXPECT_TRUE(header.contains("icy-url:http://x/?a=b\r\n"));
  // Every line break on the wire is a CR LF pair that ends a protocol line.
  EXPECT_EQ(header.count("\r\n"), 13);
  EXPECT_EQ(header.count('\r'), 13);
  EXPECT_EQ(header.count('\n'), 13);
}

TEST_F(PelloxTest, StreamsFromTheFirstSyncHeaderAndSendsTheTitleOnceTheServerTookIt) {
  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  logIn(server);
  const QByteArray video = fixtures::nsvFile(60, 25, 300, 50);
  const QString path = writeVideo(QStringLiteral("clip.nsv"), fixtures::filler(100) + video);
  ASSERT_TRUE(waitUntil([&] { return server.sourceBytesAfterLogin() == kStreamTestHeader; }));
  QSignalSpy taken(&control_, &Pellox::VideoTaken);
  const std::uint32_t started_ms = clock_->nowMs();

  EXPECT_TRUE(control_.StreamVideo(path, QStringLiteral("Evening News")));
  EXPECT_EQ(control_.State(), "1");
  EXPECT_EQ(control_.progressWidth(), 0.0);
  EXPECT_EQ(control_.framesCounted(), 60);
  // 60 frames at 25 fps: two holds of 951 ms.
  EXPECT_GE(clock_->nowMs() - started_ms, 1902u);
  EXPECT_EQ(server.sourceBytesAfterLogin(), kStreamTestHeader + video);

  ASSERT_TRUE(waitUntil([&] { return server.closedTitleConnections() == 1; }));
  EXPECT_EQ(taken.count(), 1);
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

TEST_F(PelloxTest, ANewTitleWhileARequestConnectsReplacesItAndADeadOneTriesAgainAfterTenSeconds) {
  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  pellox::TitleConnection title;
  title.setServer(QStringLiteral("127.0.0.1"), server.port(), QStringLiteral("pw"));
  // Both before the connection could open: one request, with the newer title.
  title.sendTitle(QStringLiteral("First"));
  title.sendTitle(QStringLiteral("Second"));
  ASSERT_TRUE(waitUntil([&] { return server.closedTitleConnections() == 1; }));
  pumpEvents(200);
  EXPECT_EQ(server.titleConnectionCount(), 1);
  EXPECT_TRUE(server.titleRequests().value(0).contains("song=Second HTTP/1.0"));

  // Real time: a title port that never answers.
  FakeShoutcastServer dead;
  ASSERT_TRUE(dead.start(false));
  ASSERT_TRUE(dead.makeTitlePortUnresponsive());
  pellox::TitleConnection stuck;
  stuck.setServer(QStringLiteral("127.0.0.1"), dead.port(), QStringLiteral("pw"));
  QTcpSocket *socket = stuck.findChild<QTcpSocket *>(QStringLiteral("WinsockTitle"));
  ASSERT_NE(socket, nullptr);
  QElapsedTimer since_first;
  since_first.start();
  qint64 closed_after_ms = -1;
  QObject::connect(socket, &QAbstractSocket::stateChanged, [&](QAbstractSocket::SocketState state) {
    if (state == QAbstractSocket::UnconnectedState && closed_after_ms < 0) {
      closed_after_ms = since_first.elapsed();
    }
  });
  stuck.sendTitle(QStringLiteral("First"));
  pumpEvents(100);
  stuck.sendTitle(QStringLiteral("Second"));
  ASSERT_TRUE(waitUntil([&] { return closed_after_ms >= 0; }, 30000));
  EXPECT_GE(closed_after_ms, 9900);
  // "Second" waited behind the dead attempt; it gets one of its own.
  EXPECT_NE(socket->state(), QAbstractSocket::UnconnectedState);
  dead.answerTitlePort();
  ASSERT_TRUE(waitUntil([&] { return dead.closedTitleConnections() == 1; }, 15000));
  EXPECT_TRUE(dead.titleRequests().value(0).contains("song=Second HTTP/1.0"));
  pumpEvents(300);
  EXPECT_EQ(dead.titleConnectionCount(), 1);
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
