#pragma once

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QVector>

namespace session {
class Session;
}
class BroadcastDriver;

namespace http_api {

// The library as the API lists it: folders, and videos with their titles,
// keys and play counts, searched by title as the window's search box does
// (the text anywhere in the title, ignoring case). Play counts live in the
// session document, where reading them all takes one pass over the file's
// entries; so the list is made once and kept until the library changes,
// and a play raises the count it keeps.
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
    QString folded_title;
    QString folder;
    double play_count = -1.0; // -1: the entry's count is missing or no number
  };

  void build();
  void onVideoPlayed(const QString &entry_key);

  session::Session &session_;
  bool built_ = false;
  QVector<Video> videos_;
  QHash<QString, int> position_of_key_;
  QStringList folders_;
};

} // namespace http_api
