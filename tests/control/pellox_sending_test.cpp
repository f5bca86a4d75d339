// The control sending videos: refusals, stops from any thread, servers that
// stop or pause reading, and a host thread that blocks.

#include "tests/control/pellox_test_support.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QThread>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>
#include <thread>
#include <vector>

using namespace pellox_testing;

TEST_F(PelloxTest, AServerThatClosesBeforeTakingVideoRefusedTheLoginAndGetsNoTitle) {
  // As a server does that takes the login and then finds the mount in use.
  // Real time: the half second in which the first block counts as taken.
  control_.setClock(std::make_shared<SystemMillisecondClock>());
  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  logIn(server);
  ASSERT_TRUE(waitUntil([&] { return server.sourceBytesAfterLogin() == kStreamTestHeader; }));
  server.closeSource();
  ASSERT_TRUE(waitUntil([this] { return control_.State() == "3"; }));
  const QString path = writeVideo(QStringLiteral("a.nsv"), fixtures::nsvFile(30, 25, 100));
  EXPECT_FALSE(control_.StreamVideo(path, QStringLiteral("B1")));
  EXPECT_TRUE(control_.LastError().contains(QStringLiteral("right after the login"))) << control_.LastError().toStdString();

  // Closed while the first video goes out, before it was taken: the same.
  const QString long_path = writeVideo(QStringLiteral("b.nsv"), fixtures::nsvFile(100, 25, 400));
  logIn(server);
  QTimer::singleShot(5, &control_, [&server] { server.closeSource(); });
  EXPECT_FALSE(control_.StreamVideo(long_path, QStringLiteral("B2")));
  EXPECT_EQ(control_.State(), "3");
  EXPECT_TRUE(control_.LastError().contains(QStringLiteral("right after the login"))) << control_.LastError().toStdString();

  // Once a video is on the air, a close is a lost connection: the state stays.
  logIn(server);
  QSignalSpy taken(&control_, &Pellox::VideoTaken);
  QObject::connect(&control_, &Pellox::VideoTaken, &control_, [&server] { server.closeSource(); });
  EXPECT_FALSE(control_.StreamVideo(long_path, QStringLiteral("B3")));
  EXPECT_EQ(taken.count(), 1);
  EXPECT_EQ(control_.State(), "2");
  EXPECT_TRUE(control_.LastError().contains(QStringLiteral("closed by the server or the network")))
      << control_.LastError().toStdString();
  ASSERT_TRUE(waitUntil([&] { return server.closedTitleConnections() == 1; }));
  pumpEvents(200);
  EXPECT_EQ(server.titleConnectionCount(), 1);
  EXPECT_TRUE(server.titleRequests().value(0).contains("song=B3 HTTP/1.0"));
}

TEST_F(PelloxTest, StopAndDisconnectEndAVideoWithin100msFromAnyThread) {
  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  control_.setSourceSendBufferBytes(64 * 1024);
  // A minute of video at 100 kB/s: its holds, or with a server that reads
  // nothing, a full queue after about five seconds of it.
  const QString path = writeVideo(QStringLiteral("a.nsv"), fixtures::nsvFile(1500, 25, 4000));
  enum class Call { Stop, Disconnect };
  const struct {
    const char *moment;
    int after_ms;
    bool server_reads;
  } moments[] = {{"first blocks", 0, true}, {"hold", 300, true}, {"wait for room", 500, false}};
  for (const auto &moment : moments) {
    for (const Call call : {Call::Stop, Call::Disconnect}) {
      for (const bool other_thread : {false, true}) {
        SCOPED_TRACE(QStringLiteral("%1, %2, %3")
                         .arg(QLatin1String(moment.moment), call == Call::Stop ? "stop" : "disconnect",
                              other_thread ? "another thread" : "the host's thread")
                         .toStdString());
        server.setSourceReading(moment.server_reads);
        logIn(server);
        QElapsedTimer since_call;
        auto act = [&] {
          since_call.start();
          call == Call::Stop ? control_.StopStream() : control_.Disconnect();
        };
        QTimer::singleShot(moment.after_ms, &control_, [&] {
          if (other_thread) {
            std::thread caller(act);
            caller.join();
          } else {
            act();
          }
        });
        EXPECT_FALSE(control_.StreamVideo(path));
        EXPECT_LE(since_call.elapsed(), 100);
        EXPECT_EQ(control_.State(), call == Call::Stop ? "2" : "0");
        if (call == Call::Disconnect) {
          EXPECT_TRUE(control_.LastError().contains(QStringLiteral("closed before"))) << control_.LastError().toStdString();
        } else {
          EXPECT_TRUE(control_.LastError().isEmpty()) << control_.LastError().toStdString();
          control_.Disconnect();
        }
        server.setSourceReading(true);
      }
    }
  }
  // A stop asked for while nothing is sent is dropped: the next video plays.
  logIn(server);
  control_.StopStream();
  EXPECT_TRUE(control_.StreamVideo(writeVideo(QStringLiteral("short.nsv"), fixtures::nsvFile(30, 25, 100))));
  EXPECT_EQ(control_.State(), "1");
}

