#pragma once

#include <QString>
#include <QStringList>

namespace session {
class Library;
}

// Adds NSV files to the library: one file, the NSV files a playlist lists,
// or the NSV files of a folder. Each becomes an entry under the given
// folder. Saving is the caller's.
class LibraryImporter {
public:
  struct Summary {
    int imported = 0;
    int skipped = 0;
    // Why nothing was imported, for the operator; empty otherwise.
    QString error;
  };

  explicit LibraryImporter(session::Library &library) : library_(library) {}

  // The file's name with every ".nsv" removed (case-sensitive).
  static QString titleFor(const QString &file_name);
  // The kind of a file: the last three characters of its name, lower-cased.
  static QString kindOf(const QString &file_name);
  // The paths an .m3u or .pls playlist lists, in order, relative ones
  // resolved against the playlist's folder.
  static QStringList playlistPaths(const QString &playlist_path);

  // False when the folder is gone or the path holds characters a session cannot keep.
  bool importVideo(const QString &path, const QString &folder);
  // NSV files that exist are imported; other entries are counted as skipped.
  Summary importPaths(const QStringList &paths, const QString &folder);
  // The NSV files a playlist lists; its entries that cannot be read count as skipped.
  Summary importPlaylist(const QString &playlist_path, const QString &folder);
  // Every .nsv file directly in the folder, sorted by name.
  Summary importFolder(const QString &folder_path, const QString &folder);

private:
  session::Library &library_;
};
