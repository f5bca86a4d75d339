#include "broadcaster/window/main_window.h"

#include "broadcaster/window/about_window.h"
#include "broadcaster/window/convert_window.h"
#include "broadcaster/window/error_window.h"
#include "broadcaster/window/joiner_window.h"
#include "broadcaster/window/library_tree.h"
#include "broadcaster/window/queue_view.h"
#include "broadcaster/window/settings_panel.h"
#include "broadcaster/window/widget_names.h"

#include "broadcaster/import/library_files.h"
#include "broadcaster/import/library_importer.h"
#include "broadcaster/base/line_breaks.h"
#include "broadcaster/base/preferences.h"
#include "broadcaster/base/station_log.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFileInfo>
#include <QDate>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QTabBar>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

constexpr int kLibraryWidthPx = 250;

const QString kNoSessionText =
    QStringLiteral("No session loaded\r\n\r\nEither load a session or create a new one to continue.");
const QString kFolderRefused =
    QStringLiteral("A folder with that name already exists in the library, or you entered an invalid folder name.");
const QStringList kTabKeys = {QStringLiteral("Actions"), QStringLiteral("Statistics"), QStringLiteral("Shoutcast"),
                              QStringLiteral("Library")};

} // namespace

MainWindow::MainWindow(Station &station, QWidget *parent) : QMainWindow(parent), station_(station) {
  named(this, "frmMain");
  setWindowTitle(QStringLiteral("Tarvik+"));
  const QSize first_size(preference::kWindowWidthPx, preference::kWindowHeightPx);
  setMinimumSize(first_size);
  resize(QSettings().value(QLatin1String(preference::kWindowSize), first_size).toSize().expandedTo(first_size));
  dialog_.setParentWindow(this);

  auto *central = new QWidget(this);
  setCentralWidget(central);

  auto *library_pane = new QWidget(central);
  library_ = new LibraryTree(station_.session.library(), new QTreeView(library_pane), this);
  auto *search = named(new QLineEdit(library_pane), "txtSearch");
  search->setPlaceholderText(QStringLiteral("Search titles"));
  search->setClearButtonEnabled(true);
  connect(search, &QLineEdit::textChanged, library_, &LibraryTree::setFilter);
  auto *library_layout = new QVBoxLayout(library_pane);
  library_layout->setContentsMargins(0, 0, 0, 0);
  library_layout->addWidget(search);
  library_layout->addWidget(library_->view(), 1);

  auto *right_pane = new QWidget(central);
  auto *queue_list = new QListWidget(right_pane);
  auto *key_list = new QListWidget(right_pane);
  queue_view_ = new QueueView(station_.queue, queue_list, key_list, this);
  auto *queue_buttons = new QVBoxLayout;
  const auto addQueueButton = [&](const QString &caption, const char *name, const QString &tip,
                                  void (QueueView::*action)()) {
    auto *button = named(new QPushButton(caption, right_pane), name);
    button->setToolTip(tip);
    connect(button, &QPushButton::clicked, queue_view_, action);
    queue_buttons->addWidget(button);
  };
  addQueueButton(QStringLiteral("Up"), "btnUp", QStringLiteral("Move selected video up in the queue"),
                 &QueueView::moveSelectedUp);
  addQueueButton(QStringLiteral("Down"), "btnDown", QStringLiteral("Move selected video down in the queue"),
                 &QueueView::moveSelectedDown);
  addQueueButton(QStringLiteral("Remove"), "btnDelete", QStringLiteral("Remove selected video from queue"),
                 &QueueView::removeSelected);
  addQueueButton(QStringLiteral("Clear"), "btnClear",
                 QStringLiteral("Remove every video from the queue but the one on the air"), &QueueView::clearQueue);
  queue_buttons->addStretch(1);

  // Kept hidden, for the window's contract (widget_names.h): nothing reads a start weight.
  auto *start_weight_label = named(new QLabel(QStringLiteral("New videos start with a weight of:"), right_pane), "lblStartWeight");
  auto *start_weight_box = named(new QLineEdit(QStringLiteral("1000"), right_pane), "txtStartWeight");
  start_weight_label->hide();
  start_weight_box->hide();

  auto *panel_frame = named(new QFrame(right_pane), "fraPanels");
  panel_frame->setFrameShape(QFrame::StyledPanel);
  tab_strip_ = named(new QTabBar(panel_frame), "TabStrip");
  for (const QString &key : kTabKeys) {
    tab_strip_->setTabData(tab_strip_->addTab(key), key);
  }
  panels_[0] = buildActionsPanel();
  panels_[1] = buildStatisticsPanel();
  panels_[2] = named(new QWidget(panel_frame), "panelShoutcast");
  panels_[3] = buildLibraryPanel();
  settings_panel_ = new SettingsPanel(panels_[2], station_.session.document(), this);
  connect(settings_panel_, &SettingsPanel::saveRequested, this, &MainWindow::SaveSession);

  auto *panel_layout = new QVBoxLayout(panel_frame);
  panel_layout->setContentsMargins(4, 4, 4, 4);
  panel_layout->addWidget(tab_strip_);
  for (QWidget *panel : panels_) {
    panel->setParent(panel_frame);
    panel_layout->addWidget(panel, 1);
  }

  auto *queue_row = new QHBoxLayout;
  queue_row->addWidget(queue_list, 1);
  queue_row->addLayout(queue_buttons);
  auto *right = new QVBoxLayout(right_pane);
  right->setContentsMargins(0, 0, 0, 0);
  right->addLayout(queue_row, 2);
  right->addWidget(panel_frame, 5);
  auto *splitter = named(new QSplitter(Qt::Horizontal, central), "splLibrary");
  splitter->addWidget(library_pane);
  splitter->addWidget(right_pane);
  splitter->setChildrenCollapsible(false);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({kLibraryWidthPx, width() - kLibraryWidthPx});
  auto *main_layout = new QHBoxLayout(central);
  main_layout->addWidget(splitter);

  auto *status = named(new QStatusBar(this), "StatusBar");
  setStatusBar(status);
  // A permanent label: the menus' own tips never wipe it.
  status_label_ = named(new QLabel(status), "lblStatus");
  status->addPermanentWidget(status_label_, 1);
  buildMenus();

  connect(tab_strip_, &QTabBar::tabBarClicked, this, [this](int) {
    // The click selects first; show the panel of what is selected now.
    QMetaObject::invokeMethod(this, &MainWindow::ShowTabPanel, Qt::QueuedConnection);
  });
  connect(tab_strip_, &QTabBar::currentChanged, this, [this](int) { ShowTabPanel(); });
  connect(library_, &LibraryTree::nodeClicked, this, &MainWindow::onNodeClicked);
  connect(library_, &LibraryTree::nodeDoubleClicked, this, &MainWindow::onNodeDoubleClicked);
  connect(library_, &LibraryTree::fullStopTyped, this, &MainWindow::onFullStopTyped);

  session::Session &session = station_.session;
  BroadcastDriver &driver = station_.driver;
  connect(&session, &session::Session::error, this, &MainWindow::ShowError);
  connect(&session, &session::Session::statisticsChanged, this, &MainWindow::showStatistics);
  connect(&driver, &BroadcastDriver::error, this, [this](BroadcastDriver::Problem, const QString &message) {
    ShowError(message);
  });
  connect(&driver, &BroadcastDriver::statusChanged, this, &MainWindow::setStatusText);
  connect(this, &MainWindow::startRequested, &driver, &BroadcastDriver::RunBroadcast);
  connect(this, &MainWindow::stopRequested, &driver, &BroadcastDriver::stop);
  connect(this, &MainWindow::exitRequested, &driver, &BroadcastDriver::endForExit);

  enterNoSessionState();
}

