#include "broadcaster/window/joiner_window.h"

#include "broadcaster/window/widget_names.h"

#include "broadcaster/import/library_files.h"
#include "broadcaster/base/station_log.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStorageInfo>
#include <QVBoxLayout>
#include <QtConcurrentRun>

namespace {

constexpr int kPathRole = Qt::UserRole;

} // namespace

JoinerWindow::JoinerWindow(ErrorReporter report_error, QWidget *parent, JoinFunction join_files)
    : QWidget(parent, Qt::Window), report_error_(std::move(report_error)), join_files_(std::move(join_files)) {
  if (!join_files_) {
    join_files_ = nsv::joinFiles;
  }
  named(this, "frmJoiner");
  setWindowTitle(QStringLiteral("NSV Joiner"));
  setAttribute(Qt::WA_DeleteOnClose);
  dialog_.setParentWindow(this);

  auto *browser = named(new QGroupBox(QStringLiteral("Browser"), this), "Frame1");
  drive_ = named(new QComboBox(browser), "Drive");
  dir_ = named(new QListWidget(browser), "Dir");
  file_ = named(new QListWidget(browser), "File");
  path_label_ = named(new QLabel(browser), "lblFolder");
  auto *browser_layout = new QVBoxLayout(browser);
  browser_layout->addWidget(drive_);
  browser_layout->addWidget(path_label_);
  auto *lists = new QHBoxLayout;
  lists->addWidget(dir_);
  lists->addWidget(file_);
  browser_layout->addLayout(lists, 1);

  auto *heading = named(new QLabel(QStringLiteral("Files to join:"), this), "Label1");
  list_ = named(new QListWidget(this), "List");
  list_->installEventFilter(this);
  join_button_ = named(new QPushButton(QStringLiteral("Join these videos"), this), "btnJoin");
  cancel_button_ = named(new QPushButton(QStringLiteral("Cancel"), this), "btnCancelJoin");
  cancel_button_->setEnabled(false);
  progress_ = named(new QProgressBar(this), "ProgressBar");
  progress_->setRange(0, 100);
  progress_->setValue(0);
  result_label_ = named(new QLabel(this), "lblResult");
  result_label_->setWordWrap(true);

  auto *layout = new QVBoxLayout(this);
  layout->addWidget(browser, 2);
  layout->addWidget(heading);
  layout->addWidget(list_, 1);
  auto *join_row = new QHBoxLayout;
  join_row->addWidget(join_button_, 1);
  join_row->addWidget(cancel_button_);
  layout->addLayout(join_row);
  layout->addWidget(progress_);
  layout->addWidget(result_label_);
  resize(520, 560);

  connect(drive_, &QComboBox::activated, this, [this](int index) { setFolder(drive_->itemData(index).toString()); });
  connect(dir_, &QListWidget::itemActivated, this,
          [this](QListWidgetItem *item) { setFolder(item->data(kPathRole).toString()); });
  // A double-click, or Return from the keyboard.
  connect(file_, &QListWidget::itemActivated, this, [this](QListWidgetItem *item) { addFile(item->text()); });
  connect(join_button_, &QPushButton::clicked, this, &JoinerWindow::join);
  connect(cancel_button_, &QPushButton::clicked, this, &JoinerWindow::cancelJoin);
  progress_timer_.setInterval(50);
  connect(&progress_timer_, &QTimer::timeout, this, [this] { progress_->setValue(join_->percent); });
  connect(&watcher_, &QFutureWatcher<nsv::JoinOutcome>::finished, this, &JoinerWindow::onJoinFinished);

  fillDrives();
  setFolder(QDir::homePath());
}

JoinerWindow::~JoinerWindow() {
  if (isJoining()) {
    join_->cancel = true;
  }
}

void JoinerWindow::fillDrives() {
  drive_->clear();
  for (const QStorageInfo &volume : QStorageInfo::mountedVolumes()) {
    if (volume.isValid() && volume.isReady()) {
      drive_->addItem(QDir::toNativeSeparators(volume.rootPath()), volume.rootPath());
    }
  }
}

