#pragma once

#include "broadcaster/broadcast/control_host.h"
#include "broadcaster/broadcast/play_queue.h"
#include "broadcaster/broadcast/queue_fill.h"

#include "broadcaster/base/preferences.h"
#include "platform/millisecond_clock.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <memory>

namespace session {
class Session;
}

// Turns the session into a live stream: Start logs the control in with the
// session's settings and plays the queue, video after video, until one
// fails; Stop and Exit end it. With reconnect on, a lost or unreachable
// server is tried again after a growing wait instead, and the interrupted
// video starts over.
//
// It is a state machine on the control's signals and its own timers: every
// call returns at once, nothing here sleeps or runs an event loop of its
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
  static constexpr std::uint32_t kSettleMs = 500;

  // The play mode comes from the queue. A null clock means the system clock.
  BroadcastDriver(session::Session &session, PlayQueue &queue, ControlHost &control,
                  std::shared_ptr<MillisecondClock> clock = nullptr, QObject *parent = nullptr);

  void setDraw(NodeDraw draw) { draw_ = std::move(draw); }
  // From Start until the broadcast has ended (after Stop, once it settled).
  bool isRunning() const { return broadcast_running_; }
  // Stop or Exit was pressed and the broadcast is settling to its end.
  bool isStopping() const { return phase_ == Phase::StopSettling || exit_requested_; }
  bool reconnects() const { return reconnect_; }
  void setReconnect(bool reconnect) { reconnect_ = reconnect; }
  // "real-time" or "hold", given to the control at every Start.
  QString pacingMode() const { return pacing_mode_; }
  void setPacingMode(const QString &mode) { pacing_mode_ = mode; }

public slots:
  void RunBroadcast();
  void stop();
  // Ends the video on the air without counting it and goes on with the
  // next; false when no video is being sent.
  bool skip();
  // Stops the control for good before the program ends; no broadcast starts
  // after it. exitFinished follows once the control has let go.
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
  // The server has taken the first of it: the video is on the air.
  void videoOnAir(const QString &entry_key);
  // A video was sent to its end and its play count raised.
  void videoPlayed(const QString &entry_key);
  // A queue item was taken out without a play: it cannot be played, or the
  // operator skipped it. entry_key may be empty (no entry).
  void videoSkipped(const QString &entry_key, const QString &title, const QString &reason);
  // The document changed (a play count) and should reach the file now.
  void saveNeeded();
  // With reconnect: the next login is tried in wait_ms.
  void retryScheduled(std::uint32_t wait_ms);
  // The stream went off the air by itself (reconnect on), and came back.
  void connectionLost(const QString &reason);
  void connectionBack();
  void exitFinished();

private:
  enum class Phase {
    Idle,
    LoggingIn,      // the login's answer or its time limit
    Playing,        // the control's videoFinished
    WaitingToRetry, // the growing wait before the next login
    StopSettling,   // half a second after Stop, then disconnect
    ExitSettling,   // half a second after Exit's stop, then disconnect
    ExitClosing,    // half a second after Exit's disconnect
  };

  void beginCycle();
  void logIn();
  void onControlState(ControlState state);
  void onLoginOutcome(ControlState state);
  void playNext();
  void onVideoFinished(bool sent, const QString &error_text);
  void onVideoTaken();
  void onWaitOver();
  // The growing wait before the next login; false when reconnect is off.
  bool scheduleRetry(const QString &reason);
  // Tops the queue up as the play mode asks; false when there is nothing to play.
  bool topUpQueue();
  // Takes the item out uncounted and says so; false when the broadcast does
  // not go on (too many skips in a row ended it, or Stop or Exit was pressed).
  bool skipItem(const PlayQueue::Item &item, const QString &status_note);
  void onSkipped(const PlayQueue::Item &item);
  void startWait(Phase phase, std::uint32_t duration_ms);
  void endBroadcast(bool by_error);
  void report(Problem problem, const QString &message);
  void reportStreamingFailed(const QString &reason);
  void setStatus(const QString &text);

  session::Session &session_;
  PlayQueue &queue_;
  ControlHost &control_;
  std::shared_ptr<MillisecondClock> clock_;
  NodeDraw draw_;
  QTimer wait_timer_;
  Phase phase_ = Phase::Idle;
  bool broadcast_running_ = false;
  bool exit_requested_ = false;
  bool reconnect_ = preference::kReconnectDefault;
  QString pacing_mode_ = QLatin1String(preference::kPacingDefault);
  int skipped_in_a_row_ = 0;
  std::uint32_t retry_wait_ms_ = kFirstRetryWaitMs;
  // Off the air by itself since the last video the server took.
  bool connection_lost_ = false;
  bool skip_requested_ = false;
  QString server_name_;
  PlayQueue::Item playing_;
  QString playing_key_;
};
