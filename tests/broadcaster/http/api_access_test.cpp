// Who may read and change through the HTTP API, and what a client that
// sends too much or the wrong thing is told.

#include "tests/broadcaster/http/station_api_test_support.h"

#include "broadcaster/http/api_access.h"
#include "broadcaster/http/api_token.h"
#include "broadcaster/http/connection_guard.h"

#include <QTcpSocket>

#include <sys/stat.h>

using namespace broadcaster_testing;
using namespace http_testing;

TEST_F(StationApiTest, ChangesNeedTheTokenAndEachRefusalIsLogged) {
  openSession(1);
  LogCapture log;
  const QByteArray body = R"({"key": "0"})";
  const HttpReply without = change("POST", QStringLiteral("/api/queue"), body, {});
  EXPECT_EQ(without.status, 401);
  EXPECT_TRUE(without.headers.value("www-authenticate").startsWith("Bearer"));
  const HttpReply wrong = change("POST", QStringLiteral("/api/queue"), body, {{"Authorization", "Bearer nope"}});
  EXPECT_EQ(wrong.status, 401);
  EXPECT_EQ(wrong.error(), "Wrong token.");
  // A token one character short of the right one.
  EXPECT_EQ(change("POST", QStringLiteral("/api/skip"), "", {{"Authorization", "Bearer " + kToken.chopped(1)}}).status,
            401);
  // A token that is sent must be right, even for a read that needs none.
  EXPECT_EQ(get(QStringLiteral("/api/status"), {{"Authorization", "Bearer nope"}}).status, 401);
  EXPECT_EQ(log.count(QStringLiteral("Refused POST /api/queue from 127.0.0.1")), 2);
  EXPECT_EQ(log.count(QStringLiteral("Refused")), 4);
  EXPECT_EQ(queue().count(), 0);
  for (const QString &line : log.lines()) {
    EXPECT_FALSE(line.contains(QString::fromLatin1(kToken))) << "the token never reaches the log";
  }
  // The scheme's name in any case.
  EXPECT_EQ(change("POST", QStringLiteral("/api/queue"), body, {{"Authorization", "bearer " + kToken}}).status, 201);
  EXPECT_EQ(log.count(QStringLiteral("Queued \"Video 0\" (key 0) through the HTTP API, from 127.0.0.1")), 1);
}

TEST_F(StationApiTest, MalformedRequestsAreToldWhatIsWrong) {
  openSession(1);
  const QString queue_path = QStringLiteral("/api/queue");
  const HttpReply broken = change("POST", queue_path, R"({"key": )");
  EXPECT_EQ(broken.status, 400);
  EXPECT_TRUE(broken.error().startsWith("The body is not JSON:")) << broken.error().toStdString();
  const HttpReply list = change("POST", queue_path, "[1]");
  EXPECT_EQ(list.status, 400);
  EXPECT_TRUE(list.error().contains("key")) << list.error().toStdString();
  EXPECT_EQ(change("POST", queue_path, R"({"key": 1.5})").status, 400);
  EXPECT_EQ(change("POST", queue_path, "").status, 400);
  const HttpReply unknown = change("POST", queue_path, R"({"key": "99"})");
  EXPECT_EQ(unknown.status, 404);
  EXPECT_EQ(unknown.error(), "No video in the library has the key 99.");
  EXPECT_EQ(change("DELETE", QStringLiteral("/api/queue/first")).status, 400);
  EXPECT_EQ(change("DELETE", QStringLiteral("/api/queue/3")).status, 404);
  EXPECT_EQ(get(QStringLiteral("/api/library?limit=0")).status, 400);
  EXPECT_EQ(get(QStringLiteral("/api/nothing")).status, 404);
  const HttpReply wrong_method = change("DELETE", QStringLiteral("/api/status"));
  EXPECT_EQ(wrong_method.status, 405);
  EXPECT_EQ(wrong_method.headers.value("allow"), "GET, OPTIONS");

  // Just over 64 KiB, and a length that is only announced: refused from the
  // header, before the body would be read.
  const QByteArray padded = R"({"key": "0", "pad": ")" + QByteArray(64 * 1024, 'x') + R"("})";
  EXPECT_EQ(change("POST", queue_path, padded).status, 413);
  const HttpReply announced = HttpCall(port(), "POST", queue_path, QByteArray(),
                                       {{"Authorization", "Bearer " + kToken}, {"Content-Length", "10000000000"}})
                                  .finish();
  EXPECT_EQ(announced.status, 413);
  EXPECT_EQ(announced.headers.value("connection"), "close");
  EXPECT_EQ(get(QStringLiteral("/api/status"), {{"X-Filler", QByteArray(20 * 1024, 'y')}}).status, 431);
  EXPECT_EQ(change("POST", queue_path, QByteArray(), {{"Transfer-Encoding", "chunked"}}).status, 411);
  // A body of the largest size is taken.
  const QByteArray largest = R"({"key": "0", "pad": ")" + QByteArray(64 * 1024 - 23, 'x') + R"("})";
  ASSERT_EQ(largest.size(), 64 * 1024);
  EXPECT_EQ(change("POST", queue_path, largest).status, 201);
  EXPECT_EQ(queue().count(), 1);
}

