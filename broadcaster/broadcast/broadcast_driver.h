#pragma once

#include "control_host.h"
#include "play_queue.h"
#include "queue_fill.h"

#include <yield_clock.h>

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>

namespace session {
class Session;
}

// Turns the session into a live stream: Start logs the control in with the
// session's settings and plays the queue, video after video, until one
// fails; Stop and Exit end it. With reconnect on, a lost or unreachable
// server is tried again after a growing wait instead, and the interrupted
// video starts over. A broadcast runs inside the call that starts it and
// keeps the program's events moving through the control's yields and its
// own. It shows nothing itself: what happens is reported by signals and in
// the log.
class BroadcastDriver : public QObject {
  Q_OBJECT

public:
  // Why a broadcast could not start or went off the air.
  enum class Problem {
    ControlMissing = 1,
    NoSession = 2,
    SettingsUnusable = 3,
    LoginFailed = 4,
    StreamingFailed = 5,
    VideoUnreadable = 6,
    TooManySkipped = 7,
    NoVideos = 8,
    VideoRefused = 9, // the control would not send it, or could not read it to its end
  };
  Q_ENUM(Problem)

  static constexpr int kRandomQueueLength = 5;
  static constexpr std::uint32_t kLoginTimeoutMs = 15000;
  static constexpr int kSkipLimit = 10;
  static constexpr std::uint32_t kFirstRetryWaitMs = 2000;
  static constexpr std::uint32_t kLongestRetryWaitMs = 60000;

  // The play mode comes from the queue. A null clock means the system clock.
  BroadcastDriver(session::Session &session, PlayQueue &queue, ControlHost &control,
                  std::shared_ptr<YieldClock> clock = nullptr, QObject *parent = nullptr);

  void setDraw(NodeDraw draw) { draw_ = std::move(draw); }
  bool isRunning() const { return phase_ == Phase::Running || phase_ == Phase::Stopped; }
  bool reconnects() const { return reconnect_; }
  void setReconnect(bool reconnect) { reconnect_ = reconnect; }

public slots:
  void RunBroadcast();
  void stop();
  // Stops the control for good before the program ends; no broadcast starts after it.
  void endForExit();

signals:
  void error(BroadcastDriver::Problem problem, const QString &message);
  void statusChanged(const QString &text);
  void runningChanged(bool running);
  // A Start is over. by_error: it ended (or could not begin) because of an
  // error, not because of Stop or Exit.
  void ended(bool by_error);
  // The head is about to be sent (after the status line is set).
  void videoStarting(const QString &entry_key);
  // A video was sent to its end and its play count raised.
  void videoPlayed(const QString &entry_key);
  // The document changed (a play count) and should reach the file now.
  void saveNeeded();

private:
  // Stopped: Stop was pressed and the broadcast is winding down; Stopping:
  // a Stop with no broadcast running is under way.
  enum class Phase { Idle, Running, Stopped, Stopping };
  enum class LoginResult { LoggedIn, Failed, Unreachable, Abandoned };
  enum class PlayResult { Ended, ConnectionLost };

  // Logs in and plays, logging in again after losses when reconnect is on.
  void broadcast();
  LoginResult logIn();
  PlayResult playLoop();
  // The growing wait before the next login; false when Stop or Exit ended it.
  bool waitBeforeRetry(const QString &reason);
  // Tops the queue up as the play mode asks; false when there is nothing to play.
  bool topUpQueue();
  bool skipItem(const PlayQueue::Item &item, const QString &status_note);
  // Stop request, a yield, half a second to settle, then disconnect.
  void stopControl();
  bool broadcastAbandoned() const { return phase_ != Phase::Running || exit_requested_; }
  void report(Problem problem, const QString &message);
  void reportStreamingFailed(const QString &reason);
  void setStatus(const QString &text);

  session::Session &session_;
  PlayQueue &queue_;
  ControlHost &control_;
  std::shared_ptr<YieldClock> clock_;
  NodeDraw draw_;
  Phase phase_ = Phase::Idle;
  bool exit_requested_ = false;
  bool reconnect_ = false;
  int skipped_in_a_row_ = 0;
  std::uint32_t retry_wait_ms_ = kFirstRetryWaitMs;
};
