#pragma once

#include "control/pellox_export.h"

#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

namespace pellox {

// The title connection: one HTTP/1.0 request per title to the server's
// administration page, sent and forgotten. While a request is under way a
// newer title waits and then gets an attempt of its own; a request that has
// not gone out after ten seconds is dropped. The socket is named
// "WinsockTitle".
class PELLOX_EXPORT TitleConnection : public QObject {
  Q_OBJECT

public:
  explicit TitleConnection(QObject *parent = nullptr);
  ~TitleConnection() override;

  void setServer(const QString &host, quint16 port, const QString &password);
  void sendTitle(const QString &title);

private:
  void start();
  void onConnected();
  void onWritten();
  void onOverdue();
  void retryNewerTitle();
  void logFailure(const QString &reason) const;

  QTcpSocket socket_;
  QTimer deadline_;
  QString host_;
  quint16 port_ = 0;
  QString password_;
  QString pending_title_;
  // Counts the titles set, to tell whether a newer one waits behind an attempt.
  quint64 titles_set_ = 0;
  quint64 title_of_attempt_ = 0;
};

} // namespace pellox
