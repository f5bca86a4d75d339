#pragma once

#include "broadcaster/base/station_settings.h"

#include <QString>

// The server settings of a session: the children of its shoutcast element,
// by name, in file order, and their meaning once read.
namespace session {

namespace setting {
inline constexpr char kHost[] = "host";
inline constexpr char kPort[] = "port";
inline constexpr char kPassword[] = "pass";
inline constexpr char kStreamName[] = "name";
inline constexpr char kGenre[] = "genre";
inline constexpr char kPublic[] = "public";
inline constexpr char kBitrate[] = "bitrate";
inline constexpr char kUrl[] = "url";
inline constexpr char kIrc[] = "irc";
inline constexpr char kIcq[] = "icq";
inline constexpr char kAim[] = "aim";
} // namespace setting

inline constexpr const char *kSettingNames[] = {setting::kHost,    setting::kPort,  setting::kPassword,
                                                setting::kStreamName, setting::kGenre, setting::kPublic,
                                                setting::kBitrate, setting::kUrl,   setting::kIrc,
                                                setting::kIcq,     setting::kAim};

// Each setting goes into a line of the server protocol, where a line break
// would end the line and start one of the value's choosing.
inline bool holdsLineBreak(const QString &value) {
  return value.contains(QLatin1Char('\n')) || value.contains(QLatin1Char('\r'));
}

// The source connection goes to port + 1, so the highest usable port is one
// below the top of the range.
inline constexpr int kLowestPort = 1;
inline constexpr int kHighestPort = 65534;


} // namespace session
