#include "broadcaster/command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace {

bool readEncoding(const QCommandLineParser &parser, const QList<QCommandLineOption> &options,
                  convert::EncodingSettings *settings, QString *error) {
  const QCommandLineOption &size = options[0];
  const QCommandLineOption &fps = options[1];
  const QCommandLineOption &video_kbps = options[2];
  const QCommandLineOption &audio_kbps = options[3];
  if (parser.isSet(size) && !convert::parseFrameSize(parser.value(size), &settings->width, &settings->height)) {
    *error = QStringLiteral("--size \"%1\" is not WIDTHxHEIGHT, for example 640x360.").arg(parser.value(size));
    return false;
  }
  if (parser.isSet(fps) && !convert::parseFrameRate(parser.value(fps), &settings->frames_per_second)) {
    *error = QStringLiteral("--fps \"%1\" is not a frame rate such as 25 or 29.97.").arg(parser.value(fps));
    return false;
  }
  bool ok = true;
  if (parser.isSet(video_kbps)) {
    settings->video_kbps = parser.value(video_kbps).toInt(&ok);
  }
  if (ok && parser.isSet(audio_kbps)) {
    settings->audio_kbps = parser.value(audio_kbps).toInt(&ok);
  }
  *error = ok ? settings->problem() : QStringLiteral("The bit rates must be whole numbers of kbit/s.");
  return error->isEmpty();
}

// --http, --http-token-file and --http-allow-origin; false when they do not go together.
bool readHttp(const QCommandLineParser &parser, const QList<QCommandLineOption> &options,
              std::optional<http_api::HttpOptions> *http, QString *error) {
  const QCommandLineOption &listen = options[0];
  const QCommandLineOption &token_file = options[1];
  const QCommandLineOption &allow_origin = options[2];
  if (!parser.isSet(listen)) {
    if (parser.isSet(token_file) || parser.isSet(allow_origin)) {
      *error = QStringLiteral("--http-token-file and --http-allow-origin go with --http.");
      return false;
    }
    return true;
  }
  http_api::HttpOptions chosen;
  if (!http_api::parseListenAddress(parser.value(listen), &chosen.address, &chosen.port, error)) {
    return false;
  }
  chosen.token_file = parser.value(token_file);
  for (const QString &text : parser.values(allow_origin)) {
    QString origin;
    if (!http_api::parseOrigin(text, &origin, error)) {
      return false;
    }
    chosen.allowed_origins << origin;
  }
  *http = chosen;
  return true;
}

} // namespace

