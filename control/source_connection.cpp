#include "control/source_connection.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>

#include "nsv/nsv_format.h"

#include <QLoggingCategory>

#include <algorithm>

namespace pellox {

namespace {

// How often a full queue is looked at again: the system's own send queue
// tells nobody when it drains.
constexpr std::uint32_t kRoomPollMs = 20;
// A connection's stream is taken once the connection still stands this long
// after its first block of video went out: a server that refuses the mount
// after the login closes at once. After that, a video is on the air once the
// server acknowledged its first block.
constexpr std::uint32_t kStreamSettleMs = 500;
constexpr std::uint32_t kTakenPollMs = 20;
// Lateness worth telling the operator of, and when it is over.
constexpr std::int64_t kLateReportMs = 5000;
constexpr std::int64_t kCaughtUpMs = 1000;

Q_LOGGING_CATEGORY(lcPace, "pellox.pace")

const QString kClosedAfterLogin = QStringLiteral(
    "The server closed the source connection right after the login; another source may be using this mount.");

int unsentBytes(const QTcpSocket &socket, unsigned long request) {
  int bytes = 0;
  const qintptr descriptor = socket.socketDescriptor();
  if (descriptor < 0 || ::ioctl(static_cast<int>(descriptor), request, &bytes) != 0) {
    return 0;
  }
  return bytes;
}

} // namespace

// The pacer's view of the socket.
class SourceConnection::Sink final : public PacerSink {
public:
  explicit Sink(SourceConnection &connection) : connection_(connection) {}

  bool isConnected() const override { return connection_.socket_.state() == QAbstractSocket::ConnectedState; }
  bool sendBlock(const QByteArray &block) override {
    QTcpSocket &socket = connection_.socket_;
    if (socket.write(block) != block.size()) {
      return false;
    }
    connection_.bytes_written_ += block.size();
    connection_.bytes_sent_ += block.size();
    if (connection_.first_block_end_bytes_ < 0) {
      connection_.first_block_end_bytes_ = connection_.bytes_written_;
      connection_.watchFirstBlock();
    }
    return true;
  }
  qint64 bytesNotTaken() const override { return connection_.bytesNotTaken(); }
  void setProgress(int percent) override { emit connection_.progressChanged(percent); }

private:
  SourceConnection &connection_;
};

SourceConnection::SourceConnection(SharedSourceState &shared, std::atomic_bool &stop_requested,
                                   std::shared_ptr<MillisecondClock> clock)
    : shared_(shared), stop_requested_(stop_requested), clock_(std::move(clock)), socket_(this),
      step_timer_(this), taken_timer_(this) {
  socket_.setObjectName(QStringLiteral("Winsock"));
  step_timer_.setSingleShot(true);
  step_timer_.setTimerType(Qt::PreciseTimer);
  taken_timer_.setSingleShot(true);
  connect(&step_timer_, &QTimer::timeout, this, &SourceConnection::step);
  connect(&taken_timer_, &QTimer::timeout, this, &SourceConnection::checkFirstBlockTaken);
  connect(&socket_, &QTcpSocket::connected, this, &SourceConnection::onConnected);
  connect(&socket_, &QTcpSocket::readyRead, this, &SourceConnection::onData);
  connect(&socket_, &QTcpSocket::errorOccurred, this, &SourceConnection::onError);
  connect(&socket_, &QTcpSocket::disconnected, this, &SourceConnection::onClosed);
  connect(&socket_, &QTcpSocket::stateChanged, this, [this](QAbstractSocket::SocketState state) {
    if (state == QAbstractSocket::UnconnectedState) {
      shared_.markClosed(connection_);
    }
  });
}

SourceConnection::~SourceConnection() {
  socket_.disconnect(this);
  socket_.abort();
}

void SourceConnection::setState(SourceState state) {
  if (shared_.setFor(connection_, state)) {
    emit stateChanged();
  }
}

void SourceConnection::abortSocket() {
  // Our own close is no event of the server's.
  const QSignalBlocker quiet(socket_);
  socket_.abort();
  shared_.markClosed(connection_);
  login_pending_ = false;
  logged_in_ = false;
  if (video_) {
    step_timer_.start(0);
  }
}

void SourceConnection::open(quint64 connection, const LoginSettings &settings) {
  abortSocket();
  connection_ = connection;
  host_ = settings.host;
  port_ = settings.port;
  login_line_ = settings.login_line;
  header_block_ = settings.header_block;
  login_pending_ = true;
  stream_taken_ = false;
  settling_ = false;
  closed_after_login_ = false;
  next_late_report_ms_ = kLateReportMs;
  reported_late_ = false;
  schedule_ = StreamSchedule();
  bytes_written_ = 0;
  send_buffer_bytes_ = settings.send_buffer_bytes;
  shared_.markOpening(connection_);
  socket_.connectToHost(host_, port_);
}

void SourceConnection::onConnected() {
  // Only a connected socket has a system socket to take the option.
  socket_.setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, send_buffer_bytes_);
  socket_.write(login_line_);
}

