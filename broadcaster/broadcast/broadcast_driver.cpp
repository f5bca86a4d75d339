#include "broadcast_driver.h"

#include <control_host.h>
#include <library_tree.h>
#include <main_window.h>
#include <play_queue.h>
#include <session_document.h>

#include <QFile>
#include <QFileInfo>
#include <QTabBar>

#include <cmath>

namespace {

const QString kConnectionFailed =
    QStringLiteral("You either entered an incorrect password, or the server couldn't be reached!");
const QString kStreamingFailed = QStringLiteral("An error occured when streaming.");
constexpr std::uint32_t kStopSettleMs = 500;
constexpr std::uint32_t kLoginPollMs = 10;

bool fileIsReadable(const QString &path) {
  QFile file(path);
  return QFileInfo(path).isFile() && file.open(QIODevice::ReadOnly);
}

} // namespace

BroadcastDriver::BroadcastDriver(MainWindow &window, QObject *parent)
    : QObject(parent), window_(window), clock_(std::make_shared<SystemDriverClock>()), draw_(clockSeededDraw()) {
  window_.setBroadcastHooks([this] { return running_; }, [this] { RunBroadcast(); }, [this] { stop(); },
                            [this] { endForExit(); });
}

void BroadcastDriver::RunBroadcast() {
  // A second Start while a broadcast runs (clicked during one of its yields).
  if (running_ || exit_requested_) {
    return;
  }
  if (!window_.control().isLoaded()) {
    window_.ShowError(window_.controlLoadError());
    return;
  }
  if (!window_.hasSession()) {
    window_.ShowError(QStringLiteral("Open or create a session before you start streaming."));
    return;
  }
  running_ = true;
  stop_pressed_ = false;
  skipped_in_a_row_ = 0;
  const QString state = window_.control().state();
  const bool logged_in = state == QLatin1String("1") || state == QLatin1String("2");
  if (logged_in || logIn() == LoginResult::LoggedIn) {
    playLoop();
  }
  running_ = false;
}

QString BroadcastDriver::checkSettings(int *port, int *yp) const {
  session::SessionDocument &document = window_.document();
  if (document.setting(QStringLiteral("pass")).isEmpty()) {
    return QStringLiteral("The session has no server password. Enter it on the Shoutcast tab before you start "
                          "streaming.");
  }
  bool port_ok = false;
  const QString port_text = document.setting(QStringLiteral("port"));
  *port = port_text.trimmed().toInt(&port_ok);
  if (!port_ok || *port < 1 || *port > 65534) {
    return QStringLiteral("The port setting \"%1\" is not a whole number from 1 to 65534. Correct it on the "
                          "Shoutcast tab.")
        .arg(port_text);
  }
  double visibility = 0.0;
  const QString public_text = document.setting(QStringLiteral("public"));
  if (!session::isNumberText(public_text, &visibility) || std::fabs(visibility) > 2147483647.0) {
    return QStringLiteral("The public setting \"%1\" is not a number. Correct it on the Shoutcast tab.")
        .arg(public_text);
  }
  *yp = static_cast<int>(std::nearbyint(visibility));
  return QString();
}

BroadcastDriver::LoginResult BroadcastDriver::logIn() {
  int port = 0;
  int yp = 0;
  const QString problem = checkSettings(&port, &yp);
  if (!problem.isEmpty()) {
    window_.ShowError(problem);
    return LoginResult::Failed;
  }
  const session::SessionDocument &document = window_.document();
  auto setting = [&document](const char *name) { return document.setting(QLatin1String(name)); };
  ControlHost &control = window_.control();
  QString error;
  if (!control.setup(setting("host"), port, setting("pass"), setting("name"), setting("genre"), yp,
                     setting("bitrate"), setting("url"), setting("irc"), setting("icq"), setting("aim"), &error) ||
      !control.connectToServer(&error)) {
    window_.ShowError(kConnectionFailed + QStringLiteral("\r\n") + error);
    return LoginResult::Failed;
  }

  const std::uint32_t started_ms = clock_->nowMs();
  while (control.state().toInt() <= 0) {
    if (stop_pressed_ || exit_requested_) {
      return LoginResult::Abandoned;
    }
    if (clock_->nowMs() - started_ms >= kLoginTimeoutMs) {
      control.disconnectFromServer(&error);
      window_.ShowError(kConnectionFailed);
      return LoginResult::Failed;
    }
    clock_->yieldToEvents();
    clock_->sleepMs(kLoginPollMs);
  }
  const int state = control.state().toInt();
  if (state == 3 || state == 4) {
    window_.ShowError(kConnectionFailed);
    return LoginResult::Failed;
  }
  return LoginResult::LoggedIn;
}

