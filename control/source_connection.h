#pragma once

#include "control/nsv_pacer.h"
#include "platform/millisecond_clock.h"
#include "control/source_state.h"

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace pellox {

struct LoginSettings {
  QString host;
  quint16 port = 0;
  QByteArray login_line;
  QByteArray header_block;
  // The system's send buffer for the socket.
  int send_buffer_bytes = 0;
};

struct VideoRequest {
  quint64 serial = 0;
  // The connection current when the host asked: a Connect or Disconnect
  // after that keeps this video from changing the state.
  quint64 connection = 0;
  QString path;
  PacingMode mode = PacingMode::HoldRule;
};

// The source connection: logs in, then sends one video at a time at its
// pace. It lives on a thread of its own, so whatever the host's thread does
// (a modal dialog, a long computation) never holds the stream. The host
// talks to it through queued calls and the shared state; a stop request is
// an atomic flag plus wake(), which the thread's event loop sees at once.
class SourceConnection : public QObject {
  Q_OBJECT

public:
  SourceConnection(SharedSourceState &shared, std::atomic_bool &stop_requested, std::shared_ptr<MillisecondClock> clock);
  ~SourceConnection() override;

  void setClock(std::shared_ptr<MillisecondClock> clock) { clock_ = std::move(clock); }
  // Called on the sending thread at every second mark.
  void setSecondObserver(std::function<void(std::uint32_t interval_ms)> observer) {
    second_observer_ = std::move(observer);
  }

  // Everything below runs on the sending thread.
  void open(quint64 connection, const LoginSettings &settings);
  void close();
  void startVideo(const VideoRequest &request);
  // Looks at the stop request now.
  void wake();
  void shutDown();

  // Behind the schedule as first planned, as last measured (any thread).
  int lateMs() const { return late_ms_.load(); }
  qint64 bytesSent() const { return bytes_sent_.load(); }
  // Frames the pacer counted in the last video sent.
  qint64 framesCounted() const { return frames_counted_.load(); }

signals:
  void stateChanged();
  void videoFinished(quint64 serial, bool sent, const QString &error);
  // The server has taken the video's first block: it is on the air.
  void videoTaken(quint64 serial);
  void progressChanged(int percent);
  // The wall time one second of video took to leave.
  void secondSent(int interval_ms);

private:
  class Sink;
  enum class Ending { Stopped, Paced };

  void onConnected();
  void onData();
  void onError(QAbstractSocket::SocketError error);
  void onClosed();
  void noteClosedAfterLogin(const QByteArray &reply);
  void setState(SourceState state);
  void abortSocket();

  void step();
  void finishVideo(Ending ending, PaceOutcome outcome = PaceOutcome::Completed);
  QString outcomeText(PaceOutcome outcome) const;
  void watchFirstBlock();
  void checkFirstBlockTaken();
  void reportLateness(std::int64_t late_ms, std::int64_t behind_ms);
  qint64 bytesNotTaken() const;
  qint64 bytesNotAcknowledged() const;

  SharedSourceState &shared_;
  std::atomic_bool &stop_requested_;
  std::shared_ptr<MillisecondClock> clock_;
  std::function<void(std::uint32_t)> second_observer_;

  QTcpSocket socket_;
  quint64 connection_ = 0;
  QString host_;
  quint16 port_ = 0;
  QByteArray login_line_;
  int send_buffer_bytes_ = 0;
  QByteArray header_block_;
  bool login_pending_ = false;
  bool logged_in_ = false;
  // Until the server has taken video, a close counts as a refused login: a
  // server that takes the login and then refuses the mount (it has a
  // source already) closes right after it.
  bool stream_taken_ = false;
  bool settling_ = false;
  std::uint32_t settled_at_ms_ = 0;
  bool closed_after_login_ = false;
  QString closed_after_login_text_;
  StreamSchedule schedule_;
  qint64 bytes_written_ = 0;

  // The video being sent.
  std::optional<VideoRequest> video_;
  bool connected_at_start_ = false;
  QFile file_;
  std::unique_ptr<NsvPacer> pacer_;
  std::unique_ptr<Sink> sink_;
  QTimer step_timer_;
  // Lateness worth the next line in the log; open() sets the first.
  std::int64_t next_late_report_ms_ = 0;
  bool reported_late_ = false;

  // Whether the first block of the latest video reached the server; a
  // newer video's replaces an older one's.
  quint64 taken_check_serial_ = 0;
  qint64 first_block_end_bytes_ = -1;
  QTimer taken_timer_;

  std::atomic_int late_ms_{0};
  std::atomic<qint64> bytes_sent_{0};
  std::atomic<qint64> frames_counted_{0};
};

} // namespace pellox
