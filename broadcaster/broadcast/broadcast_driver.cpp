#include "broadcast_driver.h"

#include <scoped_value.h>
#include <session.h>

#include <QFile>
#include <QFileInfo>

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

StationSettings stationSettings(const session::ServerSettings &server) {
  StationSettings settings;
  settings.address = server.host;
  settings.port = server.port;
  settings.password = server.password;
  settings.stream_name = server.stream_name;
  settings.genre = server.genre;
  settings.is_public = server.is_public;
  settings.bitrate = server.bitrate;
  settings.url = server.url;
  settings.irc = server.irc;
  settings.icq = server.icq;
  settings.aim = server.aim;
  return settings;
}

} // namespace

BroadcastDriver::BroadcastDriver(session::Session &session, PlayQueue &queue, ControlHost &control,
                                 std::shared_ptr<YieldClock> clock, QObject *parent)
    : QObject(parent), session_(session), queue_(queue), control_(control),
      clock_(clock ? std::move(clock) : std::make_shared<SystemYieldClock>()), draw_(clockSeededDraw()) {}

void BroadcastDriver::RunBroadcast() {
  // A second Start while a broadcast runs (clicked during one of its yields).
  if (phase_ != Phase::Idle || exit_requested_) {
    return;
  }
  if (!control_.isLoaded()) {
    report(Problem::ControlMissing, control_.loadError());
    return;
  }
  if (!session_.isOpen()) {
    report(Problem::NoSession, QStringLiteral("Open or create a session before you start streaming."));
    return;
  }
  {
    ScopedValue<Phase> running(phase_, Phase::Running);
    emit runningChanged(true);
    skipped_in_a_row_ = 0;
    const ControlState state = control_.state();
    const bool logged_in = state == ControlState::Ready || state == ControlState::Sending;
    if (logged_in || logIn() == LoginResult::LoggedIn) {
      playLoop();
    }
  }
  emit runningChanged(false);
}

BroadcastDriver::LoginResult BroadcastDriver::logIn() {
  const session::BroadcastSettings read = session_.document().broadcastSettings();
  if (!read.problem.isEmpty()) {
    report(Problem::SettingsUnusable, read.problem);
    return LoginResult::Failed;
  }
  ControlResult result = control_.setup(stationSettings(read.settings));
  if (result.ok()) {
    result = control_.connectToServer();
  }
  if (!result.ok()) {
    report(Problem::LoginFailed, kConnectionFailed + QStringLiteral("\r\n") + result.text);
    return LoginResult::Failed;
  }

  const std::uint32_t started_ms = clock_->nowMs();
  while (static_cast<int>(control_.state()) <= 0) {
    if (broadcastAbandoned()) {
      return LoginResult::Abandoned;
    }
    if (clock_->nowMs() - started_ms >= kLoginTimeoutMs) {
      control_.disconnectFromServer();
      report(Problem::LoginFailed, kConnectionFailed);
      return LoginResult::Failed;
    }
    clock_->yieldToEvents();
    clock_->sleepMs(kLoginPollMs);
  }
  const ControlState state = control_.state();
  if (state == ControlState::LoginRefused || state == ControlState::SocketError) {
    report(Problem::LoginFailed, kConnectionFailed);
    return LoginResult::Failed;
  }
  return LoginResult::LoggedIn;
}

bool BroadcastDriver::skipItem(const PlayQueue::Item &item, const QString &status_note) {
  queue_.removeItem(item.id);
  emit statusChanged(status_note);
  ++skipped_in_a_row_;
  if (skipped_in_a_row_ >= kSkipLimit) {
    report(Problem::TooManySkipped, QStringLiteral("%1 videos in a row could not be played, so the broadcast has "
                                                   "ended. Check the library's entries and files.")
                                        .arg(kSkipLimit));
    return false;
  }
  return true;
}

bool BroadcastDriver::topUpQueue() {
  const session::Library &library = session_.library();
  if (queue_.mode() == PlayQueue::Mode::Random && queue_.count() < kRandomQueueLength) {
    FillQueue(kRandomQueueLength, library, queue_, draw_);
  }
  if (queue_.count() == 0) {
    FillQueue(1, library, queue_, draw_);
  }
  // Videos queued by hand still play when the library has nothing to draw.
  if (queue_.count() == 0) {
    report(Problem::NoVideos,
           QStringLiteral("The library has no videos to stream. Import videos into a folder of the library first."));
    return false;
  }
  return true;
}

void BroadcastDriver::playLoop() {
  while (!exit_requested_) {
    if (!topUpQueue()) {
      return;
    }
    const PlayQueue::Item head = queue_.itemAt(0);
    const QString entry_key = session::entryKeyFromNodeKey(head.node_key);
    const std::optional<session::PlayableEntry> entry = session_.document().playableEntry(entry_key);
    if (!entry) {
      if (!skipItem(head, QStringLiteral("Skipped \"%1\": its library entry is missing or incomplete.").arg(head.title))) {
        return;
      }
      continue;
    }
    if (!fileIsReadable(entry->path)) {
      report(Problem::VideoUnreadable, QStringLiteral("The video file %1 of \"%2\" is missing or cannot be read. It "
                                                      "was taken out of the queue.")
                                           .arg(entry->path, head.title));
      if (!skipItem(head, QStringLiteral("Skipped \"%1\": its video file is missing or cannot be read.").arg(head.title))) {
        return;
      }
      continue;
    }

    emit statusChanged(QStringLiteral("Streaming ") + head.title);
    emit videoStarting(entry_key);
    if (exit_requested_) {
      return;
    }
    bool sent_whole_file = false;
    const ControlResult result = control_.streamVideo(entry->path, head.title, &sent_whole_file);
    if (exit_requested_) {
      return;
    }
    if (!result.ok() || !sent_whole_file) {
      emit statusChanged(kStreamingFailed);
      // The server may have dropped the connection; close our side too, so
      // the next Start logs in afresh. A Stop has done that already.
      if (phase_ == Phase::Running) {
        control_.disconnectFromServer();
      }
      report(Problem::StreamingFailed,
             result.text.isEmpty() ? kStreamingFailed : kStreamingFailed + QStringLiteral("\r\n") + result.text);
      return;
    }
    skipped_in_a_row_ = 0;
    if (session_.document().raisePlayCount(entry_key)) {
      emit saveNeeded();
    }
    // The item that played, wherever the operator moved it meanwhile.
    queue_.removeItem(head.id);
    emit videoPlayed(entry_key);
  }
}

void BroadcastDriver::stopControl() {
  control_.stopStream();
  clock_->yieldToEvents();
  clock_->sleepMs(kStopSettleMs);
  control_.disconnectFromServer();
}

void BroadcastDriver::stop() {
  // A second click on Stop during this one's yield has nothing to add.
  if (phase_ == Phase::Stopping || phase_ == Phase::Stopped) {
    return;
  }
  if (phase_ == Phase::Idle) {
    ScopedValue<Phase> stopping(phase_, Phase::Stopping);
    stopControl();
    return;
  }
  // The running broadcast sees this and ends once the control lets go.
  phase_ = Phase::Stopped;
  stopControl();
}

void BroadcastDriver::endForExit() {
  exit_requested_ = true;
  stopControl();
  clock_->yieldToEvents();
  clock_->sleepMs(kStopSettleMs);
}
