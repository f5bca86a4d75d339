#include "main_window.h"

#include "error_window.h"
#include "joiner_window.h"
#include "library_importer.h"
#include "library_tree.h"
#include "settings_panel.h"

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
#include <QStatusBar>
#include <QTabBar>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr int kWindowWidthPx = 720;
constexpr int kWindowHeightPx = 520;

const QString kNoSessionText = QStringLiteral("No session loaded\n\nEither load a session or create a new one to continue.");
const QString kStatsHeadings = QStringLiteral("Session name:\nCreated on:\nVersion used:\n\nTotal videos:");
const QString kFolderRefused =
    QStringLiteral("A folder with that name already exists in the library, or you entered an invalid folder name.");
const QStringList kTabKeys = {QStringLiteral("Actions"), QStringLiteral("Statistics"), QStringLiteral("Shoutcast"),
                              QStringLiteral("Library")};

QString shownText(QString text) { return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")); }

template <typename Widget> Widget *named(Widget *widget, const char *name) {
  widget->setObjectName(QLatin1String(name));
  return widget;
}

} // namespace

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("frmMain"));
  setWindowTitle(QStringLiteral("Tarvik+"));
  setFixedSize(kWindowWidthPx, kWindowHeightPx);
  dialog_.setParentWindow(this);

  auto *central = new QWidget(this);
  setCentralWidget(central);

  library_ = new LibraryTree(new QTreeWidget(central), this);
  library_->view()->setFixedWidth(250);

  auto *queue_list = new QListWidget(central);
  auto *key_list = new QListWidget(central);
  queue_ = std::make_unique<PlayQueue>(queue_list, key_list);
  auto *up = named(new QPushButton(QStringLiteral("Up"), central), "btnUp");
  up->setToolTip(QStringLiteral("Move selected video up in the queue"));
  auto *remove = named(new QPushButton(QStringLiteral("Remove"), central), "btnDelete");
  remove->setToolTip(QStringLiteral("Remove selected video from queue"));
  connect(up, &QPushButton::clicked, this, [this] { queue_->moveSelectedUp(); });
  connect(remove, &QPushButton::clicked, this, [this] { queue_->removeSelected(); });

  // Hidden for good: a start weight nothing reads.
  auto *start_weight_label = named(new QLabel(QStringLiteral("New videos start with a weight of:"), central), "lblStartWeight");
  auto *start_weight_box = named(new QLineEdit(QStringLiteral("1000"), central), "txtStartWeight");
  start_weight_label->hide();
  start_weight_box->hide();

  auto *panel_frame = named(new QFrame(central), "fraPanels");
  panel_frame->setFrameShape(QFrame::StyledPanel);
  tab_strip_ = named(new QTabBar(panel_frame), "TabStrip");
  for (const QString &key : kTabKeys) {
    tab_strip_->setTabData(tab_strip_->addTab(key), key);
  }
  panels_[0] = buildActionsPanel();
  panels_[1] = buildStatisticsPanel();
  panels_[2] = named(new QWidget(panel_frame), "panelShoutcast");
  panels_[3] = buildLibraryPanel();
  settings_panel_ = new SettingsPanel(panels_[2], document_, this);
  connect(settings_panel_, &SettingsPanel::saveRequested, this, &MainWindow::SaveSession);

  auto *panel_layout = new QVBoxLayout(panel_frame);
  panel_layout->setContentsMargins(4, 4, 4, 4);
  panel_layout->addWidget(tab_strip_);
  for (QWidget *panel : panels_) {
    panel->setParent(panel_frame);
    panel_layout->addWidget(panel, 1);
  }

  auto *queue_buttons = new QVBoxLayout;
  queue_buttons->addWidget(up);
  queue_buttons->addWidget(remove);
  queue_buttons->addStretch(1);
  auto *queue_row = new QHBoxLayout;
  queue_row->addWidget(queue_list, 1);
  queue_row->addLayout(queue_buttons);
  auto *right = new QVBoxLayout;
  right->addLayout(queue_row, 2);
  right->addWidget(panel_frame, 5);
  auto *main_layout = new QHBoxLayout(central);
  main_layout->addWidget(library_->view());
  main_layout->addLayout(right, 1);

  auto *status = named(new QStatusBar(this), "StatusBar");
  setStatusBar(status);
  buildMenus();

  connect(tab_strip_, &QTabBar::tabBarClicked, this, [this](int) {
    // The click selects first; show the panel of what is selected now.
    QMetaObject::invokeMethod(this, &MainWindow::ShowTabPanel, Qt::QueuedConnection);
  });
  connect(tab_strip_, &QTabBar::currentChanged, this, [this](int) { ShowTabPanel(); });
  connect(library_, &LibraryTree::nodeClicked, this, &MainWindow::onNodeClicked);
  connect(library_, &LibraryTree::nodeDoubleClicked, this, &MainWindow::onNodeDoubleClicked);
  connect(library_, &LibraryTree::fullStopTyped, this, &MainWindow::onFullStopTyped);

  // The streaming control, found by its programmatic name, placed hidden.
  if (control_host_.create(central, &control_load_error_)) {
    control_host_.widget()->hide();
  }

  enterNoSessionState();
}

