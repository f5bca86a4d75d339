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
  void removeAt(int index);
  // False when no item has that serial number (any more).
  bool removeItem(std::uint64_t id);
  // Swaps the item with the one above it.
  void moveUp(int index);
  void clear();

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
  // The item at index went to index - 1.
  void movedUp(int index);
  void cleared();
  void modeChanged(PlayQueue::Mode mode);

private:
  QVector<Item> items_;
  std::uint64_t next_id_ = 1;
  Mode mode_ = Mode::Random;
};
