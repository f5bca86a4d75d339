#pragma once

#include <QStringList>

class QListWidget;

// The play queue: titles in lstQueue (what the operator sees and selects)
// and node keys in the hidden lstKeys, kept in step. Index 0 plays next.
class PlayQueue {
public:
  PlayQueue(QListWidget *titles, QListWidget *keys);

  void append(const QString &title, const QString &node_key);
  // Swaps the selected item with the one above and keeps it selected.
  void moveSelectedUp();
  void removeSelected();
  void removeAt(int index);
  void clear();

  int count() const;
  QString titleAt(int index) const;
  QString keyAt(int index) const;
  QStringList titles() const;
  QStringList keys() const;
  int selectedIndex() const;
  void select(int index);

private:
  QListWidget *titles_;
  QListWidget *keys_;
};