bool BroadcastDriver::skipHead(const QString &status_note) {
  window_.queue().removeAt(0);
  window_.setStatusText(status_note);
  ++skipped_in_a_row_;
  if (skipped_in_a_row_ >= kSkipLimit) {
    window_.ShowError(QStringLiteral("%1 videos in a row could not be played, so the broadcast has ended. Check the "
                                     "library's entries and files.")
                          .arg(kSkipLimit));
    return false;
  }
  return true;
}

void BroadcastDriver::playLoop() {
  PlayQueue &queue = window_.queue();
  session::SessionDocument &document = window_.document();
  while (!exit_requested_) {
    const bool random_mode = window_.queueMode()->tabData(window_.queueMode()->currentIndex()).toString() ==
                             QLatin1String("Random");
    bool has_videos = true;
    if (random_mode && queue.count() < kRandomQueueLength) {
      has_videos = FillQueue(kRandomQueueLength, window_.library(), queue, draw_);
    }
    if (has_videos && queue.count() == 0) {
      has_videos = FillQueue(1, window_.library(), queue, draw_);
    }
    if (queue.count() == 0 || !has_videos) {
      window_.ShowError(QStringLiteral("The library has no videos to stream. Import videos into a folder of the "
                                       "library first."));
      return;
    }

    const QString title = queue.titleAt(0);
    const QString entry_key = session::entryKeyFromNodeKey(queue.keyAt(0));
    const pugi::xml_node entry = document.entryNode(entry_key);
    if (!entry || !entry.child("path") || !entry.child("playcount") ||
        !session::isNumberText(QString::fromUtf8(entry.child("playcount").text().get()))) {
      if (!skipHead(QStringLiteral("Skipped \"%1\": its library entry is missing or incomplete.").arg(title))) {
        return;
      }
      continue;
    }
    const QString path = QString::fromUtf8(entry.child("path").text().get());
    if (!fileIsReadable(path)) {
      window_.ShowError(QStringLiteral("The video file %1 of \"%2\" is missing or cannot be read. It was taken out "
                                       "of the queue.")
                            .arg(path, title));
      if (!skipHead(QStringLiteral("Skipped \"%1\": its video file is missing or cannot be read.").arg(title))) {
        return;
      }
      continue;
    }

    window_.setStatusText(QStringLiteral("Streaming ") + title);
    emit videoStarting(entry_key);
    if (exit_requested_) {
      return;
    }
    bool sent_whole_file = false;
    QString error;
    const bool call_ok = window_.control().streamVideo(path, title, &sent_whole_file, &error);
    if (exit_requested_) {
      return;
    }
    if (!call_ok || !sent_whole_file) {
      window_.setStatusText(kStreamingFailed);
      window_.ShowError(error.isEmpty() ? kStreamingFailed : kStreamingFailed + QStringLiteral("\r\n") + error);
      return;
    }
    skipped_in_a_row_ = 0;
    if (document.raisePlayCount(entry_key)) {
      window_.writeSessionFile();
    }
    queue.removeAt(0);
    emit videoPlayed(entry_key);
  }
}

void BroadcastDriver::stopControl() {
  QString error;
  window_.control().stopStream(&error);
  clock_->yieldToEvents();
  clock_->sleepMs(kStopSettleMs);
  window_.control().disconnectFromServer(&error);
}

void BroadcastDriver::stop() {
  // A second click on Stop during this one's yield has nothing to add.
  if (stopping_) {
    return;
  }
  stopping_ = true;
  stop_pressed_ = true;
  stopControl();
  stopping_ = false;
}

void BroadcastDriver::endForExit() {
  exit_requested_ = true;
  stopControl();
  clock_->yieldToEvents();
  clock_->sleepMs(kStopSettleMs);
}
