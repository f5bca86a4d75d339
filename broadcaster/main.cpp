// Tarvik+: the broadcaster.
//
//   tarvik-plus [--start] [SESSION.xml]

#include <main_window.h>
#include <station.h>
#include <station_version.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
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

} // namespace

int main(int argc, char *argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("tarvik-plus"));
  QApplication::setApplicationVersion(QLatin1String(kStationVersion));

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Tarvik+ broadcasts a library of NSV videos to a Shoutcast server."));
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption start_option(QStringLiteral("start"),
                                        QStringLiteral("Press \"Start Stream\" once the window is up."));
  parser.addOption(start_option);
  parser.addPositionalArgument(QStringLiteral("SESSION"), QStringLiteral("Session file to open at start-up."),
                               QStringLiteral("[SESSION.xml]"));
  parser.process(app);
  if (parser.positionalArguments().size() > 1) {
    parser.showHelp(1);
  }

  Station station;
  MainWindow window(station);
  std::unique_ptr<QSocketNotifier> termination;
  if (installTerminationHandlers()) {
    termination = std::make_unique<QSocketNotifier>(g_signal_fds[0], QSocketNotifier::Read);
    QObject::connect(termination.get(), &QSocketNotifier::activated, &window, [&window] {
      char byte = 0;
      [[maybe_unused]] const ssize_t got = ::read(g_signal_fds[0], &byte, 1);
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
  return app.exec();
}
