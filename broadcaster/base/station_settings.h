#pragma once

#include <QString>

// What a station tells the server when it logs in as the source: read from
// the session's server settings and handed to the streaming control's Setup.
struct StationSettings {
  QString address;
  int port = 0;
  QString password;
  QString stream_name;
  QString genre;
  int is_public = 0;
  QString bitrate;
  QString url;
  QString irc;
  QString icq;
  QString aim;
};
