#pragma once

#include "broadcaster/http/api_access.h"
#include "broadcaster/http/event_stream.h"
#include "broadcaster/http/library_index.h"

#include <QAbstractHttpServer>
#include <QHostAddress>
#include <QHttpServerResponder>
#include <QJsonObject>
#include <QPointer>

class Station;
class QHttpServerRequest;
class QTcpSocket;

namespace http_api {

class GuardedTcpServer;

// The station's HTTP API, on Qt's HTTP server: the on-air model, the queue
// and the library as JSON, live events, Prometheus metrics, and the
// window's actions (queue a video, take one out, skip, start, stop) done
// through the same models as the window's buttons. It lives on the thread
// of the models and reads them directly; each request is answered at once
// from what is in memory, and nothing here waits.
class StationApi : public QAbstractHttpServer {
  Q_OBJECT

public:
  using Status = QHttpServerResponder::StatusCode;

  // An answer before it is written.
  struct Reply {
    Status status = Status::Ok;
    QByteArray content_type = QByteArrayLiteral("application/json");
    QByteArray body;
    HeaderList headers;
  };

  StationApi(Station &station, ApiAccess access, QObject *parent = nullptr);

  // Listens on address and port (0: any free port); false with the reason.
  bool start(const QHostAddress &address, quint16 port, QString *error);
  quint16 port() const;
  // For tests: see GuardedTcpServer.
  void setConnectionLimits(int max_connections, int idle_ms);
  int eventClientCount() { return events_.clientCount(); }

protected:
  bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
  void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
  // Answers the request, or takes the connection over for events (true).
  Reply dispatch(const QHttpServerRequest &request, QTcpSocket *socket, bool *streaming);
  Reply library(const QHttpServerRequest &request);
  Reply appendToQueue(const QHttpServerRequest &request);
  Reply removeFromQueue(const QHttpServerRequest &request);
  Reply skip(const QHttpServerRequest &request);
  Reply startBroadcast(const QHttpServerRequest &request);
  Reply stopBroadcast(const QHttpServerRequest &request);
  bool followEvents(const QHttpServerRequest &request, QTcpSocket *socket);
  void send(const QHttpServerRequest &request, QTcpSocket *socket, const Reply &reply);

  static Reply json(const QJsonObject &object, Status status = Status::Ok);
  static Reply problem(Status status, const QString &message);
  // A change made through the API, in the log with who asked.
  static void logChange(const QHttpServerRequest &request, const QString &what);

  Station &station_;
  ApiAccess access_;
  EventStream events_;
  LibraryIndex library_;
  QPointer<GuardedTcpServer> listener_;
};

} // namespace http_api
