#pragma once

#include <QByteArray>
#include <QString>

// A session file for a station on a test's Icecast: its settings and one
// folder "Videos" holding the given entries.
inline QByteArray stationSessionXml(quint16 port, const QString &password, const QString &station_name,
                                    const QString &bitrate, const QByteArray &entries) {
  return "<?xml version=\"1.0\"?><tarvik><info><version>0.1.0</version><mincomp>0.1.0</mincomp><date>d</date>"
         "</info><shoutcast><host>127.0.0.1</host><port>" +
         QByteArray::number(port) + "</port><pass>" + password.toHtmlEscaped().toUtf8() + "</pass><name>" +
         station_name.toHtmlEscaped().toUtf8() + "</name><genre>Video</genre><public>0</public><bitrate>" +
         bitrate.toUtf8() + "</bitrate><url/><irc/><icq/><aim/></shoutcast><library><parent>Videos</parent>" +
         entries + "</library></tarvik>";
}

// One entry of the "Videos" folder, not played yet.
inline QByteArray videoEntryXml(int key, const QString &path, const QString &title) {
  return "<nsv><key>" + QByteArray::number(key) + "</key><path>" + path.toHtmlEscaped().toUtf8() + "</path><title>" +
         title.toHtmlEscaped().toUtf8() + "</title><playcount>0</playcount><parent>Videos</parent></nsv>";
}
