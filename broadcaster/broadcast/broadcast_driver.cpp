#include "broadcast_driver.h"

#include <scoped_value.h>
#include <session.h>
#include <station_log.h>

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

const QString kConnectionFailed =
    QStringLiteral("You either entered an incorrect password, or the server couldn't be reached!");
const QString kStreamingFailed = QStringLiteral("An error occured when streaming.");
constexpr std::uint32_t kStopSettleMs = 500;
constexpr std::uint32_t kLoginPollMs = 10;
constexpr std::uint32_t kRetryPollMs = 50;

bool fileIsReadable(const QString &path) {
  QFile file(path);
  return QFileInfo(path).isFile() && file.open(QIODevice::ReadOnly);
}

QString withReason(const QString &message, const QString &reason) {
  return reason.isEmpty() ? message : message + QStringLiteral("\r\n") + reason;
}

} // namespace

BroadcastDriver::BroadcastDriver(session::Session &session, PlayQueue &queue, ControlHost &control,
                                 std::shared_ptr<YieldClock> clock, QObject *parent)
    : QObject(parent), session_(session), queue_(queue), control_(control),
      clock_(clock ? std::move(clock) : std::make_shared<SystemYieldClock>()), draw_(clockSeededDraw()) {}

void BroadcastDriver::report(Problem problem, const QString &message) {
  qCWarning(lcBroadcast).noquote() << message;
  emit error(problem, message);
}

void BroadcastDriver::reportStreamingFailed(const QString &reason) {
  // The status line says what the error says; the log needs it once.
  emit statusChanged(kStreamingFailed);
  report(Problem::StreamingFailed, withReason(kStreamingFailed, reason));
}

void BroadcastDriver::setStatus(const QString &text) {
  qCInfo(lcBroadcast).noquote() << text;
  emit statusChanged(text);
}

void BroadcastDriver::RunBroadcast() {
  // A second Start while a broadcast runs (clicked during one of its yields).
  if (phase_ != Phase::Idle || exit_requested_) {
    return;
  }
  if (!control_.isLoaded()) {
    report(Problem::ControlMissing, control_.loadError());
    emit ended(true);
    return;
  }
  if (!session_.isOpen()) {
    report(Problem::NoSession, QStringLiteral("Open or create a session before you start streaming."));
    emit ended(true);
    return;
  }
  bool by_error = false;
  {
    ScopedValue<Phase> running(phase_, Phase::Running);
    emit runningChanged(true);
    skipped_in_a_row_ = 0;
    retry_wait_ms_ = kFirstRetryWaitMs;
    broadcast();
    // A broadcast never ends by itself: unless Stop or Exit came, an error ended it.
    by_error = phase_ == Phase::Running && !exit_requested_;
  }
  emit runningChanged(false);
  emit ended(by_error);
}

void BroadcastDriver::broadcast() {
  for (;;) {
    const ControlState state = control_.state();
    const bool logged_in = state == ControlState::Ready || state == ControlState::Sending;
    const LoginResult login = logged_in ? LoginResult::LoggedIn : logIn();
    if (login == LoginResult::Unreachable) {
      if (waitBeforeRetry(QStringLiteral("The server could not be reached or refused the login."))) {
        continue;
      }
      return;
    }
    if (login != LoginResult::LoggedIn) {
      return;
    }
    retry_wait_ms_ = kFirstRetryWaitMs;
    if (playLoop() == PlayResult::ConnectionLost &&
        waitBeforeRetry(QStringLiteral("The connection to the server was lost."))) {
      continue;
    }
    return;
  }
}

BroadcastDriver::LoginResult BroadcastDriver::logIn() {
  const session::BroadcastSettings read = session_.document().broadcastSettings();
  if (!read.problem.isEmpty()) {
    report(Problem::SettingsUnusable, read.problem);
    return LoginResult::Failed;
  }
  // The source logs in one port above the server's own: name both.
  const QString server = QStringLiteral("%1:%2 (source port %3)")
                             .arg(read.settings.address)
                             .arg(read.settings.port)
                             .arg(read.settings.port + 1);
  qCInfo(lcConnection).noquote() << "Logging in to" << server;
  ControlResult result = control_.setup(read.settings);
  if (result.ok()) {
    result = control_.connectToServer();
  }
  if (!result.ok()) {
    report(Problem::LoginFailed, withReason(kConnectionFailed, result.text));
    return LoginResult::Failed;
  }

  const std::uint32_t started_ms = clock_->nowMs();
  while (static_cast<int>(control_.state()) <= 0) {
    if (broadcastAbandoned()) {
      return LoginResult::Abandoned;
    }
    if (clock_->nowMs() - started_ms >= kLoginTimeoutMs) {
      control_.disconnectFromServer();
      qCWarning(lcConnection).noquote() << "No answer from" << server << "within" << kLoginTimeoutMs / 1000 << "s";
      break;
    }
    clock_->yieldToEvents();
    clock_->sleepMs(kLoginPollMs);
  }
  const ControlState state = control_.state();
  if (state == ControlState::Ready) {
    qCInfo(lcConnection).noquote() << "Logged in to" << server;
    return LoginResult::LoggedIn;
  }
  if (state == ControlState::LoginRefused) {
    qCWarning(lcConnection).noquote() << server << "refused the login";
  } else if (state == ControlState::SocketError) {
    qCWarning(lcConnection).noquote() << server << "could not be reached";
  }
  if (reconnect_) {
    return LoginResult::Unreachable;
  }
  report(Problem::LoginFailed, kConnectionFailed);
  return LoginResult::Failed;
}

