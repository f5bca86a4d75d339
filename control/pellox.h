#pragma once

#include "platform/millisecond_clock.h"
#include "control/pellox_export.h"
#include "control/source_state.h"

#include <QMutex>
#include <QPointer>
#include <QString>
#include <QThread>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class QEventLoop;

namespace pellox {
class SourceConnection;
class TitleConnection;
} // namespace pellox

// The streaming control: logs in to a Shoutcast server as the stream source,
// sends NSV files paced at their frame rate and updates the now-playing title.
//
// Hosts reach it by name through the meta-object system: the properties
// "State" ("0" to "4"), "LastError", "PacingMode" and "LateMs", the
// invokable members below, and the signals. An operation that fails with an
// error (an invalid port, a value that would break a protocol line, a
// connection that is already open) leaves a readable text in LastError,
// which every public operation clears when it starts.
//
// The source connection lives on a thread of its own, so nothing the host's
// thread does holds the stream. StreamVideo returns once the file is sent,
// keeping the host's events moving meanwhile; StartVideo returns at once and
// VideoFinished tells the outcome.
class PELLOX_EXPORT Pellox : public QWidget {
  Q_OBJECT
  Q_PROPERTY(QString State READ State)
  Q_PROPERTY(QString LastError READ LastError)
  // "hold" (the default): after each second's worth of frames, hold until
  // more than 950 ms have passed since the previous hold. "real-time": frame
  // n leaves n / rate seconds after the stream began, about two seconds
  // ahead, on one schedule from video to video. Taken at the next video.
  Q_PROPERTY(QString PacingMode READ PacingMode WRITE SetPacingMode)
  // How far the stream is behind its schedule, in milliseconds.
  Q_PROPERTY(int LateMs READ LateMs)
  // Video bytes handed to the source connection since the control was made.
  Q_PROPERTY(qint64 BytesSent READ BytesSent)

public:
  explicit Pellox(QWidget *parent = nullptr);
  ~Pellox() override;

  QString State() const;
  QString LastError() const;
  QString PacingMode() const;
  void SetPacingMode(const QString &mode);
  int LateMs() const;
  qint64 BytesSent() const;

  Q_INVOKABLE void Setup(QString Address, int Port, QString Password, QString StreamName,
                         QString Genre, int YP, QString Bitrate, QString URL, QString IRC,
                         QString ICQ, QString AIM);
  Q_INVOKABLE void Connect();
  Q_INVOKABLE void Disconnect();
  Q_INVOKABLE void StopStream();
  Q_INVOKABLE bool StreamVideo(QString VideoPath, QString Title = QString());
  // Starts sending and returns at once: false (with LastError) when a video
  // is being sent already. VideoFinished follows, whatever happens.
  Q_INVOKABLE bool StartVideo(QString VideoPath, QString Title = QString());

  // For tests and measurements: the clock that paces sending, the send
  // buffer the system keeps for the source connection, and an observer of
  // the time each second of video took (called on the sending thread).
  void setClock(std::shared_ptr<MillisecondClock> clock);
  void setSourceSendBufferBytes(int bytes) { send_buffer_bytes_ = bytes; }
  void setSecondObserver(std::function<void(std::uint32_t interval_ms)> observer);
  // Frames the pacer counted in the last video sent.
  qint64 framesCounted() const;
  // Width of the blue progress bar in pixels.
  double progressWidth() const { return progress_width_px_; }

signals:
  void StateChanged(QString State);
  // The video started by StartVideo or StreamVideo is over: Sent when the
  // whole file went out, else Error says why (empty after StopStream).
  void VideoFinished(bool Sent, QString Error);
  // The server has taken the video's first block: it is on the air, and its
  // title goes out now.
  void VideoTaken();
  // One second of video left in IntervalMs of wall time (about 951 in the
  // hold rule, about 1000 in real time).
  void SecondSent(int IntervalMs);

protected:
  void paintEvent(QPaintEvent *event) override;

private:
  // Clamps Percent to 0..100 in place and sizes the blue bar to it.
  void SetProgress(int &Percent);
  void showProgress(int percent) { SetProgress(percent); }
  void setLastError(const QString &text);
  void onVideoFinished(quint64 serial, bool sent, const QString &error);
  void onVideoTaken(quint64 serial);

  mutable QMutex error_mutex_;
  QString last_error_;
  pellox::SharedSourceState shared_;
  std::atomic_bool stop_requested_{false};
  std::atomic_bool real_time_{false};

  QString source_host_;
  quint16 source_port_ = 0;
  QString password_;
  QByteArray header_block_;
  int send_buffer_bytes_;

  QThread sender_thread_;
  pellox::SourceConnection *source_ = nullptr;
  pellox::TitleConnection *title_ = nullptr;
  // The video being sent, and its title for when the server has taken it.
  quint64 video_serial_ = 0;
  bool video_running_ = false;
  QString video_title_;
  bool video_sent_ = false;
  QPointer<QEventLoop> waiting_loop_;
  double progress_width_px_ = 1.0;
};
