#include "broadcaster/broadcast/control_host.h"

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

ControlResult notLoaded() {
  return {ControlResult::Code::NotLoaded, QStringLiteral("The streaming control is not loaded.")};
}

} // namespace

ControlHost::~ControlHost() {
  if (owns_control_ && control_) {
    delete control_.data();
  }
}

bool ControlHost::create(QWidget *parent, const QString &prog_id, const QString &folder) {
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
      load_error_ = QStringLiteral("The streaming control %1 could not be loaded: %2").arg(path, loader.errorString());
      return false;
    }
    QWidget *control = nullptr;
    const bool created = QMetaObject::invokeMethod(factory, "create", Qt::DirectConnection,
                                                   Q_RETURN_ARG(QWidget *, control), Q_ARG(QWidget *, parent));
    if (!created || control == nullptr) {
      load_error_ = QStringLiteral("The streaming control %1 did not create an instance.").arg(path);
      return false;
    }
    control->hide();
    control_ = control;
    connectSignals();
    owns_control_ = parent == nullptr;
    load_error_.clear();
    return true;
  }
  load_error_ = QStringLiteral("The streaming control \"%1\" was not found in %2.").arg(prog_id, dir.absolutePath());
  return false;
}

ControlState ControlHost::state() const {
  if (!control_) {
    return ControlState::NotLoaded;
  }
  bool is_number = false;
  const int code = control_->property("State").toString().toInt(&is_number);
  if (!is_number || code < 0 || code > static_cast<int>(ControlState::SocketError)) {
    return ControlState::NotLoggedIn;
  }
  return static_cast<ControlState>(code);
}

ControlResult ControlHost::finishCall(const char *member, bool invoked) const {
  if (!invoked) {
    return {ControlResult::Code::NoSuchMember,
            QStringLiteral("The streaming control has no member %1.").arg(QString::fromLatin1(member))};
  }
  const QString last_error = control_->property("LastError").toString();
  if (!last_error.isEmpty()) {
    return {ControlResult::Code::ControlError, last_error};
  }
  return {};
}

ControlResult ControlHost::invokeNoArguments(const char *member) {
  if (!control_) {
    return notLoaded();
  }
  const bool invoked = QMetaObject::invokeMethod(control_, member, Qt::DirectConnection);
  return finishCall(member, invoked);
}

ControlResult ControlHost::setup(const StationSettings &settings) {
  if (!control_) {
    return notLoaded();
  }
  // Eleven arguments are more than invokeMethod takes, so call by index.
  const QMetaObject *meta = control_->metaObject();
  const int index = meta->indexOfMethod(QMetaObject::normalizedSignature(
      "Setup(QString,int,QString,QString,QString,int,QString,QString,QString,QString,QString)"));
  if (index < 0) {
    return finishCall("Setup", false);
  }
  StationSettings copy = settings;
  void *arguments[] = {nullptr,          &copy.address, &copy.port, &copy.password, &copy.stream_name,
                       &copy.genre,      &copy.is_public, &copy.bitrate, &copy.url, &copy.irc,
                       &copy.icq,        &copy.aim};
  QMetaObject::metacall(control_, QMetaObject::InvokeMetaMethod, index, arguments);
  return finishCall("Setup", true);
}

ControlResult ControlHost::connectToServer() { return invokeNoArguments("Connect"); }

ControlResult ControlHost::disconnectFromServer() { return invokeNoArguments("Disconnect"); }

ControlResult ControlHost::stopStream() { return invokeNoArguments("StopStream"); }

void ControlHost::connectSignals() {
  // By signature: a control without these signals still streams through the
  // calls above, and the connections simply do not exist.
  connect(control_, SIGNAL(StateChanged(QString)), this, SLOT(onStateChanged()));
  connect(control_, SIGNAL(VideoFinished(bool,QString)), this, SLOT(onVideoFinished(bool,QString)));
  connect(control_, SIGNAL(VideoTaken()), this, SLOT(onVideoTaken()));
  connect(control_, SIGNAL(SecondSent(int)), this, SIGNAL(secondSent(int)));
}

void ControlHost::onStateChanged() { emit stateChanged(state()); }

void ControlHost::onVideoFinished(bool sent, const QString &error) { emit videoFinished(sent, error); }

void ControlHost::onVideoTaken() { emit videoTaken(); }

ControlResult ControlHost::startVideo(const QString &path, const QString &title) {
  if (!control_) {
    return notLoaded();
  }
  bool started = false;
  const bool invoked = QMetaObject::invokeMethod(control_, "StartVideo", Qt::DirectConnection,
                                                Q_RETURN_ARG(bool, started), Q_ARG(QString, path), Q_ARG(QString, title));
  const ControlResult result = finishCall("StartVideo", invoked);
  if (result.ok() && !started) {
    return {ControlResult::Code::ControlError, QStringLiteral("The streaming control did not start %1.").arg(path)};
  }
  return result;
}

ControlResult ControlHost::setPacingMode(const QString &mode) {
  if (!control_) {
    return notLoaded();
  }
  const bool set = control_->setProperty("PacingMode", mode);
  return finishCall("PacingMode", set);
}

QString ControlHost::pacingMode() const { return control_ ? control_->property("PacingMode").toString() : QString(); }

int ControlHost::lateMs() const { return control_ ? control_->property("LateMs").toInt() : 0; }

qint64 ControlHost::bytesSent() const { return control_ ? control_->property("BytesSent").toLongLong() : 0; }
