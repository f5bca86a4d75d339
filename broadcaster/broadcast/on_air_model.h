#pragma once

#include "broadcaster/broadcast/broadcast_driver.h"
#include "broadcaster/broadcast/listener_poller.h"
#include "broadcaster/broadcast/play_queue.h"

#include "platform/millisecond_clock.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <QVector>

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>

namespace session {
class Session;
}
class ControlHost;

// What the air is doing: on or off, reconnecting and when, the video
// playing with its elapsed time and duration, what comes next, the last
// plays, the server's listener figures, and the station's counters. It
// follows the driver's signals and shows nothing itself: the window and
// the HTTP interface read the same model.
class OnAirModel : public QObject {
  Q_OBJECT

public:
  static constexpr int kNextUpCount = 3;
  static constexpr int kLastPlaysCount = 10;
  static constexpr qint64 kHistoryMs = 24 * 3600 * 1000;
  // Upper bounds (ms) of the buckets that count how long a second of video
  // took to leave; the last is everything above.
  static constexpr std::array<int, 7> kSecondBucketsMs = {900, 950, 960, 1000, 1050, 1100, 1500};

  struct Video {
    QString entry_key;
    QString title;
    QDateTime started_at;
    qint64 duration_ms = -1; // from the file's NSVf header; -1 when it gives none
  };
  struct PastPlay {
    QString entry_key;
    QString title;
    QDateTime ended_at;
  };
  struct Counters {
    quint64 plays = 0;
    quint64 skips = 0;
    quint64 reconnects = 0;
    quint64 errors = 0;
  };
  struct SecondTimes {
    std::array<quint64, kSecondBucketsMs.size() + 1> counts{};
    quint64 count = 0;
    double sum_ms = 0.0;
  };
  struct Sample {
    QDateTime at;
    int value = 0;
  };

  OnAirModel(BroadcastDriver &driver, PlayQueue &queue, session::Session &session, ControlHost &control,
             std::shared_ptr<MillisecondClock> clock, QObject *parent = nullptr);

  // From Start until the broadcast has ended.
  bool running() const { return running_; }
  // Running, and the server has taken the stream: not while a login or the
  // first block after it is still awaited, nor while waiting to log in again.
  bool onAir() const { return running_ && now_playing_.has_value() && stream_taken_ && !reconnect_due_ms_; }
  bool reconnecting() const { return reconnect_due_ms_.has_value(); }
  // Until the next login; -1 when not waiting for one.
  qint64 reconnectInMs() const;
  const std::optional<Video> &nowPlaying() const { return now_playing_; }
  // Since the video playing started; -1 when none.
  qint64 elapsedMs() const;
  QList<PlayQueue::Item> nextUp() const;
  // Newest first.
  const QList<PastPlay> &lastPlays() const { return last_plays_; }
  // -1 while the server's figures are not known.
  int listeners() const { return poller_.listeners(); }
  // The highest figure the server gave while this program ran.
  int peakListeners() const;
  QString pacingMode() const;
  int lateMs() const;
  qint64 bytesSent() const;
  const Counters &counters() const { return counters_; }
  const SecondTimes &secondTimes() const { return second_times_; }
  // The last 24 hours: a listener figure per poll, and plays per hour
  // (24 hours, the current one last).
  const std::deque<Sample> &listenerHistory() const { return listener_history_; }
  QVector<Sample> playsPerHour() const;

  ListenerPoller &listenerPoller() { return poller_; }

signals:
  // Something shown changed: read the model again.
  void changed();
  // For those who follow the station as it goes ("video-started",
  // "video-played", "video-skipped", "error", "connection-lost",
  // "connection-back", "broadcast-started", "broadcast-ended").
  void event(const QString &type, const QVariantMap &data);

private:
  void onRunningChanged(bool running);
  void onVideoStarting(const QString &entry_key);
  void onVideoPlayed(const QString &entry_key);
  void onListenerFigures(int listeners, int peak_listeners);
  void onSecondSent(int interval_ms);
  void prune(std::deque<Sample> &samples) const;
  QString titleOf(const QString &entry_key) const;

  BroadcastDriver &driver_;
  PlayQueue &queue_;
  session::Session &session_;
  ControlHost &control_;
  std::shared_ptr<MillisecondClock> clock_;
  ListenerPoller poller_;

  bool running_ = false;
  std::optional<Video> now_playing_;
  // The server has taken a video since the last login (the driver's
  // videoOnAir); it plays on from one video into the next.
  bool stream_taken_ = false;
  std::uint32_t started_ms_ = 0;
  std::optional<std::uint32_t> reconnect_due_ms_;
  QList<PastPlay> last_plays_;
  int peak_seen_ = -1;
  Counters counters_;
  SecondTimes second_times_;
  std::deque<Sample> listener_history_;
  std::deque<Sample> play_times_;
};
