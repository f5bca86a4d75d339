#include "broadcaster/session/library.h"

#include "broadcaster/session/session_document.h"
#include "broadcaster/session/xml_text_checks.h"

#include "broadcaster/base/station_log.h"

#include <QRegularExpression>

namespace session {

QString nodeKeyFromEntryKey(const QString &entry_key) { return QStringLiteral("K") + entry_key; }

Library::Library(SessionDocument &document, QObject *parent) : QObject(parent), document_(document) {}

void Library::forgetNodes() {
  nodes_.clear();
  folders_.clear();
  video_folders_.clear();
  video_titles_.clear();
  video_paths_.clear();
  path_counts_.clear();
  entry_keys_.clear();
}

void Library::clear() {
  forgetNodes();
  emit reset();
}

void Library::reload() {
  forgetNodes();
  for (const QString &folder : document_.folderNames()) {
    if (!folder.isEmpty() && !folders_.contains(folder)) {
      appendFolderNode(folder);
    }
  }
  for (const VideoEntry &entry : document_.entries()) {
    bool is_number = false;
    const qlonglong key = entry.key.toLongLong(&is_number);
    if (is_number) {
      entry_keys_.insert(key);
    }
    const QString node_key = nodeKeyFromEntryKey(entry.key);
    if (folders_.contains(entry.parent) && !video_folders_.contains(node_key)) {
      appendVideoNode(entry.parent, node_key, entry.title, entry.path);
    }
  }
  emit reset();
}

void Library::appendFolderNode(const QString &name) {
  nodes_.append({name, name, false});
  folders_.insert(name, {});
}

void Library::appendVideoNode(const QString &folder, const QString &node_key, const QString &title,
                              const QString &path) {
  nodes_.append({node_key, title, true});
  folders_[folder].insert(node_key);
  video_folders_.insert(node_key, folder);
  video_titles_.insert(node_key, title);
  video_paths_.insert(node_key, path);
  ++path_counts_[path];
}

bool Library::isFolderNameAllowed(const QString &name) const {
  static const QRegularExpression video_key(QStringLiteral("^K[0-9]+$"));
  return !name.isEmpty() && isStorableValue(name) && !folders_.contains(name) && !document_.hasFolder(name) &&
         !video_key.match(name).hasMatch();
}

bool Library::addFolder(const QString &name) {
  if (document_.isEmpty() || !isFolderNameAllowed(name)) {
    return false;
  }
  document_.appendFolder(name);
  appendFolderNode(name);
  qCInfo(lcLibrary).noquote() << QStringLiteral("Made the folder \"%1\"").arg(name);
  emit folderAdded(name);
  return true;
}

void Library::dropNodes(const QString &folder, const QSet<QString> &video_keys) {
  nodes_.erase(std::remove_if(nodes_.begin(), nodes_.end(),
                              [&](const Node &node) {
                                return node.is_video ? video_keys.contains(node.key) : node.key == folder;
                              }),
               nodes_.end());
  for (const QString &key : video_keys) {
    const QString parent = video_folders_.take(key);
    video_titles_.remove(key);
    const QString path = video_paths_.take(key);
    if (--path_counts_[path] <= 0) {
      path_counts_.remove(path);
    }
    if (parent != folder) {
      folders_[parent].remove(key);
    }
  }
  folders_.remove(folder);
}

bool Library::removeFolder(const QString &name) {
  const bool removed = document_.removeFolder(name);
  if (removed) {
    qCInfo(lcLibrary).noquote() << QStringLiteral("Removed the folder \"%1\"").arg(name);
  }
  if (folders_.contains(name)) {
    dropNodes(name, folders_.value(name));
    emit nodeRemoved(name, false);
  }
  return removed;
}

bool Library::removeVideo(const QString &node_key) {
  const QString entry_key = entryKeyFromNodeKey(node_key);
  const bool removed = document_.removeEntry(entry_key);
  if (removed) {
    entry_keys_.erase(entry_key.toLongLong());
    qCInfo(lcLibrary).noquote() << QStringLiteral("Removed the video \"%1\"").arg(video_titles_.value(node_key));
  }
  if (video_folders_.contains(node_key)) {
    dropNodes(QString(), {node_key});
    emit nodeRemoved(node_key, true);
  }
  return removed;
}

QString Library::nextEntryKey() const {
  const auto count = static_cast<std::int64_t>(entry_keys_.size());
  if (entry_keys_.count(count) == 0) {
    return QString::number(count);
  }
  const std::int64_t largest = *entry_keys_.rbegin();
  if (largest < kLargestEntryKey) {
    return QString::number(largest + 1);
  }
  // Keys at the top of the range: fewer keys than numbers below the count
  // means one of those is free.
  std::int64_t candidate = 0;
  for (const std::int64_t key : entry_keys_) {
    if (key != candidate) {
      break;
    }
    ++candidate;
  }
  return QString::number(candidate);
}

QString Library::addVideo(const QString &folder, const QString &path, const QString &title) {
  // What the next load would refuse never reaches the file.
  if (!folders_.contains(folder) || !isStorableValue(path) || !isStorableValue(title)) {
    return QString();
  }
  const QString entry_key = nextEntryKey();
  document_.insertEntry(entry_key, path, title, folder);
  entry_keys_.insert(entry_key.toLongLong());
  const QString node_key = nodeKeyFromEntryKey(entry_key);
  appendVideoNode(folder, node_key, title, path);
  qCInfo(lcLibrary).noquote() << QStringLiteral("Added \"%1\" (%2) to the folder \"%3\"").arg(title, path, folder);
  emit videoAdded(folder, node_key, title);
  return node_key;
}

QString Library::videoTitle(const QString &node_key) const { return video_titles_.value(node_key); }

QString Library::firstFolder() const {
  for (const Node &node : nodes_) {
    if (!node.is_video) {
      return node.key;
    }
  }
  return QString();
}

QStringList Library::folderNames() const {
  QStringList names;
  for (const Node &node : nodes_) {
    if (!node.is_video) {
      names << node.key;
    }
  }
  return names;
}

} // namespace session
