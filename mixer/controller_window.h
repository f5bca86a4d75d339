#pragma once

#include "mixer/title_push.h"

#include <QTimer>
#include <QWidget>

class FolderBrowser;
class MediaPlayer;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QTabWidget;
class VideoWindow;

// The operator's panel: browses files, drives the player, and (expanded)
// sets the video layout, the messages over the video and the server.
class ControllerWindow : public QWidget {
  Q_OBJECT

public:
  static constexpr int kCollapsedHeightTwips = 3000;
  static constexpr int kExpandedHeightTwips = 5400;
  static constexpr int kTickMs = 5000;

  ControllerWindow(VideoWindow &video, MediaPlayer &player, QWidget *parent = nullptr);

  // Outer height in twips: 3000 collapsed, 5400 expanded.
  int heightTwips() const { return height_twips_; }
  QString rotationStep() const { return rotation_step_; }
  QString currentFolder() const;
  const TitlePush &titlePush() const { return title_push_; }

  // Shows a folder's subfolders and playable files (see FolderBrowser).
  bool setFolder(const QString &path);
  // The path the player gets for the selected file (the folder and a
  // separator when none is selected).
  QString selectedFilePath() const;

  // One tick of the timer: top line, title push, message rotation.
  void tick();
  void toggleExpander();

signals:
  void exitRequested();

private:
  QWidget *buildVideoSetupTab();
  QWidget *buildMessagesTab();
  QWidget *buildServerTab();
  QWidget *buildNotesTab();
  void openSelected();
  void applySize();
  void centre();
  bool wideAspect() const;

  VideoWindow &video_;
  MediaPlayer &player_;
  TitlePush title_push_;
  QTimer timer_;
  QString rotation_step_;
  int height_twips_ = kCollapsedHeightTwips;

  FolderBrowser *browser_ = nullptr;
  QPushButton *more_ = nullptr;
  QPushButton *exit_ = nullptr;
  QTabWidget *tabs_ = nullptr;
  QRadioButton *aspect_wide_ = nullptr;
  QRadioButton *aspect_narrow_ = nullptr;
  QSlider *slider_ = nullptr;
  QLineEdit *background_path_ = nullptr;
  QRadioButton *top_playing_ = nullptr;
  QRadioButton *top_custom_option_ = nullptr;
  QLineEdit *top_custom_ = nullptr;
  QCheckBox *song_info_ = nullptr;
  QCheckBox *slot_checks_[4] = {nullptr, nullptr, nullptr, nullptr};
  QPlainTextEdit *slot_texts_[4] = {nullptr, nullptr, nullptr, nullptr};
  QLineEdit *server_host_ = nullptr;
  QLineEdit *server_port_ = nullptr;
  QLineEdit *server_password_ = nullptr;
  QCheckBox *server_connect_ = nullptr;
};
