#include "broadcaster/broadcast/queue_fill.h"

#include "broadcaster/broadcast/play_queue.h"

#include "broadcaster/session/library.h"

#include <QDateTime>
#include <QRandomGenerator>

#include <memory>

NodeDraw clockSeededDraw() {
  auto generator = std::make_shared<QRandomGenerator>(static_cast<quint32>(QDateTime::currentMSecsSinceEpoch()));
  return [generator](int node_count) { return static_cast<int>(generator->bounded(node_count)) + 1; };
}

bool FillQueue(int target, const session::Library &library, PlayQueue &queue, const NodeDraw &draw) {
  while (queue.count() <= target - 1) {
    if (library.videoCount() == 0) {
      return false;
    }
    const int position = draw(library.nodeCount());
    if (position < 1 || position > library.nodeCount()) {
      continue;
    }
    const session::Library::Node &node = library.nodeAt(position);
    if (node.is_video) {
      queue.append(node.text, node.key);
    }
  }
  return true;
}
