#include "queue_fill.h"

#include <library_tree.h>
#include <play_queue.h>

#include <QDateTime>
#include <QRandomGenerator>

#include <memory>

NodeDraw clockSeededDraw() {
  auto generator = std::make_shared<QRandomGenerator>(static_cast<quint32>(QDateTime::currentMSecsSinceEpoch()));
  return [generator](int node_count) { return static_cast<int>(generator->bounded(node_count)) + 1; };
}

bool FillQueue(int target, const LibraryTree &tree, PlayQueue &queue, const NodeDraw &draw) {
  while (queue.count() <= target - 1) {
    if (tree.videoCount() == 0) {
      return false;
    }
    const int position = draw(tree.nodeCount());
    if (tree.isVideoAt(position)) {
      queue.append(tree.textAt(position), tree.keyAt(position));
    }
  }
  return true;
}
