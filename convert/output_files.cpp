#include "convert/output_files.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace convert {

namespace {

constexpr int kMaximumNumber = 9999;
const QString kWorkFolderInfix = QStringLiteral(".converting-");
// "<process id> <host> <boot id>" of the program converting in the folder;
// programs before the boot id wrote the first two.
const QString kOwnerFile = QStringLiteral("owner");

enum class Owner { Unknown, Running, Gone };

// Tells this boot of the system from earlier ones; empty where the system
// does not say.
QByteArray bootId() {
  static const QByteArray id = [] {
    QFile file(QStringLiteral("/proc/sys/kernel/random/boot_id"));
    return file.open(QIODevice::ReadOnly) ? file.read(64).trimmed() : QByteArray();
  }();
  return id;
}

// A folder of another host, or of an older program, has no owner known here.
Owner ownerOf(const QString &work_folder) {
  QFile owner(QDir(work_folder).filePath(kOwnerFile));
  if (!owner.open(QIODevice::ReadOnly)) {
    return Owner::Unknown;
  }
  const QList<QByteArray> fields = owner.read(256).trimmed().split(' ');
  bool is_number = false;
  const qint64 pid = fields.value(0).toLongLong(&is_number);
  if (!is_number || pid <= 0 || fields.size() < 2 || fields.size() > 3 ||
      QString::fromUtf8(fields[1]) != QSysInfo::machineHostName()) {
    return Owner::Unknown;
  }
  // The owner of an earlier boot is gone, whatever runs under its id now.
  if (fields.size() == 3 && !bootId().isEmpty() && fields[2] != bootId()) {
    return Owner::Gone;
  }
  return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH ? Owner::Gone : Owner::Running;
}

QDateTime newestChange(const QFileInfo &work_folder) {
  const QFileInfoList files =
      QDir(work_folder.filePath()).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
  QDateTime newest = work_folder.lastModified(); // for an empty folder
  for (int index = 0; index < files.size(); ++index) {
    if (index == 0 || files[index].lastModified() > newest) {
      newest = files[index].lastModified();
    }
  }
  return newest;
}

QString numberedPath(const QString &folder, const QString &base_name, const QString &extension, int number) {
  const QString name = number == 1 ? base_name + extension
                                   : QStringLiteral("%1 (%2)%3").arg(base_name).arg(number).arg(extension);
  return QDir(folder).filePath(name);
}

void splitName(const QString &path, QString *folder, QString *base_name, QString *extension) {
  const QFileInfo info(path);
  *folder = info.absolutePath();
  *base_name = info.completeBaseName();
  *extension = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
}

} // namespace

QString workFolderTemplate(const QString &output_path) {
  const QFileInfo output(output_path);
  return output.absoluteDir().filePath(QLatin1Char('.') + output.completeBaseName() + kWorkFolderInfix +
                                       QStringLiteral("XXXXXX"));
}

QStringList removeStaleWorkFolders(const QString &folder, qint64 max_age_s) {
  QStringList removed;
  const QDateTime now = QDateTime::currentDateTimeUtc();
  // Links are left alone: removing one's contents would reach outside.
  const QFileInfoList work_folders =
      QDir(folder).entryInfoList({QStringLiteral(".*") + kWorkFolderInfix + QLatin1Char('*')},
                                 QDir::Dirs | QDir::Hidden | QDir::NoSymLinks | QDir::NoDotAndDotDot);
  for (const QFileInfo &work_folder : work_folders) {
    const Owner owner = ownerOf(work_folder.filePath());
    const bool stale =
        owner == Owner::Gone || (owner == Owner::Unknown && newestChange(work_folder).secsTo(now) > max_age_s);
    if (stale && QDir(work_folder.filePath()).removeRecursively()) {
      removed << work_folder.filePath();
    }
  }
  return removed;
}

bool markWorkFolderOwner(const QString &work_folder, QString *error_text) {
  QFile owner(QDir(work_folder).filePath(kOwnerFile));
  QByteArray line = QByteArray::number(QCoreApplication::applicationPid()) + ' ' + QSysInfo::machineHostName().toUtf8();
  if (!bootId().isEmpty()) {
    line += ' ' + bootId();
  }
  line += '\n';
  if (!owner.open(QIODevice::WriteOnly) || owner.write(line) != line.size() || !owner.flush()) {
    *error_text = owner.errorString();
    return false;
  }
  return true;
}

QString moveToFreeName(const QString &finished_path, const QString &wanted_path, QString *error_text) {
  QString folder, base_name, extension;
  splitName(wanted_path, &folder, &base_name, &extension);
  for (int number = 1; number <= kMaximumNumber; ++number) {
    const QString candidate = numberedPath(folder, base_name, extension, number);
    if (QFileInfo::exists(candidate)) {
      continue;
    }
    QFile finished(finished_path);
    if (finished.rename(candidate)) {
      return candidate;
    }
    // Taken between the look and the rename: try the next number.
    if (!QFileInfo::exists(candidate)) {
      *error_text = QStringLiteral("cannot rename %1 to %2: %3").arg(finished_path, candidate, finished.errorString());
      return QString();
    }
  }
  *error_text = QStringLiteral("no free name for %1 in %2").arg(base_name + extension, folder);
  return QString();
}

bool moveReplacing(const QString &finished_path, const QString &wanted_path, QString *error_text) {
  if (std::rename(QFile::encodeName(finished_path).constData(), QFile::encodeName(wanted_path).constData()) != 0) {
    *error_text = QStringLiteral("cannot rename %1 to %2: %3")
                      .arg(finished_path, wanted_path, QString::fromLocal8Bit(std::strerror(errno)));
    return false;
  }
  return true;
}

} // namespace convert
