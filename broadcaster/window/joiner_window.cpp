#include "broadcaster/window/joiner_window.h"

#include "broadcaster/window/volume_browser.h"
#include "broadcaster/window/widget_names.h"

#include "broadcaster/base/station_log.h"

#include <QCloseEvent>
#include <QDir>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtConcurrentRun>

JoinerWindow::JoinerWindow(ErrorReporter report_error, QWidget *parent, JoinFunction join_files)
    : QWidget(parent, Qt::Window), report_error_(std::move(report_error)), join_files_(std::move(join_files)) {
  if (!join_files_) {
    join_files_ = nsv::joinFiles;
  }
  named(this, "frmJoiner");
  setWindowTitle(QStringLiteral("NSV Joiner"));
  setAttribute(Qt::WA_DeleteOnClose);
  dialog_.setParentWindow(this);

  browser_ = named(new VolumeBrowser(this), "Frame1");

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
  layout->addWidget(browser_, 2);
  layout->addWidget(heading);
  layout->addWidget(list_, 1);
  auto *join_row = new QHBoxLayout;
  join_row->addWidget(join_button_, 1);
  join_row->addWidget(cancel_button_);
  layout->addLayout(join_row);
  layout->addWidget(progress_);
  layout->addWidget(result_label_);
  resize(520, 560);

  connect(browser_, &VolumeBrowser::fileActivated, this, &JoinerWindow::addFile);
  connect(browser_, &VolumeBrowser::folderUnreadable, this, [this](const QString &path) {
    report_error_(QStringLiteral("The folder %1 cannot be read.").arg(QDir::toNativeSeparators(path)));
  });
  connect(join_button_, &QPushButton::clicked, this, &JoinerWindow::chooseOutputAndJoin);
  connect(cancel_button_, &QPushButton::clicked, this, &JoinerWindow::cancelJoin);
  progress_timer_.setInterval(50);
  connect(&progress_timer_, &QTimer::timeout, this, [this] { progress_->setValue(join_->percent); });
  connect(&watcher_, &QFutureWatcher<nsv::JoinOutcome>::finished, this, &JoinerWindow::onJoinFinished);

  setFolder(QDir::homePath());
}

JoinerWindow::~JoinerWindow() {
  if (isJoining()) {
    join_->cancel = true;
  }
}

QString JoinerWindow::currentFolder() const { return browser_->currentFolder(); }

bool JoinerWindow::setFolder(const QString &path) { return browser_->setFolder(path); }

void JoinerWindow::addFile(const QString &file_name) {
  // QDir joins without doubling the separator at a volume's root.
  list_->addItem(QDir::toNativeSeparators(QDir(browser_->currentFolder()).filePath(file_name)));
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

void JoinerWindow::chooseOutputAndJoin() {
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
