#include "mixer/folder_browser.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QStorageInfo>

#include <functional>

namespace {

constexpr int kPathRole = Qt::UserRole;

// Replaces a list's entries, keeping the selected entry selected if it is
// still there.
void refill(QListWidget &list, const QStringList &names, const std::function<QString(const QString &)> &path_of) {
  const QListWidgetItem *current = list.currentItem();
  const QString selected = current != nullptr && current->isSelected() ? current->text() : QString();
  list.clear();
  for (const QString &name : names) {
    auto *item = new QListWidgetItem(name, &list);
    if (path_of) {
      item->setData(kPathRole, path_of(name));
    }
    if (!selected.isEmpty() && name == selected) {
      list.setCurrentItem(item);
    }
  }
}

QStringList playablePatterns() {
  // What Qt Multimedia plays, and the playlists the player steps through.
  static const QStringList patterns = {
      QStringLiteral("*.mp4"), QStringLiteral("*.m4v"),  QStringLiteral("*.mkv"),  QStringLiteral("*.webm"),
      QStringLiteral("*.mov"), QStringLiteral("*.ogv"),  QStringLiteral("*.avi"),  QStringLiteral("*.mpg"),
      QStringLiteral("*.wmv"), QStringLiteral("*.asf"),  QStringLiteral("*.mpeg"), QStringLiteral("*.divx"),
      QStringLiteral("*.mpv"), QStringLiteral("*.mpa"),  QStringLiteral("*.wav"),  QStringLiteral("*.mp3"),
      QStringLiteral("*.mp2"), QStringLiteral("*.m3u")};
  return patterns;
}

} // namespace

FolderBrowser::FolderBrowser(QComboBox &drives, QListWidget &folders, QListWidget &files, QLabel &path_label,
                             QObject *parent)
    : QObject(parent), drives_(drives), folders_(folders), files_(files), path_label_(path_label) {
  relist_delay_.setSingleShot(true);
  relist_delay_.setInterval(kRelistDelayMs);
  connect(&relist_delay_, &QTimer::timeout, this, &FolderBrowser::onFolderChanged);
  // The first change starts the wait; later ones ride along, so a busy
  // folder is still listed again within the delay.
  connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, [this] {
    if (!relist_delay_.isActive()) {
      relist_delay_.start();
    }
  });
  connect(&drives_, &QComboBox::activated, this, [this](int index) { setFolder(drives_.itemData(index).toString()); });
  connect(&folders_, &QListWidget::itemActivated, this,
          [this](QListWidgetItem *item) { setFolder(item->data(kPathRole).toString()); });
  fillDrives();
}

void FolderBrowser::fillDrives() {
  drives_.clear();
  for (const QStorageInfo &volume : QStorageInfo::mountedVolumes()) {
    if (volume.isValid() && volume.isReady()) {
      drives_.addItem(QDir::toNativeSeparators(volume.rootPath()), volume.rootPath());
    }
  }
}

bool FolderBrowser::setFolder(const QString &path) {
  const QDir dir(path);
  if (path.isEmpty() || !dir.exists() || !dir.isReadable()) {
    return false;
  }
  const bool same_folder = dir.absolutePath() == current_folder_;
  current_folder_ = dir.absolutePath();
  if (!same_folder) {
    // A new folder starts with nothing selected.
    folders_.clear();
    files_.clear();
    if (!watcher_.directories().isEmpty()) {
      watcher_.removePaths(watcher_.directories());
    }
    showPath();
  }
  // A folder removed and made again loses its watch.
  if (!watcher_.directories().contains(current_folder_)) {
    watcher_.addPath(current_folder_);
  }
  relist();
  return true;
}

void FolderBrowser::onFolderChanged() {
  // A folder that went away gives way to the nearest one that is left.
  QString folder = current_folder_;
  while (!QFileInfo(folder).isDir() && !QDir(folder).isRoot()) {
    folder = QFileInfo(folder).path();
  }
  setFolder(folder);
}

void FolderBrowser::relist() {
  const QDir dir(current_folder_);
  QStringList folder_names;
  QDir parent = dir;
  const bool has_parent = parent.cdUp();
  if (has_parent) {
    folder_names << QStringLiteral("..");
  }
  folder_names << dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
  refill(folders_, folder_names, [&](const QString &name) {
    return name == QLatin1String("..") ? parent.absolutePath() : dir.absoluteFilePath(name);
  });

  QDir files = dir;
  files.setNameFilters(playablePatterns()); // matched without regard to case
  files.setFilter(QDir::Files);
  files.setSorting(QDir::Name | QDir::IgnoreCase);
  refill(files_, files.entryList(), nullptr);
}

void FolderBrowser::showPath() {
  const QString path = QDir::toNativeSeparators(current_folder_);
  path_label_.setToolTip(path);
  path_label_.setText(path_label_.fontMetrics().elidedText(path, Qt::ElideMiddle, path_label_.contentsRect().width()));
}

QString FolderBrowser::selectedFilePath() const {
  const QString folder =
      current_folder_.endsWith(QLatin1Char('/')) ? current_folder_ : current_folder_ + QLatin1Char('/');
  const QListWidgetItem *selected = files_.currentItem();
  return QDir::toNativeSeparators(folder +
                                  (selected != nullptr && selected->isSelected() ? selected->text() : QString()));
}
