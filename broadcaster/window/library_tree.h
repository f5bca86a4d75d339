#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

class QTreeWidget;
class QTreeWidgetItem;
namespace session {
class Library;
}

// Shows the library as a two-level tree: folders at the top, their videos
// under them, in the library's order. It follows the library's signals and
// reports the operator's clicks, double-clicks and the typed full stop.
class LibraryTree : public QObject {
  Q_OBJECT

public:
  LibraryTree(const session::Library &library, QTreeWidget *view, QObject *parent = nullptr);

  QTreeWidget *view() const { return view_; }

  // What the tree shows.
  bool hasFolder(const QString &name) const { return folders_.contains(name); }
  bool hasVideo(const QString &node_key) const { return videos_.contains(node_key); }
  int nodeCount() const { return static_cast<int>(folders_.size() + videos_.size()); }
  QStringList childTexts(const QString &folder) const;
  QStringList folderTexts() const;

  // The selected node: its key and kind; empty key when none is selected.
  QString selectedKey() const;
  bool selectedIsVideo() const;
  void selectFolder(const QString &name);

signals:
  void nodeClicked(const QString &key, bool is_video);
  void nodeDoubleClicked(const QString &key, bool is_video);
  void fullStopTyped(const QString &key, bool is_video);

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  static QString keyOf(const QTreeWidgetItem *item);
  static bool isVideo(const QTreeWidgetItem *item);
  void rebuild();
  void addFolder(const QString &name);
  void addVideo(const QString &folder, const QString &node_key, const QString &title);
  void removeNode(const QString &key, bool is_video);

  const session::Library &library_;
  QTreeWidget *view_;
  QHash<QString, QTreeWidgetItem *> folders_;
  QHash<QString, QTreeWidgetItem *> videos_;
};
