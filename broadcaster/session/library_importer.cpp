#include "library_importer.h"

#include "library.h"
#include "playlist_file.h"

#include <QDir>
#include <QFileInfo>

QString LibraryImporter::titleFor(const QString &file_name) {
  QString title = file_name;
  return title.remove(QStringLiteral(".nsv"), Qt::CaseSensitive);
}

QString LibraryImporter::kindOf(const QString &file_name) { return file_name.right(3).toLower(); }

QStringList LibraryImporter::playlistPaths(const QString &playlist_path) {
  return session::readPlaylist(playlist_path).paths;
}

bool LibraryImporter::importVideo(const QString &path, const QString &folder) {
  return !library_.addVideo(folder, path, titleFor(QFileInfo(path).fileName())).isEmpty();
}

LibraryImporter::Summary LibraryImporter::importPaths(const QStringList &paths, const QString &folder) {
  Summary summary;
  for (const QString &path : paths) {
    const QFileInfo info(path);
    // A path the session could not load again is left out (the library refuses it).
    if (info.isFile() && kindOf(info.fileName()) == QLatin1String("nsv") && importVideo(path, folder)) {
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
    if (kindOf(name) == QLatin1String("nsv")) {
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
