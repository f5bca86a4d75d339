#pragma once

#include "broadcaster/session/library.h"
#include "broadcaster/session/session_document.h"
#include "broadcaster/session/session_lock.h"

#include <QObject>
#include <QString>

#include <memory>

namespace session {

// The open session: its document, its file and its library. Opening,
// creating and saving happen here, with no window involved; failures come
// back as results and through error(). While a session is open its file is
// locked, so a second program cannot open it and overwrite its changes.
class Session : public QObject {
  Q_OBJECT

public:
  explicit Session(QObject *parent = nullptr);

  SessionDocument &document() { return document_; }
  const SessionDocument &document() const { return document_; }
  Library &library() { return library_; }
  const Library &library() const { return library_; }

  bool isOpen() const { return !document_.isEmpty(); }
  QString path() const { return path_; }
  // The file's name without its folder, as the statistics show it.
  QString title() const;

  // A new session with the default settings, to be saved at path. False
  // (and the open session kept) when another program holds that file;
  // lockMessage() says which.
  bool createNew(const QString &path, const QString &date_text);
  // Reads and checks the file; on failure no session is open afterwards,
  // except when the file is locked (Kind::Locked): then nothing changed.
  LoadOutcome open(const QString &path);
  QString lockMessage() const { return lock_message_; }
  void close();

  // Refreshes the statistics (statisticsChanged) and writes the document to
  // its file; nothing while no session is open. Every save goes through
  // here, so whatever shows the statistics follows every save. A failed
  // write is reported through error() and leaves the session open; the
  // next save tries again.
  bool save();
  // The last save failed and nothing was saved since: the file is behind.
  bool lastSaveFailed() const { return last_save_failed_; }
  // The sentence that ends a failed save's message: what happens next. By
  // default the window's: the session stays open and the next change
  // tries again.
  void setAfterFailedSave(const QString &sentence) { after_failed_save_ = sentence; }

  QString statisticsText() const { return document_.statisticsText(title()); }

signals:
  void error(const QString &message);
  // statisticsText(), as each save refreshes it.
  void statisticsChanged(const QString &text);

private:
  // The lock of path, the one already held when it is the open session's.
  std::unique_ptr<SessionLock> lockFor(const QString &path);

  SessionDocument document_;
  Library library_{document_};
  QString path_;
  std::unique_ptr<SessionLock> lock_;
  QString lock_message_;
  bool last_save_failed_ = false;
  QString after_failed_save_ = QStringLiteral("The session stays open, and the next change tries to save it again.");
};

} // namespace session
