#include "pellox.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>

#include <nsv_format.h>

#include <QFile>
#include <QLoggingCategory>
#include <QPainter>
#include <QPainterPath>

namespace {

// The face in pixels (the host lays it out in twips: 855 x 615, 15 per pixel).
constexpr int kWidthPx = 57;
constexpr int kHeightPx = 41;
constexpr int kOutlineHeightPx = 33;
constexpr int kLogoLeftPx = 7;
constexpr int kLogoWidthPx = 47;
constexpr int kLogoHeightPx = 35;
constexpr int kProgressTopPx = 32;
constexpr int kProgressHeightPx = 9;
// 512 KiB: an 8 Mbit/s stream over a link with 300 ms of round trip still fits.
constexpr int kSourceSendBufferBytes = 512 * 1024;
constexpr int kLowestPort = 1;
constexpr int kHighestPort = 65534; // the source port is one above it
// A title request that has not gone out by then will not.
constexpr int kTitleTimeoutMs = 10000;

// The host's log shows what the title connection could not do; nothing else
// would tell that listeners still see an old title.
Q_LOGGING_CATEGORY(lcTitle, "pellox.title")

} // namespace

Pellox::Pellox(QWidget *parent) : QWidget(parent), clock_(std::make_shared<SystemPacingClock>()) {
  setObjectName(QStringLiteral("Pellox"));
  setFixedSize(kWidthPx, kHeightPx);
  source_socket_.setObjectName(QStringLiteral("Winsock"));
  title_socket_.setObjectName(QStringLiteral("WinsockTitle"));
  title_deadline_.setSingleShot(true);
  title_deadline_.setTimerType(Qt::PreciseTimer);
  connect(&title_deadline_, &QTimer::timeout, this, &Pellox::onTitleOverdue);

  connect(&source_socket_, &QTcpSocket::connected, this, &Pellox::onSourceConnected);
  connect(&source_socket_, &QTcpSocket::readyRead, this, &Pellox::onSourceData);
  connect(&source_socket_, &QTcpSocket::errorOccurred, this, &Pellox::onSourceError);
  connect(&source_socket_, &QTcpSocket::disconnected, this, &Pellox::onSourceClosed);
  connect(&title_socket_, &QTcpSocket::connected, this, &Pellox::onTitleConnected);
  connect(&title_socket_, &QTcpSocket::bytesWritten, this, &Pellox::onTitleWritten);
  connect(&title_socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
    // A server that closes after the request did its part.
    if (error != QAbstractSocket::RemoteHostClosedError) {
      logTitleFailure(title_socket_.errorString());
    }
    title_socket_.abort();
  });
  connect(&title_socket_, &QTcpSocket::stateChanged, this, [this](QAbstractSocket::SocketState state) {
    if (state == QAbstractSocket::UnconnectedState) {
      title_deadline_.stop();
      // A title set while this attempt was under way (refused, failed, timed
      // out or already written) gets an attempt of its own, once the socket
      // has settled.
      if (title_of_attempt_ != titles_set_) {
        QMetaObject::invokeMethod(this, &Pellox::retryNewerTitle, Qt::QueuedConnection);
      }
    }
  });
}

Pellox::~Pellox() {
  // Sockets are members; stop their signals reaching a half-destroyed object.
  source_socket_.disconnect(this);
  title_socket_.disconnect(this);
  source_socket_.abort();
  title_socket_.abort();
}

void Pellox::setClock(std::shared_ptr<PacingClock> clock) {
  if (clock) {
    clock_ = std::move(clock);
  }
}

void Pellox::setHoldObserver(std::function<void(std::uint32_t)> observer) {
  hold_observer_ = std::move(observer);
}

void Pellox::Setup(QString Address, int Port, QString Password, QString StreamName, QString Genre,
                   int YP, QString Bitrate, QString URL, QString IRC, QString ICQ, QString AIM) {
  last_error_.clear();
  // Logged in or sending: the call does nothing at all, without a report.
  if (state_code_ == kReady || state_code_ == kSending) {
    return;
  }
  if (Port < kLowestPort || Port > kHighestPort) {
    last_error_ = QStringLiteral("Invalid port %1: the server port must be a whole number from %2 to %3.")
                      .arg(Port)
                      .arg(kLowestPort)
                      .arg(kHighestPort);
    return;
  }
  source_host_ = Address;
  source_port_ = static_cast<quint16>(Port + 1);
  password_ = Password;
  title_host_ = Address;
  title_port_ = static_cast<quint16>(Port);
  pellox::StationAnnouncement station;
  station.stream_name = StreamName;
  station.genre = Genre;
  station.yp = YP;
  station.bitrate = Bitrate;
  station.url = URL;
  station.irc = IRC;
  station.icq = ICQ;
  station.aim = AIM;
  header_block_ = pellox::headerBlock(station);
}

