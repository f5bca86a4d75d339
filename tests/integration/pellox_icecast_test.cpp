// The control against a real Icecast with a Shoutcast mount.

#include "tests/integration/icecast_server.h"
#include "tests/integration/run_tool.h"
#include "tests/support/wait_until.h"

#include "control/pellox.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

namespace {

const QString kPassword = QStringLiteral("hackme-source");

// Reads a mount as a listener would, keeping the body.
class Listener {
public:
  void open(quint16 port, const QString &mount) {
    QObject::connect(&socket_, &QTcpSocket::readyRead, [this] { received_ += socket_.readAll(); });
    socket_.connectToHost(QHostAddress::LocalHost, port);
    socket_.waitForConnected(3000);
    socket_.write("GET " + mount.toLatin1() + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
  }
  QByteArray body() const {
    const int end = received_.indexOf("\r\n\r\n");
    return end < 0 ? QByteArray() : received_.mid(end + 4);
  }
  QByteArray statusLine() const { return received_.left(received_.indexOf("\r\n")); }

private:
  QTcpSocket socket_;
  QByteArray received_;
};

QJsonObject sourceStatus(const IcecastServer &server) {
  const QJsonObject stats = QJsonDocument::fromJson(server.status()).object().value("icestats").toObject();
  return stats.value("source").toObject();
}

class PelloxIcecastTest : public ::testing::Test {
protected:
  void SetUp() override {
    QString reason;
    ASSERT_TRUE(server_.start(kPassword, &reason)) << reason.toStdString();
  }

  void setup(const QString &password) {
    control_.Setup(QStringLiteral("127.0.0.1"), server_.port(), password, QStringLiteral("Integration TV"),
                   QStringLiteral("Video"), 0, QStringLiteral("128"), QString(), QString(), QString(), QString());
    ASSERT_TRUE(control_.LastError().isEmpty());
  }

  // Logs in with the right password and opens a listener on the mount.
  void logInAndListen(Listener &listener) {
    setup(kPassword);
    control_.Connect();
    ASSERT_TRUE(waitUntil([this] { return control_.State() == "1"; }, 5000));
    ASSERT_TRUE(waitUntil([this] { return !sourceStatus(server_).isEmpty(); }));
    listener.open(server_.port(), server_.mount());
    ASSERT_TRUE(waitUntil([&] { return !listener.statusLine().isEmpty(); }));
    ASSERT_TRUE(listener.statusLine().contains("200")) << listener.statusLine().toStdString();
  }

  // Logs in, opens the listener and streams the video to its end; how long
  // StreamVideo took, in ms.
  qint64 streamToListener(Listener &listener, const QString &video, const QString &title) {
    logInAndListen(listener);
    if (HasFatalFailure()) {
      return 0;
    }
    QElapsedTimer timer;
    timer.start();
    EXPECT_TRUE(control_.StreamVideo(video, title));
    return timer.elapsed();
  }

  // An nsv-make test pattern of that many seconds in the test's folder.
  QString testPattern(const QString &name, int seconds) {
    const QString video = temp_.filePath(name);
    QByteArray made;
    EXPECT_TRUE(makeTestPattern(video, seconds, &made)) << made.toStdString();
    return video;
  }

