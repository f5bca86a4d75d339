#pragma once

// The HTTP API of a station on the fake server (the driver's fixture), with
// a token file and one allowed origin, reached over loopback.

#include "tests/broadcaster/broadcast/driver_test_support.h"
#include "tests/broadcaster/http/http_test_client.h"

#include "broadcaster/http/station_api.h"

#include <QFile>

#include <memory>

namespace http_testing {

inline const QByteArray kToken = QByteArrayLiteral("test-token-0123456789abcdef");
inline const QByteArray kAllowedOrigin = QByteArrayLiteral("http://player.example.org:8000");

class StationApiTest : public broadcaster_testing::DriverTest {
protected:
  void SetUp() override {
    DriverTest::SetUp();
    const QString token_path = temp_.filePath(QStringLiteral("token"));
    QFile token_file(token_path);
    ASSERT_TRUE(token_file.open(QIODevice::WriteOnly));
    token_file.write(kToken + '\n');
    token_file.close();
    ASSERT_TRUE(token_file.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
    http_api::ApiToken token;
    bool created = true;
    QString error;
    ASSERT_TRUE(token.load(token_path, &created, &error)) << error.toStdString();
    api_ = std::make_unique<http_api::StationApi>(
        station_, http_api::ApiAccess(token, {QString::fromLatin1(kAllowedOrigin)}));
    ASSERT_TRUE(api_->start(QHostAddress::LocalHost, 0, &error)) << error.toStdString();
  }

  quint16 port() const { return api_->port(); }
  HttpReply get(const QString &path, const Headers &headers = {}) { return httpRequest(port(), "GET", path, {}, headers); }
  // A change, with the right token unless headers say otherwise.
  HttpReply change(const QByteArray &method, const QString &path, const QByteArray &body = QByteArray(""),
                   const Headers &headers = {{"Authorization", "Bearer " + kToken}}) {
    return httpRequest(port(), method, path, body, headers);
  }

  std::unique_ptr<http_api::StationApi> api_;
};

} // namespace http_testing
