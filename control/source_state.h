#pragma once

#include <QMutex>
#include <QMutexLocker>
#include <QtGlobal>

#include <atomic>

namespace pellox {

// The source connection's state, reported to hosts as the digits "0" to "4".
enum class SourceState : int {
  NotLoggedIn = 0, // idle, or a login under way
  Ready = 1,       // logged in, ready for a file
  Sending = 2,     // a file is being sent (or its send ended early)
  LoginRefused = 3,
  SocketError = 4,
};

// The state as the host's thread and the sending thread share it. Every
// Connect and Disconnect begins a new connection; the sending thread changes
// the state only while the connection it works for is still the current
// one, so a Disconnect is never undone by an event of the closed socket.
class SharedSourceState {
public:
  SourceState state() const {
    QMutexLocker lock(&mutex_);
    return state_;
  }
  quint64 connection() const {
    QMutexLocker lock(&mutex_);
    return connection_;
  }
  // Connect and Disconnect: a new connection in the given state.
  quint64 beginConnection(SourceState state) {
    QMutexLocker lock(&mutex_);
    state_ = state;
    closed_connection_ = connection_;
    return ++connection_;
  }
  // False when a newer connection has begun meanwhile.
  bool setFor(quint64 connection, SourceState state) {
    QMutexLocker lock(&mutex_);
    if (connection != connection_) {
      return false;
    }
    state_ = state;
    return true;
  }
  // As setFor, and only from the state expected.
  bool changeFor(quint64 connection, SourceState expected, SourceState state) {
    QMutexLocker lock(&mutex_);
    if (connection != connection_ || state_ != expected) {
      return false;
    }
    state_ = state;
    return true;
  }

  // Whether the socket of the current connection is open or opening: the
  // host asks before a Connect, the sending thread says when it closed.
  void markOpening(quint64 connection) {
    QMutexLocker lock(&mutex_);
    opening_connection_ = connection;
  }
  void markClosed(quint64 connection) {
    QMutexLocker lock(&mutex_);
    closed_connection_ = qMax(closed_connection_, connection);
  }
  bool socketOpen() const {
    QMutexLocker lock(&mutex_);
    return opening_connection_ > closed_connection_;
  }

private:
  mutable QMutex mutex_;
  SourceState state_ = SourceState::NotLoggedIn;
  quint64 connection_ = 0;
  quint64 opening_connection_ = 0;
  quint64 closed_connection_ = 0;
};

} // namespace pellox