void SourceConnection::onData() {
  const QByteArray reply = socket_.readAll();
  login_pending_ = false;
  if (reply.startsWith("OK2")) {
    socket_.write(header_block_);
    logged_in_ = true;
    setState(SourceState::Ready);
    return;
  }
  if (logged_in_ && !stream_taken_) {
    // A refusal of the mount after the login, in words.
    noteClosedAfterLogin(reply);
  }
  setState(SourceState::LoginRefused);
  abortSocket();
}

void SourceConnection::noteClosedAfterLogin(const QByteArray &reply) {
  closed_after_login_ = true;
  const QString said = QString::fromLatin1(reply.left(reply.indexOf('\n')).left(200)).trimmed();
  closed_after_login_text_ =
      said.isEmpty() ? kClosedAfterLogin : kClosedAfterLogin + QStringLiteral(" It said: \"%1\"").arg(said);
}

void SourceConnection::onError(QAbstractSocket::SocketError error) {
  // A peer that closes is no error here; onClosed deals with it.
  if (error == QAbstractSocket::RemoteHostClosedError) {
    return;
  }
  setState(SourceState::SocketError);
  abortSocket();
}

void SourceConnection::onClosed() {
  if (login_pending_ && shared_.state() == SourceState::NotLoggedIn) {
    // Servers that refuse a password by hanging up without a reply.
    setState(SourceState::LoginRefused);
  } else if (logged_in_ && !stream_taken_) {
    noteClosedAfterLogin(QByteArray());
    setState(SourceState::LoginRefused);
  }
  login_pending_ = false;
  logged_in_ = false;
  if (video_) {
    step_timer_.start(0);
  }
}

void SourceConnection::close() { abortSocket(); }

void SourceConnection::wake() {
  if (video_) {
    step();
  }
}

void SourceConnection::shutDown() {
  step_timer_.stop();
  taken_timer_.stop();
  video_.reset();
  pacer_.reset();
  file_.close();
  abortSocket();
}

void SourceConnection::startVideo(const VideoRequest &request) {
  file_.setFileName(request.path);
  if (!file_.open(QIODevice::ReadOnly)) {
    emit videoFinished(request.serial, false,
                       QStringLiteral("%1 cannot be opened: %2").arg(request.path, file_.errorString()));
    return;
  }
  const SyncSearchResult sync = findFirstSync(file_);
  // Without a frame rate there is no pace: such a file would go out one
  // block per hold and feed listeners garbage for hours.
  QString refusal;
  const double frames_per_second = sync.found ? nsv::frameRateFromByte(sync.rate_byte) : 0.0;
  if (!sync.found) {
    refusal = QStringLiteral("%1 is not an NSV video: no \"NSVs\" sync header was found, so it is not sent.")
                  .arg(request.path);
  } else if (frames_per_second <= 0.0) {
    refusal = QStringLiteral("%1 cannot be paced: its first sync header gives a frame rate of 0, so it is not sent.")
                  .arg(request.path);
  }
  if (!refusal.isEmpty()) {
    file_.close();
    emit videoFinished(request.serial, false, refusal);
    return;
  }
  if (shared_.setFor(request.connection, SourceState::Sending)) {
    emit stateChanged();
  }
  video_ = request;
  connected_at_start_ = socket_.state() == QAbstractSocket::ConnectedState;
  sink_ = std::make_unique<Sink>(*this);
  pacer_ = std::make_unique<NsvPacer>(file_, sync.start_offset, frames_per_second, request.mode, schedule_);
  pacer_->setSecondObserver([this](std::uint32_t interval_ms) {
    if (second_observer_) {
      second_observer_(interval_ms);
    }
    emit secondSent(static_cast<int>(interval_ms));
  });
  // A newer video's title supersedes an older one not yet on the air.
  taken_check_serial_ = request.serial;
  first_block_end_bytes_ = -1;
  step();
}

