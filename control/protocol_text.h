#pragma once

#include "control/pellox_export.h"

#include <QByteArray>
#include <QString>

// The texts the control puts on the wire. All protocol text is single-byte
// Latin-1; a character outside Latin-1 goes out as "?".
namespace pellox {

struct StationAnnouncement {
  QString stream_name;
  QString genre;
  int yp = 0;
  QString bitrate;
  QString url;
  QString irc;
  QString icq;
  QString aim;
};

PELLOX_EXPORT QByteArray protocolText(const QString &text);

// Password followed by CR LF: the whole source login.
PELLOX_EXPORT QByteArray loginLine(const QString &password);

// The ten icy- header lines, each ended by CR LF, followed by three more CR LF.
// A CR or LF inside a value becomes a space so it cannot start a new line.
PELLOX_EXPORT QByteArray headerBlock(const StationAnnouncement &station);

// Percent-encodes what would change the meaning of a query value: space, "%",
// "&", "#", "+" and every control character. The rest stays as it is.
PELLOX_EXPORT QByteArray escapeQueryValue(const QString &value);

// The one-shot HTTP/1.0 title update for the server's administration page.
PELLOX_EXPORT QByteArray titleRequest(const QString &password, const QString &title);

} // namespace pellox
