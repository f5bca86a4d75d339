// The play queue's moves and removals around the item on the air.

#include "broadcaster/broadcast/play_queue.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

namespace {

QStringList filled(PlayQueue &queue, const QStringList &titles) {
  for (const QString &title : titles) {
    queue.append(title, QStringLiteral("K") + title);
  }
  return queue.titles();
}

} // namespace

TEST(PlayQueueTest, NothingMovesTheOnAirItemOrPassesIt) {
  PlayQueue queue;
  filled(queue, {"A", "B", "C", "D", "E"});
  const std::uint64_t on_air = queue.itemAt(2).id;
  QSignalSpy on_air_changes(&queue, &PlayQueue::onAirChanged);
  queue.setOnAir(on_air);
  queue.setOnAir(on_air);
  EXPECT_EQ(on_air_changes.count(), 1);
  EXPECT_EQ(queue.onAirIndex(), 2);

  // Whole-queue readers hear of each change once, and of no refusal.
  QSignalSpy items_changes(&queue, &PlayQueue::itemsChanged);
  EXPECT_FALSE(queue.move(2, 0));
  EXPECT_FALSE(queue.moveDown(2));
  EXPECT_FALSE(queue.move(0, 3));
  EXPECT_FALSE(queue.move(4, 1));
  EXPECT_FALSE(queue.moveUp(3));
  EXPECT_FALSE(queue.removeAt(2));
  EXPECT_FALSE(queue.move(0, 5));
  EXPECT_EQ(queue.titles(), (QStringList{"A", "B", "C", "D", "E"}));

  QSignalSpy moves(&queue, &PlayQueue::moved);
  EXPECT_TRUE(queue.moveDown(0));
  EXPECT_TRUE(queue.move(4, 3));
  EXPECT_EQ(queue.titles(), (QStringList{"B", "A", "C", "E", "D"}));
  ASSERT_EQ(moves.count(), 2);
  EXPECT_EQ(moves.at(1), (QList<QVariant>{4, 3}));
  EXPECT_EQ(queue.keys(), (QStringList{"KB", "KA", "KC", "KE", "KD"}));

  QSignalSpy cleared(&queue, &PlayQueue::cleared);
  queue.clear();
  EXPECT_EQ(cleared.count(), 1);
  EXPECT_EQ(items_changes.count(), 3);
  EXPECT_EQ(queue.titles(), QStringList{"C"});
  EXPECT_EQ(queue.onAirId(), on_air);
}

TEST(PlayQueueTest, TheBroadcastTakesOutTheOnAirItemAndItsMark) {
  PlayQueue queue;
  filled(queue, {"A", "B"});
  queue.setOnAir(12345); // no such item
  EXPECT_EQ(queue.onAirId(), 0u);
  queue.setOnAir(queue.itemAt(0).id);
  QSignalSpy on_air_changes(&queue, &PlayQueue::onAirChanged);
  EXPECT_TRUE(queue.removeItem(queue.itemAt(0).id));
  EXPECT_EQ(queue.titles(), QStringList{"B"});
  EXPECT_EQ(queue.onAirId(), 0u);
  ASSERT_EQ(on_air_changes.count(), 1);
  EXPECT_EQ(on_air_changes.at(0).at(0).value<std::uint64_t>(), 0u);
  queue.clear();
  EXPECT_EQ(queue.count(), 0);
}
