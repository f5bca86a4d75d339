#pragma once

#include "driver_clock.h"
#include "queue_fill.h"

#include <QObject>
#include <QString>

#include <memory>

class MainWindow;

// Turns the session into a live stream: "Start Stream" logs the control in
// with the session's settings and plays the queue, video after video, until
// one fails; "Stop Streaming" and Exit end it. Runs inside the click handler
// and keeps the window alive through the control's and its own yields.
class BroadcastDriver : public QObject {
  Q_OBJECT

public:
  static constexpr int kRandomQueueLength = 5;
  static constexpr std::uint32_t kLoginTimeoutMs = 15000;
  static constexpr int kSkipLimit = 10;

  explicit BroadcastDriver(MainWindow &window, QObject *parent = nullptr);

  void setClock(std::shared_ptr<DriverClock> clock) { clock_ = std::move(clock); }
  void setDraw(NodeDraw draw) { draw_ = std::move(draw); }

  bool isRunning() const { return running_; }

  void RunBroadcast();
  void stop();
  // Stops the control for good before the window closes.
  void endForExit();

signals:
  // The head is about to be sent (after the status line is set).
  void videoStarting(const QString &entry_key);
  // A video was sent to its end and its play count saved.
  void videoPlayed(const QString &entry_key);

private:
  enum class LoginResult { LoggedIn, Failed, Abandoned };

  LoginResult logIn();
  void playLoop();
  // Settings problem that keeps the driver from connecting, or empty.
  QString checkSettings(int *port, int *yp) const;
  bool skipHead(const QString &status_note);
  // Stop request, a yield, half a second to settle, then disconnect.
  void stopControl();

  MainWindow &window_;
  std::shared_ptr<DriverClock> clock_;
  NodeDraw draw_;
  bool running_ = false;
  bool stop_pressed_ = false;
  bool stopping_ = false;
  bool exit_requested_ = false;
  int skipped_in_a_row_ = 0;
};
