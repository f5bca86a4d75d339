#pragma once

#include <QString>

// What the library makes of a file by its name alone, and the title it gives
// it. The Library tab, the converter, --import and the joiner all go by this,
// so one file is never an NSV video to one of them and not to another.
// Each function takes a path or a bare file name.
namespace library_files {

enum class Kind { NsvVideo, M3uPlaylist, M3u8Playlist, PlsPlaylist, Other };

// The last three characters of the file's name, lower-cased: "nsv", "m3u" or
// "pls". A name ending in ".m3u8" (any case) is a UTF-8 M3U playlist.
Kind kindOf(const QString &path);
bool isNsvVideo(const QString &path);
bool isPlaylist(const QString &path);

// The file's name with every ".nsv" removed, case-sensitively: "a.nsv.nsv"
// is titled "a", "Show.NSV" keeps its extension.
QString titleOf(const QString &path);

} // namespace library_files
