// Tarvik+: the broadcaster.
//
//   tarvik-plus [--start] [--reconnect] [--pace hold|real-time] [--log FILE] [--http [ADDRESS:]PORT ...]
//               [SESSION.xml]
//   tarvik-plus --import [--folder NAME] [encoding options] SESSION FILE_OR_FOLDER...
//   tarvik-plus --new SESSION.xml

#include "broadcaster/command_line.h"

#include "broadcaster/base/preferences.h"
#include "broadcaster/base/station_log.h"
#include "broadcaster/broadcast/station.h"
#include "broadcaster/http/http_service.h"
#include "broadcaster/http/station_api.h"
#include "broadcaster/import/import_command.h"
#include "broadcaster/window/main_window.h"
#include "generated/station_version.h"
#include "platform/unix_signal_watcher.h"

#include <QApplication>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QSettings>
#include <QTimer>

#include <csignal>
#include <cstdlib>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A station on a server has no screen: without one, draw offscreen instead
// of failing to start, and use Qt's own event dispatcher: the send loop
// yields many times a second, and each yield costs less there than in
// GLib's (a desktop keeps GLib's, which its file dialogs may need). Qt also
// wants a private runtime folder, which a service often lacks; make one
// quietly, as Qt would with a warning.
void prepareForNoScreen() {
  const bool no_screen = std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr &&
                         std::getenv("QT_QPA_PLATFORM") == nullptr;
  if (no_screen) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("QT_NO_GLIB", "1", 0);
  }
  if (std::getenv("XDG_RUNTIME_DIR") == nullptr) {
    const QByteArray folder = QDir::tempPath().toLocal8Bit() + "/runtime-" + QByteArray::number(getuid());
    if (::mkdir(folder.constData(), 0700) == 0 || QFileInfo(QString::fromLocal8Bit(folder)).isDir()) {
      setenv("XDG_RUNTIME_DIR", folder.constData(), 1);
    }
  }
}

// What a termination signal does now: exit (the window), or cancel (an import).
std::function<void()> g_on_termination;

int writeNewSession(const QString &path) {
  if (QFileInfo::exists(path)) {
    qCWarning(lcSession).noquote() << path << "exists already; --new writes only a new file.";
    return 1;
  }
  session::Session session;
  if (!session.createNew(path, QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat)) ||
      !session.save()) {
    return 1;
  }
  qCInfo(lcSession).noquote() << QStringLiteral("Wrote %1 with the default settings: set the server's host, port and "
                                                "password in its <shoutcast> section (or on the Shoutcast tab), then "
                                                "import videos with --import.")
                                     .arg(path);
  return 0;
}

} // namespace

