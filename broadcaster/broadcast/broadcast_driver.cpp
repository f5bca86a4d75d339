#include "broadcaster/broadcast/broadcast_driver.h"

#include "broadcaster/session/session.h"
#include "broadcaster/base/station_log.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

// "occured" is the program's own spelling, kept as it is: operators' scripts match it.
const QString kConnectionFailed =
    QStringLiteral("You either entered an incorrect password, or the server couldn't be reached!");
const QString kStreamingFailed = QStringLiteral("An error occured when streaming.");
const QString kStreamStopped = QStringLiteral("Stream stopped.");

bool fileIsReadable(const QString &path) {
  QFile file(path);
  return QFileInfo(path).isFile() && file.open(QIODevice::ReadOnly);
}

QString withReason(const QString &message, const QString &reason) {
  return reason.isEmpty() ? message : message + QLatin1Char('\n') + reason;
}

} // namespace

BroadcastDriver::BroadcastDriver(session::Session &session, PlayQueue &queue, ControlHost &control,
                                 std::shared_ptr<MillisecondClock> clock, QObject *parent)
    : QObject(parent), session_(session), queue_(queue), control_(control),
      clock_(clock ? std::move(clock) : std::make_shared<SystemMillisecondClock>()), draw_(clockSeededDraw()) {
  wait_timer_.setSingleShot(true);
  wait_timer_.setTimerType(Qt::PreciseTimer);
  connect(&wait_timer_, &QTimer::timeout, this, &BroadcastDriver::onWaitOver);
  connect(&control_, &ControlHost::stateChanged, this, &BroadcastDriver::onControlState);
  connect(&control_, &ControlHost::videoFinished, this, &BroadcastDriver::onVideoFinished);
  connect(&control_, &ControlHost::videoTaken, this, &BroadcastDriver::onVideoTaken);
}

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

void BroadcastDriver::startWait(Phase phase, std::uint32_t duration_ms) {
  phase_ = phase;
  wait_timer_.start(clock_->msUntil(clock_->nowMs() + duration_ms));
}

