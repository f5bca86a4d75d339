#include "broadcaster/session/session_lock.h"

#include <QFileInfo>
#include <QThread>

#include <cerrno>
#include <csignal>

namespace {

// A holder writes a few dozen bytes right after creating the file, within
// microseconds: reading again after yielding covers that without making
// the window's thread sleep.
constexpr int kHolderReads = 100;

bool isProcessGone(qint64 pid) { return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH; }

} // namespace

QString SessionLock::lockFilePathFor(const QString &session_path) {
  // One lock whatever the path the session was opened by (relative, through
  // a link).
  const QFileInfo info(session_path);
  const QString canonical = info.canonicalFilePath();
  return (canonical.isEmpty() ? info.absoluteFilePath() : canonical) + QStringLiteral(".lock");
}

SessionLock::SessionLock(const QString &session_path, std::function<void()> pause_before_rereading)
    : session_path_(session_path), lock_file_(lockFilePathFor(session_path)),
      pause_before_rereading_(std::move(pause_before_rereading)) {
  if (!pause_before_rereading_) {
    pause_before_rereading_ = [] { QThread::yieldCurrentThread(); };
  }
  // A session stays open for hours: only a holder that is gone makes a lock
  // stale, never its age.
  lock_file_.setStaleLockTime(0);
}

bool SessionLock::readHolder() {
  QString application;
  for (int read = 1;; ++read) {
    if (lock_file_.getLockInfo(&holder_pid_, &holder_host_, &application)) {
      return true;
    }
    if (read == kHolderReads || !QFileInfo::exists(lock_file_.fileName())) {
      return false;
    }
    pause_before_rereading_();
  }
}

bool SessionLock::tryLock() {
  message_.clear();
  takeover_message_.clear();
  holder_pid_ = 0;
  holder_host_.clear();
  if (lock_file_.isLocked()) {
    return true;
  }
  // Whose lock is there before: the lock file takes over a dead holder's
  // lock without a word.
  QString application;
  qint64 previous_pid = 0;
  QString previous_host;
  const bool was_held = lock_file_.getLockInfo(&previous_pid, &previous_host, &application);
  // A lock file that cannot be created leaves the system's reason in errno.
  errno = 0;
  if (lock_file_.tryLock(0)) {
    if (was_held && isProcessGone(previous_pid)) {
      takeover_message_ = QStringLiteral("Took over the lock of the session %1 from process %2 on host %3, which is gone.")
                              .arg(session_path_)
                              .arg(previous_pid)
                              .arg(previous_host.isEmpty() ? QStringLiteral("unknown") : previous_host);
    }
    return true;
  }
  const int create_errno = errno;
  switch (lock_file_.error()) {
  case QLockFile::LockFailedError:
    if (readHolder()) {
      message_ = QStringLiteral("The session %1 is open in another Tarvik+ (process %2 on host %3).")
                     .arg(session_path_)
                     .arg(holder_pid_)
                     .arg(holder_host_.isEmpty() ? QStringLiteral("unknown") : holder_host_);
    } else {
      message_ = QStringLiteral("The session %1 is open in another Tarvik+ (lock file %2).")
                     .arg(session_path_, lock_file_.fileName());
    }
    break;
  case QLockFile::PermissionError:
    if (create_errno != EROFS) {
      message_ = QStringLiteral("The session %1 cannot be locked: no permission to create %2.")
                     .arg(session_path_, lock_file_.fileName());
      break;
    }
    [[fallthrough]];
  default:
    message_ = QStringLiteral("The session %1 cannot be locked: %2 cannot be created%3.")
                   .arg(session_path_, lock_file_.fileName(),
                        create_errno != 0 ? QStringLiteral(": ") + qt_error_string(create_errno) : QString());
    break;
  }
  return false;
}

void SessionLock::unlock() { lock_file_.unlock(); }
