// Fuzzes the session loader. A document that loads must load again from
// what a save writes, with the same entries, keys, folders, settings and
// statistics, and be written the same; an import into it must load too.

#include "broadcaster/session/library.h"
#include "broadcaster/session/session_document.h"

#include <cstdio>
#include <cstdlib>

using session::LoadOutcome;
using session::SessionDocument;

namespace {

void require(bool holds, const char *what, const QString &detail = QString()) {
  if (!holds) {
    std::fprintf(stderr, "round trip broken: %s\n%s\n", what, qPrintable(detail));
    std::abort();
  }
}

bool sameContents(const SessionDocument &a, const SessionDocument &b) {
  const QVector<session::VideoEntry> left = a.entries();
  const QVector<session::VideoEntry> right = b.entries();
  if (left.size() != right.size()) {
    return false;
  }
  for (int index = 0; index < left.size(); ++index) {
    const session::VideoEntry &x = left[index];
    const session::VideoEntry &y = right[index];
    if (x.key != y.key || x.path != y.path || x.title != y.title || x.playcount != y.playcount ||
        x.parent != y.parent) {
      return false;
    }
  }
  for (const char *name : session::kSettingNames) {
    const QString setting = QLatin1String(name);
    if (a.hasSetting(setting) != b.hasSetting(setting) || a.setting(setting) != b.setting(setting)) {
      return false;
    }
  }
  return a.folderNames() == b.folderNames() && a.statisticsText(QString()) == b.statisticsText(QString());
}

LoadOutcome reload(SessionDocument &document, const QByteArray &bytes) {
  return document.loadBytes(bytes, QStringLiteral("saved.xml"));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
  const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
  SessionDocument first;
  const LoadOutcome outcome = first.loadBytes(bytes, QStringLiteral("fuzz.xml"));
  if (outcome.kind != LoadOutcome::Kind::Loaded) {
    require(first.isEmpty(), "a refused document is not left empty");
    require(!outcome.message.isEmpty(), "a refusal has no message");
    return 0;
  }
  const QByteArray saved = first.serialize();
  SessionDocument second;
  const LoadOutcome again = reload(second, saved);
  require(again.kind == LoadOutcome::Kind::Loaded, "the saved document does not load", again.message);
  require(again.left_out_entries == outcome.left_out_entries, "left-out entries differ");
  require(sameContents(first, second), "entries, folders or settings differ");
  require(second.serialize() == saved, "the second save differs from the first");

  // An import takes a new key that the next load accepts.
  session::Library library(first);
  library.reload();
  if (library.firstFolder().isEmpty()) {
    library.addFolder(QStringLiteral("Videos"));
  }
  const QString key =
      session::entryKeyFromNodeKey(library.addVideo(library.firstFolder(), QStringLiteral("/v/new.nsv"), QStringLiteral("new")));
  SessionDocument third;
  const LoadOutcome imported = reload(third, first.serialize());
  require(imported.kind == LoadOutcome::Kind::Loaded, "the document does not load after an import",
          key + QStringLiteral("\n") + imported.message);
  require(third.hasEntry(key), "the imported entry is not found by its key", key);
  return 0;
}
