#include "broadcaster/http/connection_guard.h"

#include "broadcaster/http/api_access.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

namespace http_api {
namespace {

constexpr int kDrainMs = 1000;
constexpr const char *kGuardName = "http_api_request_guard";

// Where a request's header ends (just past its empty line), or -1. Takes
// bare line feeds as well, as Qt's parser does.
qsizetype headerEnd(const QByteArray &bytes, qsizetype from) {
  for (qsizetype index = std::max<qsizetype>(from, 1); index < bytes.size(); ++index) {
    if (bytes[index] != '\n') {
      continue;
    }
    if (bytes[index - 1] == '\n') {
      return index + 1;
    }
    if (index >= 2 && bytes[index - 1] == '\r' && bytes[index - 2] == '\n') {
      return index + 1;
    }
  }
  return -1;
}

// Reads what the client sent and drops it; a read transaction Qt's server
// left open would otherwise keep every byte.
void discardInput(QTcpSocket *socket) {
  if (socket->isTransactionStarted()) {
    socket->commitTransaction();
  }
  socket->readAll();
}

struct HeaderVerdict {
  int status = 0; // 0: the request may go on
  QByteArray reason;
  QByteArray message;
  qint64 body_bytes = 0;
  bool expects_continue = false;
};

HeaderVerdict judgeHeader(const QByteArray &header) {
  HeaderVerdict verdict;
  QByteArray content_length;
  for (const QByteArray &raw_line : header.split('\n').mid(1)) {
    const QByteArray line = raw_line.trimmed();
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0) {
      continue;
    }
    const QByteArray name = line.left(colon).trimmed().toLower();
    const QByteArray value = line.mid(colon + 1).trimmed();
    if (name == "content-length") {
      if (!content_length.isNull() && content_length != value) {
        return {400, "Bad Request", "The request gives two different lengths.", 0, false};
      }
      content_length = value;
    } else if (name == "transfer-encoding" && value.toLower() != "identity") {
      return {411, "Length Required", "Send the body with a Content-Length, not in chunks.", 0, false};
    } else if (name == "expect" && value.toLower() == "100-continue") {
      verdict.expects_continue = true;
    }
  }
  if (!content_length.isNull()) {
    bool number = false;
    verdict.body_bytes = content_length.toLongLong(&number);
    if (!number || verdict.body_bytes < 0 || content_length.startsWith('+')) {
      return {400, "Bad Request", "The Content-Length is not a number of bytes.", 0, false};
    }
    if (verdict.body_bytes > GuardedTcpServer::kMaxBodyBytes) {
      return {413, "Payload Too Large",
              "The body is larger than " + QByteArray::number(GuardedTcpServer::kMaxBodyBytes / 1024) + " KiB.", 0,
              false};
    }
  }
  return verdict;
}

// Sees each byte a client sends before Qt's server reads it (its slot is
// connected first), and keeps track of where each request's header and
// body are.
class RequestGuard : public QObject {
public:
  RequestGuard(QTcpSocket *socket, GuardedTcpServer *server, int idle_ms)
      : QObject(socket), socket_(socket), server_(server) {
    setObjectName(QLatin1String(kGuardName));
    idle_.setSingleShot(true);
    idle_.setInterval(idle_ms);
    connect(&idle_, &QTimer::timeout, socket, [socket] { socket->disconnectFromHost(); });
    connect(socket, &QTcpSocket::readyRead, this, &RequestGuard::onReadyRead);
    connect(socket, &QTcpSocket::bytesWritten, this, [this] {
      if (state_ != State::Streaming) {
        idle_.start();
      }
    });
    idle_.start();
  }

  void startStreaming() {
    state_ = State::Streaming;
    idle_.stop();
  }

private:
  enum class State { Header, Body, Streaming };