int main(int argc, char *argv[]) {
  prepareForNoScreen();
  QString log_error;
  station_log::install(QString(), &log_error);
  QApplication app(argc, argv);
  QApplication::setOrganizationName(QLatin1String(preference::kOrganization));
  QApplication::setApplicationName(QStringLiteral("tarvik-plus"));
  QApplication::setApplicationVersion(QLatin1String(kStationVersion));

  CommandLine command_line;
  QString misuse;
  if (!command_line.parse(QCoreApplication::arguments(), &misuse)) {
    qCWarning(lcWindow).noquote() << misuse << "(see tarvik-plus --help)";
    return 1;
  }
  if (!station_log::install(command_line.log_file, &log_error)) {
    qCWarning(lcWindow).noquote() << log_error;
    return 1;
  }

  // SIGTERM, SIGINT and SIGHUP end the program as Exit does (save, stop the
  // broadcast, close), or cancel an import.
  UnixSignalWatcher termination;
  if (!termination.watch({SIGTERM, SIGINT, SIGHUP})) {
    qCWarning(lcWindow) << "Termination signals cannot be watched: SIGTERM ends this Tarvik+ without saving";
  }
  QObject::connect(&termination, &UnixSignalWatcher::unixSignal, [signals_received = 0](int) mutable {
    if (signals_received++ == 0) {
      qCInfo(lcWindow) << "Termination signal received";
    }
    if (g_on_termination) {
      g_on_termination();
    }
  });

  if (command_line.mode == CommandLine::Mode::NewSession) {
    return writeNewSession(command_line.session_path);
  }
  if (command_line.mode == CommandLine::Mode::Import) {
    ImportCommand command({command_line.session_path, command_line.inputs, command_line.folder,
                           command_line.output_folder, command_line.settings});
    QObject::connect(&command, &ImportCommand::finished, &app, [](int status) { QCoreApplication::exit(status); });
    g_on_termination = [&command] { command.cancel(); };
    QTimer::singleShot(0, &command, &ImportCommand::start);
    const int status = QCoreApplication::exec();
    g_on_termination = nullptr;
    return status;
  }

  Station station;
  station.driver.setReconnect(command_line.reconnect ||
                              QSettings().value(QLatin1String(preference::kReconnect), preference::kReconnectDefault).toBool());
  station.driver.setPacingMode(!command_line.pace.isEmpty()
                                   ? command_line.pace
                                   : QSettings()
                                         .value(QLatin1String(preference::kPacing),
                                                QLatin1String(preference::kPacingDefault))
                                         .toString());
  MainWindow window(station);

  std::unique_ptr<http_api::StationApi> api;
  if (command_line.http) {
    QString http_error;
    api = http_api::startHttpApi(station, *command_line.http, &http_error);
    if (!api) {
      qCWarning(lcHttp).noquote() << http_error;
      return 1;
    }
  }

  // With no screen nobody can close an error window: a broadcast that ends
  // in an error ends the program, after saving, with status 1. With the
  // HTTP API the station stays to be looked at and started again.
  const bool headless = QGuiApplication::platformName() == QLatin1String("offscreen");
  int exit_status = 0;
  if (headless && api) {
    QObject::connect(&station.driver, &BroadcastDriver::ended, &window, [](bool by_error) {
      if (by_error) {
        qCWarning(lcBroadcast) << "The broadcast ended in an error; the HTTP API stays up (POST /api/start starts "
                                  "it again)";
      }
    });
  } else if (headless) {
    QObject::connect(&station.driver, &BroadcastDriver::ended, &window, [&window, &exit_status](bool by_error) {
      if (by_error && exit_status == 0) {
        exit_status = 1;
        qCWarning(lcBroadcast) << "The broadcast ended in an error; the program ends with status 1";
        QTimer::singleShot(0, &window, &MainWindow::exitProgram);
      }
    });
  }

  // The window closes at once on Exit; the program ends once the driver
  // has stopped the control and let it settle.
  QApplication::setQuitOnLastWindowClosed(false);
  QObject::connect(&station.driver, &BroadcastDriver::exitFinished, &app, &QCoreApplication::quit);

  g_on_termination = [&window] { window.exitProgram(); };
  window.show();
  if (!command_line.session_path.isEmpty()) {
    window.openSession(command_line.session_path);
  }
  // With no screen no session can be opened later, nor can the HTTP API
  // start a station that has none: waiting would leave a service idle.
  if (headless && !station.session.isOpen() && !command_line.session_path.isEmpty()) {
    qCWarning(lcSession).noquote() << QStringLiteral("The session %1 did not open, and with no screen no other can be "
                                                     "opened: the program ends with status 1")
                                          .arg(command_line.session_path);
    return 1;
  }
  if (headless && !station.session.isOpen() && (command_line.start || api)) {
    const QString needs = command_line.start ? QStringLiteral("--start needs a session to stream")
                                             : QStringLiteral("The HTTP API cannot start a station without a session");
    qCWarning(lcSession).noquote() << needs + QStringLiteral(", and none was named on the command line: the program "
                                                             "ends with status 1");
    return 1;
  }
  if (command_line.start) {
    QTimer::singleShot(0, &window, &MainWindow::startRequested);
  } else if (headless && api) {
    qCInfo(lcWindow) << "No display and no --start: this Tarvik+ waits for POST /api/start on its HTTP API";
  } else if (headless) {
    qCWarning(lcWindow) << "No display, and no --start: this Tarvik+ waits to be ended and does nothing else "
                           "(see tarvik-plus --help)";
  }
  const int loop_status = app.exec();
  g_on_termination = nullptr;
  termination.unwatch();
  // Play counts that did not reach the file must not look like a clean stop.
  if (station.session.lastSaveFailed()) {
    qCWarning(lcSession) << "The session could not be saved on the way out; the program ends with status 1";
    return 1;
  }
  return exit_status != 0 ? exit_status : loop_status;
}
