#pragma once

#include <QString>
#include <QStringList>

// The entries of an .m3u playlist, relative ones resolved against its folder.
QStringList readM3uPlaylist(const QString &path);
