#include "broadcaster/import/library_importer.h"

#include "broadcaster/session/library.h"
#include "broadcaster/import/playlist_file.h"

#include "broadcaster/import/library_files.h"

#include <QDir>
#include <QFileInfo>

bool LibraryImporter::importVideo(const QString &path, const QString &folder) {
  return !library_.addVideo(folder, path, library_files::titleOf(path)).isEmpty();
}

LibraryImporter::Summary LibraryImporter::importPaths(const QStringList &paths, const QString &folder) {
  Summary summary;
  for (const QString &path : paths) {
    const QFileInfo info(path);
    // A path the session could not load again is left out (the library refuses it).
    if (info.isFile() && library_files::isNsvVideo(path) && importVideo(path, folder)) {
      ++summary.imported;
    } else {
      ++summary.skipped;
    }
  }
  return summary;
}

LibraryImporter::Summary LibraryImporter::importFolder(const QString &folder_path, const QString &folder) {
  const QDir dir(folder_path);
  QStringList paths;
  for (const QString &name : dir.entryList(QDir::Files, QDir::Name)) {
    if (library_files::isNsvVideo(name)) {
      paths << dir.filePath(name);
    }
  }
  return importPaths(paths, folder);
}

LibraryImporter::Summary LibraryImporter::importPlaylist(const QString &playlist_path, const QString &folder) {
  const session::PlaylistContents contents = session::readPlaylist(playlist_path);
  Summary summary = importPaths(contents.paths, folder);
  summary.skipped += contents.unusable_entries;
  summary.error = contents.error;
  return summary;
}
