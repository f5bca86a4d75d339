#include "control/pellox.h"

#include "control/protocol_text.h"
#include "control/source_connection.h"
#include "control/title_connection.h"

#include <QEventLoop>
#include <QPainter>
#include <QPainterPath>

using pellox::SourceState;

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
// The system's own send buffer grows to megabytes on its own: a server that
// stopped reading would go unnoticed for that much video, and a play it
// never took would count. 512 KiB: an 8 Mbit/s stream over a link with
// 300 ms of round trip still fits.
constexpr int kSourceSendBufferBytes = 512 * 1024;
constexpr int kLowestPort = 1;
constexpr int kHighestPort = 65534; // the source port is one above it
const QString kHoldRule = QStringLiteral("hold");
const QString kRealTime = QStringLiteral("real-time");

bool breaksALine(const QString &value) {
  return value.contains(QLatin1Char('\r')) || value.contains(QLatin1Char('\n'));
}

} // namespace

Pellox::Pellox(QWidget *parent)
    : QWidget(parent), send_buffer_bytes_(kSourceSendBufferBytes), title_(new pellox::TitleConnection(this)) {
  setObjectName(QStringLiteral("Pellox"));
  setFixedSize(kWidthPx, kHeightPx);
  source_ = new pellox::SourceConnection(shared_, stop_requested_, std::make_shared<SystemMillisecondClock>());
  source_->moveToThread(&sender_thread_);
  connect(&sender_thread_, &QThread::finished, source_, &QObject::deleteLater);
  connect(source_, &pellox::SourceConnection::stateChanged, this, [this] { emit StateChanged(State()); });
  connect(source_, &pellox::SourceConnection::videoFinished, this, &Pellox::onVideoFinished);
  connect(source_, &pellox::SourceConnection::videoTaken, this, &Pellox::onVideoTaken);
  connect(source_, &pellox::SourceConnection::progressChanged, this, &Pellox::showProgress);
  connect(source_, &pellox::SourceConnection::secondSent, this, &Pellox::SecondSent);
  sender_thread_.setObjectName(QStringLiteral("Pellox sender"));
  sender_thread_.start(QThread::TimeCriticalPriority);
}

Pellox::~Pellox() {
  if (waiting_loop_) {
    waiting_loop_->quit();
  }
  QMetaObject::invokeMethod(source_, &pellox::SourceConnection::shutDown, Qt::BlockingQueuedConnection);
  sender_thread_.quit();
  sender_thread_.wait();
}

QString Pellox::State() const { return QString::number(static_cast<int>(shared_.state())); }

QString Pellox::LastError() const {
  QMutexLocker lock(&error_mutex_);
  return last_error_;
}

void Pellox::setLastError(const QString &text) {
  QMutexLocker lock(&error_mutex_);
  last_error_ = text;
}

QString Pellox::PacingMode() const { return real_time_ ? kRealTime : kHoldRule; }

void Pellox::SetPacingMode(const QString &mode) {
  setLastError(QString());
  if (mode != kHoldRule && mode != kRealTime) {
    setLastError(QStringLiteral("Unknown pacing mode \"%1\": it is \"%2\" or \"%3\".").arg(mode, kHoldRule, kRealTime));
    return;
  }
  real_time_ = mode == kRealTime;
}

int Pellox::LateMs() const { return source_->lateMs(); }

qint64 Pellox::BytesSent() const { return source_->bytesSent(); }

qint64 Pellox::framesCounted() const { return source_->framesCounted(); }

void Pellox::setClock(std::shared_ptr<MillisecondClock> clock) {
  if (!clock) {
    return;
  }
  pellox::SourceConnection *source = source_;
  QMetaObject::invokeMethod(
      source_, [source, clock] { source->setClock(clock); }, Qt::BlockingQueuedConnection);
}

void Pellox::setSecondObserver(std::function<void(std::uint32_t)> observer) {
  pellox::SourceConnection *source = source_;
  QMetaObject::invokeMethod(
      source_, [source, observer] { source->setSecondObserver(observer); }, Qt::BlockingQueuedConnection);
}

