#pragma once

#include <QString>

class Pellox;

// Whether the stream keeps going whatever the host's thread does, and how
// fast Stop and Exit take effect.
namespace bench {

// Logs control in to the loopback receiver at port; false after 10 s.
bool logInToReceiver(Pellox &control, int port);

// Children, each in a process of its own: a video streamed while the host's
// thread sleeps 10 s, holds a modal dialog 10 s and computes 2 s; a video
// stopped (and one disconnected) after 3 s.
int busyWindowChild(const QString &path, int port);
int stopChild(const QString &path, int port);

// Runs both children and Tarvik+ itself (Exit by SIGTERM in the middle of a
// video) and prints their figures next to the targets.
void runResponsiveness(const QString &video_path, int timeout_ms);

} // namespace bench
