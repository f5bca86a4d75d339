#include "library_tree.h"

#include <library.h>

#include <QKeyEvent>
#include <QTreeWidget>

namespace {
constexpr int kKeyRole = Qt::UserRole;
constexpr int kVideoRole = Qt::UserRole + 1;
} // namespace

LibraryTree::LibraryTree(const session::Library &library, QTreeWidget *view, QObject *parent)
    : QObject(parent), library_(library), view_(view) {
  view_->setObjectName(QStringLiteral("Library"));
  view_->setHeaderHidden(true);
  view_->setColumnCount(1);
  view_->setSelectionMode(QAbstractItemView::SingleSelection);
  view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view_->installEventFilter(this);
  connect(view_, &QTreeWidget::itemClicked, this,
          [this](QTreeWidgetItem *item) { emit nodeClicked(keyOf(item), isVideo(item)); });
  connect(view_, &QTreeWidget::itemDoubleClicked, this,
          [this](QTreeWidgetItem *item) { emit nodeDoubleClicked(keyOf(item), isVideo(item)); });
  connect(&library_, &session::Library::reset, this, &LibraryTree::rebuild);
  connect(&library_, &session::Library::folderAdded, this, &LibraryTree::addFolder);
  connect(&library_, &session::Library::videoAdded, this, &LibraryTree::addVideo);
  connect(&library_, &session::Library::nodeRemoved, this, &LibraryTree::removeNode);
  rebuild();
}

QString LibraryTree::keyOf(const QTreeWidgetItem *item) { return item->data(0, kKeyRole).toString(); }

bool LibraryTree::isVideo(const QTreeWidgetItem *item) { return item->data(0, kVideoRole).toBool(); }

void LibraryTree::rebuild() {
  view_->clear();
  folders_.clear();
  videos_.clear();
  // A folder always comes before its videos in the library's order.
  for (int position = 1; position <= library_.nodeCount(); ++position) {
    const session::Library::Node &node = library_.nodeAt(position);
    if (node.is_video) {
      addVideo(library_.folderOf(node.key), node.key, node.text);
    } else {
      addFolder(node.key);
    }
  }
}

void LibraryTree::addFolder(const QString &name) {
  auto *item = new QTreeWidgetItem(view_, QStringList{name});
  item->setData(0, kKeyRole, name);
  item->setData(0, kVideoRole, false);
  folders_.insert(name, item);
}

void LibraryTree::addVideo(const QString &folder, const QString &node_key, const QString &title) {
  QTreeWidgetItem *parent = folders_.value(folder);
  if (parent == nullptr) {
    return;
  }
  auto *item = new QTreeWidgetItem(parent, QStringList{title});
  item->setData(0, kKeyRole, node_key);
  item->setData(0, kVideoRole, true);
  videos_.insert(node_key, item);
}

void LibraryTree::removeNode(const QString &key, bool is_video) {
  QTreeWidgetItem *item = is_video ? videos_.take(key) : folders_.take(key);
  if (item == nullptr) {
    return;
  }
  for (int child = 0; child < item->childCount(); ++child) {
    videos_.remove(keyOf(item->child(child)));
  }
  delete item;
}

QStringList LibraryTree::folderTexts() const {
  QStringList texts;
  for (int index = 0; index < view_->topLevelItemCount(); ++index) {
    texts << view_->topLevelItem(index)->text(0);
  }
  return texts;
}

QStringList LibraryTree::childTexts(const QString &folder) const {
  QStringList texts;
  if (QTreeWidgetItem *item = folders_.value(folder)) {
    for (int child = 0; child < item->childCount(); ++child) {
      texts << item->child(child)->text(0);
    }
  }
  return texts;
}

QString LibraryTree::selectedKey() const {
  const QList<QTreeWidgetItem *> selected = view_->selectedItems();
  return selected.isEmpty() ? QString() : keyOf(selected.first());
}

bool LibraryTree::selectedIsVideo() const {
  const QList<QTreeWidgetItem *> selected = view_->selectedItems();
  return !selected.isEmpty() && isVideo(selected.first());
}

void LibraryTree::selectFolder(const QString &name) {
  if (QTreeWidgetItem *item = folders_.value(name)) {
    view_->setCurrentItem(item);
  }
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