MainWindow::~MainWindow() = default;

void MainWindow::selectTab(QTabBar *tabs, const QString &key) {
  for (int index = 0; index < tabs->count(); ++index) {
    if (tabs->tabData(index).toString() == key) {
      tabs->setCurrentIndex(index);
      return;
    }
  }
}

QString MainWindow::statusText() const { return status_label_->text(); }

void MainWindow::setStatusText(const QString &text) { status_label_->setText(text); }

void MainWindow::tellStatus(LogCategory category, const QString &text) {
  qCInfo(category).noquote() << text;
  setStatusText(text);
}

void MainWindow::tellError(LogCategory category, const QString &message) {
  qCWarning(category).noquote() << message;
  ShowError(message);
}

void MainWindow::ShowTabPanel() {
  for (QWidget *panel : panels_) {
    panel->hide();
  }
  const QString key = tab_strip_->tabData(tab_strip_->currentIndex()).toString();
  const int index = static_cast<int>(kTabKeys.indexOf(key));
  if (index < 0) {
    return;
  }
  panels_[index]->show();
  if (key == QLatin1String("Shoutcast")) {
    settings_panel_->fill();
  }
}

void MainWindow::ShowError(const QString &message) {
  if (error_window_.isNull()) {
    error_window_ = new ErrorWindow(this);
  }
  error_window_->show();
  error_window_->setMessage(message);
  error_window_->raise();
}

