// Kestrin: the video mixer.

#include "mixer_app.h"

#include <station_version.h>

#include <QApplication>

int main(int argc, char *argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("kestrin"));
  QApplication::setApplicationVersion(QLatin1String(kStationVersion));
  MixerApp mixer;
  QObject::connect(&mixer, &MixerApp::exitRequested, &app, &QApplication::quit);
  return app.exec();
}
