#pragma once

// A raw HTTP/1.1 client on loopback for the API's tests. The API runs on
// the test's own thread, so a client never blocks: it waits by running the
// event loop.

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QTcpSocket>

#include <memory>

namespace http_testing {

using Headers = QList<QPair<QByteArray, QByteArray>>;

struct HttpReply {
  int status = 0; // 0: no whole answer came
  QMap<QByteArray, QByteArray> headers; // names in lower case
  QByteArray body;

  QJsonObject json() const;
  QString error() const { return json().value(QStringLiteral("error")).toString(); }
};

// One request on a connection of its own, sent at once; finish() waits
// for the answer.
class HttpCall {
public:
  HttpCall(quint16 port, const QByteArray &method, const QString &path, const QByteArray &body = QByteArray(),
           const Headers &headers = {});
  HttpReply finish(int timeout_ms = 5000);

private:
  std::unique_ptr<QTcpSocket> socket_;
  QByteArray received_;
};

inline HttpReply httpRequest(quint16 port, const QByteArray &method, const QString &path,
                             const QByteArray &body = QByteArray(), const Headers &headers = {}) {
  return HttpCall(port, method, path, body, headers).finish();
}

// Follows /api/events and splits what arrives into events.
class EventReader {
public:
  struct Event {
    QByteArray id;
    QString type;
    QJsonObject data;
  };

  // True once the stream's header has come, with status 200.
  bool open(quint16 port, const QByteArray &last_event_id = QByteArray());
  QList<Event> events();
  QStringList types();
  QTcpSocket &socket() { return *socket_; }

private:
  std::unique_ptr<QTcpSocket> socket_;
  QByteArray pending_;
  QList<Event> events_;
};

// Collects what goes through Qt's logging while it exists.
class LogCapture {
public:
  LogCapture();
  ~LogCapture();
  QStringList lines() const;
  int count(const QString &text) const;
};

} // namespace http_testing