void MainWindow::showAbout() {
  if (about_window_.isNull()) {
    about_window_ = new AboutWindow(this);
  }
  about_window_->show();
  about_window_->raise();
}

void MainWindow::showJoiner() {
  if (joiner_window_.isNull()) {
    joiner_window_ = new JoinerWindow([this](const QString &message) { tellError(lcWindow, message); }, this);
  }
  joiner_window_->show();
  joiner_window_->raise();
}

void MainWindow::showConvert() {
  if (convert_window_.isNull()) {
    // The window has its own folder choice: the tree's selection stays.
    const QString target = importFolder();
    if (refuseWithoutFolder(target)) {
      return;
    }
    convert_window_ = new ConvertWindow(station_.session.library(), target, station_.session.path(), this);
    connect(convert_window_, &ConvertWindow::videoImported, this, &MainWindow::SaveSession);
    connect(convert_window_, &ConvertWindow::finished, this,
            [this](const QString &summary) { tellStatus(lcConvert, summary); });
    connect(convert_window_, &ConvertWindow::errorOccurred, this,
            [this](const QString &message) { tellError(lcConvert, message); });
  }
  convert_window_->show();
  convert_window_->raise();
}

void MainWindow::closeSessionWindows() {
  if (convert_window_) {
    convert_window_->close();
  }
}

QString MainWindow::importFolder() const {
  if (!hasSession()) {
    return QString();
  }
  if (!library_->selectedKey().isEmpty() && !library_->selectedIsVideo()) {
    return library_->selectedKey();
  }
  return station_.session.library().firstFolder();
}

bool MainWindow::refuseWithoutFolder(const QString &folder) {
  if (!folder.isEmpty()) {
    return false;
  }
  tellError(lcLibrary, QStringLiteral("There is no folder to import into. Open a session and make a folder in the library "
                                      "first."));
  return true;
}

QString MainWindow::importTarget() {
  const QString target = importFolder();
  if (!refuseWithoutFolder(target)) {
    library_->select(target);
  }
  return target;
}

void MainWindow::loadVideo() {
  if (refuseWithoutFolder(importFolder())) {
    return;
  }
  const QString remembered = dialog_.fullFileName();
  dialog_.setFilter(QStringLiteral("Nullsoft Streaming Video (*.nsv)|*.nsv|Playlists (*.m3u, *.pls)|*.m3u;*.pls|"
                                   "All (*.nsv, *.m3u, *.pls)|*.nsv;*.m3u;*.pls"));
  dialog_.showOpen([this, remembered](bool chosen) {
    // The file the dialog already held (the one imported last) is not imported again.
    if (chosen && dialog_.fullFileName() != remembered) {
      importChosenFile(dialog_.fullFileName(), dialog_.fileTitle());
    }
  });
}

