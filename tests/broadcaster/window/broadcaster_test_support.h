#pragma once

#include <main_window.h>

#include <QByteArray>
#include <QLabel>
#include <QList>
#include <QString>
#include <QStringList>

#include <deque>

// Helpers for tests that drive the broadcaster's main window.
namespace broadcaster_testing {

QByteArray readFile(const QString &path);

// Answers the window's file dialog from a script: each entry is the path
// "chosen", an empty entry is a cancel.
class ScriptedDialog {
public:
  void install(MainWindow &window);
  void answer(const QString &path) { answers_.push_back(path); }
  int shown() const { return shown_; }
  QString lastFilter() const { return last_filter_; }
  QString lastCurrentName() const { return last_current_; }
  CommonDialog::Mode lastMode() const { return last_mode_; }

private:
  std::deque<QString> answers_;
  int shown_ = 0;
  QString last_filter_;
  QString last_current_;
  CommonDialog::Mode last_mode_ = CommonDialog::Mode::Open;
};

struct EntrySpec {
  QString key;
  QString path;
  QString title;
  QString folder;
  QString playcount = QStringLiteral("0");
};

// A session file with the default settings, the given folders and entries.
QByteArray sessionXml(const QStringList &folders, const QList<EntrySpec> &entries,
                      const QString &password = QStringLiteral("setmenow"), const QString &port = QStringLiteral("8000"),
                      const QString &host = QStringLiteral("127.0.0.1"));

QLabel *statsLabel(const MainWindow &window, int index);

} // namespace broadcaster_testing
