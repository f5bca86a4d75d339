#pragma once

#include "convert/encoding_settings.h"
#include "broadcaster/http/http_options.h"

#include <QString>
#include <QStringList>

#include <optional>

// What tarvik-plus was asked to do on its command line.
struct CommandLine {
  enum class Mode {
    Window,     // the main window, with a session and perhaps --start
    Import,     // --import: videos into a session, no window
    NewSession, // --new: write a new session file with the default settings
  };

  Mode mode = Mode::Window;
  bool start = false;
  bool reconnect = false;
  // "hold" or "real-time"; empty when not given (the preference decides).
  QString pace;
  QString log_file;
  QString session_path;
  QStringList inputs;
  QString folder;
  QString output_folder;
  convert::EncodingSettings settings;
  // --http and its companions; none when the API is off.
  std::optional<http_api::HttpOptions> http;

  // Reads the arguments (the program's name first). --help and --version
  // print and end the program. Misuse gives false and says why in error.
  bool parse(const QStringList &arguments, QString *error);
};