void MainWindow::importChosenFile(const QString &path, const QString &file_title) {
  const bool is_video = library_files::isNsvVideo(file_title);
  if (!is_video && !library_files::isPlaylist(file_title)) {
    return;
  }
  const QString target = importTarget();
  if (target.isEmpty()) {
    return;
  }
  LibraryImporter importer(station_.session.library());
  if (is_video) {
    if (!importer.importVideo(path, target)) {
      tellError(lcLibrary,
                QStringLiteral("%1 was not imported: its name holds characters a session file cannot keep.").arg(path));
      return;
    }
    SaveSession();
    return;
  }
  const LibraryImporter::Summary summary = importer.importPlaylist(path, target);
  if (!summary.error.isEmpty()) {
    tellError(lcLibrary, summary.error);
    return;
  }
  if (summary.imported > 0) {
    SaveSession();
  }
  tellStatus(lcLibrary, QStringLiteral("Imported %1 video(s) from %2; skipped %3.")
                            .arg(summary.imported)
                            .arg(file_title)
                            .arg(summary.skipped));
}

void MainWindow::loadFolder() {
  if (refuseWithoutFolder(importFolder())) {
    return;
  }
  dialog_.chooseFolder(QFileInfo(dialog_.fullFileName()).absolutePath(), [this](const QString &folder) {
    if (folder.isEmpty()) {
      return;
    }
    const QString target = importTarget();
    if (target.isEmpty()) {
      return;
    }
    LibraryImporter importer(station_.session.library());
    const LibraryImporter::Summary summary = importer.importFolder(folder, target);
    if (summary.imported > 0) {
      SaveSession();
    }
    tellStatus(lcLibrary, QStringLiteral("Imported %1 video(s) from %2.").arg(summary.imported).arg(folder));
  });
}

void MainWindow::enterNoSessionState() {
  closeSessionWindows();
  station_.session.close();
  station_.queue.clear();
  showStatistics(kNoSessionText);
  tab_strip_->setEnabled(false);
  selectTab(tab_strip_, QStringLiteral("Statistics"));
  ShowTabPanel();
}

bool MainWindow::refuseDuringBroadcast() {
  if (station_.driver.isRunning()) {
    tellError(lcWindow, QStringLiteral("A broadcast is running. Stop streaming before you open or create a session."));
    return true;
  }
  if (convert_window_ && convert_window_->isRunning()) {
    tellError(lcWindow, QStringLiteral("Videos are being converted into this session. Wait for them or cancel them "
                                       "before you open or create a session."));
    return true;
  }
  return false;
}

void MainWindow::fileNew() { runSessionCommand(CommonDialog::Mode::Save); }

void MainWindow::fileOpen() { runSessionCommand(CommonDialog::Mode::Open); }

void MainWindow::runSessionCommand(CommonDialog::Mode mode) {
  if (refuseDuringBroadcast()) {
    return;
  }
  const QString remembered = dialog_.fullFileName();
  dialog_.setFilter(QStringLiteral("Session files (*.xml)|*.xml"));
  auto chosen = [this, mode, remembered](bool chosen) {
    // The name the dialog already held changes nothing either; and what
    // started while it was open still refuses.
    if (!chosen || dialog_.fullFileName() == remembered || refuseDuringBroadcast()) {
      return;
    }
    if (mode == CommonDialog::Mode::Save) {
      NewSession(dialog_.fullFileName());
    } else {
      LoadSession(dialog_.fullFileName());
    }
  };
  if (mode == CommonDialog::Mode::Save) {
    dialog_.showSave(chosen);
  } else {
    dialog_.showOpen(chosen);
  }
}

void MainWindow::openSession(const QString &path) {
  if (refuseDuringBroadcast()) {
    return;
  }
  LoadSession(path);
}

void MainWindow::NewSession(const QString &path) {
  if (!station_.session.createNew(path, QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat))) {
    ShowError(station_.session.lockMessage());
    return;
  }
  closeSessionWindows();
  station_.queue.clear();
  video_info_->setEnabled(false);
  SaveSession();
  tab_strip_->setEnabled(true);
  selectTab(tab_strip_, QStringLiteral("Statistics"));
  ShowTabPanel();
}

