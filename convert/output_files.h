#pragma once

#include <QString>

#include <QStringList>

// Putting a finished file in its place without ever overwriting another, and
// the hidden working folder each conversion writes in until then.
namespace convert {

// The QTemporaryDir template of the working folder for output_path, beside it.
QString workFolderTemplate(const QString &output_path);

// Records in a working folder the process that works in it, on which host
// and in which boot of the system. False, with the system's reason, when it cannot be written.
bool markWorkFolderOwner(const QString &work_folder, QString *error_text);

// Removes the working folders in folder that conversions killed outright
// left behind: those whose owner process on this host is gone (or ran
// before the system last started), whatever their age, and those without an owner known here whose newest file is more
// than max_age_s old (a conversion still running keeps writing, so its
// folder stays). Returns the folders removed.
QStringList removeStaleWorkFolders(const QString &folder, qint64 max_age_s);

// Renames finished_path to wanted_path, or, when that is taken, to
// "name (2).ext", "name (3).ext"... The rename itself refuses to replace, so
// two programs finishing at once cannot overwrite each other. Returns the
// path given; empty on failure, with the reason in error_text.
QString moveToFreeName(const QString &finished_path, const QString &wanted_path, QString *error_text);

// Renames finished_path over wanted_path in one step (the old file stays
// whole until then). False on failure, with the reason in error_text.
bool moveReplacing(const QString &finished_path, const QString &wanted_path, QString *error_text);

} // namespace convert
