#include "broadcaster/window/queue_view.h"

#include "broadcaster/window/widget_names.h"

#include "broadcaster/broadcast/play_queue.h"

#include <QApplication>
#include <QDropEvent>
#include <QListWidget>
#include <QStyle>

QueueView::QueueView(PlayQueue &queue, QListWidget *titles, QListWidget *keys, QObject *parent)
    : QObject(parent), queue_(queue), titles_(titles), keys_(keys) {
  named(titles_, "lstQueue");
  titles_->setSelectionMode(QAbstractItemView::SingleSelection);
  titles_->setDragDropMode(QAbstractItemView::InternalMove);
  titles_->setDefaultDropAction(Qt::MoveAction);
  // Drops are the queue's moves: the list itself never rearranges its rows.
  titles_->viewport()->installEventFilter(this);
  named(keys_, "lstKeys");
  keys_->hide();
  connect(&queue_, &PlayQueue::appended, this, [this](int index) {
    titles_->insertItem(index, queue_.titleAt(index));
    keys_->insertItem(index, queue_.keyAt(index));
  });
  connect(&queue_, &PlayQueue::removed, this, [this](int index) {
    delete keys_->takeItem(index);
    delete titles_->takeItem(index);
  });
  connect(&queue_, &PlayQueue::moved, this, [this](int from, int to) {
    for (QListWidget *list : {titles_, keys_}) {
      list->insertItem(to, list->takeItem(from));
    }
  });
  connect(&queue_, &PlayQueue::cleared, this, &QueueView::rebuild);
  connect(&queue_, &PlayQueue::onAirChanged, this, &QueueView::markOnAir);
  rebuild();
}

void QueueView::rebuild() {
  titles_->clear();
  keys_->clear();
  titles_->addItems(queue_.titles());
  keys_->addItems(queue_.keys());
  markOnAir();
}

void QueueView::markOnAir() {
  const int on_air = queue_.onAirIndex();
  const QIcon play = QApplication::style()->standardIcon(QStyle::SP_MediaPlay);
  for (int row = 0; row < titles_->count(); ++row) {
    QListWidgetItem *item = titles_->item(row);
    QFont font = item->font();
    font.setBold(row == on_air);
    item->setFont(font);
    item->setIcon(row == on_air ? play : QIcon());
    item->setToolTip(row == on_air ? QStringLiteral("On the air: it stays in place until it has played") : QString());
  }
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

void QueueView::moveSelectedTo(int index) {
  const int selected = selectedIndex();
  if (selected >= 0 && queue_.move(selected, index)) {
    select(index);
  }
}

void QueueView::moveSelectedUp() { moveSelectedTo(selectedIndex() - 1); }

void QueueView::moveSelectedDown() {
  if (selectedIndex() >= 0) {
    moveSelectedTo(selectedIndex() + 1);
  }
}

void QueueView::dropSelectedBefore(int position) {
  const int selected = selectedIndex();
  if (selected >= 0) {
    moveSelectedTo(position > selected ? position - 1 : position);
  }
}

void QueueView::removeSelected() {
  const int index = selectedIndex();
  if (index >= 0 && queue_.removeAt(index)) {
    titles_->clearSelection();
  }
}

void QueueView::clearQueue() { queue_.clear(); }

bool QueueView::eventFilter(QObject *watched, QEvent *event) {
  if (watched == titles_->viewport() && event->type() == QEvent::Drop) {
    auto *drop = static_cast<QDropEvent *>(event);
    const QPoint point = drop->position().toPoint();
    const QModelIndex target = titles_->indexAt(point);
    int position = titles_->count();
    if (target.isValid()) {
      const QRect rect = titles_->visualRect(target);
      position = point.y() < rect.center().y() ? target.row() : target.row() + 1;
    }
    dropSelectedBefore(position);
    // Nothing for the drag to remove at its source.
    drop->setDropAction(Qt::IgnoreAction);
    drop->accept();
    // Ends the list's drag state and drop indicator as its own drop would.
    QDragLeaveEvent leave;
    QCoreApplication::sendEvent(titles_->viewport(), &leave);
    return true;
  }
  return QObject::eventFilter(watched, event);
}
