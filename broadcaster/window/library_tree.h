#pragma once

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

class LibraryModel;
class QModelIndex;
class QTreeView;
namespace session {
class Library;
}

// Shows the library as a two-level tree: folders at the top, their videos
// under them, in the library's order. It follows the library's signals,
// filters by title, and reports the operator's clicks, double-clicks and
// the typed full stop.
class LibraryTree : public QObject {
  Q_OBJECT

public:
  LibraryTree(const session::Library &library, QTreeView *view, QObject *parent = nullptr);

  QTreeView *view() const { return view_; }

  // What the tree holds, shown or filtered out.
  bool hasFolder(const QString &name) const;
  bool hasVideo(const QString &node_key) const;
  int nodeCount() const;
  // What the tree shows.
  QStringList childTexts(const QString &folder) const;
  QStringList folderTexts() const;
  int shownVideoCount() const;

  // Shows only the videos whose title holds text (ignoring case) and their
  // folders, opened when the videos are few; empty text shows everything
  // and opens the folders that were open before.
  void setFilter(const QString &text);

  // The selected node: its key and kind; empty key when none is selected.
  QString selectedKey() const;
  bool selectedIsVideo() const;
  // Selects a shown node; a node not shown leaves the selection as it is.
  void select(const QString &key);
  void clearSelection();
  void expandAll();

signals:
  void nodeClicked(const QString &key, bool is_video);
  void nodeDoubleClicked(const QString &key, bool is_video);
  void fullStopTyped(const QString &key, bool is_video);

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  static QString keyOf(const QModelIndex &index);
  static bool isVideo(const QModelIndex &index);
  void expandFolders(const QSet<QString> &names);

  LibraryModel *model_;
  QTreeView *view_;
  // The folders open before a filter was typed, opened again when it is cleared.
  QSet<QString> open_before_filter_;
};
