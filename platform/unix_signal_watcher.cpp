#include "platform/unix_signal_watcher.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace {

// Written by the handler, read by the event loop.
int g_signal_fds[2] = {-1, -1};

void onSignal(int signal_number) {
  // The interrupted code may be about to read errno.
  const int saved_errno = errno;
  const auto byte = static_cast<unsigned char>(signal_number);
  [[maybe_unused]] const ssize_t written = ::write(g_signal_fds[1], &byte, 1);
  errno = saved_errno;
}

} // namespace

UnixSignalWatcher::UnixSignalWatcher(QObject *parent) : QObject(parent) {}

UnixSignalWatcher::~UnixSignalWatcher() { unwatch(); }

void UnixSignalWatcher::unwatch() {
  for (const int signal_number : watched_) {
    std::signal(signal_number, SIG_DFL);
  }
  watched_.clear();
}

bool UnixSignalWatcher::watch(std::initializer_list<int> signal_numbers) {
  // Non-blocking: a handler must never wait on a full pair.
  if (g_signal_fds[0] < 0 &&
      ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signal_fds) != 0) {
    return false;
  }
  if (!notifier_) {
    notifier_ = std::make_unique<QSocketNotifier>(g_signal_fds[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &UnixSignalWatcher::onReadable);
  }
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signal_number : signal_numbers) {
    if (sigaction(signal_number, &action, nullptr) == 0) {
      watched_.push_back(signal_number);
    }
  }
  return true;
}

void UnixSignalWatcher::onReadable() {
  unsigned char byte = 0;
  if (::read(g_signal_fds[0], &byte, 1) == 1) {
    emit unixSignal(byte);
  }
}
