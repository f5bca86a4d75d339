#pragma once

#include "tests/web/web_driver.h"

#include <QJsonObject>
#include <QString>

// What the player page shows, read through the browser.
struct PageState {
  double current_s = -1;      // the video's currentTime
  double buffered_end_s = -1; // the end of its last buffered range
  double behind_s = -1;       // the page's own measure of how far behind it plays
  int connections = 0;        // how many times the page connected to the mount
  bool has_error = false;
  bool paused = true;
  bool live_button = false;   // the "Live" button is shown
  QString title;              // the now-playing title on the page
  QString listeners;
  QString next;               // the "Up next" title shown, empty while hidden
  int marker = 0;             // set by the test; a reload clears it
};

enum class Colour { Unknown, Blank, Red, Blue, Green, Other };

PageState readPage(WebDriver &browser);
// The colour of the frame the video shows, drawn to a canvas and averaged.
Colour drawnColour(WebDriver &browser);
const char *colourName(Colour colour);