void Pellox::Connect() {
  last_error_.clear();
  if (!password_.isEmpty() && !header_block_.isEmpty()) {
    if (source_socket_.state() != QAbstractSocket::UnconnectedState) {
      last_error_ = QStringLiteral("The source connection is not closed: a connection to %1 port %2 "
                                   "is already open or under way.")
                        .arg(source_host_)
                        .arg(source_port_);
      return;
    }
    login_pending_ = true;
    source_socket_.connectToHost(source_host_, source_port_);
  }
  state_code_ = kNotLoggedIn;
}

void Pellox::Disconnect() {
  last_error_.clear();
  state_code_ = kNotLoggedIn;
  closeSource();
}

void Pellox::StopStream() {
  last_error_.clear();
  stop_requested_ = true;
}

bool Pellox::StreamVideo(QString VideoPath, QString Title) {
  last_error_.clear();
  // A call made from inside a running send loop's yield would share the
  // connection and the stop request with it.
  if (streaming_) {
    return false;
  }
  QFile file(VideoPath);
  if (!file.open(QIODevice::ReadOnly)) {
    return false;
  }
  const pellox::SyncSearchResult sync = pellox::findFirstSync(file);
  // Without a frame rate there is no pace: such a file would go out one
  // block per hold and feed listeners garbage for hours.
  if (!sync.found) {
    last_error_ = QStringLiteral("%1 is not an NSV video: no \"NSVs\" sync header was found, so it is not sent.")
                      .arg(VideoPath);
    return false;
  }
  const double frames_per_second = nsv::frameRateFromByte(sync.rate_byte);
  if (frames_per_second <= 0.0) {
    last_error_ =
        QStringLiteral("%1 cannot be paced: its first sync header gives a frame rate of 0, so it is not sent.")
            .arg(VideoPath);
    return false;
  }
  streaming_ = true;

  pending_title_ = Title;
  ++titles_set_;
  if (title_socket_.state() == QAbstractSocket::UnconnectedState) {
    startTitleRequest();
  }
  state_code_ = kSending;
  stop_requested_ = false;

  pellox::NsvPacer pacer(*clock_);
  pacer.setHoldObserver(hold_observer_);
  const pellox::PaceOutcome outcome = pacer.run(file, sync.start_offset, frames_per_second, *this);
  frames_counted_ = pacer.framesCounted();
  file.close();
  streaming_ = false;

  // A Disconnect (or the server's close) during the last hold's yield: the
  // walk reached the file's end, but over a connection that is gone.
  const bool finished_without_connection =
      (outcome == pellox::PaceOutcome::Completed || outcome == pellox::PaceOutcome::ReadFailed ||
       outcome == pellox::PaceOutcome::NoFrames) &&
      (state_code_ != kSending || !isConnected());
  if (finished_without_connection) {
    last_error_ = QStringLiteral("The source connection was closed before %1 was sent to its end.").arg(VideoPath);
    return false;
  }

  switch (outcome) {
  case pellox::PaceOutcome::Completed:
    state_code_ = kReady;
    setProgress(0);
    return true;
  case pellox::PaceOutcome::SendFailed:
    last_error_ = QStringLiteral("Sending to the server failed: %1").arg(source_socket_.errorString());
    return false;
  case pellox::PaceOutcome::ReadFailed:
    // The connection is fine; only this file cannot go on.
    state_code_ = kReady;
    setProgress(0);
    last_error_ = QStringLiteral("Reading %1 failed: %2")
                      .arg(VideoPath, file.errorString().isEmpty() ? QStringLiteral("it ended early")
                                                                   : file.errorString());
    return false;
  case pellox::PaceOutcome::NoFrames:
    // The connection is fine; only this file cannot go on.
    state_code_ = kReady;
    setProgress(0);
    last_error_ = QStringLiteral("%1 holds no NSV frames for %2 MiB, so it is not an NSV video that can be paced; "
                                 "sending it stopped.")
                      .arg(VideoPath)
                      .arg(pellox::kFramelessBytes / (1024 * 1024));
    return false;
  case pellox::PaceOutcome::ServerStoppedReading:
    state_code_ = kSocketError;
    closeSource();
    last_error_ = QStringLiteral("The server stopped reading: it took no video data for %1 s, so the source "
                                 "connection to %2 port %3 was closed.")
                      .arg(pellox::kStalledServerMs / 1000)
                      .arg(source_host_)
                      .arg(source_port_);
    return false;
  case pellox::PaceOutcome::ConnectionLost:
    // Not the host's own Disconnect: the server's side ended it.
    if (state_code_ == kSending) {
      last_error_ = QStringLiteral("The connection to %1 port %2 was closed by the server or the network while %3 "
                                   "was being sent.")
                        .arg(source_host_)
                        .arg(source_port_)
                        .arg(VideoPath);
    }
    break;
  case pellox::PaceOutcome::Stopped:
    break;
  }
  return false;
}

bool Pellox::isConnected() const {
  return source_socket_.state() == QAbstractSocket::ConnectedState;
}

qint64 Pellox::bytesNotTaken() const {
  // Qt's queue, and what the system could not send yet: the server's side
  // has no room for it, as when the server stopped reading.
  int unsent_bytes = 0;
  const qintptr descriptor = source_socket_.socketDescriptor();
  if (descriptor < 0 || ::ioctl(static_cast<int>(descriptor), SIOCOUTQNSD, &unsent_bytes) != 0) {
    unsent_bytes = 0;
  }
  return source_socket_.bytesToWrite() + unsent_bytes;
}

