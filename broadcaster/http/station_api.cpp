#include "broadcaster/http/station_api.h"

#include "broadcaster/http/connection_guard.h"
#include "broadcaster/http/http_options.h"
#include "broadcaster/http/metrics_text.h"
#include "broadcaster/http/station_json.h"

#include "broadcaster/broadcast/station.h"
#include "broadcaster/base/station_log.h"
#include "generated/station_version.h"

#include <QHttpServerRequest>
#include <QJsonDocument>
#include <QTcpSocket>
#include <QUrlQuery>

namespace http_api {
namespace {

using Method = QHttpServerRequest::Method;

const QString kQueueItemPrefix = QStringLiteral("/api/queue/");

// The methods each address takes; an address not listed does not exist.
QByteArray allowedMethods(const QString &path) {
  static const QList<QPair<QString, QByteArray>> kRoutes = {
      {QStringLiteral("/api/status"), "GET"},  {QStringLiteral("/api/queue"), "GET, POST"},
      {QStringLiteral("/api/library"), "GET"}, {QStringLiteral("/api/events"), "GET"},
      {QStringLiteral("/metrics"), "GET"},     {QStringLiteral("/api/skip"), "POST"},
      {QStringLiteral("/api/start"), "POST"},  {QStringLiteral("/api/stop"), "POST"}};
  if (path.startsWith(kQueueItemPrefix)) {
    return "DELETE";
  }
  for (const auto &route : kRoutes) {
    if (route.first == path) {
      return route.second;
    }
  }
  return QByteArray();
}

QByteArray methodName(Method method) {
  switch (method) {
  case Method::Get:
    return "GET";
  case Method::Post:
    return "POST";
  case Method::Delete:
    return "DELETE";
  case Method::Options:
    return "OPTIONS";
  default:
    return "OTHER";
  }
}

// Whether a text names one of allowed's methods exactly.
bool allows(const QByteArray &allowed, const QByteArray &method) {
  return allowed.split(',').contains(" " + method) || allowed.split(',').contains(method);
}

} // namespace

StationApi::StationApi(Station &station, ApiAccess access, QObject *parent)
    : QAbstractHttpServer(parent), station_(station), access_(std::move(access)), events_(station.on_air),
      library_(station.session, station.driver) {}

bool StationApi::start(const QHostAddress &address, quint16 port, QString *error) {
  auto *listener = new GuardedTcpServer(this);
  if (!listener->listen(address, port)) {
    *error = QStringLiteral("The HTTP API cannot listen on %1: %2").arg(addressText(address, port), listener->errorString());
    delete listener;
    return false;
  }
  connect(listener, &GuardedTcpServer::refused, this,
          [](const QString &what) { qCWarning(lcHttp).noquote() << what; });
  bind(listener);
  listener_ = listener;
  return true;
}

quint16 StationApi::port() const { return listener_ ? listener_->serverPort() : 0; }

void StationApi::setConnectionLimits(int max_connections, int idle_ms) {
  if (listener_) {
    listener_->setLimits(max_connections, idle_ms);
  }
}

bool StationApi::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) {
  bool streaming = false;
  Reply reply = dispatch(request, socket, &streaming);
  if (!streaming) {
    send(request, socket, reply);
  }
  return true;
}

void StationApi::missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) {
  send(request, socket, problem(Status::NotFound, QStringLiteral("No such address.")));
}

StationApi::Reply StationApi::dispatch(const QHttpServerRequest &request, QTcpSocket *socket, bool *streaming) {
  const QString path = request.url().path();
  const QByteArray method = methodName(request.method());
  const QByteArray origin = request.value(QByteArrayLiteral("origin"));
  const QByteArray allowed = allowedMethods(path);
  // A page of an allowed origin reads the refusals too, not only the answers.
  const auto readable = [&](Reply reply) {
    reply.headers += access_.corsHeaders(origin, false);
    return reply;
  };
  if (allowed.isEmpty()) {
    return readable(problem(Status::NotFound, QStringLiteral("No such address: %1").arg(path)));
  }
  if (request.method() == Method::Options) {
    Reply reply{Status::NoContent, QByteArray(), QByteArray(), access_.corsHeaders(origin, true)};
    reply.headers.append({QByteArrayLiteral("Allow"), allowed + ", OPTIONS"});
    return reply;
  }
  if (!allows(allowed, method)) {
    Reply reply = problem(Status::MethodNotAllowed, QStringLiteral("%1 takes %2.").arg(path, QString::fromLatin1(allowed)));
    reply.headers.append({QByteArrayLiteral("Allow"), allowed + ", OPTIONS"});
    return readable(reply);
  }
  const ApiAccess::Verdict verdict = access_.check(request.method() != Method::Get, request.remoteAddress(),
                                                   request.value(QByteArrayLiteral("authorization")), origin);
  if (verdict.status != 0) {
    qCWarning(lcHttp).noquote() << QStringLiteral("Refused %1 %2 from %3: %4")
                                       .arg(QString::fromLatin1(method), path, clientText(request.remoteAddress()),
                                            QString::fromUtf8(verdict.message));
    Reply reply = problem(static_cast<Status>(verdict.status), QString::fromUtf8(verdict.message));
    if (verdict.status == 401) {
      reply.headers.append({QByteArrayLiteral("WWW-Authenticate"), QByteArrayLiteral("Bearer realm=\"tarvik-plus\"")});
    }
    return readable(reply);
  }

  Reply reply;
  const QString version = QString::fromLatin1(kStationVersion);
  if (path == QLatin1String("/api/status")) {
    reply = json(statusJson(station_.on_air, version));
  } else if (path == QLatin1String("/api/queue")) {
    reply = method == "GET" ? json(queueJson(station_.queue)) : appendToQueue(request);
  } else if (path == QLatin1String("/api/library")) {
    reply = library(request);
  } else if (path == QLatin1String("/api/events")) {
    if (followEvents(request, socket)) {
      *streaming = true;
      return reply;
    }
    reply = problem(Status::ServiceUnavailable,
                    QStringLiteral("Too many event streams (%1); try again later.").arg(EventStream::kMaxClients));
  } else if (path == QLatin1String("/metrics")) {
    reply = {Status::Ok, kMetricsContentType, metricsText(station_.on_air, station_.queue, version), {}};
  } else if (path == QLatin1String("/api/skip")) {
    reply = skip(request);
  } else if (path == QLatin1String("/api/start")) {
    reply = startBroadcast(request);
  } else if (path == QLatin1String("/api/stop")) {
    reply = stopBroadcast(request);
  } else {
    reply = removeFromQueue(request);
  }
  return readable(reply);
}

