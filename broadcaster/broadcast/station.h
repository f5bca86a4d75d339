#pragma once

#include "broadcast_driver.h"
#include "control_host.h"
#include "play_queue.h"

#include <session.h>
#include <station_clock.h>

#include <memory>

// What a broadcaster runs on, windows aside: the session, the play queue,
// the streaming control and the driver that joins them. The control is
// looked for next to the executable unless control_folder names a folder.
class Station {
public:
  explicit Station(std::shared_ptr<StationClock> clock = nullptr, const QString &control_folder = QString())
      : driver(session, queue, control, std::move(clock)) {
    control.create(nullptr, QString::fromLatin1(ControlHost::kProgId), control_folder);
    QObject::connect(&driver, &BroadcastDriver::saveNeeded, &session, &session::Session::save);
  }

  session::Session session;
  PlayQueue queue;
  ControlHost control;
  BroadcastDriver driver;
};
