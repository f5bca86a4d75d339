#pragma once

#include <QString>
#include <QStringList>

namespace session {
class Library;
}

// Adds NSV files to the library: one file, the NSV files a playlist lists,
// or the NSV files of a folder. Each becomes an entry under the given
// folder, titled by library_files::titleOf. Saving is the caller's.
class LibraryImporter {
public:
  struct Summary {
    int imported = 0;
    int skipped = 0;
    // Why nothing was imported, for the operator; empty otherwise.
    QString error;
  };

  explicit LibraryImporter(session::Library &library) : library_(library) {}

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
