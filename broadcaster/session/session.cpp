#include "session.h"

#include <QFileInfo>

namespace session {

Session::Session(QObject *parent) : QObject(parent) {}

QString Session::title() const { return QFileInfo(path_).fileName(); }

void Session::createNew(const QString &path, const QString &date_text) {
  path_ = path;
  document_.createNew(date_text);
  library_.reload();
}

LoadOutcome Session::open(const QString &path) {
  path_ = path;
  const LoadOutcome outcome = document_.load(path);
  library_.reload();
  return outcome;
}

void Session::close() {
  document_.clear();
  library_.clear();
}

bool Session::save() {
  QString reason;
  if (document_.isEmpty() || document_.save(path_, &reason)) {
    return true;
  }
  emit error(QStringLiteral("The session could not be saved to %1:\r\n%2\r\nThe session stays open, and the next "
                            "change tries to save it again.")
                 .arg(path_, reason));
  return false;
}

} // namespace session
