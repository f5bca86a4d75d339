#pragma once

#include <QString>

// Where a session's converted videos go: "videos" beside the session file,
// unless the operator chose another folder for that session. A choice is
// kept in the program's preferences with the session it was made for, so
// it never carries over to another session; the default is never stored,
// so it follows the session wherever it is.
QString defaultOutputFolder(const QString &session_path);
// The folder chosen for this session, else the default.
QString outputFolderFor(const QString &session_path);
// Keeps folder as this session's choice; the default drops the choice.
void rememberOutputFolder(const QString &session_path, const QString &folder);
