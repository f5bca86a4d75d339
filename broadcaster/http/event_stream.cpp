#include "broadcaster/http/event_stream.h"

#include "broadcaster/http/api_access.h"

#include "broadcaster/http/connection_guard.h"
#include "broadcaster/http/station_json.h"

#include "broadcaster/broadcast/on_air_model.h"
#include "broadcaster/base/station_log.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QTcpSocket>

namespace http_api {

EventStream::EventStream(OnAirModel &on_air, QObject *parent) : QObject(parent) {
  connect(&on_air, &OnAirModel::event, this, &EventStream::publish);
  heartbeat_.setInterval(kHeartbeatMs);
  connect(&heartbeat_, &QTimer::timeout, this, [this] { sendToAll(QByteArrayLiteral(": keep-alive\n\n")); });
  heartbeat_.start();
}

int EventStream::clientCount() {
  clients_.removeIf([](const QPointer<QTcpSocket> &client) { return client.isNull(); });
  return static_cast<int>(clients_.size());
}

void EventStream::addClient(QTcpSocket *socket, const QByteArray &last_event_id) {
  GuardedTcpServer::markStreaming(socket);
  clients_.append(socket);
  connect(socket, &QTcpSocket::disconnected, this,
          [this, socket] { clients_.removeIf([socket](const QPointer<QTcpSocket> &client) { return client == socket; }); });
  sendTo(socket, "retry: " + QByteArray::number(kRetryMs) + "\n\n");
  bool known = false;
  const quint64 last_id = last_event_id.trimmed().toULongLong(&known);
  if (!known) {
    return;
  }
  for (const Kept &kept : kept_) {
    if (kept.id > last_id) {
      sendTo(socket, kept.message);
    }
  }
}

void EventStream::publish(const QString &type, const QVariantMap &data) {
  const QByteArray json = QJsonDocument(eventJson(data, QDateTime::currentDateTime())).toJson(QJsonDocument::Compact);
  const quint64 id = next_id_++;
  const QByteArray message =
      "id: " + QByteArray::number(id) + "\nevent: " + type.toUtf8() + "\ndata: " + json + "\n\n";
  kept_.push_back({id, message});
  while (kept_.size() > static_cast<size_t>(kKeptEvents)) {
    kept_.pop_front();
  }
  sendToAll(message);
}

void EventStream::sendToAll(const QByteArray &message) {
  // A copy: a dropped client leaves the list on the way.
  const QList<QPointer<QTcpSocket>> clients = clients_;
  for (const QPointer<QTcpSocket> &client : clients) {
    if (client) {
      sendTo(client, message);
    }
  }
}

void EventStream::sendTo(QTcpSocket *socket, const QByteArray &message) {
  if (socket->state() != QAbstractSocket::ConnectedState) {
    return;
  }
  if (socket->bytesToWrite() + message.size() > kMaxUnsentBytes) {
    qCWarning(lcHttp).noquote() << QStringLiteral("Dropped the event stream of %1: it stopped reading")
                                       .arg(clientText(socket->peerAddress()));
    socket->abort();
    return;
  }
  socket->write(message);
}

} // namespace http_api
