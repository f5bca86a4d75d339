#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QVariantMap>

#include <deque>

class OnAirModel;
class QTcpSocket;

namespace http_api {

// Server-sent events: every event of the on-air model goes to each
// connection following /api/events as "id", "event" (the model's type) and
// "data" (JSON) lines. The last kKeptEvents are kept, so a client that
// comes back with Last-Event-ID gets what it missed. A client that stops
// reading is dropped once kMaxUnsentBytes wait for it, so none can make the
// station's memory grow; a comment line every kHeartbeatMs keeps proxies
// from closing a quiet stream and finds clients that are gone.
class EventStream : public QObject {
  Q_OBJECT

public:
  static constexpr int kMaxClients = 64;
  static constexpr qint64 kMaxUnsentBytes = 256 * 1024;
  static constexpr int kHeartbeatMs = 15000;
  static constexpr int kKeptEvents = 64;
  static constexpr int kRetryMs = 3000;

  explicit EventStream(OnAirModel &on_air, QObject *parent = nullptr);

  bool isFull() { return clientCount() >= kMaxClients; }
  int clientCount();
  // Takes the connection over once the response's header has gone out, and
  // sends the kept events newer than last_event_id (none when it is empty).
  void addClient(QTcpSocket *socket, const QByteArray &last_event_id);

private:
  struct Kept {
    quint64 id = 0;
    QByteArray message;
  };

  void publish(const QString &type, const QVariantMap &data);
  void sendTo(QTcpSocket *socket, const QByteArray &message);
  void sendToAll(const QByteArray &message);

  QList<QPointer<QTcpSocket>> clients_;
  std::deque<Kept> kept_;
  quint64 next_id_ = 1;
  QTimer heartbeat_;
};

} // namespace http_api
