#include "broadcaster/http/library_index.h"

#include "broadcaster/broadcast/broadcast_driver.h"
#include "broadcaster/session/session.h"

#include "broadcaster/base/station_log.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QStringMatcher>

#include <algorithm>

namespace http_api {

LibraryIndex::LibraryIndex(session::Session &session, BroadcastDriver &driver, QObject *parent)
    : QObject(parent), session_(session) {
  const session::Library &library = session_.library();
  connect(&library, &session::Library::reset, this, &LibraryIndex::build);
  connect(&library, &session::Library::folderAdded, this, [this](const QString &name) { folders_.append(name); });
  connect(&library, &session::Library::videoAdded, this,
          [this](const QString &folder, const QString &node_key, const QString &title) {
            const QString key = session::entryKeyFromNodeKey(node_key);
            videos_.append({key, title, folder, title.toCaseFolded()});
            play_counts_.insert(key, 0.0);
          });
  connect(&library, &session::Library::nodeRemoved, this, [this](const QString &node_key, bool is_video) {
    if (is_video) {
      const QString key = session::entryKeyFromNodeKey(node_key);
      removeVideos([&key](const Video &video) { return video.key == key; });
    } else {
      folders_.removeAll(node_key);
      removeVideos([&node_key](const Video &video) { return video.folder == node_key; });
    }
  });
  connect(&driver, &BroadcastDriver::videoPlayed, this, [this](const QString &entry_key) {
    const auto count = play_counts_.find(entry_key);
    if (count != play_counts_.end()) {
      *count += 1.0;
    }
  });
  build();
}

void LibraryIndex::build() {
  QElapsedTimer took;
  took.start();
  play_counts_.clear();
  for (const session::VideoEntry &entry : session_.document().entries()) {
    if (const std::optional<double> count = entry.playcount.value()) {
      play_counts_.insert(entry.key, *count);
    }
  }
  const session::Library &library = session_.library();
  videos_.clear();
  videos_.reserve(library.videoCount());
  folders_ = library.folderNames();
  for (int position = 1; position <= library.nodeCount(); ++position) {
    const session::Library::Node &node = library.nodeAt(position);
    if (node.is_video) {
      videos_.append(
          {session::entryKeyFromNodeKey(node.key), node.text, library.folderOf(node.key), node.text.toCaseFolded()});
    }
  }
  qCDebug(lcHttp).noquote() << QStringLiteral("Library of %1 video(s) read for the HTTP API in %2 ms")
                                   .arg(videos_.size())
                                   .arg(took.elapsed());
}

void LibraryIndex::removeVideos(const std::function<bool(const Video &)> &which) {
  const auto gone = std::remove_if(videos_.begin(), videos_.end(), [&](const Video &video) {
    if (!which(video)) {
      return false;
    }
    play_counts_.remove(video.key);
    return true;
  });
  videos_.erase(gone, videos_.end());
}

QJsonObject LibraryIndex::search(const QString &search, int limit) {
  const QStringMatcher matcher(search.toCaseFolded());
  QJsonArray videos;
  int matched = 0;
  for (const Video &video : videos_) {
    if (!search.isEmpty() && matcher.indexIn(video.folded_title) < 0) {
      continue;
    }
    if (++matched <= limit) {
      const auto count = play_counts_.constFind(video.key);
      videos.append(QJsonObject{{QStringLiteral("key"), video.key},
                                {QStringLiteral("title"), video.title},
                                {QStringLiteral("folder"), video.folder},
                                {QStringLiteral("play_count"),
                                 count == play_counts_.constEnd() ? QJsonValue() : QJsonValue(*count)}});
    }
  }
  return {{QStringLiteral("folders"), QJsonArray::fromStringList(folders_)},
          {QStringLiteral("videos"), videos},
          {QStringLiteral("matched"), matched},
          {QStringLiteral("truncated"), matched > limit}};
}

} // namespace http_api
