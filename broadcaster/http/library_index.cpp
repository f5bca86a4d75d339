#include "library_index.h"

#include <broadcast_driver.h>
#include <session.h>

#include <QJsonArray>
#include <QStringMatcher>

namespace http_api {

LibraryIndex::LibraryIndex(session::Session &session, BroadcastDriver &driver, QObject *parent)
    : QObject(parent), session_(session) {
  const session::Library &library = session_.library();
  const auto stale = [this] { built_ = false; };
  connect(&library, &session::Library::reset, this, stale);
  connect(&library, &session::Library::folderAdded, this, stale);
  connect(&library, &session::Library::videoAdded, this, stale);
  connect(&library, &session::Library::nodeRemoved, this, stale);
  connect(&driver, &BroadcastDriver::videoPlayed, this, &LibraryIndex::onVideoPlayed);
}

void LibraryIndex::build() {
  QHash<QString, double> counts;
  for (const session::VideoEntry &entry : session_.document().entries()) {
    double count = -1.0;
    if (session::isNumberText(entry.playcount, &count)) {
      counts.insert(entry.key, count);
    }
  }
  const session::Library &library = session_.library();
  videos_.clear();
  position_of_key_.clear();
  folders_ = library.folderNames();
  videos_.reserve(library.videoCount());
  for (int position = 1; position <= library.nodeCount(); ++position) {
    const session::Library::Node &node = library.nodeAt(position);
    if (!node.is_video) {
      continue;
    }
    const QString key = session::entryKeyFromNodeKey(node.key);
    position_of_key_.insert(key, static_cast<int>(videos_.size()));
    videos_.append({key, node.text, node.text.toCaseFolded(), library.folderOf(node.key), counts.value(key, -1.0)});
  }
  built_ = true;
}

void LibraryIndex::onVideoPlayed(const QString &entry_key) {
  const auto position = position_of_key_.constFind(entry_key);
  if (built_ && position != position_of_key_.constEnd() && videos_[*position].play_count >= 0) {
    videos_[*position].play_count += 1.0;
  }
}

QJsonObject LibraryIndex::search(const QString &search, int limit) {
  if (!built_) {
    build();
  }
  const QStringMatcher matcher(search.toCaseFolded());
  QJsonArray videos;
  int matched = 0;
  for (const Video &video : videos_) {
    if (!search.isEmpty() && matcher.indexIn(video.folded_title) < 0) {
      continue;
    }
    if (++matched <= limit) {
      videos.append(QJsonObject{{QStringLiteral("key"), video.key},
                                {QStringLiteral("title"), video.title},
                                {QStringLiteral("folder"), video.folder},
                                {QStringLiteral("play_count"),
                                 video.play_count < 0 ? QJsonValue() : QJsonValue(video.play_count)}});
    }
  }
  return {{QStringLiteral("folders"), QJsonArray::fromStringList(folders_)},
          {QStringLiteral("videos"), videos},
          {QStringLiteral("matched"), matched},
          {QStringLiteral("truncated"), matched > limit}};
}

} // namespace http_api
