// The control as a host sees it: found by its programmatic name next to the
// executable and driven only by name, through ControlHost.

#include "tests/support/fake_shoutcast_server.h"
#include "tests/support/nsv_fixtures.h"
#include "tests/support/wait_until.h"

#include "broadcaster/broadcast/control_host.h"

#include <gtest/gtest.h>

#include <QMetaMethod>
#include <QSignalSpy>
#include <QTemporaryDir>

TEST(PluginHost, FindsTheControlByNameAndExposesItsMembers) {
  QWidget window;
  ControlHost host;
  ASSERT_TRUE(host.create(&window)) << host.loadError().toStdString();
  QWidget *control = host.widget();
  ASSERT_NE(control, nullptr);
  EXPECT_EQ(control->parentWidget(), &window);
  EXPECT_EQ(host.state(), ControlState::NotLoggedIn);

  const QMetaObject *meta = control->metaObject();
  for (const char *signature :
       {"Setup(QString,int,QString,QString,QString,int,QString,QString,QString,QString,QString)", "Connect()",
        "Disconnect()", "StopStream()", "StreamVideo(QString,QString)", "StreamVideo(QString)",
        "StartVideo(QString,QString)", "StateChanged(QString)", "VideoFinished(bool,QString)", "VideoTaken()"}) {
    EXPECT_GE(meta->indexOfMethod(signature), 0) << signature;
  }
  for (const char *property : {"State", "LastError", "PacingMode", "LateMs"}) {
    EXPECT_GE(meta->indexOfProperty(property), 0) << property;
  }
  // Hold by default, for hosts that know nothing of pacing modes.
  EXPECT_EQ(host.pacingMode(), QStringLiteral("hold"));
  EXPECT_TRUE(host.setPacingMode(QStringLiteral("real-time")).ok());
  EXPECT_EQ(host.pacingMode(), QStringLiteral("real-time"));
  const ControlResult unknown = host.setPacingMode(QStringLiteral("fast"));
  EXPECT_EQ(unknown.code, ControlResult::Code::ControlError);
  EXPECT_TRUE(unknown.text.contains(QStringLiteral("fast")));
}

TEST(PluginHost, UnknownNameIsAClearError) {
  ControlHost host;
  EXPECT_FALSE(host.create(nullptr, QStringLiteral("NoSuch.Control")));
  EXPECT_TRUE(host.loadError().contains(QStringLiteral("NoSuch.Control")));
  EXPECT_FALSE(host.isLoaded());
  EXPECT_EQ(host.state(), ControlState::NotLoaded);
  EXPECT_EQ(host.connectToServer().code, ControlResult::Code::NotLoaded);
}

TEST(PluginHost, StreamsAVideoThroughCallsByName) {
  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  QWidget window;
  ControlHost host;
  ASSERT_TRUE(host.create(&window)) << host.loadError().toStdString();
  StationSettings settings;
  settings.address = QStringLiteral("127.0.0.1");
  settings.port = server.port();
  settings.password = QStringLiteral("pw");
  settings.stream_name = QStringLiteral("Name");
  settings.genre = QStringLiteral("Genre");
  settings.is_public = 1;
  settings.bitrate = QStringLiteral("128");
  const ControlResult setup = host.setup(settings);
  ASSERT_TRUE(setup.ok()) << setup.text.toStdString();
  ASSERT_TRUE(host.connectToServer().ok());
  ASSERT_TRUE(waitUntil([&] { return host.state() == ControlState::Ready; }));
  ASSERT_TRUE(waitUntil(
      [&] { return server.sourceBytes().startsWith("pw\r\nicy-name:Name\r\nicy-genre:Genre\r\nicy-pub:1\r\n"); }));

  QTemporaryDir temp;
  const QByteArray video = fixtures::nsvFile(3, 25, 50);
  const QString path = temp.filePath(QStringLiteral("v.nsv"));
  ASSERT_TRUE(fixtures::writeFile(path, video));
  // Started without waiting: the host's signals tell the outcome.
  QSignalSpy finished(&host, &ControlHost::videoFinished);
  ASSERT_TRUE(host.startVideo(path, QStringLiteral("Hello")).ok());
  ASSERT_TRUE(finished.wait(5000));
  EXPECT_TRUE(finished.takeFirst().value(0).toBool());
  EXPECT_EQ(host.state(), ControlState::Ready);
  ASSERT_TRUE(waitUntil([&] { return server.sourceBytes().endsWith(video); }));
  ASSERT_TRUE(waitUntil([&] { return server.closedTitleConnections() == 1; }));
  EXPECT_TRUE(server.titleRequests().value(0).contains("song=Hello HTTP/1.0"));

  QSignalSpy taken(&host, &ControlHost::videoTaken);
  ASSERT_TRUE(host.startVideo(path, QStringLiteral("Again")).ok());
  EXPECT_EQ(host.startVideo(path, QStringLiteral("Twice")).code, ControlResult::Code::ControlError);
  ASSERT_TRUE(finished.wait(5000));
  EXPECT_TRUE(finished.first().value(0).toBool());
  EXPECT_TRUE(taken.count() == 1 || taken.wait(5000));

  ASSERT_TRUE(host.stopStream().ok());
  ASSERT_TRUE(host.disconnectFromServer().ok());
  EXPECT_EQ(host.state(), ControlState::NotLoggedIn);
}

TEST(PluginHost, ErrorsOfTheControlReachTheHostAsText) {
  ControlHost host;
  // Without a parent the host owns the control and deletes it.
  ASSERT_TRUE(host.create(nullptr));

  StationSettings settings;
  settings.address = QStringLiteral("127.0.0.1");
  settings.port = 70000;
  settings.password = QStringLiteral("pw");
  const ControlResult refused = host.setup(settings);
  EXPECT_EQ(refused.code, ControlResult::Code::ControlError);
  EXPECT_TRUE(refused.text.contains(QStringLiteral("70000")));

  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  settings.port = server.port();
  ASSERT_TRUE(host.setup(settings).ok());
  ASSERT_TRUE(host.connectToServer().ok());
  // A second Connect while the first attempt is open: the socket refuses.
  const ControlResult second = host.connectToServer();
  EXPECT_EQ(second.code, ControlResult::Code::ControlError);
  EXPECT_FALSE(second.text.isEmpty());
  // A following call that succeeds reports no stale error.
  const ControlResult disconnected = host.disconnectFromServer();
  EXPECT_TRUE(disconnected.ok());
  EXPECT_TRUE(disconnected.text.isEmpty());
}