void Pellox::Setup(QString Address, int Port, QString Password, QString StreamName, QString Genre, int YP,
                   QString Bitrate, QString URL, QString IRC, QString ICQ, QString AIM) {
  setLastError(QString());
  // Logged in or sending: the call does nothing at all, without a report.
  const SourceState state = shared_.state();
  if (state == SourceState::Ready || state == SourceState::Sending) {
    return;
  }
  if (Port < kLowestPort || Port > kHighestPort) {
    setLastError(QStringLiteral("Invalid port %1: the server port must be a whole number from %2 to %3.")
                     .arg(Port)
                     .arg(kLowestPort)
                     .arg(kHighestPort));
    return;
  }
  // Each of these goes into a protocol line; a line break would end it and
  // let the rest pass for lines of its own.
  const std::pair<const char *, const QString &> line_values[] = {
      {"address", Address}, {"password", Password}, {"stream name", StreamName}, {"genre", Genre},
      {"bit rate", Bitrate}, {"URL", URL}, {"IRC", IRC}, {"ICQ", ICQ}, {"AIM", AIM}};
  for (const auto &[name, value] : line_values) {
    if (breaksALine(value)) {
      setLastError(QStringLiteral("The %1 holds a line break (CR or LF), which the server would read as the "
                                  "start of another line; nothing was set up.")
                       .arg(QLatin1String(name)));
      return;
    }
  }
  source_host_ = Address;
  source_port_ = static_cast<quint16>(Port + 1);
  password_ = Password;
  title_->setServer(Address, static_cast<quint16>(Port), Password);
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
  setLastError(QString());
  if (!password_.isEmpty() && !header_block_.isEmpty() && shared_.socketOpen()) {
    setLastError(QStringLiteral("The source connection is not closed: a connection to %1 port %2 is already open "
                                "or under way.")
                     .arg(source_host_)
                     .arg(source_port_));
    return;
  }
  const quint64 connection = shared_.beginConnection(SourceState::NotLoggedIn);
  if (!password_.isEmpty() && !header_block_.isEmpty()) {
    shared_.markOpening(connection);
    pellox::LoginSettings settings;
    settings.host = source_host_;
    settings.port = source_port_;
    settings.login_line = pellox::loginLine(password_);
    settings.header_block = header_block_;
    settings.send_buffer_bytes = send_buffer_bytes_;
    pellox::SourceConnection *source = source_;
    QMetaObject::invokeMethod(source_, [source, connection, settings] { source->open(connection, settings); });
  }
  emit StateChanged(State());
}

void Pellox::Disconnect() {
  setLastError(QString());
  shared_.beginConnection(SourceState::NotLoggedIn);
  QMetaObject::invokeMethod(source_, &pellox::SourceConnection::close);
  emit StateChanged(State());
}

void Pellox::StopStream() {
  setLastError(QString());
  stop_requested_ = true;
  QMetaObject::invokeMethod(source_, &pellox::SourceConnection::wake);
}

bool Pellox::StartVideo(QString VideoPath, QString Title) {
  setLastError(QString());
  if (video_running_) {
    setLastError(QStringLiteral("%1 was not started: a video is being sent already.").arg(VideoPath));
    return false;
  }
  video_running_ = true;
  video_sent_ = false;
  video_title_ = Title;
  // A stop asked for while no file was being sent is discarded.
  stop_requested_ = false;
  pellox::VideoRequest request;
  request.serial = ++video_serial_;
  request.connection = shared_.connection();
  request.path = VideoPath;
  request.mode = real_time_ ? pellox::PacingMode::RealTime : pellox::PacingMode::HoldRule;
  pellox::SourceConnection *source = source_;
  QMetaObject::invokeMethod(source_, [source, request] { source->startVideo(request); });
  return true;
}

bool Pellox::StreamVideo(QString VideoPath, QString Title) {
  // A call made while a video is being sent (from inside the wait below, or
  // after StartVideo) would share the connection and the stop request.
  if (!StartVideo(VideoPath, Title)) {
    return false;
  }
  QPointer<Pellox> alive(this);
  QEventLoop loop;
  waiting_loop_ = &loop;
  loop.exec();
  if (!alive) {
    return false;
  }
  waiting_loop_ = nullptr;
  return video_sent_;
}

void Pellox::onVideoFinished(quint64 serial, bool sent, const QString &error) {
  if (serial != video_serial_) {
    return;
  }
  video_running_ = false;
  video_sent_ = sent;
  setLastError(error);
  if (waiting_loop_) {
    waiting_loop_->quit();
  }
  emit VideoFinished(sent, error);
}

void Pellox::onVideoTaken(quint64 serial) {
  if (serial == video_serial_) {
    title_->sendTitle(video_title_);
    emit VideoTaken();
  }
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
