#include "broadcaster/import/output_folders.h"

#include "broadcaster/base/preferences.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QVector>

#include <algorithm>

namespace {

// Choices of sessions not used for a while make room for newer ones.
constexpr int kSessionsRemembered = 50;

struct Choice {
  QString session_path;
  QString folder;
};

QString sessionKey(const QString &session_path) { return QFileInfo(session_path).absoluteFilePath(); }

QString sameFolder(const QString &folder) { return QDir::cleanPath(QDir(folder).absolutePath()); }

// Most recent first.
QVector<Choice> readChoices(QSettings &settings) {
  QVector<Choice> choices;
  const int count = settings.beginReadArray(QLatin1String(preference::kConvertOutputFolders));
  for (int index = 0; index < count; ++index) {
    settings.setArrayIndex(index);
    choices.append(
        {settings.value(QStringLiteral("session")).toString(), settings.value(QStringLiteral("folder")).toString()});
  }
  settings.endArray();
  return choices;
}

} // namespace

QString defaultOutputFolder(const QString &session_path) {
  return QFileInfo(session_path).absoluteDir().filePath(QLatin1String(preference::kConvertOutputFolderDefaultName));
}

QString outputFolderFor(const QString &session_path) {
  QSettings settings;
  for (const Choice &choice : readChoices(settings)) {
    if (choice.session_path == sessionKey(session_path) && !choice.folder.isEmpty()) {
      return choice.folder;
    }
  }
  return defaultOutputFolder(session_path);
}

void rememberOutputFolder(const QString &session_path, const QString &folder) {
  QSettings settings;
  QVector<Choice> choices = readChoices(settings);
  const QString key = sessionKey(session_path);
  choices.erase(std::remove_if(choices.begin(), choices.end(),
                               [&key](const Choice &choice) { return choice.session_path == key; }),
                choices.end());
  if (sameFolder(folder) != sameFolder(defaultOutputFolder(session_path))) {
    choices.prepend({key, folder});
  }
  choices.resize(std::min<qsizetype>(choices.size(), kSessionsRemembered));
  settings.remove(QLatin1String(preference::kConvertOutputFolders));
  settings.beginWriteArray(QLatin1String(preference::kConvertOutputFolders), static_cast<int>(choices.size()));
  for (int index = 0; index < choices.size(); ++index) {
    settings.setArrayIndex(index);
    settings.setValue(QStringLiteral("session"), choices[index].session_path);
    settings.setValue(QStringLiteral("folder"), choices[index].folder);
  }
  settings.endArray();
}