TEST_F(PelloxTest, AVideoStoppedBeforeTheServerTookItIsNeverAnnouncedAsTaken) {
  // Real time: the Stop comes well inside the half-second given to the server.
  control_.setClock(std::make_shared<FastClock>(1));
  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  logIn(server);
  QSignalSpy finished(&control_, &Pellox::VideoFinished);
  QSignalSpy taken(&control_, &Pellox::VideoTaken);
  ASSERT_TRUE(control_.StartVideo(writeVideo(QStringLiteral("a.nsv"), fixtures::nsvFile(1500, 25, 4000)),
                                  QStringLiteral("Stopped")));
  ASSERT_TRUE(waitUntil([this] { return control_.BytesSent() > 0; }));
  control_.StopStream();
  ASSERT_TRUE(finished.wait(5000));
  pumpEvents(1000);
  EXPECT_EQ(taken.count(), 0);
  EXPECT_EQ(server.titleConnectionCount(), 0);
}

TEST_F(PelloxTest, RefusalWhileSendingSetsThreeAndEndsTheVideo) {
  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  logIn(server);
  const QString path = writeVideo(QStringLiteral("a.nsv"), fixtures::nsvFile(200, 25, 400));
  QObject::connect(&control_, &Pellox::VideoTaken, &control_, [&server] { server.sendOnSource("Bad data\r\n"); });
  EXPECT_FALSE(control_.StreamVideo(path));
  EXPECT_EQ(control_.State(), "3");
}

TEST_F(PelloxTest, FilesThatCannotBeSentAreRefusedAndChangeNothing) {
  // Without a connection: the state becomes 2 and nothing goes out.
  const QString video = writeVideo(QStringLiteral("a.nsv"), fixtures::nsvFile(30, 25, 100));
  EXPECT_FALSE(control_.StreamVideo(video));
  EXPECT_EQ(control_.State(), "2");
  EXPECT_TRUE(control_.LastError().contains(QStringLiteral("not open"))) << control_.LastError().toStdString();
  control_.Disconnect();

  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  logIn(server);
  ASSERT_TRUE(waitUntil([&] { return server.sourceBytesAfterLogin() == kStreamTestHeader; }));
  const struct {
    QString path;
    const char *error;
  } cases[] = {{temp_.filePath(QStringLiteral("missing.nsv")), "cannot be opened"},
               {temp_.path(), "cannot be opened"},
               {writeVideo(QStringLiteral("no-sync.bin"), fixtures::filler(2500)), "not an NSV video"},
               {writeVideo(QStringLiteral("rate-zero.nsv"), fixtures::nsvFile(30, 0, 100)), "frame rate of 0"}};
  for (const auto &entry : cases) {
    SCOPED_TRACE(entry.path.toStdString());
    EXPECT_FALSE(control_.StreamVideo(entry.path, QStringLiteral("T")));
    EXPECT_TRUE(control_.LastError().contains(QLatin1String(entry.error))) << control_.LastError().toStdString();
    EXPECT_EQ(control_.State(), "1");
  }
  pumpEvents(200);
  EXPECT_EQ(server.sourceBytesAfterLogin(), kStreamTestHeader);
  EXPECT_EQ(server.titleConnectionCount(), 0);
}

