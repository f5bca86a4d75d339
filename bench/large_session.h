#pragma once

#include <QByteArray>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <cstdio>

// A session file of `videos` videos titled "Video number N", spread over
// `folders` folders "Folder N" in turn.
inline QByteArray largeSession(int videos, int folders) {
  QByteArray xml = "<?xml version=\"1.0\"?><tarvik><info><version>0.1.0</version><mincomp>0.1.0</mincomp>"
                   "<date>bench</date></info><shoutcast><host>127.0.0.1</host><port>8000</port><pass>setmenow</pass>"
                   "<name>Bench</name><genre>Video</genre><public>0</public><bitrate>128</bitrate><url/><irc/><icq/>"
                   "<aim/></shoutcast><library>";
  for (int folder = 0; folder < folders; ++folder) {
    xml += "<parent>Folder " + QByteArray::number(folder) + "</parent>";
  }
  for (int video = 0; video < videos; ++video) {
    const QByteArray number = QByteArray::number(video);
    xml += "<nsv><key>" + number + "</key><path>/srv/videos/folder" + QByteArray::number(video % folders) +
           "/video" + number + ".nsv</path><title>Video number " + number + "</title><playcount>" +
           QByteArray::number(video % 17) + "</playcount><parent>Folder " + QByteArray::number(video % folders) +
           "</parent></nsv>";
  }
  xml += "</library></tarvik>";
  return xml;
}

struct LargeSessionSize {
  int videos = 100000;
  int folders = 100;
};

// Reads --videos N and --folders N from the command line.
inline LargeSessionSize parseLargeSessionSize(const QCoreApplication &app) {
  QCommandLineParser parser;
  parser.addHelpOption();
  const QCommandLineOption videos_option(QStringLiteral("videos"), QStringLiteral("Videos (default 100000)."),
                                         QStringLiteral("N"), QStringLiteral("100000"));
  const QCommandLineOption folders_option(QStringLiteral("folders"), QStringLiteral("Folders (default 100)."),
                                          QStringLiteral("N"), QStringLiteral("100"));
  parser.addOptions({videos_option, folders_option});
  parser.process(app);
  return {std::max(1, parser.value(videos_option).toInt()), std::max(1, parser.value(folders_option).toInt())};
}

// Writes the session as large.xml into folder and says how large it is;
// an empty path (and a message) when it cannot be written.
inline QString writeLargeSession(const QString &folder, const LargeSessionSize &size) {
  const QString path = QDir(folder).filePath(QStringLiteral("large.xml"));
  QFile file(path);
  const QByteArray xml = largeSession(size.videos, size.folders);
  if (!file.open(QIODevice::WriteOnly) || file.write(xml) != xml.size()) {
    std::fprintf(stderr, "%s: cannot write %s\n", qPrintable(QCoreApplication::applicationName()), qPrintable(path));
    return QString();
  }
  std::printf("session: %d videos in %d folders, %.1f MB\n", size.videos, size.folders, xml.size() / 1e6);
  return path;
}
