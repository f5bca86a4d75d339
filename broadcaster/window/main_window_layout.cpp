// The main window's menus and panels: how they are laid out and which of
// the window's operations each control triggers.

#include "broadcaster/window/main_window.h"

#include "broadcaster/window/listener_chart.h"
#include "broadcaster/window/on_air_strip.h"
#include "broadcaster/window/widget_names.h"

#include "broadcaster/base/line_breaks.h"
#include "broadcaster/base/preferences.h"
#include "broadcaster/base/station_log.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeySequence>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QTabBar>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace {
const QString kStatsHeadings = QStringLiteral("Session name:\r\nCreated on:\r\nVersion used:\r\n\r\nTotal videos:");
} // namespace

void MainWindow::buildMenus() {
  QMenu *file = named(menuBar()->addMenu(QStringLiteral("File")), "mnuFile");
  const auto addFileCommand = [this, file](const QString &caption, const char *name, void (MainWindow::*command)(),
                                           const QKeySequence &shortcut) {
    named(file->addAction(caption, this, command), name)->setShortcut(shortcut);
  };
  addFileCommand(QStringLiteral("New"), "mnuFileNew", &MainWindow::fileNew, QKeySequence(Qt::CTRL | Qt::Key_N));
  addFileCommand(QStringLiteral("Open"), "mnuFileOpen", &MainWindow::fileOpen, QKeySequence(Qt::CTRL | Qt::Key_O));
  addFileCommand(QStringLiteral("Save"), "mnuFileSave", &MainWindow::SaveSession, QKeySequence(Qt::CTRL | Qt::Key_S));
  named(file->addSeparator(), "mnuSpacer1");
  addFileCommand(QStringLiteral("Exit"), "mnuExit", &MainWindow::exitProgram, QKeySequence(Qt::CTRL | Qt::Key_Q));

  named(menuBar()->addMenu(QStringLiteral("Actions")), "mnuActions")->menuAction()->setEnabled(false);

  QMenu *tools = named(menuBar()->addMenu(QStringLiteral("Tools")), "mnuTools");
  named(tools->addAction(QStringLiteral("Video Joiner"), this, &MainWindow::showJoiner), "mnuToolsJoiner");
  named(tools->addAction(QStringLiteral("Convert and import videos…"), this, &MainWindow::showConvert),
        "mnuToolsConvert");

  named(menuBar()->addAction(QStringLiteral("About"), this, &MainWindow::showAbout), "mnuAbout");
}

QWidget *MainWindow::buildActionsPanel() {
  auto *panel = named(new QWidget(this), "panelActions");
  queue_mode_ = named(new QTabBar(panel), "QueueMode");
  for (const QString &key : {QStringLiteral("Random"), QStringLiteral("Manual")}) {
    queue_mode_->setTabData(queue_mode_->addTab(key), key);
  }
  // The tabs show the queue's play mode and set it.
  PlayQueue &queue = station_.queue;
  selectTab(queue_mode_, queue.mode() == PlayQueue::Mode::Random ? QStringLiteral("Random") : QStringLiteral("Manual"));
  connect(queue_mode_, &QTabBar::currentChanged, this, [this, &queue](int index) {
    queue.setMode(queue_mode_->tabData(index).toString() == QLatin1String("Random") ? PlayQueue::Mode::Random
                                                                                     : PlayQueue::Mode::Manual);
  });
  connect(&queue, &PlayQueue::modeChanged, this, [this](PlayQueue::Mode mode) {
    selectTab(queue_mode_, mode == PlayQueue::Mode::Random ? QStringLiteral("Random") : QStringLiteral("Manual"));
  });
  auto *start = named(new QPushButton(QStringLiteral("Start Stream"), panel), "btnStartStream");
  auto *stop = named(new QPushButton(QStringLiteral("Stop Streaming"), panel), "btnStopStream");
  connect(start, &QPushButton::clicked, this, &MainWindow::startRequested);
  connect(stop, &QPushButton::clicked, this, &MainWindow::stopRequested);
  // A broadcast runs once: Start again does nothing until it has ended.
  connect(&station_.driver, &BroadcastDriver::runningChanged, start, [start](bool running) {
    start->setEnabled(!running);
  });
  auto *reconnect = named(new QCheckBox(QStringLiteral("Reconnect automatically"), panel), "chkReconnect");
  reconnect->setToolTip(QStringLiteral("When the server is lost, log in again by itself and play the interrupted "
                                       "video from its start"));
  reconnect->setChecked(station_.driver.reconnects());
  connect(reconnect, &QCheckBox::toggled, this, [this](bool on) {
    station_.driver.setReconnect(on);
    QSettings().setValue(QLatin1String(preference::kReconnect), on);
  });
  auto *buttons = new QHBoxLayout;
  buttons->addWidget(start);
  buttons->addWidget(stop);
  auto *options = new QHBoxLayout;
  options->addWidget(reconnect);
  options->addStretch(1);
  options->addWidget(named(new QLabel(QStringLiteral("Pacing:"), panel), "lblPacingChoice"));
  options->addWidget(buildPacingChoice(panel));
  auto *layout = new QVBoxLayout(panel);
  layout->addWidget(queue_mode_, 0, Qt::AlignLeft);
  layout->addLayout(buttons);
  layout->addLayout(options);
  layout->addWidget(new OnAirStrip(station_.on_air, panel));
  layout->addStretch(1);
  return panel;
}

