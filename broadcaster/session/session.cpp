#include "broadcaster/session/session.h"

#include "broadcaster/base/station_log.h"

#include <QFileInfo>

namespace session {

Session::Session(QObject *parent) : QObject(parent) {}

QString Session::title() const { return QFileInfo(path_).fileName(); }

std::unique_ptr<SessionLock> Session::lockFor(const QString &path) {
  if (lock_ && lock_->lockFilePath() == SessionLock::lockFilePathFor(path)) {
    return std::move(lock_);
  }
  auto lock = std::make_unique<SessionLock>(path);
  if (!lock->tryLock()) {
    lock_message_ = lock->message();
    qCWarning(lcSession).noquote() << lock_message_;
    return nullptr;
  }
  if (!lock->takeoverMessage().isEmpty()) {
    qCInfo(lcSession).noquote() << lock->takeoverMessage();
  }
  return lock;
}

bool Session::createNew(const QString &path, const QString &date_text) {
  std::unique_ptr<SessionLock> lock = lockFor(path);
  if (!lock) {
    return false;
  }
  lock_ = std::move(lock);
  path_ = path;
  document_.createNew(date_text);
  library_.reload();
  qCInfo(lcSession).noquote() << "New session" << path;
  return true;
}

LoadOutcome Session::open(const QString &path) {
  // A file that is not there needs no lock; the load says what is wrong.
  std::unique_ptr<SessionLock> lock = QFileInfo::exists(path) ? lockFor(path) : nullptr;
  if (!lock && QFileInfo::exists(path)) {
    LoadOutcome refused;
    refused.kind = LoadOutcome::Kind::Locked;
    refused.message = lock_message_;
    return refused;
  }
  lock_ = std::move(lock);
  path_ = path;
  const LoadOutcome outcome = document_.load(path);
  library_.reload();
  if (outcome.kind == LoadOutcome::Kind::Loaded) {
    qCInfo(lcSession).noquote() << QStringLiteral("Opened session %1: %2 video(s) in %3 folder(s)")
                                       .arg(path)
                                       .arg(library_.entryCount())
                                       .arg(library_.folderNames().size());
  } else {
    lock_.reset();
    qCWarning(lcSession).noquote() << outcome.message;
  }
  return outcome;
}

void Session::close() {
  document_.clear();
  library_.clear();
  lock_.reset();
}

bool Session::save() {
  if (!isOpen()) {
    last_save_failed_ = false;
    return true;
  }
  emit statisticsChanged(statisticsText());
  QString reason;
  last_save_failed_ = !document_.save(path_, &reason);
  if (!last_save_failed_) {
    return true;
  }
  // The system's reasons come without a full stop ("No space left on device").
  const QString sentence = reason.endsWith(QLatin1Char('.')) ? reason : reason + QLatin1Char('.');
  const QString message =
      QStringLiteral("The session could not be saved to %1:\n%2\n%3").arg(path_, sentence, after_failed_save_);
  qCWarning(lcSession).noquote() << message;
  emit error(message);
  return false;
}

} // namespace session
