// Fuzzes the playlist reader with the input as an .m3u, .m3u8 or .pls file.

#include "broadcaster/import/playlist_file.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
  static QTemporaryDir folder(QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm/playlist-fuzz-XXXXXX")
                                                                         : QDir::tempPath() + "/playlist-fuzz-XXXXXX");
  if (size == 0) {
    return 0;
  }
  static const char *const names[] = {"list.m3u", "list.m3u8", "list.pls"};
  const QString path = folder.filePath(QLatin1String(names[data[0] % 3]));
  const QByteArray bytes(reinterpret_cast<const char *>(data) + 1, static_cast<qsizetype>(size - 1));
  {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
      std::abort();
    }
  }
  const session::PlaylistContents contents = session::readPlaylist(path);
  // Every listed path comes from a line of its own.
  if (!contents.error.isEmpty() || contents.unusable_entries < 0 ||
      contents.paths.size() + contents.unusable_entries > bytes.count('\n') + 1) {
    std::fprintf(stderr, "unexpected playlist outcome: %d paths, %d unusable, error \"%s\"\n",
                 static_cast<int>(contents.paths.size()), contents.unusable_entries, qPrintable(contents.error));
    std::abort();
  }
  QFile::remove(path);
  return 0;
}