QComboBox *MainWindow::buildPacingChoice(QWidget *panel) {
  auto *pacing = named(new QComboBox(panel), "cboPacing");
  pacing->addItem(QStringLiteral("Real time"), QStringLiteral("real-time"));
  pacing->addItem(QStringLiteral("Hold rule"), QStringLiteral("hold"));
  pacing->setToolTip(QStringLiteral(
      "Real time: each frame leaves at its own time, about two seconds ahead of the clock, so viewers stay close "
      "to live.\nHold rule: a second of video in one burst, then a hold until 950 ms have passed; the stream runs "
      "about 4.5% fast and viewers fall behind by almost three minutes an hour.\nA change takes effect at the next "
      "Start."));
  BroadcastDriver &driver = station_.driver;
  pacing->setCurrentIndex(std::max(0, pacing->findData(driver.pacingMode())));
  pacing->setEnabled(!driver.isRunning());
  connect(pacing, &QComboBox::activated, this, [this, pacing, &driver](int index) {
    const QString mode = pacing->itemData(index).toString();
    if (mode == driver.pacingMode()) {
      return;
    }
    driver.setPacingMode(mode);
    QSettings().setValue(QLatin1String(preference::kPacing), mode);
    tellStatus(lcBroadcast, QStringLiteral("Pacing from the next Start: %1.").arg(pacing->itemText(index).toLower()));
  });
  // What a running broadcast was started with stays until it ends.
  connect(&driver, &BroadcastDriver::runningChanged, pacing, [pacing](bool running) { pacing->setEnabled(!running); });
  return pacing;
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
  stats_labels_[2]->setText(withPlainLineBreaks(kStatsHeadings));
  auto *layout = new QGridLayout(panel);
  layout->addWidget(stats_labels_[2], 0, 0);
  layout->addWidget(stats_labels_[0], 0, 1);
  layout->addWidget(stats_labels_[1], 1, 1);
  layout->addWidget(new ListenerChart(station_.on_air, panel), 2, 0, 1, 2);
  layout->setColumnStretch(1, 1);
  layout->setRowStretch(2, 1);
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
  // The boxes show the entry; nothing typed there would be stored.
  auto addInfoRow = [this, info_layout](int row, const QString &caption, const char *name) {
    auto *label = new QLabel(caption, video_info_);
    info_layout->addWidget(label, row, 0);
    auto *box = named(new QLineEdit(video_info_), name);
    box->setReadOnly(true);
    info_layout->addWidget(box, row, 1);
    return std::make_pair(label, box);
  };
  video_title_box_ = addInfoRow(0, QStringLiteral("Title"), "txtVideoTitle").second;
  video_path_box_ = addInfoRow(1, QStringLiteral("Path"), "txtVideoPath").second;
  // Kept hidden, for the window's contract (widget_names.h): no entry has a weight.
  const auto weight = addInfoRow(2, QStringLiteral("Weight"), "txtVideoWeight");
  weight.first->hide();
  weight.second->hide();
  video_playcount_box_ = addInfoRow(3, QStringLiteral("Playcount"), "txtVideoPlaycount").second;
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
