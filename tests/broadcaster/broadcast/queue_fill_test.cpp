// The random top-up of the play queue over the library model.

#include "broadcaster/session/library.h"
#include "broadcaster/broadcast/play_queue.h"
#include "broadcaster/broadcast/queue_fill.h"
#include "broadcaster/session/session_document.h"

#include <gtest/gtest.h>

namespace {

class QueueFillTest : public ::testing::Test {
protected:
  // A session with no folders yet: the tests make their own.
  QueueFillTest() {
    document_.createNew(QStringLiteral("today"));
    document_.removeFolder(QStringLiteral("Videos"));
    document_.removeFolder(QStringLiteral("Promos"));
    tree_.reload();
  }

  void addVideo(const QString &folder, const QString &title) {
    tree_.addVideo(folder, QStringLiteral("/v/") + title + QStringLiteral(".nsv"), title);
  }

  // Draws that count what they were asked and answer from a script (cycled).
  NodeDraw scripted(std::vector<int> positions) {
    return [this, positions](int node_count) {
      last_node_count_ = node_count;
      return positions[static_cast<size_t>(draws_++) % positions.size()];
    };
  }

  session::SessionDocument document_;
  session::Library tree_{document_};
  PlayQueue queue_;
  int draws_ = 0;
  int last_node_count_ = 0;
};

} // namespace

TEST_F(QueueFillTest, ThreeNodeTreeAlwaysAppendsItsVideo) {
  tree_.addFolder(QStringLiteral("Videos"));
  tree_.addFolder(QStringLiteral("Promos"));
  addVideo(QStringLiteral("Promos"), QStringLiteral("Only"));
  // Folders drawn first are simply drawn again.
  ASSERT_TRUE(FillQueue(5, tree_, queue_, scripted({1, 2, 3, 3, 2, 3, 3, 3})));
  EXPECT_EQ(queue_.titles(), (QStringList{"Only", "Only", "Only", "Only", "Only"}));
  EXPECT_EQ(queue_.keys(), (QStringList{"K0", "K0", "K0", "K0", "K0"}));
  EXPECT_EQ(last_node_count_, 3);
  EXPECT_EQ(draws_, 8);
}

TEST_F(QueueFillTest, AppendsOnlyUpToTheTarget) {
  tree_.addFolder(QStringLiteral("F"));
  for (int key = 0; key < 4; ++key) {
    addVideo(QStringLiteral("F"), QStringLiteral("V%1").arg(key));
  }
  queue_.append(QStringLiteral("Mine"), QStringLiteral("K9"));
  queue_.append(QStringLiteral("Also mine"), QStringLiteral("K8"));
  ASSERT_TRUE(FillQueue(5, tree_, queue_, scripted({2, 3, 4, 5})));
  EXPECT_EQ(queue_.titles(), (QStringList{"Mine", "Also mine", "V0", "V1", "V2"}));

  const int draws_before = draws_;
  ASSERT_TRUE(FillQueue(1, tree_, queue_, scripted({2})));
  ASSERT_TRUE(FillQueue(5, tree_, queue_, scripted({2})));
  EXPECT_EQ(draws_, draws_before);
  EXPECT_EQ(queue_.count(), 5);
}

TEST_F(QueueFillTest, FoldersOnlyTreeGivesUp) {
  ASSERT_FALSE(FillQueue(5, tree_, queue_, scripted({1})));
  tree_.addFolder(QStringLiteral("Empty"));
  tree_.addFolder(QStringLiteral("Also empty"));
  EXPECT_FALSE(FillQueue(5, tree_, queue_, scripted({1, 2})));
  EXPECT_EQ(queue_.count(), 0);
  EXPECT_EQ(draws_, 0);
}

TEST_F(QueueFillTest, ClockSeededDrawReachesEveryNodeOfALargeTree) {
  // 1500 nodes: a draw limited to the first 1001 positions never reaches the last.
  for (int folder = 0; folder < 5; ++folder) {
    tree_.addFolder(QStringLiteral("F%1").arg(folder));
  }
  for (int key = 0; key < 1495; ++key) {
    addVideo(QStringLiteral("F%1").arg(key % 5), QStringLiteral("V%1").arg(key));
  }
  ASSERT_EQ(tree_.nodeCount(), 1500);
  const QString last_key = tree_.nodeAt(1500).key;
  const NodeDraw draw = clockSeededDraw();
  bool reached_last = false;
  for (int round = 0; round < 40000 && !reached_last; ++round) {
    const int position = draw(1500);
    ASSERT_GE(position, 1);
    ASSERT_LE(position, 1500);
    reached_last = tree_.nodeAt(position).key == last_key;
  }
  EXPECT_TRUE(reached_last);

  // And through the fill itself, a thousand entries spread over the whole tree.
  ASSERT_TRUE(FillQueue(1000, tree_, queue_, draw));
  int beyond_1001 = 0;
  for (const QString &key : queue_.keys()) {
    beyond_1001 += key.mid(1).toInt() > 1001 ? 1 : 0;
  }
  // About a third of the videos sit past position 1001.
  EXPECT_GT(beyond_1001, 200);
}

TEST_F(QueueFillTest, DeletedNodesLeaveTheDraw) {
  tree_.addFolder(QStringLiteral("A"));
  addVideo(QStringLiteral("A"), QStringLiteral("Gone"));
  tree_.addFolder(QStringLiteral("B"));
  addVideo(QStringLiteral("B"), QStringLiteral("Stays"));
  tree_.removeFolder(QStringLiteral("A"));
  ASSERT_EQ(tree_.nodeCount(), 2);
  ASSERT_TRUE(FillQueue(3, tree_, queue_, scripted({1, 2})));
  EXPECT_EQ(queue_.titles(), (QStringList{"Stays", "Stays", "Stays"}));
}
