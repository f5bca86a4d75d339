#pragma once

#include <station_settings.h>

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
// an error the control raises becomes a result here instead of a crash.
class ControlHost {
public:
  static constexpr const char *kProgId = "PelloxProject.Pellox";

  ControlHost() = default;
  ~ControlHost();
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
  // sent_whole_file is the control's answer; the result says whether the
  // call itself went through without an error.
  ControlResult streamVideo(const QString &path, const QString &title, bool *sent_whole_file);

private:
  ControlResult invokeNoArguments(const char *member);
  ControlResult finishCall(const char *member, bool invoked) const;

  QPointer<QWidget> control_;
  bool owns_control_ = false;
  QString load_error_;
};
