#pragma once

// Names of the program's own preferences, kept with QSettings (never in a
// session file).
namespace preference {
inline constexpr char kOrganization[] = "Tarvik";
// Log in again by itself when the server is lost.
inline constexpr char kReconnect[] = "broadcast/reconnect";
} // namespace preference
