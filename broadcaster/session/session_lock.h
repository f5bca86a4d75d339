#pragma once

#include <QLockFile>
#include <QString>

#include <functional>

// Keeps two programs from writing one session file, which would lose each
// other's changes: a lock file beside the session, held while it is open.
class SessionLock {
public:
  // pause_before_rereading waits between reads of a lock file that its
  // holder is still writing; by default a yield of the thread.
  explicit SessionLock(const QString &session_path, std::function<void()> pause_before_rereading = nullptr);
  // Releases the lock when held.
  ~SessionLock() = default;
  SessionLock(const SessionLock &) = delete;
  SessionLock &operator=(const SessionLock &) = delete;

  // Takes the lock; a lock left behind by a process that is gone is taken
  // over (takeoverMessage() then says whose). False when another running
  // process holds it or the lock file cannot be written; message() then
  // says which.
  bool tryLock();
  void unlock();
  bool isLocked() const { return lock_file_.isLocked(); }

  QString sessionPath() const { return session_path_; }
  QString lockFilePath() const { return lock_file_.fileName(); }

  // Why the last tryLock failed, for the operator; empty after a success.
  QString message() const { return message_; }
  // After a tryLock that took over a lock left behind: whose it was. Empty otherwise.
  QString takeoverMessage() const { return takeover_message_; }
  // The process that holds the lock, after a tryLock that found it held.
  qint64 holderPid() const { return holder_pid_; }
  QString holderHost() const { return holder_host_; }

  // The lock file of a session: "<session file>.lock" beside it.
  static QString lockFilePathFor(const QString &session_path);

private:
  // Reads the holder's process id and host; a holder writes its lock file
  // just after creating it, so an empty or cut one is read again briefly.
  bool readHolder();

  QString session_path_;
  QLockFile lock_file_;
  std::function<void()> pause_before_rereading_;
  QString message_;
  QString takeover_message_;
  qint64 holder_pid_ = 0;
  QString holder_host_;
};
