#include "convert/file_kinds.h"

#include <QFile>

#include <sys/stat.h>

#include <cerrno>

namespace convert {

PathKind pathKindAt(const QString &path) {
  struct stat status {};
  if (::stat(QFile::encodeName(path).constData(), &status) != 0) {
    switch (errno) {
    case ENOENT:
    case ENOTDIR:
      return {FileKind::Missing};
    case ELOOP:
      return {FileKind::LinkInACircle};
    default:
      return {FileKind::Unreachable, errno};
    }
  }
  if (S_ISREG(status.st_mode)) {
    return {FileKind::RegularFile};
  }
  if (S_ISDIR(status.st_mode)) {
    return {FileKind::Folder};
  }
  if (S_ISFIFO(status.st_mode)) {
    return {FileKind::Fifo};
  }
  return {S_ISSOCK(status.st_mode) ? FileKind::Socket : FileKind::Device};
}

QString PathKind::problem() const {
  switch (kind) {
  case FileKind::RegularFile:
  case FileKind::Folder:
    return QString();
  case FileKind::Missing:
    return QStringLiteral("no such file or folder");
  case FileKind::LinkInACircle:
    return QStringLiteral("a link that leads in a circle");
  case FileKind::Unreachable:
    return QStringLiteral("cannot be reached: %1").arg(qt_error_string(system_error));
  case FileKind::Fifo:
    return QStringLiteral("a FIFO (named pipe), not a regular file; it was not opened");
  case FileKind::Socket:
    return QStringLiteral("a socket, not a regular file; it was not opened");
  case FileKind::Device:
    return QStringLiteral("a device, not a regular file; it was not opened");
  }
  return QString();
}

} // namespace convert
