// Tarvik+: the broadcaster.
//
//   tarvik-plus [--start] [--reconnect] [--log FILE] [SESSION.xml]
//   tarvik-plus --import [--folder NAME] [encoding options] SESSION FILE_OR_FOLDER...

#include <import_command.h>
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
#include <functional>
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

// Reads the encoding options over the defaults; false with a message when one is unusable.
bool readEncodingOptions(const QCommandLineParser &parser, const QList<QCommandLineOption> &options,
                         convert::EncodingSettings *settings, QString *problem) {
  const QCommandLineOption &size = options[0];
  const QCommandLineOption &fps = options[1];
  const QCommandLineOption &video_kbps = options[2];
  const QCommandLineOption &audio_kbps = options[3];
  if (parser.isSet(size) && !convert::parseFrameSize(parser.value(size), &settings->width, &settings->height)) {
    *problem = QStringLiteral("--size \"%1\" is not WIDTHxHEIGHT, for example 640x360.").arg(parser.value(size));
    return false;
  }
  if (parser.isSet(fps) && !convert::parseFrameRate(parser.value(fps), &settings->frames_per_second)) {
    *problem = QStringLiteral("--fps \"%1\" is not a frame rate such as 25 or 29.97.").arg(parser.value(fps));
    return false;
  }
  bool ok = true;
  if (parser.isSet(video_kbps)) {
    settings->video_kbps = parser.value(video_kbps).toInt(&ok);
  }
  if (ok && parser.isSet(audio_kbps)) {
    settings->audio_kbps = parser.value(audio_kbps).toInt(&ok);
  }
  *problem = ok ? settings->problem() : QStringLiteral("The bit rates must be whole numbers of kbit/s.");
  return problem->isEmpty();
}

// What a termination signal does now: exit (the window), or cancel (an import).
std::function<void()> g_on_termination;

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
  const QCommandLineOption import_option(
      QStringLiteral("import"),
      QStringLiteral("Convert what needs converting and import it into SESSION, then exit: 0 when every file was "
                     "imported, 2 when some were skipped, 1 when the session cannot be opened or written. No window."));
  const QCommandLineOption folder_option(QStringLiteral("folder"),
                                         QStringLiteral("With --import: the library folder (default: the first one; "
                                                        "made when missing)."),
                                         QStringLiteral("NAME"));
  const QCommandLineOption output_option(QStringLiteral("output-folder"),
                                         QStringLiteral("With --import: where NSV files are written (default: videos "
                                                        "beside the session file)."),
                                         QStringLiteral("FOLDER"));
  const QList<QCommandLineOption> encoding_options = {
      {QStringLiteral("size"), QStringLiteral("With --import: frame size (default 640x360)."), QStringLiteral("WxH")},
      {QStringLiteral("fps"), QStringLiteral("With --import: frame rate, 25 or 29.97 (default 25)."),
       QStringLiteral("RATE")},
      {QStringLiteral("video-kbps"), QStringLiteral("With --import: video bit rate (default 1000)."),
       QStringLiteral("KBPS")},
      {QStringLiteral("audio-kbps"), QStringLiteral("With --import: audio bit rate (default 128)."),
       QStringLiteral("KBPS")}};
  parser.addOptions({start_option, reconnect_option, log_option, import_option, folder_option, output_option});
  parser.addOptions(encoding_options);
  parser.addPositionalArgument(QStringLiteral("SESSION"), QStringLiteral("Session file to open at start-up."),
                               QStringLiteral("[SESSION.xml]"));
  parser.addPositionalArgument(QStringLiteral("FILE_OR_FOLDER"), QStringLiteral("With --import: videos to import."),
                               QStringLiteral("[FILE_OR_FOLDER...]"));
  parser.process(app);
  const QStringList positional = parser.positionalArguments();
  if (parser.isSet(import_option) ? positional.size() < 2 : positional.size() > 1) {
    parser.showHelp(1);
  }
  if (!station_log::install(parser.value(log_option), &log_error)) {
    std::fprintf(stderr, "%s\n", qPrintable(log_error));
    return 1;
  }

  std::unique_ptr<QSocketNotifier> termination;
  if (installTerminationHandlers()) {
    termination = std::make_unique<QSocketNotifier>(g_signal_fds[0], QSocketNotifier::Read);
    QObject::connect(termination.get(), &QSocketNotifier::activated, [] {
      char byte = 0;
      [[maybe_unused]] const ssize_t got = ::read(g_signal_fds[0], &byte, 1);
      qCInfo(lcWindow) << "Termination signal received";
      if (g_on_termination) {
        g_on_termination();
      }
    });
  }

  if (parser.isSet(import_option)) {
    ImportCommand command;
    command.session_path = positional.first();
    command.inputs = positional.mid(1);
    command.folder = parser.value(folder_option);
    command.output_folder = parser.value(output_option);
    QString problem;
    if (!readEncodingOptions(parser, encoding_options, &command.settings, &problem)) {
      std::fprintf(stderr, "%s\n", qPrintable(problem));
      return 1;
    }
    return command.run([](std::function<void()> cancel) { g_on_termination = std::move(cancel); });
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

  g_on_termination = [&window] { window.exitProgram(); };
  window.show();
  if (!positional.isEmpty()) {
    window.openSession(positional.first());
  }
  if (parser.isSet(start_option)) {
    QTimer::singleShot(0, &window, &MainWindow::startRequested);
  }
  const int loop_status = app.exec();
  g_on_termination = nullptr;
  return exit_status != 0 ? exit_status : loop_status;
}
