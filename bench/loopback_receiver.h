#pragma once

#include <QTcpServer>
#include <QTcpSocket>

// Takes the source login on port + 1 and then reads everything, or nothing.
class Receiver {
public:
  explicit Receiver(bool reads) : reads_(reads) {}

  bool start() {
    QObject::connect(&listener_, &QTcpServer::newConnection, [this] {
      while (QTcpSocket *socket = listener_.nextPendingConnection()) {
        QObject::connect(socket, &QTcpSocket::readyRead, [this, socket] {
          if (answered_ && !reads_) {
            return;
          }
          socket->readAll();
          if (!answered_) {
            answered_ = true;
            socket->write("OK2\r\nicy-caps:11\r\n\r\n");
            if (!reads_) {
              socket->setReadBufferSize(16 * 1024);
            }
          }
        });
      }
    });
    return listener_.listen(QHostAddress::LocalHost, 0);
  }
  int serverPort() const { return listener_.serverPort() - 1; }

private:
  QTcpServer listener_;
  bool reads_;
  bool answered_ = false;
};
