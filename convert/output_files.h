#pragma once

#include <QString>

// Putting a finished file in its place without ever overwriting another.
namespace convert {

// Renames finished_path to wanted_path, or, when that is taken, to
// "name (2).ext", "name (3).ext"... The rename itself refuses to replace, so
// two programs finishing at once cannot overwrite each other. Returns the
// path given; empty on failure, with the reason in error_text.
QString moveToFreeName(const QString &finished_path, const QString &wanted_path, QString *error_text);

// Renames finished_path over wanted_path in one step (the old file stays
// whole until then). False on failure, with the reason in error_text.
bool moveReplacing(const QString &finished_path, const QString &wanted_path, QString *error_text);

} // namespace convert