void SourceConnection::step() {
  step_timer_.stop();
  if (!video_) {
    return;
  }
  if (stop_requested_.exchange(false)) {
    finishVideo(Ending::Stopped);
    return;
  }
  // A connection that is gone ends the video now, not after a hold.
  if (socket_.state() != QAbstractSocket::ConnectedState) {
    finishVideo(Ending::Paced, PaceOutcome::ConnectionLost);
    return;
  }
  const std::uint32_t now_ms = clock_->nowMs();
  const PaceStep next = pacer_->advance(now_ms, *sink_);
  // What is due goes to the system in one piece: fewer sends, fewer packets.
  socket_.flush();
  reportLateness(pacer_->lateMs(now_ms), pacer_->behindMs(now_ms));
  switch (next.kind) {
  case PaceStep::Kind::WaitUntil:
    step_timer_.start(clock_->msUntil(next.until_ms));
    break;
  case PaceStep::Kind::WaitForRoom:
    step_timer_.start(std::max(1, std::min(clock_->msUntil(now_ms + kRoomPollMs), clock_->msUntil(next.until_ms))));
    break;
  case PaceStep::Kind::Finished:
    finishVideo(Ending::Paced, next.outcome);
    break;
  }
}

void SourceConnection::reportLateness(std::int64_t late_ms, std::int64_t behind_ms) {
  late_ms_ = static_cast<int>(std::min<std::int64_t>(behind_ms, INT32_MAX));
  // Said when the stream falls 5 s behind, again each time that doubles,
  // and once when the server keeps pace again.
  if (behind_ms > next_late_report_ms_) {
    reported_late_ = true;
    next_late_report_ms_ = 2 * behind_ms;
    qCWarning(lcPace).noquote()
        << QStringLiteral("The server takes the stream slower than it plays: %1 s behind").arg(behind_ms / 1000);
  } else if (reported_late_ && late_ms < kCaughtUpMs) {
    reported_late_ = false;
    const std::int64_t postponed_ms = behind_ms - late_ms;
    next_late_report_ms_ = postponed_ms + kLateReportMs;
    qCInfo(lcPace).noquote()
        << (postponed_ms < kCaughtUpMs
                ? QStringLiteral("The server takes the stream as fast as it plays again: caught up")
                : QStringLiteral("The server takes the stream as fast as it plays again; listeners get it %1 s later "
                                 "than planned")
                      .arg(postponed_ms / 1000));
  }
}

QString SourceConnection::outcomeText(PaceOutcome outcome) const {
  const QString &path = video_->path;
  switch (outcome) {
  case PaceOutcome::Completed:
    return {};
  case PaceOutcome::SendFailed:
    return QStringLiteral("Sending to the server failed: %1").arg(socket_.errorString());
  case PaceOutcome::ReadFailed:
    return QStringLiteral("Reading %1 failed: %2")
        .arg(path, file_.errorString().isEmpty() ? QStringLiteral("it ended early") : file_.errorString());
  case PaceOutcome::NoFrames:
    return QStringLiteral("%1 holds no NSV frames for %2 MiB, so it is not an NSV video that can be paced; "
                          "sending it stopped.")
        .arg(path)
        .arg(kFramelessBytes / (1024 * 1024));
  case PaceOutcome::ServerStoppedReading:
    return QStringLiteral("The server stopped reading: it took no video data for %1 s, so the source "
                          "connection to %2 port %3 was closed.")
        .arg(kStalledServerMs / 1000)
        .arg(host_)
        .arg(port_);
  case PaceOutcome::ConnectionLost:
    break;
  }
  if (closed_after_login_) {
    return closed_after_login_text_;
  }
  if (!connected_at_start_) {
    return QStringLiteral("The source connection is not open, so %1 was not sent.").arg(path);
  }
  if (shared_.connection() == video_->connection) {
    return QStringLiteral("The connection to %1 port %2 was closed by the server or the network while %3 was being "
                          "sent.")
        .arg(host_)
        .arg(port_)
        .arg(path);
  }
  // The host's own Disconnect.
  return QStringLiteral("The source connection was closed before %1 was sent to its end.").arg(path);
}

