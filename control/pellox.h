#pragma once

#include "nsv_pacer.h"
#include "pacing_clock.h"
#include "pellox_export.h"
#include "protocol_text.h"

#include <QString>
#include <QTcpSocket>
#include <QTimer>
#include <QWidget>

#include <memory>

// The streaming control: logs in to a Shoutcast server as the stream source,
// sends NSV files paced at their frame rate and updates the now-playing title.
//
// Hosts reach it by name through the meta-object system: the properties
// "State" ("0" to "4") and "LastError", and the invokable members below. The
// control shows no messages and raises no events. An operation that fails
// with an error (an invalid port, a socket that refuses the operation, data
// the socket will not take) leaves a readable text in LastError, which every
// public operation clears when it starts.
//
// The two connections are child objects named "Winsock" (source) and
// "WinsockTitle" (title).
class PELLOX_EXPORT Pellox : public QWidget, private pellox::PacerSink {
  Q_OBJECT
  Q_PROPERTY(QString State READ State)
  Q_PROPERTY(QString LastError READ LastError)

public:
  enum StateCode : int {
    kNotLoggedIn = 0,
    kReady = 1,
    kSending = 2,
    kLoginRefused = 3,
    kSocketError = 4,
  };

  explicit Pellox(QWidget *parent = nullptr);
  ~Pellox() override;

  QString State() const { return QString::number(state_code_); }
  QString LastError() const { return last_error_; }

  Q_INVOKABLE void Setup(QString Address, int Port, QString Password, QString StreamName,
                         QString Genre, int YP, QString Bitrate, QString URL, QString IRC,
                         QString ICQ, QString AIM);
  Q_INVOKABLE void Connect();
  Q_INVOKABLE void Disconnect();
  Q_INVOKABLE void StopStream();
  Q_INVOKABLE bool StreamVideo(QString VideoPath, QString Title = QString());

  // For tests and measurements: the clock that paces sending.
  void setClock(std::shared_ptr<PacingClock> clock);
  void setHoldObserver(std::function<void(std::uint32_t interval_ms)> observer);
  // Frames the pacer counted in the last video sent.
  qint64 framesCounted() const { return frames_counted_; }
  // Width of the blue progress bar in pixels.
  double progressWidth() const { return progress_width_px_; }

protected:
  void paintEvent(QPaintEvent *event) override;

private:
  // PacerSink
  bool isConnected() const override;
  bool sendBlock(const QByteArray &block) override;
  qint64 queuedBytes() const override { return source_socket_.bytesToWrite(); }
  qint64 bytesNotTaken() const override;
  bool takeStopRequest() override;
  void setProgress(int percent) override { SetProgress(percent); }

  // Clamps Percent to 0..100 in place and sizes the blue bar to it.
  void SetProgress(int &Percent);

  void onSourceConnected();
  void onSourceData();
  void onSourceError(QAbstractSocket::SocketError error);
  void onSourceClosed();
  void onTitleConnected();
  void logTitleFailure(const QString &reason) const;
  void onTitleWritten();
  void startTitleRequest();
  void onTitleOverdue();
  void retryNewerTitle();
  void closeSource();

  int state_code_ = kNotLoggedIn;
  QString last_error_;
  bool stop_requested_ = false;
  bool login_pending_ = false;
  bool streaming_ = false;

  QString source_host_;
  quint16 source_port_ = 0;
  QString title_host_;
  quint16 title_port_ = 0;
  QString password_;
  QByteArray header_block_;
  QString pending_title_;

  QTcpSocket source_socket_{this};
  QTcpSocket title_socket_{this};
  // Closes a title connection that has not finished in time.
  QTimer title_deadline_;
  // Counts the titles set, to tell whether a newer one waits behind an attempt.
  quint64 titles_set_ = 0;
  quint64 title_of_attempt_ = 0;
  std::shared_ptr<PacingClock> clock_;
  std::function<void(std::uint32_t)> hold_observer_;
  double progress_width_px_ = 1.0;
  qint64 frames_counted_ = 0;
};