MainWindow::~MainWindow() = default;

void MainWindow::buildMenus() {
  QMenu *file = menuBar()->addMenu(QStringLiteral("File"));
  file->setObjectName(QStringLiteral("mnuFile"));
  QAction *file_new = file->addAction(QStringLiteral("New"), this, &MainWindow::fileNew);
  file_new->setObjectName(QStringLiteral("mnuFileNew"));
  QAction *file_open = file->addAction(QStringLiteral("Open"), this, &MainWindow::fileOpen);
  file_open->setObjectName(QStringLiteral("mnuFileOpen"));
  file->addSeparator()->setObjectName(QStringLiteral("mnuSpacer1"));
  QAction *exit = file->addAction(QStringLiteral("Exit"), this, &MainWindow::exitProgram);
  exit->setObjectName(QStringLiteral("mnuExit"));

  QMenu *actions = menuBar()->addMenu(QStringLiteral("Actions"));
  actions->setObjectName(QStringLiteral("mnuActions"));
  actions->menuAction()->setEnabled(false);

  QMenu *tools = menuBar()->addMenu(QStringLiteral("Tools"));
  tools->setObjectName(QStringLiteral("mnuTools"));
  joiner_action_ = tools->addAction(QStringLiteral("Video Joiner"), this, &MainWindow::showJoiner);
  joiner_action_->setObjectName(QStringLiteral("mnuToolsJoiner"));

  QAction *about = menuBar()->addAction(QStringLiteral("About"), this, &MainWindow::showAbout);
  about->setObjectName(QStringLiteral("mnuAbout"));
}

QWidget *MainWindow::buildActionsPanel() {
  auto *panel = named(new QWidget(this), "panelActions");
  queue_mode_ = named(new QTabBar(panel), "QueueMode");
  for (const QString &key : {QStringLiteral("Random"), QStringLiteral("Manual")}) {
    queue_mode_->setTabData(queue_mode_->addTab(key), key);
  }
  auto *start = named(new QPushButton(QStringLiteral("Start Stream"), panel), "btnStartStream");
  auto *stop = named(new QPushButton(QStringLiteral("Stop Streaming"), panel), "btnStopStream");
  connect(start, &QPushButton::clicked, this, [this] {
    if (broadcast_start_) {
      broadcast_start_();
    }
  });
  connect(stop, &QPushButton::clicked, this, [this] {
    if (broadcast_stop_) {
      broadcast_stop_();
    }
  });
  auto *layout = new QVBoxLayout(panel);
  layout->addWidget(queue_mode_, 0, Qt::AlignLeft);
  layout->addWidget(start);
  layout->addWidget(stop);
  layout->addStretch(1);
  return panel;
}

