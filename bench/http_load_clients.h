#pragma once

// HTTP clients for the API bench: pollers that ask for /api/status over a
// kept-alive connection at a steady interval and time each answer, and
// followers of /api/events that count what arrives.

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>

#include <vector>

namespace bench {

struct LoadFigures {
  std::vector<double> latencies_ms;
  int failures = 0; // connections lost or answers other than 200
  long events = 0;
  long heartbeats = 0;
};

class StatusPoller : public QObject {
public:
  StatusPoller(quint16 port, int interval_ms, int first_delay_ms, LoadFigures &figures);
  // The socket's last signals must not reach a half-destroyed poller.
  ~StatusPoller() override { socket_.disconnect(this); }

private:
  void ask();
  void onReadyRead();
  void onLost();

  quint16 port_;
  int interval_ms_;
  LoadFigures &figures_;
  QTcpSocket socket_;
  QTimer next_;
  QElapsedTimer asked_;
  QByteArray received_;
  bool waiting_ = false;
};

class EventFollower : public QObject {
public:
  EventFollower(quint16 port, LoadFigures &figures);
  ~EventFollower() override { socket_.disconnect(this); }

private:
  LoadFigures &figures_;
  QTcpSocket socket_;
  QByteArray pending_;
};

// Runs pollers and followers against the API on port for seconds, then
// prints "load requests=... p50_ms=... p99_ms=... max_ms=... failures=...
// events=... heartbeats=...".
int runLoadChild(quint16 port, int pollers, int followers, int interval_ms, int seconds);

} // namespace bench
