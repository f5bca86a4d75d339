// Kestrin: the video mixer.

#include "mixer_app.h"

#include <QApplication>

int main(int argc, char *argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("kestrin"));
  QApplication::setApplicationVersion(QStringLiteral("0.1.0"));
  MixerApp mixer;
  QObject::connect(&mixer, &MixerApp::exitRequested, &app, &QApplication::quit);
  return app.exec();
}