void MainWindow::LoadSession(const QString &path) {
  const session::LoadOutcome outcome = station_.session.open(path);
  if (outcome.kind == session::LoadOutcome::Kind::Locked) {
    // Another program has it open; the session shown here stays as it was.
    ShowError(outcome.message);
    return;
  }
  if (outcome.kind != session::LoadOutcome::Kind::Loaded) {
    ShowError(outcome.message);
    enterNoSessionState();
    tellStatus(lcSession, QStringLiteral("Session load failed."));
    return;
  }
  closeSessionWindows();
  station_.queue.clear();
  video_info_->setEnabled(false);
  SaveSession();
  QString status = QStringLiteral("Successfully loaded session");
  if (outcome.left_out_entries > 0) {
    status += QStringLiteral(" (%1 video(s) not shown: their folder no longer exists)").arg(outcome.left_out_entries);
  }
  tellStatus(lcSession, status);
  tab_strip_->setEnabled(true);
  selectTab(tab_strip_, QStringLiteral("Statistics"));
  ShowTabPanel();
}

void MainWindow::SaveSession() { station_.session.save(); }

void MainWindow::showStatistics(const QString &text) { stats_labels_[0]->setText(withPlainLineBreaks(text)); }

void MainWindow::onNodeClicked(const QString &key, bool is_video) {
  const session::SessionDocument &document = station_.session.document();
  const QString entry_key = session::entryKeyFromNodeKey(key);
  if (!is_video || !document.hasEntry(entry_key)) {
    video_info_->setEnabled(false);
    return;
  }
  const session::VideoEntry entry = document.entry(entry_key);
  video_title_box_->setText(entry.title);
  video_path_box_->setText(entry.path);
  video_playcount_box_->setText(entry.playcount.text());
  video_info_->setEnabled(true);
  selectTab(tab_strip_, QStringLiteral("Library"));
  ShowTabPanel();
}

void MainWindow::onNodeDoubleClicked(const QString &key, bool is_video) {
  if (is_video) {
    station_.queue.append(station_.session.library().videoTitle(key), key);
  }
}

void MainWindow::onFullStopTyped(const QString &key, bool is_video) {
  if (!hasSession()) {
    return;
  }
  session::Library &library = station_.session.library();
  const QString shown = is_video ? library.videoTitle(key) : key;
  const QString kind = is_video ? QStringLiteral("video") : QStringLiteral("folder");
  // Nothing stays selected, so a second full stop removes nothing more.
  library_->clearSelection();
  clearVideoInfo();
  const bool removed = is_video ? library.removeVideo(key) : library.removeFolder(key);
  SaveSession();
  if (!removed) {
    tellError(lcLibrary, QStringLiteral("The %1 \"%2\" was not found in the session file, so nothing was removed from the file.")
                             .arg(kind, shown));
    return;
  }
  // The library has logged the removal.
  setStatusText(is_video ? QStringLiteral("Removed the video \"%1\".").arg(shown)
                         : QStringLiteral("Removed the folder \"%1\" and the videos in it.").arg(shown));
}

void MainWindow::clearVideoInfo() {
  for (QLineEdit *box : {video_title_box_, video_path_box_, video_playcount_box_}) {
    box->clear();
  }
  video_info_->setEnabled(false);
}

void MainWindow::makeFolder() {
  if (!hasSession()) {
    return;
  }
  if (!station_.session.library().addFolder(make_folder_box_->text())) {
    tellError(lcLibrary, kFolderRefused);
  }
}

void MainWindow::exitProgram() {
  if (exiting_) {
    return;
  }
  prepareExit();
  close();
}

void MainWindow::prepareExit() {
  exiting_ = true;
  SaveSession();
  tellStatus(lcWindow, QStringLiteral("Exiting... please wait"));
  emit exitRequested();
}

void MainWindow::closeEvent(QCloseEvent *event) {
  // The title-bar button acts like Exit.
  if (!exiting_) {
    prepareExit();
  }
  QSettings().setValue(QLatin1String(preference::kWindowSize), isMaximized() || isFullScreen() ? normalGeometry().size() : size());
  if (error_window_) {
    error_window_->close();
  }
  if (about_window_) {
    about_window_->close();
  }
  if (joiner_window_) {
    joiner_window_->close();
  }
  closeSessionWindows();
  event->accept();
}