TEST_F(PelloxTest, OneVideoAtATimeAndProgressShowsHowFarItGot) {
  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  logIn(server);
  const QByteArray video = fixtures::nsvFile(10, 25, 100);
  const QString path = writeVideo(QStringLiteral("a.nsv"), video);
  bool nested_result = true;
  bool started_result = true;
  QTimer::singleShot(0, &control_, [&] {
    nested_result = control_.StreamVideo(path, QStringLiteral("nested"));
    started_result = control_.StartVideo(path, QStringLiteral("nested"));
  });
  EXPECT_TRUE(control_.StreamVideo(path, QStringLiteral("outer")));
  EXPECT_FALSE(nested_result);
  EXPECT_FALSE(started_result);
  ASSERT_TRUE(waitUntil([&] { return server.sourceBytesAfterLogin() == kStreamTestHeader + video; }));

  // The face keeps its size; a 50-byte video of one frame at one frame per
  // second reaches its second mark at (50 + 1) / 50 = 102 %, which the bar
  // clamps to its full width; at the end it is empty again.
  EXPECT_EQ(control_.size(), QSize(57, 41));
  control_.resize(300, 200);
  EXPECT_EQ(control_.size(), QSize(57, 41));
  QSignalSpy finished(&control_, &Pellox::VideoFinished);
  double widest_px = 0.0;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] { widest_px = std::max(widest_px, control_.progressWidth()); });
  watch.start(1);
  ASSERT_TRUE(control_.StartVideo(writeVideo(QStringLiteral("tiny.nsv"), fixtures::frameOfSize(50, true, 1))));
  ASSERT_TRUE(finished.wait(5000));
  EXPECT_TRUE(finished.first().value(0).toBool());
  EXPECT_DOUBLE_EQ(widest_px, 57.0);
  EXPECT_EQ(control_.progressWidth(), 0.0);
}

TEST_F(PelloxTest, AServerThatStopsReadingIsGivenUpAfter15sWithoutTheFileBuffered) {
  FakeShoutcastServer server;
  ASSERT_NO_FATAL_FAILURE(logInToServerThatStopsReading(server));
  // 20 s of video at about 250 kB/s: the control may hold two seconds of it.
  const QByteArray video = fixtures::nsvFile(500, 25, 10000);
  const std::uint32_t started_ms = clock_->nowMs();
  EXPECT_FALSE(control_.StreamVideo(writeVideo(QStringLiteral("a.nsv"), video)));
  EXPECT_GE(clock_->nowMs() - started_ms, 15000u);
  EXPECT_EQ(control_.State(), "4");
  EXPECT_TRUE(control_.LastError().contains(QStringLiteral("server stopped reading")))
      << control_.LastError().toStdString();
  // What left the control is the queue's bound and the buffers on the way.
  server.setSourceReading(true);
  ASSERT_TRUE(waitUntil([&] { return !server.sourceConnected(); }));
  EXPECT_LT(server.sourceBytesAfterLogin().size(), video.size() / 3);

  // A short one fits whole into the buffers on the way: more than the
  // queue's bound still unsent at its end is no play either.
  FakeShoutcastServer other;
  ASSERT_NO_FATAL_FAILURE(logInToServerThatStopsReading(other));
  EXPECT_FALSE(control_.StreamVideo(writeVideo(QStringLiteral("b.nsv"), fixtures::nsvFile(200, 25, 4000)))); // 8 s
  EXPECT_EQ(control_.State(), "4");
}

TEST_F(PelloxTest, AVideoTheSystemCouldBufferWholeIsNotPlayedToAServerThatReadsNothing) {
  // The control's own limit on the system's send buffer, not the test's:
  // left to grow, that buffer swallows seconds of video unread.
  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  server.setSourceReading(false);
  logIn(server);
  EXPECT_FALSE(control_.StreamVideo(writeVideo(QStringLiteral("a.nsv"), fixtures::nsvFile(300, 25, 10000)))); // 3 MB
  EXPECT_EQ(control_.State(), "4");
}

TEST_F(PelloxTest, AServerThatPausesThreeSecondsIsWaitedFor) {
  FakeShoutcastServer server;
  ASSERT_NO_FATAL_FAILURE(logInToServerThatStopsReading(server));
  const QByteArray video = fixtures::nsvFile(200, 25, 10000);
  // 3 s of the clock: 150 ms of real time.
  QTimer::singleShot(150, &control_, [&server] { server.setSourceReading(true); });
  EXPECT_TRUE(control_.StreamVideo(writeVideo(QStringLiteral("a.nsv"), video)));
  EXPECT_EQ(control_.State(), "1");
  ASSERT_TRUE(waitUntil([&] { return server.sourceBytesAfterLogin() == kStreamTestHeader + video; }));
}

