#include "tests/broadcaster/support/session_files.h"

#include <QFile>

namespace broadcaster_testing {

QByteArray readFile(const QString &path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray sessionXml(const QStringList &folders, const QList<EntrySpec> &entries, const QString &password,
                      const QString &port, const QString &host) {
  QByteArray xml = "<?xml version=\"1.0\"?>\n<tarvik>\n <info><version>0.1.0</version><mincomp>0.1.0</mincomp>"
                   "<date>today</date></info>\n <shoutcast><host>" +
                   host.toHtmlEscaped().toUtf8() + "</host><port>" + port.toHtmlEscaped().toUtf8() + "</port><pass>" +
                   password.toHtmlEscaped().toUtf8() +
                   "</pass><name>Stream Test</name><genre>Video</genre><public>0</public><bitrate>128</bitrate>"
                   "<url/><irc/><icq/><aim/></shoutcast>\n <library>\n";
  for (const QString &folder : folders) {
    xml += "  <parent>" + folder.toHtmlEscaped().toUtf8() + "</parent>\n";
  }
  for (const EntrySpec &entry : entries) {
    xml += "  <nsv><key>" + entry.key.toUtf8() + "</key><path>" + entry.path.toHtmlEscaped().toUtf8() +
           "</path><title>" + entry.title.toHtmlEscaped().toUtf8() + "</title><playcount>" +
           entry.playcount.toUtf8() + "</playcount><parent>" + entry.folder.toHtmlEscaped().toUtf8() +
           "</parent></nsv>\n";
  }
  xml += " </library>\n</tarvik>\n";
  return xml;
}

} // namespace broadcaster_testing
