#pragma once

#include "convert/encoding_settings.h"

#include <QString>
#include <QStringList>

#include <functional>

// tarvik-plus --import: videos into a session with no window, for stations
// run on a server. Each file is converted when it needs to be and imported
// into one library folder; the session is saved after every import.
struct ImportCommand {
  QString session_path;
  QStringList inputs;  // files, folders and playlists (.m3u, .m3u8, .pls)
  QString folder;      // empty: the session's first folder
  QString output_folder; // empty: "videos" beside the session file
  convert::EncodingSettings settings;

  enum ExitStatus { kAllImported = 0, kSessionFailed = 1, kSomeSkipped = 2 };

  // Runs to the end in an event loop of its own. on_cancel_hook receives a
  // function that cancels the run (for a termination signal).
  int run(const std::function<void(std::function<void()>)> &on_cancel_hook = nullptr) const;
};
