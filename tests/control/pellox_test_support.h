#pragma once

// The control against the fake server on loopback. Its sending thread paces
// by a clock that runs twenty times faster than real time.

#include "tests/support/fake_shoutcast_server.h"
#include "tests/support/fast_clock.h"
#include "tests/support/nsv_fixtures.h"
#include "tests/support/wait_until.h"

#include "control/pellox.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <memory>

namespace pellox_testing {

inline const QByteArray kStreamTestHeader =
    "icy-name:Stream Test\r\n"
    "icy-genre:\r\n"
    "icy-pub:0\r\n"
    "icy-br:128\r\n"
    "icy-url:\r\n"
    "icy-irc:\r\n"
    "icy-icq:\r\n"
    "icy-aim:\r\n"
    "icy-metadata:1\r\n"
    "content-type:video/nsv\r\n"
    "\r\n\r\n\r\n";


class PelloxTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.isValid());
    control_.setClock(clock_);
  }

  void setupFor(const FakeShoutcastServer &server, const QString &password = QStringLiteral("secret")) {
    control_.Setup(QStringLiteral("127.0.0.1"), server.port(), password, QStringLiteral("Stream Test"),
                   QString(), 0, QStringLiteral("128"), QString(), QString(), QString(), QString());
    ASSERT_TRUE(control_.LastError().isEmpty()) << control_.LastError().toStdString();
  }

  // Starts the server with that answer to a login, and connects to it.
  void connectAnswered(FakeShoutcastServer &server, FakeShoutcastServer::LoginAnswer answer,
                       QList<QByteArray> reply_chunks = {QByteArrayLiteral("OK2\r\n")}) {
    ASSERT_TRUE(server.start());
    server.setLoginAnswer(answer, std::move(reply_chunks));
    setupFor(server);
    control_.Connect();
  }

  // Logs in against a server that says OK2.
  void logIn(FakeShoutcastServer &server) {
    setupFor(server);
    control_.Connect();
    ASSERT_TRUE(waitUntil([this] { return control_.State() == "1"; }));
  }

  // Logs in to a server that reads nothing after the login. The send buffer
  // is kept small, so that the kernel does not take megabytes (it doubles
  // the value; below the loopback segment size of 64 KiB the flow would stall).
  void logInToServerThatStopsReading(FakeShoutcastServer &server) {
    ASSERT_TRUE(server.start());
    server.setSourceReading(false);
    control_.setSourceSendBufferBytes(64 * 1024);
    logIn(server);
  }

  QString writeVideo(const QString &name, const QByteArray &bytes) {
    return fixtures::writeTestFile(temp_.path(), name, bytes);
  }

  QTemporaryDir temp_;
  std::shared_ptr<FastClock> clock_ = std::make_shared<FastClock>();
  Pellox control_;
};

} // namespace pellox_testing