StationApi::Reply StationApi::library(const QHttpServerRequest &request) {
  const QUrlQuery query = request.query();
  const QString search = query.queryItemValue(QStringLiteral("search"), QUrl::FullyDecoded);
  int limit = LibraryIndex::kDefaultLimit;
  if (query.hasQueryItem(QStringLiteral("limit"))) {
    const QString text = query.queryItemValue(QStringLiteral("limit"));
    bool number = false;
    limit = text.toInt(&number);
    if (!number || limit < 1 || limit > LibraryIndex::kLargestLimit) {
      return problem(Status::BadRequest, QStringLiteral("limit \"%1\" is not a whole number from 1 to %2.")
                                             .arg(text)
                                             .arg(LibraryIndex::kLargestLimit));
    }
  }
  QJsonObject answer = library_.search(search, limit);
  answer.insert(QStringLiteral("search"), search);
  answer.insert(QStringLiteral("limit"), limit);
  return json(answer);
}

StationApi::Reply StationApi::appendToQueue(const QHttpServerRequest &request) {
  const QString example = QStringLiteral("{\"key\": \"12\"}");
  if (request.body().trimmed().isEmpty()) {
    return problem(Status::BadRequest, QStringLiteral("The body is empty; send the video's key as %1.").arg(example));
  }
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(request.body(), &error);
  if (error.error != QJsonParseError::NoError) {
    return problem(Status::BadRequest,
                   QStringLiteral("The body is not JSON: %1 at byte %2.").arg(error.errorString()).arg(error.offset));
  }
  const QJsonValue value = document.object().value(QStringLiteral("key"));
  QString key;
  if (value.isString()) {
    key = value.toString().trimmed();
  } else if (value.isDouble() && value.toDouble() == static_cast<double>(value.toInteger())) {
    key = QString::number(value.toInteger());
  }
  if (!document.isObject() || key.isEmpty()) {
    return problem(Status::BadRequest,
                   QStringLiteral("The body must be an object with the video's key, as text or a whole number: %1.")
                       .arg(example));
  }
  const QString node_key = session::nodeKeyFromEntryKey(key);
  const session::Library &library = station_.session.library();
  if (!library.hasVideo(node_key)) {
    return problem(Status::NotFound, QStringLiteral("No video in the library has the key %1.").arg(key));
  }
  const QString title = library.videoTitle(node_key);
  station_.queue.append(title, node_key);
  logChange(request, QStringLiteral("Queued \"%1\" (key %2)").arg(title, key));
  return json({{QStringLiteral("position"), station_.queue.count() - 1},
               {QStringLiteral("key"), key},
               {QStringLiteral("title"), title}},
              Status::Created);
}

StationApi::Reply StationApi::removeFromQueue(const QHttpServerRequest &request) {
  const QString text = request.url().path().mid(kQueueItemPrefix.size());
  bool number = false;
  const int position = text.toInt(&number);
  PlayQueue &queue = station_.queue;
  if (!number || position < 0 || text.startsWith(QLatin1Char('+'))) {
    return problem(Status::BadRequest, QStringLiteral("\"%1\" is not a queue position (0 is the first).").arg(text));
  }
  if (position >= queue.count()) {
    return problem(Status::NotFound,
                   QStringLiteral("The queue has no position %1; it holds %2 video(s).").arg(position).arg(queue.count()));
  }
  const PlayQueue::Item item = queue.itemAt(position);
  if (!queue.removeAt(position)) {
    return problem(Status::Conflict,
                   QStringLiteral("Position %1 is the video on the air; skip it with POST /api/skip.").arg(position));
  }
  logChange(request, QStringLiteral("Removed \"%1\" from the queue").arg(item.title));
  return json({{QStringLiteral("removed"), QJsonObject{{QStringLiteral("key"), session::entryKeyFromNodeKey(item.node_key)},
                                                      {QStringLiteral("title"), item.title}}},
               {QStringLiteral("queue"), queueJson(queue)}});
}

