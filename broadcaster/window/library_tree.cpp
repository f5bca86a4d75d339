#include "broadcaster/window/library_tree.h"

#include "broadcaster/window/library_model.h"
#include "broadcaster/window/widget_names.h"

#include <QKeyEvent>
#include <QTreeView>

namespace {
// Folders open by themselves when the search shows no more videos than
// this; a longer list is no answer to look through, and laying it out
// would cost every keystroke.
constexpr int kOpenFoldersUpToVideos = 2000;
} // namespace

LibraryTree::LibraryTree(const session::Library &library, QTreeView *view, QObject *parent)
    : QObject(parent), model_(new LibraryModel(library, this)), view_(view) {
  named(view_, "Library");
  view_->setHeaderHidden(true);
  view_->setUniformRowHeights(true);
  view_->setModel(model_);
  view_->setSelectionMode(QAbstractItemView::SingleSelection);
  view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view_->installEventFilter(this);
  connect(view_, &QTreeView::clicked, this,
          [this](const QModelIndex &index) { emit nodeClicked(keyOf(index), isVideo(index)); });
  connect(view_, &QTreeView::doubleClicked, this,
          [this](const QModelIndex &index) { emit nodeDoubleClicked(keyOf(index), isVideo(index)); });
}

QString LibraryTree::keyOf(const QModelIndex &index) { return index.data(LibraryModel::kKeyRole).toString(); }

bool LibraryTree::isVideo(const QModelIndex &index) { return index.data(LibraryModel::kIsVideoRole).toBool(); }

bool LibraryTree::hasFolder(const QString &name) const { return model_->hasFolder(name); }

bool LibraryTree::hasVideo(const QString &node_key) const { return model_->hasVideo(node_key); }

int LibraryTree::nodeCount() const { return model_->nodeCount(); }

QStringList LibraryTree::folderTexts() const { return model_->shownFolders(); }

QStringList LibraryTree::childTexts(const QString &folder) const { return model_->shownTitles(folder); }

int LibraryTree::shownVideoCount() const { return model_->shownVideoCount(); }

void LibraryTree::expandFolders(const QSet<QString> &names) {
  // Folder by folder: expandAll() would also visit every video.
  for (int row = 0; row < model_->rowCount(); ++row) {
    const QModelIndex folder = model_->index(row, 0);
    if (names.contains(keyOf(folder))) {
      view_->expand(folder);
    }
  }
}

void LibraryTree::expandAll() {
  const QStringList shown = model_->shownFolders();
  expandFolders(QSet<QString>(shown.cbegin(), shown.cend()));
}

void LibraryTree::setFilter(const QString &text) {
  if (text == model_->filter()) {
    return;
  }
  if (model_->filter().isEmpty()) {
    open_before_filter_.clear();
    for (int row = 0; row < model_->rowCount(); ++row) {
      const QModelIndex folder = model_->index(row, 0);
      if (view_->isExpanded(folder)) {
        open_before_filter_.insert(keyOf(folder));
      }
    }
  }
  const QString selected = selectedKey();
  model_->setFilter(text);
  if (text.isEmpty()) {
    expandFolders(open_before_filter_);
  } else if (model_->shownVideoCount() <= kOpenFoldersUpToVideos) {
    expandAll();
  }
  select(selected);
}

QString LibraryTree::selectedKey() const {
  const QModelIndexList selected = view_->selectionModel()->selectedIndexes();
  return selected.isEmpty() ? QString() : keyOf(selected.first());
}

bool LibraryTree::selectedIsVideo() const {
  const QModelIndexList selected = view_->selectionModel()->selectedIndexes();
  return !selected.isEmpty() && isVideo(selected.first());
}

void LibraryTree::select(const QString &key) {
  const QModelIndex index = model_->indexOfNode(key);
  if (index.isValid()) {
    view_->setCurrentIndex(index);
  }
}

void LibraryTree::clearSelection() {
  // Without a current node the view selects no neighbour of a removed one.
  view_->selectionModel()->clear();
}

bool LibraryTree::eventFilter(QObject *watched, QEvent *event) {
  if (watched == view_ && event->type() == QEvent::KeyPress) {
    const auto *key_event = static_cast<QKeyEvent *>(event);
    if (key_event->text() == QStringLiteral(".")) {
      const QString key = selectedKey();
      if (!key.isEmpty()) {
        emit fullStopTyped(key, selectedIsVideo());
      }
      return true;
    }
  }
  return QObject::eventFilter(watched, event);
}
