#include "broadcaster/window/volume_browser.h"

#include "broadcaster/window/widget_names.h"

#include "broadcaster/import/library_files.h"

#include <QComboBox>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QStorageInfo>
#include <QVBoxLayout>

namespace {

constexpr int kPathRole = Qt::UserRole;

} // namespace

VolumeBrowser::VolumeBrowser(QWidget *parent) : QGroupBox(QStringLiteral("Browser"), parent) {
  volumes_ = named(new QComboBox(this), "Drive");
  folders_ = named(new QListWidget(this), "Dir");
  files_ = named(new QListWidget(this), "File");
  path_label_ = named(new QLabel(this), "lblFolder");
  auto *layout = new QVBoxLayout(this);
  layout->addWidget(volumes_);
  layout->addWidget(path_label_);
  auto *lists = new QHBoxLayout;
  lists->addWidget(folders_);
  lists->addWidget(files_);
  layout->addLayout(lists, 1);

  connect(volumes_, &QComboBox::activated, this,
          [this](int index) { setFolder(volumes_->itemData(index).toString()); });
  connect(folders_, &QListWidget::itemActivated, this,
          [this](QListWidgetItem *item) { setFolder(item->data(kPathRole).toString()); });
  // A double-click, or Return from the keyboard.
  connect(files_, &QListWidget::itemActivated, this,
          [this](QListWidgetItem *item) { emit fileActivated(item->text()); });
  fillVolumes();
}

void VolumeBrowser::fillVolumes() {
  volumes_->clear();
  for (const QStorageInfo &volume : QStorageInfo::mountedVolumes()) {
    if (volume.isValid() && volume.isReady()) {
      volumes_->addItem(QDir::toNativeSeparators(volume.rootPath()), volume.rootPath());
    }
  }
}

bool VolumeBrowser::setFolder(const QString &path) {
  const QDir dir(path);
  if (!dir.exists() || !dir.isReadable()) {
    emit folderUnreadable(path);
    return false;
  }
  current_folder_ = dir.absolutePath();
  path_label_->setText(QDir::toNativeSeparators(current_folder_));
  // The volume list shows the volume that holds the folder: the longest root it starts with.
  int best_index = -1;
  qsizetype best_length = -1;
  for (int index = 0; index < volumes_->count(); ++index) {
    const QString root = volumes_->itemData(index).toString();
    if (current_folder_.startsWith(root) && root.size() > best_length) {
      best_index = index;
      best_length = root.size();
    }
  }
  if (best_index >= 0) {
    volumes_->setCurrentIndex(best_index);
  }

  folders_->clear();
  QDir parent = dir;
  if (parent.cdUp()) {
    auto *up = new QListWidgetItem(QStringLiteral(".."), folders_);
    up->setData(kPathRole, parent.absolutePath());
  }
  for (const QString &name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase)) {
    auto *item = new QListWidgetItem(name, folders_);
    item->setData(kPathRole, dir.absoluteFilePath(name));
  }
  files_->clear();
  for (const QString &name : dir.entryList(QDir::Files, QDir::Name | QDir::IgnoreCase)) {
    if (library_files::isNsvVideo(name)) {
      files_->addItem(name);
    }
  }
  return true;
}
