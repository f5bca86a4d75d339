#include "queue_view.h"

#include <play_queue.h>

#include <QListWidget>

QueueView::QueueView(PlayQueue &queue, QListWidget *titles, QListWidget *keys, QObject *parent)
    : QObject(parent), queue_(queue), titles_(titles), keys_(keys) {
  titles_->setObjectName(QStringLiteral("lstQueue"));
  titles_->setSelectionMode(QAbstractItemView::SingleSelection);
  keys_->setObjectName(QStringLiteral("lstKeys"));
  keys_->hide();
  connect(&queue_, &PlayQueue::appended, this, [this](int index) {
    titles_->insertItem(index, queue_.titleAt(index));
    keys_->insertItem(index, queue_.keyAt(index));
  });
  connect(&queue_, &PlayQueue::removed, this, [this](int index) {
    delete keys_->takeItem(index);
    delete titles_->takeItem(index);
  });
  connect(&queue_, &PlayQueue::movedUp, this, [this](int index) {
    for (QListWidget *list : {titles_, keys_}) {
      const QString moving = list->item(index)->text();
      list->item(index)->setText(list->item(index - 1)->text());
      list->item(index - 1)->setText(moving);
    }
  });
  connect(&queue_, &PlayQueue::cleared, this, &QueueView::rebuild);
  rebuild();
}

void QueueView::rebuild() {
  titles_->clear();
  keys_->clear();
  titles_->addItems(queue_.titles());
  keys_->addItems(queue_.keys());
}

int QueueView::selectedIndex() const {
  const QList<QListWidgetItem *> selected = titles_->selectedItems();
  return selected.isEmpty() ? -1 : titles_->row(selected.first());
}

void QueueView::select(int index) {
  titles_->clearSelection();
  if (index >= 0 && index < titles_->count()) {
    titles_->setCurrentRow(index);
  }
}

void QueueView::moveSelectedUp() {
  const int index = selectedIndex();
  if (index <= 0) {
    return;
  }
  queue_.moveUp(index);
  select(index - 1);
}

void QueueView::removeSelected() {
  const int index = selectedIndex();
  if (index < 0) {
    return;
  }
  queue_.removeAt(index);
  titles_->clearSelection();
}
