#pragma once

#include "broadcaster/broadcast/broadcast_driver.h"
#include "broadcaster/broadcast/control_host.h"
#include "broadcaster/broadcast/on_air_model.h"
#include "broadcaster/broadcast/play_queue.h"

#include "broadcaster/session/session.h"
#include "platform/millisecond_clock.h"

#include <memory>

// What a broadcaster runs on, windows aside: the session, the play queue,
// the streaming control, the driver that joins them, and the model of what
// the air is doing. The control is looked for next to the executable unless
// control_folder names a folder.
class Station {
public:
  explicit Station(std::shared_ptr<MillisecondClock> clock = nullptr, const QString &control_folder = QString())
      : driver(session, queue, control, clock), on_air(driver, queue, session, control, clock) {
    control.create(nullptr, QString::fromLatin1(ControlHost::kProgId), control_folder);
    QObject::connect(&driver, &BroadcastDriver::saveNeeded, &session, &session::Session::save);
  }

  session::Session session;
  PlayQueue queue;
  ControlHost control;
  BroadcastDriver driver;
  OnAirModel on_air;
};
