// The control as a host sees it: found by its programmatic name next to the
// executable and driven only by name, through ControlHost.

#include "fake_shoutcast_server.h"
#include "nsv_fixtures.h"
#include "wait_until.h"

#include <control_host.h>

#include <gtest/gtest.h>

#include <QMetaMethod>
#include <QTemporaryDir>

TEST(PluginHost, FindsTheControlByNameAndExposesItsMembers) {
  QWidget window;
  ControlHost host;
  QString error;
  ASSERT_TRUE(host.create(&window, &error)) << error.toStdString();
  QWidget *control = host.widget();
  ASSERT_NE(control, nullptr);
  EXPECT_EQ(control->parentWidget(), &window);
  EXPECT_EQ(host.state(), "0");

  const QMetaObject *meta = control->metaObject();
  for (const char *signature :
       {"Setup(QString,int,QString,QString,QString,int,QString,QString,QString,QString,QString)", "Connect()",
        "Disconnect()", "StopStream()", "StreamVideo(QString,QString)", "StreamVideo(QString)"}) {
    EXPECT_GE(meta->indexOfMethod(signature), 0) << signature;
  }
  EXPECT_GE(meta->indexOfProperty("State"), 0);
}

TEST(PluginHost, UnknownNameIsAClearError) {
  ControlHost host;
  QString error;
  EXPECT_FALSE(host.create(nullptr, &error, QStringLiteral("NoSuch.Control")));
  EXPECT_TRUE(error.contains(QStringLiteral("NoSuch.Control")));
  EXPECT_FALSE(host.isLoaded());
  EXPECT_FALSE(host.connectToServer(&error));
}

TEST(PluginHost, StreamsAVideoThroughCallsByName) {
  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  QWidget window;
  ControlHost host;
  QString error;
  ASSERT_TRUE(host.create(&window, &error)) << error.toStdString();
  ASSERT_TRUE(host.setup(QStringLiteral("127.0.0.1"), server.port(), QStringLiteral("pw"), QStringLiteral("Name"),
                         QStringLiteral("Genre"), 1, QStringLiteral("128"), QString(), QString(), QString(),
                         QString(), &error))
      << error.toStdString();
  ASSERT_TRUE(host.connectToServer(&error));
  ASSERT_TRUE(waitUntil([&] { return host.state() == "1"; }));
  EXPECT_TRUE(server.sourceBytes().startsWith("pw\r\nicy-name:Name\r\nicy-genre:Genre\r\nicy-pub:1\r\n"));

  QTemporaryDir temp;
  const QByteArray video = fixtures::nsvFile(3, 25, 50);
  const QString path = temp.filePath(QStringLiteral("v.nsv"));
  ASSERT_TRUE(fixtures::writeFile(path, video));
  bool sent_whole_file = false;
  ASSERT_TRUE(host.streamVideo(path, QStringLiteral("Hello"), &sent_whole_file, &error));
  EXPECT_TRUE(sent_whole_file);
  EXPECT_EQ(host.state(), "1");
  ASSERT_TRUE(waitUntil([&] { return server.sourceBytes().endsWith(video); }));
  ASSERT_TRUE(waitUntil([&] { return server.closedTitleConnections() == 1; }));
  EXPECT_TRUE(server.titleRequests().value(0).contains("song=Hello HTTP/1.0"));

  ASSERT_TRUE(host.stopStream(&error));
  ASSERT_TRUE(host.disconnectFromServer(&error));
  EXPECT_EQ(host.state(), "0");
}

TEST(PluginHost, ErrorsOfTheControlReachTheHostAsText) {
  ControlHost host;
  QString error;
  ASSERT_TRUE(host.create(nullptr, &error));
  std::unique_ptr<QWidget> owner(host.widget());

  EXPECT_FALSE(host.setup(QStringLiteral("127.0.0.1"), 70000, QStringLiteral("pw"), QString(), QString(), 0,
                          QString(), QString(), QString(), QString(), QString(), &error));
  EXPECT_TRUE(error.contains(QStringLiteral("70000")));

  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  error.clear();
  ASSERT_TRUE(host.setup(QStringLiteral("127.0.0.1"), server.port(), QStringLiteral("pw"), QString(), QString(),
                         0, QString(), QString(), QString(), QString(), QString(), &error));
  ASSERT_TRUE(host.connectToServer(&error));
  // A second Connect while the first attempt is open: the socket refuses.
  EXPECT_FALSE(host.connectToServer(&error));
  EXPECT_FALSE(error.isEmpty());
  // A following call that succeeds reports no stale error.
  error.clear();
  EXPECT_TRUE(host.disconnectFromServer(&error));
  EXPECT_TRUE(error.isEmpty());
}
