#pragma once

#include <QObject>

class PlayQueue;
class QListWidget;

// Shows the play queue: titles in lstQueue (what the operator sees, selects
// and drags) and node keys in the hidden lstKeys, in the queue's order. The
// item on the air is marked (bold, a play sign) with its title unchanged.
// The queue buttons act on the selection through here; what the queue
// refuses (moving or removing the item on the air) changes nothing.
class QueueView : public QObject {
  Q_OBJECT

public:
  QueueView(PlayQueue &queue, QListWidget *titles, QListWidget *keys, QObject *parent = nullptr);

  // Move the selected item one place and keep it selected.
  void moveSelectedUp();
  void moveSelectedDown();
  void removeSelected();
  void clearQueue();
  // Puts the selected item before the row at position (the row count for
  // the end), as a drop there does.
  void dropSelectedBefore(int position);
  int selectedIndex() const;
  void select(int index);

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void rebuild();
  void moveSelectedTo(int index);
  void markOnAir();

  PlayQueue &queue_;
  QListWidget *titles_;
  QListWidget *keys_;
};