TEST_F(StationApiTest, AllowedOriginsGetCorsAndOthersDoNot) {
  const HttpReply allowed = get(QStringLiteral("/api/status"), {{"Origin", kAllowedOrigin}});
  EXPECT_EQ(allowed.headers.value("access-control-allow-origin"), kAllowedOrigin);
  EXPECT_EQ(allowed.headers.value("vary"), "Origin");
  const HttpReply other = get(QStringLiteral("/api/status"), {{"Origin", "http://elsewhere.example"}});
  EXPECT_EQ(other.status, 200) << "a read from this machine";
  EXPECT_FALSE(other.headers.contains("access-control-allow-origin"));
  const HttpReply preflight = httpRequest(port(), "OPTIONS", QStringLiteral("/api/skip"), QByteArray(),
                                          {{"Origin", kAllowedOrigin}, {"Access-Control-Request-Method", "POST"}});
  EXPECT_EQ(preflight.status, 204);
  EXPECT_EQ(preflight.headers.value("access-control-allow-origin"), kAllowedOrigin);
  EXPECT_TRUE(preflight.headers.value("access-control-allow-headers").contains("Authorization"));
  // A refusal reaches the allowed page as readable as an answer.
  const HttpReply refused = httpRequest(port(), "POST", QStringLiteral("/api/skip"), QByteArray(),
                                        {{"Origin", kAllowedOrigin}, {"Authorization", "Bearer wrong"}});
  EXPECT_EQ(refused.status, 401);
  EXPECT_EQ(refused.headers.value("access-control-allow-origin"), kAllowedOrigin);
}

namespace {

// The token of a file that did not exist; created tells whether it was made.
http_api::ApiToken loadToken(const QString &path, bool *created) {
  http_api::ApiToken token;
  QString error;
  EXPECT_TRUE(token.load(path, created, &error)) << error.toStdString();
  return token;
}

} // namespace

