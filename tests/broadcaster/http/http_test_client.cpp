#include "tests/broadcaster/http/http_test_client.h"

#include "tests/support/wait_until.h"

#include <QJsonDocument>
#include <QMutex>

namespace http_testing {
namespace {

// The index just past a header's empty line, or -1.
qsizetype headerEnd(const QByteArray &bytes) {
  const qsizetype end = bytes.indexOf("\r\n\r\n");
  return end < 0 ? -1 : end + 4;
}

// A whole answer in bytes: status line, headers, and the body its length gives.
bool parseReply(const QByteArray &bytes, HttpReply *reply) {
  const qsizetype end = headerEnd(bytes);
  if (end < 0) {
    return false;
  }
  const QList<QByteArray> lines = bytes.left(end - 4).split('\n');
  HttpReply parsed;
  parsed.status = lines.value(0).split(' ').value(1).toInt();
  for (const QByteArray &line : lines.mid(1)) {
    const qsizetype colon = line.indexOf(':');
    parsed.headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
  }
  const qsizetype length = parsed.headers.value("content-length").toLongLong();
  if (bytes.size() - end < length) {
    return false;
  }
  parsed.body = bytes.mid(end, length);
  *reply = parsed;
  return true;
}

QMutex g_log_mutex;
QStringList g_log_lines;
QtMessageHandler g_previous_handler = nullptr;

void captureLine(QtMsgType type, const QMessageLogContext &context, const QString &message) {
  {
    QMutexLocker lock(&g_log_mutex);
    g_log_lines << message;
  }
  if (g_previous_handler) {
    g_previous_handler(type, context, message);
  }
}

} // namespace

QJsonObject HttpReply::json() const { return QJsonDocument::fromJson(body).object(); }

HttpCall::HttpCall(quint16 port, const QByteArray &method, const QString &path, const QByteArray &body,
                   const Headers &headers)
    : socket_(std::make_unique<QTcpSocket>()) {
  QByteArray request = method + ' ' + path.toUtf8() + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  for (const auto &header : headers) {
    request += header.first + ": " + header.second + "\r\n";
  }
  if (!body.isNull()) {
    request += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
  }
  request += "\r\n" + body;
  QObject::connect(socket_.get(), &QTcpSocket::readyRead, [this] { received_ += socket_->readAll(); });
  socket_->connectToHost(QStringLiteral("127.0.0.1"), port);
  socket_->write(request);
}

HttpReply HttpCall::finish(int timeout_ms) {
  HttpReply reply;
  waitUntil([&] { return parseReply(received_, &reply) || socket_->state() == QAbstractSocket::UnconnectedState; },
            timeout_ms);
  parseReply(received_, &reply);
  return reply;
}

bool EventReader::open(quint16 port, const QByteArray &last_event_id) {
  socket_ = std::make_unique<QTcpSocket>();
  QByteArray request = "GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: text/event-stream\r\n";
  if (!last_event_id.isEmpty()) {
    request += "Last-Event-ID: " + last_event_id + "\r\n";
  }
  socket_->connectToHost(QStringLiteral("127.0.0.1"), port);
  socket_->write(request + "\r\n");
  const bool answered = waitUntil([this] { return headerEnd(socket_->peek(4096)) >= 0; });
  const QByteArray head = socket_->read(headerEnd(socket_->peek(4096)));
  return answered && head.startsWith("HTTP/1.1 200") && head.contains("text/event-stream");
}

QList<EventReader::Event> EventReader::events() {
  pending_ += socket_->readAll();
  qsizetype end = 0;
  while ((end = pending_.indexOf("\n\n")) >= 0) {
    const QByteArray block = pending_.left(end);
    pending_.remove(0, end + 2);
    Event event;
    for (const QByteArray &line : block.split('\n')) {
      if (line.startsWith("id: ")) {
        event.id = line.mid(4);
      } else if (line.startsWith("event: ")) {
        event.type = QString::fromUtf8(line.mid(7));
      } else if (line.startsWith("data: ")) {
        event.data = QJsonDocument::fromJson(line.mid(6)).object();
      }
    }
    if (!event.type.isEmpty()) {
      events_ << event;
    }
  }
  return events_;
}

QStringList EventReader::types() {
  QStringList types;
  for (const Event &event : events()) {
    types << event.type;
  }
  return types;
}

LogCapture::LogCapture() {
  QMutexLocker lock(&g_log_mutex);
  g_log_lines.clear();
  g_previous_handler = qInstallMessageHandler(captureLine);
}

LogCapture::~LogCapture() { qInstallMessageHandler(g_previous_handler); }

QStringList LogCapture::lines() const {
  QMutexLocker lock(&g_log_mutex);
  return g_log_lines;
}

int LogCapture::count(const QString &text) const {
  int found = 0;
  for (const QString &line : lines()) {
    found += line.contains(text) ? 1 : 0;
  }
  return found;
}

} // namespace http_testing
