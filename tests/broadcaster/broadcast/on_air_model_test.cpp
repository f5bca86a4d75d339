// What the air is doing, as the driver's signals and the server's status
// page tell it: the station on the fake server, its waits on the fast clock.

#include "tests/broadcaster/broadcast/driver_test_support.h"

#include "broadcaster/broadcast/on_air_model.h"

using namespace broadcaster_testing;

namespace {

class OnAirModelTest : public DriverTest {
protected:
  OnAirModel &model() { return station_.on_air; }

  // A video of frame_count frames at 25 fps, with the NSVf header that gives
  // its length.
  void writeVideoWithHeader(int index, int frame_count) {
    ASSERT_TRUE(fixtures::writeFile(videoPath(index), fixtures::nsvFile(frame_count, 25, 2000, 0, 25, true)));
  }
};

QByteArray icecastStatus(const QString &source_json) {
  return R"({"icestats":{"admin":"a","host":"h","server_id":"Icecast 2.4.4","source":)" + source_json.toUtf8() + "}}";
}

} // namespace

TEST_F(OnAirModelTest, NowNextElapsedAndLastPlaysFollowTheDriver) {
  openSession(3);
  writeVideoWithHeader(0, 100); // 4 s, on the air while it is looked at
  queueVideosZeroAndOne();
  queue().append(QStringLiteral("Video 2"), QStringLiteral("K2"));
  EXPECT_FALSE(model().running());
  EXPECT_FALSE(model().nowPlaying().has_value());
  EXPECT_EQ(model().elapsedMs(), -1);

  struct Seen {
    QString now_key;
    qint64 duration_ms = 0;
    QStringList next_titles;
    bool on_air = false;
  };
  QList<Seen> seen;
  qint64 elapsed_later_ms = -1;
  QObject::connect(&driver_, &BroadcastDriver::videoStarting, &driver_, [&](const QString &) {
    Seen now;
    now.now_key = model().nowPlaying() ? model().nowPlaying()->entry_key : QString();
    now.duration_ms = model().nowPlaying() ? model().nowPlaying()->duration_ms : 0;
    for (const PlayQueue::Item &item : model().nextUp()) {
      now.next_titles << item.title;
    }
    now.on_air = model().onAir();
    seen << now;
    if (seen.size() == 1) {
      // A second of the fast clock is 50 ms of real time.
      QTimer::singleShot(100, &driver_, [&] { elapsed_later_ms = model().elapsedMs(); });
    }
  });
  QList<QStringList> last_at_start;
  QObject::connect(&driver_, &BroadcastDriver::videoStarting, &driver_, [&](const QString &) {
    QStringList titles;
    for (const OnAirModel::PastPlay &play : model().lastPlays()) {
      titles << play.title;
    }
    last_at_start << titles;
  });
  // On the air once the server has taken the video, not from its start.
  QList<bool> on_air_when_taken;
  QObject::connect(&driver_, &BroadcastDriver::videoOnAir, &driver_,
                   [&](const QString &) { on_air_when_taken << model().onAir(); });
  QSignalSpy events(&model(), &OnAirModel::event);
  stopAfterPlays(2);
  runBroadcast();

  ASSERT_GE(seen.size(), 3);
  EXPECT_FALSE(seen[0].on_air);
  ASSERT_FALSE(on_air_when_taken.isEmpty());
  EXPECT_TRUE(on_air_when_taken[0]);
  EXPECT_EQ(seen[0].now_key, "0");
  EXPECT_EQ(seen[0].duration_ms, 4000);
  EXPECT_EQ(seen[0].next_titles, (QStringList{"Video 1", "Video 2"}));
  // A file without the header has no duration to give.
  EXPECT_EQ(seen[1].now_key, "1");
  EXPECT_EQ(seen[1].duration_ms, -1);
  EXPECT_EQ(seen[1].next_titles, QStringList{"Video 2"});
  EXPECT_TRUE(seen[1].on_air) << "the stream plays on from one video into the next";
  EXPECT_GE(elapsed_later_ms, 1000);
  EXPECT_EQ(last_at_start[2], (QStringList{"Video 1", "Video 0"}));
  EXPECT_EQ(model().counters().plays, 2u);
  // Stopped: off the air, nothing playing.
  EXPECT_FALSE(model().running());
  EXPECT_FALSE(model().onAir());
  EXPECT_EQ(model().elapsedMs(), -1);
  QStringList types;
  for (const QList<QVariant> &arguments : events) {
    types << arguments.value(0).toString();
  }
  EXPECT_EQ(types.mid(0, 5), (QStringList{"broadcast-started", "video-started", "video-played", "video-started",
                                          "video-played"}));
  EXPECT_EQ(types.last(), "broadcast-ended");
  // Two plays this hour.
  EXPECT_EQ(model().playsPerHour().last().value, 2);
}

