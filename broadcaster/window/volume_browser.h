#pragma once

#include <QGroupBox>

class QComboBox;
class QLabel;
class QListWidget;

// The joiner's "Browser" frame: the mounted volumes, the folders of the
// current folder (".." first) and its NSV files. Activating a folder opens
// it; activating a file says so.
class VolumeBrowser : public QGroupBox {
  Q_OBJECT

public:
  explicit VolumeBrowser(QWidget *parent);

  QString currentFolder() const { return current_folder_; }
  // Shows the folders and NSV files of path; false, changing nothing and
  // saying folderUnreadable, when the folder cannot be read.
  bool setFolder(const QString &path);

signals:
  // A file of the current folder, by name.
  void fileActivated(const QString &file_name);
  void folderUnreadable(const QString &path);

private:
  void fillVolumes();

  QString current_folder_;
  QComboBox *volumes_ = nullptr;
  QLabel *path_label_ = nullptr;
  QListWidget *folders_ = nullptr;
  QListWidget *files_ = nullptr;
};
