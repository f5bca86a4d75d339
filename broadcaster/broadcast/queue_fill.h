#pragma once

#include <functional>

class PlayQueue;
namespace session {
class Library;
}

// Picks a node position from 1 to node_count, every position equally likely.
using NodeDraw = std::function<int(int node_count)>;

// A draw seeded from the clock.
NodeDraw clockSeededDraw();

// Appends videos drawn at random from the library's nodes until the queue
// holds at least target entries. A draw that lands on a folder is repeated.
// False (and nothing appended) when the library holds no video at all.
bool FillQueue(int target, const session::Library &library, PlayQueue &queue, const NodeDraw &draw);
