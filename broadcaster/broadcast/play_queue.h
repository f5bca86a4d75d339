#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <cstdint>

// The play queue: index 0 plays next. An item holds the title shown and the
// video's node key ("K" + entry key). Every item gets its own serial number,
// so the item a video came from can be found again after the operator moved
// or removed others while it played. The play mode lives here too: it tells
// the broadcast how to top the queue up.
//
// The item on the air (set by the broadcast) stays where it is: the
// operator's moves, removals and Clear never take it away or carry anything
// across it, so nothing goes above it while it is at the head.
class PlayQueue : public QObject {
  Q_OBJECT

public:
  enum class Mode { Random, Manual };
  Q_ENUM(Mode)

  struct Item {
    std::uint64_t id = 0;
    QString title;
    QString node_key;
  };

  using QObject::QObject;

  std::uint64_t append(const QString &title, const QString &node_key);
  // The operator's removal: false (and nothing removed) for the item on the
  // air or an index out of range.
  bool removeAt(int index);
  // The broadcast's removal of an item it played or skipped, on the air or
  // not; the on-air mark goes with it. False when no item has that serial
  // number (any more).
  bool removeItem(std::uint64_t id);
  // Puts the item at from at position to, the others keeping their order.
  // False (and nothing moves) when an index is out of range or the move
  // would take the on-air item along or carry the item across it.
  bool move(int from, int to);
  bool moveUp(int index) { return move(index, index - 1); }
  bool moveDown(int index) { return move(index, index + 1); }
  // Empties the queue but for the item on the air.
  void clear();

  // 0 for none; an id no item has counts as none.
  void setOnAir(std::uint64_t id);
  std::uint64_t onAirId() const { return on_air_id_; }
  // -1 when nothing is on the air.
  int onAirIndex() const { return indexOf(on_air_id_); }
  // -1 when no item has that serial number.
  int indexOf(std::uint64_t id) const;

  int count() const { return static_cast<int>(items_.size()); }
  // An empty item (serial number 0) when index is out of range.
  Item itemAt(int index) const;
  QString titleAt(int index) const { return itemAt(index).title; }
  QString keyAt(int index) const { return itemAt(index).node_key; }
  QStringList titles() const;
  QStringList keys() const;

  Mode mode() const { return mode_; }
  void setMode(Mode mode);

signals:
  void appended(int index);
  void removed(int index);
  // The item at from now is at to.
  void moved(int from, int to);
  // Items were taken out all at once; read the queue again.
  void cleared();
  // After each of the four above, for those that read the whole queue again.
  void itemsChanged();
  void onAirChanged(std::uint64_t id);
  void modeChanged(PlayQueue::Mode mode);

private:
  void takeAt(int index);

  QVector<Item> items_;
  std::uint64_t next_id_ = 1;
  std::uint64_t on_air_id_ = 0;
  Mode mode_ = Mode::Random;
};
