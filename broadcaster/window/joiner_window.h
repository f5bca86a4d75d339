#pragma once

#include "common_dialog.h"

#include <yield_clock.h>

#include <QWidget>

#include <functional>
#include <memory>

class QComboBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

// "NSV Joiner": browse the mounted volumes for NSV files, collect them in a
// list, and join them into one file.
class JoinerWindow : public QWidget {
  Q_OBJECT

public:
  using ErrorReporter = std::function<void(const QString &message)>;

  // The clock keeps the program's events moving while a join runs.
  JoinerWindow(ErrorReporter report_error, std::shared_ptr<YieldClock> clock, QWidget *parent = nullptr);

  QString currentFolder() const { return current_folder_; }
  // Shows the folders and NSV files of path; an unreadable folder changes nothing.
  bool setFolder(const QString &path);
  // Adds a file of the current folder to the list, as a full path.
  void addFile(const QString &file_name);
  QStringList filesToJoin() const;
  CommonDialog &commonDialog() { return dialog_; }

  void join();

protected:
  void closeEvent(QCloseEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void fillDrives();

  ErrorReporter report_error_;
  std::shared_ptr<YieldClock> clock_;
  CommonDialog dialog_;
  QString current_folder_;
  bool joining_ = false;
  QComboBox *drive_ = nullptr;
  QListWidget *dir_ = nullptr;
  QListWidget *file_ = nullptr;
  QListWidget *list_ = nullptr;
  QLabel *path_label_ = nullptr;
  QLabel *result_label_ = nullptr;
  QPushButton *join_button_ = nullptr;
  QProgressBar *progress_ = nullptr;
};
