#pragma once

#include <QByteArray>
#include <QTcpServer>

class QTcpSocket;

namespace http_api {

// The listening socket of the HTTP API, and the limits every connection is
// held to before Qt's HTTP server reads from it. Qt's server keeps a request
// in memory until it is whole, whatever its size, and keeps idle
// connections forever; so each connection gets a guard that sees every byte
// first and answers by itself, closing the connection, when a request's
// header passes 16 KiB (431), its body 64 KiB (413) or it comes in chunks of
// unknown total (411). It closes connections idle for kIdleMs (event streams
// aside) and refuses connections past kMaxConnections (503). A client that asks with "Expect:
// 100-continue" is told to go on at once.
class GuardedTcpServer : public QTcpServer {
  Q_OBJECT

public:
  static constexpr qint64 kMaxHeaderBytes = 16 * 1024;
  static constexpr qint64 kMaxBodyBytes = 64 * 1024;
  static constexpr int kMaxConnections = 512;
  static constexpr int kIdleMs = 30000;

  using QTcpServer::QTcpServer;

  // For tests: smaller limits than the constants.
  void setLimits(int max_connections, int idle_ms) {
    max_connections_ = max_connections;
    idle_ms_ = idle_ms;
  }

  // From now on the connection carries a stream: no idle limit, and what
  // the client sends is read and dropped.
  static void markStreaming(QTcpSocket *socket);

  // Writes a whole response the guard makes itself, then closes the
  // connection without losing it: the sending side is shut, and what the
  // client still sends is read and dropped for a moment, so its system
  // does not answer our response with a reset before it was read.
  static void answerAndClose(QTcpSocket *socket, int status, const QByteArray &reason, const QByteArray &message);

signals:
  void refused(const QString &what);

protected:
  void incomingConnection(qintptr descriptor) override;

private:
  int connection_count_ = 0;
  int max_connections_ = kMaxConnections;
  int idle_ms_ = kIdleMs;
};

} // namespace http_api
