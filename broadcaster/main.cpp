// Tarvik+: the broadcaster.
//
//   tarvik-plus [--start] [--reconnect] [--log FILE] [SESSION.xml]

#include <main_window.h>
#include <preferences.h>
#include <station.h>
#include <station_log.h>
#include <station_version.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QSettings>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// SIGTERM, SIGINT and SIGHUP end the program as Exit does (save, stop the
// broadcast, close). The handler only writes a byte; the event loop does the rest.
int g_signal_fds[2] = {-1, -1};

void onTerminationSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(g_signal_fds[1], &byte, 1);
}

bool installTerminationHandlers() {
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signal_fds) != 0) {
    return false;
  }
  struct sigaction action {};
  action.sa_handler = onTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signal_number : {SIGTERM, SIGINT, SIGHUP}) {
    sigaction(signal_number, &action, nullptr);
  }
  return true;
}

// A station on a server has no screen: without one, draw offscreen instead
// of failing to start.
void chooseOffscreenWithoutDisplay() {
  if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr &&
      std::getenv("QT_QPA_PLATFORM") == nullptr) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
}

} // namespace

int main(int argc, char *argv[]) {
  chooseOffscreenWithoutDisplay();
  QString log_error;
  station_log::install(QString(), &log_error);
  QApplication app(argc, argv);
  QApplication::setOrganizationName(QLatin1String(preference::kOrganization));
  QApplication::setApplicationName(QStringLiteral("tarvik-plus"));
  QApplication::setApplicationVersion(QLatin1String(kStationVersion));

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Tarvik+ broadcasts a library of NSV videos to a Shoutcast server."));
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption start_option(QStringLiteral("start"),
                                        QStringLiteral("Press \"Start Stream\" once the window is up."));
  const QCommandLineOption reconnect_option(
      QStringLiteral("reconnect"),
      QStringLiteral("When the server is lost or cannot be reached, log in again after a wait (2 s, doubling up to "
                     "60 s) and play the interrupted video from its start."));
  const QCommandLineOption log_option(QStringLiteral("log"),
                                      QStringLiteral("Append the log to FILE as well as to standard error."),
                                      QStringLiteral("FILE"));
  parser.addOptions({start_option, reconnect_option, log_option});
  parser.addPositionalArgument(QStringLiteral("SESSION"), QStringLiteral("Session file to open at start-up."),
                               QStringLiteral("[SESSION.xml]"));
  parser.process(app);
  if (parser.positionalArguments().size() > 1) {
    parser.showHelp(1);
  }
  if (!station_log::install(parser.value(log_option), &log_error)) {
    std::fprintf(stderr, "%s\n", qPrintable(log_error));
    return 1;
  }

  Station station;
  station.driver.setReconnect(parser.isSet(reconnect_option) ||
                              QSettings().value(QLatin1String(preference::kReconnect), false).toBool());
  MainWindow window(station);

  // With no screen nobody can close an error window: a broadcast that ends
  // in an error ends the program, after saving, with status 1.
  int exit_status = 0;
  if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
    QObject::connect(&station.driver, &BroadcastDriver::ended, &window, [&window, &exit_status](bool by_error) {
      if (by_error && exit_status == 0) {
        exit_status = 1;
        qCWarning(lcBroadcast) << "The broadcast ended in an error; the program ends with status 1";
        QTimer::singleShot(0, &window, &MainWindow::exitProgram);
      }
    });
  }

  std::unique_ptr<QSocketNotifier> termination;
  if (installTerminationHandlers()) {
    termination = std::make_unique<QSocketNotifier>(g_signal_fds[0], QSocketNotifier::Read);
    QObject::connect(termination.get(), &QSocketNotifier::activated, &window, [&window] {
      char byte = 0;
      [[maybe_unused]] const ssize_t got = ::read(g_signal_fds[0], &byte, 1);
      qCInfo(lcWindow) << "Termination signal received";
      window.exitProgram();
    });
  }
  window.show();
  if (!parser.positionalArguments().isEmpty()) {
    window.openSession(parser.positionalArguments().first());
  }
  if (parser.isSet(start_option)) {
    QTimer::singleShot(0, &window, &MainWindow::startRequested);
  }
  const int loop_status = app.exec();
  return exit_status != 0 ? exit_status : loop_status;
}
