#pragma once

#include <QString>
#include <QStringList>

namespace session {

// Playlists larger than this are refused unread: a wrong file chosen as a
// playlist must not fill the memory.
inline constexpr qint64 kPlaylistLimitBytes = 4 * 1024 * 1024;

struct PlaylistContents {
  // The listed paths in order, relative ones resolved against the playlist's folder.
  QStringList paths;
  // .pls entries whose number does not fit, left out.
  int unusable_entries = 0;
  // Why nothing was read; empty when the playlist was read.
  QString error;
};

// Reads an .m3u, .m3u8 or .pls playlist of at most kPlaylistLimitBytes, line
// by line. An .m3u whose bytes are not UTF-8 is read as Latin-1; everything
// else as UTF-8.
PlaylistContents readPlaylist(const QString &playlist_path);

} // namespace session
