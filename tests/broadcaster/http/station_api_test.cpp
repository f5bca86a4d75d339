// The HTTP API against a station on the fake server: what it reads is what
// the models hold, what it changes goes through the same models as the
// window's buttons, and its events and metrics follow what happened.

#include "tests/broadcaster/http/station_api_test_support.h"

#include <QJsonArray>
#include <QProcess>
#include <QRegularExpression>

using namespace broadcaster_testing;
using namespace http_testing;

namespace {

QStringList titlesOf(const QJsonArray &items) {
  QStringList titles;
  for (const QJsonValue &item : items) {
    titles << item.toObject().value(QStringLiteral("title")).toString();
  }
  return titles;
}

// A sample's value in Prometheus' text: the line "name value" (labels included in name).
double sample(const QByteArray &text, const QByteArray &name) {
  for (const QByteArray &line : text.split('\n')) {
    if (line.startsWith(name + ' ')) {
      return line.mid(name.size() + 1).toDouble();
    }
  }
  return -1;
}

} // namespace

TEST_F(StationApiTest, ReadsGiveWhatTheModelsHold) {
  openSession(3);
  // Video 0 has a header that gives its length: 4 s, of which the first
  // two leave at once.
  ASSERT_TRUE(fixtures::writeFile(videoPath(0), fixtures::nsvFile(100, 25, 2000, 0, 25, true)));
  queueVideosZeroAndOne();
  queue().append(QStringLiteral("Video 2"), QStringLiteral("K2"));
  HttpReply status_on_air;
  HttpReply queue_on_air;
  QObject::connect(&driver_, &BroadcastDriver::videoOnAir, &driver_, [&](const QString &key) {
    if (key == QLatin1String("0")) {
      QTimer::singleShot(0, &driver_, [&] {
        status_on_air = get(QStringLiteral("/api/status"));
        queue_on_air = get(QStringLiteral("/api/queue"));
      });
    }
  });
  stopAfterPlays(1);
  runBroadcast();

  ASSERT_EQ(status_on_air.status, 200);
  EXPECT_EQ(status_on_air.headers.value("content-type"), "application/json");
  const QJsonObject status = status_on_air.json();
  EXPECT_TRUE(status.value("running").toBool());
  EXPECT_TRUE(status.value("on_air").toBool());
  EXPECT_FALSE(status.value("reconnecting").toBool());
  EXPECT_TRUE(status.value("reconnect_in_ms").isNull());
  const QJsonObject now = status.value("now_playing").toObject();
  EXPECT_EQ(now.value("key").toString(), "0");
  EXPECT_EQ(now.value("title").toString(), "Video 0");
  EXPECT_EQ(now.value("duration_ms").toInt(), 4000);
  EXPECT_GE(now.value("elapsed_ms").toInt(-1), 0);
  EXPECT_TRUE(now.value("started_at").toString().endsWith('Z'));
  EXPECT_EQ(titlesOf(status.value("next_up").toArray()), (QStringList{"Video 1", "Video 2"}));
  EXPECT_TRUE(status.value("listeners").isNull()) << "unknown, not zero";
  EXPECT_EQ(status.value("pacing_mode").toString(), station_.on_air.pacingMode());
  EXPECT_TRUE(status.value("behind_schedule_ms").isDouble());
  EXPECT_TRUE(status.value("bytes_sent").isDouble());
  EXPECT_EQ(status.value("version").toString(), QString::fromLatin1(kStationVersion));

  ASSERT_EQ(queue_on_air.status, 200);
  const QJsonArray items = queue_on_air.json().value("items").toArray();
  EXPECT_EQ(queue_on_air.json().value("mode").toString(), "manual");
  ASSERT_EQ(items.size(), 3);
  EXPECT_EQ(items[0].toObject().value("key").toString(), "0");
  EXPECT_TRUE(items[0].toObject().value("on_air").toBool());
  EXPECT_EQ(items[2].toObject().value("position").toInt(), 2);
  EXPECT_FALSE(items[2].toObject().value("on_air").toBool());

  // After the broadcast: the play is counted, and the library shows it.
  const QJsonObject after = get(QStringLiteral("/api/status")).json();
  EXPECT_FALSE(after.value("running").toBool());
  EXPECT_TRUE(after.value("now_playing").isNull());
  EXPECT_EQ(after.value("counters").toObject().value("plays").toInt(), 1);
  EXPECT_EQ(titlesOf(after.value("last_plays").toArray()), QStringList{"Video 0"});

  const QJsonObject found = get(QStringLiteral("/api/library?search=VIDEO%200")).json();
  EXPECT_EQ(found.value("folders").toArray(), QJsonArray{"Videos"});
  EXPECT_EQ(found.value("matched").toInt(), 1);
  const QJsonObject video = found.value("videos").toArray().at(0).toObject();
  EXPECT_EQ(video.value("key").toString(), "0");
  EXPECT_EQ(video.value("folder").toString(), "Videos");
  EXPECT_EQ(video.value("play_count").toInt(), countsOnDisk().value("0"));
  EXPECT_EQ(video.value("play_count").toInt(), 1);
  const QJsonObject first_two = get(QStringLiteral("/api/library?limit=2")).json();
  EXPECT_EQ(first_two.value("matched").toInt(), 3);
  EXPECT_TRUE(first_two.value("truncated").toBool());
  EXPECT_EQ(titlesOf(first_two.value("videos").toArray()), (QStringList{"Video 0", "Video 1"}));
  // A video added to the library is found at once.
  station_.session.library().addVideo(QStringLiteral("Videos"), videoPath(0), QStringLiteral("Late Show"));
  EXPECT_EQ(get(QStringLiteral("/api/library?search=late")).json().value("matched").toInt(), 1);
  // And one taken out, or its folder, is gone at once.
  station_.session.library().removeVideo(QStringLiteral("K1"));
  EXPECT_EQ(titlesOf(get(QStringLiteral("/api/library")).json().value("videos").toArray()),
            (QStringList{"Video 0", "Video 2", "Late Show"}));
  station_.session.library().removeFolder(QStringLiteral("Videos"));
  const QJsonObject emptied = get(QStringLiteral("/api/library")).json();
  EXPECT_EQ(emptied.value("matched").toInt(), 0);
  EXPECT_TRUE(emptied.value("folders").toArray().isEmpty());
}

