#include "tests/web/page_probe.h"

#include <QJsonArray>

#include <algorithm>

PageState readPage(WebDriver &browser) {
  const QJsonObject state = browser
                                .run(QStringLiteral(R"(
    const video = document.getElementById("video");
    const ranges = video.buffered;
    return {
      current: video.currentTime,
      bufferedEnd: ranges.length ? ranges.end(ranges.length - 1) : -1,
      behind: window.player ? window.player.behind_s() : -1,
      connections: window.player ? window.player.connections() : 0,
      error: video.error !== null,
      paused: video.paused,
      live: !document.getElementById("live").hidden,
      title: document.getElementById("title").textContent,
      listeners: document.getElementById("listeners").textContent,
      next: document.getElementById("next").hidden ? "" : document.getElementById("next-title").textContent,
      marker: window.testMarker || 0,
    };)"))
                                .toObject();
  PageState page;
  page.current_s = state.value("current").toDouble(-1);
  page.buffered_end_s = state.value("bufferedEnd").toDouble(-1);
  page.behind_s = state.value("behind").toDouble(-1);
  page.connections = state.value("connections").toInt();
  page.has_error = state.value("error").toBool();
  page.paused = state.value("paused").toBool(true);
  page.live_button = state.value("live").toBool();
  page.title = state.value("title").toString();
  page.listeners = state.value("listeners").toString();
  page.next = state.value("next").toString();
  page.marker = state.value("marker").toInt();
  return page;
}

Colour drawnColour(WebDriver &browser) {
  const QJsonValue rgb = browser.run(QStringLiteral(R"(
    const video = document.getElementById("video");
    if (!video.videoWidth) return null;
    const canvas = document.createElement("canvas");
    canvas.width = 32;
    canvas.height = 18;
    const context = canvas.getContext("2d");
    context.drawImage(video, 0, 0, canvas.width, canvas.height);
    const pixels = context.getImageData(0, 0, canvas.width, canvas.height).data;
    const sum = [0, 0, 0];
    for (let i = 0; i < pixels.length; i += 4) {
      sum[0] += pixels[i]; sum[1] += pixels[i + 1]; sum[2] += pixels[i + 2];
    }
    const count = pixels.length / 4;
    return sum.map((value) => Math.round(value / count));)"));
  if (!rgb.isArray()) {
    return Colour::Unknown;
  }
  const int red = rgb.toArray().at(0).toInt();
  const int green = rgb.toArray().at(1).toInt();
  const int blue = rgb.toArray().at(2).toInt();
  if (std::max({red, green, blue}) < 40) {
    return Colour::Blank;
  }
  auto dominant = [](int main, int other1, int other2) { return main > 150 && other1 < 90 && other2 < 90; };
  if (dominant(red, green, blue)) {
    return Colour::Red;
  }
  if (dominant(blue, red, green)) {
    return Colour::Blue;
  }
  if (dominant(green, red, blue)) {
    return Colour::Green;
  }
  return Colour::Other;
}

const char *colourName(Colour colour) {
  switch (colour) {
  case Colour::Unknown:
    return "no picture";
  case Colour::Blank:
    return "blank";
  case Colour::Red:
    return "red";
  case Colour::Blue:
    return "blue";
  case Colour::Green:
    return "green";
  case Colour::Other:
    break;
  }
  return "another colour";
}
