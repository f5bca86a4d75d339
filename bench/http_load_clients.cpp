#include "bench/http_load_clients.h"

#include <QCoreApplication>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace bench {
namespace {

const QByteArray kStatusRequest = "GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

// The length of the first whole answer in bytes, or 0 while it is incomplete.
qsizetype wholeAnswer(const QByteArray &bytes, int *status) {
  const qsizetype end = bytes.indexOf("\r\n\r\n");
  if (end < 0) {
    return 0;
  }
  const QByteArray head = bytes.left(end).toLower();
  *status = head.mid(9, 3).toInt();
  const qsizetype field = head.indexOf("content-length:");
  const qsizetype length = field < 0 ? 0 : head.mid(field + 15, head.indexOf('\r', field) - field - 15).trimmed().toLongLong();
  return bytes.size() - end - 4 >= length ? end + 4 + length : 0;
}

double percentile(std::vector<double> sorted, double share) {
  if (sorted.empty()) {
    return 0.0;
  }
  std::sort(sorted.begin(), sorted.end());
  return sorted[std::min(sorted.size() - 1, static_cast<size_t>(share * static_cast<double>(sorted.size())))];
}

} // namespace

StatusPoller::StatusPoller(quint16 port, int interval_ms, int first_delay_ms, LoadFigures &figures)
    : port_(port), interval_ms_(interval_ms), figures_(figures) {
  next_.setSingleShot(true);
  connect(&next_, &QTimer::timeout, this, [this] { ask(); });
  connect(&socket_, &QTcpSocket::readyRead, this, [this] { onReadyRead(); });
  connect(&socket_, &QTcpSocket::disconnected, this, [this] { onLost(); });
  next_.start(first_delay_ms);
}

void StatusPoller::ask() {
  if (socket_.state() == QAbstractSocket::UnconnectedState) {
    socket_.connectToHost(QStringLiteral("127.0.0.1"), port_);
  }
  waiting_ = true;
  received_.clear();
  asked_.start();
  socket_.write(kStatusRequest);
}

void StatusPoller::onReadyRead() {
  received_ += socket_.readAll();
  int status = 0;
  const qsizetype length = wholeAnswer(received_, &status);
  if (!waiting_ || length == 0) {
    return;
  }
  waiting_ = false;
  figures_.latencies_ms.push_back(static_cast<double>(asked_.nsecsElapsed()) / 1e6);
  figures_.failures += status == 200 ? 0 : 1;
  received_.remove(0, length);
  // A little spread, so the pollers do not fall into step.
  next_.start(interval_ms_ + QRandomGenerator::global()->bounded(interval_ms_ / 10 + 1));
}

void StatusPoller::onLost() {
  if (waiting_) {
    ++figures_.failures;
    waiting_ = false;
    next_.start(100);
  }
}

EventFollower::EventFollower(quint16 port, LoadFigures &figures) : figures_(figures) {
  connect(&socket_, &QTcpSocket::readyRead, this, [this] {
    pending_ += socket_.readAll();
    qsizetype end = 0;
    while ((end = pending_.indexOf("\n\n")) >= 0) {
      const QByteArray block = pending_.left(end);
      pending_.remove(0, end + 2);
      figures_.events += block.contains("\nevent: ") || block.startsWith("event: ") ? 1 : 0;
      figures_.heartbeats += block.startsWith(": keep-alive") ? 1 : 0;
    }
  });
  connect(&socket_, &QTcpSocket::disconnected, this, [this] { ++figures_.failures; });
  socket_.connectToHost(QStringLiteral("127.0.0.1"), port);
  socket_.write("GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: text/event-stream\r\n\r\n");
}

int runLoadChild(quint16 port, int pollers, int followers, int interval_ms, int seconds) {
  LoadFigures figures;
  std::vector<std::unique_ptr<QObject>> clients;
  for (int index = 0; index < followers; ++index) {
    clients.push_back(std::make_unique<EventFollower>(port, figures));
  }
  for (int index = 0; index < pollers; ++index) {
    clients.push_back(std::make_unique<StatusPoller>(port, interval_ms,
                                                     QRandomGenerator::global()->bounded(interval_ms), figures));
  }
  QTimer::singleShot(seconds * 1000, qApp, &QCoreApplication::quit);
  QCoreApplication::exec();
  std::printf("load requests=%zu p50_ms=%.2f p99_ms=%.2f max_ms=%.2f failures=%d events=%ld heartbeats=%ld\n",
              figures.latencies_ms.size(), percentile(figures.latencies_ms, 0.50),
              percentile(figures.latencies_ms, 0.99), percentile(figures.latencies_ms, 1.0), figures.failures,
              figures.events, figures.heartbeats);
  return 0;
}

} // namespace bench
