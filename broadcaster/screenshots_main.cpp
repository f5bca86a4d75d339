// Saves pictures of the main window's four tabs for the README, with a
// small demo session that is on the air: a short broadcast runs against a
// stand-in server on loopback, so the on-air strip shows what the real
// model says. Runs offscreen, with preferences of its own.
//
//   tarvik-screenshots OUTPUT_FOLDER

#include "broadcaster/window/library_tree.h"
#include "broadcaster/window/listener_chart.h"
#include "broadcaster/window/main_window.h"
#include "nsv/nsv_format.h"
#include "broadcaster/session/session_settings.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QSettings>
#include <QTabBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <deque>
#include <functional>
#include <tuple>

namespace {

// Listeners the stand-in server reports, now and at most.
constexpr int kListenersNow = 7;
constexpr int kListenersPeak = 12;

// The steady clock, which the picture can move on so that the video on the
// air is well under way without waiting for it.
class MovableClock final : public MillisecondClock {
public:
  MovableClock() { since_start_.start(); }
  std::uint32_t nowMs() override { return static_cast<std::uint32_t>(since_start_.elapsed()) + moved_ms_; }
  int msUntil(std::uint32_t deadline_ms) override {
    const auto remaining_ms = static_cast<std::int32_t>(deadline_ms - nowMs());
    return remaining_ms > 0 ? remaining_ms : 0;
  }
  void moveOn(std::uint32_t duration_ms) { moved_ms_ += duration_ms; }

private:
  QElapsedTimer since_start_;
  std::atomic<std::uint32_t> moved_ms_{0};
};

// Just enough of a Shoutcast server on loopback: the source login on
// port + 1 (answered "OK2", the stream then read and dropped), and on the
// port itself, title updates and an Icecast status page with the listeners.
class StandInServer : public QObject {
public:
  bool start() {
    for (int attempt = 0; attempt < 50; ++attempt) {
      if (!title_port_.listen(QHostAddress::LocalHost)) {
        return false;
      }
      if (source_port_.listen(QHostAddress::LocalHost, title_port_.serverPort() + 1)) {
        connect(&source_port_, &QTcpServer::newConnection, this, &StandInServer::onSource);
        connect(&title_port_, &QTcpServer::newConnection, this, &StandInServer::onTitle);
        return true;
      }
      title_port_.close();
    }
    return false;
  }
  quint16 port() const { return title_port_.serverPort(); }

private:
  void onSource() {
    while (QTcpSocket *socket = source_port_.nextPendingConnection()) {
      connect(socket, &QTcpSocket::readyRead, socket, [socket, answered = false]() mutable {
        const QByteArray bytes = socket->readAll();
        if (!answered && bytes.contains("\r\n")) {
          answered = true;
          socket->write("OK2\r\n");
        }
      });
      connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
  }

  void onTitle() {
    while (QTcpSocket *socket = title_port_.nextPendingConnection()) {
      connect(socket, &QTcpSocket::readyRead, socket, [socket, request = QByteArray()]() mutable {
        request += socket->readAll();
        if (!request.contains("\r\n\r\n")) {
          return;
        }
        QByteArray body;
        if (request.startsWith("GET /status-json.xsl ")) {
          body = QStringLiteral(R"({"icestats":{"source":{"listenurl":"http://127.0.0.1/stream",)"
                                R"("listeners":%1,"listener_peak":%2}}})")
                     .arg(kListenersNow)
                     .arg(kListenersPeak)
                     .toUtf8();
        }
        socket->write("HTTP/1.0 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        socket->disconnectFromHost();
      });
      connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
  }

  QTcpServer title_port_;
  QTcpServer source_port_;
};

// A video of the given length in small frames, with the NSVf header that
// gives the length.
bool writeVideo(const QString &path, int seconds) {
  constexpr int kFramesPerSecond = 25;
  nsv::StreamFormat format;
  format.width = 320;
  format.height = 240;
  format.frame_rate_byte = kFramesPerSecond;
  nsv::Writer writer(format);
  for (int index = 0; index < seconds * kFramesPerSecond; ++index) {
    nsv::Frame frame;
    frame.sync = index % kFramesPerSecond == 0;
    frame.video = QByteArray(64, '\0');
    writer.addFrame(frame);
  }
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(writer.finish(true)) >= 0;
}

// Runs the event loop until condition holds; false after timeout_ms.
bool waitFor(const std::function<bool()> &condition, int timeout_ms) {
  QElapsedTimer waited;
  waited.start();
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (condition() || waited.elapsed() > timeout_ms) {
      loop.quit();
    }
  });
  poll.start(20);
  if (!condition()) {
    loop.exec();
  }
  return condition();
}

// A made-up day for the chart: listeners every ten minutes, most in the
// evening, and about a dozen plays an hour.
void plotSampleDay(ListenerChart &chart) {
  const QDateTime now = QDateTime::currentDateTime();
  std::deque<OnAirModel::Sample> listeners;
  for (int minutes = 24 * 60; minutes >= 0; minutes -= 10) {
    const QDateTime at = now.addSecs(-60LL * minutes);
    const double hour = at.time().hour() + at.time().minute() / 60.0;
    const double from_nine_pm = std::min(std::abs(hour - 21.0), 24.0 - std::abs(hour - 21.0));
    const double evening = std::exp(-std::pow(from_nine_pm / 3.0, 2));
    const double morning = std::exp(-std::pow((hour - 8.0) / 2.0, 2));
    listeners.push_back({at, qRound(2 + 16 * evening + 4 * morning + 1.5 * std::sin(minutes / 29.0))});
  }
  QVector<OnAirModel::Sample> plays;
  QDateTime hour = now;
  hour.setTime(QTime(now.time().hour(), 0));
  for (int back = 23; back >= 0; --back) {
    plays.append({hour.addSecs(-3600LL * back), 11 + (back * 7) % 4});
  }
  chart.plot(listeners, plays, now);
}

void showTab(MainWindow &window, const QString &tab) {
  MainWindow::selectTab(window.findChild<QTabBar *>(QStringLiteral("TabStrip")), tab);
  window.ShowTabPanel();
}

// Saves the window as tarvik-TAB.png.
bool saveWindow(MainWindow &window, const QDir &output, const QString &tab) {
  QApplication::processEvents();
  const QString file = output.filePath(QStringLiteral("tarvik-%1.png").arg(tab.toLower()));
  if (!window.grab().save(file)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
    return false;
  }
  std::printf("%s\n", qPrintable(file));
  return true;
}

bool saveTab(MainWindow &window, const QDir &output, const QString &tab) {
  showTab(window, tab);
  return saveWindow(window, output, tab);
}

// Four videos in two folders, written to folder (but one that is never
// played: its path can be the one a station would have).
bool fillLibrary(session::Library &library, const QTemporaryDir &folder) {
  const QList<std::tuple<QString, QString, int>> videos = {{QStringLiteral("Videos"), QStringLiteral("Evening News"), 180},
                                                           {QStringLiteral("Videos"), QStringLiteral("Weather"), 90},
                                                           {QStringLiteral("Videos"), QStringLiteral("Music Hour"), 240},
                                                           {QStringLiteral("Promos"), QStringLiteral("Station ID"), 15}};
  for (const auto &[parent, title, seconds] : videos) {
    const bool played = title != QLatin1String("Music Hour");
    const QString path = played ? folder.filePath(title + QStringLiteral(".nsv")) : QStringLiteral("/srv/videos/") + title + QStringLiteral(".nsv");
    if (played && !writeVideo(path, seconds)) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
      return false;
    }
    library.addVideo(parent, path, title);
  }
  return true;
}

} // namespace

