#include "play_queue.h"

#include <utility>

std::uint64_t PlayQueue::append(const QString &title, const QString &node_key) {
  const std::uint64_t id = next_id_++;
  items_.append({id, title, node_key});
  emit appended(count() - 1);
  return id;
}

void PlayQueue::removeAt(int index) {
  if (index < 0 || index >= count()) {
    return;
  }
  items_.remove(index);
  emit removed(index);
}

bool PlayQueue::removeItem(std::uint64_t id) {
  for (int index = 0; index < count(); ++index) {
    if (items_[index].id == id) {
      removeAt(index);
      return true;
    }
  }
  return false;
}

void PlayQueue::moveUp(int index) {
  if (index <= 0 || index >= count()) {
    return;
  }
  std::swap(items_[index], items_[index - 1]);
  emit movedUp(index);
}

void PlayQueue::clear() {
  items_.clear();
  emit cleared();
}

PlayQueue::Item PlayQueue::itemAt(int index) const {
  return index >= 0 && index < count() ? items_[index] : Item{};
}

QStringList PlayQueue::titles() const {
  QStringList texts;
  for (const Item &item : items_) {
    texts << item.title;
  }
  return texts;
}

QStringList PlayQueue::keys() const {
  QStringList texts;
  for (const Item &item : items_) {
    texts << item.node_key;
  }
  return texts;
}

void PlayQueue::setMode(Mode mode) {
  if (mode_ == mode) {
    return;
  }
  mode_ = mode;
  emit modeChanged(mode);
}
