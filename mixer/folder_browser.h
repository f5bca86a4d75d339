#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

class QComboBox;
class QLabel;
class QListWidget;

// The Controller's file browsing: mounted volumes, the current folder's
// subfolders and the video files it can play, and the folder's path. The
// lists follow the folder as files come and go.
class FolderBrowser : public QObject {
  Q_OBJECT

public:
  // Changes in the folder are gathered this long before it is listed again,
  // so a burst of changes relists it once.
  static constexpr int kRelistDelayMs = 200;

  FolderBrowser(QComboBox &drives, QListWidget &folders, QListWidget &files, QLabel &path_label,
                QObject *parent = nullptr);

  // Shows a folder's subfolders and playable files; an unreadable folder
  // leaves the lists as they were.
  bool setFolder(const QString &path);
  QString currentFolder() const { return current_folder_; }
  // The path the player gets for the selected file (the folder and a
  // separator when none is selected).
  QString selectedFilePath() const;

private:
  void fillDrives();
  void relist();
  void onFolderChanged();
  void showPath();

  QComboBox &drives_;
  QListWidget &folders_;
  QListWidget &files_;
  QLabel &path_label_;
  QString current_folder_;
  QFileSystemWatcher watcher_;
  QTimer relist_delay_;
};
