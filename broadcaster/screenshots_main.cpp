// Saves pictures of the main window's four tabs for the README, with a
// small demo session. Runs offscreen.
//
//   tarvik-screenshots OUTPUT_FOLDER

#include <library_tree.h>
#include <main_window.h>

#include <QApplication>
#include <QDir>
#include <QTabBar>
#include <QTemporaryDir>

#include <cstdio>

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

  Station station;
  MainWindow window(station);
  window.commonDialog().setChooser(
      [&temp](CommonDialog::Mode, const QString &, const QString &, const CommonDialog::Answer &answer) {
        answer(temp.filePath(QStringLiteral("station.xml")));
      });
  window.show();
  window.fileNew();
  session::Library &library = station.session.library();
  const QStringList titles = {QStringLiteral("Evening News"), QStringLiteral("Weather"), QStringLiteral("Music Hour")};
  for (const QString &title : titles) {
    library.addVideo(QStringLiteral("Videos"), QStringLiteral("/srv/videos/") + title + QStringLiteral(".nsv"), title);
  }
  library.addVideo(QStringLiteral("Promos"), QStringLiteral("/srv/promos/Station ID.nsv"), QStringLiteral("Station ID"));
  window.SaveSession();
  window.library().expandAll();
  window.queue().append(QStringLiteral("Weather"), QStringLiteral("K1"));
  window.queue().append(QStringLiteral("Station ID"), QStringLiteral("K3"));

  auto *tabs = window.findChild<QTabBar *>(QStringLiteral("TabStrip"));
  for (const QString &tab : {QStringLiteral("Actions"), QStringLiteral("Statistics"), QStringLiteral("Shoutcast"),
                             QStringLiteral("Library")}) {
    MainWindow::selectTab(tabs, tab);
    window.ShowTabPanel();
    if (tab == QLatin1String("Library")) {
      window.library().select(QStringLiteral("K0"));
      emit window.library().nodeClicked(QStringLiteral("K0"), true);
    }
    QApplication::processEvents();
    const QString file = output.filePath(QStringLiteral("tarvik-%1.png").arg(tab.toLower()));
    if (!window.grab().save(file)) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
      return 1;
    }
    std::printf("%s\n", qPrintable(file));
  }
  return 0;
}
