// Saves pictures of the mixer's windows for the README. Runs offscreen.
//
//   kestrin-screenshots OUTPUT_FOLDER

#include "mixer/controller_window.h"
#include "mixer/mixer_app.h"
#include "mixer/video_window.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QTabWidget>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char *argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: kestrin-screenshots OUTPUT_FOLDER\n");
    return 2;
  }
  const QDir output(QString::fromLocal8Bit(argv[1]));
  QDir().mkpath(output.path());
  MixerApp mixer;
  ControllerWindow *controller = mixer.controller();
  // A folder of videos to browse, as an operator's would be.
  const QTemporaryDir videos_root(QDir::temp().filePath(QStringLiteral("kestrin-XXXXXX")));
  const QDir videos(videos_root.filePath(QStringLiteral("Videos")));
  QDir().mkpath(videos.filePath(QStringLiteral("Promos")));
  for (const char *name : {"Evening news.mp4", "Interview.MKV", "Station ident.webm", "Tonight.m3u"}) {
    QFile(videos.filePath(QLatin1String(name))).open(QIODevice::WriteOnly);
  }
  controller->setFolder(videos.path());
  mixer.video().setTopText(QStringLiteral("Tonight on the station"));
  mixer.video().setBottomText(QStringLiteral("Call in: 555-0100\r\nRequests open until midnight"));
  mixer.video().setTopColour(255);
  QApplication::processEvents();

  auto save = [&output](QWidget *widget, const char *name) {
    const QString file = output.filePath(QLatin1String(name));
    if (!widget->grab().save(file)) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
      return false;
    }
    std::printf("%s\n", qPrintable(file));
    return true;
  };
  bool ok = save(controller, "kestrin-controller.png");
  controller->toggleExpander();
  auto *tabs = controller->findChild<QTabWidget *>(QStringLiteral("TabStrip"));
  const char *const names[4] = {"kestrin-video-setup.png", "kestrin-messages.png", "kestrin-shoutcast.png",
                                "kestrin-notes.png"};
  for (int index = 0; index < 4; ++index) {
    tabs->setCurrentIndex(index);
    QApplication::processEvents();
    ok = save(controller, names[index]) && ok;
  }
  ok = save(&mixer.video(), "kestrin-video.png") && ok;
  mixer.video().openPlayerOptions();
  if (auto *options = mixer.video().findChild<QDialog *>(QStringLiteral("Options"))) {
    QApplication::processEvents();
    ok = save(options, "kestrin-options.png") && ok;
    options->close();
  }
  return ok ? 0 : 1;
}
