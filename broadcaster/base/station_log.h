#pragma once

#include <QDateTime>
#include <QLoggingCategory>
#include <QString>

// The program's log: one dated line per event on standard error, and in a
// file when one is given. Categories let QT_LOGGING_RULES quiet a part, for
// example QT_LOGGING_RULES="tarvik.library.info=false".
Q_DECLARE_LOGGING_CATEGORY(lcBroadcast)  // tarvik.broadcast: what plays, skips, errors
Q_DECLARE_LOGGING_CATEGORY(lcConnection) // tarvik.connection: logins, losses, reconnects
Q_DECLARE_LOGGING_CATEGORY(lcSession)    // tarvik.session: opening and saving the session
Q_DECLARE_LOGGING_CATEGORY(lcLibrary)    // tarvik.library: folders, imports, removals
Q_DECLARE_LOGGING_CATEGORY(lcWindow)     // tarvik.window: what the window tells the operator
Q_DECLARE_LOGGING_CATEGORY(lcConvert)    // tarvik.convert: videos turned into NSV files
Q_DECLARE_LOGGING_CATEGORY(lcHttp)       // tarvik.http: the HTTP API, its changes and refusals

namespace station_log {

// "2026-12-07 21:04:05 text", the text's line breaks turned into spaces.
QString formatLine(const QDateTime &when, const QString &text);

// Routes Qt's logging to standard error and, when file_path is not empty,
// appends the same lines to that file. False with a reason when the file
// cannot be opened; standard error is used either way.
bool install(const QString &file_path, QString *error);

} // namespace station_log
