#include "control_host.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonObject>
#include <QLibrary>
#include <QMetaMethod>
#include <QMetaObject>
#include <QPluginLoader>

namespace {

bool pluginCarriesProgId(const QJsonObject &metadata, const QString &prog_id) {
  if (metadata.value(QStringLiteral("IID")).toString() == prog_id) {
    return true;
  }
  return metadata.value(QStringLiteral("MetaData")).toObject().value(QStringLiteral("ProgId")).toString() ==
         prog_id;
}

} // namespace

bool ControlHost::create(QWidget *parent, QString *error, const QString &prog_id, const QString &folder) {
  const QDir dir(folder.isEmpty() ? QCoreApplication::applicationDirPath() : folder);
  const QStringList files = dir.entryList(QDir::Files, QDir::Name);
  for (const QString &file : files) {
    const QString path = dir.filePath(file);
    if (!QLibrary::isLibrary(path)) {
      continue;
    }
    QPluginLoader loader(path);
    if (!pluginCarriesProgId(loader.metaData(), prog_id)) {
      continue;
    }
    QObject *factory = loader.instance();
    if (factory == nullptr) {
      *error = QStringLiteral("The streaming control %1 could not be loaded: %2").arg(path, loader.errorString());
      return false;
    }
    QWidget *control = nullptr;
    const bool created = QMetaObject::invokeMethod(factory, "create", Qt::DirectConnection,
                                                   Q_RETURN_ARG(QWidget *, control), Q_ARG(QWidget *, parent));
    if (!created || control == nullptr) {
      *error = QStringLiteral("The streaming control %1 did not create an instance.").arg(path);
      return false;
    }
    control_ = control;
    return true;
  }
  *error = QStringLiteral("The streaming control \"%1\" was not found in %2.").arg(prog_id, dir.absolutePath());
  return false;
}

QString ControlHost::state() const {
  return control_ ? control_->property("State").toString() : QString();
}

bool ControlHost::finishCall(const char *member, bool invoked, QString *error) const {
  if (!invoked) {
    *error = QStringLiteral("The streaming control has no member %1.").arg(QString::fromLatin1(member));
    return false;
  }
  const QString last_error = control_->property("LastError").toString();
  if (!last_error.isEmpty()) {
    *error = last_error;
    return false;
  }
  return true;
}

bool ControlHost::invokeNoArguments(const char *member, QString *error) {
  if (!control_) {
    *error = QStringLiteral("The streaming control is not loaded.");
    return false;
  }
  const bool invoked = QMetaObject::invokeMethod(control_, member, Qt::DirectConnection);
  return finishCall(member, invoked, error);
}

bool ControlHost::setup(const QString &address, int port, const QString &password, const QString &stream_name,
                        const QString &genre, int yp, const QString &bitrate, const QString &url,
                        const QString &irc, const QString &icq, const QString &aim, QString *error) {
  if (!control_) {
    *error = QStringLiteral("The streaming control is not loaded.");
    return false;
  }
  // Eleven arguments are more than invokeMethod takes, so call by index.
  const QMetaObject *meta = control_->metaObject();
  const int index = meta->indexOfMethod(QMetaObject::normalizedSignature(
      "Setup(QString,int,QString,QString,QString,int,QString,QString,QString,QString,QString)"));
  if (index < 0) {
    return finishCall("Setup", false, error);
  }
  QString address_arg = address, password_arg = password, name_arg = stream_name, genre_arg = genre,
          bitrate_arg = bitrate, url_arg = url, irc_arg = irc, icq_arg = icq, aim_arg = aim;
  int port_arg = port;
  int yp_arg = yp;
  void *arguments[] = {nullptr,   &address_arg, &port_arg,    &password_arg, &name_arg, &genre_arg,
                       &yp_arg,   &bitrate_arg, &url_arg,     &irc_arg,      &icq_arg,  &aim_arg};
  QMetaObject::metacall(control_, QMetaObject::InvokeMetaMethod, index, arguments);
  return finishCall("Setup", true, error);
}

bool ControlHost::connectToServer(QString *error) { return invokeNoArguments("Connect", error); }

bool ControlHost::disconnectFromServer(QString *error) { return invokeNoArguments("Disconnect", error); }

bool ControlHost::stopStream(QString *error) { return invokeNoArguments("StopStream", error); }

bool ControlHost::streamVideo(const QString &path, const QString &title, bool *sent_whole_file, QString *error) {
  *sent_whole_file = false;
  if (!control_) {
    *error = QStringLiteral("The streaming control is not loaded.");
    return false;
  }
  bool result = false;
  const bool invoked = QMetaObject::invokeMethod(control_, "StreamVideo", Qt::DirectConnection,
                                                 Q_RETURN_ARG(bool, result), Q_ARG(QString, path),
                                                 Q_ARG(QString, title));
  if (!control_) {
    *error = QStringLiteral("The streaming control was closed while it was sending.");
    return false;
  }
  *sent_whole_file = result;
  return finishCall("StreamVideo", invoked, error);
}
