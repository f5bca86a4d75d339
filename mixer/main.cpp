// Kestrin: the video mixer.

#include "mixer/mixer_app.h"

#include "generated/station_version.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[]) {
  // Without a screen Qt cannot start at all; start offscreen, so that --help
  // works and the program says what is wrong instead of aborting.
  const bool no_screen = std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr &&
                         std::getenv("QT_QPA_PLATFORM") == nullptr;
  if (no_screen) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  QApplication app(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("Kestrin"));
  QApplication::setApplicationName(QStringLiteral("kestrin"));
  QApplication::setApplicationVersion(QLatin1String(kStationVersion));
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Kestrin shows videos with text overlays in an always-on-top "
                                                  "window for a screen-capture tool, and a controller window."));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.process(app);
  if (no_screen) {
    std::fprintf(stderr, "kestrin: there is no display (DISPLAY and WAYLAND_DISPLAY are not set); its video window "
                         "is for a screen-capture tool and needs one.\n");
    return 1;
  }
  MixerApp mixer;
  QObject::connect(&mixer, &MixerApp::exitRequested, &app, &QApplication::quit);
  return app.exec();
}
