#pragma once

#include <QObject>

class PlayQueue;
class QListWidget;

// Shows the play queue: titles in lstQueue (what the operator sees and
// selects) and node keys in the hidden lstKeys, in the queue's order. The
// Up and Remove buttons act on the selection through here.
class QueueView : public QObject {
  Q_OBJECT

public:
  QueueView(PlayQueue &queue, QListWidget *titles, QListWidget *keys, QObject *parent = nullptr);

  // Moves the selected item up one place and keeps it selected.
  void moveSelectedUp();
  void removeSelected();
  int selectedIndex() const;
  void select(int index);

private:
  void rebuild();

  PlayQueue &queue_;
  QListWidget *titles_;
  QListWidget *keys_;
};
