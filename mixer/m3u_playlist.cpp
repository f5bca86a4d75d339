#include "mixer/m3u_playlist.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

QStringList readM3uPlaylist(const QString &path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
    return {};
  }
  const QDir base = QFileInfo(path).absoluteDir();
  QStringList entries;
  for (const QByteArray &raw : file.readAll().split('\n')) {
    const QString line = QString::fromUtf8(raw).trimmed();
    if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) {
      continue;
    }
    const QUrl url(line);
    if (url.isLocalFile()) {
      entries << url.toLocalFile();
    } else if (!url.scheme().isEmpty() && url.scheme().size() > 1) {
      entries << line; // a stream address, kept as it is
    } else {
      entries << QDir::cleanPath(base.absoluteFilePath(line));
    }
  }
  return entries;
}