QWidget *MainWindow::buildStatisticsPanel() {
  auto *panel = named(new QWidget(this), "panelStatistics");
  for (int index = 0; index < 3; ++index) {
    stats_labels_[index] = named(new QLabel(panel), "lblStats");
    stats_labels_[index]->setProperty("Index", index);
    stats_labels_[index]->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  }
  QFont bold = stats_labels_[2]->font();
  bold.setBold(true);
  stats_labels_[2]->setFont(bold);
  stats_labels_[2]->setAlignment(Qt::AlignRight | Qt::AlignTop);
  stats_labels_[2]->setText(kStatsHeadings);
  auto *layout = new QGridLayout(panel);
  layout->addWidget(stats_labels_[2], 0, 0);
  layout->addWidget(stats_labels_[0], 0, 1);
  layout->addWidget(stats_labels_[1], 1, 1);
  layout->setColumnStretch(1, 1);
  layout->setRowStretch(1, 1);
  return panel;
}

QWidget *MainWindow::buildLibraryPanel() {
  auto *panel = named(new QWidget(this), "panelLibrary");
  auto *make_label = named(new QLabel(QStringLiteral("Add new folder:"), panel), "lblMakeFolder");
  make_folder_box_ = named(new QLineEdit(QStringLiteral("Video Folder"), panel), "txtMakeFolder");
  auto *make = named(new QPushButton(QStringLiteral("Go"), panel), "btnMakeFolder");
  connect(make, &QPushButton::clicked, this, &MainWindow::makeFolder);
  auto *load_video = named(new QPushButton(QStringLiteral("Load a video or playlist"), panel), "btnLoadVideo");
  auto *load_folder = named(new QPushButton(QStringLiteral("Load an entire folder"), panel), "btnLoadFolder");
  connect(load_video, &QPushButton::clicked, this, &MainWindow::loadVideo);
  connect(load_folder, &QPushButton::clicked, this, &MainWindow::loadFolder);

  video_info_ = named(new QGroupBox(QStringLiteral("File Information"), panel), "fraVideoInfo");
  auto *info_layout = new QGridLayout(video_info_);
  auto addInfoRow = [this, info_layout](int row, const QString &caption, const char *name) {
    info_layout->addWidget(new QLabel(caption, video_info_), row, 0);
    auto *box = named(new QLineEdit(video_info_), name);
    info_layout->addWidget(box, row, 1);
    return box;
  };
  video_title_box_ = addInfoRow(0, QStringLiteral("Title"), "txtVideoTitle");
  video_path_box_ = addInfoRow(1, QStringLiteral("Path"), "txtVideoPath");
  addInfoRow(2, QStringLiteral("Weight"), "txtVideoWeight");
  video_playcount_box_ = addInfoRow(3, QStringLiteral("Playcount"), "txtVideoPlaycount");
  video_info_->setEnabled(false);

  auto *folder_row = new QHBoxLayout;
  folder_row->addWidget(make_label);
  folder_row->addWidget(make_folder_box_, 1);
  folder_row->addWidget(make);
  auto *load_row = new QHBoxLayout;
  load_row->addWidget(load_video);
  load_row->addWidget(load_folder);
  auto *layout = new QVBoxLayout(panel);
  layout->addLayout(folder_row);
  layout->addLayout(load_row);
  layout->addWidget(video_info_, 1);
  return panel;
}

void MainWindow::selectTab(QTabBar *tabs, const QString &key) {
  for (int index = 0; index < tabs->count(); ++index) {
    if (tabs->tabData(index).toString() == key) {
      tabs->setCurrentIndex(index);
      return;
    }
  }
}

QString MainWindow::statusText() const { return statusBar()->currentMessage(); }

void MainWindow::setStatusText(const QString &text) { statusBar()->showMessage(text); }

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
    joiner_window_ = new JoinerWindow([this](const QString &message) { ShowError(message); }, this);
  }
  joiner_window_->show();
  joiner_window_->raise();
}

QString MainWindow::importTarget() {
  LibraryImporter importer(document_, *library_);
  const QString target = document_.isEmpty() ? QString() : importer.targetFolder();
  if (target.isEmpty()) {
    ShowError(QStringLiteral("There is no folder to import into. Open a session and make a folder in the library "
                             "first."));
  }
  return target;
}

