#pragma once

#include "common_dialog.h"
#include "play_queue.h"

#include <control_host.h>
#include <session_document.h>

#include <QMainWindow>
#include <QPointer>

#include <array>
#include <functional>
#include <memory>

class AboutWindow;
class JoinerWindow;
class ErrorWindow;
class LibraryTree;
class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTabBar;
class QTreeWidget;
class SettingsPanel;

// Tarvik+'s main window. It lays out the controls and routes their events;
// the session document, the library tree, the play queue, the settings panel
// and the broadcast driver do the work.
class MainWindow : public QMainWindow {
  Q_OBJECT

public:
  explicit MainWindow(QWidget *parent = nullptr);
  ~MainWindow() override;

  // Session lifecycle.
  void fileNew();
  void fileOpen();
  // Opens a session file the way File Open does, without the dialog.
  void openSession(const QString &path);
  void NewSession();
  void LoadSession();
  void SaveSession();
  void ShowTabPanel();
  void ShowError(const QString &message);
  // Saves, ends a running broadcast and closes the window.
  void exitProgram();

  // Selects the tab with this key on a tab strip.
  static void selectTab(QTabBar *tabs, const QString &key);

  bool hasSession() const { return !document_.isEmpty(); }
  QString sessionPath() const { return session_path_; }
  QString statusText() const;
  void setStatusText(const QString &text);

  session::SessionDocument &document() { return document_; }
  LibraryTree &library() { return *library_; }
  PlayQueue &queue() { return *queue_; }
  CommonDialog &commonDialog() { return dialog_; }
  ControlHost &control() { return control_host_; }
  QString controlLoadError() const { return control_load_error_; }
  QPointer<ErrorWindow> errorWindow() const { return error_window_; }
  QPointer<JoinerWindow> joinerWindow() const { return joiner_window_; }
  QTabBar *queueMode() const { return queue_mode_; }

  // Writes the document without refreshing the statistics (after a play).
  bool writeSessionFile();

  // Hooks for the broadcast driver: whether a broadcast runs, and how to stop it.
  void setBroadcastHooks(std::function<bool()> is_running, std::function<void()> start,
                         std::function<void()> stop, std::function<void()> end_for_exit);

protected:
  void closeEvent(QCloseEvent *event) override;

private:
  void buildMenus();
  QWidget *buildActionsPanel();
  QWidget *buildStatisticsPanel();
  QWidget *buildLibraryPanel();
  void enterNoSessionState();
  // Saves and ends a running broadcast before the window closes.
  void prepareExit();
  void fillTreeFromDocument();
  bool refuseDuringBroadcast();
  // File New (a save dialog) or File Open (an open dialog).
  void runSessionCommand(CommonDialog::Mode mode);

  void onNodeClicked(const QString &key, bool is_video);
  void onNodeDoubleClicked(const QString &key, bool is_video);
  void onFullStopTyped(const QString &key, bool is_video);
  void makeFolder();
  void showAbout();
  void showJoiner();
  void loadVideo();
  void loadFolder();
  // The folder imports go to; refuses (with a message) when there is none.
  QString importTarget();

  session::SessionDocument document_;
  QString session_path_;
  QString session_title_;
  CommonDialog dialog_;
  ControlHost control_host_;
  QString control_load_error_;

  LibraryTree *library_ = nullptr;
  std::unique_ptr<PlayQueue> queue_;
  SettingsPanel *settings_panel_ = nullptr;
  QTabBar *tab_strip_ = nullptr;
  std::array<QWidget *, 4> panels_{};
  std::array<QLabel *, 3> stats_labels_{};
  QTabBar *queue_mode_ = nullptr;
  QLineEdit *make_folder_box_ = nullptr;
  QGroupBox *video_info_ = nullptr;
  QLineEdit *video_title_box_ = nullptr;
  QLineEdit *video_path_box_ = nullptr;
  QLineEdit *video_playcount_box_ = nullptr;
  QAction *joiner_action_ = nullptr;
  QPointer<ErrorWindow> error_window_;
  QPointer<AboutWindow> about_window_;
  QPointer<JoinerWindow> joiner_window_;

  std::function<bool()> broadcast_running_;
  std::function<void()> broadcast_start_;
  std::function<void()> broadcast_stop_;
  std::function<void()> broadcast_end_for_exit_;
  bool exiting_ = false;
};