TEST_F(OnAirModelTest, ReconnectingCountsDownUntilTheNextLogin) {
  driver_.setReconnect(true);
  server_.setLoginAnswer(FakeShoutcastServer::LoginAnswer::HangUp);
  openSession(1);
  QList<qint64> countdown_ms;
  QObject::connect(&driver_, &BroadcastDriver::retryScheduled, &driver_, [&](std::uint32_t) {
    countdown_ms << model().reconnectInMs();
    QTimer::singleShot(50, &driver_, [&] {
      countdown_ms << model().reconnectInMs();
      EXPECT_TRUE(model().reconnecting());
      EXPECT_FALSE(model().onAir());
      driver_.stop();
    });
  });
  runBroadcast();
  ASSERT_EQ(countdown_ms.size(), 2);
  EXPECT_LE(countdown_ms[0], 2000);
  EXPECT_GT(countdown_ms[0], 1500);
  EXPECT_LT(countdown_ms[1], countdown_ms[0]);
  EXPECT_FALSE(model().reconnecting());
  EXPECT_EQ(model().reconnectInMs(), -1);
}

TEST_F(OnAirModelTest, ListenersComeFromTheServersStatusPageAndAreUnknownWithoutOne) {
  openSession(1);
  writeVideoWithHeader(0, 500);
  selectMode(PlayQueue::Mode::Manual);
  // Another station's source on the same server, and ours: known by the
  // name the session gives, wherever it is mounted.
  server_.setStatusPage(QStringLiteral("/status-json.xsl"),
                        icecastStatus(R"([{"listenurl":"http://h/stream","listeners":40,"listener_peak":90,
                                          "server_name":"Other TV"},
                                         {"listenurl":"http://h/tv","listeners":7,"listener_peak":12,
                                          "server_name":"Stream Test"}])"));
  model().listenerPoller().setInterval(100);
  QList<int> listeners;
  QObject::connect(&model(), &OnAirModel::changed, &driver_, [&] {
    const int now = model().listeners();
    if ((listeners.isEmpty() && now >= 0) || (!listeners.isEmpty() && listeners.last() != now)) {
      listeners << now;
    }
  });
  QObject::connect(&driver_, &BroadcastDriver::videoOnAir, &driver_, [&](const QString &) {
    QTimer::singleShot(300, &driver_, [&] {
      // The server stops answering its status page.
      server_.setStatusPage(QStringLiteral("/status-json.xsl"), QByteArray());
      QTimer::singleShot(400, &driver_, [&] { driver_.stop(); });
    });
  });
  EXPECT_EQ(model().listeners(), -1);
  runBroadcast();
  ASSERT_GE(listeners.size(), 2);
  EXPECT_EQ(listeners[0], 7);
  EXPECT_EQ(listeners.last(), -1) << "unknown, not zero";
  EXPECT_EQ(model().peakListeners(), 12);
  EXPECT_EQ(model().listenerHistory().back().value, 7);
}

TEST(ListenerPoller, ReadsIcecastAndShoutcastPagesAndNothingElse) {
  int listeners = -2;
  int peak = -2;
  // One source is an object, not an array.
  EXPECT_TRUE(ListenerPoller::parseIcecastStatus(
      icecastStatus(R"({"listenurl":"http://h:8000/stream","listeners":3,"listener_peak":5})"), QStringLiteral("x"),
      &listeners, &peak));
  EXPECT_EQ(listeners, 3);
  EXPECT_EQ(peak, 5);
  // No source of this station among several: no figures rather than another's.
  EXPECT_FALSE(ListenerPoller::parseIcecastStatus(
      icecastStatus(R"([{"listenurl":"http://h/a","listeners":1},{"listenurl":"http://h/b","listeners":2}])"),
      QStringLiteral("x"), &listeners, &peak));
  EXPECT_FALSE(ListenerPoller::parseIcecastStatus(icecastStatus(R"({"listenurl":"http://h/stream"})"),
                                                  QStringLiteral("x"), &listeners, &peak));
  EXPECT_FALSE(ListenerPoller::parseIcecastStatus("<html>Not found</html>", QString(), &listeners, &peak));
  EXPECT_TRUE(ListenerPoller::parseShoutcastSeven(
      "<HTML><meta http-equiv=\"Pragma\" content=\"no-cache\"></head><body>4,1,9,100,3,128,Song, with commas</body>"
      "</html>",
      &listeners, &peak));
  EXPECT_EQ(listeners, 4);
  EXPECT_EQ(peak, 9);
  EXPECT_FALSE(ListenerPoller::parseShoutcastSeven("<body>Server is down</body>", &listeners, &peak));
}