void MainWindow::loadVideo() {
  if (importTarget().isEmpty()) {
    return;
  }
  const QString remembered = dialog_.fileName();
  dialog_.setFilter(QStringLiteral("Nullsoft Streaming Video (*.nsv)|*.nsv|Playlists (*.m3u, *.pls)|*.m3u;*.pls|"
                                   "All (*.nsv, *.m3u, *.pls)|*.nsv;*.m3u;*.pls"));
  dialog_.showOpen();
  if (dialog_.fileName() == remembered) {
    return;
  }
  const QString kind = LibraryImporter::kindOf(dialog_.fileTitle());
  LibraryImporter importer(document_, *library_);
  if (kind == QLatin1String("nsv")) {
    importer.importVideo(dialog_.fileName(), importer.targetFolder());
    SaveSession();
  } else if (kind == QLatin1String("m3u") || kind == QLatin1String("pls")) {
    const LibraryImporter::Summary summary = importer.importPlaylist(dialog_.fileName(), importer.targetFolder());
    if (!summary.error.isEmpty()) {
      ShowError(summary.error);
      return;
    }
    if (summary.imported > 0) {
      SaveSession();
    }
    setStatusText(QStringLiteral("Imported %1 video(s) from %2; skipped %3.")
                      .arg(summary.imported)
                      .arg(dialog_.fileTitle())
                      .arg(summary.skipped));
  }
}

void MainWindow::loadFolder() {
  if (importTarget().isEmpty()) {
    return;
  }
  const QString folder = dialog_.chooseFolder(QFileInfo(dialog_.fileName()).absolutePath());
  if (folder.isEmpty()) {
    return;
  }
  LibraryImporter importer(document_, *library_);
  const LibraryImporter::Summary summary = importer.importFolder(folder, importer.targetFolder());
  if (summary.imported > 0) {
    SaveSession();
  }
  setStatusText(QStringLiteral("Imported %1 video(s) from %2.").arg(summary.imported).arg(folder));
}

void MainWindow::enterNoSessionState() {
  library_->clear();
  queue_->clear();
  stats_labels_[0]->setText(kNoSessionText);
  tab_strip_->setEnabled(false);
  selectTab(tab_strip_, QStringLiteral("Statistics"));
  ShowTabPanel();
}

void MainWindow::setBroadcastHooks(std::function<bool()> is_running, std::function<void()> start,
                                   std::function<void()> stop, std::function<void()> end_for_exit) {
  broadcast_running_ = std::move(is_running);
  broadcast_start_ = std::move(start);
  broadcast_stop_ = std::move(stop);
  broadcast_end_for_exit_ = std::move(end_for_exit);
}

bool MainWindow::refuseDuringBroadcast() {
  if (broadcast_running_ && broadcast_running_()) {
    ShowError(QStringLiteral("A broadcast is running. Stop streaming before you open or create a session."));
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
  // A cancelled dialog, or the name it already held, changes nothing.
  const QString remembered = dialog_.fileName();
  dialog_.setFilter(QStringLiteral("Session files (*.xml)|*.xml"));
  mode == CommonDialog::Mode::Save ? dialog_.showSave() : dialog_.showOpen();
  if (dialog_.fileName() == remembered) {
    return;
  }
  session_path_ = dialog_.fileName();
  session_title_ = dialog_.fileTitle();
  if (mode == CommonDialog::Mode::Save) {
    NewSession();
  } else {
    LoadSession();
  }
}

void MainWindow::openSession(const QString &path) {
  if (refuseDuringBroadcast()) {
    return;
  }
  session_path_ = path;
  session_title_ = QFileInfo(path).fileName();
  LoadSession();
}

void MainWindow::NewSession() {
  library_->clear();
  queue_->clear();
  document_.createNew(QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat));
  library_->addFolder(QStringLiteral("Videos"));
  library_->addFolder(QStringLiteral("Promos"));
  video_info_->setEnabled(false);
  SaveSession();
  tab_strip_->setEnabled(true);
  selectTab(tab_strip_, QStringLiteral("Statistics"));
  ShowTabPanel();
}

