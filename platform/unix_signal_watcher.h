#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <initializer_list>
#include <memory>
#include <vector>

// Turns termination signals (SIGTERM, SIGINT, SIGHUP, ...) into a Qt signal
// on the thread that made the watcher. The handler itself only writes a byte
// to a socket pair, the one thing that is safe in a signal handler; the
// event loop reads it and emits unixSignal. One watcher per program.
class UnixSignalWatcher : public QObject {
  Q_OBJECT

public:
  explicit UnixSignalWatcher(QObject *parent = nullptr);
  ~UnixSignalWatcher() override;

  // False when the socket pair cannot be made; the signals then keep their
  // default action.
  bool watch(std::initializer_list<int> signal_numbers);
  // Gives the watched signals back their default action, so that once the
  // event loop has ended a signal ends the program instead of going unread.
  // The destructor does the same.
  void unwatch();

signals:
  void unixSignal(int signal_number);

private:
  void onReadable();

  std::unique_ptr<QSocketNotifier> notifier_;
  std::vector<int> watched_;
};
