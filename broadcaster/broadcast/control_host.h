#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

// Hosts the streaming control without knowing its class: finds the plugin by
// its programmatic name next to the executable, creates one instance and
// calls its members by name through the meta-object system. Every call
// reports the control's LastError, so an error the control raises becomes a
// message here instead of a crash.
class ControlHost {
public:
  static constexpr const char *kProgId = "PelloxProject.Pellox";

  // Looks in folder (the executable's folder when empty) for a library whose
  // plugin metadata carries prog_id, and creates an instance on parent.
  bool create(QWidget *parent, QString *error, const QString &prog_id = QString::fromLatin1(kProgId),
              const QString &folder = QString());

  QWidget *widget() const { return control_; }
  bool isLoaded() const { return !control_.isNull(); }

  // "0" to "4"; empty when no control is loaded.
  QString state() const;

  bool setup(const QString &address, int port, const QString &password, const QString &stream_name,
             const QString &genre, int yp, const QString &bitrate, const QString &url,
             const QString &irc, const QString &icq, const QString &aim, QString *error);
  bool connectToServer(QString *error);
  bool disconnectFromServer(QString *error);
  bool stopStream(QString *error);
  // sent_whole_file is the control's answer; the result says whether the call
  // itself went through without an error.
  bool streamVideo(const QString &path, const QString &title, bool *sent_whole_file, QString *error);

private:
  bool invokeNoArguments(const char *member, QString *error);
  bool finishCall(const char *member, bool invoked, QString *error) const;

  QPointer<QWidget> control_;
};
