#pragma once

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

#include <cstdint>
#include <set>

namespace session {

class SessionDocument;

// The session's library as the program works with it: folders and the
// videos placed under them, as nodes numbered from 1 in the order they were
// added (folders of a loaded session first, then its videos). Every change
// to the library goes through here, so the document and every view stay in
// step; views follow the signals.
//
// Node keys: a folder's key is its name; a video's key is "K" followed by
// its entry key. The library also keeps the set of entry keys in the
// document, so a new key costs nothing however large the library is.
class Library : public QObject {
  Q_OBJECT

public:
  struct Node {
    QString key;
    QString text;
    bool is_video = false;
  };

  explicit Library(SessionDocument &document, QObject *parent = nullptr);

  // Builds the nodes from the document: every folder, then every entry
  // whose folder exists, in document order. Entries of missing folders stay
  // in the document and are not shown.
  void reload();
  void clear();

  // Empty names, names in use, names that read as a video's node key ("K"
  // and digits) and names the file cannot hold are refused.
  bool isFolderNameAllowed(const QString &name) const;
  bool addFolder(const QString &name);
  // Takes the folder out of the document; its videos leave the library
  // with it, and their entries stay in the file. False when the document had
  // no such folder.
  bool removeFolder(const QString &name);
  // False when the document had no such entry.
  bool removeVideo(const QString &node_key);
  // A new entry with play count 0 under a free key; returns its node key,
  // or an empty text when the folder does not exist or the path or title
  // holds characters the file cannot keep.
  QString addVideo(const QString &folder, const QString &path, const QString &title);

  int nodeCount() const { return static_cast<int>(nodes_.size()); }
  int videoCount() const { return static_cast<int>(video_folders_.size()); }
  // Position from 1 to nodeCount().
  const Node &nodeAt(int position) const { return nodes_[position - 1]; }
  bool hasFolder(const QString &name) const { return folders_.contains(name); }
  bool hasVideo(const QString &node_key) const { return video_folders_.contains(node_key); }
  QString videoTitle(const QString &node_key) const;
  // True when a video of the library (its folder exists) has exactly that path.
  bool hasVideoWithPath(const QString &path) const { return path_counts_.contains(path); }
  QString folderOf(const QString &node_key) const { return video_folders_.value(node_key); }
  QString firstFolder() const;
  QStringList folderNames() const;
  // Every entry of the document, shown or not.
  int entryCount() const { return static_cast<int>(entry_keys_.size()); }

  // The key the next new entry gets: the entry count when no entry has it,
  // else one past the largest key, else (at the top of the range) the
  // smallest free key.
  QString nextEntryKey() const;

signals:
  // The nodes were replaced (a session was opened, created or closed).
  void reset();
  void folderAdded(const QString &name);
  void videoAdded(const QString &folder, const QString &node_key, const QString &title);
  // A folder node goes with its video nodes.
  void nodeRemoved(const QString &key, bool is_video);

private:
  void forgetNodes();
  void appendFolderNode(const QString &name);
  void appendVideoNode(const QString &folder, const QString &node_key, const QString &title, const QString &path);
  // Removes the folder's node (when folder is not empty) and the video nodes listed.
  void dropNodes(const QString &folder, const QSet<QString> &video_keys);

  SessionDocument &document_;
  QVector<Node> nodes_;
  QHash<QString, QSet<QString>> folders_; // name -> node keys of its videos
  QHash<QString, QString> video_folders_;  // node key -> folder
  QHash<QString, QString> video_titles_;  // node key -> title
  QHash<QString, QString> video_paths_;   // node key -> path
  QHash<QString, int> path_counts_;       // path -> how many videos have it
  std::set<std::int64_t> entry_keys_;
};

// "K" followed by the entry key.
QString nodeKeyFromEntryKey(const QString &entry_key);

} // namespace session
