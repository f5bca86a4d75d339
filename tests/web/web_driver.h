#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// Debian's chromium, headless, driven through Debian's chromedriver over the
// WebDriver HTTP protocol: one browser session with a profile of its own,
// ended with the object.
class WebDriver {
public:
  WebDriver();
  ~WebDriver();
  WebDriver(const WebDriver &) = delete;
  WebDriver &operator=(const WebDriver &) = delete;

  // False with a reason when chromium or chromedriver is missing or fails.
  bool start(QString *reason);

  bool open(const QString &url);
  // Runs script as a function body in the page; its return value, or
  // undefined when the call failed (see lastError).
  QJsonValue run(const QString &script);
  // The page as a PNG; empty on failure.
  QByteArray screenshot();
  QString lastError() const { return last_error_; }

private:
  // One WebDriver command; the answer's "value", undefined on failure.
  QJsonValue command(const QByteArray &method, const QString &path, const QJsonObject &body = QJsonObject());
  bool launchDriver(QString *reason);

  std::unique_ptr<QTemporaryDir> profile_;
  QProcess driver_;
  quint16 port_ = 0;
  QString session_id_;
  QString last_error_;
};
