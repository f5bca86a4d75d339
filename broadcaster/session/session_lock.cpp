#include "session_lock.h"

#include <QFileInfo>

QString SessionLock::lockFilePathFor(const QString &session_path) {
  // One lock whatever the path the session was opened by (relative, through
  // a link).
  const QFileInfo info(session_path);
  const QString canonical = info.canonicalFilePath();
  return (canonical.isEmpty() ? info.absoluteFilePath() : canonical) + QStringLiteral(".lock");
}

SessionLock::SessionLock(const QString &session_path)
    : session_path_(session_path), lock_file_(lockFilePathFor(session_path)) {
  // A session stays open for hours: only a holder that is gone makes a lock
  // stale, never its age.
  lock_file_.setStaleLockTime(0);
}

bool SessionLock::tryLock() {
  message_.clear();
  holder_pid_ = 0;
  holder_host_.clear();
  if (lock_file_.isLocked() || lock_file_.tryLock(0)) {
    return true;
  }
  switch (lock_file_.error()) {
  case QLockFile::LockFailedError: {
    QString application;
    if (lock_file_.getLockInfo(&holder_pid_, &holder_host_, &application)) {
      message_ = QStringLiteral("The session %1 is open in another Tarvik+ (process %2 on host %3).")
                     .arg(session_path_)
                     .arg(holder_pid_)
                     .arg(holder_host_.isEmpty() ? QStringLiteral("unknown") : holder_host_);
    } else {
      message_ = QStringLiteral("The session %1 is open in another Tarvik+ (lock file %2).")
                     .arg(session_path_, lock_file_.fileName());
    }
    break;
  }
  case QLockFile::PermissionError:
    message_ = QStringLiteral("The session %1 cannot be locked: no permission to create %2.")
                   .arg(session_path_, lock_file_.fileName());
    break;
  default:
    message_ = QStringLiteral("The session %1 cannot be locked: %2 cannot be created.")
                   .arg(session_path_, lock_file_.fileName());
    break;
  }
  return false;
}

void SessionLock::unlock() { lock_file_.unlock(); }
