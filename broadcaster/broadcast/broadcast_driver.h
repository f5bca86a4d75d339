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
// fails; Stop and Exit end it. A broadcast runs inside the call that starts
// it and keeps the program's events moving through the control's yields and
// its own. It shows nothing itself: what happens is reported by signals.
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
  };
  Q_ENUM(Problem)

  static constexpr int kRandomQueueLength = 5;
  static constexpr std::uint32_t kLoginTimeoutMs = 15000;
  static constexpr int kSkipLimit = 10;

  // The play mode comes from the queue. A null clock means the system clock.
  BroadcastDriver(session::Session &session, PlayQueue &queue, ControlHost &control,
                  std::shared_ptr<YieldClock> clock = nullptr, QObject *parent = nullptr);

  void setDraw(NodeDraw draw) { draw_ = std::move(draw); }
  bool isRunning() const { return phase_ == Phase::Running || phase_ == Phase::Stopped; }

public slots:
  void RunBroadcast();
  void stop();
  // Stops the control for good before the program ends; no broadcast starts after it.
  void endForExit();

signals:
  void error(BroadcastDriver::Problem problem, const QString &message);
  void statusChanged(const QString &text);
  void runningChanged(bool running);
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
  enum class LoginResult { LoggedIn, Failed, Abandoned };

  LoginResult logIn();
  void playLoop();
  // Tops the queue up as the play mode asks; false when there is nothing to play.
  bool topUpQueue();
  bool skipItem(const PlayQueue::Item &item, const QString &status_note);
  // Stop request, a yield, half a second to settle, then disconnect.
  void stopControl();
  bool broadcastAbandoned() const { return phase_ != Phase::Running || exit_requested_; }
  void report(Problem problem, const QString &message) { emit error(problem, message); }

  session::Session &session_;
  PlayQueue &queue_;
  ControlHost &control_;
  std::shared_ptr<YieldClock> clock_;
  NodeDraw draw_;
  Phase phase_ = Phase::Idle;
  bool exit_requested_ = false;
  int skipped_in_a_row_ = 0;
};
