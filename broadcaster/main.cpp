// Tarvik+: the broadcaster.
//
//   tarvik-plus [--start] [SESSION.xml]

#include <broadcast_driver.h>
#include <main_window.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

int main(int argc, char *argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("tarvik-plus"));
  QApplication::setApplicationVersion(QStringLiteral("0.1.0"));

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

  MainWindow window;
  BroadcastDriver driver(window);
  window.show();
  if (!parser.positionalArguments().isEmpty()) {
    window.openSession(parser.positionalArguments().first());
  }
  if (parser.isSet(start_option)) {
    QTimer::singleShot(0, &driver, &BroadcastDriver::RunBroadcast);
  }
  return app.exec();
}
