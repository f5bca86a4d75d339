#pragma once

#include <QNetworkAccessManager>
#include <QString>

class MediaPlayer;

// Tells a Shoutcast server what plays: composes "Artist - Title" from the
// current item and, when it differs from the title sent last, issues the
// server's title update request in the background. The reply is ignored.
class TitlePush {
public:
  struct Server {
    QString host;
    QString port;
    QString password;
  };

  // One step of the timer tick; does nothing unless enabled.
  void step(bool enabled, const Server &server, const MediaPlayer &player);

  QString sentTitle() const { return sent_title_; }
  // The address of the last request handed to the network.
  QString lastRequest() const { return last_request_; }

private:
  QNetworkAccessManager network_;
  QString playing_title_;
  QString sent_title_;
  QString last_request_;
};