namespace {

// A source server on a thread of its own that notes when each piece of the
// stream arrives, so that the test's own thread can be blocked meanwhile.
class ArrivalRecorder {
public:
  ~ArrivalRecorder() {
    for (const int descriptor : {listener_, connection_.load()}) {
      if (descriptor >= 0) {
        ::shutdown(descriptor, SHUT_RDWR);
      }
    }
    if (thread_.joinable()) {
      thread_.join();
    }
    for (const int descriptor : {listener_, connection_.load()}) {
      if (descriptor >= 0) {
        ::close(descriptor);
      }
    }
  }
  // The port the control's Setup takes (the source port is one above).
  int start() {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (::bind(listener_, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0 ||
        ::listen(listener_, 1) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
      return -1;
    }
    since_start_.start();
    thread_ = std::thread([this] { serve(); });
    return ntohs(address.sin_port) - 1;
  }
  // Milliseconds at which each read returned, and the bytes it got.
  std::vector<std::pair<qint64, qint64>> arrivals() {
    std::lock_guard<std::mutex> lock(mutex_);
    return arrivals_;
  }

private:
  void serve() {
    const int connection = ::accept(listener_, nullptr, nullptr);
    if (connection < 0) {
      return;
    }
    connection_ = connection;
    char buffer[65536];
    bool logged_in = false;
    for (;;) {
      const ssize_t got = ::recv(connection, buffer, sizeof(buffer), 0);
      if (got <= 0) {
        break;
      }
      if (!logged_in) {
        logged_in = true;
        ::send(connection, "OK2\r\n", 5, 0);
        continue;
      }
      std::lock_guard<std::mutex> lock(mutex_);
      arrivals_.emplace_back(since_start_.elapsed(), got);
    }
  }

  int listener_ = -1;
  std::atomic_int connection_{-1};
  QElapsedTimer since_start_;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::pair<qint64, qint64>> arrivals_;
};

} // namespace

TEST_F(PelloxTest, AHostThreadBlockedForThreeSecondsDoesNotHoldTheStream) {
  // Real time, with wide margins: six seconds of video, and the host's
  // thread asleep from its first second to its fourth.
  control_.setClock(std::make_shared<SystemMillisecondClock>());
  ArrivalRecorder server;
  const int port = server.start();
  ASSERT_GT(port, 0);
  control_.Setup(QStringLiteral("127.0.0.1"), port, QStringLiteral("pw"), QStringLiteral("n"), QString(), 0,
                 QString(), QString(), QString(), QString(), QString());
  control_.Connect();
  ASSERT_TRUE(waitUntil([this] { return control_.State() == "1"; }));
  const QString path = writeVideo(QStringLiteral("a.nsv"), fixtures::nsvFile(150, 25, 4000));
  qint64 blocked_from_ms = -1;
  QTimer::singleShot(1000, &control_, [&] {
    blocked_from_ms = server.arrivals().empty() ? 0 : server.arrivals().back().first;
    QThread::sleep(3);
  });
  EXPECT_TRUE(control_.StreamVideo(path));
  ASSERT_GE(blocked_from_ms, 0);
  // Each second of video arrived about a second after the one before, the
  // blocked stretch included: no gap, and three holds' worth meanwhile.
  const auto arrivals = server.arrivals();
  qint64 longest_gap_ms = 0;
  qint64 bytes_while_blocked = 0;
  for (size_t index = 1; index < arrivals.size(); ++index) {
    longest_gap_ms = std::max(longest_gap_ms, arrivals[index].first - arrivals[index - 1].first);
    if (arrivals[index].first > blocked_from_ms + 100 && arrivals[index].first < blocked_from_ms + 3000) {
      bytes_while_blocked += arrivals[index].second;
    }
  }
  EXPECT_LE(longest_gap_ms, 1500);
  // 25 frames of 4 kB are a second; two of them leave in the blocked 2.9 s.
  EXPECT_GE(bytes_while_blocked, 2 * 25 * 4000);
}