bool BroadcastDriver::waitBeforeRetry(const QString &reason) {
  if (!reconnect_ || broadcastAbandoned()) {
    return false;
  }
  const std::uint32_t wait_ms = retry_wait_ms_;
  retry_wait_ms_ = std::min(retry_wait_ms_ * 2, kLongestRetryWaitMs);
  const QString status = QStringLiteral("%1 Trying again in %2 s.").arg(reason).arg(wait_ms / 1000);
  qCWarning(lcConnection).noquote() << status;
  emit statusChanged(status);
  const std::uint32_t started_ms = clock_->nowMs();
  while (clock_->nowMs() - started_ms < wait_ms) {
    if (broadcastAbandoned()) {
      return false;
    }
    clock_->yieldToEvents();
    clock_->sleepMs(kRetryPollMs);
  }
  return !broadcastAbandoned();
}

bool BroadcastDriver::skipItem(const PlayQueue::Item &item, const QString &status_note) {
  queue_.removeItem(item.id);
  setStatus(status_note);
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

BroadcastDriver::PlayResult BroadcastDriver::playLoop() {
  // Stop may come in any yield, also one after which a video still ends well.
  while (!exit_requested_ && phase_ == Phase::Running) {
    if (!topUpQueue()) {
      return PlayResult::Ended;
    }
    const PlayQueue::Item head = queue_.itemAt(0);
    const QString entry_key = session::entryKeyFromNodeKey(head.node_key);
    const std::optional<session::PlayableEntry> entry = session_.document().playableEntry(entry_key);
    if (!entry) {
      if (!skipItem(head, QStringLiteral("Skipped \"%1\": its library entry is missing or incomplete.").arg(head.title))) {
        return PlayResult::Ended;
      }
      continue;
    }
    if (!fileIsReadable(entry->path)) {
      report(Problem::VideoUnreadable, QStringLiteral("The video file %1 of \"%2\" is missing or cannot be read. It "
                                                      "was taken out of the queue.")
                                           .arg(entry->path, head.title));
      if (!skipItem(head, QStringLiteral("Skipped \"%1\": its video file is missing or cannot be read.").arg(head.title))) {
        return PlayResult::Ended;
      }
      continue;
    }

    setStatus(QStringLiteral("Streaming ") + head.title);
    emit videoStarting(entry_key);
    if (exit_requested_) {
      return PlayResult::Ended;
    }
    bool sent_whole_file = false;
    const ControlResult result = control_.streamVideo(entry->path, head.title, &sent_whole_file);
    if (exit_requested_) {
      return PlayResult::Ended;
    }
    if (!result.ok() || !sent_whole_file) {
      if (phase_ != Phase::Running) {
        reportStreamingFailed(result.text);
        return PlayResult::Ended;
      }
      // Still logged in: the control refused this file (not a video it can
      // pace, or it could not be read to its end); the connection is fine
      // and the next video can go.
      if (control_.state() == ControlState::Ready) {
        report(Problem::VideoRefused, withReason(QStringLiteral("\"%1\" cannot be streamed and was taken out of the "
                                                                "queue.")
                                                     .arg(head.title),
                                                 result.text));
        if (!skipItem(head, QStringLiteral("Skipped \"%1\": it cannot be streamed.").arg(head.title))) {
          return PlayResult::Ended;
        }
        continue;
      }
      // The server went away or stopped taking the stream: close our side
      // too, so the next login starts afresh.
      control_.disconnectFromServer();
      if (reconnect_) {
        qCWarning(lcConnection).noquote()
            << withReason(QStringLiteral("Lost the server while sending \"%1\".").arg(head.title), result.text);
        return PlayResult::ConnectionLost;
      }
      reportStreamingFailed(result.text);
      return PlayResult::Ended;
    }
    skipped_in_a_row_ = 0;
    if (session_.document().raisePlayCount(entry_key)) {
      const std::optional<session::PlayableEntry> played = session_.document().playableEntry(entry_key);
      qCInfo(lcBroadcast).noquote() << QStringLiteral("Played \"%1\" to its end; its play count is now %2.")
                                           .arg(head.title)
                                           .arg(played ? played->play_count : 0.0);
      emit saveNeeded();
    }
    // The item that played, wherever the operator moved it meanwhile.
    queue_.removeItem(head.id);
    emit videoPlayed(entry_key);
  }
  return PlayResult::Ended;
}

void BroadcastDriver::stopControl() {
  const ControlState before = control_.state();
  const bool was_connected = before == ControlState::Ready || before == ControlState::Sending;
  control_.stopStream();
  clock_->yieldToEvents();
  clock_->sleepMs(kStopSettleMs);
  control_.disconnectFromServer();
  if (was_connected) {
    qCInfo(lcConnection) << "Disconnected from the server";
  }
}

void BroadcastDriver::stop() {
  // A second click on Stop during this one's yield has nothing to add.
  if (phase_ == Phase::Stopping || phase_ == Phase::Stopped) {
    return;
  }
  qCInfo(lcBroadcast) << "Stop pressed";
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
