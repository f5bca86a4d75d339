#pragma once

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>
#include <memory>

// Takes each source login on port + 1 and then reads everything, or nothing.
// While it reads, it notes the longest stretch without any bytes.
class Receiver {
public:
  explicit Receiver(bool reads) : reads_(reads) {}

  bool start() {
    QObject::connect(&listener_, &QTcpServer::newConnection, [this] {
      while (QTcpSocket *socket = listener_.nextPendingConnection()) {
        auto answered = std::make_shared<bool>(false);
        QObject::connect(socket, &QTcpSocket::readyRead, [this, socket, answered] {
          if (*answered && !reads_) {
            return;
          }
          const qint64 got = socket->readAll().size();
          if (!*answered) {
            *answered = true;
            socket->write("OK2\r\nicy-caps:11\r\n\r\n");
            if (!reads_) {
              socket->setReadBufferSize(16 * 1024);
            }
            return;
          }
          if (since_last_.isValid()) {
            longest_gap_ms_ = std::max(longest_gap_ms_, since_last_.elapsed());
          }
          since_last_.start();
          received_bytes_ += got;
        });
      }
    });
    return listener_.listen(QHostAddress::LocalHost, 0);
  }
  int serverPort() const { return listener_.serverPort() - 1; }
  // Bytes after the login, and the longest time between two arrivals of them.
  qint64 receivedBytes() const { return received_bytes_; }
  qint64 longestGapMs() const { return longest_gap_ms_; }

private:
  QTcpServer listener_;
  bool reads_;
  QElapsedTimer since_last_;
  qint64 longest_gap_ms_ = 0;
  qint64 received_bytes_ = 0;
};
