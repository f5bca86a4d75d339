#pragma once

#include "broadcaster/base/station_settings.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

// The streaming control's login states, as its State property reports them.
enum class ControlState {
  NotLoaded = -1,
  NotLoggedIn = 0,
  Ready = 1,
  Sending = 2,
  LoginRefused = 3,
  SocketError = 4,
};

// The outcome of one call into the control: a code that says what failed,
// next to the text to show.
struct ControlResult {
  enum class Code {
    Ok = 0,
    NotLoaded = 1,    // no control was found or created
    NoSuchMember = 2, // the control lacks the member called
    ControlError = 3, // the control reported an error in LastError
    Closed = 4,       // the control went away during the call
  };
  Code code = Code::Ok;
  QString text;

  bool ok() const { return code == Code::Ok; }
};

// Hosts the streaming control without knowing its class: finds the plugin by
// its programmatic name next to the executable, creates one instance and
// calls its members by name through the meta-object system. This is the one
// place that knows those names; every call reads the control's LastError, so
// an error the control raises becomes a result here instead of a crash. The
// control's signals come out as this host's own.
class ControlHost : public QObject {
  Q_OBJECT

public:
  static constexpr const char *kProgId = "PelloxProject.Pellox";

  ControlHost() = default;
  ~ControlHost() override;
  ControlHost(const ControlHost &) = delete;
  ControlHost &operator=(const ControlHost &) = delete;

  // Looks in folder (the executable's folder when empty) for a library whose
  // plugin metadata carries prog_id, and creates a hidden instance on parent
  // (a window of its own when parent is null). False with loadError() set
  // when there is none.
  bool create(QWidget *parent = nullptr, const QString &prog_id = QString::fromLatin1(kProgId),
              const QString &folder = QString());

  QWidget *widget() const { return control_; }
  bool isLoaded() const { return !control_.isNull(); }
  QString loadError() const { return load_error_; }

  ControlState state() const;

  // Everything Setup takes, by name instead of by position.
  ControlResult setup(const StationSettings &settings);
  ControlResult connectToServer();
  ControlResult disconnectFromServer();
  ControlResult stopStream();
  // Starts a video and returns at once; videoFinished follows.
  ControlResult startVideo(const QString &path, const QString &title);
  // "hold" or "real-time".
  ControlResult setPacingMode(const QString &mode);
  QString pacingMode() const;
  // How far the stream is behind its schedule.
  int lateMs() const;
  // Video bytes the control has sent since it was made.
  qint64 bytesSent() const;

signals:
  void stateChanged(ControlState state);
  void videoFinished(bool sent, const QString &error);
  // The server has taken the first block of the video: it is on the air.
  void videoTaken();
  // One second of video left in interval_ms.
  void secondSent(int interval_ms);

private slots:
  void onStateChanged();
  void onVideoFinished(bool sent, const QString &error);
  void onVideoTaken();

private:
  void connectSignals();
  ControlResult invokeNoArguments(const char *member);
  ControlResult finishCall(const char *member, bool invoked) const;

  QPointer<QWidget> control_;
  bool owns_control_ = false;
  QString load_error_;
};