void SourceConnection::finishVideo(Ending ending, PaceOutcome outcome) {
  step_timer_.stop();
  const bool connected = socket_.state() == QAbstractSocket::ConnectedState;
  const bool still_sending =
      shared_.connection() == video_->connection && shared_.state() == SourceState::Sending;
  bool sent = false;
  QString error;
  if (ending == Ending::Paced) {
    const bool file_walked = outcome == PaceOutcome::Completed || outcome == PaceOutcome::ReadFailed ||
                             outcome == PaceOutcome::NoFrames;
    if (file_walked && (!connected || !still_sending)) {
      // Disconnect, or the server's close, after the last block went out.
      outcome = PaceOutcome::ConnectionLost;
    }
    error = outcomeText(outcome);
    if (file_walked && outcome != PaceOutcome::ConnectionLost) {
      // The connection is fine; only a failed file cannot go on.
      sent = outcome == PaceOutcome::Completed;
      if (shared_.changeFor(video_->connection, SourceState::Sending, SourceState::Ready)) {
        emit stateChanged();
      }
      emit progressChanged(0);
    } else if (outcome == PaceOutcome::ServerStoppedReading) {
      setState(SourceState::SocketError);
      abortSocket();
    }
  }
  const std::uint32_t now_ms = clock_->nowMs();
  const std::int64_t late_ms = pacer_->behindMs(now_ms);
  if (sent && late_ms >= kCaughtUpMs) {
    qCInfo(lcPace).noquote() << QStringLiteral("%1 ended %2 s behind its schedule.")
                                    .arg(video_->path)
                                    .arg(static_cast<double>(late_ms) / 1000.0, 0, 'f', 1);
  }
  if (!sent) {
    // A video stopped or failed is not announced as taken after its end.
    taken_check_serial_ = 0;
    taken_timer_.stop();
  }
  schedule_.advance(pacer_->sentVideoMs());
  frames_counted_ = pacer_->framesCounted();
  const quint64 serial = video_->serial;
  video_.reset();
  pacer_.reset();
  sink_.reset();
  file_.close();
  emit videoFinished(serial, sent, error);
}

qint64 SourceConnection::bytesNotTaken() const {
  return socket_.bytesToWrite() + unsentBytes(socket_, SIOCOUTQNSD);
}

qint64 SourceConnection::bytesNotAcknowledged() const {
  return socket_.bytesToWrite() + unsentBytes(socket_, SIOCOUTQ);
}

void SourceConnection::watchFirstBlock() {
  const std::uint32_t now_ms = clock_->nowMs();
  if (!stream_taken_ && !settling_) {
    settling_ = true;
    settled_at_ms_ = now_ms + kStreamSettleMs;
  }
  taken_timer_.start(clock_->msUntil(stream_taken_ ? now_ms : settled_at_ms_));
}

void SourceConnection::checkFirstBlockTaken() {
  if (taken_check_serial_ == 0 || first_block_end_bytes_ < 0) {
    return;
  }
  if (socket_.state() != QAbstractSocket::ConnectedState) {
    taken_check_serial_ = 0;
    return;
  }
  const std::uint32_t now_ms = clock_->nowMs();
  if (!stream_taken_ && static_cast<std::int32_t>(now_ms - settled_at_ms_) < 0) {
    taken_timer_.start(clock_->msUntil(settled_at_ms_));
    return;
  }
  stream_taken_ = true;
  if (bytesNotAcknowledged() > bytes_written_ - first_block_end_bytes_) {
    taken_timer_.start(clock_->msUntil(now_ms + kTakenPollMs));
    return;
  }
  const quint64 serial = taken_check_serial_;
  taken_check_serial_ = 0;
  emit videoTaken(serial);
}

} // namespace pellox
