#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Session files for the broadcaster's tests, written and read back.
namespace broadcaster_testing {

QByteArray readFile(const QString &path);

struct EntrySpec {
  QString key;
  QString path;
  QString title;
  QString folder;
  QString playcount = QStringLiteral("0");
};

// A session file with the default settings, the given folders and entries.
QByteArray sessionXml(const QStringList &folders, const QList<EntrySpec> &entries,
                      const QString &password = QStringLiteral("setmenow"), const QString &port = QStringLiteral("8000"),
                      const QString &host = QStringLiteral("127.0.0.1"));

} // namespace broadcaster_testing
