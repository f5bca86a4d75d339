#include "play_queue.h"

#include <QListWidget>

PlayQueue::PlayQueue(QListWidget *titles, QListWidget *keys) : titles_(titles), keys_(keys) {
  titles_->setObjectName(QStringLiteral("lstQueue"));
  titles_->setSelectionMode(QAbstractItemView::SingleSelection);
  keys_->setObjectName(QStringLiteral("lstKeys"));
  keys_->hide();
}

void PlayQueue::append(const QString &title, const QString &node_key) {
  titles_->addItem(title);
  keys_->addItem(node_key);
}

int PlayQueue::selectedIndex() const {
  const QList<QListWidgetItem *> selected = titles_->selectedItems();
  return selected.isEmpty() ? -1 : titles_->row(selected.first());
}

void PlayQueue::select(int index) {
  titles_->clearSelection();
  if (index >= 0 && index < count()) {
    titles_->setCurrentRow(index);
  }
}

void PlayQueue::moveSelectedUp() {
  const int index = selectedIndex();
  if (index <= 0) {
    return;
  }
  for (QListWidget *list : {titles_, keys_}) {
    const QString moving = list->item(index)->text();
    list->item(index)->setText(list->item(index - 1)->text());
    list->item(index - 1)->setText(moving);
  }
  select(index - 1);
}

void PlayQueue::removeSelected() {
  const int index = selectedIndex();
  if (index < 0) {
    return;
  }
  removeAt(index);
  titles_->clearSelection();
}

void PlayQueue::removeAt(int index) {
  if (index < 0 || index >= count()) {
    return;
  }
  delete keys_->takeItem(index);
  delete titles_->takeItem(index);
}

void PlayQueue::clear() {
  titles_->clear();
  keys_->clear();
}

int PlayQueue::count() const { return titles_->count(); }

QString PlayQueue::titleAt(int index) const {
  return index >= 0 && index < titles_->count() ? titles_->item(index)->text() : QString();
}

QString PlayQueue::keyAt(int index) const {
  return index >= 0 && index < keys_->count() ? keys_->item(index)->text() : QString();
}

QStringList PlayQueue::titles() const {
  QStringList texts;
  for (int index = 0; index < titles_->count(); ++index) {
    texts << titles_->item(index)->text();
  }
  return texts;
}

QStringList PlayQueue::keys() const {
  QStringList texts;
  for (int index = 0; index < keys_->count(); ++index) {
    texts << keys_->item(index)->text();
  }
  return texts;
}