  void onReadyRead() {
    if (state_ == State::Streaming) {
      discardInput(socket_);
      return;
    }
    idle_.start();
    const QByteArray fresh = socket_->peek(socket_->bytesAvailable());
    qsizetype position = 0;
    while (position < fresh.size()) {
      if (state_ == State::Body) {
        const qint64 taken = std::min<qint64>(body_left_, fresh.size() - position);
        body_left_ -= taken;
        position += taken;
        state_ = body_left_ == 0 ? State::Header : State::Body;
        continue;
      }
      if (header_.isEmpty()) {
        // Empty lines between requests are allowed and belong to none.
        while (position < fresh.size() && (fresh[position] == '\r' || fresh[position] == '\n')) {
          ++position;
        }
      }
      const qsizetype seen = header_.size();
      header_ += fresh.mid(position);
      const qsizetype end = headerEnd(header_, std::max<qsizetype>(0, seen - 2));
      if (end < 0 && header_.size() > GuardedTcpServer::kMaxHeaderBytes) {
        refuse(431, "Request Header Fields Too Large", "The request's header is larger than 16 KiB.");
        return;
      }
      if (end < 0) {
        return;
      }
      position += end - seen;
      header_.truncate(end);
      const HeaderVerdict verdict = end > GuardedTcpServer::kMaxHeaderBytes
                                        ? HeaderVerdict{431, "Request Header Fields Too Large",
                                                        "The request's header is larger than 16 KiB.", 0, false}
                                        : judgeHeader(header_);
      if (verdict.status != 0) {
        refuse(verdict.status, verdict.reason, verdict.message);
        return;
      }
      if (verdict.expects_continue && verdict.body_bytes > 0) {
        socket_->write("HTTP/1.1 100 Continue\r\n\r\n");
      }
      header_.clear();
      body_left_ = verdict.body_bytes;
      state_ = body_left_ > 0 ? State::Body : State::Header;
    }
  }

  void refuse(int status, const QByteArray &reason, const QByteArray &message) {
    if (server_) {
      emit server_->refused(QStringLiteral("Refused a request from %1 with %2: %3")
                                .arg(clientText(socket_->peerAddress()))
                                .arg(status)
                                .arg(QString::fromLatin1(message)));
    }
    GuardedTcpServer::answerAndClose(socket_, status, reason, message);
  }

  QTcpSocket *socket_;
  QPointer<GuardedTcpServer> server_;
  QTimer idle_;
  State state_ = State::Header;
  QByteArray header_;
  qint64 body_left_ = 0;
};

} // namespace

void GuardedTcpServer::incomingConnection(qintptr descriptor) {
  auto *socket = new QTcpSocket(this);
  if (!socket->setSocketDescriptor(descriptor)) {
    delete socket;
    return;
  }
  if (connection_count_ >= max_connections_) {
    emit refused(QStringLiteral("Refused a connection from %1 with 503: %2 are open already")
                     .arg(clientText(socket->peerAddress()))
                     .arg(max_connections_));
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    answerAndClose(socket, 503, "Service Unavailable", "Too many connections; try again later.");
    return;
  }
  ++connection_count_;
  connect(socket, &QObject::destroyed, this, [this] { --connection_count_; });
  new RequestGuard(socket, this, idle_ms_);
  addPendingConnection(socket);
}

void GuardedTcpServer::markStreaming(QTcpSocket *socket) {
  if (auto *guard = socket->findChild<RequestGuard *>(QLatin1String(kGuardName), Qt::FindDirectChildrenOnly)) {
    guard->startStreaming();
  }
}

void GuardedTcpServer::answerAndClose(QTcpSocket *socket, int status, const QByteArray &reason,
                                      const QByteArray &message) {
  // Nothing more of this connection reaches Qt's server or the guard.
  QObject::disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
  QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] { discardInput(socket); });
  const QByteArray body = "{\"error\":\"" + message + "\"}";
  socket->write("HTTP/1.1 " + QByteArray::number(status) + ' ' + reason +
                "\r\nContent-Type: application/json\r\nConnection: close\r\nContent-Length: " +
                QByteArray::number(body.size()) + "\r\n\r\n" + body);
  discardInput(socket);
  QPointer<QTcpSocket> guarded(socket);
  const auto shut_sending = [guarded] {
    if (guarded && guarded->bytesToWrite() == 0 && guarded->state() == QAbstractSocket::ConnectedState) {
      ::shutdown(static_cast<int>(guarded->socketDescriptor()), SHUT_WR);
    }
  };
  QObject::connect(socket, &QTcpSocket::bytesWritten, socket, shut_sending);
  QTimer::singleShot(kDrainMs, socket, [socket] { socket->abort(); });
}

} // namespace http_api
