#pragma once

#include "broadcaster/window/common_dialog.h"

#include "nsv/nsv_joiner.h"

#include <QFutureWatcher>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class VolumeBrowser;

// "NSV Joiner": browse the mounted volumes for NSV files, collect them in a
// list, and join them into one file. The join runs on a worker thread, so
// this window and a broadcast go on meanwhile; Cancel stops it and leaves
// no file.
class JoinerWindow : public QWidget {
  Q_OBJECT

public:
  using ErrorReporter = std::function<void(const QString &message)>;
  // Runs on the worker thread; nsv::joinFiles unless a test waits inside it.
  using JoinFunction = std::function<nsv::JoinOutcome(const QStringList &inputs, const QString &output,
                                                      const nsv::JoinProgress &progress, const std::atomic_bool *cancel)>;

  explicit JoinerWindow(ErrorReporter report_error, QWidget *parent = nullptr, JoinFunction join_files = {});
  ~JoinerWindow() override;

  QString currentFolder() const;
  // Shows the folders and NSV files of path; an unreadable folder is
  // reported and changes nothing.
  bool setFolder(const QString &path);
  // Adds a file of the current folder to the list, as a full path.
  void addFile(const QString &file_name);
  QStringList filesToJoin() const;
  CommonDialog &commonDialog() { return dialog_; }

  // Asks for the output file, then starts the join.
  void chooseOutputAndJoin();
  void cancelJoin();
  bool isJoining() const { return join_ != nullptr; }

protected:
  void closeEvent(QCloseEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void startJoin(const QStringList &inputs, const QString &output);
  void onJoinFinished();

  // What the window and the worker share; the worker may outlive the window.
  struct RunningJoin {
    std::atomic_bool cancel{false};
    std::atomic_int percent{0};
  };

  ErrorReporter report_error_;
  JoinFunction join_files_;
  CommonDialog dialog_;
  QString output_;
  int input_count_ = 0;
  std::shared_ptr<RunningJoin> join_;
  QFutureWatcher<nsv::JoinOutcome> watcher_;
  // The widgets from top to bottom.
  VolumeBrowser *browser_ = nullptr;
  QListWidget *list_ = nullptr;
  QPushButton *join_button_ = nullptr;
  QPushButton *cancel_button_ = nullptr;
  QProgressBar *progress_ = nullptr;
  // Moves progress_ while a join runs.
  QTimer progress_timer_;
  QLabel *result_label_ = nullptr;
};
