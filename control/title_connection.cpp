#include "control/title_connection.h"

#include "control/protocol_text.h"

#include <QLoggingCategory>

namespace pellox {

namespace {

// A title request that has not gone out by then will not.
constexpr int kTitleTimeoutMs = 10000;

// The host's log shows what the title connection could not do; nothing else
// would tell that listeners still see an old title.
Q_LOGGING_CATEGORY(lcTitle, "pellox.title")

} // namespace

TitleConnection::TitleConnection(QObject *parent) : QObject(parent), socket_(this), deadline_(this) {
  socket_.setObjectName(QStringLiteral("WinsockTitle"));
  deadline_.setSingleShot(true);
  deadline_.setTimerType(Qt::PreciseTimer);
  connect(&deadline_, &QTimer::timeout, this, &TitleConnection::onOverdue);
  connect(&socket_, &QTcpSocket::connected, this, &TitleConnection::onConnected);
  connect(&socket_, &QTcpSocket::bytesWritten, this, &TitleConnection::onWritten);
  connect(&socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
    // A server that closes after the request did its part.
    if (error != QAbstractSocket::RemoteHostClosedError) {
      logFailure(socket_.errorString());
    }
    socket_.abort();
  });
  connect(&socket_, &QTcpSocket::stateChanged, this, [this](QAbstractSocket::SocketState state) {
    if (state == QAbstractSocket::UnconnectedState) {
      deadline_.stop();
      // A title set while this attempt was under way (refused, failed, timed
      // out or already written) gets an attempt of its own, once the socket
      // has settled.
      if (title_of_attempt_ != titles_set_) {
        QMetaObject::invokeMethod(this, &TitleConnection::retryNewerTitle, Qt::QueuedConnection);
      }
    }
  });
}

TitleConnection::~TitleConnection() {
  socket_.disconnect(this);
  socket_.abort();
}

void TitleConnection::setServer(const QString &host, quint16 port, const QString &password) {
  host_ = host;
  port_ = port;
  password_ = password;
}

void TitleConnection::sendTitle(const QString &title) {
  pending_title_ = title;
  ++titles_set_;
  if (socket_.state() == QAbstractSocket::UnconnectedState) {
    start();
  }
}

void TitleConnection::start() {
  title_of_attempt_ = titles_set_;
  socket_.connectToHost(host_, port_);
  deadline_.start(kTitleTimeoutMs);
}

void TitleConnection::onOverdue() {
  if (socket_.state() != QAbstractSocket::UnconnectedState) {
    logFailure(QStringLiteral("no connection within %1 s").arg(kTitleTimeoutMs / 1000));
  }
  // The socket's closing starts the attempt for a newer title, if any.
  socket_.abort();
}

void TitleConnection::logFailure(const QString &reason) const {
  qCWarning(lcTitle).noquote() << QStringLiteral("The title \"%1\" did not reach %2 port %3: %4")
                                      .arg(pending_title_, host_)
                                      .arg(port_)
                                      .arg(reason);
}

void TitleConnection::retryNewerTitle() {
  if (socket_.state() == QAbstractSocket::UnconnectedState && title_of_attempt_ != titles_set_) {
    start();
  }
}

void TitleConnection::onConnected() {
  // The request carries the newest title.
  title_of_attempt_ = titles_set_;
  socket_.write(titleRequest(password_, pending_title_));
}

void TitleConnection::onWritten() {
  if (socket_.bytesToWrite() == 0) {
    socket_.disconnectFromHost();
  }
}

} // namespace pellox