TEST_F(StationApiTest, ChangesGoThroughTheModelsAsTheButtonsDo) {
  openSession(3);
  // Ten seconds each: video 0 is skipped while it plays, video 1 stopped.
  for (const int index : {0, 1}) {
    ASSERT_TRUE(fixtures::writeFile(videoPath(index), fixtures::nsvFile(250, 25, 2000)));
  }
  selectMode(PlayQueue::Mode::Manual);
  EXPECT_EQ(change("POST", QStringLiteral("/api/queue"), R"({"key": "0"})").status, 201);
  // A key as a number, as a script may send it.
  const HttpReply second = change("POST", QStringLiteral("/api/queue"), R"({"key": 1})");
  EXPECT_EQ(second.status, 201);
  EXPECT_EQ(second.json().value("position").toInt(), 1);
  EXPECT_EQ(change("POST", QStringLiteral("/api/queue"), R"({"key": "2"})").json().value("title").toString(), "Video 2");
  // As a double-click on the library would have queued them.
  EXPECT_EQ(queue().keys(), (QStringList{"K0", "K1", "K2"}));
  EXPECT_EQ(queue().titles(), (QStringList{"Video 0", "Video 1", "Video 2"}));
  const HttpReply removed = change("DELETE", QStringLiteral("/api/queue/2"));
  EXPECT_EQ(removed.status, 200);
  EXPECT_EQ(removed.json().value("removed").toObject().value("title").toString(), "Video 2");
  EXPECT_EQ(queue().keys(), (QStringList{"K0", "K1"}));
  EXPECT_EQ(change("POST", QStringLiteral("/api/skip")).status, 409) << "nothing plays yet";
  EXPECT_EQ(change("POST", QStringLiteral("/api/stop")).status, 409);

  HttpReply remove_on_air;
  HttpReply second_start;
  HttpReply skipped;
  HttpReply stopped;
  QStringList started;
  QObject::connect(&driver_, &BroadcastDriver::videoStarting, &driver_, [&](const QString &key) {
    started << key;
    if (started.size() == 2) {
      QTimer::singleShot(0, &driver_, [&] { stopped = change("POST", QStringLiteral("/api/stop")); });
    }
  });
  QObject::connect(&driver_, &BroadcastDriver::videoOnAir, &driver_, [&](const QString &key) {
    if (key == QLatin1String("0") && started.size() == 1) {
      QTimer::singleShot(0, &driver_, [&] {
        remove_on_air = change("DELETE", QStringLiteral("/api/queue/0"));
        second_start = change("POST", QStringLiteral("/api/start"));
        skipped = change("POST", QStringLiteral("/api/skip"));
      });
    }
  });
  QSignalSpy ended(&driver_, &BroadcastDriver::ended);
  EXPECT_EQ(change("POST", QStringLiteral("/api/start")).status, 202);
  ASSERT_TRUE(ended.wait(30000));

  EXPECT_EQ(remove_on_air.status, 409) << remove_on_air.error().toStdString();
  EXPECT_EQ(second_start.status, 409);
  EXPECT_EQ(skipped.status, 202);
  EXPECT_EQ(skipped.json().value("skipping").toObject().value("title").toString(), "Video 0");
  EXPECT_EQ(stopped.status, 202);
  // The skip ended video 0 and went on with video 1, without a play count.
  EXPECT_EQ(started, (QStringList{"0", "1"}));
  EXPECT_EQ(station_.on_air.counters().skips, 1u);
  EXPECT_EQ(countsOnDisk().value("0"), 0);
  EXPECT_FALSE(driver_.isRunning());
  EXPECT_EQ(statusText(), kStreamStopped);
}