TEST(ApiAccess, ReadsAreOpenOnLoopbackAndToAllowedPagesChangesNeedTheToken) {
  QTemporaryDir temp;
  const QString path = temp.filePath(QStringLiteral("token"));
  bool created = false;
  const http_api::ApiToken token = loadToken(path, &created);
  const QByteArray right = "Bearer " + readFile(path).trimmed();
  const http_api::ApiAccess access(token, {QStringLiteral("https://tv.example.org")});
  const QHostAddress remote(QStringLiteral("10.1.2.3"));
  const QHostAddress mapped_loopback(QStringLiteral("::ffff:127.0.0.1"));
  EXPECT_EQ(access.check(false, mapped_loopback, {}, {}).status, 0);
  EXPECT_EQ(access.check(false, QHostAddress(QHostAddress::LocalHostIPv6), {}, {}).status, 0);
  EXPECT_EQ(access.check(false, remote, {}, {}).status, 401);
  EXPECT_EQ(access.check(false, remote, {}, "https://tv.example.org").status, 0);
  EXPECT_EQ(access.check(false, remote, {}, "https://tv.example.org.evil").status, 401);
  EXPECT_EQ(access.check(false, remote, right, {}).status, 0);
  EXPECT_EQ(access.check(true, mapped_loopback, {}, "https://tv.example.org").status, 401);
  EXPECT_EQ(access.check(true, remote, right, {}).status, 0);
  // Without a token file nothing can be changed.
  const http_api::ApiAccess read_only;
  EXPECT_EQ(read_only.check(true, mapped_loopback, {}, {}).status, 403);
  EXPECT_EQ(read_only.check(true, mapped_loopback, "Bearer ", {}).status, 401);
  EXPECT_EQ(read_only.check(false, mapped_loopback, {}, {}).status, 0);
}

TEST(ApiToken, AMissingFileGetsAPrivateRandomTokenAndAFileOthersCanReadIsRefused) {
  QTemporaryDir temp;
  const QString path = temp.filePath(QStringLiteral("token"));
  bool created = false;
  const http_api::ApiToken first = loadToken(path, &created);
  EXPECT_TRUE(created);
  struct stat info {};
  ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  const QByteArray token = readFile(path).trimmed();
  EXPECT_EQ(token.size(), 64);
  EXPECT_TRUE(first.matches(token));
  EXPECT_FALSE(first.matches(token.chopped(1)));
  EXPECT_FALSE(first.matches(QByteArray()));
  // Read again: the same token, nothing made.
  EXPECT_TRUE(loadToken(path, &created).matches(token));
  EXPECT_FALSE(created);
  // A second file gets a token of its own.
  EXPECT_FALSE(loadToken(temp.filePath(QStringLiteral("other")), &created).matches(token));

  ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0644), 0);
  http_api::ApiToken shared;
  QString error;
  EXPECT_FALSE(shared.load(path, &created, &error));
  EXPECT_TRUE(error.contains("chmod 600")) << error.toStdString();
  EXPECT_FALSE(error.contains(QString::fromLatin1(token))) << "the token never goes into a message";
  const QString short_path = temp.filePath(QStringLiteral("short"));
  ASSERT_TRUE(fixtures::writeFile(short_path, "abc\n"));
  ASSERT_EQ(::chmod(QFile::encodeName(short_path).constData(), 0600), 0);
  EXPECT_FALSE(shared.load(short_path, &created, &error));
  EXPECT_FALSE(shared.load(temp.filePath(QStringLiteral("no-such-folder/token")), &created, &error));

  EXPECT_EQ(http_api::bearerToken("Bearer abc "), "abc");
  EXPECT_EQ(http_api::bearerToken("Basic abc"), QByteArray());
}

TEST_F(StationApiTest, IdleConnectionsCloseAndTooManyAreTurnedAway) {
  api_->setConnectionLimits(3, 300);
  EventReader events;
  ASSERT_TRUE(events.open(port()));
  QTcpSocket idle[2];
  for (QTcpSocket &socket : idle) {
    socket.connectToHost(QStringLiteral("127.0.0.1"), port());
  }
  ASSERT_TRUE(waitUntil([&] { return idle[1].state() == QAbstractSocket::ConnectedState; }));
  const HttpReply turned_away = get(QStringLiteral("/api/status"));
  EXPECT_EQ(turned_away.status, 503);
  EXPECT_TRUE(waitUntil([&] {
    return idle[0].state() == QAbstractSocket::UnconnectedState && idle[1].state() == QAbstractSocket::UnconnectedState;
  })) << "idle connections are closed";
  EXPECT_EQ(get(QStringLiteral("/api/status")).status, 200);
  pumpEvents(400);
  EXPECT_EQ(events.socket().state(), QAbstractSocket::ConnectedState) << "an event stream is no idle connection";
}
