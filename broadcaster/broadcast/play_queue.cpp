#include "broadcaster/broadcast/play_queue.h"

#include <algorithm>

std::uint64_t PlayQueue::append(const QString &title, const QString &node_key) {
  const std::uint64_t id = next_id_++;
  items_.append({id, title, node_key});
  emit appended(count() - 1);
  emit itemsChanged();
  return id;
}

void PlayQueue::takeAt(int index) {
  const bool was_on_air = items_[index].id == on_air_id_;
  items_.remove(index);
  emit removed(index);
  emit itemsChanged();
  if (was_on_air) {
    on_air_id_ = 0;
    emit onAirChanged(0);
  }
}

bool PlayQueue::removeAt(int index) {
  if (index < 0 || index >= count() || items_[index].id == on_air_id_) {
    return false;
  }
  takeAt(index);
  return true;
}

bool PlayQueue::removeItem(std::uint64_t id) {
  const int index = indexOf(id);
  if (index < 0) {
    return false;
  }
  takeAt(index);
  return true;
}

bool PlayQueue::move(int from, int to) {
  if (from < 0 || from >= count() || to < 0 || to >= count() || from == to) {
    return false;
  }
  // The on-air item neither moves nor is passed: it may not lie between the two ends.
  const int on_air = onAirIndex();
  if (on_air >= 0 && std::min(from, to) <= on_air && on_air <= std::max(from, to)) {
    return false;
  }
  items_.move(from, to);
  emit moved(from, to);
  emit itemsChanged();
  return true;
}

void PlayQueue::clear() {
  const int on_air = onAirIndex();
  if (on_air >= 0) {
    const Item kept = items_[on_air];
    items_ = {kept};
  } else {
    items_.clear();
  }
  emit cleared();
  emit itemsChanged();
}

void PlayQueue::setOnAir(std::uint64_t id) {
  if (indexOf(id) < 0) {
    id = 0;
  }
  if (id == on_air_id_) {
    return;
  }
  on_air_id_ = id;
  emit onAirChanged(id);
}

int PlayQueue::indexOf(std::uint64_t id) const {
  if (id == 0) {
    return -1;
  }
  for (int index = 0; index < count(); ++index) {
    if (items_[index].id == id) {
      return index;
    }
  }
  return -1;
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