void MainWindow::LoadSession() {
  const session::LoadOutcome outcome = document_.load(session_path_);
  if (outcome.kind != session::LoadOutcome::Kind::Loaded) {
    ShowError(outcome.message);
    enterNoSessionState();
    setStatusText(QStringLiteral("Session load failed."));
    return;
  }
  library_->clear();
  queue_->clear();
  video_info_->setEnabled(false);
  fillTreeFromDocument();
  SaveSession();
  QString status = QStringLiteral("Successfully loaded session");
  if (outcome.left_out_entries > 0) {
    status += QStringLiteral(" (%1 video(s) not shown: their folder no longer exists)").arg(outcome.left_out_entries);
  }
  setStatusText(status);
  tab_strip_->setEnabled(true);
  selectTab(tab_strip_, QStringLiteral("Statistics"));
  ShowTabPanel();
}

void MainWindow::fillTreeFromDocument() {
  for (const QString &folder : document_.folderNames()) {
    library_->addFolder(folder);
  }
  for (const session::VideoEntry &entry : document_.entries()) {
    library_->addVideo(entry.parent, entry.key, entry.title);
  }
}

void MainWindow::SaveSession() {
  if (document_.isEmpty()) {
    return;
  }
  stats_labels_[0]->setText(shownText(document_.statisticsText(session_title_)));
  writeSessionFile();
}

bool MainWindow::writeSessionFile() {
  QString reason;
  if (document_.isEmpty() || document_.save(session_path_, &reason)) {
    return true;
  }
  ShowError(QStringLiteral("The session could not be saved to %1:\r\n%2\r\nThe session stays open, and the next "
                           "change tries to save it again.")
                .arg(session_path_, reason));
  return false;
}

void MainWindow::onNodeClicked(const QString &key, bool is_video) {
  if (!is_video) {
    video_info_->setEnabled(false);
    return;
  }
  const QString entry_key = session::entryKeyFromNodeKey(key);
  if (!document_.hasEntry(entry_key)) {
    video_info_->setEnabled(false);
    return;
  }
  const session::VideoEntry entry = document_.entry(entry_key);
  video_title_box_->setText(entry.title);
  video_path_box_->setText(entry.path);
  video_playcount_box_->setText(entry.playcount);
  video_info_->setEnabled(true);
  selectTab(tab_strip_, QStringLiteral("Library"));
  ShowTabPanel();
}

void MainWindow::onNodeDoubleClicked(const QString &key, bool is_video) {
  if (is_video) {
    queue_->append(library_->videoText(key), key);
  }
}

void MainWindow::onFullStopTyped(const QString &key, bool is_video) {
  if (document_.isEmpty()) {
    return;
  }
  if (is_video) {
    document_.removeEntry(session::entryKeyFromNodeKey(key));
  } else {
    document_.removeFolder(key);
  }
  SaveSession();
  library_->removeNode(key, is_video);
}

void MainWindow::makeFolder() {
  if (document_.isEmpty()) {
    return;
  }
  const QString name = make_folder_box_->text();
  // Names starting with "K" would read as video keys; empty names could not
  // be deleted again.
  if (name.isEmpty() || name.startsWith(QLatin1Char('K')) || library_->hasFolder(name) ||
      document_.hasFolder(name)) {
    ShowError(kFolderRefused);
    return;
  }
  library_->addFolder(name);
  document_.appendFolder(name);
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
  setStatusText(QStringLiteral("Exiting... please wait"));
  if (broadcast_end_for_exit_) {
    broadcast_end_for_exit_();
  }
}

void MainWindow::closeEvent(QCloseEvent *event) {
  // The title-bar button acts like Exit.
  if (!exiting_) {
    prepareExit();
  }
  if (error_window_) {
    error_window_->close();
  }
  if (about_window_) {
    about_window_->close();
  }
  if (joiner_window_) {
    joiner_window_->close();
  }
  event->accept();
}