TEST_F(StationApiTest, AStartWhileTheStationStopsSaysItIsStillStopping) {
  openSession(1);
  ASSERT_TRUE(fixtures::writeFile(videoPath(0), fixtures::nsvFile(250, 25, 2000)));
  selectMode(PlayQueue::Mode::Manual);
  queue().append(QStringLiteral("Video 0"), QStringLiteral("K0"));
  // Exit, unlike Stop, stays requested, so the answer does not race a timer.
  HttpReply start_while_exiting;
  QObject::connect(&driver_, &BroadcastDriver::videoOnAir, &driver_, [&](const QString &) {
    QTimer::singleShot(0, &driver_, [&] {
      driver_.endForExit();
      start_while_exiting = change("POST", QStringLiteral("/api/start"));
    });
  });
  QSignalSpy exit_finished(&driver_, &BroadcastDriver::exitFinished);
  EXPECT_EQ(change("POST", QStringLiteral("/api/start")).status, 202);
  ASSERT_TRUE(exit_finished.wait(30000));
  EXPECT_EQ(start_while_exiting.status, 409);
  EXPECT_EQ(start_while_exiting.error(), "The last broadcast is still stopping; try again in a moment.");
}

TEST_F(StationApiTest, EventsArriveInOrderForAStartAPlayAndALoss) {
  driver_.setReconnect(true);
  openSession(2);
  ASSERT_TRUE(fixtures::writeFile(videoPath(1), fixtures::nsvFile(250, 25, 2000)));
  queueVideosZeroAndOne();
  EventReader reader;
  ASSERT_TRUE(reader.open(port()));
  // The server hangs up during video 1, once; back on the air, it is stopped.
  QObject::connect(&driver_, &BroadcastDriver::videoOnAir, &driver_, [&](const QString &key) {
    if (key == QLatin1String("1") && server_.sourceConnectionCount() == 1) {
      server_.closeSource();
    }
  });
  QObject::connect(&driver_, &BroadcastDriver::connectionBack, &driver_, [&] { driver_.stop(); });
  runBroadcast();
  ASSERT_TRUE(waitUntil([&] { return reader.types().contains("broadcast-ended"); }));

  EXPECT_EQ(reader.types(), (QStringList{"broadcast-started", "video-started", "video-played", "video-started",
                                         "connection-lost", "video-started", "connection-back", "broadcast-ended"}));
  const QList<EventReader::Event> events = reader.events();
  EXPECT_EQ(events[1].data.value("title").toString(), "Video 0");
  EXPECT_EQ(events[2].data.value("key").toString(), "0");
  EXPECT_FALSE(events[4].data.value("reason").toString().isEmpty());
  EXPECT_TRUE(events[0].data.value("at").toString().endsWith('Z'));

  // A client that comes back says the last event it had and gets the rest.
  EventReader returning;
  ASSERT_TRUE(returning.open(port(), events[5].id));
  ASSERT_TRUE(waitUntil([&] { return returning.types().size() >= 2; }));
  EXPECT_EQ(returning.types(), (QStringList{"connection-back", "broadcast-ended"}));
}