bool CommandLine::parse(const QStringList &arguments, QString *error) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Tarvik+ broadcasts a library of NSV videos to a Shoutcast server.\n\n"
                     "  tarvik-plus [--start] [--reconnect] [--pace hold|real-time] [--log FILE]\n"
                     "              [--http [ADDRESS:]PORT [--http-token-file FILE] [--http-allow-origin ORIGIN]...]\n"
                     "              [SESSION.xml]\n"
                     "  tarvik-plus --import [--folder NAME] [encoding options] SESSION.xml FILE_OR_FOLDER...\n"
                     "  tarvik-plus --new SESSION.xml"));
  const QCommandLineOption help_option = parser.addHelpOption();
  const QCommandLineOption version_option = parser.addVersionOption();
  const QCommandLineOption start_option(QStringLiteral("start"),
                                        QStringLiteral("Press \"Start Stream\" once the window is up."));
  const QCommandLineOption reconnect_option(
      QStringLiteral("reconnect"),
      QStringLiteral("When the server is lost or cannot be reached, log in again after a wait (2 s, doubling up to "
                     "60 s) and play the interrupted video from its start."));
  const QCommandLineOption pace_option(
      QStringLiteral("pace"),
      QStringLiteral("How videos are paced: \"real-time\" (the default: every frame leaves at its time, on one "
                     "schedule from video to video, about two seconds ahead) or \"hold\" (after each second of "
                     "video, hold until 950 ms have passed: about 5 % faster than it plays). Overrides, for this run, "
                     "the choice kept from the Actions tab."),
      QStringLiteral("MODE"));
  const QCommandLineOption log_option(QStringLiteral("log"),
                                      QStringLiteral("Append the log to FILE as well as to standard error."),
                                      QStringLiteral("FILE"));
  const QCommandLineOption new_option(
      QStringLiteral("new"), QStringLiteral("Write a new session with the default settings to SESSION.xml and exit."));
  const QCommandLineOption import_option(
      QStringLiteral("import"),
      QStringLiteral("Convert what needs converting and import it into SESSION, then exit: 0 when every file was "
                     "imported, 2 when some were skipped or it was interrupted, 1 when the session cannot be opened "
                     "or written or an option is wrong. No window."));
  const QCommandLineOption folder_option(QStringLiteral("folder"),
                                         QStringLiteral("With --import: the library folder (default: the first one; "
                                                        "made when missing)."),
                                         QStringLiteral("NAME"));
  const QCommandLineOption output_option(QStringLiteral("output-folder"),
                                         QStringLiteral("With --import: where NSV files are written (default: videos "
                                                        "beside the session file)."),
                                         QStringLiteral("FOLDER"));
  const QList<QCommandLineOption> encoding_options = {
      {QStringLiteral("size"), QStringLiteral("With --import: frame size (default 640x360)."), QStringLiteral("WxH")},
      {QStringLiteral("fps"),
       QStringLiteral("With --import: frames a second, 25 (default), 29.97, 23.976, 59.94 or a whole number up to "
                      "127."),
       QStringLiteral("RATE")},
      {QStringLiteral("video-kbps"), QStringLiteral("With --import: video bit rate (default 1000)."),
       QStringLiteral("KBPS")},
      {QStringLiteral("audio-kbps"), QStringLiteral("With --import: audio bit rate (default 128)."),
       QStringLiteral("KBPS")}};
  const QList<QCommandLineOption> http_options = {
      {QStringLiteral("http"),
       QStringLiteral("Serve the HTTP API (status, queue, library, events, metrics, and changes with the token) on "
                      "ADDRESS:PORT; a PORT alone listens on 127.0.0.1 only. Reads are open to this machine; from "
                      "other machines they need the token, unless a browser page of an allowed origin asks."),
       QStringLiteral("[ADDRESS:]PORT")},
      {QStringLiteral("http-token-file"),
       QStringLiteral("With --http: the file holding the token that changes need (Authorization: Bearer TOKEN); "
                      "made with a new random token and mode 0600 when missing, refused when others can read it. "
                      "Without it the API only reads."),
       QStringLiteral("FILE")},
      {QStringLiteral("http-allow-origin"),
       QStringLiteral("With --http: a web page origin (https://tv.example.org) whose pages may read the API from a "
                      "browser, such as the player page's \"Up next\". May be given more than once."),
       QStringLiteral("ORIGIN")}};
  parser.addOptions({start_option, reconnect_option, pace_option, log_option, new_option, import_option, folder_option,
                     output_option});
  parser.addOptions(encoding_options);
  parser.addOptions(http_options);
  parser.addPositionalArgument(QStringLiteral("SESSION"), QStringLiteral("The session file."),
                               QStringLiteral("[SESSION.xml]"));
  parser.addPositionalArgument(QStringLiteral("FILE_OR_FOLDER"), QStringLiteral("With --import: videos to import."),
                               QStringLiteral("[FILE_OR_FOLDER...]"));
  if (!parser.parse(arguments)) {
    *error = parser.errorText();
    return false;
  }
  if (parser.isSet(help_option)) {
    parser.showHelp(0);
  }
  if (parser.isSet(version_option)) {
    parser.showVersion();
  }

  const QStringList positional = parser.positionalArguments();
  start = parser.isSet(start_option);
  reconnect = parser.isSet(reconnect_option);
  log_file = parser.value(log_option);
  pace = parser.value(pace_option);
  if (parser.isSet(pace_option) && pace != QLatin1String("hold") && pace != QLatin1String("real-time")) {
    *error = QStringLiteral("--pace \"%1\" is neither \"hold\" nor \"real-time\".").arg(pace);
    return false;
  }
  session_path = positional.value(0);
  if (parser.isSet(import_option) && parser.isSet(new_option)) {
    *error = QStringLiteral("--import and --new cannot be used together.");
    return false;
  }
  mode = parser.isSet(import_option) ? Mode::Import : parser.isSet(new_option) ? Mode::NewSession : Mode::Window;
  if (mode != Mode::Window && (start || reconnect || parser.isSet(pace_option) || parser.isSet(http_options[0]))) {
    *error = QStringLiteral("--start, --reconnect, --pace and --http go with a broadcast, not with --import or --new.");
    return false;
  }
  if (!readHttp(parser, http_options, &http, error)) {
    return false;
  }
  if (mode != Mode::Import) {
    for (const QCommandLineOption &option : QList<QCommandLineOption>{folder_option, output_option} + encoding_options) {
      if (parser.isSet(option)) {
        *error = QStringLiteral("--%1 only goes with --import.").arg(option.names().first());
        return false;
      }
    }
  }
  switch (mode) {
  case Mode::Window:
    if (positional.size() > 1) {
      *error = QStringLiteral("Only one session can be opened; %1 were given.").arg(positional.size());
      return false;
    }
    return true;
  case Mode::NewSession:
    if (positional.size() != 1) {
      *error = QStringLiteral("--new needs the one session file to write.");
      return false;
    }
    return true;
  case Mode::Import:
    if (positional.size() < 2) {
      *error = QStringLiteral("--import needs the session file and at least one video, playlist or folder.");
      return false;
    }
    inputs = positional.mid(1);
    folder = parser.value(folder_option);
    output_folder = parser.value(output_option);
    return readEncoding(parser, encoding_options, &settings, error);
  }
  return true;
}