bool Pellox::sendBlock(const QByteArray &block) {
  return source_socket_.write(block) == block.size();
}

bool Pellox::takeStopRequest() {
  const bool requested = stop_requested_;
  stop_requested_ = false;
  return requested;
}

void Pellox::SetProgress(int &Percent) {
  if (Percent < 0) {
    Percent = 0;
  }
  if (Percent > 100) {
    Percent = 100;
  }
  const float background_width = static_cast<float>(width());
  progress_width_px_ = background_width / 100.0f * static_cast<float>(Percent);
  update();
}

void Pellox::onSourceConnected() {
  // The system's own send buffer grows to megabytes on its own: a server
  // that stopped reading would go unnoticed for that much video, and a play
  // it never took would count. Keep it to what a fast stream over a slow
  // link needs.
  source_socket_.setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, kSourceSendBufferBytes);
  source_socket_.write(pellox::loginLine(password_));
}

void Pellox::onSourceData() {
  const QByteArray reply = source_socket_.readAll();
  login_pending_ = false;
  if (reply.startsWith("OK2")) {
    source_socket_.write(header_block_);
    state_code_ = kReady;
    return;
  }
  state_code_ = kLoginRefused;
  closeSource();
}

void Pellox::onSourceError(QAbstractSocket::SocketError error) {
  // A peer that closes is no error here; onSourceClosed deals with it.
  if (error == QAbstractSocket::RemoteHostClosedError) {
    return;
  }
  login_pending_ = false;
  state_code_ = kSocketError;
  closeSource();
}

void Pellox::onSourceClosed() {
  // Servers that refuse a password by hanging up without a reply.
  if (login_pending_ && state_code_ == kNotLoggedIn) {
    state_code_ = kLoginRefused;
  }
  login_pending_ = false;
}

void Pellox::startTitleRequest() {
  title_of_attempt_ = titles_set_;
  title_socket_.connectToHost(title_host_, title_port_);
  title_deadline_.start(kTitleTimeoutMs);
}

void Pellox::onTitleOverdue() {
  if (title_socket_.state() != QAbstractSocket::UnconnectedState) {
    logTitleFailure(QStringLiteral("no connection within %1 s").arg(kTitleTimeoutMs / 1000));
  }
  // The socket's closing starts the attempt for a newer title, if any.
  title_socket_.abort();
}

void Pellox::logTitleFailure(const QString &reason) const {
  qCWarning(lcTitle).noquote() << QStringLiteral("The title \"%1\" did not reach %2 port %3: %4")
                                      .arg(pending_title_, title_host_)
                                      .arg(title_port_)
                                      .arg(reason);
}

void Pellox::retryNewerTitle() {
  if (title_socket_.state() == QAbstractSocket::UnconnectedState && title_of_attempt_ != titles_set_) {
    startTitleRequest();
  }
}

void Pellox::onTitleConnected() {
  // The request carries the newest title.
  title_of_attempt_ = titles_set_;
  title_socket_.write(pellox::titleRequest(password_, pending_title_));
}

void Pellox::onTitleWritten() {
  if (title_socket_.bytesToWrite() == 0) {
    title_socket_.disconnectFromHost();
  }
}

void Pellox::closeSource() {
  login_pending_ = false;
  source_socket_.abort();
}

void Pellox::paintEvent(QPaintEvent *) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);

  // Outline.
  painter.setPen(QPen(Qt::black, 1));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(QRectF(0.5, 0.5, kWidthPx - 1, kOutlineHeightPx - 1));

  // Logo: a film frame with a play triangle.
  const QRectF logo(kLogoLeftPx, 0, kLogoWidthPx, kLogoHeightPx);
  const QRectF film = logo.adjusted(6, 5, -6, -8);
  painter.setBrush(QColor(40, 40, 60));
  painter.drawRoundedRect(film, 3, 3);
  painter.setBrush(Qt::white);
  painter.setPen(Qt::NoPen);
  for (int hole = 0; hole < 5; ++hole) {
    const double x = film.left() + 3 + hole * (film.width() - 6) / 4.0 - 1;
    painter.drawRect(QRectF(x, film.top() + 1.5, 2, 2));
    painter.drawRect(QRectF(x, film.bottom() - 3.5, 2, 2));
  }
  QPainterPath triangle;
  const QPointF centre = film.center();
  triangle.moveTo(centre + QPointF(-4, -6));
  triangle.lineTo(centre + QPointF(6, 0));
  triangle.lineTo(centre + QPointF(-4, 6));
  triangle.closeSubpath();
  painter.setBrush(QColor(255, 170, 0));
  painter.drawPath(triangle);

  // Progress strip: white background, blue bar.
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.fillRect(QRectF(0, kProgressTopPx, kWidthPx, kProgressHeightPx), Qt::white);
  painter.fillRect(QRectF(0, kProgressTopPx, progress_width_px_, kProgressHeightPx), QColor(0, 0, 255));
}