TEST_F(StationApiTest, AClientThatStopsReadingEventsIsDroppedAndTheOthersGoOn) {
  EventReader stalled;
  ASSERT_TRUE(stalled.open(port()));
  stalled.socket().setReadBufferSize(1024);
  EventReader reading;
  ASSERT_TRUE(reading.open(port()));
  ASSERT_EQ(api_->eventClientCount(), 2);
  // Large events, many more than the system's buffers on the way can hold.
  const QString long_title(60 * 1024, QLatin1Char('x'));
  int sent = 0;
  const bool dropped = waitUntil(
      [&] {
        emit station_.on_air.event(QStringLiteral("video-started"), {{QStringLiteral("title"), long_title}});
        ++sent;
        return api_->eventClientCount() == 1;
      },
      20000);
  ASSERT_TRUE(dropped) << sent << " events sent";
  EXPECT_TRUE(waitUntil([&] { return reading.events().size() == sent; }, 10000));
  EXPECT_EQ(reading.events().last().data.value("title").toString().size(), long_title.size());
}

TEST_F(StationApiTest, MetricsParseAndTheirCountersMatchTheLog) {
  LogCapture log;
  openSession(3);
  ASSERT_TRUE(fixtures::writeFile(videoPath(2), fixtures::nsvFile(250, 25, 2000)));
  selectMode(PlayQueue::Mode::Manual);
  for (const QString key : {"K0", "K2", "K1"}) {
    queue().append(station_.session.library().videoTitle(key), key);
  }
  // Video 2 is skipped once it is on the air; the broadcast stops when the
  // video after the two plays starts.
  QObject::connect(&driver_, &BroadcastDriver::videoOnAir, &driver_, [&](const QString &key) {
    if (key == QLatin1String("2")) {
      QTimer::singleShot(0, &driver_, [&] { change("POST", QStringLiteral("/api/skip")); });
    }
  });
  stopAfterPlays(2);
  runBroadcast();

  const HttpReply metrics = get(QStringLiteral("/metrics"));
  ASSERT_EQ(metrics.status, 200);
  EXPECT_TRUE(metrics.headers.value("content-type").startsWith("text/plain; version=0.0.4"));
  QProcess promtool;
  promtool.start(QStringLiteral("promtool"), {QStringLiteral("check"), QStringLiteral("metrics")});
  ASSERT_TRUE(promtool.waitForStarted()) << "promtool (Debian's prometheus package) is needed";
  promtool.write(metrics.body);
  promtool.closeWriteChannel();
  ASSERT_TRUE(promtool.waitForFinished(30000));
  EXPECT_EQ(promtool.exitCode(), 0) << promtool.readAll().toStdString() << metrics.body.toStdString();
  EXPECT_TRUE(promtool.readAll().isEmpty()) << "no lint problems";

  const QByteArray &text = metrics.body;
  EXPECT_EQ(sample(text, "tarvik_plays_total"), 2);
  EXPECT_EQ(sample(text, "tarvik_plays_total"), log.count(QStringLiteral("to its end; its play count is now")));
  EXPECT_EQ(sample(text, "tarvik_skips_total"), 1);
  EXPECT_EQ(sample(text, "tarvik_skips_total"), log.count(QStringLiteral("at the operator's request")));
  EXPECT_EQ(sample(text, "tarvik_reconnects_total"), 0);
  EXPECT_EQ(sample(text, "tarvik_on_air"), 0);
  EXPECT_EQ(sample(text, "tarvik_sent_bytes_total"), station_.on_air.bytesSent());
  EXPECT_GT(sample(text, "tarvik_sent_bytes_total"), 0);
  EXPECT_EQ(text.contains("\ntarvik_listeners "), false) << "unknown listeners are left out";
  const OnAirModel::SecondTimes &seconds = station_.on_air.secondTimes();
  EXPECT_GT(seconds.count, 0u);
  EXPECT_EQ(sample(text, "tarvik_second_send_seconds_count"), seconds.count);
  EXPECT_EQ(sample(text, "tarvik_second_send_seconds_bucket{le=\"+Inf\"}"), seconds.count);
  EXPECT_NEAR(sample(text, "tarvik_second_send_seconds_sum"), seconds.sum_ms / 1000.0, 0.001);
  EXPECT_EQ(sample(text, "tarvik_second_send_seconds_bucket{le=\"0.9\"}"), seconds.counts[0]);
  EXPECT_EQ(sample(text, "tarvik_version_info{version=\"" + QByteArray(kStationVersion) + "\"}"), 1);
}
