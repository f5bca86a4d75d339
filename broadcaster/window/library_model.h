#pragma once

#include <QAbstractItemModel>
#include <QHash>
#include <QString>
#include <QStringMatcher>
#include <QVector>

#include <memory>
#include <vector>

namespace session {
class Library;
}

// The library as a two-level item model: folders at the top, their videos
// under them, in the library's order. It follows the library's signals with
// row inserts and removals. A title filter shows only the videos whose title
// holds the text (ignoring case) and the folders that hold them; one pass
// over the titles and a model reset, so a keystroke stays cheap however
// large the library.
class LibraryModel : public QAbstractItemModel {
  Q_OBJECT

public:
  static constexpr int kKeyRole = Qt::UserRole;
  static constexpr int kIsVideoRole = Qt::UserRole + 1;

  explicit LibraryModel(const session::Library &library, QObject *parent = nullptr);
  ~LibraryModel() override;

  // Empty text shows everything.
  void setFilter(const QString &text);
  QString filter() const { return filter_; }

  // What the model holds, shown or not.
  bool hasFolder(const QString &name) const { return folder_by_name_.contains(name); }
  bool hasVideo(const QString &node_key) const { return folder_of_video_.contains(node_key); }
  int nodeCount() const { return static_cast<int>(folders_.size() + folder_of_video_.size()); }

  // What is shown: folder names, and a folder's video titles.
  QStringList shownFolders() const;
  QStringList shownTitles(const QString &folder) const;
  int shownVideoCount() const;
  // Invalid when the node is not shown.
  QModelIndex indexOfNode(const QString &key) const;

  QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
  QModelIndex parent(const QModelIndex &child) const override;
  int rowCount(const QModelIndex &parent = QModelIndex()) const override;
  int columnCount(const QModelIndex &parent = QModelIndex()) const override;
  QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

private:
  struct Video {
    QString key;
    QString title;
    // Folded once, so a search compares plain characters.
    QString folded_title;
  };
  struct Folder {
    QString name;
    QVector<Video> videos;
    // Positions in videos of the titles shown, ascending.
    QVector<int> shown;
    // The folder's top-level row, -1 while it is not shown.
    int row = -1;
  };

  void rebuild();
  void addFolder(const QString &name);
  void addVideo(const QString &folder, const QString &node_key, const QString &title);
  void removeNode(const QString &key, bool is_video);
  void removeVideo(const QString &node_key);
  void removeFolder(const QString &name);
  static Video makeVideo(const QString &key, const QString &title) { return {key, title, title.toCaseFolded()}; }
  bool matches(const Video &video) const;
  // Fills folder.shown from scratch, or by narrowing what it shows now.
  void match(Folder &folder, bool narrowing) const;
  bool isShown(const Folder *folder) const;
  int shownRow(const Folder *folder) const { return folder->row; }
  // Rows from first on changed: the folders learn their new rows.
  void numberRowsFrom(int first);
  // The row a folder that becomes shown takes.
  int insertionRow(const Folder *folder) const;
  QModelIndex folderIndex(const Folder *folder) const;

  const session::Library &library_;
  QString filter_;
  QStringMatcher folded_filter_;
  std::vector<std::unique_ptr<Folder>> folders_; // the library's order
  QVector<Folder *> shown_folders_;              // the top-level rows
  QHash<QString, Folder *> folder_by_name_;
  QHash<QString, Folder *> folder_of_video_;
};
