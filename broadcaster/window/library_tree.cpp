#include "library_tree.h"

#include <QKeyEvent>
#include <QTreeWidget>

namespace {
constexpr int kKeyRole = Qt::UserRole;
constexpr int kVideoRole = Qt::UserRole + 1;
} // namespace

LibraryTree::LibraryTree(QTreeWidget *view, QObject *parent) : QObject(parent), view_(view) {
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
}

QString LibraryTree::keyOf(const QTreeWidgetItem *item) { return item->data(0, kKeyRole).toString(); }

bool LibraryTree::isVideo(const QTreeWidgetItem *item) { return item->data(0, kVideoRole).toBool(); }

void LibraryTree::clear() {
  view_->clear();
  folders_.clear();
  videos_.clear();
  order_.clear();
}

bool LibraryTree::addFolder(const QString &name) {
  if (name.isEmpty() || folders_.contains(name)) {
    return false;
  }
  auto *item = new QTreeWidgetItem(view_, QStringList{name});
  item->setData(0, kKeyRole, name);
  item->setData(0, kVideoRole, false);
  folders_.insert(name, item);
  order_.append(item);
  return true;
}

bool LibraryTree::addVideo(const QString &folder, const QString &entry_key, const QString &title) {
  QTreeWidgetItem *parent = folders_.value(folder);
  const QString key = QStringLiteral("K") + entry_key;
  if (parent == nullptr || videos_.contains(key)) {
    return false;
  }
  auto *item = new QTreeWidgetItem(parent, QStringList{title});
  item->setData(0, kKeyRole, key);
  item->setData(0, kVideoRole, true);
  videos_.insert(key, item);
  order_.append(item);
  return true;
}

void LibraryTree::forget(QTreeWidgetItem *item) {
  order_.removeOne(item);
  if (isVideo(item)) {
    videos_.remove(keyOf(item));
  } else {
    folders_.remove(keyOf(item));
  }
}

void LibraryTree::removeNode(const QString &key, bool is_video) {
  QTreeWidgetItem *item = is_video ? videos_.value(key) : folders_.value(key);
  if (item == nullptr) {
    return;
  }
  for (int child = 0; child < item->childCount(); ++child) {
    forget(item->child(child));
  }
  forget(item);
  delete item;
}

bool LibraryTree::isVideoAt(int position) const {
  return position >= 1 && position <= nodeCount() && isVideo(order_[position - 1]);
}

QString LibraryTree::keyAt(int position) const {
  return position >= 1 && position <= nodeCount() ? keyOf(order_[position - 1]) : QString();
}

QString LibraryTree::textAt(int position) const {
  return position >= 1 && position <= nodeCount() ? order_[position - 1]->text(0) : QString();
}

QString LibraryTree::firstFolder() const {
  for (QTreeWidgetItem *item : order_) {
    if (!isVideo(item)) {
      return keyOf(item);
    }
  }
  return QString();
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

void LibraryTree::selectVideo(const QString &node_key) {
  if (QTreeWidgetItem *item = videos_.value(node_key)) {
    view_->setCurrentItem(item);
  }
}

QString LibraryTree::videoText(const QString &node_key) const {
  QTreeWidgetItem *item = videos_.value(node_key);
  return item ? item->text(0) : QString();
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
