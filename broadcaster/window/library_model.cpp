#include "broadcaster/window/library_model.h"

#include "broadcaster/session/library.h"

#include <algorithm>

LibraryModel::LibraryModel(const session::Library &library, QObject *parent)
    : QAbstractItemModel(parent), library_(library) {
  connect(&library_, &session::Library::reset, this, &LibraryModel::rebuild);
  connect(&library_, &session::Library::folderAdded, this, &LibraryModel::addFolder);
  connect(&library_, &session::Library::videoAdded, this, &LibraryModel::addVideo);
  connect(&library_, &session::Library::nodeRemoved, this, &LibraryModel::removeNode);
  rebuild();
}

LibraryModel::~LibraryModel() = default;

bool LibraryModel::matches(const Video &video) const {
  return filter_.isEmpty() || folded_filter_.indexIn(video.folded_title) >= 0;
}

void LibraryModel::match(Folder &folder, bool narrowing) const {
  QVector<int> shown;
  if (narrowing) {
    for (const int position : folder.shown) {
      if (matches(folder.videos[position])) {
        shown.append(position);
      }
    }
  } else {
    for (int position = 0; position < folder.videos.size(); ++position) {
      if (matches(folder.videos[position])) {
        shown.append(position);
      }
    }
  }
  folder.shown = std::move(shown);
}

bool LibraryModel::isShown(const Folder *folder) const { return filter_.isEmpty() || !folder->shown.isEmpty(); }

void LibraryModel::setFilter(const QString &text) {
  if (text == filter_) {
    return;
  }
  // A longer text shows a part of what is shown now: only that is tested.
  const bool narrowing = !filter_.isEmpty() && text.toCaseFolded().contains(filter_.toCaseFolded());
  beginResetModel();
  filter_ = text;
  folded_filter_.setPattern(text.toCaseFolded());
  shown_folders_.clear();
  for (const std::unique_ptr<Folder> &folder : folders_) {
    match(*folder, narrowing);
    folder->row = -1;
    if (isShown(folder.get())) {
      shown_folders_.append(folder.get());
    }
  }
  numberRowsFrom(0);
  endResetModel();
}

void LibraryModel::rebuild() {
  beginResetModel();
  folders_.clear();
  shown_folders_.clear();
  folder_by_name_.clear();
  folder_of_video_.clear();
  // A folder always comes before its videos in the library's order.
  for (int position = 1; position <= library_.nodeCount(); ++position) {
    const session::Library::Node &node = library_.nodeAt(position);
    if (!node.is_video) {
      folders_.push_back(std::make_unique<Folder>());
      folders_.back()->name = node.key;
      folder_by_name_.insert(node.key, folders_.back().get());
    } else if (Folder *folder = folder_by_name_.value(library_.folderOf(node.key))) {
      folder->videos.append(makeVideo(node.key, node.text));
      folder_of_video_.insert(node.key, folder);
    }
  }
  for (const std::unique_ptr<Folder> &folder : folders_) {
    match(*folder, false);
    if (isShown(folder.get())) {
      shown_folders_.append(folder.get());
    }
  }
  numberRowsFrom(0);
  endResetModel();
}

void LibraryModel::numberRowsFrom(int first) {
  for (int row = first; row < shown_folders_.size(); ++row) {
    shown_folders_[row]->row = row;
  }
}

int LibraryModel::insertionRow(const Folder *folder) const {
  int row = 0;
  for (const std::unique_ptr<Folder> &candidate : folders_) {
    if (candidate.get() == folder) {
      break;
    }
    if (row < shown_folders_.size() && shown_folders_[row] == candidate.get()) {
      ++row;
    }
  }
  return row;
}

QModelIndex LibraryModel::folderIndex(const Folder *folder) const {
  const int row = shownRow(folder);
  return row < 0 ? QModelIndex() : createIndex(row, 0, nullptr);
}

void LibraryModel::addFolder(const QString &name) {
  folders_.push_back(std::make_unique<Folder>());
  Folder *folder = folders_.back().get();
  folder->name = name;
  folder_by_name_.insert(name, folder);
  if (isShown(folder)) {
    const int row = static_cast<int>(shown_folders_.size());
    beginInsertRows(QModelIndex(), row, row);
    shown_folders_.append(folder);
    folder->row = row;
    endInsertRows();
  }
}

void LibraryModel::addVideo(const QString &folder_name, const QString &node_key, const QString &title) {
  Folder *folder = folder_by_name_.value(folder_name);
  if (folder == nullptr) {
    return;
  }
  const int position = static_cast<int>(folder->videos.size());
  folder->videos.append(makeVideo(node_key, title));
  folder_of_video_.insert(node_key, folder);
  if (!matches(folder->videos.back())) {
    return;
  }
  if (shownRow(folder) >= 0) {
    const int row = static_cast<int>(folder->shown.size());
    beginInsertRows(folderIndex(folder), row, row);
    folder->shown.append(position);
    endInsertRows();
    return;
  }
  // The folder's first video that passes the filter brings the folder back.
  const int row = insertionRow(folder);
  beginInsertRows(QModelIndex(), row, row);
  folder->shown.append(position);
  shown_folders_.insert(row, folder);
  numberRowsFrom(row);
  endInsertRows();
}

void LibraryModel::removeNode(const QString &key, bool is_video) {
  if (is_video) {
    removeVideo(key);
  } else {
    removeFolder(key);
  }
}