int main(int argc, char *argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: tarvik-screenshots OUTPUT_FOLDER\n");
    return 2;
  }
  const QDir output(QString::fromLocal8Bit(argv[1]));
  QDir().mkpath(output.path());
  QTemporaryDir temp;
  // The window's first size, whatever the user's own Tarvik+ remembers.
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, temp.filePath(QStringLiteral("preferences")));
  StandInServer server;
  if (!server.start()) {
    std::fprintf(stderr, "no free pair of loopback ports\n");
    return 1;
  }

  auto clock = std::make_shared<MovableClock>();
  Station station(clock);
  MainWindow window(station);
  window.commonDialog().setChooser(
      [&temp](CommonDialog::Mode, const QString &, const QString &, const CommonDialog::Answer &answer) {
        answer(temp.filePath(QStringLiteral("station.xml")));
      });
  window.show();
  window.fileNew();
  if (!fillLibrary(station.session.library(), temp)) {
    return 1;
  }
  window.SaveSession();
  window.library().expandAll();
  station.queue.setMode(PlayQueue::Mode::Manual);
  window.queue().append(QStringLiteral("Evening News"), QStringLiteral("K0"));
  window.queue().append(QStringLiteral("Weather"), QStringLiteral("K1"));
  window.queue().append(QStringLiteral("Station ID"), QStringLiteral("K3"));
  // The settings as a new session has them; then the stand-in's port.
  if (!saveTab(window, output, QStringLiteral("Shoutcast"))) {
    return 1;
  }
  station.session.document().setSetting(QLatin1String(session::setting::kPort), QString::number(server.port()));

  const OnAirModel &on_air = station.on_air;
  emit window.startRequested();
  if (!waitFor([&] { return on_air.onAir() && on_air.listeners() >= 0; }, 15000)) {
    std::fprintf(stderr, "the demo broadcast did not go on the air\n");
    return 1;
  }
  // A minute and a quarter into the news, once the strip's clock has ticked.
  clock->moveOn(75000);
  auto *elapsed = window.findChild<QLabel *>(QStringLiteral("lblElapsed"));
  if (!waitFor([elapsed] { return elapsed->text().startsWith(QLatin1String("1:")); }, 5000)) {
    std::fprintf(stderr, "the on-air strip did not move on\n");
    return 1;
  }
  if (!saveTab(window, output, QStringLiteral("Actions"))) {
    return 1;
  }
  window.library().select(QStringLiteral("K2"));
  emit window.library().nodeClicked(QStringLiteral("K2"), true);
  if (!saveTab(window, output, QStringLiteral("Library"))) {
    return 1;
  }

  emit window.stopRequested();
  if (!waitFor([&] { return !station.driver.isRunning(); }, 15000)) {
    std::fprintf(stderr, "the demo broadcast did not stop\n");
    return 1;
  }
  showTab(window, QStringLiteral("Statistics"));
  // The broadcast was too short for a chart worth showing.
  plotSampleDay(*window.findChild<ListenerChart *>());
  return saveWindow(window, output, QStringLiteral("Statistics")) ? 0 : 1;
}
