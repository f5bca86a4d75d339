#pragma once

#include "broadcaster/window/common_dialog.h"

#include "broadcaster/broadcast/station.h"

#include <QLoggingCategory>
#include <QMainWindow>
#include <QPointer>

#include <array>
#include <memory>

class AboutWindow;
class ConvertWindow;
class JoinerWindow;
class ErrorWindow;
class LibraryTree;
class QueueView;
class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QTabBar;
class SettingsPanel;

// Tarvik+'s main window. It shows the station's session, library and queue
// and forwards the operator's actions: to the session and library models,
// and as start, stop and exit requests to the broadcast driver. Errors of
// the models and the driver are shown here, in the one error window.
class MainWindow : public QMainWindow {
  Q_OBJECT

public:
  explicit MainWindow(Station &station, QWidget *parent = nullptr);
  ~MainWindow() override;

  // Session lifecycle.
  void fileNew();
  void fileOpen();
  // Opens a session file the way File Open does, without the dialog.
  void openSession(const QString &path);
  // Refreshes the statistics and writes the session file (the session
  // tells the statistics to the window, whoever saves).
  void SaveSession();
  void ShowTabPanel();
  void ShowError(const QString &message);
  // Saves, ends a running broadcast and closes the window.
  void exitProgram();

  // Selects the tab with this key on a tab strip.
  static void selectTab(QTabBar *tabs, const QString &key);

  bool hasSession() const { return station_.session.isOpen(); }
  QString sessionPath() const { return station_.session.path(); }
  QString statusText() const;
  void setStatusText(const QString &text);

  session::SessionDocument &document() { return station_.session.document(); }
  LibraryTree &library() { return *library_; }
  PlayQueue &queue() { return station_.queue; }
  QueueView &queueView() { return *queue_view_; }
  CommonDialog &commonDialog() { return dialog_; }
  ControlHost &control() { return station_.control; }
  QString controlLoadError() const { return station_.control.loadError(); }
  QPointer<ErrorWindow> errorWindow() const { return error_window_; }
  QPointer<JoinerWindow> joinerWindow() const { return joiner_window_; }
  QPointer<ConvertWindow> convertWindow() const { return convert_window_; }

signals:
  void startRequested();
  void stopRequested();
  // Asked once, after the session was saved and before the window closes.
  void exitRequested();

protected:
  void closeEvent(QCloseEvent *event) override;

private:
  using LogCategory = const QLoggingCategory &(*)();

  // What the window itself has to say goes to the log as well.
  void tellStatus(LogCategory category, const QString &text);
  void tellError(LogCategory category, const QString &message);
  void buildMenus();
  QWidget *buildActionsPanel();
  // Real time or hold rule, for the next Start; kept as a preference.
  QComboBox *buildPacingChoice(QWidget *panel);
  QWidget *buildStatisticsPanel();
  QWidget *buildLibraryPanel();
  void NewSession(const QString &path);
  void LoadSession(const QString &path);
  void enterNoSessionState();
  // The statistics value label, lblStats element 0.
  void showStatistics(const QString &text);
  // Saves and ends a running broadcast before the window closes.
  void prepareExit();
  bool refuseDuringBroadcast();
  // File New (a save dialog) or File Open (an open dialog).
  void runSessionCommand(CommonDialog::Mode mode);

  void onNodeClicked(const QString &key, bool is_video);
  void onNodeDoubleClicked(const QString &key, bool is_video);
  void onFullStopTyped(const QString &key, bool is_video);
  void makeFolder();
  void showAbout();
  void showJoiner();
  void showConvert();
  // A window made for the session that was open closes when another opens.
  void closeSessionWindows();
  // The imports ask first and choose their folder once a file was chosen:
  // a cancelled dialog leaves the selection alone.
  void loadVideo();
  void loadFolder();
  void importChosenFile(const QString &path, const QString &file_title);
  // The selected folder; with nothing or a video selected, the first
  // folder. Empty without a session or a folder.
  QString importFolder() const;
  // Says so when there is no folder to import into.
  bool refuseWithoutFolder(const QString &folder);
  // importFolder(), which then becomes the selection; refuses when empty.
  QString importTarget();
  // Empties the File Information boxes and disables the frame.
  void clearVideoInfo();

  Station &station_;
  CommonDialog dialog_;

  LibraryTree *library_ = nullptr;
  QueueView *queue_view_ = nullptr;
  SettingsPanel *settings_panel_ = nullptr;
  QLabel *status_label_ = nullptr;
  QTabBar *tab_strip_ = nullptr;
  std::array<QWidget *, 4> panels_{};
  std::array<QLabel *, 3> stats_labels_{};
  QTabBar *queue_mode_ = nullptr;
  QLineEdit *make_folder_box_ = nullptr;
  QGroupBox *video_info_ = nullptr;
  QLineEdit *video_title_box_ = nullptr;
  QLineEdit *video_path_box_ = nullptr;
  QLineEdit *video_playcount_box_ = nullptr;
  QPointer<ErrorWindow> error_window_;
  QPointer<AboutWindow> about_window_;
  QPointer<JoinerWindow> joiner_window_;
  QPointer<ConvertWindow> convert_window_;
  bool exiting_ = false;
};