void LibraryModel::removeVideo(const QString &node_key) {
  Folder *folder = folder_of_video_.take(node_key);
  if (folder == nullptr) {
    return;
  }
  const auto found = std::find_if(folder->videos.cbegin(), folder->videos.cend(),
                                  [&node_key](const Video &video) { return video.key == node_key; });
  const int position = static_cast<int>(found - folder->videos.cbegin());
  const auto shown_at = std::lower_bound(folder->shown.begin(), folder->shown.end(), position);
  const bool shown = shown_at != folder->shown.end() && *shown_at == position;
  const int shown_index = static_cast<int>(shown_at - folder->shown.begin());
  // Under a filter a folder goes with the last video it shows.
  const bool folder_goes = shown && !filter_.isEmpty() && folder->shown.size() == 1;
  if (folder_goes) {
    const int row = shownRow(folder);
    beginRemoveRows(QModelIndex(), row, row);
    shown_folders_.remove(row);
    folder->row = -1;
    numberRowsFrom(row);
  } else if (shown) {
    beginRemoveRows(folderIndex(folder), shown_index, shown_index);
  }
  folder->videos.remove(position);
  if (shown) {
    folder->shown.remove(shown_index);
  }
  for (int &later : folder->shown) {
    if (later > position) {
      --later;
    }
  }
  if (shown) {
    endRemoveRows();
  }
}

void LibraryModel::removeFolder(const QString &name) {
  Folder *folder = folder_by_name_.take(name);
  if (folder == nullptr) {
    return;
  }
  for (const Video &video : folder->videos) {
    folder_of_video_.remove(video.key);
  }
  const int row = shownRow(folder);
  if (row >= 0) {
    beginRemoveRows(QModelIndex(), row, row);
    shown_folders_.remove(row);
    numberRowsFrom(row);
    endRemoveRows();
  }
  folders_.erase(std::find_if(folders_.begin(), folders_.end(),
                              [folder](const std::unique_ptr<Folder> &candidate) { return candidate.get() == folder; }));
}

QStringList LibraryModel::shownFolders() const {
  QStringList names;
  for (const Folder *folder : shown_folders_) {
    names << folder->name;
  }
  return names;
}

QStringList LibraryModel::shownTitles(const QString &folder_name) const {
  QStringList titles;
  const Folder *folder = folder_by_name_.value(folder_name);
  if (folder != nullptr && shownRow(folder) >= 0) {
    for (const int position : folder->shown) {
      titles << folder->videos[position].title;
    }
  }
  return titles;
}

int LibraryModel::shownVideoCount() const {
  int count = 0;
  for (const Folder *folder : shown_folders_) {
    count += static_cast<int>(folder->shown.size());
  }
  return count;
}

QModelIndex LibraryModel::indexOfNode(const QString &key) const {
  if (const Folder *folder = folder_of_video_.value(key)) {
    if (shownRow(folder) < 0) {
      return QModelIndex();
    }
    for (int row = 0; row < folder->shown.size(); ++row) {
      if (folder->videos[folder->shown[row]].key == key) {
        return createIndex(row, 0, const_cast<Folder *>(folder));
      }
    }
    return QModelIndex();
  }
  const Folder *folder = folder_by_name_.value(key);
  return folder == nullptr ? QModelIndex() : folderIndex(folder);
}

QModelIndex LibraryModel::index(int row, int column, const QModelIndex &parent) const {
  if (column != 0 || row < 0) {
    return QModelIndex();
  }
  if (!parent.isValid()) {
    return row < shown_folders_.size() ? createIndex(row, 0, nullptr) : QModelIndex();
  }
  if (parent.internalPointer() != nullptr || parent.row() >= shown_folders_.size()) {
    return QModelIndex(); // videos have no children
  }
  Folder *folder = shown_folders_[parent.row()];
  return row < folder->shown.size() ? createIndex(row, 0, folder) : QModelIndex();
}

QModelIndex LibraryModel::parent(const QModelIndex &child) const {
  const auto *folder = static_cast<const Folder *>(child.internalPointer());
  return folder == nullptr ? QModelIndex() : folderIndex(folder);
}

int LibraryModel::rowCount(const QModelIndex &parent) const {
  if (!parent.isValid()) {
    return static_cast<int>(shown_folders_.size());
  }
  if (parent.internalPointer() != nullptr || parent.column() != 0) {
    return 0;
  }
  return static_cast<int>(shown_folders_[parent.row()]->shown.size());
}

int LibraryModel::columnCount(const QModelIndex &) const { return 1; }

QVariant LibraryModel::data(const QModelIndex &index, int role) const {
  if (!index.isValid()) {
    return QVariant();
  }
  const auto *folder = static_cast<const Folder *>(index.internalPointer());
  if (folder == nullptr) {
    const Folder *shown = shown_folders_[index.row()];
    switch (role) {
    case Qt::DisplayRole:
    case kKeyRole:
      return shown->name;
    case kIsVideoRole:
      return false;
    default:
      return QVariant();
    }
  }
  const Video &video = folder->videos[folder->shown[index.row()]];
  switch (role) {
  case Qt::DisplayRole:
    return video.title;
  case kKeyRole:
    return video.key;
  case kIsVideoRole:
    return true;
  default:
    return QVariant();
  }
}