StationApi::Reply StationApi::skip(const QHttpServerRequest &request) {
  const std::optional<OnAirModel::Video> playing = station_.on_air.nowPlaying();
  if (!station_.driver.skip()) {
    return problem(Status::Conflict, QStringLiteral("No video is being sent."));
  }
  const QString title = playing ? playing->title : QString();
  logChange(request, QStringLiteral("Skip of \"%1\" requested").arg(title));
  return json({{QStringLiteral("skipping"),
                QJsonObject{{QStringLiteral("key"), playing ? QJsonValue(playing->entry_key) : QJsonValue()},
                            {QStringLiteral("title"), title}}}},
              Status::Accepted);
}

StationApi::Reply StationApi::startBroadcast(const QHttpServerRequest &request) {
  BroadcastDriver &driver = station_.driver;
  const QString still_stopping = QStringLiteral("The last broadcast is still stopping; try again in a moment.");
  if (driver.isStopping()) {
    return problem(Status::Conflict, still_stopping);
  }
  if (driver.isRunning()) {
    return problem(Status::Conflict, QStringLiteral("The broadcast is running already."));
  }
  logChange(request, QStringLiteral("Start requested"));
  // What makes a Start fail at once is reported while it runs.
  QString failure;
  const QMetaObject::Connection watch = connect(
      &driver, &BroadcastDriver::error, this,
      [&failure](BroadcastDriver::Problem, const QString &message) { failure = message; });
  driver.RunBroadcast();
  disconnect(watch);
  if (!driver.isRunning()) {
    return problem(Status::Conflict, failure.isEmpty() ? still_stopping : failure);
  }
  return json({{QStringLiteral("running"), true}}, Status::Accepted);
}

StationApi::Reply StationApi::stopBroadcast(const QHttpServerRequest &request) {
  if (!station_.driver.isRunning()) {
    return problem(Status::Conflict, QStringLiteral("No broadcast is running."));
  }
  logChange(request, QStringLiteral("Stop requested"));
  station_.driver.stop();
  return json({{QStringLiteral("stopping"), true}}, Status::Accepted);
}

bool StationApi::followEvents(const QHttpServerRequest &request, QTcpSocket *socket) {
  if (events_.isFull()) {
    return false;
  }
  QHttpServerResponder responder = makeResponder(request, socket);
  responder.writeStatusLine(Status::Ok);
  responder.writeHeader(QByteArrayLiteral("Content-Type"), QByteArrayLiteral("text/event-stream; charset=utf-8"));
  responder.writeHeader(QByteArrayLiteral("Cache-Control"), QByteArrayLiteral("no-store"));
  for (const auto &header : access_.corsHeaders(request.value(QByteArrayLiteral("origin")), false)) {
    responder.writeHeader(header.first, header.second);
  }
  responder.writeBody(QByteArray());
  // From here on the connection is the stream's: Qt's server reads no more
  // requests from it.
  disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
  events_.addClient(socket, request.value(QByteArrayLiteral("last-event-id")));
  return true;
}

void StationApi::send(const QHttpServerRequest &request, QTcpSocket *socket, const Reply &reply) {
  if (socket->state() != QAbstractSocket::ConnectedState) {
    return;
  }
  QHttpServerResponder responder = makeResponder(request, socket);
  responder.writeStatusLine(reply.status);
  if (!reply.content_type.isEmpty()) {
    responder.writeHeader(QByteArrayLiteral("Content-Type"), reply.content_type);
  }
  responder.writeHeader(QByteArrayLiteral("Cache-Control"), QByteArrayLiteral("no-store"));
  for (const auto &header : reply.headers) {
    responder.writeHeader(header.first, header.second);
  }
  responder.writeHeader(QByteArrayLiteral("Content-Length"), QByteArray::number(reply.body.size()));
  responder.writeBody(reply.body);
}

StationApi::Reply StationApi::json(const QJsonObject &object, Status status) {
  return {status, QByteArrayLiteral("application/json"), QJsonDocument(object).toJson(QJsonDocument::Compact), {}};
}

StationApi::Reply StationApi::problem(Status status, const QString &message) {
  return json({{QStringLiteral("error"), message}}, status);
}

void StationApi::logChange(const QHttpServerRequest &request, const QString &what) {
  qCInfo(lcHttp).noquote() << QStringLiteral("%1 through the HTTP API, from %2")
                                  .arg(what, clientText(request.remoteAddress()));
}

} // namespace http_api
