#pragma once

#include "broadcaster/session/session.h"
#include "convert/encoding_settings.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class ConvertImport;

// tarvik-plus --import: videos into a session with no window, for stations
// run on a server. Each file is converted when it needs to be and imported
// into one library folder; the session is saved after every import. The
// run goes on in the program's event loop and ends with finished().
class ImportCommand : public QObject {
  Q_OBJECT

public:
  struct Request {
    QString session_path;
    QStringList inputs;    // files, folders and playlists (.m3u, .m3u8, .pls)
    QString folder;        // empty: the session's first folder
    QString output_folder; // empty: "videos" beside the session file
    convert::EncodingSettings settings;
  };

  enum ExitStatus { kAllImported = 0, kSessionFailed = 1, kSomeSkipped = 2 };

  explicit ImportCommand(Request request, QObject *parent = nullptr);
  ~ImportCommand() override;

  // Opens the session and starts converting; finished() follows, at once
  // when there is nothing to do.
  void start();
  // Skips the files not yet imported (a termination signal).
  void cancel();

signals:
  void finished(int exit_status);

private:
  // The folder to import into, made when missing; empty when there is none.
  QString prepareTargetFolder();
  void queueInputs();
  void onImportFinished();

  Request request_;
  session::Session session_;
  std::unique_ptr<ConvertImport> import_;
  int count_ = 0;
  // A termination signal may come before the run has started.
  bool cancel_requested_ = false;
};