void BroadcastDriver::RunBroadcast() {
  // A second Start while a broadcast runs or settles.
  if (broadcast_running_ || phase_ != Phase::Idle || exit_requested_) {
    qCInfo(lcBroadcast) << "Start pressed while a broadcast runs or ends; nothing to do";
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
  broadcast_running_ = true;
  skipped_in_a_row_ = 0;
  retry_wait_ms_ = kFirstRetryWaitMs;
  connection_lost_ = false;
  const ControlResult pacing = control_.setPacingMode(pacing_mode_);
  qCInfo(lcBroadcast).noquote() << (pacing.ok() ? QStringLiteral("Pacing: %1").arg(control_.pacingMode())
                                                : QStringLiteral("Pacing stays the control's own: %1").arg(pacing.text));
  emit runningChanged(true);
  beginCycle();
}

void BroadcastDriver::beginCycle() {
  const ControlState state = control_.state();
  if (state == ControlState::Ready || state == ControlState::Sending) {
    phase_ = Phase::Playing;
    playNext();
  } else {
    logIn();
  }
}

void BroadcastDriver::logIn() {
  const session::BroadcastSettings read = session_.document().broadcastSettings();
  if (!read.problem.isEmpty()) {
    report(Problem::SettingsUnusable, read.problem);
    endBroadcast(true);
    return;
  }
  // The source logs in one port above the server's own: name both.
  server_name_ = QStringLiteral("%1:%2 (source port %3)")
                     .arg(read.settings.address)
                     .arg(read.settings.port)
                     .arg(read.settings.port + 1);
  qCInfo(lcConnection).noquote() << "Logging in to" << server_name_;
  ControlResult result = control_.setup(read.settings);
  if (result.ok()) {
    result = control_.connectToServer();
  }
  if (!result.ok()) {
    report(Problem::LoginFailed, withReason(kConnectionFailed, result.text));
    endBroadcast(true);
    return;
  }
  startWait(Phase::LoggingIn, kLoginTimeoutMs);
}

void BroadcastDriver::onControlState(ControlState state) {
  if (phase_ == Phase::LoggingIn && static_cast<int>(state) > 0) {
    wait_timer_.stop();
    onLoginOutcome(state);
  }
}

void BroadcastDriver::onLoginOutcome(ControlState state) {
  if (state == ControlState::Ready) {
    qCInfo(lcConnection).noquote() << "Logged in to" << server_name_;
    phase_ = Phase::Playing;
    playNext();
    return;
  }
  if (state == ControlState::LoginRefused) {
    qCWarning(lcConnection).noquote() << server_name_ << "refused the login";
  } else if (state == ControlState::SocketError) {
    qCWarning(lcConnection).noquote() << server_name_ << "could not be reached";
  }
  if (scheduleRetry(QStringLiteral("The server could not be reached or refused the login."))) {
    return;
  }
  report(Problem::LoginFailed, kConnectionFailed);
  endBroadcast(true);
}

bool BroadcastDriver::scheduleRetry(const QString &reason) {
  if (!reconnect_) {
    return false;
  }
  const std::uint32_t wait_ms = retry_wait_ms_;
  retry_wait_ms_ = std::min(retry_wait_ms_ * 2, kLongestRetryWaitMs);
  const QString status = QStringLiteral("%1 Trying again in %2 s.").arg(reason).arg(wait_ms / 1000);
  qCWarning(lcConnection).noquote() << status;
  emit statusChanged(status);
  startWait(Phase::WaitingToRetry, wait_ms);
  emit retryScheduled(wait_ms);
  return true;
}

bool BroadcastDriver::skipItem(const PlayQueue::Item &item, const QString &status_note) {
  queue_.removeItem(item.id);
  setStatus(status_note);
  emit videoSkipped(session::entryKeyFromNodeKey(item.node_key), item.title, status_note);
  ++skipped_in_a_row_;
  if (skipped_in_a_row_ >= kSkipLimit) {
    report(Problem::TooManySkipped, QStringLiteral("%1 videos in a row could not be played, so the broadcast has "
                                                   "ended. Check the library's entries and files.")
                                        .arg(kSkipLimit));
    endBroadcast(true);
    return false;
  }
  // A handler of the signals above may have pressed Stop or Exit.
  return phase_ == Phase::Playing;
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

// Called while Playing. Every signal it emits may reach a handler that
// presses Stop or Exit: after each, it goes on only while still Playing.
void BroadcastDriver::playNext() {
  for (;;) {
    if (!topUpQueue()) {
      endBroadcast(true);
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

    setStatus(QStringLiteral("Streaming ") + head.title);
    playing_ = head;
    playing_key_ = entry_key;
    // The operator cannot move or remove it from under the broadcast.
    queue_.setOnAir(head.id);
    emit videoStarting(entry_key);
    // A handler of videoStarting may have pressed Stop or Exit.
    if (phase_ != Phase::Playing) {
      return;
    }
    const ControlResult started = control_.startVideo(entry->path, head.title);
    if (!started.ok()) {
      reportStreamingFailed(started.text);
      endBroadcast(true);
    }
    return;
  }
}

void BroadcastDriver::onVideoTaken() {
  if (phase_ != Phase::Playing) {
    return;
  }
  // The server takes the stream: a login that lasts. Only now does the
  // backoff start over, so a server that closes right after each login
  // is tried less and less often.
  retry_wait_ms_ = kFirstRetryWaitMs;
  if (connection_lost_) {
    connection_lost_ = false;
    qCInfo(lcConnection).noquote() << "Back on the air";
    emit connectionBack();
  }
  emit videoOnAir(playing_key_);
}

void BroadcastDriver::onVideoFinished(bool sent, const QString &error_text) {
  if (phase_ != Phase::Playing) {
    return;
  }
  const PlayQueue::Item item = playing_;
  const QString entry_key = playing_key_;
  playing_ = PlayQueue::Item();
  playing_key_.clear();
  queue_.setOnAir(0);
  if (skip_requested_) {
    skip_requested_ = false;
    onSkipped(item);
    return;
  }
  if (sent) {
    skipped_in_a_row_ = 0;
    if (session_.document().raisePlayCount(entry_key)) {
      const std::optional<session::PlayableEntry> played = session_.document().playableEntry(entry_key);
      // How late it ended, if at all, the control has just logged.
      qCInfo(lcBroadcast).noquote() << QStringLiteral("Played \"%1\" to its end; its play count is now %2.")
                                           .arg(item.title, played ? played->playcount.text() : QString());
      emit saveNeeded();
    }
    // The item that played, wherever the operator moved it meanwhile.
    queue_.removeItem(item.id);
    emit videoPlayed(entry_key);
    if (phase_ == Phase::Playing) {
      playNext();
    }
    return;
  }

  // Still logged in: the control refused this file (not a video it can
  // pace, or it could not be read to its end); the connection is fine and
  // the next video can go.
  const ControlState state = control_.state();
  if (state == ControlState::Ready) {
    report(Problem::VideoRefused,
           withReason(QStringLiteral("\"%1\" cannot be streamed and was taken out of the queue.").arg(item.title),
                      error_text));
    if (skipItem(item, QStringLiteral("Skipped \"%1\": it cannot be streamed.").arg(item.title))) {
      playNext();
    }
    return;
  }
  // The server went away, stopped taking the stream or refused it after the
  // login: close our side too, so the next login starts afresh.
  control_.disconnectFromServer();
  if (reconnect_) {
    if (state == ControlState::LoginRefused) {
      // It took the login, not the stream: nothing went on the air.
      qCWarning(lcConnection).noquote()
          << withReason(QStringLiteral("%1 took the login but not the stream.").arg(server_name_), error_text);
      scheduleRetry(QStringLiteral("The server could not be reached or refused the login."));
      return;
    }
    qCWarning(lcConnection).noquote()
        << withReason(QStringLiteral("Lost the server while sending \"%1\".").arg(item.title), error_text);
    if (!connection_lost_) {
      connection_lost_ = true;
      emit connectionLost(error_text);
    }
    scheduleRetry(QStringLiteral("The connection to the server was lost."));
    return;
  }
  reportStreamingFailed(error_text);
  endBroadcast(true);
}

void BroadcastDriver::onWaitOver() {
  switch (phase_) {
  case Phase::LoggingIn:
    control_.disconnectFromServer();
    qCWarning(lcConnection).noquote() << "No answer from" << server_name_ << "within" << kLoginTimeoutMs / 1000 << "s";
    onLoginOutcome(control_.state());
    break;
  case Phase::WaitingToRetry:
    beginCycle();
    break;
  case Phase::StopSettling: {
    const bool was_running = broadcast_running_;
    control_.disconnectFromServer();
    qCInfo(lcConnection) << "Disconnected from the server";
    phase_ = Phase::Idle;
    if (was_running) {
      setStatus(kStreamStopped);
      endBroadcast(false);
    }
    break;
  }
  case Phase::ExitSettling:
    control_.disconnectFromServer();
    qCInfo(lcConnection) << "Disconnected from the server";
    startWait(Phase::ExitClosing, kSettleMs);
    break;
  case Phase::ExitClosing:
    phase_ = Phase::Idle;
    if (broadcast_running_) {
      endBroadcast(false);
    }
    emit exitFinished();
    break;
  case Phase::Idle:
  case Phase::Playing:
    break;
  }
}

bool BroadcastDriver::skip() {
  if (phase_ != Phase::Playing || playing_.id == 0 || skip_requested_) {
    return false;
  }
  skip_requested_ = true;
  control_.stopStream();
  return true;
}

void BroadcastDriver::onSkipped(const PlayQueue::Item &item) {
  queue_.removeItem(item.id);
  const QString note = QStringLiteral("Skipped \"%1\" at the operator's request.").arg(item.title);
  setStatus(note);
  emit videoSkipped(session::entryKeyFromNodeKey(item.node_key), item.title, note);
  if (phase_ == Phase::Playing) {
    playNext();
  }
}

void BroadcastDriver::stop() {
  // A second click on Stop while this one settles has nothing to add.
  if (exit_requested_ || phase_ == Phase::StopSettling) {
    return;
  }
  qCInfo(lcBroadcast) << "Stop pressed";
  wait_timer_.stop();
  skip_requested_ = false;
  control_.stopStream();
  startWait(Phase::StopSettling, kSettleMs);
}

void BroadcastDriver::endForExit() {
  if (exit_requested_) {
    return;
  }
  exit_requested_ = true;
  wait_timer_.stop();
  control_.stopStream();
  startWait(Phase::ExitSettling, kSettleMs);
}

void BroadcastDriver::endBroadcast(bool by_error) {
  // A Stop or Exit pressed by a handler of the report that ends the
  // broadcast keeps its settle: that disconnects, and Exit then finishes.
  if (!isStopping()) {
    wait_timer_.stop();
    phase_ = Phase::Idle;
  }
  skip_requested_ = false;
  playing_ = PlayQueue::Item();
  playing_key_.clear();
  queue_.setOnAir(0);
  if (!broadcast_running_) {
    return;
  }
  broadcast_running_ = false;
  emit runningChanged(false);
  emit ended(by_error);
}
