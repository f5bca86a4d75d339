#include "joiner_window.h"

#include <nsv_joiner.h>
#include <scoped_value.h>

#include <QApplication>
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

namespace {

constexpr int kPathRole = Qt::UserRole;

template <typename Widget> Widget *named(Widget *widget, const char *name) {
  widget->setObjectName(QLatin1String(name));
  return widget;
}

} // namespace

JoinerWindow::JoinerWindow(ErrorReporter report_error, std::shared_ptr<YieldClock> clock, QWidget *parent)
    : QWidget(parent, Qt::Window), report_error_(std::move(report_error)), clock_(std::move(clock)) {
  setObjectName(QStringLiteral("frmJoiner"));
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
  progress_ = named(new QProgressBar(this), "ProgressBar");
  progress_->setRange(0, 100);
  progress_->setValue(0);
  result_label_ = named(new QLabel(this), "lblResult");
  result_label_->setWordWrap(true);

  auto *layout = new QVBoxLayout(this);
  layout->addWidget(browser, 2);
  layout->addWidget(heading);
  layout->addWidget(list_, 1);
  layout->addWidget(join_button_);
  layout->addWidget(progress_);
  layout->addWidget(result_label_);
  resize(520, 560);

  connect(drive_, &QComboBox::activated, this, [this](int index) { setFolder(drive_->itemData(index).toString()); });
  connect(dir_, &QListWidget::itemActivated, this,
          [this](QListWidgetItem *item) { setFolder(item->data(kPathRole).toString()); });
  connect(file_, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem *item) { addFile(item->text()); });
  connect(join_button_, &QPushButton::clicked, this, &JoinerWindow::join);

  fillDrives();
  setFolder(QDir::homePath());
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
  for (const QString &name : dir.entryList({QStringLiteral("*.nsv")}, QDir::Files, QDir::Name | QDir::IgnoreCase)) {
    file_->addItem(name);
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
      static_cast<QKeyEvent *>(event)->key() == Qt::Key_Delete && !joining_) {
    delete list_->currentItem();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void JoinerWindow::join() {
  if (joining_) {
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
  if (!dialog_.showSave()) {
    return;
  }
  nsv::JoinOutcome outcome;
  {
    ScopedValue<bool> joining(joining_, true);
    join_button_->setEnabled(false);
    result_label_->clear();
    progress_->setValue(0);
    std::uint32_t last_yield_ms = clock_->nowMs();
    outcome = nsv::joinFiles(inputs, dialog_.fileName(), [&](qint64 done, qint64 total) {
      progress_->setValue(total > 0 ? static_cast<int>(done * 100 / total) : 100);
      // Keep the windows alive without paying for a pass per frame.
      if (clock_->nowMs() - last_yield_ms >= 30) {
        clock_->yieldToEvents();
        last_yield_ms = clock_->nowMs();
      }
    });
  }
  join_button_->setEnabled(true);
  if (!outcome.ok) {
    progress_->setValue(0);
    report_error_(outcome.error);
    return;
  }
  progress_->setValue(100);
  result_label_->setText(QStringLiteral("Joined %1 videos into %2: %3 frames, %4 s.")
                             .arg(inputs.size())
                             .arg(QDir::toNativeSeparators(dialog_.fileName()))
                             .arg(outcome.frames)
                             .arg(outcome.length_ms / 1000.0, 0, 'f', 1));
}

void JoinerWindow::closeEvent(QCloseEvent *event) {
  // The join runs inside this window's click handler; it must finish first.
  if (joining_) {
    event->ignore();
    return;
  }
  event->accept();
}