bool JoinerWindow::setFolder(const QString &path) {
  const QDir dir(path);
  if (!dir.exists() || !dir.isReadable()) {
    report_error_(QStringLiteral("The folder %1 cannot be read.").arg(QDir::toNativeSeparators(path)));
    return false;
  }
  current_folder_ = dir.absolutePath();
  path_label_->setText(QDir::toNativeSeparators(current_folder_));
  // The drive list shows the volume that holds the folder: the longest root it starts with.
  int best_index = -1;
  qsizetype best_length = -1;
  for (int index = 0; index < drive_->count(); ++index) {
    const QString root = drive_->itemData(index).toString();
    if (current_folder_.startsWith(root) && root.size() > best_length) {
      best_index = index;
      best_length = root.size();
    }
  }
  if (best_index >= 0) {
    drive_->setCurrentIndex(best_index);
  }

  dir_->clear();
  QDir parent = dir;
  if (parent.cdUp()) {
    auto *up = new QListWidgetItem(QStringLiteral(".."), dir_);
    up->setData(kPathRole, parent.absolutePath());
  }
  for (const QString &name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase)) {
    auto *item = new QListWidgetItem(name, dir_);
    item->setData(kPathRole, dir.absoluteFilePath(name));
  }
  file_->clear();
  for (const QString &name : dir.entryList(QDir::Files, QDir::Name | QDir::IgnoreCase)) {
    if (library_files::isNsvVideo(name)) {
      file_->addItem(name);
    }
  }
  return true;
}

void JoinerWindow::addFile(const QString &file_name) {
  // QDir joins without doubling the separator at a volume's root.
  list_->addItem(QDir::toNativeSeparators(QDir(current_folder_).filePath(file_name)));
}

QStringList JoinerWindow::filesToJoin() const {
  QStringList files;
  for (int index = 0; index < list_->count(); ++index) {
    files << QDir::fromNativeSeparators(list_->item(index)->text());
  }
  return files;
}

bool JoinerWindow::eventFilter(QObject *watched, QEvent *event) {
  if (watched == list_ && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent *>(event)->key() == Qt::Key_Delete && !isJoining()) {
    delete list_->currentItem();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void JoinerWindow::join() {
  if (isJoining()) {
    return;
  }
  const QStringList inputs = filesToJoin();
  if (inputs.isEmpty()) {
    report_error_(QStringLiteral("There are no videos to join. Double-click NSV files in the browser to add them to "
                                 "the list first."));
    return;
  }
  dialog_.setFilter(QStringLiteral("Nullsoft Streaming Video (*.nsv)|*.nsv"));
  // A cancelled dialog joins nothing and needs no message.
  dialog_.showSave([this, inputs](bool chosen) {
    if (chosen && !isJoining()) {
      startJoin(inputs, dialog_.fullFileName());
    }
  });
}

void JoinerWindow::startJoin(const QStringList &inputs, const QString &output) {
  output_ = output;
  input_count_ = static_cast<int>(inputs.size());
  join_ = std::make_shared<RunningJoin>();
  join_button_->setEnabled(false);
  cancel_button_->setEnabled(true);
  result_label_->setText(QStringLiteral("Joining %1 videos into %2…").arg(inputs.size()).arg(QDir::toNativeSeparators(output)));
  progress_->setValue(0);
  qCInfo(lcWindow).noquote() << result_label_->text();
  progress_timer_.start();
  watcher_.setFuture(QtConcurrent::run([join_files = join_files_, inputs, output, join = join_] {
    const auto progress = [&join](qint64 done, qint64 total) {
      join->percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
    };
    return join_files(inputs, output, progress, &join->cancel);
  }));
}

void JoinerWindow::cancelJoin() {
  if (!isJoining()) {
    return;
  }
  join_->cancel = true;
  cancel_button_->setEnabled(false);
  result_label_->setText(QStringLiteral("Cancelling the join…"));
}

void JoinerWindow::onJoinFinished() {
  const nsv::JoinOutcome outcome = watcher_.future().resultCount() > 0 ? watcher_.result() : nsv::JoinOutcome{};
  progress_timer_.stop();
  join_.reset();
  join_button_->setEnabled(true);
  cancel_button_->setEnabled(false);
  if (outcome.cancelled) {
    progress_->setValue(0);
    result_label_->setText(outcome.error);
    qCInfo(lcWindow).noquote() << outcome.error;
  } else if (!outcome.ok) {
    progress_->setValue(0);
    result_label_->clear();
    report_error_(outcome.error);
  } else {
    progress_->setValue(100);
    result_label_->setText(QStringLiteral("Joined %1 videos into %2: %3 frames, %4 s.")
                               .arg(input_count_)
                               .arg(QDir::toNativeSeparators(output_))
                               .arg(outcome.frames)
                               .arg(outcome.length_ms / 1000.0, 0, 'f', 1));
    qCInfo(lcWindow).noquote() << result_label_->text();
  }
}

void JoinerWindow::closeEvent(QCloseEvent *event) {
  // The worker keeps what it needs; cancelled, it ends soon and writes nothing.
  if (isJoining()) {
    join_->cancel = true;
    qCInfo(lcWindow).noquote() << QStringLiteral("The joiner was closed during a join: the join was cancelled and no "
                                                 "file was written.");
  }
  event->accept();
}
