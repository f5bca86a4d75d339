#pragma once

// The broadcast driver on a station of its own, with no window: the real
// control plugin against the fake server on loopback. The driver's own waits
// run on a clock twenty times faster than real time; the control sends short
// videos in real time.

#include "tests/support/fake_shoutcast_server.h"
#include "tests/support/fast_clock.h"
#include "tests/support/nsv_fixtures.h"
#include "tests/broadcaster/support/session_files.h"
#include "tests/support/wait_until.h"

#include "broadcaster/broadcast/broadcast_driver.h"
#include "broadcaster/broadcast/station.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <memory>

namespace broadcaster_testing {


const QString kConnectionFailed =
    QStringLiteral("You either entered an incorrect password, or the server couldn't be reached!");
const QString kStreamingFailed = QStringLiteral("An error occured when streaming.");
const QString kStreamStopped = QStringLiteral("Stream stopped.");

class DriverTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.isValid());
    ASSERT_TRUE(server_.start());
    // Draw the nodes in turn: folder, video 0, video 1, video 2, ...
    driver_.setDraw([this](int node_count) { return (next_draw_++ % node_count) + 1; });
    QObject::connect(&driver_, &BroadcastDriver::statusChanged, &driver_,
                     [this](const QString &text) { status_text_ = text; });
    QObject::connect(&driver_, &BroadcastDriver::error, &driver_,
                     [this](BroadcastDriver::Problem problem, const QString &message) {
                       problems_ << problem;
                       error_text_ = message;
                     });
    ASSERT_TRUE(station_.control.isLoaded()) << station_.control.loadError().toStdString();
  }

  QString videoPath(int index) const { return temp_.filePath(QStringLiteral("video%1.nsv").arg(index)); }

  // A session with one folder and count short videos on disk.
  void openSession(int count, const QString &password = QStringLiteral("pw")) {
    QList<EntrySpec> entries;
    for (int index = 0; index < count; ++index) {
      ASSERT_TRUE(fixtures::writeFile(videoPath(index), fixtures::nsvFile(3, 25, 100)));
      entries.append({QString::number(index), videoPath(index), QStringLiteral("Video %1").arg(index),
                      QStringLiteral("Videos")});
    }
    session_path_ = temp_.filePath(QStringLiteral("session.xml"));
    ASSERT_TRUE(fixtures::writeFile(session_path_, sessionXml({QStringLiteral("Videos")}, entries, password,
                                                              QString::number(server_.port()))));
    const session::LoadOutcome outcome = station_.session.open(session_path_);
    ASSERT_EQ(outcome.kind, session::LoadOutcome::Kind::Loaded) << outcome.message.toStdString();
  }

  void selectMode(PlayQueue::Mode mode) { station_.queue.setMode(mode); }

  // Presses Start and lets the event loop run until the broadcast has ended.
  void runBroadcast() {
    QSignalSpy ended(&driver_, &BroadcastDriver::ended);
    driver_.RunBroadcast();
    if (ended.isEmpty()) {
      ASSERT_TRUE(ended.wait(60000)) << "the broadcast did not end";
    }
  }

  // Manual mode with "Video 0" and "Video 1" queued. started_ gets the key of
  // each video as it starts; then on_start, if given, runs.
  void queueVideosZeroAndOne(std::function<void(const QString &key)> on_start = {}) {
    selectMode(PlayQueue::Mode::Manual);
    queue().append(QStringLiteral("Video 0"), QStringLiteral("K0"));
    queue().append(QStringLiteral("Video 1"), QStringLiteral("K1"));
    QObject::connect(&driver_, &BroadcastDriver::videoStarting, &driver_,
                     [this, on_start = std::move(on_start)](const QString &key) {
                       started_ << key;
                       if (on_start) {
                         on_start(key);
                       }
                     });
  }

  // Presses Stop during the video that follows the given number of complete
  // plays, as an operator's click arrives while a video is being sent.
  void stopAfterPlays(int plays) {
    QObject::connect(&driver_, &BroadcastDriver::videoPlayed, &driver_, [this](const QString &) { ++plays_; });
    QObject::connect(&driver_, &BroadcastDriver::videoStarting, &driver_, [this, plays](const QString &) {
      if (plays_ == plays) {
        QTimer::singleShot(0, &driver_, [this] { driver_.stop(); });
      }
    });
  }

  // With videos 0 and 1 queued: 0 fails without harm to the connection, is
  // taken out uncounted, and 1 plays on the same login.
  void expectVideoZeroTakenOutAndOnePlayed() {
    stopAfterPlays(1);
    runBroadcast();
    EXPECT_EQ(started_.mid(0, 2), (QStringList{"0", "1"}));
    EXPECT_EQ(problems_.value(0), BroadcastDriver::Problem::VideoRefused);
    EXPECT_EQ(countsOnDisk(), (QMap<QString, int>{{"0", 0}, {"1", 1}}));
    EXPECT_EQ(server_.sourceConnectionCount(), 1);
  }

  QString errorText() const { return error_text_; }
  QString statusText() const { return status_text_; }
  PlayQueue &queue() { return station_.queue; }
  ControlState controlState() const { return station_.control.state(); }
  session::SessionDocument &document() { return station_.session.document(); }

  // Play counts in the session file on disk, by entry key.
  QMap<QString, int> countsOnDisk() const {
    QMap<QString, int> counts;
    const QString xml = QString::fromUtf8(readFile(session_path_));
    static const QRegularExpression entry(QStringLiteral("<key>(\\d+)</key>.*?<playcount>(\\d+)</playcount>"));
    auto matches = entry.globalMatch(xml);
    while (matches.hasNext()) {
      const QRegularExpressionMatch match = matches.next();
      counts[match.captured(1)] = match.captured(2).toInt();
    }
    return counts;
  }

  QTemporaryDir temp_;
  FakeShoutcastServer server_;
  std::shared_ptr<FastClock> clock_ = std::make_shared<FastClock>();
  Station station_{clock_};
  BroadcastDriver &driver_ = station_.driver;
  QString session_path_;
  QString status_text_;
  QString error_text_;
  QList<BroadcastDriver::Problem> problems_;
  int next_draw_ = 0;
  int plays_ = 0;
  QStringList started_;
};

} // namespace broadcaster_testing