  QTemporaryDir temp_;
  IcecastServer server_;
  Pellox control_;
};

} // namespace

TEST_F(PelloxIcecastTest, GoodPasswordLogsInAndAnnouncesTheStation) {
  setup(kPassword);
  control_.Connect();
  ASSERT_TRUE(waitUntil([this] { return control_.State() != "0"; }, 5000));
  EXPECT_EQ(control_.State(), "1");
  ASSERT_TRUE(waitUntil([this] { return sourceStatus(server_).value("server_name").toString() == "Integration TV"; }));
  EXPECT_EQ(sourceStatus(server_).value("server_type").toString(), "video/nsv");
}

TEST_F(PelloxIcecastTest, WrongPasswordIsRefusedWithinTwoSeconds) {
  setup(QStringLiteral("not-the-password"));
  QElapsedTimer timer;
  timer.start();
  control_.Connect();
  ASSERT_TRUE(waitUntil([this] { return control_.State() != "0"; }, 5000));
  EXPECT_EQ(control_.State(), "3");
  EXPECT_LT(timer.elapsed(), 2000);
}

TEST_F(PelloxIcecastTest, ListenerReceivesADecodableStreamAndTheTitle) {
  const QString video = testPattern(QStringLiteral("clip.nsv"), 3);

  Listener listener;
  // 75 frames at 25 fps leave in about 0.95 s per second of video.
  EXPECT_GT(streamToListener(listener, video, QStringLiteral("Tom & Jerry Show")), 1500);
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(control_.State(), "1");

  ASSERT_TRUE(waitUntil([this] { return sourceStatus(server_).value("title").toString() == "Tom & Jerry Show"; }))
      << server_.status().toStdString();

  pumpEvents(500);
  const QString received = temp_.filePath(QStringLiteral("received.nsv"));
  ASSERT_GT(listener.body().size(), 10000);
  ASSERT_TRUE(fixtures::writeFile(received, listener.body()));
  const QByteArray probe = media::probeReceivedNsv(received);
  EXPECT_TRUE(probe.startsWith("vp8,")) << probe.toStdString();
  EXPECT_GE(probe.trimmed().mid(4).toInt(), 70) << probe.toStdString();
}

TEST_F(PelloxIcecastTest, ListenerDecodesEveryFrameOfA4MbitVideo) {
  // Compressed video at this rate holds chance "NSVs" and 0xEF 0xBE bytes
  // every few dozen kilobytes; only real frames may count.
  const QString video = temp_.filePath(QStringLiteral("hd.nsv"));
  QByteArray made;
  ASSERT_TRUE(makeTestPattern(video, 3, &made,
                              {QStringLiteral("--size"), QStringLiteral("1280x720"), QStringLiteral("--video-kbps"),
                               QStringLiteral("4000")}))
      << made.toStdString();
  const int frames_made =
      QRegularExpression(QStringLiteral("(\\d+) frames at")).match(QString::fromUtf8(made)).captured(1).toInt();
  ASSERT_EQ(frames_made, 75) << made.toStdString();
  QFile file(video);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray bytes = file.readAll();
  ASSERT_GT(bytes.size() * 8 / 3, 3000000) << "the encoder fell short of 4 Mbit/s";
  const QByteArray sent = bytes.mid(bytes.indexOf("NSVs"));

  Listener listener;
  EXPECT_GT(streamToListener(listener, video, QStringLiteral("HD")), 2500);
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(control_.framesCounted(), frames_made);

  // The server passes data on in 1400-byte pieces: the next video pushes
  // the last piece of this one out.
  const QString next = temp_.filePath(QStringLiteral("next.nsv"));
  ASSERT_TRUE(fixtures::writeFile(next, fixtures::nsvFile(30, 25, 100)));
  EXPECT_TRUE(control_.StreamVideo(next, QStringLiteral("Next")));
  ASSERT_TRUE(waitUntil([&] { return listener.body().size() >= sent.size(); }, 10000));
  EXPECT_TRUE(listener.body().left(sent.size()) == sent) << "the listener's bytes differ from the file's";
  const QString received = temp_.filePath(QStringLiteral("received.nsv"));
  ASSERT_TRUE(fixtures::writeFile(received, listener.body().left(sent.size())));
  EXPECT_EQ(media::probeReceivedNsv(received), "vp8," + QByteArray::number(frames_made));
}

TEST_F(PelloxIcecastTest, NothingListeningGivesSocketError) {
  // A port that was free a moment ago: nothing answers at port + 1.
  QTcpServer probe;
  ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
  const int closed_port = probe.serverPort();
  probe.close();
  control_.Setup(QStringLiteral("127.0.0.1"), closed_port - 1, kPassword, QStringLiteral("X"), QString(), 0,
                 QString(), QString(), QString(), QString(), QString());
  control_.Connect();
  ASSERT_TRUE(waitUntil([this] { return control_.State() != "0"; }, 5000));
  EXPECT_EQ(control_.State(), "4");
}

TEST_F(PelloxIcecastTest, ASecondSourceOnTheMountIsRefusedAndItsTitlesNeverReachTheServer) {
  const QString video = testPattern(QStringLiteral("clip.nsv"), 6);
  Listener listener;
  ASSERT_NO_FATAL_FAILURE(logInAndListen(listener));
  ASSERT_TRUE(control_.StartVideo(video, QStringLiteral("Station A")));
  ASSERT_TRUE(waitUntil([this] { return sourceStatus(server_).value("title").toString() == "Station A"; }))
      << server_.status().toStdString();

  // Icecast takes the second station's login, then finds the mount in use.
  Pellox second;
  second.Setup(QStringLiteral("127.0.0.1"), server_.port(), kPassword, QStringLiteral("Station B"), QString(), 0,
               QStringLiteral("128"), QString(), QString(), QString(), QString());
  second.Connect();
  ASSERT_TRUE(waitUntil([&] { return second.State() != "0"; }, 5000));
  EXPECT_FALSE(second.StreamVideo(video, QStringLiteral("Station B")));
  EXPECT_EQ(second.State(), "3");
  EXPECT_TRUE(second.LastError().contains(QStringLiteral("another source may be using this mount")))
      << second.LastError().toStdString();
  pumpEvents(1500);
  EXPECT_EQ(sourceStatus(server_).value("title").toString(), "Station A");
  EXPECT_EQ(sourceStatus(server_).value("server_name").toString(), "Integration TV");
  control_.StopStream();
}
