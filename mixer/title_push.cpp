#include "mixer/title_push.h"

#include "mixer/media_player.h"
#include "mixer/mixer_rules.h"

#include <QNetworkReply>
#include <QUrl>

void TitlePush::step(bool enabled, const Server &server, const MediaPlayer &player) {
  if (!enabled) {
    return;
  }
  const std::optional<QString> artist = player.itemInfo(QStringLiteral("Artist"));
  const std::optional<QString> title = player.itemInfo(QStringLiteral("Title"));
  // Without an item the composed title keeps its value, so nothing is sent.
  if (artist && title) {
    playing_title_ = *artist + QStringLiteral(" - ") + *title;
  }
  if (playing_title_ == sent_title_) {
    return;
  }
  sent_title_ = playing_title_;
  last_request_ = mixer::titleUpdateAddress(server.host, server.port, server.password, sent_title_);
  const QUrl address = QUrl::fromEncoded(last_request_.toUtf8(), QUrl::TolerantMode);
  if (!address.isValid()) {
    return;
  }
  QNetworkReply *reply = network_.get(QNetworkRequest(address));
  QObject::connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
}
