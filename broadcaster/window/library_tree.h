#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QVector>

class QTreeWidget;
class QTreeWidgetItem;

// The library as a two-level tree: folders (key and text = the folder name)
// at the top, videos (key "K" + entry key, text = title) under their folder.
// Keeps an index from key to node and the order in which nodes were added,
// so lookups and the random draw never scan the tree.
class LibraryTree : public QObject {
  Q_OBJECT

public:
  explicit LibraryTree(QTreeWidget *view, QObject *parent = nullptr);

  QTreeWidget *view() const { return view_; }

  void clear();
  // False when the name is empty or a folder of that name exists.
  bool addFolder(const QString &name);
  // False when the folder does not exist or the video key is taken.
  bool addVideo(const QString &folder, const QString &entry_key, const QString &title);
  // Removes a node; a folder goes with its videos.
  void removeNode(const QString &key, bool is_video);

  bool hasFolder(const QString &name) const { return folders_.contains(name); }
  bool hasVideo(const QString &node_key) const { return videos_.contains(node_key); }

  // Nodes in the order they were added, numbered from 1.
  int nodeCount() const { return static_cast<int>(order_.size()); }
  int videoCount() const { return static_cast<int>(videos_.size()); }
  bool isVideoAt(int position) const;
  QString keyAt(int position) const;
  QString textAt(int position) const;

  QString firstFolder() const;
  QStringList childTexts(const QString &folder) const;
  QStringList folderTexts() const;

  // The selected node: its key and kind; empty key when none is selected.
  QString selectedKey() const;
  bool selectedIsVideo() const;
  void selectFolder(const QString &name);
  void selectVideo(const QString &node_key);
  QString videoText(const QString &node_key) const;

signals:
  void nodeClicked(const QString &key, bool is_video);
  void nodeDoubleClicked(const QString &key, bool is_video);
  void fullStopTyped(const QString &key, bool is_video);

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  static QString keyOf(const QTreeWidgetItem *item);
  static bool isVideo(const QTreeWidgetItem *item);
  void forget(QTreeWidgetItem *item);

  QTreeWidget *view_;
  QHash<QString, QTreeWidgetItem *> folders_;
  QHash<QString, QTreeWidgetItem *> videos_;
  QVector<QTreeWidgetItem *> order_;
};
