#pragma once

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QVector>

#include <functional>

namespace session {
class Session;
}
class BroadcastDriver;

namespace http_api {

// The library as the API lists it: folders, and videos with their titles,
// keys and play counts, searched by title as the window's search box does
// (the text anywhere in the title, ignoring case). Play counts live in the
// session document, where reading them all takes a pass over every entry
// (about a third of a second for 100,000 videos); so that pass is made when
// a session is opened, and from then on the list follows the library's
// signals and the driver's plays, each change costing next to nothing.
class LibraryIndex : public QObject {
  Q_OBJECT

public:
  static constexpr int kDefaultLimit = 100;
  static constexpr int kLargestLimit = 1000;

  LibraryIndex(session::Session &session, BroadcastDriver &driver, QObject *parent = nullptr);

  // The first limit videos whose title holds search (every video when it
  // is empty), in the library's order, and how many matched in all.
  QJsonObject search(const QString &search, int limit);

private:
  struct Video {
    QString key;
    QString title;
    QString folder;
    // Folded once, so a search compares plain characters.
    QString folded_title;
  };

  void build();
  void removeVideos(const std::function<bool(const Video &)> &which);

  session::Session &session_;
  QVector<Video> videos_;
  // By entry key; an entry whose count is missing or no number has none.
  QHash<QString, double> play_counts_;
  QStringList folders_;
};

} // namespace http_api
