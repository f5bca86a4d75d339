// The player page in a real browser (headless chromium through chromedriver)
// against a private Icecast, the WebM gateway and a headless Tarvik+ on
// loopback: it plays, follows the station's videos and titles, lets viewers
// join mid-stream, and comes back by itself after the station is dropped.

#include "tests/web/page_probe.h"
#include "tests/support/wait_until.h"
#include "tests/web/web_driver.h"
#include "tests/web/web_station.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QRegularExpression>

#include <cerrno>
#include <csignal>
#include <iostream>

namespace {

const ColourVideo kRed{QStringLiteral("Red Card"), QStringLiteral("red"), QStringLiteral("320x240"), 8};
const ColourVideo kBlue{QStringLiteral("Blue Card"), QStringLiteral("blue"), QStringLiteral("640x360"), 8};

// currentTime gained over duration_ms of wall time.
double playedDuring(WebDriver &browser, int duration_ms) {
  const double start_s = readPage(browser).current_s;
  pumpEvents(duration_ms);
  return readPage(browser).current_s - start_s;
}

bool processExists(qint64 pid) { return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH; }

} // namespace

TEST(PlayerPage, PlaysFollowsTheStationLetsViewersJoinAndRecoversAfterADrop) {
  WebStation station;
  QString reason;
  ASSERT_TRUE(station.startServer(&reason)) << reason.toStdString();
  // The gateway comes first and waits for the station's stream.
  ASSERT_TRUE(station.startGateway(&reason)) << reason.toStdString();
  ASSERT_TRUE(waitUntil([&] { return station.gatewayLog().contains("starting it again"); }, 20000))
      << station.gatewayLog().toStdString();
  // With its HTTP API, which the page's origin may read.
  const QString page_origin = QStringLiteral("http://127.0.0.1:%1").arg(station.server().port());
  ASSERT_TRUE(station.startStation({kRed, kBlue},
                                   {QStringLiteral("--http"), QStringLiteral("127.0.0.1:0"),
                                    QStringLiteral("--http-allow-origin"), page_origin},
                                   &reason))
      << reason.toStdString();
  ASSERT_TRUE(waitUntil([&] { return station.mountOnAir(QStringLiteral("/live.webm")); }, 60000))
      << station.gatewayLog().toStdString() << station.stationLog().toStdString();
  static const QRegularExpression api_address(QStringLiteral("HTTP API on (http://127\\.0\\.0\\.1:\\d+)/"));
  const QString api = api_address.match(station.stationLog()).captured(1);
  ASSERT_FALSE(api.isEmpty()) << station.stationLog().toStdString();

  WebDriver browser;
  ASSERT_TRUE(browser.start(&reason)) << reason.toStdString();
  ASSERT_TRUE(browser.open(station.pageUrl() + QStringLiteral("?api=") + api)) << browser.lastError().toStdString();
  ASSERT_TRUE(waitUntil([&] { return readPage(browser).current_s > 0.5; }, 30000))
      << "the page never played; " << browser.lastError().toStdString() << station.gatewayLog().toStdString();

  // "Up next" names one of the station's videos.
  EXPECT_TRUE(waitUntil(
      [&] {
        const QString next = readPage(browser).next;
        return next == kRed.title || next == kBlue.title;
      },
      15000))
      << readPage(browser).next.toStdString();

  // Plays at its pace, with a picture.
  EXPECT_GE(playedDuring(browser, 10000), 9.0);
  const Colour first_colour = drawnColour(browser);
  EXPECT_TRUE(first_colour == Colour::Red || first_colour == Colour::Blue) << colourName(first_colour);

  // The title follows the station's within 10 s, and the picture changes with
  // the video: both colours (and so both frame sizes) are seen.
  QString station_title = station.streamStatus().value("title").toString();
  QElapsedTimer since_title_change;
  since_title_change.start();
  bool title_followed = false;
  bool seen_red = first_colour == Colour::Red;
  bool seen_blue = first_colour == Colour::Blue;
  bool title_late = false;
  QElapsedTimer watching;
  watching.start();
  while (watching.elapsed() < 90000 && !(seen_red && seen_blue && title_followed)) {
    const QString now_title = station.streamStatus().value("title").toString();
    if (now_title != station_title) {
      station_title = now_title;
      since_title_change.restart();
    }
    const PageState page = readPage(browser);
    if (page.title == station_title) {
      title_followed = title_followed || watching.elapsed() > since_title_change.elapsed();
    } else if (since_title_change.elapsed() > 10000) {
      title_late = true;
    }
    const Colour colour = drawnColour(browser);
    seen_red = seen_red || colour == Colour::Red;
    seen_blue = seen_blue || colour == Colour::Blue;
    pumpEvents(300);
  }
  EXPECT_TRUE(seen_red && seen_blue) << "the picture did not follow the videos";
  EXPECT_TRUE(title_followed) << "the page's title never caught up with the station's";
  EXPECT_FALSE(title_late) << "the page's title lagged the station's by more than 10 s";

  // Viewers who join mid-stream play from the first frame they get.
  for (int join = 0; join < 2; ++join) {
    ASSERT_TRUE(browser.open(station.pageUrl())) << browser.lastError().toStdString();
    EXPECT_TRUE(waitUntil([&] { return readPage(browser).current_s > 1.0; }, 15000)) << "join " << join;
    const Colour joined_colour = drawnColour(browser);
    EXPECT_TRUE(joined_colour == Colour::Red || joined_colour == Colour::Blue) << colourName(joined_colour);
    EXPECT_FALSE(readPage(browser).has_error);
    EXPECT_TRUE(readPage(browser).next.isEmpty()) << "not told of the API, the page shows no \"Up next\"";
    pumpEvents(1700);
  }

  // A viewer who paused falls behind: "Live" appears and brings the newest
  // frames back.
  EXPECT_FALSE(readPage(browser).live_button);
  browser.run(QStringLiteral("document.getElementById('video').pause();"));
  EXPECT_TRUE(waitUntil([&] { return readPage(browser).live_button; }, 10000));
  browser.run(QStringLiteral("document.getElementById('live').click();"));
  EXPECT_TRUE(waitUntil(
      [&] {
        const PageState page = readPage(browser);
        return !page.paused && page.current_s > 0.5 && page.behind_s < 5.0 && !page.live_button;
      },
      15000));

  // Icecast drops the station; the station logs in again by itself, and the
  // page, not reloaded, plays again within 10 s of that.
  browser.run(QStringLiteral("window.testMarker = 42;"));
  const PageState before_drop = readPage(browser);
  const QString stream_start = station.streamStatus().value("stream_start_iso8601").toString();
  ASSERT_TRUE(station.killSource(QStringLiteral("/stream")));
  QElapsedTimer since_drop;
  since_drop.start();
  auto stationBack = [&] {
    const QString start = station.streamStatus().value("stream_start_iso8601").toString();
    return !start.isEmpty() && start != stream_start;
  };
  ASSERT_TRUE(waitUntil(stationBack, 30000)) << station.stationLog().toStdString();
  // Within 10 s the page plays on steadily, with new pictures: past what it
  // had received before the drop, or from a new connection of its own (when
  // the gateway's ffmpeg gave up waiting for the station and was restarted).
  QElapsedTimer recovery;
  recovery.start();
  auto playingNewPictures = [&] {
    const PageState page = readPage(browser);
    const bool reconnected = page.connections > before_drop.connections && page.current_s > 0.5;
    return !page.paused && (reconnected || page.current_s > before_drop.buffered_end_s + 1.0) &&
           playedDuring(browser, 2000) >= 1.5;
  };
  EXPECT_TRUE(waitUntil(playingNewPictures, 10000)) << station.gatewayLog().toStdString();
  // What a viewer saw: the picture stood still for the wall time the media
  // time did not advance (less when the page reconnected and skipped ahead).
  std::cout << "After the station came back the page played on steadily in " << recovery.elapsed()
            << " ms; the picture stood still for about "
            << since_drop.elapsed() - 1000 * (readPage(browser).current_s - before_drop.current_s) << " ms\n";
  EXPECT_EQ(readPage(browser).marker, 42) << "the page was reloaded";

  // The WebM mount itself goes: the gateway starts ffmpeg again and the
  // page, whose stream ended, connects again by itself.
  const PageState before_webm_drop = readPage(browser);
  ASSERT_TRUE(station.killSource(QStringLiteral("/live.webm")));
  recovery.restart();
  EXPECT_TRUE(waitUntil(
      [&] {
        const PageState page = readPage(browser);
        return page.connections > before_webm_drop.connections && !page.paused && page.current_s > 0.5;
      },
      20000))
      << station.gatewayLog().toStdString();
  std::cout << "After the WebM mount was dropped the page played again in " << recovery.elapsed() << " ms\n";
  EXPECT_GE(playedDuring(browser, 3000), 2.0);
  EXPECT_EQ(readPage(browser).marker, 42) << "the page was reloaded";

  // SIGTERM ends the gateway and its ffmpeg; its lines are dated and never
  // show the password.
  QList<qint64> ffmpeg_pids;
  EXPECT_TRUE(station.stopGateway(&ffmpeg_pids)) << station.gatewayLog().toStdString();
  ASSERT_FALSE(ffmpeg_pids.isEmpty());
  for (qint64 pid : ffmpeg_pids) {
    EXPECT_FALSE(processExists(pid)) << "ffmpeg " << pid << " outlived the gateway";
  }
  const QString log = station.gatewayLog();
  EXPECT_FALSE(log.contains(QLatin1String(WebStation::kPassword))) << log.toStdString();
  static const QRegularExpression undated(QStringLiteral("^(?!\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d ).+$"),
                                          QRegularExpression::MultilineOption);
  EXPECT_FALSE(undated.match(log).hasMatch()) << log.toStdString();
  EXPECT_TRUE(log.contains(QStringLiteral("WebM gateway stopped")));
}
