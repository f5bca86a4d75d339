#include "tests/support/fake_shoutcast_server.h"

#include <QTimer>

namespace {
// What a paused server still takes in, beyond the kernel's buffers.
constexpr qint64 kPausedBufferBytes = 16 * 1024;
} // namespace

FakeShoutcastServer::FakeShoutcastServer(QObject *parent) : QObject(parent) {
  connect(&source_listener_, &QTcpServer::newConnection, this, &FakeShoutcastServer::onSourceConnection);
  connect(&title_listener_, &QTcpServer::newConnection, this, &FakeShoutcastServer::onTitleConnection);
}

FakeShoutcastServer::~FakeShoutcastServer() {
  // The listeners delete their connections after the members the
  // connections' handlers write to are gone: cut the handlers first.
  for (QTcpServer *listener : {&source_listener_, &title_listener_}) {
    for (QTcpSocket *socket : listener->findChildren<QTcpSocket *>()) {
      socket->disconnect(this);
    }
  }
}

bool FakeShoutcastServer::start(bool with_title_listener) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0)) {
      continue;
    }
    const quint16 candidate = probe.serverPort();
    probe.close();
    if (candidate >= 65535) {
      continue;
    }
    if (!source_listener_.listen(QHostAddress::LocalHost, candidate + 1)) {
      continue;
    }
    if (with_title_listener && !title_listener_.listen(QHostAddress::LocalHost, candidate)) {
      source_listener_.close();
      continue;
    }
    port_ = candidate;
    return true;
  }
  return false;
}

void FakeShoutcastServer::setLoginAnswer(LoginAnswer answer, QList<QByteArray> reply_chunks) {
  answer_ = answer;
  reply_chunks_ = std::move(reply_chunks);
}

QByteArray FakeShoutcastServer::sourceBytesAfterLogin() const {
  const int line_end = source_bytes_.indexOf("\r\n");
  return line_end < 0 ? QByteArray() : source_bytes_.mid(line_end + 2);
}

bool FakeShoutcastServer::sourceConnected() const {
  return source_ && source_->state() == QAbstractSocket::ConnectedState;
}

void FakeShoutcastServer::sendOnSource(const QByteArray &bytes) {
  if (source_) {
    source_->write(bytes);
    source_->flush();
  }
}

void FakeShoutcastServer::closeSource() {
  if (source_) {
    source_->disconnectFromHost();
  }
}

void FakeShoutcastServer::setSourceReading(bool reading) {
  source_reading_ = reading;
  if (source_) {
    applySourceReading(source_);
  }
}

void FakeShoutcastServer::applySourceReading(QTcpSocket *socket) {
  if (source_reading_) {
    // Lifting the limit lets the socket read again; take what waited.
    socket->setReadBufferSize(0);
    source_bytes_ += socket->readAll();
    return;
  }
  // A socket whose buffer is full stops reading from the network.
  socket->setReadBufferSize(kPausedBufferBytes);
}

bool FakeShoutcastServer::makeTitlePortUnresponsive() {
  // One connection fills a queue of backlog 0; later attempts wait for room.
  title_listener_.setListenBacklogSize(0);
  if (!title_listener_.listen(QHostAddress::LocalHost, port_)) {
    return false;
  }
  title_listener_.pauseAccepting();
  title_queue_filler_.connectToHost(QHostAddress::LocalHost, port_);
  return title_queue_filler_.waitForConnected(3000);
}

void FakeShoutcastServer::answerTitlePort() { title_listener_.resumeAccepting(); }

void FakeShoutcastServer::onSourceConnection() {
  while (QTcpSocket *socket = source_listener_.nextPendingConnection()) {
    ++source_connection_count_;
    source_ = socket;
    source_bytes_.clear();
    answered_ = false;
    if (!source_reading_) {
      applySourceReading(socket);
    }
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
      if (socket != source_ || (answered_ && !source_reading_)) {
        return;
      }
      source_bytes_ += socket->readAll();
      if (!answered_ && source_bytes_.contains("\r\n")) {
        answered_ = true;
        answerLogin();
      }
      if (answer_ == LoginAnswer::MountInUse && source_bytes_.contains("\r\n\r\n\r\n\r\n")) {
        socket->disconnectFromHost();
      }
    });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
  }
}

void FakeShoutcastServer::answerLogin() {
  QPointer<QTcpSocket> socket = source_;
  switch (answer_) {
  case LoginAnswer::Silent:
    return;
  case LoginAnswer::HangUp:
    socket->disconnectFromHost();
    return;
  case LoginAnswer::MountInUse:
    socket->write("OK2\r\nicy-caps:11\r\n\r\n");
    socket->flush();
    return;
  case LoginAnswer::Reply:
    break;
  }
  // Each chunk as its own arrival: space them out in time.
  for (int index = 0; index < reply_chunks_.size(); ++index) {
    const QByteArray chunk = reply_chunks_[index];
    QTimer::singleShot(index * 150, this, [socket, chunk] {
      if (socket) {
        socket->write(chunk);
        socket->flush();
      }
    });
  }
}

namespace {

bool isStatusRequest(const QByteArray &request) {
  return request.startsWith("GET /status-json.xsl") || request.startsWith("GET /7.html");
}

} // namespace

void FakeShoutcastServer::answerStatusRequest(QTcpSocket *socket, const QByteArray &request) {
  const QString path = QString::fromLatin1(request.mid(4, request.indexOf(' ', 4) - 4));
  const QByteArray body = status_pages_.value(path);
  socket->write(body.isEmpty() ? QByteArray("HTTP/1.0 404 Not Found\r\n\r\n")
                               : "HTTP/1.0 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) +
                                     "\r\n\r\n" + body);
  socket->disconnectFromHost();
}

// A connection counts once its request has arrived: the station's listener
// poll connects to the same port, and a test may end before it asks.
int FakeShoutcastServer::titleConnectionCount() const { return static_cast<int>(titleRequests().size()); }

QList<QByteArray> FakeShoutcastServer::titleRequests() const {
  QList<QByteArray> requests;
  for (const QByteArray &request : title_requests_) {
    if (!request.isEmpty() && !isStatusRequest(request)) {
      requests.append(request);
    }
  }
  return requests;
}

void FakeShoutcastServer::onTitleConnection() {
  while (QTcpSocket *socket = title_listener_.nextPendingConnection()) {
    if (socket->peerPort() == title_queue_filler_.localPort()) {
      continue;
    }
    const int index = title_requests_.size();
    title_requests_.append(QByteArray());
    connect(socket, &QTcpSocket::readyRead, this, [this, socket, index] {
      title_requests_[index] += socket->readAll();
      if (isStatusRequest(title_requests_[index]) && title_requests_[index].contains("\r\n\r\n")) {
        answerStatusRequest(socket, title_requests_[index]);
      }
    });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket, index] {
      title_requests_[index] += socket->readAll();
      if (!isStatusRequest(title_requests_[index])) {
        ++closed_title_connections_;
      }
      socket->deleteLater();
    });
  }
}
